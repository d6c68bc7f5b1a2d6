// A one-picture list made from a file path alone (a row holding only "imagePath").
#include "content/ImagePathDataSource.h"

std::shared_ptr<ImagePathDataSource> ImagePathDataSource::initWithImagePath(const std::string& path) {
    std::shared_ptr<ImagePathDataSource> source(new ImagePathDataSource());
    source->row_.set("imagePath", Value(path));
    source->observeDataUpdates();
    return source;
}

ContentRowList ImagePathDataSource::list(const std::shared_ptr<dataSubCat>&) {
    return std::make_shared<const ContentRows>(ContentRows{row_});
}
