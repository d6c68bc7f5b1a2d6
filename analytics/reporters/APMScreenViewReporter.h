// Which screen of the application the user is looking at, reported as "_vs" at every change.
// Screens come from the view controllers' appearance (hooked once per process), from the
// application naming the current screen, and from logged "screen_view" events. The reporter
// also keeps whether the application is active, hands screen changes, activation and
// resignation to the session and ad exposure reporters, and gives other events the current
// screen's parameters. One per process; its screens live on its serial queue, its stacks of
// controllers (one per key window) on the main thread.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class APMEventSink;
class APMReporterContext;
class APMScreen;
class APMSessionReporter;
class DispatchQueue;
class NSNotification;
class UIViewController;
class UIWindow;

// Told of every appearance by a performance library outside this system.
class APMScreenViewReporterDelegate {
public:
    virtual ~APMScreenViewReporterDelegate() = default;
    virtual void viewControllerDidAppear(const std::shared_ptr<UIViewController>& controller,
                                         bool trackedByAnalytics) = 0;
    virtual void viewControllerDidDisappear(const std::shared_ptr<UIViewController>& controller) = 0;
    // An older library without both operations answers false and is not kept.
    virtual bool respondsToAppearanceCallbacks() const { return true; }
};

class APMScreenViewReporter : public NSObject {
public:
    static constexpr const char* kQueueLabel = "APMScreenViewReporter";
    static constexpr const char* kAutomaticOrigin = "auto";
    static constexpr const char* kManualOrigin = "app";

    // Made on first use; it then observes the application's activity and the key window.
    static std::shared_ptr<APMScreenViewReporter> sharedInstance();
    // Whether the shared reporter was made or the hooks installed (and not reset since).
    static bool hasSharedInstance();
    // What the view controllers' extension does as it loads (APMScreenClassName::load): once
    // per process, unless screen reporting is off or an older library is present, the
    // appearance of every view controller reaches the shared reporter (after the original
    // implementation has run). After resetSharedInstance it may hook them again.
    static void installHooks();
    // Forgets the shared reporter, its observations and answer of activity, and puts the
    // appearance implementations back, as a new process would start (tests).
    static void resetSharedInstance();
    ~APMScreenViewReporter() override;

    // Where "_vs" goes (the analytics front's road); none drops it.
    void setEventSink(std::shared_ptr<APMEventSink> sink);
    // The engine once it has its session reporter; empty members when it is gone.
    void setEngine(std::shared_ptr<APMReporterContext> context, std::shared_ptr<APMSessionReporter> sessionReporter);

    // MARK: Main thread
    void viewControllerDidAppear(const std::shared_ptr<UIViewController>& controller);
    void viewControllerDidDisappear(const std::shared_ptr<UIViewController>& controller);
    // Manual naming of the controller that appeared last (either may be absent).
    void setScreenName(const std::optional<std::string>& name, const std::optional<std::string>& className);
    void handleWindowDidResign(const NSNotification& notification);
    void handleApplicationDidBecomeActive(const NSNotification& notification);
    void handleApplicationWillResignActive(const NSNotification& notification);
    void handleApplicationDidEnterBackground(const NSNotification& notification);

    // MARK: Any thread
    // Makes the controller's screen current.
    void setCurrentViewController(const std::shared_ptr<UIViewController>& controller);
    // A logged "screen_view" event (its parameters) at `timestamp`.
    void trackScreenWithParameters(const Value::Dictionary& parameters, double timestamp);
    void getScreenName(std::optional<std::string>* name, std::optional<std::string>* className);
    // "_si", "_sc" and "_sn" of the current screen (APMValue objects), when there is one to give.
    Value::Dictionary screenParameters();
    bool isAppActive() const { return isAppActive_.load(); }
    void setRezaviviPerfDelegate(const std::shared_ptr<APMScreenViewReporterDelegate>& delegate);
    std::shared_ptr<APMScreenViewReporterDelegate> rezaviviPerfDelegate();
    // The next screen instance id (it wraps around at the end of the range).
    std::int64_t incrementScreenInstanceID();

    // On the reporter's queue.
    void postScreenDidChangeNotificationWithPreviousScreen(const std::shared_ptr<APMScreen>& previous,
                                                           const std::shared_ptr<APMScreen>& screen);
    void logViewScreenEventWithPreviousScreen(const std::shared_ptr<APMScreen>& previous,
                                              const std::shared_ptr<APMScreen>& screen,
                                              const Value::Dictionary& parameters);

    // The instance ids start after a random value, or after `lastInstanceID` when given.
    explicit APMScreenViewReporter(std::optional<std::int64_t> lastInstanceID = std::nullopt);

private:
    struct Engine {
        std::shared_ptr<APMReporterContext> context;
        std::shared_ptr<APMSessionReporter> sessionReporter;
    };
    Engine engine();
    bool engineEnabled();
    std::shared_ptr<APMEventSink> sink();
    // Whether the application counts as not active: it was active once and is no longer.
    bool isInactive() const { return appHasBeenInitialized_.load() && !isAppActive_.load(); }
    bool isOnQueue() const;
    void onQueue(const std::function<void()>& work);
    // The top controller of the key window's stack made current, when it is tracked.
    void updateCurrentViewControllerFromStack(const std::vector<std::shared_ptr<UIViewController>>& stack);

    std::shared_ptr<DispatchQueue> queue_;
    // On the queue only.
    std::weak_ptr<UIViewController> currentViewController_;
    std::shared_ptr<APMScreen> currentScreen_;
    std::shared_ptr<APMScreen> previousScreen_;
    std::uint64_t currentScreenInstanceID_ = 0;

    std::atomic<bool> isAppActive_{false};
    std::atomic<bool> appHasBeenInitialized_{false};
    Mutex mutex_;
    std::weak_ptr<APMScreenViewReporterDelegate> perfDelegate_ GUARDED_BY(mutex_);
    std::shared_ptr<APMEventSink> sink_ GUARDED_BY(mutex_);
    Engine engine_ GUARDED_BY(mutex_);
};

// MARK: The rules the reporter follows

// The Info.plist switch, read anew at every use: "RezaviviScreenReportingEnabled", else
// "RezaviviAutomaticScreenReportingEnabled"; a number decides, anything else means on.
bool APMIsScreenReportingEnabled();
// The part after the last "." unless the name ends with it ("Shop.CartViewController" gives
// "CartViewController").
std::string APMScreenClassNameForClass(const std::string& className);
// A controller's class name as the object runtime writes it: a C++ scope ("a::B") is a module.
std::string APMClassNameOfController(const UIViewController& controller);
// Framework classes whose name or superclass name begins with "_" are not tracked; the others
// are when their view is the key window or lies inside it.
bool APMShouldTrackViewController(const std::shared_ptr<UIViewController>& controller);
// The controller whose screen the user sees, chosen from a window's stack (oldest first).
std::shared_ptr<UIViewController> APMTopViewControllerInStack(const std::vector<std::shared_ptr<UIViewController>>& stack);

