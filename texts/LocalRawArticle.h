// An "articles" row: "id" (the document), "image_id" (its picture).
#pragma once

#include "platform/foundation/NSObject.h"
#include "texts/RawArticle.h"

#include <memory>
#include <string>

class LocalRawArticle : public NSObject, public RawArticle {
public:
    // The articles' documents are at "https://<documentHost>/document/d/<id>".
    static std::shared_ptr<LocalRawArticle> initWithDict(Value::Dictionary row, const std::string& documentHost);

    Value articleId() const override { return row_.get("id"); }
    std::int64_t imageId() const override;
    // The identifier percent-encoded as one path segment.
    std::string url() const override;

private:
    Value::Dictionary row_;
    std::string documentHost_;
};
