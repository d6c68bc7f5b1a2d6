// One audience's stored results: the encoded current and previous result messages.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>

class APMFilterResult : public NSObject {
public:
    [[nodiscard]] static std::shared_ptr<APMFilterResult> initWithAudienceID(std::int32_t audienceID,
                                                                             std::optional<NSData> currentResults,
                                                                             std::optional<NSData> previousResults) {
        return std::make_shared<APMFilterResult>(audienceID, std::move(currentResults), std::move(previousResults));
    }

    std::int32_t audienceID() const { return audienceID_; }
    const std::optional<NSData>& currentResults() const { return currentResults_; }
    const std::optional<NSData>& previousResults() const { return previousResults_; }

    APMFilterResult(std::int32_t audienceID, std::optional<NSData> currentResults,
                    std::optional<NSData> previousResults)
        : audienceID_(audienceID), currentResults_(std::move(currentResults)),
          previousResults_(std::move(previousResults)) {}

private:
    std::int32_t audienceID_;
    std::optional<NSData> currentResults_;
    std::optional<NSData> previousResults_;
};
