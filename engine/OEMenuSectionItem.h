// One row of the main menu: its title, bundle image, optional badge text and the action run
// when the row is chosen (with the menu as argument).
#pragma once

#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <string>

class OEMainMenu;

class OEMenuSectionItem : public NSObject {
public:
    using Action = std::function<void(const std::shared_ptr<OEMainMenu>& menu)>;

    // An empty badge means none.
    static std::shared_ptr<OEMenuSectionItem> initWithTitle(const std::string& title, const std::string& imageName,
                                                            const std::string& badge, Action action);
    static std::shared_ptr<OEMenuSectionItem> initWithTitle(const std::string& title, const std::string& imageName,
                                                            Action action) {
        return initWithTitle(title, imageName, "", std::move(action));
    }

    // The cell's reuse identifier; no initialiser sets it, so rows are never reused.
    const std::string& identifer() const { return identifer_; }
    const std::string& title() const { return title_; }
    const std::string& imageName() const { return imageName_; }
    const std::string& badge() const { return badge_; }
    const Action& action() const { return action_; }

private:
    std::string identifer_;
    std::string title_;
    std::string imageName_;
    std::string badge_;
    Action action_;
};
