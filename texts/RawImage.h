// The picture an article is about: its row of the images database.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <string>

class RawImage {
public:
    virtual ~RawImage() = default;
    virtual const Value::Dictionary& data() const = 0;
    virtual std::int64_t imageId() const = 0;
    virtual std::int64_t authorId() const = 0;
    // In the current language.
    virtual std::string name() const = 0;
};
