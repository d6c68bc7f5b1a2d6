// An alphabetical index over the wrapped source's pictures: categories are first letters of a
// column's values, subcategories the distinct values, and their lists the rows holding them.
#include "content/RegroupByData_DataSource.h"

#include "platform/foundation/NSString.h"

#include <algorithm>

std::shared_ptr<RegroupByData_DataSource> RegroupByData_DataSource::initWithDataSource(
    std::shared_ptr<DataSource> source, const std::string& field, const std::string& descriptionField,
    std::shared_ptr<OELocalizations> locale) {
    std::shared_ptr<RegroupByData_DataSource> regroup(
        new RegroupByData_DataSource(std::move(source), field, descriptionField, std::move(locale)));
    regroup->observeDataUpdates();
    regroup->rebuildGroups();
    return regroup;
}

void RegroupByData_DataSource::dataUpdated() {
    OSTREL_CHECK_SEQUENCE(sequence_);
    cats_.reset();
    data_.clear();
    items_.clear();
}

void RegroupByData_DataSource::rebuildGroups() {
    OSTREL_CHECK_SEQUENCE(sequence_);
    std::vector<std::shared_ptr<dataCat>> cats;
    std::map<std::string, std::vector<std::shared_ptr<dataSubCat>>> letters;
    std::map<std::string, ContentRows> items;
    if (const auto wrappedCats = wrapped_ ? wrapped_->catList() : nullptr) {
        for (const auto& cat : *wrappedCats) {
            const auto subCats = wrapped_->subCatList(cat);
            if (!subCats) continue;
            for (const auto& subCat : *subCats) {
                const auto rows = wrapped_->list(subCat);
                if (!rows) continue;
                for (const auto& row : *rows) {
                    const std::string value = row.get(field_).stringValue();
                    // The first whole character, so a letter outside ASCII is not cut in half.
                    const std::string letter =
                        value.empty() ? std::string(" ")
                                      : NSString::substringWithRange(value, NSString::rangeOfComposedCharacterSequenceAtIndex(value, 0));
                    auto [letterIt, newLetter] = letters.try_emplace(letter);
                    if (newLetter) cats.push_back(dataCat::dataCatWithName(letter));
                    // A value always stands under the same letter, so a value seen before has its record.
                    auto [itemIt, newValue] = items.try_emplace(value);
                    if (newValue) {
                        auto record = dataSubCat::dataSubCatWithName(value, *locale_);
                        record->setSubCatDescription(row.get(descr_).stringValue());
                        letterIt->second.push_back(record);
                    }
                    itemIt->second.push_back(row);
                }
            }
        }
    }
    auto byName = [](const auto& a, const auto& b) {
        return NSString::caseInsensitiveCompare(a->name(), b->name()) == NSOrderedAscending;
    };
    std::stable_sort(cats.begin(), cats.end(), byName);
    data_.clear();
    for (auto& [letter, values] : letters) {
        std::stable_sort(values.begin(), values.end(), byName);
        data_[letter] = std::make_shared<const std::vector<std::shared_ptr<dataSubCat>>>(std::move(values));
    }
    items_.clear();
    for (auto& [value, rows] : items) items_[value] = std::make_shared<const ContentRows>(std::move(rows));
    cats_ = std::make_shared<const std::vector<std::shared_ptr<dataCat>>>(std::move(cats));
}

CatList RegroupByData_DataSource::catList() {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!cats_) rebuildGroups();
    return cats_;
}

SubCatList RegroupByData_DataSource::subCatList(const std::shared_ptr<dataCat>& cat) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!cats_) rebuildGroups();
    if (!cat) return nullptr;
    const auto it = data_.find(cat->name());
    return it == data_.end() ? nullptr : it->second;
}

ContentRowList RegroupByData_DataSource::list(const std::shared_ptr<dataSubCat>& subCat) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!cats_) rebuildGroups();
    if (!subCat) return nullptr;
    const auto it = items_.find(subCat->name());
    return it == items_.end() ? nullptr : it->second;
}

bool RegroupByData_DataSource::catExists(const std::string& name) {
    const auto cats = catList();
    return std::any_of(cats->begin(), cats->end(), [&](const auto& c) { return c->name() == name; });
}

bool RegroupByData_DataSource::subCatExists(const std::string& value, const std::string& letter) {
    const auto subCats = subCatList(dataCat::dataCatWithName(letter));
    return subCats && std::any_of(subCats->begin(), subCats->end(), [&](const auto& s) { return s->name() == value; });
}
