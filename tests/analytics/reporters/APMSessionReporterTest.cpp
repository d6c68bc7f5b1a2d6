// Sessions and engagement on the manual clock: a session at the first activation and after the
// time-out in the background, numbers kept in the settings, engagement cut at resignation, at
// screen changes and by the hourly timer, and the efficient reporting that moves it onto "_vs".
#include "ReporterTestSupport.h"

#include "analytics/reporters/APMAppActivity.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UINavigationController.h"

#include <gtest/gtest.h>

namespace {

class LibraryScreenController : public UIViewController {};
class ReaderScreenController : public UIViewController {};

constexpr double kStart = 1'750'000'000;

class APMSessionReporterTest : public ReporterTest {
protected:
    void SetUp() override {
        ReporterTest::SetUp();
        // A clock far from the settings' zero: the first activation finds the session expired.
        Clock::setManual(kStart);
        withSessions();
    }
    void foreground() {
        auto application = UIApplication::sharedApplication();
        if (!application->enterForeground()) {
            EXPECT_TRUE(application->becomeActive());
        }
        settle();
    }
    void background() {
        UIApplication::sharedApplication()->enterBackground();
        settle();
    }
    void advance(double seconds) {
        Clock::advance(seconds);
        settle();
    }
    std::vector<std::pair<std::string, Value>> properties() {
        settle();
        std::lock_guard lock(context->sink->mutex);
        std::vector<std::pair<std::string, Value>> found;
        for (const auto& property : context->sink->properties) found.emplace_back(property.name, property.value);
        return found;
    }
};

TEST_F(APMSessionReporterTest, SessionsStartAtActivationAndAfterTheTimeOutInTheBackground) {
    foreground();
    auto starts = eventsNamed(*context->sink, "_s");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0]->origin(), "auto");
    EXPECT_EQ(intParameter(*starts[0], "_sno"), 1);
    EXPECT_EQ(intParameter(*starts[0], "_sid"), static_cast<long long>(kStart));
    EXPECT_EQ(context->persisted->sessionNumber(), 1);
    // The old session's properties go, then the new ones come.
    auto set = properties();
    ASSERT_EQ(set.size(), 4u);
    EXPECT_EQ(set[0].first, "_sid");
    EXPECT_TRUE(set[0].second.isNull());
    EXPECT_EQ(set[2].first, "_sid");
    EXPECT_EQ(set[2].second.longLongValue(), static_cast<long long>(kStart));
    EXPECT_EQ(set[3].first, "_sno");
    EXPECT_EQ(set[3].second.longLongValue(), 1);

    // Ten minutes in the foreground, then the background: one engagement of ten minutes.
    advance(600);
    background();
    auto engagements = eventsNamed(*context->sink, "_e");
    ASSERT_EQ(engagements.size(), 1u);
    EXPECT_EQ(intParameter(*engagements[0], "_et"), 600000);
    EXPECT_FALSE(APMIsAppActive());

    // Back within the time-out: the same session.
    advance(1700);
    foreground();
    EXPECT_EQ(eventsNamed(*context->sink, "_s").size(), 1u);
    EXPECT_FALSE(sessions->isSessionExpired());

    // Away longer than the time-out: a new session, numbered on.
    background();
    advance(1801);
    EXPECT_TRUE(sessions->isSessionExpired());
    foreground();
    starts = eventsNamed(*context->sink, "_s");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(intParameter(*starts[1], "_sno"), 2);
    EXPECT_EQ(intParameter(*starts[1], "_sid"), static_cast<long long>(Clock::now()));
}

TEST_F(APMSessionReporterTest, TheSessionNumberSurvivesARestartOnTheSameSettings) {
    foreground();
    background();
    // The process ends; a new one reads the same settings.
    sessions.reset();
    APMScreenViewReporter::resetSharedInstance();
    reporter = APMScreenViewReporter::sharedInstance();
    reporter->setEventSink(context->sink);
    withSessions();
    advance(4000);
    foreground();
    auto starts = eventsNamed(*context->sink, "_s");
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(intParameter(*starts[1], "_sno"), 2);
}

TEST_F(APMSessionReporterTest, TheEngagementTimerReportsEveryIntervalAtMostAnHour) {
    context->engagementInterval = 600;
    int fired = 0;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        APMSessionReporter::kEngagementTimerDidFireNotification, nullptr, nullptr,
        [&fired](const NSNotification&) { ++fired; });
    foreground();
    clearLogged();
    advance(600);
    auto engagements = eventsNamed(*context->sink, "_e");
    ASSERT_EQ(engagements.size(), 1u);
    EXPECT_EQ(intParameter(*engagements[0], "_et"), 600000);
    EXPECT_EQ(fired, 1);
    advance(600);
    EXPECT_EQ(eventsNamed(*context->sink, "_e").size(), 2u);
    NSNotificationCenter::defaultCenter()->removeObserver(token);

    // After resignation the timer stops.
    background();
    clearLogged();
    advance(3 * 600);
    EXPECT_TRUE(eventsNamed(*context->sink, "_e").empty());

    // A cut never carries more than an hour.
    context->engagementInterval = 7200;
    foreground();
    clearLogged();
    advance(5000);
    background();
    engagements = eventsNamed(*context->sink, "_e");
    ASSERT_EQ(engagements.size(), 1u);
    EXPECT_EQ(intParameter(*engagements[0], "_et"), 3600000);
}

