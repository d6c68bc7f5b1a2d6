// A named one-shot timer on a dispatch queue; it cancels itself before running its block, so
// the block may arm it again. An alarm lives on its queue: it is armed, cancelled and read
// there (where its handler runs too), asserted in debug and sanitizer builds instead of a lock.
#pragma once

#include "platform/dispatch/SequenceChecker.h"
#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class DispatchBlock;
class DispatchQueue;

class APMAlarm : public NSObject {
public:
    // An empty name becomes "Timer".
    [[nodiscard]] static std::shared_ptr<APMAlarm> initWithDispatchQueue(std::shared_ptr<DispatchQueue> queue,
                                                                         const std::string& name);
    // Drops a pending run wherever the last owner lets go.
    ~APMAlarm() override;

    // Replaces any pending run; the block runs once on the queue after `delay` seconds of clock
    // time. An empty block logs 2000 and keeps what is pending.
    void runAfterDelay(double delay, std::function<void()> block);
    // Drops the pending run, if any.
    void cancel();
    bool hasActiveTimer() const;
    // When the pending run is due; nothing when none is pending.
    std::optional<NSDate> scheduledTimestamp() const;
    const std::string& name() const { return name_; }

private:
    void stopTimer();

    std::shared_ptr<DispatchQueue> queue_;
    std::shared_ptr<DispatchBlock> timer_;
    std::string name_;
    std::optional<NSDate> scheduledTimestamp_;
    SequenceChecker sequenceChecker_{"APMAlarm"};
};
