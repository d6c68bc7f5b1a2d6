// A registered SDK's handle on the experiments manager.
#include "analytics/experiments/APMEClient.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMEMonitor.h"
#include "analytics/experiments/APMESDKProperty.h"

std::shared_ptr<APMEClient> APMEClient::initWithSDKProperty(std::shared_ptr<APMESDKProperty> property,
                                                            std::vector<std::shared_ptr<APMPBFlag>> defaultFlags,
                                                            std::weak_ptr<APMEManager> manager) {
    if (!property) {
        APMEManager::monitor()->logWithLevel(0, 830000, "Cannot initialize the client with nil property");
        return nullptr;
    }
    return std::make_shared<APMEClient>(std::move(property), std::move(defaultFlags), std::move(manager));
}

Value APMEClient::valueForFlag(const std::string& name) { return lookUp(name, true); }

Value APMEClient::experimentValueForFlag(const std::string& name) { return lookUp(name, false); }

Value APMEClient::lookUp(const std::string& name, bool orDefault) {
    if (name.empty()) {
        APMEManager::monitor()->logWithLevel(0, 830002, "Cannot get value for empty flag name");
        return Value();
    }
    auto manager = manager_.lock();
    return manager ? manager->flagValueForFlagName(name, SDKName(), orDefault) : Value();
}

bool APMEClient::activateLatestSnapshot(NSErrorPtr* error) {
    auto manager = manager_.lock();
    return manager && manager->activateSnapshotOfSDK(SDKName(), error);
}

bool APMEClient::hasStaleSnapshot() {
    auto manager = manager_.lock();
    return manager && manager->activatedSnapshotStatusOfSDKName(SDKName()) == APMEActivatedSnapshotStale;
}

void APMEClient::resetToDefaults() {
    if (auto manager = manager_.lock()) manager->resetToDefaultsOfSDKName(SDKName());
}

std::string APMEClient::SDKName() const { return property_->name(); }

std::shared_ptr<APMEExperimentObserverDelegate> APMEClient::delegate() const {
    MutexLock lock(mutex_);
    return delegate_.lock();
}

void APMEClient::setDelegate(std::weak_ptr<APMEExperimentObserverDelegate> delegate) {
    MutexLock lock(mutex_);
    delegate_ = std::move(delegate);
}
