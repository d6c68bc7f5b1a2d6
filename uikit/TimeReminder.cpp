// Elapsed-time counting with a repeating run-loop timer.
#include "uikit/TimeReminder.h"

#include "platform/dispatch/NSTimer.h"
#include "platform/foundation/NSUserDefaults.h"

std::shared_ptr<TimeReminder> TimeReminder::initWithInterval(double interval, const std::string& key,
                                                             std::function<void()> block) {
    auto reminder = std::shared_ptr<TimeReminder>(new TimeReminder(interval, key, std::move(block)));
    reminder->restartTimer();
    return reminder;
}

TimeReminder::TimeReminder(double interval, std::string key, std::function<void()> block)
    : currentTime_(NSUserDefaults::standardUserDefaults()->doubleForKey(key)),
      lastTickDate_(NSDate::date()),
      timeInterval_(interval),
      remindBlock_(std::move(block)),
      key_(std::move(key)) {}

TimeReminder::~TimeReminder() {
    stopTimer();
}

bool TimeReminder::isTicking() const {
    return timer_ && timer_->isValid();
}

void TimeReminder::restartTimer() {
    stopTimer();
    // The timer must not keep the reminder alive: destruction is what stops it.
    timer_ = NSTimer::scheduledTimerWithTimeInterval(
        tickInterval(), true, [weak = weakSelf<TimeReminder>()](const std::shared_ptr<NSTimer>& timer) {
            if (auto self = weak.lock()) self->timerTick(timer);
        });
}

void TimeReminder::stopTimer() {
    if (timer_ && timer_->isValid()) timer_->invalidate();
    timer_.reset();
}

void TimeReminder::storeLastTickTime() {
    auto defaults = NSUserDefaults::standardUserDefaults();
    defaults->setDouble(currentTime_, key_);
    // A failed write is told by the defaults, which keep the value and write it with the next change.
    (void)defaults->synchronize();
}

void TimeReminder::timerTick(const std::shared_ptr<NSTimer>& timer) {
    lastTickDate_ = NSDate::date();
    currentTime_ += timer ? timer->timeInterval() : tickInterval();
    if (!isStopped()) return;
    // Stopped before the block runs, so that a block re-running the reminder keeps it ticking;
    // and kept alive until the tick is over, as the block may drop it.
    auto self = shared_from_this();
    stopTimer();
    if (remindBlock_) remindBlock_();
}

void TimeReminder::suspend() {
    if (isTicking()) {
        const NSDate now = NSDate::date();
        currentTime_ += now.timeIntervalSinceDate(lastTickDate_);
        lastTickDate_ = now;
        stopTimer();
    }
    storeLastTickTime();
}

void TimeReminder::resume() {
    if (isTicking()) return;
    const NSDate now = NSDate::date();
    currentTime_ += now.timeIntervalSinceDate(lastTickDate_);
    // The suspended stretch is counted now; a suspension before the next tick must not count
    // it again.
    lastTickDate_ = now;
    restartTimer();
}

void TimeReminder::reRunReminder(double interval) {
    stopTimer();
    timeInterval_ = interval;
    currentTime_ = 0;
    restartTimer();
}
