// Screen views: the appearance hooks, the key window's stack of controllers, the current screen
// and the "_vs" events.
#include "analytics/reporters/APMScreenViewReporter.h"

#include "analytics/core/APMAEU.h"
#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMEventParameters.h"
#include "analytics/core/APMEventSink.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNumericUtil.h"
#include "analytics/core/APMValue.h"
#include "analytics/reporters/APMAdExposureReporter.h"
#include "analytics/reporters/APMAppActivity.h"
#include "analytics/reporters/APMReporterContext.h"
#include "analytics/reporters/APMScreen.h"
#include "analytics/reporters/APMScreenClassName.h"
#include "analytics/reporters/APMSessionReporter.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/services/VULLogger.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIPageViewController.h"
#include "platform/ui/UITabBarController.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kMaxScreenClassLength = 100;
const char* const kLoggerService = "<ZevUzeviroreda>";

Mutex gScreenViewSharedMutex;
// Never destroyed: the hooks may still reach it while the process ends.
std::shared_ptr<APMScreenViewReporter>* gScreenViewShared GUARDED_BY(gScreenViewSharedMutex) = nullptr;
bool gHooksInstalled GUARDED_BY(gScreenViewSharedMutex) = false;

// The application's key window; none inside an application extension, where nothing is tracked.
std::shared_ptr<UIWindow> keyWindowOfApplication() {
    auto application = APMAEU::sharedApplication();
    return application ? application->keyWindow() : nullptr;
}

std::string messageCode(long code) {
    char text[16];
    std::snprintf(text, sizeof text, "I-ACS%06ld", code);
    return text;
}

// The key window's stack, made empty and attached when absent; none without a key window.
std::shared_ptr<APMControllerStack> keyWindowStack(std::shared_ptr<UIWindow>* keyWindowOut = nullptr) {
    auto keyWindow = keyWindowOfApplication();
    if (keyWindowOut) *keyWindowOut = keyWindow;
    return keyWindow ? APMScreenClassName::apmStackObject(*keyWindow) : nullptr;
}

bool viewIsLoadedAndInWindow(const UIViewController& controller) {
    auto view = controller.viewIfLoaded();
    return view && view->window();
}

std::shared_ptr<UIViewController> strongController(UIViewController& controller) {
    return std::static_pointer_cast<UIViewController>(controller.weak_from_this().lock());
}

bool isContainer(const std::shared_ptr<UIViewController>& controller) {
    return std::dynamic_pointer_cast<UINavigationController>(controller) ||
           std::dynamic_pointer_cast<UITabBarController>(controller) ||
           std::dynamic_pointer_cast<UIPageViewController>(controller);
}

// The controller a candidate leads to: down through containers to what they show, or what it presents.
std::shared_ptr<UIViewController> descend(const std::shared_ptr<UIViewController>& start) {
    auto step = [](const std::shared_ptr<UIViewController>& controller) -> std::shared_ptr<UIViewController> {
        if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(controller)) {
            return navigation->visibleViewController();
        }
        if (auto tabs = std::dynamic_pointer_cast<UITabBarController>(controller)) return tabs->selectedViewController();
        if (auto pages = std::dynamic_pointer_cast<UIPageViewController>(controller)) {
            auto shown = pages->viewControllers();
            return shown.empty() ? nullptr : shown.front();
        }
        if (auto presented = controller->presentedViewController()) return presented;
        return controller->isBeingPresented() ? controller : nullptr;
    };
    auto current = start ? step(start) : nullptr;
    // A presented chain can loop back only through containers; the bound keeps a broken tree finite.
    for (int depth = 0; current && isContainer(current) && depth < 64; ++depth) current = step(current);
    return current;
}

bool isValidScreenText(const std::string& text, std::int64_t* failure = nullptr) {
    return APMDataTypeValidator::isValidScreenParameterValue(Value(text), failure);
}

}  // namespace

// MARK: Rules

bool APMIsScreenReportingEnabled() {
    auto bundle = NSBundle::mainBundle();
    Value value = bundle->objectForInfoDictionaryKey("RezaviviScreenReportingEnabled");
    if (value.isNull()) value = bundle->objectForInfoDictionaryKey("RezaviviAutomaticScreenReportingEnabled");
    switch (value.type()) {
        case Value::Type::Bool:
        case Value::Type::Integer:
        case Value::Type::Unsigned:
        case Value::Type::Double:
            return value.boolValue();
        default:
            return true;
    }
}

