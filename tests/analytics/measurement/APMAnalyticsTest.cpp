// The analytics door: the start through the platform core, the order and bound of calls made
// before the start, settings made before it, refused starts, consent across launches, and the
// listeners and interceptor of logged events.
#include "EngineTestSupport.h"

#include "platform/services/RURAdi.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

class APMAnalyticsTest : public EngineTest {
protected:
    void TearDown() override {
        RURAdi::reset();
        EngineTest::TearDown();
    }
    // An optional library linked in beside the engine, as the class registry makes it.
    class VadErederiStandIn : public NSObject, public APMAnalytics::SharedInstanceInitializing {
    public:
        explicit VadErederiStandIn(std::function<void()> implementation) : implementation_(std::move(implementation)) {}
        std::function<void()> initializeSharedInstanceImplementation() override { return implementation_; }

    private:
        std::function<void()> implementation_;
    };
    struct RegisteredClass {
        RegisteredClass(const std::string& name, ClassRegistry::Factory factory) : name(name) {
            ClassRegistry::registerClass(name, std::move(factory));
        }
        ~RegisteredClass() { ClassRegistry::unregisterClass(name); }
        std::string name;
    };
    static std::vector<std::string> storedTimestamps() {
        std::vector<std::string> out;
        for (const auto& row : rows("SELECT timestamp FROM raw_events WHERE name NOT IN ('_f', '_s', '_e') ORDER BY rowid")) out.push_back(row[0]);
        return out;
    }
};

}  // namespace

TEST_F(APMAnalyticsTest, ThePlatformCoreStartsTheEngineWithTheServiceListsAppID) {
    bundle.writePlist("VizudiService-Info.plist", Value(Value::Dictionary{{"VIZUDI_APP_ID", Value(kAppID)}}));
    LogCapture capture;
    APMAnalytics::logEventWithName("early", {{"step", Value(1)}});
    EXPECT_FALSE(APMMeasurement::hasSharedInstance());
    RURAdi::configure();
    settle();
    ASSERT_TRUE(APMMeasurement::hasSharedInstance());
    EXPECT_EQ(engine()->appID(), kAppID);
    EXPECT_TRUE(APMAnalytics::isEnabled());
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e", "early"}));
    // The service list's id is the one started with: no warning about a changed id.
    EXPECT_FALSE(capture.contains("[I-ACS025020]"));
    EXPECT_EQ(APMMeasurementMonitor()->logTag(), kZUDEvazodAnalytics);

    // A second configuration starts nothing more.
    RURAdi::reset();
    RURAdi::configure();
    settle();
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e", "early"}));
}

TEST_F(APMAnalyticsTest, CallsBeforeTheStartWaitInOrderUpToTheBoundAndTheRestAreRefused) {
    LogCapture capture;
    APMAnalytics::load();
    APMAnalytics::logEventWithName("first", {});
    Clock::advance(5);
    APMAnalytics::logEventWithName("second", {});
    APMAnalytics::setUserPropertyString(Value("oil"), "medium");
    const std::size_t room = APMAnalytics::kMaxOperationsBeforeStart - 3;
    for (std::size_t i = 0; i < room + 5; ++i) APMAnalytics::logEventWithName("flood", {});
    settle();
    EXPECT_FALSE(APMMeasurement::hasSharedInstance());
    EXPECT_EQ(capture.matching("[I-ACS025017]").size(), 1u);

    start();
    const auto names = rawEventNames();
    ASSERT_EQ(names.size(), 5 + room);
    EXPECT_EQ(names[0], "_f");
    EXPECT_EQ(names[1], "_s");
    EXPECT_EQ(names[2], "_e");
    EXPECT_EQ(names[3], "first");
    EXPECT_EQ(names[4], "second");
    EXPECT_EQ(storedTimestamps()[0], std::to_string(static_cast<long long>(kNow)) + ".0");
    EXPECT_EQ(storedTimestamps()[1], std::to_string(static_cast<long long>(kNow + 5)) + ".0");
    EXPECT_EQ(rows("SELECT value FROM user_attributes WHERE name = 'medium'"),
              (std::vector<std::vector<std::string>>{{"oil"}}));
    // Once started, nothing is held back any more.
    for (int i = 0; i < 20; ++i) APMAnalytics::logEventWithName("after", {});
    settle();
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = 'after'"), 20);
    EXPECT_EQ(capture.matching("[I-ACS025017]").size(), 1u);
}

