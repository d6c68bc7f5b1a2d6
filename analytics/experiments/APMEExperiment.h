// One experiment of an SDK's snapshot: its id (0 is the SDK's launched experiment) and its
// flags by name, one flag per name.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class APMPBExperiment;
class APMPBFlag;

class APMEExperiment : public NSObject {
public:
    // Nil (and 870003) when a flag is missing; a flag without a name is left out (870006).
    [[nodiscard]] static std::shared_ptr<APMEExperiment> initWithExperimentID(
        std::int32_t experimentID, const std::vector<std::shared_ptr<APMPBFlag>>& flags);
    // The id of tag 1 (0 when absent) and the flags of tag 2.
    [[nodiscard]] static std::shared_ptr<APMEExperiment> initWithProtobuf(const std::shared_ptr<APMPBExperiment>& proto);

    std::int32_t experimentID() const { return experimentID_; }
    // In name order.
    std::vector<std::shared_ptr<APMPBFlag>> flags() const;
    // Replaces the flag of the same name; a missing flag (870004) or one without a name
    // (870006) is refused.
    void addFlag(const std::shared_ptr<APMPBFlag>& flag);
    // Nil for an empty name (870007) or an unknown one.
    std::shared_ptr<APMPBFlag> flagWithName(const std::string& name) const;
    [[nodiscard]] std::shared_ptr<APMEExperiment> copy() const;
    // Tag 1 the id, tag 2 every flag (set even when there is none).
    std::shared_ptr<APMPBExperiment> proto() const;

    explicit APMEExperiment(std::int32_t experimentID) : experimentID_(experimentID) {}

private:
    const std::int32_t experimentID_;
    // An experiment may be read on the task manager's queue while the manager's queue copies it.
    mutable Mutex mutex_;
    std::map<std::string, std::shared_ptr<APMPBFlag>> flagsByName_ GUARDED_BY(mutex_);
};
