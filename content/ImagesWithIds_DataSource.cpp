// Pictures by a list of numbers (the most-liked list, say), in that order, built once.
#include "content/ImagesWithIds_DataSource.h"

#include "content/OneImage_DataSource.h"

std::shared_ptr<ImagesWithIds_DataSource> ImagesWithIds_DataSource::initWithLoader(std::shared_ptr<Loader> loader,
                                                                                   Value::Array identifiers) {
    std::shared_ptr<ImagesWithIds_DataSource> source(
        new ImagesWithIds_DataSource(std::move(loader), std::move(identifiers)));
    source->observeDataUpdates();
    return source;
}

ContentRowList ImagesWithIds_DataSource::list(const std::shared_ptr<dataSubCat>&) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (rows_) return rows_;
    ContentRows rows;
    for (const auto& identifier : identifiers_) {
        auto one = OneImage_DataSource::initWithLoader(loader(), identifier.intValue());
        if (const auto found = one->list(); found && !found->empty()) addImageData(found->back(), rows);
    }
    rows_ = std::make_shared<const ContentRows>(std::move(rows));
    return rows_;
}
