// The local articles, read over two connections.
#include "texts/LocalArticlesList.h"

#include "config/OEConfig.h"
#include "content/dbEntry.h"
#include "texts/LocalRawArticle.h"
#include "texts/LocalRawAuthor.h"
#include "texts/LocalRawImage.h"

std::shared_ptr<LocalArticlesList> LocalArticlesList::initWithLocale(const OEContext& context) {
    auto list = std::make_shared<LocalArticlesList>();
    list->context_ = context;
    const auto& database = context.config ? context.config->database() : nullptr;
    if (database && context.fileSystem && context.localizations) {
        list->imagesDbLoader_ = Loader::loaderWithDBEntry(dbEntry::defaultEntry(database), context);
        list->articlesDbLoader_ = Loader::loaderWithDBEntry(dbEntry::articlesEntry(database), context);
    }
    return list;
}

void LocalArticlesList::load() {
    MutexLock loading(loadMutex_);
    std::vector<std::shared_ptr<Article>> list;
    const auto articles = articlesDbLoader_ ? articlesDbLoader_->sql() : nullptr;
    const auto images = imagesDbLoader_ ? imagesDbLoader_->sql() : nullptr;
    const auto& locale = context_.localizations;
    const std::string host = context_.config && context_.config->app() ? context_.config->app()->documentHost() : "";
    // The language is bound: whatever the code holds, it is compared as a value.
    if (articles && images && locale && articles->prepareRequest(articlesRequest(), {Value(locale->languageStr())})) {
        while (articles->nextRow()) {
            auto raw = LocalRawArticle::initWithDict(articles->dataFromRow(), host);
            std::shared_ptr<LocalRawImage> image;
            // One row looked up at a time, read while it is current.
            if (images->prepareRequest(imageWithIdRequest(), {Value(raw->imageId())})) {
                if (images->nextRow()) image = LocalRawImage::initWithDict(images->dataFromRow(), locale);
                images->endRequest();
            }
            // An article about a picture the catalogue does not have cannot be shown with it.
            if (!image) continue;
            Value::Dictionary authorRow;
            if (images->prepareRequest(authorWithIdRequest(), {Value(image->authorId())})) {
                if (images->nextRow()) authorRow = images->dataFromRow();
                images->endRequest();
            }
            list.push_back(Article::initWithRaw(raw, image, LocalRawAuthor::initWithDict(std::move(authorRow), locale)));
        }
        articles->endRequest();
    }
    // The connections may be used from another queue by the next load.
    if (articles) articles->detachFromSequence();
    if (images) images->detachFromSequence();
    MutexLock guard(listMutex_);
    articles_ = std::move(list);
}

std::vector<std::shared_ptr<Article>> LocalArticlesList::articles() const {
    MutexLock guard(listMutex_);
    return articles_;
}
