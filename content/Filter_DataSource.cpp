// The pictures of one subcategory whose value in a chosen column is among selected values.
#include "content/Filter_DataSource.h"

#include <algorithm>

std::shared_ptr<Filter_DataSource> Filter_DataSource::initWithDataSource(std::shared_ptr<DataSource> source,
                                                                         std::shared_ptr<dataSubCat> subCat,
                                                                         const std::string& field,
                                                                         std::vector<std::string> selectedItems) {
    std::shared_ptr<Filter_DataSource> filter(
        new Filter_DataSource(std::move(source), std::move(subCat), field, std::move(selectedItems)));
    filter->observeDataUpdates();
    filter->list();
    return filter;
}

void Filter_DataSource::dataUpdated() {
    OSTREL_CHECK_SEQUENCE(sequence_);
    filteredList_.reset();
}

ContentRowList Filter_DataSource::filter() {
    ContentRows rows;
    const auto all = wrapped_ ? wrapped_->list(subCat_) : nullptr;
    if (all) {
        for (const auto& row : *all) {
            // A NULL column arrives as "" and so matches only a selected empty string.
            const std::string value = row.get(field_).stringValue();
            if (std::find(selectedItems_.begin(), selectedItems_.end(), value) != selectedItems_.end()) rows.push_back(row);
        }
    }
    return std::make_shared<const ContentRows>(std::move(rows));
}

ContentRowList Filter_DataSource::list(const std::shared_ptr<dataSubCat>&) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!filteredList_) filteredList_ = filter();
    return filteredList_;
}
