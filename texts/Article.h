// One article: its own row, its picture and the picture's painter.
#pragma once

#include "platform/foundation/NSObject.h"
#include "texts/RawArticle.h"
#include "texts/RawAuthor.h"
#include "texts/RawImage.h"

#include <memory>
#include <string>

class Article : public NSObject {
public:
    static std::shared_ptr<Article> initWithRaw(std::shared_ptr<const RawArticle> article,
                                                std::shared_ptr<const RawImage> image,
                                                std::shared_ptr<const RawAuthor> author);

    const std::shared_ptr<const RawArticle>& rawArticle() const { return rawArticle_; }
    const std::shared_ptr<const RawImage>& rawImage() const { return rawImage_; }
    const std::shared_ptr<const RawAuthor>& rawAuthor() const { return rawAuthor_; }
    std::string authorName() const { return rawAuthor_ ? rawAuthor_->name() : ""; }
    std::string imageName() const { return rawImage_ ? rawImage_->name() : ""; }
    std::string url() const { return rawArticle_ ? rawArticle_->url() : ""; }

private:
    std::shared_ptr<const RawArticle> rawArticle_;
    std::shared_ptr<const RawImage> rawImage_;
    std::shared_ptr<const RawAuthor> rawAuthor_;
};
