// An articles row and its document's address.
#include "texts/LocalRawArticle.h"

#include "platform/foundation/PercentEncoding.h"

std::shared_ptr<LocalRawArticle> LocalRawArticle::initWithDict(Value::Dictionary row, const std::string& documentHost) {
    auto article = std::make_shared<LocalRawArticle>();
    article->row_ = std::move(row);
    article->documentHost_ = documentHost;
    return article;
}

std::int64_t LocalRawArticle::imageId() const { return row_.get("image_id").integerValue(); }

std::string LocalRawArticle::url() const {
    // One segment: a "/" or "?" in an identifier cannot lead elsewhere on the host.
    const auto segment = URLAllowedCharacterSet::URLPathAllowed().removingCharactersInString("/?#;");
    return "https://" + documentHost_ + "/document/d/" +
           stringByAddingPercentEncodingWithAllowedCharacters(articleId().stringValue(), segment);
}
