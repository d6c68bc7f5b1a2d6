// The application stand-in: life cycle driven from outside, recorded side effects, and the
// main entry that runs the main run loop.
#include "platform/ui/UIApplication.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchQuiescence.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/ui/UIAlertModality.h"
#include "platform/ui/UIAlertView.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/URLNetwork.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// Real seconds from the start of a shutdown to the end of the work it hands on, whatever the
// observers of the termination take: the rest of five is the process's own end.
constexpr double kShutDownSeconds = 4.5;
// Real seconds, within those, that a name lookup still under way is given to end, so that the
// exit handlers may run.
constexpr double kLookupEndSeconds = 0.5;

}  // namespace

std::shared_ptr<UIApplication> UIApplication::sharedApplication() {
    static auto* application = new std::shared_ptr<UIApplication>(new UIApplication);  // never destroyed
    return *application;
}

bool UIApplication::launch(const std::string& delegateClassName, const Value::Dictionary& options) {
    auto object = ClassRegistry::create(delegateClassName);
    if (!object) {
        Diagnostics::notef("No application delegate class named \"%s\" is registered.", delegateClassName.c_str());
        return false;
    }
    if (!dynamic_cast<UIApplicationDelegate*>(object.get())) {
        Diagnostics::notef("The class \"%s\" is not an application delegate.", delegateClassName.c_str());
        return false;
    }
    return launchWithDelegate(object, options);
}

bool UIApplication::launchWithDelegate(const std::shared_ptr<NSObject>& delegate, const Value::Dictionary& options) {
    setDelegate(delegate);
    if (!delegate_) return false;
    state_ = UIApplicationState::Inactive;
    launched_ = true;
    const bool launched = delegate_->applicationDidFinishLaunchingWithOptions(*this, options);
    postLifeCycle(UIApplicationDidFinishLaunchingNotification, options);
    // Started by a link, the application is then handed it to open, as any later link.
    const Value& url = options.get(UIApplicationLaunchOptionsURLKey);
    if (launched && url.isString() && !url.string().empty()) (void)openURLInApplication(url.string(), Value::Dictionary{});
    becomeActive();
    return true;
}

void UIApplication::setDelegate(const std::shared_ptr<NSObject>& delegate) {
    delegateObject_ = delegate;
    delegate_ = dynamic_cast<UIApplicationDelegate*>(delegate.get());
    if (!delegate_) delegateObject_.reset();
}

std::shared_ptr<UIApplicationDelegate> UIApplication::delegate() const {
    if (!delegate_) return nullptr;
    return std::shared_ptr<UIApplicationDelegate>(delegateObject_, delegate_);
}

void UIApplication::postLifeCycle(const std::string& name, const Value::Dictionary& userInfo) {
    NSNotificationCenter::defaultCenter()->postNotificationName(name, shared_from_this(), userInfo);
}

bool UIApplication::resignActive() {
    if (state_ != UIApplicationState::Active) return false;
    state_ = UIApplicationState::Inactive;
    if (delegate_) delegate_->applicationWillResignActive(*this);
    postLifeCycle(UIApplicationWillResignActiveNotification);
    return true;
}

bool UIApplication::enterBackground() {
    if (state_ == UIApplicationState::Background) return false;
    resignActive();
    state_ = UIApplicationState::Background;
    if (delegate_) delegate_->applicationDidEnterBackground(*this);
    postLifeCycle(UIApplicationDidEnterBackgroundNotification);
    return true;
}

bool UIApplication::enterForeground() {
    if (state_ != UIApplicationState::Background) return false;
    state_ = UIApplicationState::Inactive;
    if (delegate_) delegate_->applicationWillEnterForeground(*this);
    postLifeCycle(UIApplicationWillEnterForegroundNotification);
    becomeActive();
    return true;
}

bool UIApplication::becomeActive() {
    if (state_ != UIApplicationState::Inactive) return false;
    state_ = UIApplicationState::Active;
    if (delegate_) delegate_->applicationDidBecomeActive(*this);
    postLifeCycle(UIApplicationDidBecomeActiveNotification);
    return true;
}

void UIApplication::terminate() {
    if (!launched_) return;
    launched_ = false;
    receivingRemote_ = false;
    if (delegate_) delegate_->applicationWillTerminate(*this);
    postLifeCycle(UIApplicationWillTerminateNotification);
}