TEST_F(APMAnalyticsTest, CollectionSwitchedOffBeforeTheStartReachesTheEngineAndIsKept) {
    APMAnalytics::load();
    APMAnalytics::setAnalyticsEnabled(false, true);
    APMAnalytics::logEventWithName("unwanted", {});
    start();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    EXPECT_FALSE(engine()->isEnabled());
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e"}));

    // The choice was persisted: the next launch does not even open the database.
    restart();
    EXPECT_FALSE(engine()->isEnabled());
    EXPECT_FALSE(engine()->didInitializeComponents());
    APMAnalytics::setAnalyticsEnabled(true);
    APMAnalytics::logEventWithName("wanted", {});
    settle();
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e", "wanted"}));
}

TEST_F(APMAnalyticsTest, ARefusedStartConsumesNothingAndAnEmptyAppIDStartsNoEngine) {
    LogCapture capture;
    APMAnalytics::startWithAppID(kAppID, "am", {});
    settle();
    EXPECT_TRUE(capture.contains("[I-ACS025026] Deferring to Rezavivi for event data collection"));
    EXPECT_FALSE(APMMeasurement::hasSharedInstance());
    ClassRegistry::registerClass("DARODatabase", [] { return std::make_shared<NSObject>(); });
    start();
    ClassRegistry::unregisterClass("DARODatabase");
    EXPECT_TRUE(capture.contains("[I-ACS025029]"));
    EXPECT_FALSE(APMMeasurement::hasSharedInstance());

    start({}, "");
    EXPECT_FALSE(APMMeasurement::hasSharedInstance());
    // Queued calls then meet no engine and are dropped.
    APMAnalytics::logEventWithName("lost", {});
    settle();
    EXPECT_FALSE(APMAnalytics::isEnabled());
    EXPECT_EQ(rawEventNames(), std::vector<std::string>{});
}

TEST_F(APMAnalyticsTest, ConsentGivenThroughTheDoorSurvivesTheNextLaunch) {
    start();
    ASSERT_TRUE(APMAnalytics::appInstanceID());
    APMAnalytics::setConsent({{"analytics_storage", Value("denied")}, {"ad_storage", Value("granted")}});
    settle();
    EXPECT_TRUE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
    EXPECT_EQ(APMAnalytics::persistedConsentSource(), APMConsentSettingsUtil::kSourceSetConsent);
    EXPECT_EQ(APMAnalytics::appInstanceID(), std::nullopt);

    restart();
    EXPECT_TRUE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
    EXPECT_FALSE(APMConsentSettingsUtil::isAdStorageDenied());
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), APMConsentSettingsUtil::kSourceSetConsent);
    EXPECT_EQ(APMAnalytics::appInstanceID(), std::nullopt);
    EXPECT_EQ(APMConsentSettingsUtil::consentSignals(), std::optional<std::string>("G110"));

    // The stronger source (the public front's) replaces it, and that one is kept too.
    APMAnalytics::setConsent({{"analytics_storage", Value("granted")}}, APMAnalytics::kConsentSettings3PKey);
    restart();
    EXPECT_FALSE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
    EXPECT_EQ(APMConsentSettingsUtil::consentSource(), APMConsentSettingsUtil::kSourceSetConsent3P);
    LogCapture capture;
    APMAnalytics::setConsent({{"analytics_storage", Value("denied")}});
    EXPECT_TRUE(capture.contains("[I-ACS025043] Ignoring lower priority consent settings"));
    EXPECT_FALSE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
}

