// The three-level picture catalogue model (categories, subcategories, picture rows) that every
// picture screen reads, with favourites, subcategory deletion and search hooks.
#include "content/DataSource.h"

#include "platform/foundation/NSNotificationCenter.h"

#include <cstdio>
#include <cstdlib>

std::shared_ptr<DataSource> DataSource::make() {
    std::shared_ptr<DataSource> source(new DataSource());
    source->observeDataUpdates();
    return source;
}

DataSource::~DataSource() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

void DataSource::observeDataUpdates() {
    NSNotificationCenter::defaultCenter()->addObserver(self<DataSource>(), &DataSource::dataUpdatedNotification,
                                                       kMessageDataUpdated);
}

void DataSource::refuse(const char* operation) const {
    std::fprintf(stderr, "-[%s %s]: unrecognized selector sent to instance %p\n", className().c_str(), operation,
                 static_cast<const void*>(this));
    std::abort();
}

CatList DataSource::catList() { refuse("catList"); }
SubCatList DataSource::subCatList(const std::shared_ptr<dataCat>&) { refuse("subCatList:"); }
ContentRowList DataSource::list(const std::shared_ptr<dataSubCat>&) { refuse("list:"); }
bool DataSource::addToFavorites(const Value::Dictionary&, NSErrorPtr*) { refuse("addToFavorites:"); }
bool DataSource::deleteFromFavorites(const Value::Dictionary&, NSErrorPtr*) { refuse("deleteFromFavorites:"); }
void DataSource::deleteSubCat(const std::shared_ptr<dataSubCat>&) { refuse("deleteSubCat:"); }

Value::Dictionary DataSource::imageDataForCat(const std::shared_ptr<dataSubCat>& subCat, std::int32_t index) {
    const auto rows = list(subCat);
    if (!rows || index < 0 || static_cast<std::size_t>(index) >= rows->size()) return {};
    return (*rows)[static_cast<std::size_t>(index)];
}

// A source over no database lists what it holds.
bool DataSource::readsWhole(NSErrorPtr*) const { return true; }

std::vector<std::string> DataSource::allPathsFiltered(const std::function<bool(const Value::Dictionary&)>& predicate,
                                                      bool useLowImages) {
    std::vector<std::string> paths;
    const auto cats = catList();
    if (!cats) return paths;
    for (const auto& cat : *cats) {
        const auto subCats = subCatList(cat);
        if (!subCats) continue;
        for (const auto& subCat : *subCats) {
            const auto rows = list(subCat);
            if (!rows) continue;
            for (const auto& row : *rows) {
                std::string path = row.get("imagePath").stringValue();
                if (useLowImages) path = "low_" + path;
                if (predicate && !predicate(row)) continue;
                paths.push_back(std::move(path));
            }
        }
    }
    return paths;
}

std::shared_ptr<OESearch> DataSource::search() const {
    MutexLock guard(searchMutex_);
    return search_;
}

void DataSource::setSearch(std::shared_ptr<OESearch> search) {
    MutexLock guard(searchMutex_);
    search_ = std::move(search);
}

bool DataSource::alowSearch() { return search() != nullptr; }

ContentRowList DataSource::searchResult(const std::string& text) {
    const auto searcher = search();
    return searcher ? searcher->result(text) : nullptr;
}

ContentRowList DataSource::searchLast() {
    OSTREL_CHECK_SEQUENCE(sequence_);
    return searchLast_;
}

void DataSource::setLastSearch(ContentRowList rows) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    searchLast_ = std::move(rows);
}
