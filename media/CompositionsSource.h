// The music catalogue: the categories of one grouping with their track counts, the tracks of a
// category, all tracks, one track, and searches. The base keeps the caches; the database form
// reads the media database through one connection.
#pragma once

#include "content/SQLiteEngine.h"
#include "media/CompositionCat.h"
#include "media/MediaSource.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CompositionsSearch;

using CompositionCats = std::vector<std::shared_ptr<CompositionCat>>;
// Keeps the items it answers true for.
using CompositionsFilter = std::function<bool(const MediaPlayerItem&)>;

class CompositionsSource : public NSObject {
public:
    // Drops the caches; the next request reads again.
    void reset();
    // "%@_%d": the category's name and index.
    std::string keyForCat(const CompositionCat& cat) const;

    virtual CompositionCats compositionsCats();
    MediaItems compositionsForCat(const std::shared_ptr<CompositionCat>& cat) { return compositionsForCat(cat, nullptr); }
    virtual MediaItems compositionsForCat(const std::shared_ptr<CompositionCat>& cat, const CompositionsFilter& filter);
    virtual std::shared_ptr<MediaPlayerItem> compositionForIndex(std::int32_t index);
    // One item per index, in the order given (an index given twice gives two items); an index
    // the catalogue does not hold is left out.
    virtual MediaItems compositionsForIndexes(const std::vector<std::int32_t>& indexes);
    // Every track, read once and cached.
    MediaItems allCompositions();
    virtual MediaItems allCompositionsFiltered(const CompositionsFilter& filter);
    // The last track (in the all-tracks order) whose `field` equals `value`, or none. "time" and
    // "filepath" are compared as stored, other fields in the current language.
    std::shared_ptr<MediaPlayerItem> findItem(const std::string& value, const std::string& field);
    virtual std::shared_ptr<CompositionsSearch> getSearch();
    MediaItems downloadedItems();
    MediaItems notDownloadedItems();
    MediaItems notDownloadedItemsForCat(const std::shared_ptr<CompositionCat>& cat);
    MediaItems deletableItems();

    const std::shared_ptr<const MediaContext>& context() const { return context_; }

protected:
    explicit CompositionsSource(std::shared_ptr<const MediaContext> context) : context_(std::move(context)) {}

    const std::shared_ptr<const MediaContext> context_;
    std::optional<CompositionCats> compositionCats_;
    std::optional<std::map<std::string, MediaItems>> compositions_;
    std::optional<MediaItems> allCompositions_;
};

class DB_CompositionsSource : public CompositionsSource {
public:
    // Over a connection to the media database and one grouping table ("author", "genres",
    // "countries"; any other name gives empty answers).
    static std::shared_ptr<DB_CompositionsSource> initWithSQL(std::shared_ptr<SQLiteEngine> sql,
                                                              const std::string& table,
                                                              std::shared_ptr<const MediaContext> context);

    const std::shared_ptr<SQLiteEngine>& sql() const { return sql_; }
    const std::string& table() const { return table_; }
    // The tables and columns its statements name: a media database must hold them.
    static std::vector<SQLiteEngine::ExpectedTable> expectedTables();

    CompositionCats compositionsCats() override;
    using CompositionsSource::compositionsForCat;
    MediaItems compositionsForCat(const std::shared_ptr<CompositionCat>& cat, const CompositionsFilter& filter) override;
    std::shared_ptr<MediaPlayerItem> compositionForIndex(std::int32_t index) override;
    // One statement for all the indexes, however many there are.
    MediaItems compositionsForIndexes(const std::vector<std::int32_t>& indexes) override;
    MediaItems allCompositionsFiltered(const CompositionsFilter& filter) override;
    // A search over a connection of its own to the same database, so that it can run on
    // another thread than the catalogue's.
    std::shared_ptr<CompositionsSearch> getSearch() override;

private:
    DB_CompositionsSource(std::shared_ptr<SQLiteEngine> sql, std::string table,
                          std::shared_ptr<const MediaContext> context)
        : CompositionsSource(std::move(context)), sql_(std::move(sql)), table_(std::move(table)) {}
    MediaItems items(const std::string& statement, const CompositionsFilter& filter);

    const std::shared_ptr<SQLiteEngine> sql_;
    const std::string table_;
};

// The track query's joined author columns and joins, shared by the catalogue's statements.
extern const char* const kCompositionsSelect;
