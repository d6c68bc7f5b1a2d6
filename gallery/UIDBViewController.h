// The category browser: the subcategories of the images database in one of the configured
// groupings, switched by a segmented control in the toolbar; one table delegate per grouping,
// made on first use and kept.
#pragma once

#include "content/DataSource.h"
#include "content/dataSubCat.h"
#include "config/OEImageCategory.h"
#include "gallery/GalleryContext.h"
#include "gallery/TableViewDelegate.h"
#include "gallery/TableViewDelegateProtocol.h"
#include "platform/ui/UIViewController.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class UIBarButtonItem;
class UIInfoView;
class UISegmentedControl;
class UITableView;

class UIDBViewController : public UIViewController, public TableViewDelegateProtocol {
public:
    // The groupings and the background come from the context's configuration.
    explicit UIDBViewController(GalleryContext context);

    const GalleryContext& galleryContext() const { return context_; }
    const std::shared_ptr<UITableView>& tableView() const { return tableView_; }
    const std::shared_ptr<DataSource>& source() const { return source_; }
    const std::shared_ptr<TableViewDelegate>& currentTableViewDelegate() const { return currentTableViewDelegate_; }
    void setCurrentTableViewDelegate(std::shared_ptr<TableViewDelegate> delegate) {
        currentTableViewDelegate_ = std::move(delegate);
    }
    std::int64_t mode() const { return mode_; }
    void setMode(std::int64_t mode) { mode_ = mode; }
    const std::map<std::string, std::shared_ptr<TableViewDelegate>>& tableDelegates() const { return tableDelegates_; }
    const std::vector<std::shared_ptr<OEImageCategory>>& categories() const { return categories_; }
    void setCategories(std::vector<std::shared_ptr<OEImageCategory>> categories) { categories_ = std::move(categories); }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    // The title, the favourites button on the right and the back button.
    void setupNavBar();
    void setupToolbar();
    void setupTableView();
    void showFirstCategory();

    // The segmented control's action.
    void segmentChanged(const std::shared_ptr<NSObject>& sender);
    void modeChangedTo(std::int64_t mode);
    // A grouping's own source over the grouping table, wrapped in its delegate and kept.
    void regroupForCategory(const std::string& identifier);
    void updateDelegateWithSource(const std::shared_ptr<DataSource>& source, const std::string& key);
    // The information layout for "author", the picture layout (149 points high on a pad) for
    // every other grouping; owned by this screen.
    std::shared_ptr<TableViewDelegate> tableDelegateForGroup(const std::string& identifier,
                                                             const std::shared_ptr<DataSource>& source);
    // Drives the table with the delegate and scrolls the selected row to the middle (never
    // the last row of its section).
    void applyTableViewDelegate(const std::shared_ptr<TableViewDelegate>& delegate);
    virtual NSIndexPath selectedRowIndexPath();
    // The information screen of the subcategory at the row: its localised name as the title,
    // its localised description as the text.
    std::shared_ptr<UIInfoView> infoViewForIndexPath(const NSIndexPath& indexPath,
                                                     const std::shared_ptr<DataSource>& source) const;
    // The row's information screen in a new navigation controller, presented, animated.
    void showInfoForCell(const std::shared_ptr<UITableViewCell>& cell, const std::shared_ptr<DataSource>& dataSource) override;

    // The record at `row` of the subcategories of category `section`; empty outside the lists.
    static std::shared_ptr<dataSubCat> subcatInSource(const std::shared_ptr<DataSource>& source,
                                                      const NSIndexPath& indexPath);
    // The thumbnail screen of a subcategory of the source (filtering allowed in the first
    // grouping only).
    std::shared_ptr<UIViewController> thumbnailsViewController(const std::shared_ptr<dataSubCat>& subCat,
                                                               const std::shared_ptr<DataSource>& dataSource);

    // A new favourites and most liked pictures screen.
    std::shared_ptr<UIViewController> favoritesViewController();
    // The favourites button's action; each variant shows the screen its own way.
    virtual void showFavorites() = 0;

    // The segmented control in the toolbar (empty before the view loads).
    std::shared_ptr<UISegmentedControl> segmentedControl() const;
    // The configuration's background colour (the platform's grouped background without one).
    OEColorConfig::Color backgroundColor() const;

    static constexpr std::uint64_t kPadCellHeight = 149;

protected:
    // The steps of initWithSource the variants share.
    void setupWithSource(const std::shared_ptr<DataSource>& source);

private:
    GalleryContext context_;
    std::shared_ptr<UITableView> tableView_;
    std::shared_ptr<DataSource> source_;
    std::shared_ptr<TableViewDelegate> currentTableViewDelegate_;
    std::int64_t mode_ = 0;
    std::map<std::string, std::shared_ptr<TableViewDelegate>> tableDelegates_;
    std::vector<std::shared_ptr<OEImageCategory>> categories_;
    std::shared_ptr<UIBarButtonItem> segmentItem_;
};