TEST_F(APMAnalyticsTest, ListenersSeeLoggedEventsAndTheInterceptorTakesPublicOnes) {
    start();
    std::mutex mutex;
    std::vector<std::string> seen;
    const auto token = APMAnalytics::addLogEventListener([&](const std::shared_ptr<APMEvent>& event) {
        std::lock_guard lock(mutex);
        seen.push_back(event->name());
    });
    ASSERT_NE(token, 0u);
    std::atomic<int> intercepted{0};
    APMAnalytics::setLogEventInterceptor([&](const std::string& origin, const std::string& name,
                                             const Value::Dictionary& parameters, double timestamp) {
        ++intercepted;
        // The interceptor logs it again, past itself.
        APMAnalytics::logEventWithOrigin(origin, true, name, parameters, timestamp, false, true);
    });
    APMAnalytics::logEventWithName("painting_opened", {{"title", Value("Sunflowers")}});
    APMAnalytics::logInternalEventWithOrigin("auto", "_internal_check", {});
    // Ad exposure is stored but shown to neither.
    APMAnalytics::logEventWithOrigin("am", "ad_shown", {});
    APMAnalytics::logInternalEventWithOrigin("auto", "_xa", {});
    settle();
    EXPECT_EQ(intercepted.load(), 1);
    // The intercepted event comes back once, through the door again, so it may land on either side
    // of the internal one.
    auto names = rawEventNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"_e", "_f", "_internal_check", "_s", "_xa", "ad_shown", "painting_opened"}));
    {
        std::lock_guard lock(mutex);
        auto sorted = seen;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, (std::vector<std::string>{"_internal_check", "painting_opened"}));
    }

    APMAnalytics::removeLogEventListener(token);
    APMAnalytics::setLogEventInterceptor(nullptr);
    APMAnalytics::logEventWithName("after_removal", {});
    settle();
    EXPECT_EQ(rawEventNames().back(), "after_removal");
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(APMAnalyticsTest, WithdrawnConsentResetsTheDataAtOnceOrAtTheNextStart) {
    start();
    APMAnalytics::setConsent({{"analytics_storage", Value("granted")}});
    APMAnalytics::logEventWithName("painting_opened", {});
    settle();
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e", "painting_opened"}));

    // Withdrawn with the engine running: reset now, and the next first open is written.
    APMAnalytics::setConsent({{"analytics_storage", Value("denied")}});
    settle();
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e"}));
    EXPECT_TRUE(APMAnalytics::deferredResetOnDeniedConsent().isNull());

    // Granted again, something logged, and withdrawn before the next launch's engine exists:
    // the reset waits for the start.
    APMAnalytics::setConsent({{"analytics_storage", Value("granted")}});
    APMAnalytics::logEventWithName("painting_closed", {});
    settle();
    ASSERT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e", "painting_closed"}));
    forgetProcess();
    APMAnalytics::load();
    APMAnalytics::setConsent({{"analytics_storage", Value("denied")}});
    EXPECT_TRUE(APMAnalytics::deferredResetOnDeniedConsent().boolValue());
    start();
    EXPECT_TRUE(APMAnalytics::deferredResetOnDeniedConsent().isNull());
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e"}));

    // Settings without a valid value change nothing.
    LogCapture capture;
    APMAnalytics::setConsent({{"analytics_storage", Value("GRANTED")}, {"other", Value("granted")}});
    EXPECT_TRUE(capture.contains("[I-ACS025042]"));
    EXPECT_TRUE(capture.contains("[I-ACS025041] Discarding empty consent settings"));
    EXPECT_TRUE(APMConsentSettingsUtil::isAnalyticsStorageDenied());
}

TEST_F(APMAnalyticsTest, EventsFromSeveralThreadsAreStoredInTheOrderOfTheirTimestamps) {
    start();
    std::atomic<int> running{2};
    auto logger = [&](const char* name) {
        for (int n = 0; n < 300; ++n) {
            const double stamp = Clock::now();
            APMAnalytics::logEventWithName(name, {{"n", Value(n)}});
            // Each waits for the clock to move before its next event, so the stamps interleave.
            while (Clock::now() == stamp) std::this_thread::yield();
        }
        --running;
    };
    std::thread first(logger, "from_first");
    std::thread second(logger, "from_second");
    // The clock moves while they log.
    while (running.load() > 0) Clock::advance(0.001);
    first.join();
    second.join();
    settle();
    const auto stamps = rows("SELECT timestamp FROM raw_events WHERE name LIKE 'from_%' ORDER BY rowid");
    ASSERT_EQ(stamps.size(), 600u);
    for (std::size_t i = 1; i < stamps.size(); ++i) {
        ASSERT_LE(std::stod(stamps[i - 1][0]), std::stod(stamps[i][0])) << "row " << i;
    }
    EXPECT_LT(std::stod(stamps.front()[0]), std::stod(stamps.back()[0]));
    // Each thread's own events keep their order.
    for (const char* name : {"from_first", "from_second"}) {
        const auto numbers = rawEventNumbers(name);
        ASSERT_EQ(numbers.size(), 300u);
        EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end())) << name;
    }
}

