// Builds the experiments request: the application's properties and one client property per
// registered SDK. One per process: SDKs are added on the manager's queue while requests are
// built on the task manager's, with what the engine's context says of the application.
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
    // The process's builder, made on first use.
    static std::shared_ptr<APMEExperimentRequestBuilder> sharedInstance();
    // Forgets the process's builder and the SDKs added to it, as a new process would start (tests).
    static void resetSharedInstance();
    // Whether the process's builder is made, without making it.
    static bool hasSharedInstance();
    [[nodiscard]] static std::shared_ptr<APMEExperimentRequestBuilder> make();

    // Replaces an earlier property of the same name; a missing one logs 880000.
    void addSDKProperty(const std::shared_ptr<APMESDKProperty>& property);
    // Platform "ios", the first preferred language in lower case (none when there is none),
    // the bundle id, whether installed from the store, the framework's version.
    std::shared_ptr<APMPBAppProperty> appPropertyProto(APMExperimentContext& context) const;
    // The app property and the client property of every SDK that has a diversion key.
    std::shared_ptr<APMPBExperimentRequest> request(APMExperimentContext& context) const;

private:
    mutable Mutex mutex_;
    std::map<std::string, std::shared_ptr<APMESDKProperty>> clientPropertyBySDKName_ GUARDED_BY(mutex_);
};
