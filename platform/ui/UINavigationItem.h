// What a screen shows in the navigation bar while it is on top: title or title view, left
// and right items, the back item offered to screens pushed above it, the search controller.
#pragma once

#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class UIBarButtonItem;
class UISearchController;
class UIView;

class UINavigationItem : public NSObject {
public:
    static std::shared_ptr<UINavigationItem> initWithTitle(const std::string& title);

    const std::string& title() const { return title_; }
    void setTitle(const std::string& title);
    const std::string& prompt() const { return prompt_; }
    void setPrompt(const std::string& prompt) { prompt_ = prompt; changed(); }
    std::shared_ptr<UIView> titleView() const { return titleView_; }
    void setTitleView(std::shared_ptr<UIView> view);

    // The first of the left (right) items; setting it replaces them all.
    std::shared_ptr<UIBarButtonItem> leftBarButtonItem() const;
    void setLeftBarButtonItem(std::shared_ptr<UIBarButtonItem> item, bool animated = false);
    const std::vector<std::shared_ptr<UIBarButtonItem>>& leftBarButtonItems() const { return left_; }
    void setLeftBarButtonItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool animated = false);
    std::shared_ptr<UIBarButtonItem> rightBarButtonItem() const;
    void setRightBarButtonItem(std::shared_ptr<UIBarButtonItem> item, bool animated = false);
    // Right to left, as the platform lays them out: the first is the outermost.
    const std::vector<std::shared_ptr<UIBarButtonItem>>& rightBarButtonItems() const { return right_; }
    void setRightBarButtonItems(std::vector<std::shared_ptr<UIBarButtonItem>> items, bool animated = false);
    std::shared_ptr<UIBarButtonItem> backBarButtonItem() const { return back_; }
    void setBackBarButtonItem(std::shared_ptr<UIBarButtonItem> item) { back_ = std::move(item); changed(); }
    bool hidesBackButton() const { return hidesBackButton_; }
    void setHidesBackButton(bool hides, bool animated = false);
    bool leftItemsSupplementBackButton() const { return leftItemsSupplementBackButton_; }
    void setLeftItemsSupplementBackButton(bool supplement) { leftItemsSupplementBackButton_ = supplement; changed(); }

    std::shared_ptr<UISearchController> searchController() const { return searchController_; }
    void setSearchController(std::shared_ptr<UISearchController> controller) {
        searchController_ = std::move(controller);
        changed();
    }
    bool hidesSearchBarWhenScrolling() const { return hidesSearchBarWhenScrolling_; }
    void setHidesSearchBarWhenScrolling(bool hides) { hidesSearchBarWhenScrolling_ = hides; }

    // Told after every change (the navigation controller redraws its bar).
    void setChangeHandler(std::function<void()> handler) { onChange_ = std::move(handler); }

private:
    void changed() {
        if (onChange_) onChange_();
    }

    std::string title_;
    std::string prompt_;
    std::shared_ptr<UIView> titleView_;
    std::vector<std::shared_ptr<UIBarButtonItem>> left_;
    std::vector<std::shared_ptr<UIBarButtonItem>> right_;
    std::shared_ptr<UIBarButtonItem> back_;
    bool hidesBackButton_ = false;
    bool leftItemsSupplementBackButton_ = false;
    std::shared_ptr<UISearchController> searchController_;
    bool hidesSearchBarWhenScrolling_ = true;
    std::function<void()> onChange_;
};
