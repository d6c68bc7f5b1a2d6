// Experiment records and their message form.
#include "analytics/experiments/APMEExperiment.h"

#include "analytics/core/APMMonitor.h"
#include "analytics/proto/APMPBExperiment.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBFlag.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMEMonitor.h"

std::shared_ptr<APMEExperiment> APMEExperiment::initWithExperimentID(
    std::int32_t experimentID, const std::vector<std::shared_ptr<APMPBFlag>>& flags) {
    auto experiment = std::make_shared<APMEExperiment>(experimentID);
    for (const auto& flag : flags) {
        if (!flag) {
            APMEManager::monitor()->logWithLevel(2, 870003, "Cannot add non-flag into the experiment. Flag", Value());
            return nullptr;
        }
        experiment->addFlag(flag);
    }
    return experiment;
}

std::shared_ptr<APMEExperiment> APMEExperiment::initWithProtobuf(const std::shared_ptr<APMPBExperiment>& proto) {
    if (!proto) return nullptr;
    const std::int32_t experimentID = APMPBMessageHasField(proto, APMPBExperiment::kExperimentId)
                                          ? APMPBMessageGetInt32(proto, APMPBExperiment::kExperimentId)
                                          : 0;
    std::vector<std::shared_ptr<APMPBFlag>> flags;
    for (const Value& item : APMPBMessageGetArray<APMPBFlag>(proto, APMPBExperiment::kFlags).value_or(Value::Array{})) {
        flags.push_back(item.objectAs<APMPBFlag>());
    }
    return initWithExperimentID(experimentID, flags);
}

std::vector<std::shared_ptr<APMPBFlag>> APMEExperiment::flags() const {
    MutexLock lock(mutex_);
    std::vector<std::shared_ptr<APMPBFlag>> out;
    out.reserve(flagsByName_.size());
    for (const auto& [name, flag] : flagsByName_) out.push_back(flag);
    return out;
}

void APMEExperiment::addFlag(const std::shared_ptr<APMPBFlag>& flag) {
    if (!flag) {
        APMEManager::monitor()->logWithLevel(2, 870004, "Cannot add empty flag into an experiment. ID",
                                              Value(experimentID_));
        return;
    }
    const auto name = APMPBMessageGetString(flag, APMPBFlag::kName);
    if (!name) {
        APMEManager::monitor()->logWithLevel(2, 870006, "Cannot add a flag without name into an experiment. ID",
                                              Value(experimentID_));
        return;
    }
    MutexLock lock(mutex_);
    flagsByName_[*name] = flag;
}

std::shared_ptr<APMPBFlag> APMEExperiment::flagWithName(const std::string& name) const {
    if (name.empty()) {
        APMEManager::monitor()->logWithLevel(2, 870007, "Cannot retrieve a flag without a flag name");
        return nullptr;
    }
    MutexLock lock(mutex_);
    auto found = flagsByName_.find(name);
    return found == flagsByName_.end() ? nullptr : found->second;
}

std::shared_ptr<APMEExperiment> APMEExperiment::copy() const { return initWithExperimentID(experimentID_, flags()); }

std::shared_ptr<APMPBExperiment> APMEExperiment::proto() const {
    auto proto = APMPBExperiment::make();
    APMPBMessageSetInt32(proto, APMPBExperiment::kExperimentId, experimentID_);
    Value::Array items;
    for (const auto& flag : flags()) items.push_back(Value(flag));
    APMPBMessageSetArray(proto, APMPBExperiment::kFlags, items);
    return proto;
}
