// How long ad units, and ads as a whole, were on screen while the application was active:
// nested begin and end calls per unit, cut into pieces at every screen change, engagement timer
// tick and resignation so that each piece carries the screen it happened on, logged as "_xu"
// and "_xa" (origin "am") when longer than 999 ms. One per process; its state lives on its queue.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"
#include "platform/services/DAROAdExposureReporterInterop.h"

#include <atomic>
#include <functional>
#include <utility>
#include <vector>
#include <map>
#include <memory>
#include <string>

class APMEvent;
class APMEventSink;
class APMScreen;
class DispatchQueue;
class NSNotification;

class APMAdExposureReporter : public NSObject, public DAROAdExposureReporterInterop {
public:
    static constexpr const char* kQueueLabel = "APMAdExposureReporter";
    static constexpr std::size_t kMaxOpenAdUnits = 100;

    // Made on first use; it then observes the engagement timer.
    static std::shared_ptr<APMAdExposureReporter> sharedInstance();
    // Forgets the shared reporter and its observation, as a new process would start (tests).
    static void resetSharedInstance();
    ~APMAdExposureReporter() override;

    // Where the events go (the analytics front's road); none drops them.
    void setEventSink(std::shared_ptr<APMEventSink> sink);

    // From the advertising library, any thread.
    void beginAdUnitExposure(const std::string& adUnitID) override;
    void endAdUnitExposure(const std::string& adUnitID) override;

    // From the screen-view reporter.
    void handleScreenDidChangeFromScreen(const std::shared_ptr<APMScreen>& previous,
                                         const std::shared_ptr<APMScreen>& screen);
    void handleAppDidBecomeActive();
    void handleAppWillResignActiveWithScreen(const std::shared_ptr<APMScreen>& screen);
    void handleEngagementTimer(const NSNotification& notification);

    bool isReportingEnabled() const { return reportingEnabled_.load(); }
    void setReportingEnabled(bool enabled) { reportingEnabled_ = enabled; }
    // Seconds of uptime; -1 when the boot time cannot be read.
    static double currentTime();

    APMAdExposureReporter();

private:
    void logExposureEventsWithScreenParameters(const Value::Dictionary& screenParameters);
    void logExposureEventsOnSerialQueueWithEndTime(double endTime, const Value::Dictionary& screenParameters);
    void logAdExposureEventOnSerialQueueWithEndTime(double endTime, const Value::Dictionary& screenParameters);
    void logAdUnitExposureEventOnSerialQueueWithID(const std::string& adUnitID, double endTime,
                                                   const Value::Dictionary& screenParameters);
    void updateStartTimesOnSerialQueue(double time);
    // Kept until the work on the queue is done, then logged.
    void log(const std::string& name, Value::Dictionary parameters);
    void onQueueThenLog(const std::function<void()>& work);

    // On the queue only.
    std::map<std::string, int> adUnitCounts_;
    std::map<std::string, double> adUnitStartTimes_;
    double adExposureStartTime_ = 0;
    std::vector<std::pair<std::string, Value::Dictionary>> pending_;
    std::shared_ptr<DispatchQueue> queue_;
    std::atomic<bool> reportingEnabled_{true};
    Mutex sinkMutex_;
    std::shared_ptr<APMEventSink> sink_ GUARDED_BY(sinkMutex_);
};

// Events of the ads library or of ad exposure, which the event listeners never see.
bool APMIsAdExposureEvent(const APMEvent& event);