void UIApplication::shutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    const double deadline = Clock::realSeconds() + kShutDownSeconds;
    terminate();
    // Work apart (a picture's decode) stops at its next poll; the wait below sees it end.
    DispatchQueue::cancelWorkInProgress();
    // Does not wait for a name lookup: one the system's resolver holds goes on by itself.
    URLNetwork::shutdown();
    // The cancelled transfers' clients hand their failures on; that work runs now, not while
    // the exit handlers run.
    const bool settled = DispatchQuiescence::waitUntilIdle(deadline - Clock::realSeconds());
    if (!settled) {
        std::fprintf(stderr, "Work queued by the application was still running %g s after it began to end.\n",
                     kShutDownSeconds);
    }
    // A failed write has said why on standard error.
    (void)NSUserDefaults::synchronizeAll();
    const bool lookupsEnded =
        URLNetwork::waitForLookupThreads(std::min(kLookupEndSeconds, deadline - Clock::realSeconds()));
    if (!lookupsEnded) std::fprintf(stderr, "A name lookup was still under way as the application ended.\n");
    stillRunning_ = !settled || !lookupsEnded;
    cutShort_.clear();
    if (!stillRunning_) return;
    std::vector<std::string> cut;
    if (!settled) {
        for (const auto& work : DispatchQuiescence::outstandingWork()) {
            if (work.owners.empty()) cut.push_back(work.where + " (" + work.what + ")");
            for (const auto& owner : work.owners) cut.push_back("a block of " + owner + " on " + work.where);
        }
    }
    if (!lookupsEnded) cut.push_back("a name lookup");
    for (std::size_t i = 0; i < cut.size(); ++i) {
        cutShort_ += (i == 0 ? "" : i + 1 == cut.size() ? " and " : ", ") + cut[i];
    }
}

void UIApplication::endIfStillRunning(int status) const {
    if (!stillRunning_) return;
    // The exit handlers free what such a thread may still use (OpenSSL's state, objects of
    // static duration); a process that ends at once frees nothing beside it.
    std::fprintf(stderr, "The process ends at once, without its exit handlers%s%s.\n",
                 cutShort_.empty() ? "" : ", cutting short ", cutShort_.c_str());
    std::fflush(nullptr);
    std::_Exit(status);
}

std::shared_ptr<UIWindow> UIApplication::keyWindow() const { return keyWindow_.lock(); }

std::vector<std::shared_ptr<UIWindow>> UIApplication::windows() const {
    std::vector<std::shared_ptr<UIWindow>> out;
    for (const auto& weak : windows_)
        if (auto window = weak.lock()) out.push_back(window);
    return out;
}

void UIApplication::registerWindow(const std::shared_ptr<UIWindow>& window) {
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(), [](const auto& w) { return w.expired(); }),
                   windows_.end());
    for (const auto& weak : windows_)
        if (weak.lock() == window) return;
    windows_.push_back(window);
}

void UIApplication::setKeyWindow(const std::shared_ptr<UIWindow>& window) {
    registerWindow(window);
    keyWindow_ = window;
}

void UIApplication::setIdleTimerDisabled(bool disabled) {
    std::vector<std::function<void(bool)>> observers;
    {
        MutexLock lock(mutex_);
        idleTimerDisabled_ = disabled;
        idleLog_.push_back(disabled);
        for (const auto& [token, observer] : idleObservers_) observers.push_back(observer);
    }
    for (const auto& observer : observers) observer(disabled);
}

std::vector<bool> UIApplication::idleTimerDisabledLog() const {
    MutexLock lock(mutex_);
    return idleLog_;
}

std::uint64_t UIApplication::addIdleTimerObserver(std::function<void(bool)> observer) {
    MutexLock lock(mutex_);
    const std::uint64_t token = nextToken_++;
    idleObservers_[token] = std::move(observer);
    return token;
}

bool UIApplication::canOpenURL(const std::string& url) const {
    std::function<bool(const std::string&)> policy;
    {
        MutexLock lock(mutex_);
        policy = openPolicy_;
    }
    if (url.empty()) return false;
    return policy ? policy(url) : true;
}

