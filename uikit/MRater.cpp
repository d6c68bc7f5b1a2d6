// The rating prompt: counts, conditions, the network probe, the answer state and the store page.
#include "uikit/MRater.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/ProcessShared.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSMutableURLRequest.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLSession.h"
#include "platform/net/NSURLSessionConfiguration.h"
#include "platform/net/SCNetworkReachability.h"
#include "platform/ui/UIAlertAction.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIViewController.h"
#include "uikit/MRaterTools.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace {

const char* const kCurrentState = "kMRaterCurrentState";
const char* const kLaunchesCount = "kMRaterLaunchesCount";
const char* const kSigEventsCount = "kMRaterSignificanteventsCount";
const char* const kCurrentVersionRated = "kMRaterCurrentVerRated";
const char* const kTrackingVersion = "kMRaterCurrentTrackingVersion";
const char* const kRemindRequestDate = "kMRaterRemindRequestDate";
const char* const kNotFirstRate = "kNotFirstRate";

// The store's write-review page; APP_ID stands for the application's store identifier.
const char* const kReviewURLTemplate = "itms-apps://store.invalid/app/idAPP_ID?action=write-review";

ProcessShared<MRater> gRater;

std::shared_ptr<NSUserDefaults> raterDefaults() { return NSUserDefaults::standardUserDefaults(); }

void storeRaterDefaults() {
    // A failed write is told by the defaults, which keep the value and write it with the next change.
    (void)raterDefaults()->synchronize();
}

std::string raterText(const std::string& key) {
    return NSBundle::mainBundle()->localizedStringForKey(key, "", "MRaterLocalized");
}

}  // namespace

std::shared_ptr<MRater> MRater::instance() {
    return gRater.get([] {
        auto rater = std::make_shared<MRater>();
        rater->setup();
        return rater;
    });
}

void MRater::resetInstance() {
    auto old = gRater.take();
    if (old && old->viewer_) old->viewer_->setCloseBlock(nullptr);
}

bool MRater::hasInstance() { return gRater.current() != nullptr; }

void MRater::setup() {
    loadState();
    if (trackingVersion().empty()) setTrackingVersion(curVersion());
    // Tracking begins now on a first launch: without a start, every days threshold would count
    // from 1970 and be met at once.
    if (raterDefaults()->objectForKey(kRemindRequestDate).isNull()) setTimeSinceReminderRequest(Clock::now());
    viewer_ = MRaterViewer::make();
    viewer_->setDataSource(self<MRater>());
    std::weak_ptr<MRater> weak = self<MRater>();
    viewer_->setCloseBlock([weak](std::uint64_t state) {
        if (auto me = weak.lock()) me->closeWithState(state);
    });
}

void MRater::setAppID(const std::string& appID) {
    appID_ = appID;
    if (viewer_) viewer_->setAppID(appID);
}

std::shared_ptr<UIViewController> MRater::presentingController() const {
    if (auto controller = presentingController_.lock()) return MRaterTools::topMostViewController(controller);
    return MRaterTools::getRootController();
}

MRater::Conditions MRater::defaultConditions() const {
    if (defaults_.empty()) defaults_ = {MRaterCondition::withThresholds(3, 5)};
    return defaults_;
}

// --- Class operations --------------------------------------------------------------------------

void MRater::setDefaultConditions() {
    auto rater = instance();
    rater->setNotRatedConditions({MRaterCondition::withThresholds(3, 3, 10)});
    rater->setUserIgnoredConditions({MRaterCondition::withThresholds(7, 5)});
    const Conditions afterAnswer{MRaterCondition::withThresholds(30, -1, -1, true), MRaterCondition::withThresholds(90, -1)};
    rater->setUserEnjoyAppConditions(afterAnswer);
    rater->setUserNoEnjoyAndWriteToSupportConditions(afterAnswer);
    rater->setUserNoEnjoyAndNotWriteToSupportConditions({MRaterCondition::withThresholds(60, -1)});
}

void MRater::appLaunched(bool canShow) { instance()->incrementAndRate(canShow); }

void MRater::userDidSignificantEvent(bool canShow) { instance()->incrementSignificantEventAndRate(canShow); }

void MRater::rateApp() { instance()->rate(); }

std::string MRater::probeURL() {
    const std::string url = raterDefaults()->stringForKey(kProbeURLDefaultsKey);
    return url.empty() ? kDefaultProbeURL : url;
}

