// One picture by its number, looked up once.
#include "content/OneImage_DataSource.h"

#include "content/ContentSQL.h"
#include "platform/foundation/NSString.h"

std::shared_ptr<OneImage_DataSource> OneImage_DataSource::initWithLoader(std::shared_ptr<Loader> loader,
                                                                         std::int64_t imageIndex) {
    std::shared_ptr<OneImage_DataSource> source(new OneImage_DataSource(std::move(loader), imageIndex));
    source->observeDataUpdates();
    return source;
}

ContentRowList OneImage_DataSource::list(const std::shared_ptr<dataSubCat>&) {
    OSTREL_CHECK_SEQUENCE(sequence_);
    if (!rows_) {
        ContentRows rows;
        if (const auto sql = engine()) {
            rows = sql->rowsForRequest(ContentSQL::pictureSelect(
                sql, localizations(), NSString::format("images.\"index\"=%lld", static_cast<long long>(imageIndex_))));
        }
        rows_ = std::make_shared<const ContentRows>(std::move(rows));
    }
    return rows_->empty() ? nullptr : rows_;
}
