// The search-results layout: one row per match of the source's last search, with the match's
// thumbnail, author and name.
#pragma once

#include "gallery/ImageCell_TableViewDelegate.h"

class ImageCellSearch_TableViewDelegate : public ImageCell_TableViewDelegate {
public:
    static std::shared_ptr<ImageCellSearch_TableViewDelegate> initWithDataSource(const std::shared_ptr<DataSource>& dataSource,
                                                                                 const GalleryContext& context);
    using ImageCell_TableViewDelegate::ImageCell_TableViewDelegate;

    long numberOfSectionsInTableView(const std::shared_ptr<UITableView>& tableView) override;
    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return 120; }
    // Reported to the owner, then deselected with animation.
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

    // "Data/<path>" with ".jpg" made "_thumb.jpg", else with ".png" made "_thumb.png".
    std::shared_ptr<UIImage> thumbnailForImagePath(const std::string& imagePath) const;

protected:
    std::size_t sheetIndex() const override;
};