std::string APMScreenClassNameForClass(const std::string& className) {
    const auto dot = className.rfind('.');
    if (dot == std::string::npos || dot + 1 == className.size()) return className;
    return className.substr(dot + 1);
}

std::string APMClassNameOfController(const UIViewController& controller) {
    const std::string name = controller.className();
    std::string written;
    written.reserve(name.size());
    for (std::size_t at = 0; at < name.size(); ++at) {
        if (name.compare(at, 2, "::") == 0) {
            written += '.';
            ++at;
        } else {
            written += name[at];
        }
    }
    return written;
}

bool APMShouldTrackViewController(const std::shared_ptr<UIViewController>& controller) {
    if (!controller) return false;
    const std::string className = APMClassNameOfController(*controller);
    if (NSBundle::bundleForClass(className)->bundlePath() != NSBundle::mainBundle()->bundlePath()) {
        if (APMScreenClassNameForClass(className).rfind('_', 0) == 0) return false;
        if (APMScreenClassNameForClass(controller->superclassName()).rfind('_', 0) == 0) return false;
    }
    auto view = controller->viewIfLoaded();
    if (!view) return false;
    auto keyWindow = keyWindowOfApplication();
    if (!keyWindow) return false;
    return view.get() == keyWindow.get() || view->isDescendantOfView(keyWindow.get());
}

std::shared_ptr<UIViewController> APMTopViewControllerInStack(const std::vector<std::shared_ptr<UIViewController>>& stack) {
    if (stack.empty()) {
        APMMeasurementMonitor()->logWithLevel(5, 31011, "Root view controller not found");
        return nullptr;
    }
    for (auto entry = stack.rbegin(); entry != stack.rend(); ++entry) {
        auto screen = APMScreenClassName::apmScreen(**entry);
        if (screen && screen->isManuallySet() && viewIsLoadedAndInWindow(**entry)) return *entry;
    }
    std::shared_ptr<UIViewController> firstDescent;
    bool firstPassedOver = false;
    for (auto entry = stack.rbegin(); entry != stack.rend(); ++entry) {
        const auto& controller = *entry;
        const bool isFirst = controller == stack.front();
        if (!viewIsLoadedAndInWindow(*controller)) {
            if (isFirst) firstPassedOver = true;
            continue;
        }
        if (APMScreenClassName::apmScreen(*controller)) return controller;
        auto candidate = controller;
        if (auto parent = controller->parentViewController(); parent && parent->childViewControllers().size() >= 2) {
            const auto& children = parent->childViewControllers();
            const bool siblingHidden = std::any_of(children.begin(), children.end(), [&](const auto& child) {
                return child != controller && !viewIsLoadedAndInWindow(*child);
            });
            if (siblingHidden) {
                if (APMScreenClassName::apmScreen(*parent)) return parent;
                candidate = parent;
            }
        }
        auto descent = descend(candidate);
        if (isFirst) firstDescent = descent;
        if (descent && viewIsLoadedAndInWindow(*descent)) return descent;
    }
    if (firstDescent) return firstDescent;
    if (firstPassedOver) {
        if (auto descent = descend(stack.front())) return descent;
    }
    return stack.front();
}

// MARK: The shared reporter and its hooks

APMScreenViewReporter::APMScreenViewReporter(std::optional<std::int64_t> lastInstanceID)
    : queue_(DispatchQueue::create(kQueueLabel)) {
    // A generator that fails leaves the ids starting at 1: they stay unique within the process.
    if (!lastInstanceID) lastInstanceID = APMNumericUtil::randomInt64().value_or(0);
    currentScreenInstanceID_ = static_cast<std::uint64_t>(*lastInstanceID);
}