void MRater::connectedToNetwork(std::function<void(bool connected)> completion) {
    auto answer = [completion = std::move(completion)](bool connected) {
        DispatchQueue::mainQueue()->async([completion, connected] {
            if (completion) completion(connected);
        });
    };
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    auto target = SCNetworkReachability::createWithAddress(reinterpret_cast<const sockaddr*>(&zero));
    SCNetworkReachabilityFlags flags = 0;
    if (!target || !target->getFlags(&flags)) {
        Diagnostics::note("Error. Could not recover network reachability flags");
        answer(false);
        return;
    }
    const bool reachable = (flags & (kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsConnectionRequired)) ==
                               kSCNetworkReachabilityFlagsReachable ||
                           (flags & kSCNetworkReachabilityFlagsTransientConnection);
    auto url = NSURL::URLWithString(probeURL());
    if (!url) {
        answer(false);
        return;
    }
    auto request = NSMutableURLRequest::requestWithURL(url);
    request->setHTTPMethod("HEAD");
    request->setTimeoutInterval(10);
    request->setCachePolicy(NSURLRequestReloadIgnoringLocalCacheData);
    auto configuration = NSURLSessionConfiguration::defaultSessionConfiguration();
    configuration->setTimeoutIntervalForRequest(10);
    auto session = NSURLSession::sessionWithConfiguration(configuration);
    auto task = session->dataTaskWithRequest(
        request, [answer, reachable](const NSData&, const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error) {
            answer(!error && response && response->statusCode() == 200 && reachable);
        });
    task->resume();
}

std::string MRater::reviewURL() const {
    std::string url = kReviewURLTemplate;
    url.replace(url.find("APP_ID"), 6, appID_);
    return url;
}

// --- Persisted state -----------------------------------------------------------------------------

void MRater::loadState() { currentState_ = static_cast<std::uint64_t>(std::max(0L, raterDefaults()->integerForKey(kCurrentState))); }

void MRater::saveState() {
    raterDefaults()->setInteger(static_cast<long>(currentState_), kCurrentState);
    storeRaterDefaults();
}

std::string MRater::curVersion() {
    return NSBundle::mainBundle()->infoDictionary()["CFBundleShortVersionString"].stringValue();
}

std::string MRater::trackingVersion() const { return raterDefaults()->stringForKey(kTrackingVersion); }

void MRater::setTrackingVersion(const std::string& version) {
    if (!raterDefaults()->setObject(Value(version), kTrackingVersion)) return;
    storeRaterDefaults();
}

long MRater::launchesCount() const { return raterDefaults()->integerForKey(kLaunchesCount); }

void MRater::setLaunchesCount(long count) {
    // Counted at every launch: written by the defaults' writer thread, which starts at once,
    // rather than on the launch's own time; the application's end waits for it.
    raterDefaults()->setInteger(count, kLaunchesCount);
}

long MRater::sigEventsCount() const { return raterDefaults()->integerForKey(kSigEventsCount); }

void MRater::setSigEventsCount(long count) {
    raterDefaults()->setInteger(count, kSigEventsCount);
    storeRaterDefaults();
}

bool MRater::currentVersionRated() const { return raterDefaults()->boolForKey(kCurrentVersionRated); }

void MRater::setCurrentVersionRated(bool rated) {
    raterDefaults()->setBool(rated, kCurrentVersionRated);
    storeRaterDefaults();
}

double MRater::timeSinceReminderRequest() const { return Clock::now() - raterDefaults()->doubleForKey(kRemindRequestDate); }

void MRater::setTimeSinceReminderRequest(double secondsSince1970) {
    raterDefaults()->setDouble(secondsSince1970, kRemindRequestDate);
    storeRaterDefaults();
}

// --- Counting and deciding -----------------------------------------------------------------------

void MRater::incrementAndRate(bool canShow) {
    incrementUseCount();
    if (canShow) rateIfNeeded();
}

void MRater::incrementSignificantEventAndRate(bool canShow) {
    incrementSignificantEventCount();
    if (canShow) rateIfNeeded();
}

void MRater::incrementUseCount() {
    const std::string version = curVersion();
    if (debug_) Diagnostics::notef("MRater :: Tracking version: %s", trackingVersion().c_str());
    if (version == trackingVersion()) {
        setLaunchesCount(launchesCount() + 1);
        if (debug_) Diagnostics::notef("MRATER Use count: %ld", launchesCount());
    } else {
        restartTracking();
        setLaunchesCount(1);
    }
}

void MRater::incrementSignificantEventCount() {
    const std::string version = curVersion();
    if (debug_) Diagnostics::notef("MRater Tracking version: %s", trackingVersion().c_str());
    if (version == trackingVersion()) {
        setSigEventsCount(sigEventsCount() + 1);
        if (debug_) Diagnostics::notef("MRater Significant event count: %ld", sigEventsCount());
    } else {
        restartTracking();
        setSigEventsCount(1);
    }
}

