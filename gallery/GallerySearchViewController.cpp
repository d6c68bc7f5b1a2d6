// The pad's picture search screen.
#include "gallery/GallerySearchViewController.h"

#include "gallery/PhotoPageViewController.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UITableView.h"

std::shared_ptr<GallerySearchViewController> GallerySearchViewController::initWithSource(
    std::shared_ptr<DataSource> source, GalleryContext context) {
    return std::make_shared<GallerySearchViewController>(std::move(source), std::move(context));
}

void GallerySearchViewController::viewDidAppear(bool animated) {
    UISearchViewController::viewDidAppear(animated);
    if (auto controller = searchController()) (void)controller->searchBar()->becomeFirstResponder();
}

void GallerySearchViewController::viewDidLoad() {
    UISearchViewController::viewDidLoad();
    searchController()->setDimsBackgroundDuringPresentation(false);
    searchDelegate_ = ImageCellSearch_TableViewDelegate::initWithDataSource(source_, context_);
    searchDelegate_->setDelegate(self<GallerySearchViewController>());
    if (source_) source_->setLastSearch(source_->searchResult(""));
    tableView_ = UITableView::initWithFrame(view()->frame(), UITableViewStyleGrouped);
    tableView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    tableView_->setDataSource(searchDelegate_);
    tableView_->setDelegate(searchDelegate_);
    tableView_->setTableHeaderView(searchController()->searchBar());
    view()->addSubview(tableView_);
    const auto& config = context_.app.config;
    const auto color = config && config->color() ? config->color()->backgroundColor()
                                                 : OEColorConfig::Color::groupTableViewBackground();
    view()->setBackgroundColor(UIColor::colorWithRed(color.red, color.green, color.blue, color.alpha));
}

ContentRowList GallerySearchViewController::searchResultForString(const std::string& text) {
    const auto& source = searchDelegate_ ? searchDelegate_->dataSource() : nullptr;
    return source ? source->searchResult(text) : nullptr;
}

void GallerySearchViewController::searchResultRecived(const ContentRowList& result) {
    if (const auto& source = searchDelegate_->dataSource()) source->setLastSearch(result);
    tableView_->reloadData();
}

void GallerySearchViewController::searchStopped() {
    if (const auto& source = searchDelegate_ ? searchDelegate_->dataSource() : nullptr) {
        source->resetSearch();
        source->setLastSearch(source_->searchResult(""));
    }
    if (tableView_) tableView_->reloadData();
}

void GallerySearchViewController::itemSelected(const NSIndexPath& indexPath,
                                               const std::shared_ptr<DataSource>& dataSource) {
    const auto& source = searchDelegate_->dataSource();
    auto pager = PhotoPageViewController::initWithImagesData(source ? source->searchLast() : nullptr, nullptr,
                                                             indexPath.row, context_);
    if (!pager) return;
    pager->setDataSource(dataSource);
    auto navigation = UINavigationController::initWithRootViewController(pager);
    navigation->setModalTransitionStyle(UIModalTransitionStyle::CrossDissolve);
    navigation->setModalPresentationStyle(UIModalPresentationStyle::FullScreen);
    if (searchController()->isActive()) searchController()->presentViewController(navigation, true, nullptr);
    else presentViewController(navigation, true, nullptr);
}
