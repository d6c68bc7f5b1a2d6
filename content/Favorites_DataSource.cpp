// The user's favourite pictures; adding or removing one announces "MessageDataUpdated".
#include "content/Favorites_DataSource.h"

#include "content/ContentSQL.h"
#include "platform/foundation/NSNotificationCenter.h"

std::shared_ptr<Favorites_DataSource> Favorites_DataSource::initWithLoader(std::shared_ptr<Loader> loader) {
    std::shared_ptr<Favorites_DataSource> source(new Favorites_DataSource(std::move(loader)));
    source->observeDataUpdates();
    return source;
}

CatList Favorites_DataSource::catList() {
    return std::make_shared<const std::vector<std::shared_ptr<dataCat>>>(
        std::vector<std::shared_ptr<dataCat>>{dataCat::emptyCat()});
}

SubCatList Favorites_DataSource::subCatList(const std::shared_ptr<dataCat>&) {
    return std::make_shared<const std::vector<std::shared_ptr<dataSubCat>>>(
        std::vector<std::shared_ptr<dataSubCat>>{dataSubCat::emptySubCat()});
}

ContentRowList Favorites_DataSource::list(const std::shared_ptr<dataSubCat>&) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (favorites_) return favorites_;
    ContentRows rows;
    if (const auto sql = engine(); sql && sql->tableExists("favorites")) {
        rows = sql->rowsForRequest("select images.*" + ContentSQL::authorColumns(sql, localizations()) +
                                   " from images,favorites,author where images.\"index\" = favorites.\"index\" and "
                                   "author.\"index\"=images.author");
    }
    favorites_ = std::make_shared<const ContentRows>(std::move(rows));
    return favorites_;
}

void Favorites_DataSource::changed() {
    {
        OSTREL_CHECK_SEQUENCE(sequence_);
        favorites_.reset();
    }
    NSNotificationCenter::defaultCenter()->postNotificationName(kMessageDataUpdated, nullptr);
}

bool Favorites_DataSource::addToFavorites(const Value::Dictionary& row, NSErrorPtr* error) {
    if (!Loader_DataSource::addToFavorites(row, error)) return false;
    changed();
    return true;
}

bool Favorites_DataSource::deleteFromFavorites(const Value::Dictionary& row, NSErrorPtr* error) {
    if (!Loader_DataSource::deleteFromFavorites(row, error)) return false;
    changed();
    return true;
}
