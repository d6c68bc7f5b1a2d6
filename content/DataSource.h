// The three-level picture catalogue model (categories, subcategories, picture rows) that every
// picture screen reads, with favourites, subcategory deletion and search hooks.
#pragma once

#include "content/ContentError.h"
#include "content/OESearch.h"
#include "content/dataCat.h"
#include "content/dataSubCat.h"
#include "platform/dispatch/SequenceChecker.h"
#include "platform/foundation/NSNotification.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

using CatList = std::shared_ptr<const std::vector<std::shared_ptr<dataCat>>>;
using SubCatList = std::shared_ptr<const std::vector<std::shared_ptr<dataSubCat>>>;

// Posted after favourites change; every source drops its cached lists on it.
inline constexpr const char* kMessageDataUpdated = "MessageDataUpdated";

// A source and its cached levels live on one sequence, the main thread in the application (the
// first sequence that uses them); a use from elsewhere aborts in checked builds. Only the search
// object is read from another queue (the searches typed run on a search queue), so only it is
// locked.
class DataSource : public NSObject {
public:
    static std::shared_ptr<DataSource> make();
    ~DataSource() override;

    // Drops cached lists; the next request queries again.
    virtual void dataUpdated() {}

    // Abstract here: the base refuses them as the platform refuses an unknown operation.
    virtual CatList catList();
    virtual SubCatList subCatList(const std::shared_ptr<dataCat>& cat);
    virtual ContentRowList list(const std::shared_ptr<dataSubCat>& subCat);

    // The row at `index` of list(subCat); an empty row when there is none.
    Value::Dictionary imageDataForCat(const std::shared_ptr<dataSubCat>& subCat, std::int32_t index);
    // Every picture path of every subcategory of every category, in order, not de-duplicated;
    // with `useLowImages` each prefixed with "low_".
    std::vector<std::string> allPathsFiltered(const std::function<bool(const Value::Dictionary&)>& predicate,
                                              bool useLowImages = false);
    std::vector<std::string> allPaths() { return allPathsFiltered(nullptr); }
    // The paths of allPaths in any order, repeats perhaps dropped: what marking or counting every
    // picture needs. Here the walk itself; a source whose lists select pictures by their group answers
    // with one query of the paths instead of a list per subcategory.
    virtual std::vector<std::string> allPathsInAnyOrder() { return allPaths(); }
    // Whether what the source lists can be read whole: false, with why in `error`
    // (OEContentErrorDomain), when its database could not be opened or a read met damaged pages in
    // it, so that a list it gave may lack rows. Asked after reading: the read may be what found them.
    [[nodiscard]] virtual bool readsWhole(NSErrorPtr* error = nullptr) const;

    virtual bool mayAddToFavorites() { return false; }
    virtual bool inFavorites(const Value::Dictionary&) { return false; }
    // True when the picture is (respectively is no longer) a favourite afterwards; false with an
    // error of OEContentErrorDomain when that could not be stored.
    [[nodiscard]] virtual bool addToFavorites(const Value::Dictionary& row, NSErrorPtr* error = nullptr);
    [[nodiscard]] virtual bool deleteFromFavorites(const Value::Dictionary& row, NSErrorPtr* error = nullptr);

    virtual bool alowDeleteSubCats() { return false; }
    virtual void deleteSubCat(const std::shared_ptr<dataSubCat>& subCat);

    std::shared_ptr<OESearch> search() const;
    void setSearch(std::shared_ptr<OESearch> search);
    virtual bool alowSearch();
    virtual ContentRowList searchResult(const std::string& text);
    virtual ContentRowList searchLast();
    virtual void setLastSearch(ContentRowList rows);
    void resetSearch() { setLastSearch(nullptr); }

protected:
    DataSource() = default;
    // Registers for "MessageDataUpdated"; every factory calls it once the object is shared.
    void observeDataUpdates();
    [[noreturn]] void refuse(const char* operation) const;

    // Guards the cached levels of every source.
    SequenceChecker sequence_{"DataSource"};

private:
    void dataUpdatedNotification(const NSNotification&) { dataUpdated(); }

    mutable Mutex searchMutex_;
    std::shared_ptr<OESearch> search_ GUARDED_BY(searchMutex_);
    ContentRowList searchLast_;  // on the sequence
};
