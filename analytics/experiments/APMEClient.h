// The handle an SDK receives when it registers with the experiments manager: it reads the
// SDK's flags, activates the latest snapshot and learns of new snapshots and fetch errors
// through its delegate.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>
#include <vector>

class APMEClient;
class APMEManager;
class APMESDKProperty;
class APMPBFlag;
class DispatchQueue;

class APMEExperimentObserverDelegate {
public:
    virtual ~APMEExperimentObserverDelegate() = default;

    // Whether clientDidReceiveNewSnapshot is implemented: such a client activates new
    // snapshots itself, when it chooses (they are not activated at the next start).
    virtual bool respondsToClientDidReceiveNewSnapshot() const { return false; }
    // On queue(), or the main queue when it gives none.
    virtual void clientDidReceiveNewSnapshot(APMEClient& client) { static_cast<void>(client); }
    virtual void clientDidReceiveFetchError(APMEClient& client, const NSErrorPtr& error) {
        static_cast<void>(client);
        static_cast<void>(error);
    }
    // Asked as a fetch falls due; a fetch is made when any client's delegate says yes.
    virtual bool shouldFetchExperimentsForClient(APMEClient& client) {
        static_cast<void>(client);
        return true;
    }
    virtual std::shared_ptr<DispatchQueue> queue() const { return nullptr; }
};

class APMEClient : public NSObject {
public:
    // Nil without a property (830000).
    [[nodiscard]] static std::shared_ptr<APMEClient> initWithSDKProperty(
        std::shared_ptr<APMESDKProperty> property, std::vector<std::shared_ptr<APMPBFlag>> defaultFlags,
        std::weak_ptr<APMEManager> manager);

    // The flag's value: from the activated snapshot, else the launched one, else the default;
    // null for an empty name (830002) or a flag that was not declared.
    Value valueForFlag(const std::string& name);
    // The value an activated or launched snapshot gives the declared flag; null when only its
    // default would answer (a component with a setting of its own then reads that instead).
    Value experimentValueForFlag(const std::string& name);
    [[nodiscard]] bool activateLatestSnapshot(NSErrorPtr* error);
    // The activated snapshot is older than three days.
    bool hasStaleSnapshot();
    void resetToDefaults();

    std::string SDKName() const;
    const std::vector<std::shared_ptr<APMPBFlag>>& defaultFlags() const { return defaultFlags_; }
    const std::shared_ptr<APMESDKProperty>& SDKProperty() const { return property_; }
    std::shared_ptr<APMEExperimentObserverDelegate> delegate() const;
    void setDelegate(std::weak_ptr<APMEExperimentObserverDelegate> delegate);

    APMEClient(std::shared_ptr<APMESDKProperty> property, std::vector<std::shared_ptr<APMPBFlag>> defaultFlags,
               std::weak_ptr<APMEManager> manager)
        : property_(std::move(property)), defaultFlags_(std::move(defaultFlags)), manager_(std::move(manager)) {}

private:
    Value lookUp(const std::string& name, bool orDefault);

    const std::shared_ptr<APMESDKProperty> property_;
    const std::vector<std::shared_ptr<APMPBFlag>> defaultFlags_;
    const std::weak_ptr<APMEManager> manager_;
    mutable Mutex mutex_;
    std::weak_ptr<APMEExperimentObserverDelegate> delegate_ GUARDED_BY(mutex_);
};