void UIApplication::openURL(const std::string& url, const Value::Dictionary& options, OpenURLCompletion completion) {
    const bool opened = canOpenURL(url);
    {
        MutexLock lock(mutex_);
        opened_.push_back({url, options, opened});
    }
    if (completion) NSRunLoop::mainRunLoop()->post([completion, opened] { completion(opened); });
}

void UIApplication::setOpenURLPolicy(std::function<bool(const std::string&)> policy) {
    MutexLock lock(mutex_);
    openPolicy_ = std::move(policy);
}

std::vector<UIApplication::OpenedURL> UIApplication::openedURLs() const {
    MutexLock lock(mutex_);
    return opened_;
}

UIBackgroundTaskIdentifier UIApplication::beginBackgroundTaskWithName(const std::string& name,
                                                                      std::function<void()> expirationHandler) {
    MutexLock lock(mutex_);
    const UIBackgroundTaskIdentifier id = nextToken_++;
    tasks_[id] = {name, std::move(expirationHandler)};
    return id;
}

UIBackgroundTaskIdentifier UIApplication::beginBackgroundTaskWithExpirationHandler(std::function<void()> handler) {
    return beginBackgroundTaskWithName("", std::move(handler));
}

void UIApplication::endBackgroundTask(UIBackgroundTaskIdentifier identifier) {
    MutexLock lock(mutex_);
    tasks_.erase(identifier);
}

std::vector<UIBackgroundTaskIdentifier> UIApplication::openBackgroundTasks() const {
    MutexLock lock(mutex_);
    std::vector<UIBackgroundTaskIdentifier> out;
    for (const auto& [id, task] : tasks_) out.push_back(id);
    return out;
}

std::string UIApplication::backgroundTaskName(UIBackgroundTaskIdentifier identifier) const {
    MutexLock lock(mutex_);
    const auto it = tasks_.find(identifier);
    return it == tasks_.end() ? std::string() : it->second.name;
}

void UIApplication::expireBackgroundTasks() {
    // Handlers usually end their task and may begin new ones, so take them out first; each
    // task's handler runs once even when the task stays open.
    std::vector<std::function<void()>> handlers;
    {
        MutexLock lock(mutex_);
        for (auto& [id, task] : tasks_) {
            if (task.expirationHandler) handlers.push_back(std::move(task.expirationHandler));
            task.expirationHandler = nullptr;
        }
    }
    for (const auto& handler : handlers) handler();
}

bool UIApplication::sendRemoteControlEvent(UIEventSubtype subtype) {
    return sendEvent(UIEvent::remoteControlEvent(subtype));
}

bool UIApplication::sendEvent(const std::shared_ptr<UIEvent>& event) {
    if (!event || event->type() != UIEventType::RemoteControl || !receivingRemote_) return false;
    std::shared_ptr<UIResponder> target = UIResponder::currentFirstResponder();
    if (!target) target = keyWindow();
    if (!target) target = std::static_pointer_cast<UIResponder>(shared_from_this());
    target->remoteControlReceivedWithEvent(event);
    return true;
}

std::shared_ptr<UIResponder> UIApplication::nextResponder() const {
    return std::dynamic_pointer_cast<UIResponder>(delegateObject_);
}

void UIApplication::rotateTo(UIInterfaceOrientation orientation) {
    const UIInterfaceOrientation from = statusBarOrientation();
    if (from == orientation) return;
    const bool landscape = UIInterfaceOrientationIsLandscape(orientation);
    // The device turns the other way round from the interface in landscape.
    UIDeviceOrientation device = UIDeviceOrientation::Portrait;
    if (orientation == UIInterfaceOrientation::PortraitUpsideDown) device = UIDeviceOrientation::PortraitUpsideDown;
    if (orientation == UIInterfaceOrientation::LandscapeLeft) device = UIDeviceOrientation::LandscapeRight;
    if (orientation == UIInterfaceOrientation::LandscapeRight) device = UIDeviceOrientation::LandscapeLeft;
    UIScreen::mainScreen()->setLandscape(landscape);
    statusBarOrientation_ = orientation;
    UIDevice::currentDevice()->setOrientation(device);
    const CGRect bounds = UIScreen::mainScreen()->bounds();
    const double duration = statusBarOrientationAnimationDuration();
    for (const auto& window : windows()) {
        if (window->screen() != UIScreen::mainScreen()) continue;
        window->setFrame(bounds);
        if (auto root = window->rootViewController())
            root->rotate(from, orientation, bounds.size, duration);
    }
    // An alert's window is not the application's, yet it covers the screen too.
    for (const auto& alert : UIAlertView::visibleAlertViews())
        if (auto window = alert->window()) window->setFrame(bounds);
}

