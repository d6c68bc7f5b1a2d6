// A raw event read back from the database: the event, its row id and its metadata fingerprint.
#pragma once

#include "analytics/core/APMEvent.h"
#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>

class APMRawEventData : public NSObject {
public:
    // Nil (and logged) without an event or with a negative row id; row id 0 is a record to write.
    [[nodiscard]] static std::shared_ptr<APMRawEventData> initWithRawEvent(const std::shared_ptr<APMEvent>& rawEvent,
                                                                           std::int64_t rowID,
                                                                           std::int64_t metadataFingerprint);

    const std::shared_ptr<APMEvent>& rawEvent() const { return rawEvent_; }
    std::int64_t rowID() const { return rowID_; }
    std::int64_t metadataFingerprint() const { return metadataFingerprint_; }

    APMRawEventData(std::shared_ptr<APMEvent> rawEvent, std::int64_t rowID, std::int64_t metadataFingerprint)
        : rawEvent_(std::move(rawEvent)), rowID_(rowID), metadataFingerprint_(metadataFingerprint) {}

private:
    std::shared_ptr<APMEvent> rawEvent_;
    std::int64_t rowID_;
    std::int64_t metadataFingerprint_;
};