TEST_F(APMSessionReporterTest, AScreenChangeReportsTheEngagementOfTheScreenLeftBeforeItsScreenView) {
    APMScreenViewReporter::installHooks();
    foreground();
    auto library = std::make_shared<LibraryScreenController>();
    auto navigation = UINavigationController::initWithRootViewController(library);
    window->setRootViewController(navigation);
    settle();
    clearLogged();
    advance(5);
    navigation->pushViewController(std::make_shared<ReaderScreenController>(), false);
    EXPECT_EQ(names(), (std::vector<std::string>{"_e", "_vs"}));
    auto engagement = eventsNamed(*context->sink, "_e")[0];
    EXPECT_EQ(intParameter(*engagement, "_et"), 5000);
    EXPECT_EQ(stringParameter(*engagement, "_sc"), "LibraryScreenController");

    // Under a second on a screen: no engagement of its own.
    clearLogged();
    advance(0.5);
    (void)navigation->popViewControllerAnimated(false);
    EXPECT_EQ(names(), (std::vector<std::string>{"_vs"}));
}

TEST_F(APMSessionReporterTest, EfficientReportingCarriesTheEngagementOnScreenViewsAndTheBackgroundEvent) {
    context->efficient = true;
    context->redundantRemoval = true;
    context->backgroundEvent = true;
    APMScreenViewReporter::installHooks();
    foreground();
    auto navigation = UINavigationController::initWithRootViewController(std::make_shared<LibraryScreenController>());
    window->setRootViewController(navigation);
    settle();
    clearLogged();
    advance(3);
    navigation->pushViewController(std::make_shared<ReaderScreenController>(), false);
    EXPECT_EQ(names(), (std::vector<std::string>{"_vs"}));
    EXPECT_EQ(intParameter(*eventsNamed(*context->sink, "_vs")[0], "_et"), 3000);

    clearLogged();
    advance(2);
    background();
    EXPECT_EQ(names(), (std::vector<std::string>{"_ab"}));
    EXPECT_EQ(intParameter(*eventsNamed(*context->sink, "_ab")[0], "_et"), 2000);
}

// The clock's time near kStart is a multiple of 2^-22 s: an advance of 1 ms moves it by
// 0.99993 ms, one of 1.6 ms by 1.60003 ms.
TEST_F(APMSessionReporterTest, EngagementTimesAreTruncatedToTheMillisecondWithinAMicrosecond) {
    context->efficient = true;
    context->redundantRemoval = true;
    context->backgroundEvent = true;
    foreground();
    clearLogged();
    advance(0.001);
    EXPECT_EQ(sessions->logEngagementEventAndReturnTimeWithScreen(nullptr, false), 1);
    advance(0.0016);
    sessions->logUserEngagementEvent();
    auto engagements = eventsNamed(*context->sink, "_e");
    ASSERT_EQ(engagements.size(), 2u);
    EXPECT_EQ(intParameter(*engagements[0], "_et"), 1);
    EXPECT_EQ(intParameter(*engagements[1], "_et"), 1);

    // The cut that "_ab" carries alike.
    advance(2.0016);
    background();
    auto backgrounds = eventsNamed(*context->sink, "_ab");
    ASSERT_EQ(backgrounds.size(), 1u);
    EXPECT_EQ(intParameter(*backgrounds[0], "_et"), 2001);
}

TEST_F(APMSessionReporterTest, NothingIsReportedWhileReportingIsOffOrTheApplicationInactive) {
    sessions->setReportingEnabled(false);
    foreground();
    advance(100);
    background();
    EXPECT_TRUE(eventsNamed(*context->sink, "_s").empty());
    EXPECT_TRUE(eventsNamed(*context->sink, "_e").empty());

    // Inactive: the session start is refused.
    sessions->setReportingEnabled(true);
    LogCapture log;
    sessions->logSessionStartEvent();
    EXPECT_TRUE(eventsNamed(*context->sink, "_s").empty());

    sessions->setTimeoutSessionInterval(-5);
    EXPECT_EQ(sessions->timeoutSessionInterval(), 0);
    EXPECT_TRUE(log.contains("Received negative timeout session duration"));

    auto event = APMSessionStartEvent(4, true, 1234.9);
    EXPECT_EQ(event->name(), "_s");
    EXPECT_EQ(intParameter(*event, "_sid"), 1234);
    EXPECT_EQ(intParameter(*event, "_sno"), 4);
    EXPECT_EQ(intParameter(*event, "_aib"), 1);
}

}  // namespace
