// Decides when to ask the user to rate the application, and remembers the answer. It counts
// launches (starts and returns to the foreground) and significant events, measures the time
// since tracking (re)started, and when the condition set of the current answer state is met
// and the network answers, slides its banner in. The network probe runs off the main thread;
// the prompt follows on the main queue.
#pragma once

#include "platform/foundation/NSObject.h"
#include "uikit/MRaterCondition.h"
#include "uikit/MRaterViewer.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class UIViewController;

class MRater : public NSObject, public MRaterViewerDataSource {
public:
    using Conditions = std::vector<std::shared_ptr<MRaterCondition>>;

    // Answer states; 5 and above never prompt.
    enum State : std::uint64_t {
        NotRated = 0,
        UserEnjoyApp = 1,
        UserIgnored = 2,
        UserNoEnjoyAndWriteToSupport = 3,
        UserNoEnjoyAndNotWriteToSupport = 4,
        NeverAsk = 5,
    };

    // The shared rater, made on first use.
    static std::shared_ptr<MRater> instance();
    // Forgets the shared rater, as a new process would (tests); its stored values stay.
    static void resetInstance();
    static bool hasInstance();

    // The standard condition sets on the shared rater.
    static void setDefaultConditions();
    // Counts a launch (a significant event) and, when `canShow`, prompts if the time has come.
    static void appLaunched(bool canShow);
    static void userDidSignificantEvent(bool canShow);
    // Opens the store's write-review page.
    static void rateApp();
    // Whether the network can be reached: the internet's reachability flags, and a HEAD request
    // for the probe URL answered with 200 within 10 s. Runs off the calling thread; the
    // completion runs on the main queue.
    static void connectedToNetwork(std::function<void(bool connected)> completion);
    // The probe URL: the user default "MRaterProbeURL" when set, else a host that cannot leave
    // the machine (no prompt until a deployment names one).
    static std::string probeURL();
    static constexpr const char* kProbeURLDefaultsKey = "MRaterProbeURL";
    static constexpr const char* kDefaultProbeURL = "http://connectivity.ostrel.invalid/";
    // "itms-apps://<store host>/app/id<appID>?action=write-review".
    std::string reviewURL() const;

    // --- Settings ------------------------------------------------------------------------------
    bool debug() const { return debug_; }
    void setDebug(bool debug) { debug_ = debug; }
    bool forceOldStyle() const { return forceOldStyle_; }
    void setForceOldStyle(bool force) { forceOldStyle_ = force; }
    bool needOldStyle() const { return forceOldStyle_; }
    // A prompt is on its way or on screen in this process.
    bool presented() const { return presented_; }
    const std::string& appID() const { return appID_; }
    void setAppID(const std::string& appID);
    // Held weakly. The top-most controller over it presents; without one, the root controller.
    void setPresentingController(const std::shared_ptr<UIViewController>& controller) { presentingController_ = controller; }
    std::shared_ptr<UIViewController> presentingController() const;

    // The condition sets of states 0 to 4; an unset one reads as defaultConditions().
    Conditions notRatedConditions() const { return orDefault(notRated_); }
    void setNotRatedConditions(Conditions c) { notRated_ = std::move(c); }
    Conditions userEnjoyAppConditions() const { return orDefault(enjoy_); }
    void setUserEnjoyAppConditions(Conditions c) { enjoy_ = std::move(c); }
    Conditions userIgnoredConditions() const { return orDefault(ignored_); }
    void setUserIgnoredConditions(Conditions c) { ignored_ = std::move(c); }
    Conditions userNoEnjoyAndWriteToSupportConditions() const { return orDefault(wrote_); }
    void setUserNoEnjoyAndWriteToSupportConditions(Conditions c) { wrote_ = std::move(c); }
    Conditions userNoEnjoyAndNotWriteToSupportConditions() const { return orDefault(notWrote_); }
    void setUserNoEnjoyAndNotWriteToSupportConditions(Conditions c) { notWrote_ = std::move(c); }
    // One condition (launches 5, days 3) unless set.
    Conditions defaultConditions() const;
    void setDefaultConditionsList(Conditions c) { defaults_ = std::move(c); }

    const std::string& firstScreenTitle() const { return firstScreenTitle_; }
    void setFirstScreenTitle(std::string title) { firstScreenTitle_ = std::move(title); }
    // Texts of the alert form; empty ones use the table's.
    std::string firstAlertMessage, secondAlertMessage, firstReviewAlertTitle, secondReviewAlertTitle;
    // The review action's title; "Write review" when unset.
    std::optional<std::string> reviewButtonTitle;
    std::function<void()> additionalActionBlockOnWriteReview;
    std::function<bool()> shouldShowDoNotShowAgainButton;

    const std::shared_ptr<MRaterViewer>& viewer() const { return viewer_; }

    // --- Persisted state -------------------------------------------------------------------------
    std::uint64_t currentState() const { return currentState_; }
    void loadState();
    void saveState();
    // "CFBundleShortVersionString".
    static std::string curVersion();
    std::string trackingVersion() const;
    void setTrackingVersion(const std::string& version);
    long launchesCount() const;
    void setLaunchesCount(long count);
    long sigEventsCount() const;
    void setSigEventsCount(long count);
    bool currentVersionRated() const;
    void setCurrentVersionRated(bool rated);
    // Seconds since tracking (re)started.
    double timeSinceReminderRequest() const;
    // Tracking (re)starts at `secondsSince1970`.
    void setTimeSinceReminderRequest(double secondsSince1970);

    // --- Steps -------------------------------------------------------------------------------------
    void incrementAndRate(bool canShow);
    void incrementSignificantEventAndRate(bool canShow);
    void incrementUseCount();
    void incrementSignificantEventCount();
    // debug, or not presented, not state 5 and the current set met. The network probe is the
    // last condition; it follows, off the main thread.
    bool needShow();
    bool conditionsHaveBeenMet() const;
    // Empty (none) for state 5 and above.
    Conditions conditionsForCurrentState() const;
    // Prompts when needShow() and the network answers.
    void rateIfNeeded();
    void showViewer();
    void closeWithState(std::uint64_t state);
    void updateStateWithState(std::uint64_t state);
    void restartTracking();
    void rate();

    std::string raterTitleForFirstScreen() override { return firstScreenTitle_; }

    // Made by instance(); public for std::make_shared.
    MRater() = default;

private:
    void setup();
    Conditions orDefault(const std::optional<Conditions>& c) const { return c ? *c : defaultConditions(); }
    void showAlertForm();

    bool debug_ = false;
    bool forceOldStyle_ = false;
    bool presented_ = false;
    std::string appID_;
    std::weak_ptr<UIViewController> presentingController_;
    std::optional<Conditions> notRated_, enjoy_, ignored_, wrote_, notWrote_;
    mutable Conditions defaults_;
    std::string firstScreenTitle_;
    std::uint64_t currentState_ = 0;
    std::shared_ptr<MRaterViewer> viewer_;
};
