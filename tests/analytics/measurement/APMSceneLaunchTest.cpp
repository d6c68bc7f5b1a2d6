// Where a launch's session starts: a launch the system made in advance for a scene-based
// application waits for its scene to connect, once; every other launch starts it at once; an
// engine forgotten while it waits leaves nothing observing.
#include "EngineTestSupport.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSProcessInfo.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr const char* kSceneWillConnect = "UISceneWillConnectNotification";
constexpr double kPastTimeout = 1801;

class APMSceneLaunchTest : public EngineTest {
protected:
    void TearDown() override {
        EngineTest::TearDown();
        ::unsetenv("ActivePrewarm");
    }
    void useSceneManifest(bool scenes) {
        writeInfo(scenes ? Value::Dictionary{{"UIApplicationSceneManifest",
                                              Value(Value::Dictionary{{"UIApplicationSupportsMultipleScenes", Value(false)}})}}
                         : Value::Dictionary{});
    }
    static void setPrewarmed(bool prewarmed) {
        if (prewarmed) ::setenv("ActivePrewarm", "1", 1);
        else ::unsetenv("ActivePrewarm");
    }
    // A later launch, once the last session has expired.
    void launchAgain() {
        Clock::advance(kPastTimeout);
        restart();
    }
    static void sceneWillConnect() {
        NSNotificationCenter::defaultCenter()->postNotificationName(kSceneWillConnect, nullptr);
        settle();
    }
    static bool waitingForScene() {
        const auto names = NSNotificationCenter::defaultCenter()->liveRegistrationNamesSince(0);
        return std::find(names.begin(), names.end(), kSceneWillConnect) != names.end();
    }
    std::size_t sessionStarts() {
        const auto names = rawEventNames();
        return static_cast<std::size_t>(std::count(names.begin(), names.end(), "_s"));
    }
};

}  // namespace

TEST_F(APMSceneLaunchTest, APrewarmedSceneLaunchStartsItsSessionWhenTheSceneConnectsOnce) {
    useSceneManifest(true);
    setPrewarmed(true);
    // The first open starts its session at once all the same.
    start();
    EXPECT_EQ(rawEventNames(), (std::vector<std::string>{"_f", "_s", "_e"}));
    EXPECT_FALSE(waitingForScene());

    launchAgain();
    EXPECT_EQ(sessionStarts(), 1u);
    EXPECT_TRUE(waitingForScene());
    // The connection comes later; the session is the launch's.
    Clock::advance(5);
    sceneWillConnect();
    EXPECT_EQ(sessionStarts(), 2u);
    const auto ids = rawEventValues("_s", "_sid");
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(ids[1].longLongValue(), static_cast<long long>(engine()->initTimestamp()));
    EXPECT_EQ(ids[1].longLongValue(), static_cast<long long>(kNow + kPastTimeout));
    EXPECT_FALSE(waitingForScene());

    // A second scene, after the session expired again, starts nothing: the launch is over.
    Clock::advance(kPastTimeout);
    sceneWillConnect();
    EXPECT_EQ(sessionStarts(), 2u);
}

TEST_F(APMSceneLaunchTest, AnyOtherLaunchStartsItsSessionAtOnce) {
    useSceneManifest(true);
    start();
    // Not prewarmed.
    launchAgain();
    EXPECT_EQ(sessionStarts(), 2u);
    EXPECT_FALSE(waitingForScene());
    // Prewarmed, but without scenes.
    setPrewarmed(true);
    useSceneManifest(false);
    launchAgain();
    EXPECT_EQ(sessionStarts(), 3u);
    // Prewarmed with scenes, on a system before the one that prewarms them.
    useSceneManifest(true);
    NSProcessInfo::setOperatingSystemVersion({14, 8, 0});
    launchAgain();
    EXPECT_EQ(sessionStarts(), 4u);
    EXPECT_FALSE(waitingForScene());
    NSProcessInfo::setOperatingSystemVersion({15, 0, 0});
}

TEST_F(APMSceneLaunchTest, AnEngineForgottenWhileWaitingLeavesNothingObserving) {
    useSceneManifest(true);
    setPrewarmed(true);
    start();
    launchAgain();
    ASSERT_TRUE(waitingForScene());
    forgetProcess();
    EXPECT_FALSE(waitingForScene());
    sceneWillConnect();
}
