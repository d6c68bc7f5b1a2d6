// One-shot named alarms over cancellable queued blocks.
#include "analytics/core/APMAlarm.h"

#include "analytics/core/APMMonitor.h"
#include "platform/dispatch/DispatchBlock.h"
#include "platform/dispatch/DispatchQueue.h"

std::shared_ptr<APMAlarm> APMAlarm::initWithDispatchQueue(std::shared_ptr<DispatchQueue> queue,
                                                          const std::string& name) {
    auto alarm = std::make_shared<APMAlarm>();
    alarm->queue_ = std::move(queue);
    alarm->name_ = name.empty() ? "Timer" : name;
    return alarm;
}

APMAlarm::~APMAlarm() { stopTimer(); }

bool APMAlarm::hasActiveTimer() const {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return timer_ && !timer_->testCancel();
}

std::optional<NSDate> APMAlarm::scheduledTimestamp() const {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return scheduledTimestamp_;
}

void APMAlarm::cancel() {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    stopTimer();
}

void APMAlarm::stopTimer() {
    if (!scheduledTimestamp_) return;
    APMMeasurementMonitor()->logWithLevel(7, 2003, name_ + " canceled");
    if (timer_ && !timer_->testCancel()) timer_->cancel();
    else APMMeasurementMonitor()->logWithLevel(4, 2004, name_ + " is not active");
    scheduledTimestamp_.reset();
}

void APMAlarm::runAfterDelay(double delay, std::function<void()> block) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!block) {
        APMMeasurementMonitor()->logWithLevel(1, 2000, name_ + " tried to schedule an empty block");
        return;
    }
    cancel();
    scheduledTimestamp_ = NSDate::dateWithTimeIntervalSinceNow(delay);
    std::weak_ptr<APMAlarm> weak = weakSelf<APMAlarm>();
    timer_ = DispatchBlock::create([weak, block = std::move(block)] {
        auto alarm = weak.lock();
        if (!alarm) return;
        APMMeasurementMonitor()->logWithLevel(7, 2001, alarm->name_ + " fired");
        alarm->cancel();
        block();
    });
    // Whole nanoseconds, as the timer's start time is given.
    const double seconds = static_cast<double>(static_cast<long long>(delay * 1e9)) / 1e9;
    if (queue_) queue_->after(seconds, timer_);
    APMMeasurementMonitor()->logWithLevel(7, 2002, name_ + " scheduled to fire in approx. (s)", Value(delay));
}
