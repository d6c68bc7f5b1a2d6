// Ready-built catalogue sources over the images database and over the media database.
#include "content/tempDataSource.h"

namespace {
std::shared_ptr<OEDBConfig> databaseOf(const OEContext& context) {
    return context.config ? context.config->database() : nullptr;
}
}  // namespace

std::shared_ptr<List_DataSource> tempDataSource::tempImagesDataSource(const OEContext& context) {
    return List_DataSource::initWithLoader(Loader::loaderWithDBEntry(dbEntry::defaultEntry(databaseOf(context)), context));
}

std::shared_ptr<List_DataSource> tempDataSource::tempMediaDataSource(const OEContext& context) {
    const auto db = databaseOf(context);
    auto entry = dbEntry::defaultEntry(db);
    entry->setDbPath(db ? db->mediaDBName() : std::string());
    return List_DataSource::initWithLoader(Loader::loaderWithDBEntry(entry, context));
}
