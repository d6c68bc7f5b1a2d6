// The running application: its delegate and life cycle, windows, orientation, the idle timer,
// URL opening, background tasks and remote-control events. Everything the operating system
// would do to it is a call the simulator or a test makes.
#pragma once

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UIApplicationDelegate.h"
#include "platform/ui/UIEvent.h"
#include "platform/ui/UIResponder.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class NSUserActivity;
class UIWindow;

enum class UIApplicationState : int { Active = 0, Inactive = 1, Background = 2 };

// Interface orientations: the landscape values are the device's swapped, as on the platform.
enum class UIInterfaceOrientation : int {
    Unknown = 0,
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeLeft = 4,
    LandscapeRight = 3,
};

inline bool UIInterfaceOrientationIsLandscape(UIInterfaceOrientation o) {
    return o == UIInterfaceOrientation::LandscapeLeft || o == UIInterfaceOrientation::LandscapeRight;
}

// Bit set of supported orientations: bit n stands for orientation n.
using UIInterfaceOrientationMask = unsigned;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskPortrait = 1u << 1;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskPortraitUpsideDown = 1u << 2;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskLandscapeRight = 1u << 3;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskLandscapeLeft = 1u << 4;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskLandscape =
    UIInterfaceOrientationMaskLandscapeLeft | UIInterfaceOrientationMaskLandscapeRight;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskAll =
    UIInterfaceOrientationMaskPortrait | UIInterfaceOrientationMaskPortraitUpsideDown | UIInterfaceOrientationMaskLandscape;
inline constexpr UIInterfaceOrientationMask UIInterfaceOrientationMaskAllButUpsideDown =
    UIInterfaceOrientationMaskPortrait | UIInterfaceOrientationMaskLandscape;

using UIBackgroundTaskIdentifier = std::uint64_t;
inline constexpr UIBackgroundTaskIdentifier UIBackgroundTaskInvalid = 0;

inline const std::string UIApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline const std::string UIApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline const std::string UIApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline const std::string UIApplicationWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";
inline const std::string UIApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline const std::string UIApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";
inline const std::string UIApplicationLaunchOptionsURLKey = "UIApplicationLaunchOptionsURLKey";
inline const std::string UIApplicationLaunchOptionsUserActivityDictionaryKey =
    "UIApplicationLaunchOptionsUserActivityDictionaryKey";
inline const std::string UIApplicationLaunchOptionsUserActivityKey = "UIApplicationLaunchOptionsUserActivityKey";

class UIApplication : public UIResponder {
public:
    using OpenURLCompletion = std::function<void(bool success)>;
    struct OpenedURL {
        std::string url;
        Value::Dictionary options;
        bool opened = false;
    };

    // The one application, made on first use.
    static std::shared_ptr<UIApplication> sharedApplication();

    // Makes the delegate from the class registered under `delegateClassName` and launches:
    // did-finish-launching, its notification, the link of the launch options opened in the
    // application when the delegate answered YES, then becoming active. False (with a message on
    // standard error) when no such class is registered or it is not an application delegate.
    bool launch(const std::string& delegateClassName, const Value::Dictionary& options = {});
    // The same with a delegate object made by the caller (tests).
    bool launchWithDelegate(const std::shared_ptr<NSObject>& delegate, const Value::Dictionary& options = {});

    // Life-cycle changes as the system would make them; each calls the delegate, then posts
    // the notification (object: the application). A change that does not apply to the current
    // state (backgrounding a background application) does nothing and answers false.
    bool resignActive();
    bool enterBackground();   // resigns active first when active
    bool enterForeground();   // then becomes active
    bool becomeActive();
    // Input stops (remote-control events are refused), then the delegate and the observers
    // hear that the application will terminate.
    void terminate();
    // Ends the application for good as its process ends, in order: terminate() (the delegate
    // and the observers finish their work or store it for the next launch), work apart is
    // cancelled (DispatchQueue::cancelWorkInProgress), the network shuts down (live transfers
    // cancelled, its thread joined, name lookups left to end by themselves), the work apart and
    // the work those cancellations hand on run to their ends, and every user-defaults domain is
    // written. All within 4.5 s of real time, whatever the work, a transfer or a lookup does;
    // afterwards nothing of the platform runs in a thread unless that bound cut it short (see
    // endIfStillRunning). On the main thread, once per process.
    void shutDown();
    // For main, after shutDown(), as it is about to return `status`: when the shutdown's bound
    // ended while work still ran or a name lookup was still under way, the process ends here with
    // `status`, its output flushed, and no exit handler runs beside that thread to free what it
    // uses, saying on standard error what it cuts short (each block by its queue and by who made
    // it); otherwise this returns, and so may main.
    void endIfStillRunning(int status) const;
    UIApplicationState applicationState() const { return state_.load(); }

    std::shared_ptr<UIApplicationDelegate> delegate() const;
    std::shared_ptr<NSObject> delegateObject() const { return delegateObject_; }
    void setDelegate(const std::shared_ptr<NSObject>& delegate);

    // Windows register themselves; the list holds the live ones in creation order.
    std::shared_ptr<UIWindow> keyWindow() const;
    std::vector<std::shared_ptr<UIWindow>> windows() const;
    void registerWindow(const std::shared_ptr<UIWindow>& window);
    void setKeyWindow(const std::shared_ptr<UIWindow>& window);

    // Screen lock: settable from any thread; every set is logged and observers are told.
    bool isIdleTimerDisabled() const { return idleTimerDisabled_.load(); }
    void setIdleTimerDisabled(bool disabled);
    std::vector<bool> idleTimerDisabledLog() const;
    std::uint64_t addIdleTimerObserver(std::function<void(bool disabled)> observer);

