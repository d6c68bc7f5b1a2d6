// The catalogue grouped by another table (for example "author" or "subCat2"): its rows are the
// subcategories and the picture column of the same name points at them.
#include "content/ListOtherSubCat_DataSource.h"

#include "content/ContentLog.h"
#include "content/ContentSQL.h"
#include "config/OESQLIdentifier.h"
#include "platform/foundation/NSString.h"

std::shared_ptr<ListOtherSubCat_DataSource> ListOtherSubCat_DataSource::initWithLoader(std::shared_ptr<Loader> loader,
                                                                                       const std::string& subCatTable) {
    if (!OESQLIdentifier::isPlain(subCatTable)) {
        ContentLog::log(NSString::format("The grouping table \"%@\" is not a plain identifier; its lists stay empty.",
                                         subCatTable));
    }
    std::shared_ptr<ListOtherSubCat_DataSource> source(new ListOtherSubCat_DataSource(std::move(loader), subCatTable));
    source->observeDataUpdates();
    return source;
}

SubCatList ListOtherSubCat_DataSource::subCatList(const std::shared_ptr<dataCat>& cat) {
    const std::string key = cat ? levelKey(cat->name(), cat->index()) : levelKey("", -1);
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (auto it = subCatCache_.find(key); it != subCatCache_.end()) return it->second;
    std::vector<std::shared_ptr<dataSubCat>> records;
    if (const auto t = loader() ? OESQLIdentifier::quoted(table_) : std::nullopt) {
        std::string order;
        if (table_ == "author") {
            const std::string column =
                ContentSQL::authorOrderColumn(engine(), localizations(), localizations().languageStr());
            order = NSString::format(" order by %@.\"%@\"", *t, column);
        }
        const std::string sql = NSString::format(
            "select %@.*, count(images.\"index\") as images_count from %@ left join images on %@.\"index\" = images.%@ "
            "where %@.bigCat = %d %@ group by images.%@%@",
            *t, *t, *t, *t, *t, cat ? cat->index() : -1, "", *t, order);
        records = loadSubCats(sql, true);
    }
    auto list = std::make_shared<const std::vector<std::shared_ptr<dataSubCat>>>(std::move(records));
    subCatCache_[key] = list;
    return list;
}

ContentRowList ListOtherSubCat_DataSource::list(const std::shared_ptr<dataSubCat>& subCat) {
    const std::string key = catKey(subCat);
    OSTREL_CHECK_SEQUENCE(sequence_);
    auto it = listCache_.find(key);
    if (it == listCache_.end()) {
        ContentRows rows;
        if (const auto t = loader() ? OESQLIdentifier::quoted(table_) : std::nullopt) {
            rows = loadRows(ContentSQL::pictureSelect(engine(), localizations(),
                                                      NSString::format("images.%@=%d", *t, subCat ? subCat->index() : -1)));
        }
        it = listCache_.emplace(key, std::make_shared<const ContentRows>(std::move(rows))).first;
    }
    return it->second->empty() ? nullptr : it->second;
}
