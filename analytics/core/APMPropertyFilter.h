// A stored audience user-property filter: its ids, property name, encoded filter message and flags.
#pragma once

#include "analytics/core/APMAudienceFilter.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <string>

class APMPropertyFilter : public NSObject, public APMAudienceFilter {
public:
    [[nodiscard]] static std::shared_ptr<APMPropertyFilter> initWithAudienceID(std::int32_t audienceID,
                                                                               std::int32_t filterID,
                                                                               const std::string& propertyName,
                                                                               const NSData& data, bool sessionScoped,
                                                                               bool dynamic, bool sequence) {
        return std::make_shared<APMPropertyFilter>(audienceID, filterID, propertyName, data, sessionScoped, dynamic,
                                                sequence);
    }

    std::int32_t audienceID() const override { return audienceID_; }
    std::int32_t filterID() const override { return filterID_; }
    const std::string& propertyName() const { return propertyName_; }
    const NSData& data() const { return data_; }
    bool isSessionScoped() const override { return sessionScoped_; }
    bool isDynamic() const override { return dynamic_; }
    bool isSequence() const override { return sequence_; }
    bool isEventFilter() const override { return false; }

    APMPropertyFilter(std::int32_t audienceID, std::int32_t filterID, std::string propertyName, NSData data,
                   bool sessionScoped, bool dynamic, bool sequence)
        : audienceID_(audienceID), filterID_(filterID), propertyName_(std::move(propertyName)), data_(std::move(data)),
          sessionScoped_(sessionScoped), dynamic_(dynamic), sequence_(sequence) {}

private:
    std::int32_t audienceID_;
    std::int32_t filterID_;
    std::string propertyName_;
    NSData data_;
    bool sessionScoped_;
    bool dynamic_;
    bool sequence_;
};
