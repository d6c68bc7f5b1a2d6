// The phone category browser: lives in a navigation stack; never marks a row.
#pragma once

#include "gallery/UIDBViewController.h"

class UIDBViewController_iPhone : public UIDBViewController {
public:
    static std::shared_ptr<UIDBViewController_iPhone> initWithSource(const std::shared_ptr<DataSource>& source,
                                                                     const GalleryContext& context);
    explicit UIDBViewController_iPhone(GalleryContext context) : UIDBViewController(std::move(context)) {}

    // Pushes the thumbnail screen of the tapped subcategory (filtering allowed in the first
    // grouping only), then deselects the row, animated.
    void itemSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) override;
    bool isSelected(const NSIndexPath&, const std::shared_ptr<DataSource>&) override { return false; }
    // The row's information screen in a new navigation controller, presented.
    void showInfoForCell(const std::shared_ptr<UITableViewCell>& cell, const std::shared_ptr<DataSource>& dataSource) override;
    // Pushes the favourites screen, animated.
    void showFavorites() override;
};
