// The catalogue's caches and its statements over the media database.
#include "media/CompositionsSource.h"

#include "config/OESQLIdentifier.h"
#include "content/SQLiteEngine.h"
#include "media/CompositionsSearch.h"
#include "media/MediaPlayerItem.h"
#include "platform/foundation/NSStringFormat.h"

#include <algorithm>

const char* const kCompositionsSelect =
    "select compositions.*, author.name as author_name, author.name_en as author_name_en, author.name_de as "
    "author_name_de, author.name_it as author_name_it, author.name_fr as author_name_fr from compositions left join "
    "author on compositions.author=author.\"index\"";

namespace {

// Fields without translations, compared as stored.
bool isRawField(const std::string& field) { return field == "filepath" || field == "time" || field == "index"; }

}  // namespace

void CompositionsSource::reset() {
    compositionCats_.reset();
    compositions_.reset();
    allCompositions_.reset();
}

std::string CompositionsSource::keyForCat(const CompositionCat& cat) const {
    return NSString::format("%@_%d", cat.name(), cat.index());
}

CompositionCats CompositionsSource::compositionsCats() { return compositionCats_.value_or(CompositionCats{}); }

MediaItems CompositionsSource::compositionsForCat(const std::shared_ptr<CompositionCat>& cat,
                                                  const CompositionsFilter& filter) {
    if (!cat || !compositions_) return {};
    const auto found = compositions_->find(keyForCat(*cat));
    if (found == compositions_->end()) return {};
    if (!filter) return found->second;
    MediaItems kept;
    for (const auto& item : found->second)
        if (filter(*item)) kept.push_back(item);
    return kept;
}

std::shared_ptr<MediaPlayerItem> CompositionsSource::compositionForIndex(std::int32_t) { return nullptr; }

MediaItems CompositionsSource::compositionsForIndexes(const std::vector<std::int32_t>& indexes) {
    MediaItems found;
    for (const std::int32_t index : indexes)
        if (auto item = compositionForIndex(index)) found.push_back(std::move(item));
    return found;
}

MediaItems CompositionsSource::allCompositions() {
    if (!allCompositions_) allCompositions_ = allCompositionsFiltered(nullptr);
    return *allCompositions_;
}

MediaItems CompositionsSource::allCompositionsFiltered(const CompositionsFilter&) { return {}; }

std::shared_ptr<MediaPlayerItem> CompositionsSource::findItem(const std::string& value, const std::string& field) {
    std::shared_ptr<MediaPlayerItem> last;
    for (const auto& item : allCompositions())
        if ((isRawField(field) ? item->rawValue(field) : item->fieldValue(field)) == value) last = item;
    return last;
}

std::shared_ptr<CompositionsSearch> CompositionsSource::getSearch() { return nullptr; }

MediaItems CompositionsSource::downloadedItems() {
    return allCompositionsFiltered([](const MediaPlayerItem& item) { return item.downloaded(); });
}

MediaItems CompositionsSource::notDownloadedItems() {
    return allCompositionsFiltered([](const MediaPlayerItem& item) { return !item.downloaded(); });
}

MediaItems CompositionsSource::notDownloadedItemsForCat(const std::shared_ptr<CompositionCat>& cat) {
    return compositionsForCat(cat, [](const MediaPlayerItem& item) { return !item.downloaded(); });
}

MediaItems CompositionsSource::deletableItems() {
    return allCompositionsFiltered([](const MediaPlayerItem& item) { return item.deletable(); });
}

std::shared_ptr<DB_CompositionsSource> DB_CompositionsSource::initWithSQL(std::shared_ptr<SQLiteEngine> sql,
                                                                          const std::string& table,
                                                                          std::shared_ptr<const MediaContext> context) {
    return std::shared_ptr<DB_CompositionsSource>(new DB_CompositionsSource(std::move(sql), table, std::move(context)));
}

std::vector<SQLiteEngine::ExpectedTable> DB_CompositionsSource::expectedTables() {
    return {{"compositions", {"index", "name", "author"}},
            {"author", {"index", "name", "name_en", "name_de", "name_it", "name_fr"}}};
}

