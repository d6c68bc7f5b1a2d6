// The platform core: configuring the default app from the bundle's service property list,
// once only, and the libraries and components registered before and after that.
#include "platform/services/RURAdi.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/services/RURAnalyticsFront.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <optional>

namespace {

class Counter : public NSObject {};

// A library that counts what the core asks of it.
class RecordingLibrary : public ZUVEzodaza {
public:
    std::vector<std::shared_ptr<DAZAvevavida>> componentsToRegister() const override {
        ++listed;
        return {DAZAvevavida::componentWithProtocol("EagerProtocol", DAZInstantiationTiming::AlwaysEager, {},
                                                    [this](const std::shared_ptr<RURAdi>&) {
                                                        ++eagerMade;
                                                        return std::make_shared<Counter>();
                                                    }),
                DAZAvevavida::componentWithProtocol("LazyProtocol", DAZInstantiationTiming::Lazy, {"EagerProtocol"},
                                                    [this](const std::shared_ptr<RURAdi>& app) {
                                                        ++lazyMade;
                                                        dependency = app->componentForProtocol("EagerProtocol");
                                                        return std::make_shared<Counter>();
                                                    })};
    }
    void configureWithApp(const std::shared_ptr<RURAdi>& app) override { configuredWith.push_back(app); }

    // Components are asked for from several threads in one test.
    mutable std::atomic<int> listed{0};
    mutable std::atomic<int> eagerMade{0};
    mutable std::atomic<int> lazyMade{0};
    mutable std::shared_ptr<NSObject> dependency;
    std::vector<std::shared_ptr<RURAdi>> configuredWith;
};

// An analytics front that records its starts.
class RecordingFront : public NSObject, public RURAnalyticsFront {
public:
    void startWithConfiguration(const std::shared_ptr<NSObject>& configuration,
                                const std::shared_ptr<RUROptions>& options) override {
        EXPECT_EQ(configuration, nullptr);
        startedWith.push_back(options);
    }
    std::vector<std::shared_ptr<RUROptions>> startedWith;
};

class PlatformCore : public ::testing::Test {
protected:
    void SetUp() override {
        RURAdi::reset();
        bundle = Sandbox::tmp() + "/core-bundle-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::create_directories(bundle);
        mainBundle.emplace(bundle);
    }
    void TearDown() override {
        RURAdi::reset();
        mainBundle.reset();
    }
    void writePlist(const std::string& name, const Value::Dictionary& contents) {
        ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value(contents), bundle + "/" + name,
                                                                   NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
        NSBundle::resetCaches();
    }

    std::string bundle;
    std::optional<ScopedMainBundle> mainBundle;
};

}  // namespace

TEST_F(PlatformCore, ConfiguresFromTheServiceListAndTheInfoSwitches) {
    writePlist("Info.plist", {{"CFBundleIdentifier", Value("com.example.core")},
                              {"REZAVIVI_ANALYTICS_COLLECTION_ENABLED", Value(false)},
                              {"REZAVIVI_ANALYTICS_COLLECTION_DEACTIVATED", Value(true)}});
    writePlist("VizudiService-Info.plist", {{"VIZUDI_APP_ID", Value("1:123:ios:abc")}, {"ZEVIV_APP_ID", Value("z-1")}});
    EXPECT_FALSE(RURAdi::isDefaultAppConfigured());
    EXPECT_EQ(RURAdi::defaultApp(), nullptr);
    RURAdi::configure();
    ASSERT_TRUE(RURAdi::isDefaultAppConfigured());
    auto app = RURAdi::defaultApp();
    EXPECT_EQ(app->name(), "__RUR_DEFAULT");
    EXPECT_EQ(app->options()->vizudiAppID(), "1:123:ios:abc");
    EXPECT_EQ(app->options()->dictionary()["ZEVIV_APP_ID"], Value("z-1"));
    EXPECT_FALSE(app->options()->isAnalyticsCollectionEnabled());
    EXPECT_TRUE(app->options()->isAnalyticsCollectionDeactivated());
}

TEST_F(PlatformCore, WithoutAServiceListTheAppIsConfiguredWithoutAnIdAndOnlyOnce) {
    auto library = std::make_shared<RecordingLibrary>();
    RURAdi::registerInternalLibrary(library, "rez-analytics", "9.0.0");
    auto front = std::make_shared<RecordingFront>();
    ClassRegistry::registerClass("DUROrezurive", [front] { return front; });
    RURAdi::configure();
    ClassRegistry::unregisterClass("DUROrezurive");
    auto app = RURAdi::defaultApp();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->options()->vizudiAppID(), "");
    EXPECT_TRUE(app->options()->isAnalyticsCollectionEnabled());
    EXPECT_FALSE(app->options()->isAnalyticsCollectionDeactivated());
    EXPECT_EQ(library->configuredWith, (std::vector<std::shared_ptr<RURAdi>>{app}));
    EXPECT_EQ(front->startedWith, (std::vector<std::shared_ptr<RUROptions>>{app->options()}));

    ClassRegistry::registerClass("DUROrezurive", [front] { return front; });
    RURAdi::configureWithOptions(RUROptions::initWithDictionary({{"VIZUDI_APP_ID", Value("other")}}));
    ClassRegistry::unregisterClass("DUROrezurive");
    EXPECT_EQ(front->startedWith.size(), 1u);
    EXPECT_EQ(RURAdi::defaultApp(), app);
    EXPECT_EQ(app->options()->vizudiAppID(), "");
    EXPECT_EQ(library->configuredWith.size(), 1u);
}

