// Text searches over tracks and over the categories of a grouping.
#pragma once

#include "media/CompositionsSource.h"

#include <memory>
#include <string>

class SQLiteEngine;

class CompositionsSearch : public NSObject {
public:
    virtual MediaItems handleSearch(const std::string& text) {
        (void)text;
        return {};
    }
    virtual CompositionCats handleSearchCat(const std::string& text) {
        (void)text;
        return {};
    }
};

class DB_CompositionSearch : public CompositionsSearch {
public:
    static std::shared_ptr<DB_CompositionSearch> initWithSql(std::shared_ptr<SQLiteEngine> sql, const std::string& table,
                                                             std::shared_ptr<const MediaContext> context);
    // Tracks whose name or author name (current language) contains the text. The text is bound,
    // never part of the statement, and matched literally ("%" and "_" included).
    MediaItems handleSearch(const std::string& text) override;
    // Categories whose name contains the text, with their track counts.
    CompositionCats handleSearchCat(const std::string& text) override;

private:
    DB_CompositionSearch(std::shared_ptr<SQLiteEngine> sql, std::string table, std::shared_ptr<const MediaContext> context)
        : sql_(std::move(sql)), table_(std::move(table)), context_(std::move(context)) {}
    // The current language's column of a table, or the default language's when the table has
    // no such column.
    std::string nameColumn(const std::string& table, const std::string& field);

    const std::shared_ptr<SQLiteEngine> sql_;
    const std::string table_;
    const std::shared_ptr<const MediaContext> context_;
};