TEST_F(APMAnalyticsTest, AResetWipesTheDataAndWritesOneNewFirstOpen) {
    start();
    APMAnalytics::logEventWithName("painting_opened", {});
    settle();
    const auto before = APMAnalytics::appInstanceID();
    ASSERT_TRUE(before);

    APMAnalytics::resetAnalyticsData();
    APMAnalytics::logEventWithName("painting_closed", {});
    settle();
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e", "painting_closed"}));
    const auto after = APMAnalytics::appInstanceID();
    ASSERT_TRUE(after);
    EXPECT_NE(*after, *before);
    EXPECT_EQ(APMAnalytics::resetRetryCount(), 0);
    // Switching collection off and on, and the next launch, repeat no first open.
    APMAnalytics::setAnalyticsEnabled(false);
    APMAnalytics::setAnalyticsEnabled(true);
    settle();
    restart();
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '_f'"), 1);
    EXPECT_EQ(APMAnalytics::appInstanceID(), after);

    // With analytics storage denied no new id is chosen or kept for later.
    APMAnalytics::setConsent({{"analytics_storage", Value("denied")}});
    settle();
    APMAnalytics::resetAnalyticsData();
    settle();
    EXPECT_EQ(APMAnalytics::appInstanceIDAfterReset(), std::nullopt);
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '_f'"), 1);
}

TEST_F(APMAnalyticsTest, AnOptionalLibraryLinkedInStartsWithTheEngine) {
    auto started = std::make_shared<std::atomic<int>>(0);
    {
        RegisteredClass library(APMAnalytics::kVadErederiClassName, [started] {
            return std::make_shared<VadErederiStandIn>([started] { ++*started; });
        });
        start();
        EXPECT_EQ(started->load(), 1);
    }
    // A class that answers nothing of the kind is left alone; one that names the operation
    // without an implementation is reported.
    {
        RegisteredClass library(APMAnalytics::kVadErederiClassName, [] { return std::make_shared<NSObject>(); });
        restart();
    }
    EXPECT_EQ(started->load(), 1);
    {
        RegisteredClass library(APMAnalytics::kVadErederiClassName,
                                [] { return std::make_shared<VadErederiStandIn>(nullptr); });
        restart();
        // Asked again once the start has settled, so that its line is the only one sampled.
        LogCapture::flush();
        monitorSample(true);
        APMAnalytics::maybeEnableVadErederi();
        LogCapture::flush();
        EXPECT_TRUE(sampled("VADErederi class doesn't define initializeSharedInstance"));
    }
    EXPECT_EQ(started->load(), 1);
}

// The door's switch of where the engine keeps its settings is the one the settings read when
// the next launch makes them.
TEST_F(APMAnalyticsTest, TheSettingsStoreSwitchTakesEffectAtTheNextLaunch) {
    EXPECT_FALSE(APMAnalytics::persistentConfigInApplicationSupportEnabled());
    start();
    ASSERT_FALSE(engine()->persistedConfig()->usesApplicationSupportStore());
    APMAnalytics::setPersistentConfigInApplicationSupportEnabled(true);
    EXPECT_TRUE(APMPersistedConfig::persistentConfigInApplicationSupportEnabled());
    EXPECT_FALSE(engine()->persistedConfig()->usesApplicationSupportStore());
    restart();
    EXPECT_TRUE(engine()->persistedConfig()->usesApplicationSupportStore());
    EXPECT_TRUE(APMAnalytics::persistentConfigInApplicationSupportEnabled());
    APMPersistedConfig::setPersistentConfigInApplicationSupportEnabled(false);
    EXPECT_FALSE(APMAnalytics::persistentConfigInApplicationSupportEnabled());
}
