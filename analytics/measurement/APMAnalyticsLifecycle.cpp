// The analytics door's life-cycle hooks: the load, the links and calls the application delegate
// hands over, the proxy around that delegate, and the store's purchases.
#include "analytics/measurement/APMAnalyticsProcess.h"

#include "analytics/measurement/APMAppDelegateInterceptor.h"
#include "analytics/measurement/APMMeasurement.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "platform/foundation/Clock.h"
#include "platform/services/VULAppDelegateSwizzler.h"

// MARK: The load

void APMAnalytics::load() { setLoadTimestamp(Clock::now()); }

// MARK: Links and the application delegate's calls

void APMAnalytics::setOpenURLListener(OpenURLListener listener) {
    auto p = process();
    dispatchAsyncOnSerialQueue([p, listener = std::move(listener)] { p->openURLListener = listener; });
}

void APMAnalytics::handleOpenURL(const std::string& url) {
    const double timestamp = Clock::now();
    auto p = process();
    queueOperationWithBlock([p, url, timestamp] {
        if (auto measurement = Process::engine()) measurement->handleNonFirstOpenEventURL(url, timestamp);
        if (p->openURLListener) p->openURLListener(url);
    });
}

void APMAnalytics::paymentQueue(SKPaymentQueue& queue, const SKPaymentTransactions& transactions) {
    paymentQueueUpdatedTransactions(queue.self<SKPaymentQueue>(), transactions);
}

void APMAnalytics::paymentQueueUpdatedTransactions(const std::shared_ptr<SKPaymentQueue>& queue,
                                                   const SKPaymentTransactions& transactions) {
    queueOperationWithBlock([queue, transactions] {
        auto measurement = Process::engine();
        if (!process()->enabled.load() || !measurement) return;
        std::weak_ptr<APMMeasurement> weak = measurement;
        measurement->filterPurchaseTransactions(transactions, [weak, queue](const SKPaymentTransactions& kept) {
            auto engine = weak.lock();
            auto reporter = engine ? engine->purchaseReporter() : nullptr;
            if (reporter) reporter->paymentQueue(queue, kept);
        });
    });
}

void APMAnalytics::handleUserActivity(const std::shared_ptr<NSUserActivity>& activity) {
    const double timestamp = Clock::now();
    queueOperationWithBlock([activity, timestamp] {
        const std::optional<std::string> link = APMMeasurement::deepLinkFromUserActivity(activity);
        if (!link || link->empty()) return;
        if (auto measurement = Process::engine()) measurement->handleNonFirstOpenEventURL(*link, timestamp);
    });
}

void APMAnalytics::handleEventsForBackgroundURLSession(const std::string& identifier, std::function<void()> completion) {
    auto measurement = Process::engine();
    if (measurement && measurement->network()) {
        measurement->network()->handleEventsForBackgroundURLSessionID(identifier, std::move(completion));
    } else if (completion) {
        DispatchQueue::mainQueue()->async(std::move(completion));
    }
}

void APMAnalytics::createAppDelegateProxy() {
    std::call_once(process()->proxyCreated, [] {
        VULAppDelegateSwizzler::proxyOriginalDelegate();
        VULAppDelegateSwizzler::registerAppDelegateInterceptor(APMAppDelegateInterceptor::sharedInstance());
    });
}

