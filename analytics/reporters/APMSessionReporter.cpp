// Sessions and engagement.
#include "analytics/reporters/APMSessionReporter.h"

#include "analytics/core/APMAlarm.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMValue.h"
#include "analytics/reporters/APMAppActivity.h"
#include "analytics/reporters/APMReporterContext.h"
#include "analytics/reporters/APMScreen.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kAutoOrigin = "auto";

Value int64Value(std::int64_t value) { return Value(APMValue::initWithInt64(value)); }

// Whole seconds of a clock time (the clock is never out of range).
std::int64_t wholeSeconds(double seconds) { return static_cast<std::int64_t>(seconds); }

}  // namespace

std::shared_ptr<APMEvent> APMSessionStartEvent(std::int64_t sessionNumber, bool inBackground, double timestamp) {
    Value::Dictionary parameters{{"_sid", int64Value(wholeSeconds(timestamp))}, {"_sno", int64Value(sessionNumber)}};
    if (inBackground) parameters.set("_aib", int64Value(1));
    return APMEvent::initWithOrigin(kAutoOrigin, false, "_s", timestamp, 0, parameters);
}

APMSessionReporter::APMSessionReporter(std::shared_ptr<APMReporterContext> context) : context_(std::move(context)) {}

std::shared_ptr<APMSessionReporter> APMSessionReporter::initWithContext(std::shared_ptr<APMReporterContext> context) {
    if (!context) return nullptr;
    auto reporter = std::make_shared<APMSessionReporter>(std::move(context));
    const double timeout = reporter->context_->sessionDefaultTimeoutInterval();
    {
        MutexLock lock(reporter->mutex_);
        reporter->timeoutSessionInterval_ = timeout;
        reporter->engagementStartUptime_ = reporter->freerideEngagementStartUptime_ = currentUptime();
    }
    reporter->userEngagementTimer_ = APMAlarm::initWithDispatchQueue(DispatchQueue::mainQueue(), kEngagementTimerName);
    return reporter;
}

APMSessionReporter::~APMSessionReporter() {
    // The alarm lives on the main queue: it is dropped there.
    auto timer = std::move(userEngagementTimer_);
    if (timer) DispatchQueue::mainQueue()->async([timer] { timer->cancel(); });
}

void APMSessionReporter::onMainQueue(std::function<void(APMSessionReporter& reporter)> work) {
    // The main thread inside another queue's synchronous work is not the main queue.
    const auto current = DispatchQueue::currentQueue();
    if (NSThread::isMainThread() && (!current || current == DispatchQueue::mainQueue())) {
        work(*this);
        return;
    }
    std::weak_ptr<APMSessionReporter> weak = weakSelf<APMSessionReporter>();
    DispatchQueue::mainQueue()->async([weak, work = std::move(work)] {
        if (auto reporter = weak.lock()) work(*reporter);
    });
}

// MARK: Settings

bool APMSessionReporter::isReportingEnabled() {
    MutexLock lock(mutex_);
    return reportingEnabled_;
}

void APMSessionReporter::setReportingEnabled(bool enabled) {
    {
        MutexLock lock(mutex_);
        reportingEnabled_ = enabled;
    }
    onMainQueue([enabled](APMSessionReporter& reporter) {
        if (!enabled) {
            reporter.userEngagementTimer_->cancel();
        } else if (APMIsAppActive() && !reporter.userEngagementTimer_->scheduledTimestamp()) {
            reporter.rescheduleUserEngagementTimer();
        }
    });
}

double APMSessionReporter::timeoutSessionInterval() {
    MutexLock lock(mutex_);
    return timeoutSessionInterval_;
}

void APMSessionReporter::setTimeoutSessionInterval(double interval) {
    if (interval < 0 || std::isnan(interval)) {
        APMMeasurementMonitor()->logWithLevel(3, 33001, "Received negative timeout session duration. Setting to 0.0 instead.");
        interval = 0;
    }
    MutexLock lock(mutex_);
    timeoutSessionInterval_ = interval;
}

// MARK: Sessions

double APMSessionReporter::currentUptime() { return Clock::uptime(); }

std::int64_t APMSessionReporter::wholeMillisecondsOfSpan(double seconds) {
    return static_cast<std::int64_t>(std::floor(seconds * 1000 + 1e-3));
}

double APMSessionReporter::currentClockTime() { return Clock::now(); }

bool APMSessionReporter::isSessionExpiredLocked() {
    auto persisted = context_->persistedConfig();
    const double last = persisted ? persisted->lastSessionActivityClockTime() : 0;
    return std::fabs(currentClockTime() - last) > timeoutSessionInterval_;
}