std::shared_ptr<APMScreenViewReporter> APMScreenViewReporter::sharedInstance() {
    std::shared_ptr<APMScreenViewReporter> made;
    {
        MutexLock lock(gScreenViewSharedMutex);
        if (!gScreenViewShared) gScreenViewShared = new std::shared_ptr<APMScreenViewReporter>();
        if (*gScreenViewShared) return *gScreenViewShared;
        made = std::make_shared<APMScreenViewReporter>();
        *gScreenViewShared = made;
    }
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(made, &APMScreenViewReporter::handleApplicationDidBecomeActive,
                        UIApplicationDidBecomeActiveNotification);
    center->addObserver(made, &APMScreenViewReporter::handleApplicationWillResignActive,
                        UIApplicationWillResignActiveNotification);
    center->addObserver(made, &APMScreenViewReporter::handleApplicationDidEnterBackground,
                        UIApplicationDidEnterBackgroundNotification);
    center->addObserver(made, &APMScreenViewReporter::handleWindowDidResign, UIWindowDidResignKeyNotification);
    std::weak_ptr<APMScreenViewReporter> weak = made;
    APMSetAppActiveProvider([weak] {
        auto reporter = weak.lock();
        return reporter && reporter->isAppActive();
    });
    return made;
}

bool APMScreenViewReporter::hasSharedInstance() {
    MutexLock lock(gScreenViewSharedMutex);
    return gHooksInstalled || (gScreenViewShared && *gScreenViewShared);
}

void APMScreenViewReporter::installHooks() {
    {
        MutexLock lock(gScreenViewSharedMutex);
        if (gHooksInstalled) return;
        gHooksInstalled = true;
    }
    if (!APMIsScreenReportingEnabled()) {
        VULLogInfo(kLoggerService, false, messageCode(36001),
                   "Analytics screen reporting is disabled. UIViewController transitions will not be logged.");
        return;
    }
    if (ClassRegistry::isRegistered("DARODatabase")) {
        VULLogWarning(kLoggerService, false, messageCode(36005),
                      "Detected an older version of Vizudi Analytics for Rezavivi framework. Please upgrade to the "
                      "latest version of Vizudi Analytics for Rezavivi.");
        return;
    }
    auto didAppear = UIViewController::appearanceImplementation(UIViewControllerAppearanceHook::DidAppear);
    if (!didAppear) {
        VULLogWarning(kLoggerService, false, messageCode(36003),
                      "Failed to get old implementation of -[UIViewController viewDidAppear:]. UIViewController "
                      "transitions will not be logged.");
        return;
    }
    auto didDisappear = UIViewController::appearanceImplementation(UIViewControllerAppearanceHook::DidDisappear);
    if (!didDisappear) {
        VULLogWarning(kLoggerService, false, messageCode(36004),
                      "Failed to get old implementation of -[UIViewController viewDidDisappear:]. UIViewController "
                      "transitions will not be logged.");
        return;
    }
    UIViewController::setAppearanceImplementation(
        UIViewControllerAppearanceHook::DidAppear, [didAppear](UIViewController& controller, bool animated) {
            didAppear(controller, animated);
            if (auto strong = strongController(controller)) sharedInstance()->viewControllerDidAppear(strong);
        });
    UIViewController::setAppearanceImplementation(
        UIViewControllerAppearanceHook::DidDisappear, [didDisappear](UIViewController& controller, bool animated) {
            didDisappear(controller, animated);
            if (auto strong = strongController(controller)) sharedInstance()->viewControllerDidDisappear(strong);
        });
}

void APMScreenViewReporter::resetSharedInstance() {
    std::shared_ptr<APMScreenViewReporter> old;
    bool hooked = false;
    {
        MutexLock lock(gScreenViewSharedMutex);
        hooked = gHooksInstalled;
        gHooksInstalled = false;
        if (gScreenViewShared) old = std::move(*gScreenViewShared);
    }
    if (hooked) UIViewController::resetAppearanceImplementations();
    if (!old) return;
    APMSetAppActiveProvider(nullptr);
    NSNotificationCenter::defaultCenter()->removeObserver(old);
    // Work it posted (the catch-up "_vs", manual screen views) finishes before it goes.
    old->queue_->sync([] {});
}

APMScreenViewReporter::~APMScreenViewReporter() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

void APMScreenViewReporter::setEventSink(std::shared_ptr<APMEventSink> sink) {
    MutexLock lock(mutex_);
    sink_ = std::move(sink);
}

