// The pad category browser: the master pane of a split screen; remembers the opened
// subcategory and marks its row while its grouping is shown.
#pragma once

#include "content/dataSubCat.h"
#include "gallery/UIDBViewController.h"

#include <optional>

class UIDBViewController_iPad : public UIDBViewController {
public:
    // Remembers row 0 of section 0 of the source from the start.
    static std::shared_ptr<UIDBViewController_iPad> initWithSource(const std::shared_ptr<DataSource>& source,
                                                                     const GalleryContext& context);
    explicit UIDBViewController_iPad(GalleryContext context) : UIDBViewController(std::move(context)) {}

    const std::shared_ptr<dataSubCat>& curSubCat() const { return curSubCat_; }
    void setCurSubCat(std::shared_ptr<dataSubCat> subCat) { curSubCat_ = std::move(subCat); }
    std::shared_ptr<TableViewDelegate> lastSelectedInDelegate() const { return lastSelectedInDelegate_.lock(); }
    void setLastSelectedInDelegate(const std::shared_ptr<TableViewDelegate>& delegate) { lastSelectedInDelegate_ = delegate; }
    const std::optional<NSIndexPath>& curSelectedIndexPath() const { return curSelectedIndexPath_; }
    void setCurSelectedIndexPath(std::optional<NSIndexPath> indexPath) { curSelectedIndexPath_ = indexPath; }

    void viewDidLoad() override;
    // The search button ("lupa") after the right bar button already there.
    void setupNavigationBar();
    // Presents the picture search over the browser's source; its cancel button dismisses it.
    void searchClick();
    void viewWillAppear(bool animated) override;
    void viewWillTransitionToSize(CGSize size,
                                  const std::shared_ptr<UIViewControllerTransitionCoordinator>& coordinator) override;

    void storeSelectedItem(const NSIndexPath& indexPath, const std::shared_ptr<dataSubCat>& subCat);
    void removeSelection();
    NSIndexPath selectedRowIndexPath() override;
    void scrollToSelected(bool animated);

    // Remembers the row and puts the subcategory's thumbnail screen into the detail pane
    // (filtering allowed in the first grouping only).
    void itemSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) override;
    // Forgets the opened subcategory (no row is marked) and puts the favourites screen into the
    // detail pane.
    void showFavorites() override;
    // The controller, in a new navigation controller, becomes the split screen's second pane.
    void presentDetailsController(const std::shared_ptr<UIViewController>& controller);
    // The same record object as the remembered one (identity, not contents).
    bool isSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) override;
    // Presents the controller modally, animated.
    void preesentSubController(const std::shared_ptr<UIViewController>& controller);

private:
    std::shared_ptr<dataSubCat> curSubCat_;
    std::weak_ptr<TableViewDelegate> lastSelectedInDelegate_;
    std::optional<NSIndexPath> curSelectedIndexPath_;
};
