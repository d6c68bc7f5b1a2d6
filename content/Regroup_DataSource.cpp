// The wrapped source's subcategories regrouped by a column of their rows: one category per
// distinct value, in the order the values first appear.
#include "content/Regroup_DataSource.h"

std::shared_ptr<Regroup_DataSource> Regroup_DataSource::initWithDataSource(std::shared_ptr<DataSource> source,
                                                                           const std::string& field) {
    std::shared_ptr<Regroup_DataSource> regroup(new Regroup_DataSource(std::move(source), field));
    regroup->observeDataUpdates();
    regroup->rebuildGroups();
    return regroup;
}

void Regroup_DataSource::dataUpdated() {
    OSTREL_CHECK_SEQUENCE(sequence_);
    cats_.reset();
    data_.clear();
}

void Regroup_DataSource::rebuildGroups() {
    OSTREL_CHECK_SEQUENCE(sequence_);
    std::vector<std::string> order;
    std::map<std::string, std::vector<std::shared_ptr<dataSubCat>>> groups;
    if (const auto cats = wrapped_ ? wrapped_->catList() : nullptr) {
        for (const auto& cat : *cats) {
            const auto subCats = wrapped_->subCatList(cat);
            if (!subCats) continue;
            for (const auto& subCat : *subCats) {
                const std::string value = subCat->data().get(field_).stringValue();
                auto [it, inserted] = groups.try_emplace(value);
                if (inserted) order.push_back(value);
                it->second.push_back(subCat);
            }
        }
    }
    auto cats = std::make_shared<std::vector<std::shared_ptr<dataCat>>>();
    data_.clear();
    for (const auto& value : order) {
        cats->push_back(dataCat::dataCatWithName(value));
        data_[value] = std::make_shared<const std::vector<std::shared_ptr<dataSubCat>>>(std::move(groups[value]));
    }
    cats_ = cats;
}

CatList Regroup_DataSource::catList() {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!cats_) rebuildGroups();
    return cats_;
}

SubCatList Regroup_DataSource::subCatList(const std::shared_ptr<dataCat>& cat) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!cats_) rebuildGroups();
    if (!cat) return nullptr;
    const auto it = data_.find(cat->name());
    return it == data_.end() ? nullptr : it->second;
}

ContentRowList Regroup_DataSource::list(const std::shared_ptr<dataSubCat>& subCat) {
    return wrapped_ ? wrapped_->list(subCat) : nullptr;
}
