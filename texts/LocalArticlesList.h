// The articles of the articles database in the current language, each joined with its picture
// and the picture's painter from the images database (two connections, so the articles'
// statement stays where it is while the picture and painter are read). It keeps no read marks.
#pragma once

#include "config/OEContext.h"
#include "content/Loader.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "texts/ArticlesList.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class LocalArticlesList : public NSObject, public ArticlesList {
public:
    // The language, databases and document host of the context (its localisations, configuration
    // and file locations).
    static std::shared_ptr<LocalArticlesList> initWithLocale(const OEContext& context);

    const std::shared_ptr<Loader>& imagesDbLoader() const { return imagesDbLoader_; }
    void setImagesDbLoader(std::shared_ptr<Loader> loader) { imagesDbLoader_ = std::move(loader); }
    const std::shared_ptr<Loader>& articlesDbLoader() const { return articlesDbLoader_; }
    void setArticlesDbLoader(std::shared_ptr<Loader> loader) { articlesDbLoader_ = std::move(loader); }

    // The rows whose "language" is the current language code, in database order. An article whose
    // picture is not in the images database is left out; one whose painter is not gets an empty
    // painter. On any thread, one load at a time; the list changes in one step at the end.
    void load() override;
    std::vector<std::shared_ptr<Article>> articles() const override;
    bool isNewArticle(const Article&) const override { return false; }
    bool isNewPost(const Value&) const { return false; }
    void markReaded(const Article&) override {}

    // The statements and their bound values.
    std::string articlesRequest() const { return "select * from articles where language == ?"; }
    std::string imageWithIdRequest() const { return "select * from images where \"index\" == ?"; }
    std::string authorWithIdRequest() const { return "select * from author where \"index\" == ?"; }

private:
    OEContext context_;
    std::shared_ptr<Loader> imagesDbLoader_;
    std::shared_ptr<Loader> articlesDbLoader_;
    Mutex loadMutex_ ACQUIRED_BEFORE(listMutex_);  // one load at a time: they share the connections
    mutable Mutex listMutex_;
    std::vector<std::shared_ptr<Article>> articles_ GUARDED_BY(listMutex_);
};