void APMScreenViewReporter::setEngine(std::shared_ptr<APMReporterContext> context,
                                      std::shared_ptr<APMSessionReporter> sessionReporter) {
    MutexLock lock(mutex_);
    engine_ = Engine{std::move(context), std::move(sessionReporter)};
}

APMScreenViewReporter::Engine APMScreenViewReporter::engine() {
    MutexLock lock(mutex_);
    return engine_;
}

std::shared_ptr<APMEventSink> APMScreenViewReporter::sink() {
    MutexLock lock(mutex_);
    return sink_;
}

bool APMScreenViewReporter::engineEnabled() {
    auto current = sink();
    return engine().sessionReporter && current && current->isEnabled();
}

bool APMScreenViewReporter::isOnQueue() const { return DispatchQueue::currentQueue() == queue_; }

void APMScreenViewReporter::onQueue(const std::function<void()>& work) {
    if (isOnQueue()) {
        work();
    } else {
        queue_->sync(work);
    }
}

std::int64_t APMScreenViewReporter::incrementScreenInstanceID() {
    // Wraps around at the end of the range instead of overflowing.
    currentScreenInstanceID_ += 1;
    return static_cast<std::int64_t>(currentScreenInstanceID_);
}

// MARK: Appearance (main thread)

void APMScreenViewReporter::updateCurrentViewControllerFromStack(
    const std::vector<std::shared_ptr<UIViewController>>& stack) {
    auto top = APMTopViewControllerInStack(stack);
    if (top && APMShouldTrackViewController(top)) setCurrentViewController(top);
}

void APMScreenViewReporter::viewControllerDidAppear(const std::shared_ptr<UIViewController>& controller) {
    if (!controller) return;
    std::shared_ptr<UIWindow> keyWindow;
    auto stack = keyWindowStack(&keyWindow);
    const bool tracked = APMShouldTrackViewController(controller);
    if (stack) {
        if (keyWindow->rootViewController() == controller && !stack->entries.empty() &&
            stack->entries.front().lock() != controller) {
            stack = APMScreenClassName::replaceApmStack(*keyWindow);
        }
        stack->remove(controller.get());
        if (tracked) stack->entries.push_back(controller);
        stack->compact();
        updateCurrentViewControllerFromStack(stack->controllers());
    }
    if (auto delegate = rezaviviPerfDelegate()) delegate->viewControllerDidAppear(controller, tracked);
}

void APMScreenViewReporter::viewControllerDidDisappear(const std::shared_ptr<UIViewController>& controller) {
    if (!controller) return;
    if (auto stack = keyWindowStack()) {
        if (stack->entries.empty() || stack->entries.front().lock() != controller) stack->remove(controller.get());
        stack->compact();
        updateCurrentViewControllerFromStack(stack->controllers());
    }
    if (auto delegate = rezaviviPerfDelegate()) delegate->viewControllerDidDisappear(controller);
}

void APMScreenViewReporter::handleWindowDidResign(const NSNotification&) {
    auto keyWindow = keyWindowOfApplication();
    if (!keyWindow) return;
    const auto stack = APMScreenClassName::apmStack(*keyWindow);
    if (!stack.empty()) updateCurrentViewControllerFromStack(stack);
}

// MARK: The current screen

