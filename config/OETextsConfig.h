// The text part of the configuration: default font sizes of the picture information and the text reader.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>

class OETextsConfig : public NSObject {
public:
    static std::shared_ptr<OETextsConfig> initWithDefaultFontSize(std::int64_t defFontSize, std::int64_t textDefFontSize);

    std::int64_t defFontSize() const { return defFontSize_; }
    void setDefFontSize(std::int64_t value) { defFontSize_ = value; }
    std::int64_t textDefFontSize() const { return textDefFontSize_; }
    void setTextDefFontSize(std::int64_t value) { textDefFontSize_ = value; }

private:
    std::int64_t defFontSize_ = 0;
    std::int64_t textDefFontSize_ = 0;
};
