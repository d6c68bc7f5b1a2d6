// An article's own row: its document and its picture.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <string>

class RawArticle {
public:
    virtual ~RawArticle() = default;
    // The document identifier as stored.
    virtual Value articleId() const = 0;
    virtual std::int64_t imageId() const = 0;
    // The document's address.
    virtual std::string url() const = 0;
};
