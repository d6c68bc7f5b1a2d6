// The engine's experiments end to end: the engine fetches from the measurement service on its
// schedule, its remote configuration activates the new snapshot when nothing is left to upload,
// the four switches follow the flags before the configuration, and a new launch keeps them.
#include "DeliveryTestSupport.h"

#include "analytics/experiments/APMEClient.h"
#include "analytics/experiments/APMEExperiment.h"
#include "analytics/experiments/APMEFlagConversion.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMESnapshot.h"
#include "analytics/experiments/APMExperimentContext.h"
#include "analytics/proto/APMPBExperimentResponse.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBatch.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBSnapshot.h"
#include "tests/fixtures/NetworkSettle.h"

namespace {

class APMExperimentsWiringTest : public DeliveryTest {
protected:
    // The service's answer: experiment 7 and the launched experiment of the measurement library.
    void serve(const std::vector<std::pair<std::int32_t, Value::Dictionary>>& experiments) {
        std::vector<std::shared_ptr<APMEExperiment>> items;
        for (const auto& [id, flags] : experiments) {
            std::vector<std::shared_ptr<APMPBFlag>> made;
            for (const auto& [name, value] : flags) made.push_back(APMEFlagWithNameAndValue(name, value));
            items.push_back(APMEExperiment::initWithExperimentID(id, made));
        }
        auto snapshot = APMESnapshot::initWithSDKName(APMRemoteConfig::kExperimentSDKName, items);
        auto message = APMPBExperimentResponse::make();
        APMPBMessageSetArray(message, APMPBExperimentResponse::kSnapshots, Value::Array{Value(snapshot->proto())});
        service.setExperimentResponse(message);
    }
    std::shared_ptr<APMRemoteConfig> config() { return engine()->remoteConfigInstance(); }
    // When the experiments fetch is armed; 0 when none is.
    double armedFetch() {
        auto taskManager = engine()->experimentManager()->taskManager();
        double at = 0;
        taskManager->dispatchSyncOnWorkerQueue([&] {
            if (auto armed = taskManager->alarm()->scheduledTimestamp()) at = armed->timeIntervalSince1970;
        });
        return at;
    }
    // Moves to the armed experiments fetch and waits until the engine has taken up its reply.
    void fetchExperiments() {
        auto taskManager = engine()->experimentManager()->taskManager();
        const double at = armedFetch();
        ASSERT_GT(at, 0) << "no experiments fetch is armed";
        const std::size_t before = service.experimentFetches().size();
        Clock::advance(std::max(0.0, at - Clock::now()));
        ASSERT_TRUE(service.waitForExperimentFetches(before + 1, 20));
        ASSERT_TRUE(settleWithNetworkUntil([&] { return !taskManager->isFetching(); })) << "the reply never came";
        for (int round = 0; round < 3; ++round) {
            engine()->experimentManager()->dispatchSyncOnSerialQueue([] {});
            taskManager->dispatchSyncOnWorkerQueue([] {});
            settle();
        }
    }
    // The experiment ids of each bundle of the accepted uploads, as the service received them.
    std::vector<std::vector<std::uint32_t>> uploadedExperimentIDs() {
        std::vector<std::vector<std::uint32_t>> all;
        for (const auto& upload : service.uploads()) {
            if (!upload.accepted) continue;
            auto batch = APMPBMeasurementBatch::initWithBuffer(
                reinterpret_cast<const std::uint8_t*>(upload.body.data()), upload.body.size());
            EXPECT_NE(batch, nullptr);
            if (!batch) continue;
            for (const Value& item :
                 APMPBMessageGetArray<APMPBMeasurementBundle>(batch, APMPBMeasurementBatch::kBundles).value_or(Value::Array{})) {
                std::vector<std::uint32_t> ids;
                for (const Value& id : APMPBMessageGetArray(item.objectAs<APMPBMeasurementBundle>(),
                                                            APMPBMeasurementBundle::kExperimentIds)
                                           .value_or(Value::Array{})) {
                    ids.push_back(static_cast<std::uint32_t>(id.unsignedLongLongValue()));
                }
                all.push_back(std::move(ids));
            }
        }
        return all;
    }
    bool switches() {
        auto remote = config();
        return remote->efficientEngagementReportingEnabled() && remote->isNetworkBackgroundSessionEnabled();
    }
};

TEST_F(APMExperimentsWiringTest, TheSwitchesFollowAnActivatedSnapshotAcrossLaunches) {
    serve({{7, {{"efficient_engagement_reporting_enabled", Value(1)}}},
           {0, {{"network_background_session_enabled", Value(1)}}}});
    // The configuration turns on a switch the experiments keep off.
    service.setConfiguration(
        kAppID, makeMeasurementConfig({{"measurement.collection.redundant_engagement_removal_enabled", "1"}}, 1, kAppID));
    start();
    ASSERT_NE(engine()->experimentManager(), nullptr);
    EXPECT_FALSE(switches());

    fetchExperiments();
    // Ten seconds after start, with the measurement library's client in the request.
    const auto sent = service.experimentFetches().back();
    EXPECT_EQ(sent.status, 200);
    ASSERT_EQ(sent.clients.size(), 1u);
    EXPECT_EQ(sent.clients[0].sdkName, APMRemoteConfig::kExperimentSDKName);
    EXPECT_EQ(sent.clients[0].diversionID,
              engine()->experimentContext()->diversionKey() + "-" + APMRemoteConfig::kExperimentSDKName);
    EXPECT_EQ(sent.bundleID, kBundleIdentifier);
    // Fetched, waiting for a moment with nothing to upload.
    EXPECT_TRUE(config()->hasNewSnapshot());
    EXPECT_FALSE(switches());

    APMAnalytics::logEventWithName("step", {{"n", Value(1)}});
    uploadWhileDue();
    EXPECT_EQ(deliveredNumbers("step").size(), 1u);
    EXPECT_FALSE(config()->hasNewSnapshot());
    EXPECT_TRUE(switches());
    EXPECT_EQ(config()->experimentIDs(), std::vector<std::int32_t>{7});
    // The activation came before the bundling: each uploaded bundle names experiment 7 (and not
    // the launched 0).
    auto uploaded = uploadedExperimentIDs();
    ASSERT_FALSE(uploaded.empty());
    for (const auto& ids : uploaded) EXPECT_EQ(ids, std::vector<std::uint32_t>{7});
    service.clearReceived();
    APMAnalytics::logEventWithName("step", {{"n", Value(2)}});
    uploadWhileDue();
    EXPECT_EQ(uploadedExperimentIDs(), (std::vector<std::vector<std::uint32_t>>{{7}}));
    // Experiments come before the configuration, also when they say 0.
    EXPECT_TRUE(config()->redundantEngagementRemovalEnabled());
    serve({{7, {{"efficient_engagement_reporting_enabled", Value(1)}, {"redundant_engagement_removal_enabled", Value(0)}}},
           {0, {{"network_background_session_enabled", Value(1)}}}});
    fetchExperiments();
    ASSERT_TRUE(config()->activateNewSnapshot());
    EXPECT_FALSE(config()->redundantEngagementRemovalEnabled());

    // A new launch reads them from the start.
    restart();
    EXPECT_TRUE(switches());
    EXPECT_FALSE(config()->redundantEngagementRemovalEnabled());
    EXPECT_EQ(config()->experimentIDs(), std::vector<std::int32_t>{7});

    // Resetting the analytics data drops the experiments with it, in memory and on file.
    APMAnalytics::resetAnalyticsData();
    settle();
    auto manager = engine()->experimentManager();
    manager->dispatchSyncOnSerialQueue([] {});
    manager->taskManager()->dispatchSyncOnWorkerQueue([] {});
    EXPECT_FALSE(config()->efficientEngagementReportingEnabled());
    EXPECT_FALSE(config()->isNetworkBackgroundSessionEnabled());
    EXPECT_TRUE(config()->experimentIDs().empty());
    restart();
    EXPECT_FALSE(config()->efficientEngagementReportingEnabled());
}

// A remote configuration made without naming a manager registers with the process's one, as
// the engine's own does; before the engine made that manager there is none to register with.
TEST_F(APMExperimentsWiringTest, AConfigurationMadeWithoutAManagerTakesTheProcesssOne) {
    auto database = [] { return APMDatabase::initWithDatabaseName("other.sql", nullptr, nullptr); };
    EXPECT_TRUE(APMRemoteConfig::initWithAppID(kAppID, database())->experimentIDs().empty());
    serve({{7, {{"efficient_engagement_reporting_enabled", Value(1)}}}});
    start();
    fetchExperiments();
    ASSERT_TRUE(config()->activateNewSnapshot());
    ASSERT_EQ(config()->experimentIDs(), std::vector<std::int32_t>{7});

    EXPECT_EQ(APMRemoteConfig::initWithAppID(kAppID, database())->experimentIDs(), std::vector<std::int32_t>{7});
    EXPECT_EQ(APMRemoteConfig::initWithAppID(kAppID, database(), makeMeasurementConfig({}, 2, kAppID))->experimentIDs(),
              std::vector<std::int32_t>{7});
    EXPECT_EQ(APMRemoteConfig::initWithAppID(kAppID, database(), engine()->experimentManager())->experimentIDs(),
              std::vector<std::int32_t>{7});
    EXPECT_TRUE(APMRemoteConfig::initWithAppID(kAppID, database(), std::shared_ptr<APMEManager>())->experimentIDs().empty());
}

TEST_F(APMExperimentsWiringTest, ADisabledEngineFetchesNoExperiments) {
    serve({{7, {{"efficient_engagement_reporting_enabled", Value(1)}}}});
    start({{APMAnalytics::kCollectionEnabledKey, Value(false)}});
    ASSERT_FALSE(engine()->isEnabled());
    // The experiments start with measurement: while it is off nothing is armed, and nothing
    // goes out however long it stays off.
    EXPECT_EQ(armedFetch(), 0);
    Clock::advance(APMETaskManager::kRegularInterval + 60);
    settle();
    EXPECT_TRUE(service.experimentFetches().empty());
    EXPECT_EQ(armedFetch(), 0);
    // Switched on, they start, and the first fetch goes out ten seconds later.
    APMAnalytics::setAnalyticsEnabled(true);
    settle();
    EXPECT_EQ(armedFetch(), Clock::now() + APMETaskManager::kInitialDelay);
    fetchExperiments();
    EXPECT_EQ(service.experimentFetches().size(), 1u);
}

TEST_F(APMExperimentsWiringTest, SwitchingMeasurementOffOrOnAfterAFetchIsArmedDoesNotChangeIt) {
    serve({{7, {{"efficient_engagement_reporting_enabled", Value(1)}}}});
    start();
    ASSERT_GT(armedFetch(), 0);
    // Armed while measurement was on: switched off, the fetch still goes out.
    APMAnalytics::setAnalyticsEnabled(false);
    settle();
    ASSERT_FALSE(engine()->isEnabled());
    fetchExperiments();
    EXPECT_EQ(service.experimentFetches().size(), 1u);
    // The next one was armed while it was off: switched on, that one is put off, not let out.
    APMAnalytics::setAnalyticsEnabled(true);
    settle();
    ASSERT_TRUE(engine()->isEnabled());
    const double due = armedFetch();
    ASSERT_GT(due, Clock::now());
    Clock::advance(due - Clock::now());
    settle();
    engine()->experimentManager()->taskManager()->dispatchSyncOnWorkerQueue([] {});
    EXPECT_EQ(service.experimentFetches().size(), 1u);
    // Armed again while on: the one after goes out.
    EXPECT_EQ(armedFetch(), due + APMETaskManager::kRegularInterval);
    fetchExperiments();
    EXPECT_EQ(service.experimentFetches().size(), 2u);
}

}  // namespace
