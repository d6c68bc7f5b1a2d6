// All experiments of one SDK as fetched or stored at one time, one experiment per id.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class APMEExperiment;
class APMPBFlag;
class APMPBSnapshot;

class APMESnapshot : public NSObject {
public:
    // Nil for an empty SDK name (840000) or a missing experiment (840002). Copies of the
    // experiments are kept; a later one with the same id replaces an earlier one. The
    // timestamp is now; not manually activated.
    [[nodiscard]] static std::shared_ptr<APMESnapshot> initWithSDKName(
        const std::string& SDKName, const std::vector<std::shared_ptr<APMEExperiment>>& experiments);
    // Tag 1 the SDK name, tag 2 the experiments (those that cannot be read are skipped).
    [[nodiscard]] static std::shared_ptr<APMESnapshot> initWithProtobuf(const std::shared_ptr<APMPBSnapshot>& proto);

    const std::string& SDKName() const { return SDKName_; }
    // In id order.
    std::vector<std::shared_ptr<APMEExperiment>> experiments() const;
    std::shared_ptr<APMEExperiment> experimentWithID(std::int32_t experimentID) const;
    // The flag of that name in the first experiment (in id order) that has one.
    std::shared_ptr<APMPBFlag> flagByName(const std::string& name) const;
    // Into the experiment of that id, made when there is none; a missing flag logs 840004.
    void addFlag(const std::shared_ptr<APMPBFlag>& flag, std::int32_t experimentID);
    void addFlags(const std::vector<std::shared_ptr<APMPBFlag>>& flags, std::int32_t experimentID);
    // The name and experiments, with a fresh timestamp and not manually activated.
    [[nodiscard]] std::shared_ptr<APMESnapshot> copy() const;
    // Tag 1 the SDK name, tag 2 each experiment (set even when there is none).
    std::shared_ptr<APMPBSnapshot> proto() const;

    // Seconds since 1970: when it was made, or what its stored row says.
    double timestamp() const;
    void setTimestamp(double timestamp);
    bool manuallyActivated() const;
    void setManuallyActivated(bool manuallyActivated);

    APMESnapshot(std::string SDKName, double timestamp) : SDKName_(std::move(SDKName)), timestamp_(timestamp) {}

private:
    const std::string SDKName_;
    // A snapshot handed to the task manager's queue may still be read on the manager's.
    mutable Mutex mutex_;
    std::map<std::int32_t, std::shared_ptr<APMEExperiment>> experimentsByID_ GUARDED_BY(mutex_);
    double timestamp_ GUARDED_BY(mutex_);
    bool manuallyActivated_ GUARDED_BY(mutex_) = false;
};
