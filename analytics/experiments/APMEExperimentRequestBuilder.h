// Builds the experiments request: the application's properties and one client property per
// registered SDK. SDKs are added on the manager's queue while requests are built on the task
// manager's.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <map>
#include <memory>
#include <string>

class APMESDKProperty;
class APMExperimentContext;
class APMPBAppProperty;
class APMPBExperimentRequest;

class APMEExperimentRequestBuilder : public NSObject {
public:
    [[nodiscard]] static std::shared_ptr<APMEExperimentRequestBuilder> initWithContext(
        std::shared_ptr<APMExperimentContext> context);

    // Replaces an earlier property of the same name; a missing one logs 880000.
    void addSDKProperty(const std::shared_ptr<APMESDKProperty>& property);
    // Platform "ios", the first preferred language in lower case (none when there is none),
    // the bundle id, whether installed from the store, the framework's version.
    std::shared_ptr<APMPBAppProperty> appPropertyProto() const;
    // The app property and the client property of every SDK that has a diversion key.
    std::shared_ptr<APMPBExperimentRequest> request() const;

    explicit APMEExperimentRequestBuilder(std::shared_ptr<APMExperimentContext> context)
        : context_(std::move(context)) {}

private:
    const std::shared_ptr<APMExperimentContext> context_;
    mutable Mutex mutex_;
    std::map<std::string, std::shared_ptr<APMESDKProperty>> clientPropertyBySDKName_ GUARDED_BY(mutex_);
};
