// One grouping the category browser offers: the column or table that groups pictures
// ("subCat", "subCat2", "author") and its localised title.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>
#include <string>

class OEImageCategory : public NSObject {
public:
    static std::shared_ptr<OEImageCategory> gategoryWithIdentifer(const std::string& identifer, const std::string& title);
    static std::shared_ptr<OEImageCategory> initWithIdentifer(const std::string& identifer, const std::string& title);

    const std::string& identifer() const { return identifer_; }
    const std::string& title() const { return title_; }

    std::string description() const override;

private:
    std::string identifer_;
    std::string title_;
};
