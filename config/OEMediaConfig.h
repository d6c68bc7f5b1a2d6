// The media part of the configuration: which encoding of the compositions the server folder holds.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class OEMediaConfig : public NSObject {
public:
    static std::shared_ptr<OEMediaConfig> initWithMediaFormat(std::int64_t mediaFormatType);

    std::int64_t mediaFormatType() const { return mediaFormatType_; }
    void setMediaFormatType(std::int64_t value) { mediaFormatType_ = value; }
    // 0 "m4a", 1 "mp3", 2 "loseless"; no string for any other type.
    [[nodiscard]] std::optional<std::string> mediaFormat() const;

private:
    std::int64_t mediaFormatType_ = 0;
};
