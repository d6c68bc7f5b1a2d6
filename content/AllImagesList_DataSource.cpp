// Every picture of the database, as one list whatever subcategory is asked for.
#include "content/AllImagesList_DataSource.h"

#include "content/ContentSQL.h"

std::shared_ptr<AllImagesList_DataSource> AllImagesList_DataSource::initWithLoader(std::shared_ptr<Loader> loader) {
    std::shared_ptr<AllImagesList_DataSource> source(new AllImagesList_DataSource(std::move(loader)));
    source->observeDataUpdates();
    return source;
}

std::string AllImagesList_DataSource::requestStringForCat(const std::shared_ptr<dataSubCat>&) {
    if (!loader()) return {};
    return ContentSQL::pictureSelect(engine(), localizations(), "");
}
