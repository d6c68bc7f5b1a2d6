// A picture row in the current language.
#include "texts/LocalRawImage.h"

std::shared_ptr<LocalRawImage> LocalRawImage::initWithDict(Value::Dictionary row, std::shared_ptr<OELocalizations> locale) {
    auto image = std::make_shared<LocalRawImage>();
    image->row_ = std::move(row);
    image->locale_ = std::move(locale);
    return image;
}

std::int64_t LocalRawImage::imageId() const { return row_.get("index").integerValue(); }

std::int64_t LocalRawImage::authorId() const { return row_.get("author").integerValue(); }

std::string LocalRawImage::name() const { return locale_ ? locale_->localizedNameFieldValue(row_) : ""; }
