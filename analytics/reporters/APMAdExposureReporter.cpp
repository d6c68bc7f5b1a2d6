// Ad unit exposure.
#include "analytics/reporters/APMAdExposureReporter.h"

#include "analytics/core/APMEvent.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMValue.h"
#include "analytics/reporters/APMAppActivity.h"
#include "analytics/reporters/APMScreen.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/ProcessShared.h"

namespace {

constexpr const char* kAdsOrigin = "am";

ProcessShared<APMAdExposureReporter> gShared;

std::int64_t exposureMillis(double end, double start) {
    const double millis = (end - start) * 1000;
    // A clock that cannot be read (-1) or jumps gives nothing to report, not a wild number.
    if (!(millis > 0) || millis > 9e15) return 0;
    // Truncated: 999.6 ms is under a second.
    return APMSessionReporter::wholeMillisecondsOfSpan(end - start);
}

}  // namespace

APMAdExposureReporter::APMAdExposureReporter() : queue_(DispatchQueue::create(kQueueLabel)) {}

std::shared_ptr<APMAdExposureReporter> APMAdExposureReporter::sharedInstance() {
    return gShared.get([] {
        auto reporter = std::make_shared<APMAdExposureReporter>();
        NSNotificationCenter::defaultCenter()->addObserver(reporter, &APMAdExposureReporter::handleEngagementTimer,
                                                           APMSessionReporter::kEngagementTimerDidFireNotification);
        return reporter;
    });
}

void APMAdExposureReporter::resetSharedInstance() {
    auto old = gShared.take();
    if (!old) return;
    NSNotificationCenter::defaultCenter()->removeObserver(old);
    old->queue_->sync([] {});
}

APMAdExposureReporter::~APMAdExposureReporter() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

void APMAdExposureReporter::setEventSink(std::shared_ptr<APMEventSink> sink) {
    MutexLock lock(sinkMutex_);
    sink_ = std::move(sink);
}

double APMAdExposureReporter::currentTime() { return Clock::uptime(); }

void APMAdExposureReporter::log(const std::string& name, Value::Dictionary parameters) {
    pending_.emplace_back(name, std::move(parameters));
}

void APMAdExposureReporter::onQueueThenLog(const std::function<void()>& work) {
    std::vector<std::pair<std::string, Value::Dictionary>> events;
    queue_->sync([&] {
        work();
        events.swap(pending_);
    });
    // Outside the queue: logging asks the screen-view reporter's queue for the current screen,
    // and that queue waits on this one at every screen change.
    std::shared_ptr<APMEventSink> sink;
    {
        MutexLock lock(sinkMutex_);
        sink = sink_;
    }
    if (!sink) return;
    for (const auto& [name, parameters] : events) sink->logInternalEventWithOrigin(kAdsOrigin, name, parameters);
}

// MARK: Begin and end

void APMAdExposureReporter::beginAdUnitExposure(const std::string& adUnitID) {
    if (adUnitID.empty()) {
        APMMeasurementMonitor()->logWithLevel(5, 1000, "Ignoring call to begin ad unit exposure. Received empty ad unit ID");
        return;
    }
    const double time = currentTime();
    std::weak_ptr<APMAdExposureReporter> weak = weakSelf<APMAdExposureReporter>();
    queue_->async([weak, adUnitID, time] {
        auto reporter = weak.lock();
        if (!reporter) return;
        auto& counts = reporter->adUnitCounts_;
        if (counts.size() >= kMaxOpenAdUnits) {
            APMMeasurementMonitor()->logWithLevel(5, 1002, "Reached limit on ad units. Ignoring ad unit with ID",
                                                  Value(adUnitID));
            return;
        }
        if (counts.empty()) reporter->adExposureStartTime_ = time;
        if (!counts.count(adUnitID)) reporter->adUnitStartTimes_[adUnitID] = time;
        ++counts[adUnitID];
    });
}

void APMAdExposureReporter::endAdUnitExposure(const std::string& adUnitID) {
    if (adUnitID.empty()) {
        APMMeasurementMonitor()->logWithLevel(5, 1003, "Ignoring call to end ad unit exposure. Received empty ad unit ID");
        return;
    }
    const double time = currentTime();
    const Value::Dictionary screenParameters = APMScreenViewReporter::sharedInstance()->screenParameters();
    onQueueThenLog([&] {
        const auto open = adUnitCounts_.find(adUnitID);
        if (open == adUnitCounts_.end()) {
            APMMeasurementMonitor()->logWithLevel(5, 1004, "Unknown ad unit. Ignoring ad unit with ID", Value(adUnitID));
            return;
        }
        if (open->second >= 2) {
            --open->second;
            return;
        }
        logAdUnitExposureEventOnSerialQueueWithID(adUnitID, time, screenParameters);
        adUnitCounts_.erase(adUnitID);
        adUnitStartTimes_.erase(adUnitID);
        if (adUnitCounts_.empty()) {
            logAdExposureEventOnSerialQueueWithEndTime(time, screenParameters);
            adExposureStartTime_ = time;
        }
    });
}