void APMScreenViewReporter::setCurrentViewController(const std::shared_ptr<UIViewController>& controller) {
    if (!controller) {
        APMMeasurementMonitor()->logWithLevel(3, 31005, "Received nil view controller");
        return;
    }
    const std::string className = APMScreenClassNameForClass(APMClassNameOfController(*controller));
    const bool enabled = engineEnabled();
    onQueue([&] {
        if (enabled && currentViewController_.lock() == controller) {
            auto screen = APMScreenClassName::apmScreen(*controller);
            APMMeasurementMonitor()->logWithLevel(7, 31006, "View controller already tracked. Class, ID",
                                                  Value(className),
                                                  Value(static_cast<long long>(screen ? screen->instanceID() : 0)));
            return;
        }
        std::string defaultClass = className;
        if (defaultClass.size() > kMaxScreenClassLength) {
            // Whole characters: a cut inside a multi-byte character would not be valid text.
            std::size_t cut = kMaxScreenClassLength;
            while (cut > 0 && (static_cast<unsigned char>(defaultClass[cut]) & 0xC0) == 0x80) --cut;
            defaultClass = className.substr(0, cut);
            APMMeasurementMonitor()->logWithLevel(
                7, 31007, "Trimmed name of default screen class. Original screen class, trimmed screen class",
                Value(className), Value(defaultClass));
        }
        if (!isValidScreenText(defaultClass)) {
            APMMeasurementMonitor()->logWithLevel(3, 31008, "Received invalid default screen class", Value(defaultClass));
            return;
        }
        auto screen = APMScreenClassName::apmScreen(*controller);
        if (!screen) {
            screen = APMScreen::initWithName(std::nullopt, defaultClass, incrementScreenInstanceID());
            APMScreenClassName::setApmScreen(*controller, screen);
        }
        currentViewController_ = controller;
        if (screen == currentScreen_) return;
        if (enabled) {
            APMMeasurementMonitor()->logWithLevel(7, 31010, "Tracking view controller. Class, ID", Value(className),
                                                  Value(static_cast<long long>(screen->instanceID())));
        }
        auto previous = currentScreen_ ? currentScreen_->copy() : nullptr;
        currentScreen_ = screen;
        postScreenDidChangeNotificationWithPreviousScreen(previous, screen);
        if (APMIsScreenReportingEnabled()) logViewScreenEventWithPreviousScreen(previous, screen, {});
    });
}

void APMScreenViewReporter::setScreenName(const std::optional<std::string>& name,
                                          const std::optional<std::string>& className) {
    if (!APMIsScreenReportingEnabled()) {
        APMMeasurementMonitor()->logWithLevel(3, 31000,
                                              "Ignoring call to setScreenName:screenClass:. Screen reporting is disabled.");
        return;
    }
    if (name && !isValidScreenText(*name)) {
        APMMeasurementMonitor()->logWithLevel(3, 31001, "Received invalid screen name", Value(*name));
        return;
    }
    if (className && !isValidScreenText(*className)) {
        APMMeasurementMonitor()->logWithLevel(3, 31002, "Received invalid screen class", Value(*className));
        return;
    }
    // The stack is a main-thread object: its last entry is read before the queue is entered.
    std::vector<std::shared_ptr<UIViewController>> stack;
    if (auto keyWindow = keyWindowOfApplication()) stack = APMScreenClassName::apmStack(*keyWindow);
    onQueue([&] {
        if (stack.empty()) {
            APMMeasurementMonitor()->logWithLevel(3, 31003,
                                                  "setScreenName:screenClass: must be called after a view controller has appeared");
            return;
        }
        const auto& controller = stack.back();
        const std::optional<std::string> screenClass =
            className ? className : std::optional<std::string>(APMScreenClassNameForClass(APMClassNameOfController(*controller)));
        const std::optional<std::string> currentName = currentScreen_ ? currentScreen_->name() : std::nullopt;
        const std::optional<std::string> currentClass = currentScreen_ ? currentScreen_->screenClassName() : std::nullopt;
        if (name == currentName && screenClass == currentClass) {
            APMMeasurementMonitor()->logWithLevel(7, 31004, "Ignoring duplicate screen name and screen class",
                                                  name ? Value(*name) : Value(), screenClass ? Value(*screenClass) : Value());
            return;
        }
        auto screen = APMScreen::initWithName(name, screenClass, incrementScreenInstanceID());
        screen->setManuallySet(true);
        APMScreenClassName::setApmScreen(*controller, screen);
        currentViewController_ = controller;
        APMMeasurementMonitor()->logWithLevel(7, 31009, "Set screen name and screen class", name ? Value(*name) : Value(),
                                              screenClass ? Value(*screenClass) : Value());
        auto previous = currentScreen_;
        currentScreen_ = screen;
        postScreenDidChangeNotificationWithPreviousScreen(previous, screen);
        logViewScreenEventWithPreviousScreen(previous, screen, {});
    });
}