bool APMSessionReporter::isSessionExpired() {
    MutexLock lock(mutex_);
    return isSessionExpiredLocked();
}

bool APMSessionReporter::shouldStartNewSession() { return APMIsAppActive() && isSessionExpired(); }

bool APMSessionReporter::extendSession() {
    MutexLock lock(mutex_);
    if (isSessionExpiredLocked()) return false;
    if (auto persisted = context_->persistedConfig()) persisted->setLastSessionActivityClockTime(currentClockTime());
    return true;
}

void APMSessionReporter::updatePropertiesForNewSessionStart() {
    auto persisted = context_->persistedConfig();
    if (!persisted) return;
    MutexLock lock(mutex_);
    const std::int64_t number = persisted->sessionNumber();
    // The number wraps rather than overflows; it is a count, not an amount.
    persisted->setSessionNumber(static_cast<std::int64_t>(static_cast<std::uint64_t>(number) + 1));
    persisted->setLastSessionActivityClockTime(currentClockTime());
}

std::shared_ptr<APMUserAttribute> APMSessionReporter::sessionIDPropertyWithTimestamp(double timestamp) {
    return APMUserAttribute::initWithOrigin(kAutoOrigin, "_sid", APMValue::initWithInt64(wholeSeconds(timestamp)), timestamp);
}

std::shared_ptr<APMUserAttribute> APMSessionReporter::sessionNumberProperty() {
    auto persisted = context_->persistedConfig();
    return APMUserAttribute::initWithOrigin(kAutoOrigin, "_sno",
                                            APMValue::initWithInt64(persisted ? persisted->sessionNumber() : 0),
                                            currentClockTime());
}

void APMSessionReporter::setSessionID(std::optional<std::int64_t> sessionID, std::optional<std::int64_t> sessionNumber) {
    auto sink = context_->eventSink();
    if (!sink) return;
    sink->setInternalUserProperty(sessionID ? Value(static_cast<long long>(*sessionID)) : Value(), "_sid", kAutoOrigin);
    sink->setInternalUserProperty(sessionNumber ? Value(static_cast<long long>(*sessionNumber)) : Value(), "_sno",
                                  kAutoOrigin);
}

void APMSessionReporter::logSessionStartEvent() {
    if (!APMIsAppActive()) {
        APMMeasurementMonitor()->logWithLevel(7, 33005, "Session start event not logged. Application is not active");
        return;
    }
    if (!isReportingEnabled()) return;
    updatePropertiesForNewSessionStart();
    auto persisted = context_->persistedConfig();
    const std::int64_t sessionID = wholeSeconds(currentClockTime());
    const std::int64_t sessionNumber = persisted ? persisted->sessionNumber() : 0;
    setSessionID(sessionID, sessionNumber);
    if (auto sink = context_->eventSink()) {
        sink->logInternalEventWithOrigin(kAutoOrigin, "_s", {{"_sid", int64Value(sessionID)}, {"_sno", int64Value(sessionNumber)}});
    }
}

// MARK: Engagement

double APMSessionReporter::incurredEngagementTimeLocked() {
    const double start =
        context_->efficientEngagementReportingEnabled() ? freerideEngagementStartUptime_ : engagementStartUptime_;
    const double incurred = currentUptime() - start;
    if (incurred < 0 || std::isnan(incurred)) {
        APMMeasurementMonitor()->logWithLevel(4, 33004, "Incurred engagement time is negative. Setting to 0.0 instead");
        return 0;
    }
    return incurred;
}

double APMSessionReporter::incurredEngagementTime() {
    MutexLock lock(mutex_);
    return incurredEngagementTimeLocked();
}

std::int64_t APMSessionReporter::cutFreerideEngagementTimeMillis() {
    if (!context_->efficientEngagementReportingEnabled()) return 0;
    MutexLock lock(mutex_);
    // Uptime is bounded by the machine's life: milliseconds of it fit easily.
    const std::int64_t millis = wholeMillisecondsOfSpan(incurredEngagementTimeLocked());
    freerideEngagementStartUptime_ = currentUptime();
    return millis;
}