MediaItems DB_CompositionsSource::items(const std::string& statement, const CompositionsFilter& filter) {
    MediaItems result;
    if (!sql_ || !sql_->prepareRequest(statement)) return result;
    while (sql_->nextRow()) {
        auto item = MediaPlayerItem::mediaPlayerItemWithDictionary(sql_->dataFromRow(), context_);
        if (!filter || filter(*item)) result.push_back(std::move(item));
    }
    sql_->endRequest();
    return result;
}

CompositionCats DB_CompositionsSource::compositionsCats() {
    if (compositionCats_) return *compositionCats_;
    CompositionCats cats;
    if (sql_ && OESQLIdentifier::isPlain(table_)) {
        const std::string& t = table_;
        const std::string statement =
            NSString::format("select %@.*, count(compositions.\"index\") as compositions_count from %@ left join "
                             "compositions on %@.\"index\" = compositions.%@ where compositions.%@ is not null",
                             t, t, t, t, t) +
            NSString::format(" group by compositions.%@", t);
        if (sql_->prepareRequest(statement)) {
            while (sql_->nextRow()) cats.push_back(CompositionCat::catWithDictioanry(sql_->dataFromRow(), context_));
            sql_->endRequest();
        }
    }
    compositionCats_ = cats;
    return cats;
}

MediaItems DB_CompositionsSource::compositionsForCat(const std::shared_ptr<CompositionCat>& cat,
                                                     const CompositionsFilter& filter) {
    if (!cat) return {};
    if (!compositions_) compositions_.emplace();
    const std::string key = keyForCat(*cat);
    if (!compositions_->count(key)) {
        if (!OESQLIdentifier::isPlain(table_)) return {};
        (*compositions_)[key] =
            items(std::string(kCompositionsSelect) + NSString::format(" where compositions.%@=%d", table_, cat->index()) +
                      " order by compositions.name",
                  nullptr);
    }
    return CompositionsSource::compositionsForCat(cat, filter);
}

std::shared_ptr<MediaPlayerItem> DB_CompositionsSource::compositionForIndex(std::int32_t index) {
    auto found = items(std::string(kCompositionsSelect) + NSString::format(" where compositions.\"index\" = %d ", index),
                       nullptr);
    return found.empty() ? nullptr : found.front();
}

MediaItems DB_CompositionsSource::compositionsForIndexes(const std::vector<std::int32_t>& indexes) {
    MediaItems result;
    if (!sql_ || indexes.empty()) return result;
    std::vector<std::int32_t> distinct = indexes;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    // Whole numbers only, so the list is written into the statement as it is.
    std::string list;
    for (const std::int32_t index : distinct) {
        if (!list.empty()) list += ',';
        list += std::to_string(index);
    }
    std::map<std::int32_t, Value::Dictionary> rows;
    if (!sql_->prepareRequest(std::string(kCompositionsSelect) + " where compositions.\"index\" in (" + list + ")"))
        return result;
    while (sql_->nextRow()) {
        Value::Dictionary row = sql_->dataFromRow();
        const Value* index = row.find("index");
        if (index) rows.emplace(static_cast<std::int32_t>(index->intValue()), std::move(row));
    }
    sql_->endRequest();
    // A fresh item per entry, as each entry of a list is its own.
    for (const std::int32_t index : indexes) {
        const auto row = rows.find(index);
        if (row != rows.end()) result.push_back(MediaPlayerItem::mediaPlayerItemWithDictionary(row->second, context_));
    }
    return result;
}

MediaItems DB_CompositionsSource::allCompositionsFiltered(const CompositionsFilter& filter) {
    return items(std::string(kCompositionsSelect) + " order by author_name, compositions.name", filter);
}

std::shared_ptr<CompositionsSearch> DB_CompositionsSource::getSearch() {
    if (!sql_) return nullptr;
    auto own = SQLiteEngine::initWithPath(sql_->path());
    if (!own) return nullptr;
    return DB_CompositionSearch::initWithSql(std::move(own), table_, context_);
}
