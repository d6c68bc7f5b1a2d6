// The experiments request.
#include "analytics/experiments/APMEExperimentRequestBuilder.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMEMonitor.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "analytics/experiments/APMExperimentContext.h"
#include "analytics/proto/APMPBAppProperty.h"
#include "analytics/proto/APMPBClientProperty.h"
#include "analytics/proto/APMPBExperimentRequest.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSLocale.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ProcessShared.h"

namespace {

ProcessShared<APMEExperimentRequestBuilder> gRequestBuilder;

}  // namespace

std::shared_ptr<APMEExperimentRequestBuilder> APMEExperimentRequestBuilder::sharedInstance() {
    return gRequestBuilder.get();
}

void APMEExperimentRequestBuilder::resetSharedInstance() { (void)gRequestBuilder.take(); }

bool APMEExperimentRequestBuilder::hasSharedInstance() { return gRequestBuilder.current() != nullptr; }

std::shared_ptr<APMEExperimentRequestBuilder> APMEExperimentRequestBuilder::make() {
    return std::make_shared<APMEExperimentRequestBuilder>();
}

void APMEExperimentRequestBuilder::addSDKProperty(const std::shared_ptr<APMESDKProperty>& property) {
    if (!property) {
        APMEManager::monitor()->logWithLevel(2, 880000, "Cannot add an empty SDK property.");
        return;
    }
    MutexLock lock(mutex_);
    clientPropertyBySDKName_[property->name()] = property;
}

std::shared_ptr<APMPBAppProperty> APMEExperimentRequestBuilder::appPropertyProto(APMExperimentContext& context) const {
    auto proto = APMPBAppProperty::make();
    const std::vector<std::string> languages = NSLocale::preferredLanguages();
    if (!languages.empty()) {
        APMPBMessageSetString(proto, APMPBAppProperty::kLanguage, NSString::lowercaseString(languages.front()));
    }
    APMPBMessageSetString(proto, APMPBAppProperty::kBundleId, NSBundle::mainBundle()->bundleIdentifier());
    APMPBMessageSetString(proto, APMPBAppProperty::kPlatform, "ios");
    APMPBMessageSetBool(proto, APMPBAppProperty::kFromAppStore, context.isFromAppStore());
    APMPBMessageSetInt64(proto, APMPBAppProperty::kSdkVersion, APMEManager::version());
    return proto;
}

std::shared_ptr<APMPBExperimentRequest> APMEExperimentRequestBuilder::request(APMExperimentContext& context) const {
    std::map<std::string, std::shared_ptr<APMESDKProperty>> properties;
    {
        MutexLock lock(mutex_);
        properties = clientPropertyBySDKName_;
    }
    auto request = APMPBExperimentRequest::make();
    Value::Array clients;
    for (const auto& [name, property] : properties) {
        if (auto client = property->proto(context)) clients.push_back(Value(client));
    }
    if (!clients.empty()) APMPBMessageSetArray(request, APMPBExperimentRequest::kClientProperties, clients);
    APMPBMessageSetMessage(request, APMPBExperimentRequest::kAppProperty, appPropertyProto(context));
    return request;
}