APMSessionReporter::Engagement APMSessionReporter::cutEngagementLocked(const std::shared_ptr<APMScreen>& screen,
                                                                     bool isRedundant) {
    Engagement engagement;
    if (!APMIsAppActive()) {
        APMMeasurementMonitor()->logWithLevel(7, 33006, "User engagement event not logged. Application is not active");
        return engagement;
    }
    const bool efficient = context_->efficientEngagementReportingEnabled();
    if (reportingEnabled_) {
        engagement.millis = wholeMillisecondsOfSpan(std::min(incurredEngagementTimeLocked(), kMaxEngagementTime));
        Value::Dictionary parameters{{"_et", int64Value(engagement.millis)}};
        for (const auto& [key, value] : APMScreenParametersForScreen(screen)) parameters.set(key, value);
        if (efficient && isRedundant) parameters.set("_fr", int64Value(1));
        engagement.parameters = std::move(parameters);
    }
    engagementStartUptime_ = currentUptime();
    if (efficient && !isRedundant) freerideEngagementStartUptime_ = engagementStartUptime_;
    if (auto persisted = context_->persistedConfig()) persisted->setLastSessionActivityClockTime(currentClockTime());
    engagement.cut = true;
    return engagement;
}

void APMSessionReporter::report(const Engagement& engagement) {
    if (!engagement.cut) return;
    // Outside the lock: logging asks the screen-view reporter, which may be waiting for it.
    if (engagement.parameters) {
        if (auto sink = context_->eventSink()) sink->logInternalEventWithOrigin(kAutoOrigin, "_e", *engagement.parameters);
    }
    rescheduleUserEngagementTimer();
}

std::int64_t APMSessionReporter::logEngagementEventAndReturnTimeWithScreen(const std::shared_ptr<APMScreen>& screen,
                                                                          bool isRedundant) {
    Engagement engagement;
    {
        MutexLock lock(mutex_);
        engagement = cutEngagementLocked(screen, isRedundant);
    }
    report(engagement);
    return engagement.millis;
}

void APMSessionReporter::logUserEngagementEvent() { (void)logEngagementEventAndReturnTimeWithScreen(nullptr, false); }

void APMSessionReporter::logAppBackgroundEvent(std::int64_t engagementMillis) {
    if (!isReportingEnabled() || !context_->appBackgroundedEventEnabled()) return;
    if (!APMIsAppActive()) {
        APMMeasurementMonitor()->logWithLevel(7, 33008, "App backgrounded event not logged. Application is not active");
        return;
    }
    Value::Dictionary parameters;
    if (engagementMillis >= 1 && context_->efficientEngagementReportingEnabled()) {
        parameters.set("_et", int64Value(engagementMillis));
    }
    if (auto sink = context_->eventSink()) sink->logInternalEventWithOrigin(kAutoOrigin, "_ab", parameters);
}

void APMSessionReporter::rescheduleUserEngagementTimer() {
    onMainQueue([](APMSessionReporter& reporter) {
        std::weak_ptr<APMSessionReporter> weak = reporter.weakSelf<APMSessionReporter>();
        reporter.userEngagementTimer_->runAfterDelay(reporter.context_->sessionEventUserEngagementInterval(), [weak] {
            auto strong = weak.lock();
            if (!strong) return;
            NSNotificationCenter::defaultCenter()->postNotificationName(kEngagementTimerDidFireNotification, nullptr);
            strong->logUserEngagementEvent();
        });
    });
}

// MARK: The application and its screens

void APMSessionReporter::handleAppDidBecomeActive() {
    {
        MutexLock lock(mutex_);
        engagementStartUptime_ = freerideEngagementStartUptime_ = currentUptime();
    }
    rescheduleUserEngagementTimer();
    if (shouldStartNewSession() && isReportingEnabled()) {
        setSessionID(std::nullopt, std::nullopt);
        logSessionStartEvent();
    }
}

void APMSessionReporter::handleAppWillResignActiveWithScreen(const std::shared_ptr<APMScreen>& screen) {
    const bool backgroundEvent = context_->appBackgroundedEventEnabled();
    std::int64_t millis = 0;
    if (backgroundEvent && context_->redundantEngagementRemovalEnabled()) {
        millis = cutFreerideEngagementTimeMillis();
    } else {
        millis = logEngagementEventAndReturnTimeWithScreen(screen, backgroundEvent);
    }
    logAppBackgroundEvent(millis);
    onMainQueue([](APMSessionReporter& reporter) { reporter.userEngagementTimer_->cancel(); });
}

void APMSessionReporter::handleScreenDidChangeFromScreen(const std::shared_ptr<APMScreen>& previous,
                                                         const std::shared_ptr<APMScreen>& screen) {
    (void)screen;
    if (!previous) return;
    Engagement engagement;
    {
        MutexLock lock(mutex_);
        if (incurredEngagementTimeLocked() < 1.0) return;
        const bool efficient = context_->efficientEngagementReportingEnabled();
        // The "_vs" of this change carries the time instead.
        if (efficient && context_->redundantEngagementRemovalEnabled()) return;
        engagement = cutEngagementLocked(previous, efficient);
    }
    report(engagement);
}
