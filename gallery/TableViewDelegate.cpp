// The table delegates' common part: counts from the catalogue levels, taps to the owner.
#include "gallery/TableViewDelegate.h"

std::shared_ptr<TableViewDelegate> TableViewDelegate::initWithDataSource(const std::shared_ptr<DataSource>& dataSource,
                                                                         const GalleryContext& context) {
    return std::make_shared<TableViewDelegate>(dataSource, context);
}

CatList TableViewDelegate::categories() const { return dataSource_ ? dataSource_->catList() : nullptr; }

std::shared_ptr<dataSubCat> TableViewDelegate::subCatForIndexPath(const NSIndexPath& indexPath) const {
    const auto cats = categories();
    if (!cats || indexPath.section < 0 || indexPath.section >= static_cast<long>(cats->size())) return nullptr;
    const auto subCats = dataSource_->subCatList((*cats)[static_cast<std::size_t>(indexPath.section)]);
    if (!subCats || indexPath.row < 0 || indexPath.row >= static_cast<long>(subCats->size())) return nullptr;
    return (*subCats)[static_cast<std::size_t>(indexPath.row)];
}

long TableViewDelegate::numberOfSectionsInTableView(const std::shared_ptr<UITableView>&) {
    const auto cats = categories();
    return cats ? static_cast<long>(cats->size()) : 0;
}

long TableViewDelegate::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long section) {
    const auto cats = categories();
    if (!cats || section < 0 || section >= static_cast<long>(cats->size())) return 0;
    const auto subCats = dataSource_->subCatList((*cats)[static_cast<std::size_t>(section)]);
    return subCats ? static_cast<long>(subCats->size()) : 0;
}

std::shared_ptr<UITableViewCell> TableViewDelegate::cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                                          const NSIndexPath&) {
    return nullptr;
}

void TableViewDelegate::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath& indexPath) {
    if (auto owner = delegate()) owner->itemSelected(indexPath, dataSource_);
}

void TableViewDelegate::markSelection(const std::shared_ptr<UITableView>& tableView,
                                      const std::shared_ptr<UITableViewCell>& cell, const NSIndexPath& indexPath) {
    auto owner = delegate();
    if (owner && owner->isSelected(indexPath, dataSource_)) {
        if (tableView) tableView->selectRowAtIndexPath(indexPath, false, UITableViewScrollPositionNone);
    } else if (cell) {
        cell->setSelected(false, false);
    }
}
