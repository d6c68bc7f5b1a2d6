// A stored audience event filter: its ids, event name, encoded filter message and flags.
#pragma once

#include "analytics/core/APMAudienceFilter.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <string>

class APMEventFilter : public NSObject, public APMAudienceFilter {
public:
    [[nodiscard]] static std::shared_ptr<APMEventFilter> initWithAudienceID(std::int32_t audienceID,
                                                                            std::int32_t filterID,
                                                                            const std::string& eventName,
                                                                            const NSData& data, bool sessionScoped,
                                                                            bool dynamic, bool sequence) {
        return std::make_shared<APMEventFilter>(audienceID, filterID, eventName, data, sessionScoped, dynamic,
                                                sequence);
    }

    std::int32_t audienceID() const override { return audienceID_; }
    std::int32_t filterID() const override { return filterID_; }
    const std::string& eventName() const { return eventName_; }
    const NSData& data() const { return data_; }
    bool isSessionScoped() const override { return sessionScoped_; }
    bool isDynamic() const override { return dynamic_; }
    bool isSequence() const override { return sequence_; }
    bool isEventFilter() const override { return true; }

    APMEventFilter(std::int32_t audienceID, std::int32_t filterID, std::string eventName, NSData data,
                   bool sessionScoped, bool dynamic, bool sequence)
        : audienceID_(audienceID), filterID_(filterID), eventName_(std::move(eventName)), data_(std::move(data)),
          sessionScoped_(sessionScoped), dynamic_(dynamic), sequence_(sequence) {}

private:
    std::int32_t audienceID_;
    std::int32_t filterID_;
    std::string eventName_;
    NSData data_;
    bool sessionScoped_;
    bool dynamic_;
    bool sequence_;
};
