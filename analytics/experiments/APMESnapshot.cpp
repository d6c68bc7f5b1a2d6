// Snapshot records and their message form.
#include "analytics/experiments/APMESnapshot.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/experiments/APMEExperiment.h"
#include "analytics/proto/APMPBExperiment.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBFlag.h"
#include "analytics/proto/APMPBSnapshot.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMEMonitor.h"
#include "platform/foundation/Clock.h"

std::shared_ptr<APMESnapshot> APMESnapshot::initWithSDKName(
    const std::string& SDKName, const std::vector<std::shared_ptr<APMEExperiment>>& experiments) {
    if (SDKName.empty()) {
        APMEManager::monitor()->logWithLevel(2, 840000, "Cannot create snapshot with an invalid SDK name",
                                              Value(SDKName));
        return nullptr;
    }
    auto snapshot = std::make_shared<APMESnapshot>(SDKName, Clock::now());
    for (const auto& experiment : experiments) {
        auto copy = experiment ? experiment->copy() : nullptr;
        if (!copy) {
            APMEManager::monitor()->logWithLevel(2, 840002, "Cannot create snapshot with an invalid experiment",
                                                  Value());
            return nullptr;
        }
        MutexLock lock(snapshot->mutex_);
        snapshot->experimentsByID_[copy->experimentID()] = copy;
    }
    return snapshot;
}

std::shared_ptr<APMESnapshot> APMESnapshot::initWithProtobuf(const std::shared_ptr<APMPBSnapshot>& proto) {
    if (!proto) return nullptr;
    std::vector<std::shared_ptr<APMEExperiment>> experiments;
    for (const Value& item :
         APMPBMessageGetArray<APMPBExperiment>(proto, APMPBSnapshot::kExperiments).value_or(Value::Array{})) {
        if (auto experiment = APMEExperiment::initWithProtobuf(item.objectAs<APMPBExperiment>())) {
            experiments.push_back(std::move(experiment));
        }
    }
    return initWithSDKName(APMPBMessageGetString(proto, APMPBSnapshot::kSdkName).value_or(""), experiments);
}

std::vector<std::shared_ptr<APMEExperiment>> APMESnapshot::experiments() const {
    MutexLock lock(mutex_);
    std::vector<std::shared_ptr<APMEExperiment>> out;
    out.reserve(experimentsByID_.size());
    for (const auto& [id, experiment] : experimentsByID_) out.push_back(experiment);
    return out;
}

std::shared_ptr<APMEExperiment> APMESnapshot::experimentWithID(std::int32_t experimentID) const {
    MutexLock lock(mutex_);
    auto found = experimentsByID_.find(experimentID);
    return found == experimentsByID_.end() ? nullptr : found->second;
}

std::shared_ptr<APMPBFlag> APMESnapshot::flagByName(const std::string& name) const {
    for (const auto& experiment : experiments()) {
        if (auto flag = experiment->flagWithName(name)) return flag;
    }
    return nullptr;
}

void APMESnapshot::addFlag(const std::shared_ptr<APMPBFlag>& flag, std::int32_t experimentID) {
    if (!flag) {
        APMEManager::monitor()->logWithLevel(2, 840004, "Cannot add an invalid flag into a snapshot",
                                              Value(experimentID));
        return;
    }
    MutexLock lock(mutex_);
    auto& experiment = experimentsByID_[experimentID];
    if (experiment) {
        experiment->addFlag(flag);
    } else if (auto made = APMEExperiment::initWithExperimentID(experimentID, {flag})) {
        experiment = std::move(made);
    } else {
        experimentsByID_.erase(experimentID);
    }
}

void APMESnapshot::addFlags(const std::vector<std::shared_ptr<APMPBFlag>>& flags, std::int32_t experimentID) {
    for (const auto& flag : flags) addFlag(flag, experimentID);
}

std::shared_ptr<APMESnapshot> APMESnapshot::copy() const { return initWithSDKName(SDKName_, experiments()); }

std::shared_ptr<APMPBSnapshot> APMESnapshot::proto() const {
    auto proto = APMPBSnapshot::make();
    APMPBMessageSetString(proto, APMPBSnapshot::kSdkName, SDKName_);
    Value::Array items;
    for (const auto& experiment : experiments()) items.push_back(Value(experiment->proto()));
    APMPBMessageSetArray(proto, APMPBSnapshot::kExperiments, items);
    return proto;
}

double APMESnapshot::timestamp() const {
    MutexLock lock(mutex_);
    return timestamp_;
}

void APMESnapshot::setTimestamp(double timestamp) {
    MutexLock lock(mutex_);
    timestamp_ = timestamp;
}

bool APMESnapshot::manuallyActivated() const {
    MutexLock lock(mutex_);
    return manuallyActivated_;
}

void APMESnapshot::setManuallyActivated(bool manuallyActivated) {
    MutexLock lock(mutex_);
    manuallyActivated_ = manuallyActivated;
}