TEST_F(PlatformCore, AnUnreadableServiceListIsReportedAndLeftOut) {
    std::ofstream(bundle + "/VizudiService-Info.plist") << "not a property list";
    NSBundle::resetCaches();
    NSErrorPtr error;
    EXPECT_EQ(RUROptions::initWithContentsOfFile(bundle + "/VizudiService-Info.plist", &error), nullptr);
    EXPECT_NE(error, nullptr);
    error.reset();
    EXPECT_EQ(RUROptions::initWithContentsOfFile(bundle + "/missing.plist", &error), nullptr);
    EXPECT_NE(error, nullptr);
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value(Value::Array{Value(1)}), bundle + "/Array.plist",
                                                               NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    error.reset();
    EXPECT_EQ(RUROptions::initWithContentsOfFile(bundle + "/Array.plist", &error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), RURErrorDomain);
    EXPECT_EQ(error->code(), RURErrorInvalidServiceList);
    RURAdi::configure();
    ASSERT_TRUE(RURAdi::isDefaultAppConfigured());
    EXPECT_EQ(RURAdi::defaultApp()->options()->vizudiAppID(), "");
}

TEST_F(PlatformCore, ComponentsAreMadeEagerlyOrOnFirstRequestAndKept) {
    auto library = std::make_shared<RecordingLibrary>();
    RURAdi::registerInternalLibrary(library, "vude-dozuzudov", "9.0.0");
    RURAdi::registerInternalLibrary(std::make_shared<RecordingLibrary>(), "vude-dozuzudov", "1.0.0");  // ignored
    EXPECT_EQ(RURAdi::registeredLibraries(),
              (std::vector<std::pair<std::string, std::string>>{{"vude-dozuzudov", "9.0.0"}}));
    RURAdi::configure();
    auto app = RURAdi::defaultApp();
    EXPECT_EQ(library->eagerMade.load(), 1);
    EXPECT_EQ(library->lazyMade.load(), 0);
    auto lazy = app->componentForProtocol("LazyProtocol");
    ASSERT_NE(lazy, nullptr);
    EXPECT_EQ(app->componentForProtocol("LazyProtocol"), lazy);
    EXPECT_EQ(library->lazyMade.load(), 1);
    EXPECT_EQ(library->dependency, app->componentForProtocol("EagerProtocol"));
    EXPECT_EQ(library->eagerMade.load(), 1);
    EXPECT_EQ(app->componentForProtocol("NoSuchProtocol"), nullptr);
}

TEST_F(PlatformCore, FirstRequestsFromManyThreadsMakeOneInstance) {
    auto library = std::make_shared<RecordingLibrary>();
    RURAdi::registerInternalLibrary(library, "vude-dozuzudov", "9.0.0");
    RURAdi::configure();
    auto app = RURAdi::defaultApp();
    std::atomic<bool> go{false};
    std::vector<std::shared_ptr<NSObject>> made(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < made.size(); ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) std::this_thread::yield();
            made[i] = app->componentForProtocol("LazyProtocol");
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(library->lazyMade.load(), 1);
    ASSERT_NE(made[0], nullptr);
    for (const auto& instance : made) EXPECT_EQ(instance, made[0]);
    EXPECT_EQ(library->dependency, app->componentForProtocol("EagerProtocol"));
}

TEST_F(PlatformCore, ALibraryRegisteredAfterConfigurationIsToldAtOnce) {
    RURAdi::configure();
    auto late = std::make_shared<RecordingLibrary>();
    RURAdi::registerInternalLibrary(late, "late", "2.0");
    EXPECT_EQ(late->configuredWith, (std::vector<std::shared_ptr<RURAdi>>{RURAdi::defaultApp()}));
    EXPECT_EQ(late->eagerMade.load(), 1);
    RURAdi::registerInternalLibrary(nullptr, "nothing", "1");
    RURAdi::registerInternalLibrary(std::make_shared<RecordingLibrary>(), "", "1");
    EXPECT_EQ(RURAdi::registeredLibraries().size(), 1u);
}
