// Runs a block once a set amount of time has passed, counted in 60-second ticks plus the partial
// and suspended stretches while the process lives; the count is stored in the user defaults at
// every suspension.
#pragma once

#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <string>

class NSTimer;

class TimeReminder : public NSObject {
public:
    // Starts counting at once, from the time stored under `key` (0 when none). Registering it
    // with the remind manager is the creator's business. Made on a thread with a run loop.
    static std::shared_ptr<TimeReminder> initWithInterval(double interval, const std::string& key,
                                                          std::function<void()> block);
    ~TimeReminder() override;

    // Adds the stretch since the last tick and stops the ticks; stores the count in any case.
    void suspend();
    // Adds the time spent suspended and ticks again; nothing while it ticks.
    void resume();
    // Counts from 0 towards a new interval.
    void reRunReminder(double interval);
    bool isStopped() const { return currentTime_ >= timeInterval_; }

    void restartTimer();
    void stopTimer();
    // Writes the count under the key and synchronises the defaults.
    void storeLastTickTime();
    void timerTick(const std::shared_ptr<NSTimer>& timer);

    double currentTime() const { return currentTime_; }
    double timeInterval() const { return timeInterval_; }
    const NSDate& lastTickDate() const { return lastTickDate_; }
    const std::string& key() const { return key_; }
    bool isTicking() const;

    static constexpr double tickInterval() { return 60.0; }

private:
    TimeReminder(double interval, std::string key, std::function<void()> block);

    double currentTime_ = 0;
    NSDate lastTickDate_;
    double timeInterval_;
    std::shared_ptr<NSTimer> timer_;
    std::function<void()> remindBlock_;
    std::string key_;
};
