// The door's process-wide state, shared by its start (APMAnalytics.cpp), its public logging and
// properties (APMAnalyticsLogging.cpp) and its life-cycle hooks (APMAnalyticsLifecycle.cpp).
#pragma once

#include "analytics/measurement/APMAnalytics.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSOperationQueue.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <atomic>
#include <map>
#include <mutex>
#include <optional>

class APMMeasurement;

struct APMAnalytics::Process {
    static constexpr const char* kQueueLabel = "APMAnalyticsQueue";
    static constexpr const char* kAppOrigin = "app";
    static constexpr const char* kCoreOrigin = "fa";
    static constexpr const char* kAdsOrigin = "am";

    // The engine when one was created; never the warning of its sharedInstance.
    static std::shared_ptr<APMMeasurement> engine();
    static std::shared_ptr<APMAnalyticsStore> store() { return APMAnalyticsStore::sharedInstance(); }

    // The class lock: the count of calls held before the start.
    Mutex mutex;
    bool released GUARDED_BY(mutex) = false;
    std::size_t held GUARDED_BY(mutex) = 0;
    std::size_t refused GUARDED_BY(mutex) = 0;

    std::shared_ptr<DispatchQueue> queue =
        DispatchQueue::create(kQueueLabel, DispatchQueue::Kind::Serial,
                              DispatchQueue::globalQueue(DispatchQueue::Priority::Background));
    std::shared_ptr<NSOperationQueue> operationQueue = [] {
        auto operations = NSOperationQueue::make();
        operations->setName("APMAnalyticsOperationQueue");
        operations->setMaxConcurrentOperationCount(1);
        operations->setSuspended(true);
        return operations;
    }();
    std::shared_ptr<DispatchQueue> timestampQueue = DispatchQueue::create("APMAnalyticsTimestampQueue");
    std::shared_ptr<APMAnalytics> shared = std::make_shared<APMAnalytics>();

    std::once_flag started;
    std::atomic<bool> deactivated{false};
    std::atomic<bool> enabled{false};

    // Touched on the serial queue only.
    Interceptor interceptor;
    std::optional<std::map<ListenerToken, Listener>> listeners;
    std::atomic<ListenerToken> nextToken{1};
    // How many listeners are registered: events are not queued for nobody.
    std::atomic<std::size_t> listenerCount{0};
    OpenURLListener openURLListener;
    std::once_flag proxyCreated;
};
