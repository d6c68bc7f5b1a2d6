// An SDK's properties and its client property of the experiments request.
#include "analytics/experiments/APMESDKProperty.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/experiments/APMExperimentContext.h"
#include "analytics/proto/APMPBClientProperty.h"
#include "analytics/proto/APMPBCustomProperty.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMEMonitor.h"

std::shared_ptr<APMESDKProperty> APMESDKProperty::initWithName(const std::string& name) {
    return std::make_shared<APMESDKProperty>(name);
}

std::int64_t APMESDKProperty::version() const {
    MutexLock lock(mutex_);
    return version_;
}

void APMESDKProperty::setVersion(std::int64_t version) {
    MutexLock lock(mutex_);
    version_ = version;
}

std::string APMESDKProperty::appID() const {
    MutexLock lock(mutex_);
    return appID_;
}

void APMESDKProperty::setAppID(const std::string& appID) {
    MutexLock lock(mutex_);
    appID_ = appID;
}

std::string APMESDKProperty::diversionKey() const {
    MutexLock lock(mutex_);
    return diversionKey_;
}

void APMESDKProperty::setDiversionKey(const std::string& diversionKey) {
    MutexLock lock(mutex_);
    diversionKey_ = diversionKey;
}

std::map<std::string, std::string> APMESDKProperty::customProperties() const {
    MutexLock lock(mutex_);
    return customProperties_;
}

void APMESDKProperty::setCustomProperties(const std::map<std::string, std::string>& properties) {
    MutexLock lock(mutex_);
    customProperties_ = properties;
}

void APMESDKProperty::setDelegate(std::weak_ptr<APMESDKPropertyProviderDelegate> delegate) {
    MutexLock lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<APMPBClientProperty> APMESDKProperty::proto(APMExperimentContext& context) const {
    std::string key = diversionKey();
    if (key.empty()) key = context.diversionKey();
    if (key.empty()) {
        APMEManager::monitor()->logWithLevel(1, 860001, "Diversion key is empty");
        return nullptr;
    }
    std::shared_ptr<APMESDKPropertyProviderDelegate> delegate;
    {
        MutexLock lock(mutex_);
        delegate = delegate_.lock();
    }
    auto proto = APMPBClientProperty::make();
    APMPBMessageSetString(proto, APMPBClientProperty::kDiversionId, key + "-" + name_);
    APMPBMessageSetString(proto, APMPBClientProperty::kSdkName, name_);
    if (const std::string id = appID(); !id.empty()) APMPBMessageSetString(proto, APMPBClientProperty::kAppId, id);
    APMPBMessageSetInt64(proto, APMPBClientProperty::kSdkVersion, version());
    std::map<std::string, std::string> properties = customProperties();
    if (delegate) {
        if (auto dynamic = delegate->dynamicCustomPropertiesForSDKProperty(*this)) {
            for (const auto& [name, value] : *dynamic) properties[name] = value;
        }
    }
    if (!properties.empty()) {
        Value::Array items;
        for (const auto& [name, value] : properties) {
            auto item = APMPBCustomProperty::make();
            APMPBMessageSetString(item, APMPBCustomProperty::kKey, name);
            APMPBMessageSetString(item, APMPBCustomProperty::kValue, value);
            items.push_back(Value(item));
        }
        APMPBMessageSetArray(proto, APMPBClientProperty::kCustomProperties, items);
    }
    return proto;
}
