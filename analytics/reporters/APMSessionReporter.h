// Sessions and engagement: when a new session starts (after a time without activity, on the
// clock), their numbers across launches, and how long the application was in the foreground,
// reported as "_e" (and, with efficient engagement reporting, carried by "_vs" and "_ab").
// Engagement is measured on uptime; an hourly timer on the main queue reports it while the
// application stays in the foreground. Called from the main thread, the screen-view
// reporter's queue and the engine's worker queue; one lock keeps cuts and engagement events
// apart.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class APMAlarm;
class APMEvent;
class APMReporterContext;
class APMScreen;
class APMUserAttribute;

class APMSessionReporter : public NSObject {
public:
    // Posted on the default centre (object none) each time the engagement timer fires.
    static constexpr const char* kEngagementTimerDidFireNotification = "kAPMSessionReporterEngagementTimerDidFire";
    static constexpr const char* kEngagementTimerName = "Engagement timer";
    // An engagement event never carries more than an hour.
    static constexpr double kMaxEngagementTime = 3600;

    // The timeout comes from the configuration in force; reporting stays off until enabled.
    [[nodiscard]] static std::shared_ptr<APMSessionReporter> initWithContext(std::shared_ptr<APMReporterContext> context);
    ~APMSessionReporter() override;

    bool isReportingEnabled();
    // Enabling while the application is active starts the timer; disabling stops it.
    void setReportingEnabled(bool enabled);
    double timeoutSessionInterval();
    // A negative interval is taken as 0 (33001).
    void setTimeoutSessionInterval(double interval);

    // Longer than the timeout since the last activity, either way on the clock.
    bool isSessionExpired();
    // Expired while the application is active.
    bool shouldStartNewSession();
    // Moves the last activity to now unless the session has expired.
    bool extendSession();
    // "_sid" (the start second) and "_sno" (the stored number) as user properties of origin "auto".
    std::shared_ptr<APMUserAttribute> sessionIDPropertyWithTimestamp(double timestamp);
    std::shared_ptr<APMUserAttribute> sessionNumberProperty();
    // One more session, active now.
    void updatePropertiesForNewSessionStart();

    // "_s" with "_sid" and "_sno", the two user properties set first.
    void logSessionStartEvent();
    void logUserEngagementEvent();
    // "_e" for the time since the last one (at most an hour), with the screen's parameters;
    // "_fr" when `isRedundant` and efficient reporting is on. The time in milliseconds, 0 when
    // nothing was logged.
    std::int64_t logEngagementEventAndReturnTimeWithScreen(const std::shared_ptr<APMScreen>& screen, bool isRedundant);
    void logAppBackgroundEvent(std::int64_t engagementMillis);

    // From the screen-view reporter.
    void handleAppDidBecomeActive();
    void handleAppWillResignActiveWithScreen(const std::shared_ptr<APMScreen>& screen);
    void handleScreenDidChangeFromScreen(const std::shared_ptr<APMScreen>& previous, const std::shared_ptr<APMScreen>& screen);

    // The timer again after the configured interval (on the main queue).
    void rescheduleUserEngagementTimer();
    // Whole milliseconds of a span of uptime (never negative, never beyond the machine's life),
    // truncated: a difference of two uptimes may fall a few ulps short of a whole millisecond,
    // and a microsecond's tolerance keeps it from losing that millisecond.
    static std::int64_t wholeMillisecondsOfSpan(double seconds);
    // Seconds since the machine started; -1 when the boot time cannot be read.
    static double currentUptime();
    static double currentClockTime();
    // Seconds since the engagement (or, with efficient reporting, the uncarried engagement) began.
    double incurredEngagementTime();
    // With efficient reporting: the uncarried engagement in milliseconds, which starts again now.
    std::int64_t cutFreerideEngagementTimeMillis();
    // Sets (or, for nothing, removes) "_sid" and "_sno".
    void setSessionID(std::optional<std::int64_t> sessionID, std::optional<std::int64_t> sessionNumber);

    explicit APMSessionReporter(std::shared_ptr<APMReporterContext> context);

private:
    // One measured piece of engagement: its time, and the "_e" parameters when it is reported.
    struct Engagement {
        bool cut = false;
        std::int64_t millis = 0;
        std::optional<Value::Dictionary> parameters;
    };
    double incurredEngagementTimeLocked() REQUIRES(mutex_);
    Engagement cutEngagementLocked(const std::shared_ptr<APMScreen>& screen, bool isRedundant) REQUIRES(mutex_);
    void report(const Engagement& engagement) EXCLUDES(mutex_);
    bool isSessionExpiredLocked() REQUIRES(mutex_);
    // Runs on the main queue: the alarm lives there.
    void onMainQueue(std::function<void(APMSessionReporter& reporter)> work);

    std::shared_ptr<APMReporterContext> context_;
    std::shared_ptr<APMAlarm> userEngagementTimer_;
    // Also keeps the persisted session activity's reads and writes together.
    Mutex mutex_;
    double engagementStartUptime_ GUARDED_BY(mutex_) = 0;
    double freerideEngagementStartUptime_ GUARDED_BY(mutex_) = 0;
    bool reportingEnabled_ GUARDED_BY(mutex_) = false;
    double timeoutSessionInterval_ GUARDED_BY(mutex_) = 1800;
};

// The session start "_s" of origin "auto" at `timestamp`: "_sid" its whole second, "_sno" the
// number, "_aib" 1 when started for an event logged in the background.
std::shared_ptr<APMEvent> APMSessionStartEvent(std::int64_t sessionNumber, bool inBackground, double timestamp);
