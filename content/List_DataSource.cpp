// The picture catalogue over "bigCat", "subCat", "images" and "author", each level queried
// once and cached until "MessageDataUpdated".
#include "content/List_DataSource.h"

#include "content/ContentLog.h"
#include "content/ContentSQL.h"
#include "config/OESQLIdentifier.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"

#include <algorithm>

std::shared_ptr<List_DataSource> List_DataSource::initWithLoader(std::shared_ptr<Loader> loader) {
    std::shared_ptr<List_DataSource> source(new List_DataSource(std::move(loader)));
    source->observeDataUpdates();
    return source;
}

std::string List_DataSource::levelKey(const std::string& name, std::int32_t index) {
    return NSString::format("%@_%d", name, index);
}

void List_DataSource::dataUpdated() {
    OSTREL_CHECK_SEQUENCE(sequence_);
    catCache_.reset();
    subCatCache_.clear();
    listCache_.clear();
}

CatList List_DataSource::catList() {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (catCache_) return catCache_;
    auto cats = std::make_shared<std::vector<std::shared_ptr<dataCat>>>();
    if (const auto sql = engine()) {
        if (sql->prepareRequest("select * from bigCat")) {
            while (sql->nextRow()) cats->push_back(dataCat::dataCatFromDB(sql));
        }
        sql->endRequest();
    }
    catCache_ = cats;
    return catCache_;
}

std::vector<std::shared_ptr<dataSubCat>> List_DataSource::loadSubCats(const std::string& sql, bool keepEmpty) {
    std::vector<std::shared_ptr<dataSubCat>> subCats;
    const auto db = engine();
    if (!db) return subCats;
    for (auto& row : db->rowsForRequest(sql)) {
        if (!keepEmpty && row.get("images_count").intValue() < 1) continue;
        auto subCat = dataSubCat::dataSubCatFromRow(std::move(row), localizations());
        subCat->setCatTable(groupingTable());
        subCats.push_back(std::move(subCat));
    }
    return subCats;
}

SubCatList List_DataSource::subCatList(const std::shared_ptr<dataCat>& cat) {
    const std::string key = cat ? levelKey(cat->name(), cat->index()) : levelKey("", -1);
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (auto it = subCatCache_.find(key); it != subCatCache_.end()) return it->second;
    const std::string sql = NSString::format(
        "select subcat.*, count(images.\"index\") as images_count from subCat left join images on subcat.\"index\" = "
        "images.subCat where subcat.bigCat=%d %@ group by images.subCat order by subcat.\"date\"",
        cat ? cat->index() : -1, "");
    auto list = std::make_shared<const std::vector<std::shared_ptr<dataSubCat>>>(loadSubCats(sql, false));
    subCatCache_[key] = list;
    return list;
}

std::string List_DataSource::requestStringForCat(const std::shared_ptr<dataSubCat>& subCat) {
    if (!loader()) return {};
    const auto column = OESQLIdentifier::quoted(groupingTable());
    return ContentSQL::pictureSelect(engine(), localizations(), NSString::format("images.%@=%d", column.value_or("\"subCat\""),
                                                                           subCat ? subCat->index() : -1));
}

std::string List_DataSource::catKey(const std::shared_ptr<dataSubCat>& subCat) {
    return subCat ? levelKey(subCat->name(), subCat->index()) : levelKey("", -1);
}

void List_DataSource::addImageData(Value::Dictionary row, ContentRows& rows) {
    if (checkIfNeedAddData(row)) rows.push_back(std::move(row));
}

ContentRows List_DataSource::loadRows(const std::string& sql) {
    const auto db = engine();
    if (!db) return {};
    // Filtered where they were read: no second array of rows.
    ContentRows rows = db->rowsForRequest(sql);
    std::erase_if(rows, [this](const Value::Dictionary& row) { return !checkIfNeedAddData(row); });
    return rows;
}