void UIApplication::reset() {
    UIAlertView::forgetVisibleAlertViews();
    UIAlertModality::reset();
    delegateObject_.reset();
    delegate_ = nullptr;
    state_ = UIApplicationState::Inactive;
    launched_ = false;
    shutDown_ = false;
    stillRunning_ = false;
    cutShort_.clear();
    windows_.clear();
    keyWindow_.reset();
    idleTimerDisabled_ = false;
    receivingRemote_ = false;
    statusBarOrientation_ = UIInterfaceOrientation::Portrait;
    MutexLock lock(mutex_);
    idleLog_.clear();
    idleObservers_.clear();
    openPolicy_ = nullptr;
    opened_.clear();
    tasks_.clear();
    interceptors_.clear();
    delegateProxyInstalled_ = false;
}

// MARK: What the system hands the application

void UIApplication::addDelegateInterceptor(const std::shared_ptr<UIApplicationDelegate>& interceptor) {
    if (!interceptor) return;
    MutexLock lock(mutex_);
    if (std::find(interceptors_.begin(), interceptors_.end(), interceptor) == interceptors_.end()) {
        interceptors_.push_back(interceptor);
    }
}

std::vector<std::shared_ptr<UIApplicationDelegate>> UIApplication::delegateInterceptors() const {
    if (!delegateProxyInstalled_) return {};
    MutexLock lock(mutex_);
    return interceptors_;
}

bool UIApplication::openURLInApplication(const std::string& url, const Value::Dictionary& options) {
    for (const auto& interceptor : delegateInterceptors()) {
        if (interceptor->respondsToApplicationOpenURLOptions()) interceptor->applicationOpenURLOptions(*this, url, options);
    }
    return delegate_ && delegate_->respondsToApplicationOpenURLOptions() &&
           delegate_->applicationOpenURLOptions(*this, url, options);
}

bool UIApplication::openURLInApplication(const std::string& url, const std::string& sourceApplication,
                                         const Value& annotation) {
    for (const auto& interceptor : delegateInterceptors()) {
        if (interceptor->respondsToApplicationOpenURLSourceApplication()) {
            interceptor->applicationOpenURLSourceApplication(*this, url, sourceApplication, annotation);
        }
    }
    return delegate_ && delegate_->respondsToApplicationOpenURLSourceApplication() &&
           delegate_->applicationOpenURLSourceApplication(*this, url, sourceApplication, annotation);
}

bool UIApplication::continueUserActivity(const std::shared_ptr<NSUserActivity>& activity) {
    for (const auto& interceptor : delegateInterceptors()) {
        if (interceptor->respondsToApplicationContinueUserActivity()) {
            interceptor->applicationContinueUserActivity(*this, activity, [](const Value::Array&) {});
        }
    }
    return delegate_ && delegate_->respondsToApplicationContinueUserActivity() &&
           delegate_->applicationContinueUserActivity(*this, activity, [](const Value::Array&) {});
}

void UIApplication::handleEventsForBackgroundURLSession(const std::string& identifier,
                                                        std::function<void()> completionHandler) {
    for (const auto& interceptor : delegateInterceptors()) {
        if (interceptor->respondsToApplicationHandleEventsForBackgroundURLSession()) {
            interceptor->applicationHandleEventsForBackgroundURLSession(*this, identifier, completionHandler);
        }
    }
    if (delegate_ && delegate_->respondsToApplicationHandleEventsForBackgroundURLSession()) {
        delegate_->applicationHandleEventsForBackgroundURLSession(*this, identifier, std::move(completionHandler));
    }
}

int UIApplicationMain(int argc, char** argv, const std::string& delegateClassName) {
    NSProcessInfo::setArguments(argc, argv);
    auto application = UIApplication::sharedApplication();
    if (!application->launch(delegateClassName)) return 1;
    NSRunLoop::mainRunLoop()->run();
    application->shutDown();
    application->endIfStillRunning(0);
    return 0;
}