MRater::Conditions MRater::conditionsForCurrentState() const {
    switch (currentState_) {
        case NotRated: return notRatedConditions();
        case UserEnjoyApp: return userEnjoyAppConditions();
        case UserIgnored: return userIgnoredConditions();
        case UserNoEnjoyAndWriteToSupport: return userNoEnjoyAndWriteToSupportConditions();
        case UserNoEnjoyAndNotWriteToSupport: return userNoEnjoyAndNotWriteToSupportConditions();
        default: return {};
    }
}

bool MRater::conditionsHaveBeenMet() const {
    Diagnostics::notef("Current state = %ld", static_cast<long>(currentState_));
    const bool rated = currentVersionRated();
    const double elapsed = timeSinceReminderRequest();
    const long events = sigEventsCount(), launches = launchesCount();
    for (const auto& condition : conditionsForCurrentState()) {
        if (!condition || (condition->onlyNotRatedVersion && rated)) continue;
        if (condition->checkWithTimeSinceFirstLaunch(elapsed, events, launches)) return true;
    }
    return false;
}

bool MRater::needShow() {
    if (debug_) return true;
    if (currentState_ >= NeverAsk || presented_) return false;
    return conditionsHaveBeenMet();
}

void MRater::rateIfNeeded() {
    if (!needShow()) return;
    if (debug_) {
        showViewer();
        return;
    }
    // On its way: a second count while the probe runs does not probe again.
    presented_ = true;
    std::weak_ptr<MRater> weak = self<MRater>();
    connectedToNetwork([weak](bool connected) {
        auto me = weak.lock();
        if (!me) return;
        if (connected) me->showViewer();
        else me->presented_ = false;  // the next count tries again
    });
}

void MRater::showViewer() {
    presented_ = true;
    std::weak_ptr<MRater> weak = self<MRater>();
    DispatchQueue::mainQueue()->async([weak] {
        auto me = weak.lock();
        if (!me) return;
        if (me->needOldStyle()) {
            me->showAlertForm();
            return;
        }
        me->viewer_->setAppID(me->appID_);
        me->updateStateWithState(UserIgnored);
        me->viewer_->presentInController(me->presentingController(), true);
    });
}

void MRater::showAlertForm() {
    const bool notFirst = raterDefaults()->boolForKey(kNotFirstRate);
    std::string title = notFirst ? secondReviewAlertTitle : firstReviewAlertTitle;
    if (title.empty()) title = raterText("Please HELP us");
    std::string message = notFirst ? secondAlertMessage : firstAlertMessage;
    if (message.empty())
        message = raterText(notFirst ? "RaterText2" : "Your feedback will help us to quickly fix bugs and create new features");
    auto alert = UIAlertController::alertControllerWithTitle(title, message, UIAlertControllerStyle::Alert);
    std::weak_ptr<MRater> weak = self<MRater>();
    alert->addAction(UIAlertAction::actionWithTitle(raterText("No, thanks"), UIAlertActionStyle::Cancel,
                                                    [weak](const std::shared_ptr<UIAlertAction>&) {
                                                        if (auto me = weak.lock()) me->closeWithState(UserIgnored);
                                                    }));
    alert->addAction(UIAlertAction::actionWithTitle(
        reviewButtonTitle ? *reviewButtonTitle : raterText("Write review"), UIAlertActionStyle::Default,
        [weak](const std::shared_ptr<UIAlertAction>&) {
            auto me = weak.lock();
            if (!me) return;
            raterDefaults()->setBool(true, kNotFirstRate);
            storeRaterDefaults();
            me->closeWithState(UserEnjoyApp);
            me->rate();
            if (auto block = me->additionalActionBlockOnWriteReview) block();
        }));
    if (shouldShowDoNotShowAgainButton && shouldShowDoNotShowAgainButton()) {
        alert->addAction(UIAlertAction::actionWithTitle(raterText("DoNotShowAgain"), UIAlertActionStyle::Default,
                                                        [weak](const std::shared_ptr<UIAlertAction>&) {
                                                            if (auto me = weak.lock()) me->closeWithState(NeverAsk);
                                                        }));
    }
    if (auto controller = presentingController()) controller->presentViewController(alert, true, nullptr);
    else presented_ = false;
}

void MRater::closeWithState(std::uint64_t state) {
    presented_ = false;
    restartTracking();
    updateStateWithState(state);
}

void MRater::updateStateWithState(std::uint64_t state) {
    currentState_ = state;
    saveState();
    if (state == UserEnjoyApp) setCurrentVersionRated(true);
}

void MRater::restartTracking() {
    setTrackingVersion(curVersion());
    setLaunchesCount(0);
    setSigEventsCount(0);
    setCurrentVersionRated(false);
    setTimeSinceReminderRequest(Clock::now());
}

void MRater::rate() {
    // A failed open is not told: the store may be missing.
    UIApplication::sharedApplication()->openURL(reviewURL(), {}, nullptr);
}
