// An article's three records.
#include "texts/Article.h"

std::shared_ptr<Article> Article::initWithRaw(std::shared_ptr<const RawArticle> article,
                                              std::shared_ptr<const RawImage> image,
                                              std::shared_ptr<const RawAuthor> author) {
    auto made = std::make_shared<Article>();
    made->rawArticle_ = std::move(article);
    made->rawImage_ = std::move(image);
    made->rawAuthor_ = std::move(author);
    return made;
}
