// A data source bound to a Loader, with favourites kept in the "favorites" table.
#include "content/Loader_DataSource.h"

#include "platform/foundation/NSString.h"

std::shared_ptr<Loader_DataSource> Loader_DataSource::initWithLoader(std::shared_ptr<Loader> loader) {
    std::shared_ptr<Loader_DataSource> source(new Loader_DataSource(std::move(loader)));
    source->observeDataUpdates();
    return source;
}

bool Loader_DataSource::inFavorites(const Value::Dictionary& row) {
    const auto sql = engine();
    if (!sql) return false;
    // Asked for often (every page of the pager): a missing table is a plain "no", not a failure.
    if (!sql->tableExists("favorites")) return false;
    const bool found = sql->prepareRequest("select * from favorites where \"index\"=?", {Value(row.get("index").intValue())}) &&
                       sql->nextRow();
    sql->endRequest();
    return found;
}

namespace {
bool notOpen(NSErrorPtr* error) {
    setError(error, contentError(OEContentErrorNotOpen, "The catalogue database is not open; favourites cannot change."));
    return false;
}
}  // namespace

bool Loader_DataSource::addToFavorites(const Value::Dictionary& row, NSErrorPtr* error) {
    const auto sql = engine();
    if (!sql) return notOpen(error);
    const Value index(row.get("index").intValue());
    if (!sql->tableExists("favorites")) {
        const bool made = sql->execRequest("create table favorites (\"index\" integer primary key)", {}, error);
        sql->endRequest();
        if (!made) return false;
    }
    NSErrorPtr failure;
    const bool inserted = sql->execRequest("insert into favorites(\"index\") values(?)", {index}, &failure);
    sql->endRequest();
    // The key refuses a picture that is a favourite already: it stays one, nothing changed.
    if (inserted || (failure && failure->code() == OEContentErrorConstraint)) return true;
    setError(error, failure);
    return false;
}

bool Loader_DataSource::deleteFromFavorites(const Value::Dictionary& row, NSErrorPtr* error) {
    const auto sql = engine();
    if (!sql) return notOpen(error);
    if (!sql->tableExists("favorites")) return true;
    const bool deleted =
        sql->execRequest("delete from favorites where \"index\"=?", {Value(row.get("index").intValue())}, error);
    sql->endRequest();
    return deleted;
}

bool Loader_DataSource::readsWhole(NSErrorPtr* error) const {
    const auto sql = engine();
    if (!sql) {
        setError(error, contentError(OEContentErrorNotOpen, "The catalogue database is not open."));
        return false;
    }
    if (!sql->isDamaged()) return true;
    setError(error,
             contentError(OEContentErrorDamaged,
                          NSString::format("The catalogue database %@ has damaged pages; its lists may lack rows.",
                                           NSString::lastPathComponent(sql->path()))));
    return false;
}
