// The identity of an SDK that takes part in experiments, and its part of the experiments
// request.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

class APMESDKProperty;
class APMExperimentContext;
class APMPBClientProperty;

// Supplies targeting properties worked out when each request is built.
class APMESDKPropertyProviderDelegate {
public:
    virtual ~APMESDKPropertyProviderDelegate() = default;
    // Added over the static properties (a key given by both keeps this value); nothing when
    // the delegate has none to give.
    virtual std::optional<std::map<std::string, std::string>> dynamicCustomPropertiesForSDKProperty(
        const APMESDKProperty& property) {
        static_cast<void>(property);
        return std::nullopt;
    }
};

class APMESDKProperty : public NSObject {
public:
    [[nodiscard]] static std::shared_ptr<APMESDKProperty> initWithName(const std::string& name);

    const std::string& name() const { return name_; }
    std::int64_t version() const;
    void setVersion(std::int64_t version);
    std::string appID() const;
    void setAppID(const std::string& appID);
    // The SDK's own key; empty means the identity's.
    std::string diversionKey() const;
    void setDiversionKey(const std::string& diversionKey);
    std::map<std::string, std::string> customProperties() const;
    void setCustomProperties(const std::map<std::string, std::string>& properties);
    void setDelegate(std::weak_ptr<APMESDKPropertyProviderDelegate> delegate);

    // The client property of the request: diversion id "<key>-<name>", name, version, app id
    // and custom properties (only when there is one). Nil without any diversion key (860001).
    std::shared_ptr<APMPBClientProperty> proto(APMExperimentContext& context) const;

    explicit APMESDKProperty(std::string name) : name_(std::move(name)) {}

private:
    const std::string name_;
    mutable Mutex mutex_;
    std::int64_t version_ GUARDED_BY(mutex_) = 0;
    std::string appID_ GUARDED_BY(mutex_);
    std::string diversionKey_ GUARDED_BY(mutex_);
    std::map<std::string, std::string> customProperties_ GUARDED_BY(mutex_);
    std::weak_ptr<APMESDKPropertyProviderDelegate> delegate_ GUARDED_BY(mutex_);
};