ContentRowList List_DataSource::list(const std::shared_ptr<dataSubCat>& subCat) {
    const std::string key = catKey(subCat);
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (auto it = listCache_.find(key); it != listCache_.end()) return it->second;
    auto rows = std::make_shared<const ContentRows>(loadRows(requestStringForCat(subCat)));
    listCache_[key] = rows;
    return rows;
}

std::vector<std::string> List_DataSource::allPathsInAnyOrder() {
    std::vector<std::string> paths;
    const auto column = OESQLIdentifier::quoted(groupingTable());
    const auto db = engine();
    if (!column || !db) return paths;
    // The groups the walk visits are the grouping table's rows in a listed category (its lists
    // of groups only order them, count their pictures and fold the empty ones together): named
    // inside the one query, rather than listing the categories and each one's groups first.
    const auto rows = db->rowsForRequest(NSString::format(
        "select images.\"imagePath\" from images,author where images.%@ in (select \"index\" from %@ where bigCat in "
        "(select \"index\" from bigCat)) and author.\"index\"=images.author",
        *column, *column));
    paths.reserve(rows.size());
    for (const auto& row : rows) paths.push_back(row.get("imagePath").stringValue());
    return paths;
}

void List_DataSource::deleteSubCat(const std::shared_ptr<dataSubCat>& subCat) {
    if (!subCat || !loader()) return;
    const FileSystem& fs = loader()->fileSystem();
    auto manager = NSFileManager::defaultManager();
    // Only paths that stay inside the folder are touched; a value with ".." or a leading "/"
    // from the database names no file of ours.
    auto removeIn = [&](bool caches, const std::string& relative) {
        const auto path = caches ? fs.safeCachesPathForFile(relative, false) : fs.safeDocumentsPathForFile(relative, false);
        NSErrorPtr error;
        if (!path || !manager->fileExistsAtPath(*path)) return;
        if (!manager->removeItemAtPath(*path, &error))
            ContentLog::log(NSString::format("A file of the deleted subcategory stays: %@", error->localizedDescription()));
        fs.writableFileChanged(relative);
    };

    const std::string subCatPicture = subCat->imagePath().value_or("");
    if (!subCatPicture.empty()) {
        removeIn(false, "Data/cats/" + subCatPicture + ".jpg");
        removeIn(false, "Data/cats/" + subCatPicture + ".png");
    }
    if (const auto rows = list(subCat)) {
        for (const auto& row : *rows) {
            const std::string path = row.get("imagePath").stringValue();
            if (path.empty()) continue;
            const std::string thumb = NSString::stringByReplacingOccurrencesOfString(path, ".jpg", "_thumb.jpg",
                                                                                     NSCaseInsensitiveSearch);
            removeIn(false, "Data/" + path);
            removeIn(false, "Data/hd-" + path);
            removeIn(false, "Data/" + thumb);
            removeIn(true, "Data/" + thumb);
        }
    }

    {
        OSTREL_CHECK_SEQUENCE(sequence_);
        listCache_.erase(catKey(subCat));
        for (auto& [key, cached] : subCatCache_) {
            if (!cached) continue;
            auto it = std::find_if(cached->begin(), cached->end(),
                                   [&](const auto& record) { return record->index() == subCat->index(); });
            if (it == cached->end()) continue;
            auto copy = std::make_shared<std::vector<std::shared_ptr<dataSubCat>>>(*cached);
            copy->erase(copy->begin() + (it - cached->begin()));
            cached = copy;
            break;
        }
    }

    const auto table = OESQLIdentifier::quoted(groupingTable());
    const auto db = engine();
    if (!table || !db) return;
    // The pictures go by the column that groups them, the same one the lists select by.
    const bool deleted = db->runInTransaction({
        NSString::format("delete from %@ where \"index\"=%d", *table, subCat->index()),
        NSString::format("delete from images where %@=%d", *table, subCat->index()),
    });
    if (!deleted) {
        ContentLog::log(NSString::format("The subcategory %d of %@ could not be deleted from the database.", subCat->index(),
                                         groupingTable()));
    }
}