void APMScreenViewReporter::trackScreenWithParameters(const Value::Dictionary& parameters, double timestamp) {
    if (isInactive()) {
        APMMeasurementMonitor()->logWithLevel(3, 31026, "Cannot log screen view event when the app is not active");
        return;
    }
    auto text = [&](const char* key) -> std::optional<std::string> {
        const Value* value = parameters.find(key);
        if (!value || value->isNull()) return std::nullopt;
        if (auto wrapped = value->objectAs<APMValue>()) {
            if (const std::string* string = wrapped->stringValue()) return *string;
            return wrapped->description();
        }
        return value->isString() ? std::optional<std::string>(value->stringValue()) : std::optional<std::string>(value->description());
    };
    const std::optional<std::string> name = text("screen_name");
    std::optional<std::string> className = text("screen_class");
    if (name && !isValidScreenText(*name)) {
        APMMeasurementMonitor()->logWithLevel(3, 31027, "Received invalid name for screen", Value(*name));
        return;
    }
    if (className && !isValidScreenText(*className)) {
        APMMeasurementMonitor()->logWithLevel(3, 31028, "Received invalid class for screen", Value(*className));
        return;
    }
    if (!className && NSThread::isMainThread()) {
        auto application = APMAEU::sharedApplication();
        for (const auto& window : application ? application->windows() : std::vector<std::shared_ptr<UIWindow>>{}) {
            if (!window->isKeyWindow()) continue;
            if (auto root = window->rootViewController()) {
                className = APMScreenClassNameForClass(APMClassNameOfController(*root));
            }
            break;
        }
    }
    std::shared_ptr<APMScreen> previous;
    std::shared_ptr<APMScreen> screen;
    onQueue([&] {
        if (!className && !NSThread::isMainThread() && APMIsScreenReportingEnabled() && currentScreen_) {
            className = currentScreen_->screenClassName();
        }
        previous = currentScreen_;
        screen = APMScreen::initWithName(name, className, incrementScreenInstanceID());
        screen->setManuallyTracked(true);
        screen->setEventTimestamp(timestamp);
        currentScreen_ = screen;
    });
    APMMeasurementMonitor()->logWithLevel(7, 31029, "Logging screen view with screen name and screen class",
                                          name ? Value(*name) : Value(), className ? Value(*className) : Value());
    std::weak_ptr<APMScreenViewReporter> weak = weakSelf<APMScreenViewReporter>();
    queue_->async([weak, previous, screen, parameters] {
        auto reporter = weak.lock();
        if (!reporter) return;
        reporter->postScreenDidChangeNotificationWithPreviousScreen(previous, screen);
        Value::Dictionary sanitized = APMSanitizeEventParameters(parameters, std::string("screen_view"), true, false);
        sanitized.erase("screen_name");
        sanitized.erase("screen_class");
        reporter->logViewScreenEventWithPreviousScreen(previous, screen, sanitized);
    });
}

void APMScreenViewReporter::getScreenName(std::optional<std::string>* name, std::optional<std::string>* className) {
    if (!name && !className) return;
    onQueue([&] {
        if (name) *name = currentScreen_ ? currentScreen_->name() : std::nullopt;
        if (className) *className = currentScreen_ ? currentScreen_->screenClassName() : std::nullopt;
    });
}

Value::Dictionary APMScreenViewReporter::screenParameters() {
    Value::Dictionary parameters;
    if (isInactive()) return parameters;
    // Without a current screen there is nothing to give, whatever the switch says.
    onQueue([&] {
        if (!currentScreen_) return;
        parameters.set("_si", Value(APMValue::initWithInt64(currentScreen_->instanceID())));
        const auto& className = currentScreen_->screenClassName();
        if (className && !className->empty()) parameters.set("_sc", Value(APMValue::initWithString(Value(*className))));
        const auto& name = currentScreen_->name();
        if (name && !name->empty()) parameters.set("_sn", Value(APMValue::initWithString(Value(*name))));
    });
    return parameters;
}

// MARK: Hand-off and "_vs" (on the queue)

void APMScreenViewReporter::postScreenDidChangeNotificationWithPreviousScreen(const std::shared_ptr<APMScreen>& previous,
                                                                              const std::shared_ptr<APMScreen>& screen) {
    if (!isAppActive_.load()) return;
    if (previous) {
        if (auto sessionReporter = engine().sessionReporter) sessionReporter->handleScreenDidChangeFromScreen(previous, screen);
    }
    APMAdExposureReporter::sharedInstance()->handleScreenDidChangeFromScreen(previous, screen);
}

