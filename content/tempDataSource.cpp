// Ready-built catalogue sources over the images database and over the media database.
#include "content/tempDataSource.h"

#include "config/OEConfig.h"

std::shared_ptr<List_DataSource> tempDataSource::tempImagesDataSource() {
    return List_DataSource::initWithLoader(Loader::loaderWithDBEntry(dbEntry::defaultEntry()));
}

std::shared_ptr<List_DataSource> tempDataSource::tempMediaDataSource() {
    auto entry = dbEntry::defaultEntry();
    const auto& db = OEConfig::current()->database();
    entry->setDbPath(db ? db->mediaDBName() : std::string());
    return List_DataSource::initWithLoader(Loader::loaderWithDBEntry(entry));
}
