// A titled group of main-menu rows.
#pragma once

#include "engine/OEMenuSectionItem.h"

#include <memory>
#include <string>
#include <vector>

class OEMenuSection : public NSObject {
public:
    static std::shared_ptr<OEMenuSection> initWithTitle(const std::string& title,
                                                        std::vector<std::shared_ptr<OEMenuSectionItem>> items) {
        auto section = std::make_shared<OEMenuSection>();
        section->title_ = title;
        section->items_ = std::move(items);
        return section;
    }

    // Already localised.
    const std::string& title() const { return title_; }
    // In display order.
    const std::vector<std::shared_ptr<OEMenuSectionItem>>& items() const { return items_; }

private:
    std::string title_;
    std::vector<std::shared_ptr<OEMenuSectionItem>> items_;
};