// MARK: Cuts

void APMAdExposureReporter::logExposureEventsWithScreenParameters(const Value::Dictionary& screenParameters) {
    const double time = currentTime();
    onQueueThenLog([&] { logExposureEventsOnSerialQueueWithEndTime(time, screenParameters); });
}

void APMAdExposureReporter::logExposureEventsOnSerialQueueWithEndTime(double endTime,
                                                                     const Value::Dictionary& screenParameters) {
    for (const auto& [adUnitID, count] : adUnitCounts_) {
        logAdUnitExposureEventOnSerialQueueWithID(adUnitID, endTime, screenParameters);
    }
    if (!adUnitCounts_.empty()) logAdExposureEventOnSerialQueueWithEndTime(endTime, screenParameters);
    updateStartTimesOnSerialQueue(endTime);
}

void APMAdExposureReporter::updateStartTimesOnSerialQueue(double time) {
    if (adUnitCounts_.empty()) return;
    for (auto& [adUnitID, start] : adUnitStartTimes_) start = time;
    adExposureStartTime_ = time;
}

void APMAdExposureReporter::logAdExposureEventOnSerialQueueWithEndTime(double endTime,
                                                                      const Value::Dictionary& screenParameters) {
    if (!isReportingEnabled()) {
        APMMeasurementMonitor()->logWithLevel(5, 1005, "Ad exposure not logged. Reporting is disabled.");
        return;
    }
    if (!APMIsAppActive()) {
        APMMeasurementMonitor()->logWithLevel(8, 1010, "Ad exposure not logged. App is not active.");
        return;
    }
    const std::int64_t millis = exposureMillis(endTime, adExposureStartTime_);
    if (millis <= 999) {
        APMMeasurementMonitor()->logWithLevel(8, 1006, "Ad exposure not logged. Exposure time was less than 1 sec");
        return;
    }
    Value::Dictionary parameters = screenParameters;
    parameters.set("_xt", Value(APMValue::initWithInt64(millis)));
    log("_xa", std::move(parameters));
}

void APMAdExposureReporter::logAdUnitExposureEventOnSerialQueueWithID(const std::string& adUnitID, double endTime,
                                                                     const Value::Dictionary& screenParameters) {
    if (!isReportingEnabled()) {
        APMMeasurementMonitor()->logWithLevel(5, 1007, "Ad unit exposure not logged. Reporting is disabled.");
        return;
    }
    if (adUnitID.empty()) {
        APMMeasurementMonitor()->logWithLevel(5, 1008, "Ad unit exposure not logged. Received empty ad unit ID");
        return;
    }
    if (!APMIsAppActive()) {
        APMMeasurementMonitor()->logWithLevel(8, 1011, "Ad unit exposure not logged. App is not active.");
        return;
    }
    const auto start = adUnitStartTimes_.find(adUnitID);
    const std::int64_t millis = start == adUnitStartTimes_.end() ? 0 : exposureMillis(endTime, start->second);
    if (millis <= 999) {
        APMMeasurementMonitor()->logWithLevel(8, 1009, "Ad unit exposure not logged. Exposure time was less than 1 sec");
        return;
    }
    Value::Dictionary parameters = screenParameters;
    parameters.set("_ai", Value(APMValue::initWithString(Value(adUnitID))));
    parameters.set("_xt", Value(APMValue::initWithInt64(millis)));
    log("_xu", std::move(parameters));
}

// MARK: From the screen-view reporter and the engagement timer

void APMAdExposureReporter::handleScreenDidChangeFromScreen(const std::shared_ptr<APMScreen>& previous,
                                                            const std::shared_ptr<APMScreen>& screen) {
    (void)screen;
    if (!previous) return;
    logExposureEventsWithScreenParameters(APMScreenParametersForScreen(previous));
}

void APMAdExposureReporter::handleAppDidBecomeActive() {
    const double time = currentTime();
    queue_->sync([&] { updateStartTimesOnSerialQueue(time); });
}

void APMAdExposureReporter::handleAppWillResignActiveWithScreen(const std::shared_ptr<APMScreen>& screen) {
    const double time = currentTime();
    Value::Dictionary parameters = APMScreenParametersForScreen(screen);
    if (parameters.empty()) parameters = APMScreenViewReporter::sharedInstance()->screenParameters();
    onQueueThenLog([&] { logExposureEventsOnSerialQueueWithEndTime(time, parameters); });
}

void APMAdExposureReporter::handleEngagementTimer(const NSNotification&) {
    logExposureEventsWithScreenParameters(APMScreenViewReporter::sharedInstance()->screenParameters());
}

bool APMIsAdExposureEvent(const APMEvent& event) {
    return event.origin() == kAdsOrigin || event.name() == "_xa" || event.name() == "_xu";
}