void APMScreenViewReporter::logViewScreenEventWithPreviousScreen(const std::shared_ptr<APMScreen>& previous,
                                                                 const std::shared_ptr<APMScreen>& screen,
                                                                 const Value::Dictionary& given) {
    if (!screen) return;
    if (isInactive()) {
        APMMeasurementMonitor()->logWithLevel(7, 31013, "Screen view event not logged. App is not active.");
        return;
    }
    Value::Dictionary parameters = given;
    for (const auto& [key, value] : APMScreenParametersForScreen(screen)) parameters.set(key, value);
    if (previous) {
        for (const auto& [key, value] : APMPreviousScreenParametersForScreen(previous)) parameters.set(key, value);
        const Engine current = engine();
        if (current.context && current.sessionReporter && current.context->efficientEngagementReportingEnabled()) {
            const std::int64_t millis = current.sessionReporter->cutFreerideEngagementTimeMillis();
            if (millis >= 1) parameters.set("_et", Value(APMValue::initWithInt64(millis)));
        }
    }
    if (!APMIsScreenReportingEnabled()) parameters.set("_mst", Value(APMValue::initWithInt64(1)));
    const std::string origin = screen->isManuallyTracked() ? kManualOrigin : kAutomaticOrigin;
    previousScreen_ = screen;
    auto road = sink();
    if (!road) return;
    if (screen->isManuallyTracked()) {
        road->logInternalEventWithOrigin(origin, "_vs", screen->eventTimestamp(), parameters);
    } else {
        road->logInternalEventWithOrigin(origin, "_vs", parameters);
    }
}

// MARK: The application's activity (main thread)

void APMScreenViewReporter::handleApplicationDidBecomeActive(const NSNotification&) {
    isAppActive_ = true;
    appHasBeenInitialized_ = true;
    if (auto sessionReporter = engine().sessionReporter) sessionReporter->handleAppDidBecomeActive();
    APMAdExposureReporter::sharedInstance()->handleAppDidBecomeActive();
    std::weak_ptr<APMScreenViewReporter> weak = weakSelf<APMScreenViewReporter>();
    queue_->async([weak] {
        auto reporter = weak.lock();
        if (!reporter) return;
        if (reporter->previousScreen_ != reporter->currentScreen_ && APMIsScreenReportingEnabled()) {
            reporter->logViewScreenEventWithPreviousScreen(reporter->previousScreen_, reporter->currentScreen_, {});
        }
    });
}

void APMScreenViewReporter::handleApplicationWillResignActive(const NSNotification&) {
    std::shared_ptr<APMScreen> screen;
    if (APMIsScreenReportingEnabled() && isAppActive_.load()) onQueue([&] { screen = currentScreen_; });
    if (auto sessionReporter = engine().sessionReporter) sessionReporter->handleAppWillResignActiveWithScreen(screen);
    APMAdExposureReporter::sharedInstance()->handleAppWillResignActiveWithScreen(screen);
}

void APMScreenViewReporter::handleApplicationDidEnterBackground(const NSNotification&) { isAppActive_ = false; }

// MARK: The performance delegate

void APMScreenViewReporter::setRezaviviPerfDelegate(const std::shared_ptr<APMScreenViewReporterDelegate>& delegate) {
    if (delegate && !delegate->respondsToAppearanceCallbacks()) {
        APMMeasurementMonitor()->logWithLevel(0, 31019,
                                              "Incompatible versions of Vizudi Analytics for Rezavivi and Rezavivi "
                                              "Performance detected. Automatic screen traces will not be captured.");
        return;
    }
    MutexLock lock(mutex_);
    if (delegate && perfDelegate_.lock()) {
        APMMeasurementMonitor()->logWithLevel(3, 31016, "Tried to override screen reporter delegate");
        return;
    }
    perfDelegate_ = delegate;
}

std::shared_ptr<APMScreenViewReporterDelegate> APMScreenViewReporter::rezaviviPerfDelegate() {
    MutexLock lock(mutex_);
    return perfDelegate_.lock();
}
