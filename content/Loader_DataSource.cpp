// A data source bound to a Loader, with favourites kept in the "favorites" table.
#include "content/Loader_DataSource.h"

std::shared_ptr<Loader_DataSource> Loader_DataSource::initWithLoader(std::shared_ptr<Loader> loader) {
    std::shared_ptr<Loader_DataSource> source(new Loader_DataSource(std::move(loader)));
    source->observeDataUpdates();
    return source;
}

bool Loader_DataSource::inFavorites(const Value::Dictionary& row) {
    const auto sql = engine();
    if (!sql) return false;
    auto guard = sql->lock();
    // Asked for often (every page of the pager): a missing table is a plain "no", not a failure.
    if (!sql->tableExists("favorites")) return false;
    const bool found = sql->prepareRequest("select * from favorites where \"index\"=?", {Value(row.get("index").intValue())}) &&
                       sql->nextRow();
    sql->endRequest();
    return found;
}

void Loader_DataSource::addToFavorites(const Value::Dictionary& row) {
    const auto sql = engine();
    if (!sql) return;
    const Value index(row.get("index").intValue());
    auto guard = sql->lock();
    if (!sql->tableExists("favorites")) sql->execRequest("create table favorites (\"index\" integer primary key)");
    sql->execRequest("insert into favorites(\"index\") values(?)", {index});
    sql->endRequest();
}

void Loader_DataSource::deleteFromFavorites(const Value::Dictionary& row) {
    const auto sql = engine();
    if (!sql) return;
    auto guard = sql->lock();
    if (!sql->tableExists("favorites")) return;
    sql->execRequest("delete from favorites where \"index\"=?", {Value(row.get("index").intValue())});
    sql->endRequest();
}