    // URL opening: recorded; whether a URL opens is the policy's answer (yes by default). The
    // completion runs on a later turn of the main run loop.
    void openURL(const std::string& url, const Value::Dictionary& options, OpenURLCompletion completion);
    bool canOpenURL(const std::string& url) const;
    void setOpenURLPolicy(std::function<bool(const std::string& url)> policy);
    std::vector<OpenedURL> openedURLs() const;

    // What the system hands the running application: a URL to open, an activity to continue,
    // the events of a background URL session. Each goes to the interceptors of an installed
    // delegate proxy, then to the delegate when it implements the call; the answer is the
    // delegate's (NO without one). Main thread.
    bool openURLInApplication(const std::string& url, const Value::Dictionary& options);
    bool openURLInApplication(const std::string& url, const std::string& sourceApplication, const Value& annotation);
    bool continueUserActivity(const std::shared_ptr<NSUserActivity>& activity);
    void handleEventsForBackgroundURLSession(const std::string& identifier, std::function<void()> completionHandler);
    // The hook points of the delegate proxy (what a method swizzler would install): once
    // installed, every interceptor added hears the calls above before the delegate does.
    void installDelegateProxy() { delegateProxyInstalled_ = true; }
    bool isDelegateProxyInstalled() const { return delegateProxyInstalled_.load(); }
    void addDelegateInterceptor(const std::shared_ptr<UIApplicationDelegate>& interceptor);
    std::vector<std::shared_ptr<UIApplicationDelegate>> delegateInterceptors() const;

    // Background tasks: ids above 0; expireBackgroundTasks() runs the handler of every task
    // still open (as time running out would), once each.
    UIBackgroundTaskIdentifier beginBackgroundTaskWithName(const std::string& name, std::function<void()> expirationHandler);
    UIBackgroundTaskIdentifier beginBackgroundTaskWithExpirationHandler(std::function<void()> expirationHandler);
    void endBackgroundTask(UIBackgroundTaskIdentifier identifier);
    std::vector<UIBackgroundTaskIdentifier> openBackgroundTasks() const;
    std::string backgroundTaskName(UIBackgroundTaskIdentifier identifier) const;
    void expireBackgroundTasks();

    // Remote-control events: only while receiving them, an injected event goes to the key
    // window's first responder (else the key window) and up its responder chain (the
    // application, then the delegate when it is a responder). False when not receiving.
    void beginReceivingRemoteControlEvents() { receivingRemote_ = true; }
    void endReceivingRemoteControlEvents() { receivingRemote_ = false; }
    bool isReceivingRemoteControlEvents() const { return receivingRemote_.load(); }
    bool sendRemoteControlEvent(UIEventSubtype subtype);
    bool sendEvent(const std::shared_ptr<UIEvent>& event);

    // Interface orientation. rotateTo turns device, screen and windows and tells the root
    // controllers (size transition and the rotation callbacks).
    UIInterfaceOrientation statusBarOrientation() const { return statusBarOrientation_.load(); }
    void setStatusBarOrientation(UIInterfaceOrientation orientation) { statusBarOrientation_ = orientation; }
    double statusBarOrientationAnimationDuration() const { return 0.3; }
    void rotateTo(UIInterfaceOrientation orientation);

    std::shared_ptr<UIResponder> nextResponder() const override;

    // Drops windows, delegate, logs and tasks (between tests).
    void reset();

private:
    UIApplication() = default;
    void postLifeCycle(const std::string& name, const Value::Dictionary& userInfo = {});

    struct BackgroundTask {
        std::string name;
        std::function<void()> expirationHandler;
    };

    std::shared_ptr<NSObject> delegateObject_;
    UIApplicationDelegate* delegate_ = nullptr;
    std::atomic<UIApplicationState> state_{UIApplicationState::Inactive};
    bool launched_ = false;
    bool shutDown_ = false;
    bool stillRunning_ = false;  // the shutdown's bound ended while something still ran
    std::string cutShort_;       // what still ran then: "a block of X on queue \"Y\"", "a name lookup"
    std::vector<std::weak_ptr<UIWindow>> windows_;
    std::weak_ptr<UIWindow> keyWindow_;

    std::atomic<bool> delegateProxyInstalled_{false};
    std::atomic<bool> idleTimerDisabled_{false};
    std::atomic<bool> receivingRemote_{false};
    std::atomic<UIInterfaceOrientation> statusBarOrientation_{UIInterfaceOrientation::Portrait};

    mutable Mutex mutex_;
    std::vector<bool> idleLog_ GUARDED_BY(mutex_);
    std::map<std::uint64_t, std::function<void(bool)>> idleObservers_ GUARDED_BY(mutex_);
    std::function<bool(const std::string&)> openPolicy_ GUARDED_BY(mutex_);
    std::vector<OpenedURL> opened_ GUARDED_BY(mutex_);
    std::map<UIBackgroundTaskIdentifier, BackgroundTask> tasks_ GUARDED_BY(mutex_);
    std::vector<std::shared_ptr<UIApplicationDelegate>> interceptors_ GUARDED_BY(mutex_);
    std::uint64_t nextToken_ GUARDED_BY(mutex_) = 1;
};

// Creates the application and its delegate (the class registered under `delegateClassName`)
// and runs the main run loop until it is stopped; then the application shuts down
// (shutDown(), endIfStillRunning()). Returns 0, or 1 when the delegate class is missing.
int UIApplicationMain(int argc, char** argv, const std::string& delegateClassName);
