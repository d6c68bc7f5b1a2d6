// The experiments manager over a real task manager, database and measurement service: flags
// from activated, launched and default values, activation in memory and on file, what a new
// process finds (also after a SIGKILL between fetch and activation), and the clients' delegates.
#include "ExperimentsTestSupport.h"

#include "analytics/experiments/APMEClient.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/proto/APMPBExperimentRequest.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/experiments/APMEMonitor.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "platform/foundation/Sandbox.h"
#include "tests/analytics/core/LogCapture.h"
#include "tests/fixtures/AskedAtOnce.h"
#include "tests/fixtures/CrashChild.h"

#include <csignal>
#include <future>
#include <stdexcept>
#include <utility>
#include <thread>
#include <cstdlib>

namespace {

constexpr const char* kHomeVariable = "APME_KILL_HOME";
constexpr const char* kManualVariable = "APME_KILL_MANUAL";

// A client that activates new snapshots itself, as the remote configuration does.
class ManualDelegate : public APMEExperimentObserverDelegate {
public:
    bool respondsToClientDidReceiveNewSnapshot() const override { return true; }
    void clientDidReceiveNewSnapshot(APMEClient&) override { ++newSnapshots; }
    void clientDidReceiveFetchError(APMEClient&, const NSErrorPtr& error) override {
        std::lock_guard lock(mutex);
        errors.push_back(error);
    }
    bool shouldFetchExperimentsForClient(APMEClient&) override { return shouldFetch.load(); }
    std::shared_ptr<DispatchQueue> queue() const override { return queue_; }

    std::atomic<int> newSnapshots{0};
    std::atomic<bool> shouldFetch{true};
    std::mutex mutex;
    std::vector<NSErrorPtr> errors;
    std::shared_ptr<DispatchQueue> queue_ = DispatchQueue::create("test.experiments.client");
};

// Stands between the task manager and the manager, and throws where the start-up hands over
// the stored snapshots: a start-up that fails half-way.
class ThrowingStartUp : public APMETaskManagerDelegate {
public:
    explicit ThrowingStartUp(std::weak_ptr<APMEManager> manager) : manager_(std::move(manager)) {}
    bool taskManagerShouldFetchExperiments(APMETaskManager& taskManager) override {
        auto manager = manager_.lock();
        return manager && manager->taskManagerShouldFetchExperiments(taskManager);
    }
    void taskManagerDidStartWithActivatedSnapshots(APMETaskManager&, const std::optional<APMESnapshots>&,
                                                   const std::optional<APMESnapshots>&,
                                                   const std::optional<APMESnapshots>&) override {
        throw std::runtime_error("the stored snapshots cannot be handed over");
    }
    void taskManagerDidEndStartUp(APMETaskManager& taskManager) override {
        if (auto manager = manager_.lock()) manager->taskManagerDidEndStartUp(taskManager);
    }
    void taskManagerDidFinishFetchingExperimentSnapshots(APMETaskManager& taskManager, const APMESnapshots& snapshots,
                                                         const APMEFetchErrors& errors) override {
        if (auto manager = manager_.lock())
            manager->taskManagerDidFinishFetchingExperimentSnapshots(taskManager, snapshots, errors);
    }
    void taskManagerDidUpsertPendingSnapshots(APMETaskManager& taskManager, const APMESnapshots& snapshots) override {
        if (auto manager = manager_.lock()) manager->taskManagerDidUpsertPendingSnapshots(taskManager, snapshots);
    }

private:
    std::weak_ptr<APMEManager> manager_;
};

class APMEManagerTest : public ExperimentsTest {
protected:
    void TearDown() override {
        stop();
        ExperimentsTest::TearDown();
    }

    // A new process's manager on the test's files; it starts once a client has registered.
    std::shared_ptr<APMEManager> launch() {
        stop();
        manager = APMEManager::initWithTaskManager(makeTaskManager());
        EXPECT_NE(manager, nullptr);
        return manager;
    }
    // The process ends: the armed fetch goes with it.
    void stop() {
        if (!manager) return;
        manager->taskManager()->cancelScheduledFetch();
        settleManager();
        manager.reset();
    }
    // Everything the manager and its task manager queued has run.
    void settleManager() {
        for (int round = 0; round < 3; ++round) {
            manager->dispatchSyncOnSerialQueue([] {});
            manager->taskManager()->dispatchSyncOnWorkerQueue([] {});
        }
        settle();
    }
    // Registers the test's SDK and starts the manager, as the remote configuration does: the
    // start-up arms the first fetch and asks the client, with its delegate, then.
    std::shared_ptr<APMEClient> registerClient(std::shared_ptr<APMEExperimentObserverDelegate> delegate = nullptr) {
        auto client = manager->registerSDKProperty(APMESDKProperty::initWithName(kTestSDK),
                                                   {{"a", Value(0)}, {"b", Value("default")}, {"c", Value(1.5)}});
        EXPECT_NE(client, nullptr);
        if (client && delegate) client->setDelegate(delegate);
        manager->startTaskManager();
        return client;
    }
    void serve(const std::shared_ptr<APMESnapshot>& served) { service.setExperimentResponse(response({served})); }
    void fetch() {
        const std::size_t before = service.experimentFetches().size();
        ASSERT_EQ(runArmedFetch(*manager->taskManager()), before + 1);
        settleManager();
    }

    std::shared_ptr<APMEManager> manager;
};

TEST_F(APMEManagerTest, FlagsComeFromTheActivatedThenTheLaunchedSnapshotThenTheDefault) {
    launch();
    auto client = registerClient();
    EXPECT_EQ(client->valueForFlag("a").longLongValue(), 0);
    EXPECT_EQ(client->valueForFlag("b"), Value("default"));
    EXPECT_EQ(client->valueForFlag("c").doubleValue(), 1.5);
    EXPECT_TRUE(client->experimentValueForFlag("a").isNull());
    EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName(kTestSDK), APMEActivatedSnapshotNone);

    serve(snapshot(kTestSDK, {{7, {flag("a", Value(5)), flag("undeclared", Value(1))}}, {0, {flag("b", Value("launched"))}}}));
    fetch();
    // Fetched is not yet applied.
    EXPECT_EQ(client->valueForFlag("a").longLongValue(), 0);
    NSErrorPtr error;
    ASSERT_TRUE(client->activateLatestSnapshot(&error));
    EXPECT_EQ(client->valueForFlag("a").longLongValue(), 5);
    EXPECT_EQ(client->experimentValueForFlag("a").longLongValue(), 5);
    EXPECT_EQ(client->valueForFlag("b"), Value("launched"));
    EXPECT_EQ(client->valueForFlag("c").doubleValue(), 1.5);
    EXPECT_TRUE(client->experimentValueForFlag("c").isNull());
    // Only declared flags can be read.
    EXPECT_TRUE(client->valueForFlag("undeclared").isNull());
    EXPECT_TRUE(client->valueForFlag("").isNull());
    EXPECT_EQ(manager->experimentIDs(), std::vector<std::int32_t>{7});
    // Nothing more to activate.
    EXPECT_FALSE(client->activateLatestSnapshot(&error));

    // The files agree with memory.
    settleManager();
    EXPECT_EQ(rows("SELECT count(*) FROM pending_snapshot_table"), (std::vector<std::vector<std::string>>{{"0"}}));
    EXPECT_EQ(rows("SELECT sdk_name FROM activated_snapshot_table"), (std::vector<std::vector<std::string>>{{kTestSDK}}));
    EXPECT_EQ(rows("SELECT sdk_name FROM launched_snapshot_table"), (std::vector<std::vector<std::string>>{{kTestSDK}}));

    // Current for three days, stale after.
    EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName(kTestSDK), APMEActivatedSnapshotCurrent);
    EXPECT_FALSE(client->hasStaleSnapshot());
    // No fetch meanwhile: a request in flight would see its time-out pass at once.
    manager->taskManager()->cancelScheduledFetch();
    Clock::advance(4 * 86400);
    settleManager();
    EXPECT_TRUE(client->hasStaleSnapshot());
    EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName("unknown"), APMEActivatedSnapshotInvalidSDK);

    // Back to defaults, in memory and on file.
    client->resetToDefaults();
    settleManager();
    EXPECT_EQ(client->valueForFlag("a").longLongValue(), 0);
    EXPECT_EQ(client->valueForFlag("b"), Value("launched"));
    EXPECT_EQ(rows("SELECT count(*) FROM activated_snapshot_table"), (std::vector<std::vector<std::string>>{{"0"}}));
}

TEST_F(APMEManagerTest, ALaunchedOnlySnapshotKeepsTheActivatedFlagsInMemoryAndAfterARestart) {
    launch();
    auto client = registerClient();
    serve(snapshot(kTestSDK, {{7, {flag("a", Value(5))}}}));
    fetch();
    NSErrorPtr error;
    ASSERT_TRUE(client->activateLatestSnapshot(&error));
    ASSERT_EQ(client->valueForFlag("a").longLongValue(), 5);

    // The next snapshot holds only the launched experiment.
    serve(snapshot(kTestSDK, {{0, {flag("a", Value(9)), flag("b", Value("launched"))}}}));
    fetch();
    ASSERT_TRUE(client->activateLatestSnapshot(&error));
    const auto read = [&] {
        return std::make_tuple(client->valueForFlag("a").longLongValue(), client->valueForFlag("b").stringValue(),
                               manager->experimentIDs());
    };
    const auto before = read();
    EXPECT_EQ(before, std::make_tuple(5LL, std::string("launched"), std::vector<std::int32_t>{7}));

    launch();
    client = registerClient();
    EXPECT_EQ(read(), before);
}

TEST_F(APMEManagerTest, ANewProcessFindsWhatTheLastOneActivatedAndActivatesWhatItLeftPending) {
    launch();
    auto client = registerClient();
    serve(snapshot(kTestSDK, {{3, {flag("a", Value(3))}}}));
    fetch();
    NSErrorPtr error;
    ASSERT_TRUE(client->activateLatestSnapshot(&error));
    // A second fetch the process ends without activating.
    serve(snapshot(kTestSDK, {{4, {flag("a", Value(4))}}}));
    fetch();
    ASSERT_EQ(client->valueForFlag("a").longLongValue(), 3);

    // The next process: a client without its own activation gets the pending one at start-up.
    launch();
    client = registerClient();
    EXPECT_EQ(client->valueForFlag("a").longLongValue(), 4);
    EXPECT_EQ(manager->experimentIDs(), std::vector<std::int32_t>{4});
    EXPECT_EQ(rows("SELECT count(*) FROM pending_snapshot_table"), (std::vector<std::vector<std::string>>{{"0"}}));

    // Three days later the activated snapshot is dropped at start-up.
    stop();
    Clock::advance(APMEDatabase::kStaleInterval);
    launch();
    client = registerClient();
    EXPECT_EQ(client->valueForFlag("a").longLongValue(), 0);
    EXPECT_EQ(manager->activatedSnapshotStatusOfSDKName(kTestSDK), APMEActivatedSnapshotNone);
}

TEST_F(APMEManagerTest, AClientThatActivatesItselfHearsOfNewSnapshotsAndErrorsOnItsQueue) {
    launch();
    auto delegate = std::make_shared<ManualDelegate>();
    auto client = registerClient(delegate);
    auto message = response({snapshot(kTestSDK, {{6, {flag("a", Value(6))}}})});
    auto refused = APMPBSdkResponse::make();
    APMPBMessageSetString(refused, APMPBSdkResponse::kSdkName, kTestSDK);
    APMPBMessageSetInt32(refused, APMPBSdkResponse::kStatus, 2);
    APMPBMessageSetArray(message, APMPBExperimentResponse::kSdkResponses, Value::Array{Value(refused)});
    service.setExperimentResponse(message);
    fetch();
    delegate->queue_->sync([] {});
    EXPECT_EQ(delegate->newSnapshots.load(), 1);
    {
        std::lock_guard lock(delegate->mutex);
        ASSERT_EQ(delegate->errors.size(), 1u);
        EXPECT_EQ(delegate->errors[0]->code(), -3);
    }
    // Marked as the client's to activate: a new process leaves it pending.
    EXPECT_EQ(rows("SELECT manually_activated FROM pending_snapshot_table"), (std::vector<std::vector<std::string>>{{"1"}}));
    // While every client says no as a fetch is armed, it is put off without a request.
    delegate->shouldFetch = false;
    launch();
    client = registerClient(delegate);
    EXPECT_EQ(client->valueForFlag("a").longLongValue(), 0);
    NSErrorPtr error;
    ASSERT_TRUE(client->activateLatestSnapshot(&error));
    EXPECT_EQ(client->valueForFlag("a").longLongValue(), 6);

    const std::size_t before = service.experimentFetches().size();
    Clock::advance(APMETaskManager::kRegularInterval);
    settleManager();
    EXPECT_EQ(service.experimentFetches().size(), before);
    EXPECT_GT(armedAt(*manager->taskManager()), Clock::now());
}

TEST_F(APMEManagerTest, TheClientsAreAskedAsTheFetchIsArmedNotAsItFires) {
    launch();
    auto delegate = std::make_shared<ManualDelegate>();
    auto client = registerClient(delegate);
    serve(snapshot(kTestSDK, {{6, {flag("a", Value(6))}}}));
    // Armed by the start-up while the client said yes: its no afterwards does not stop this
    // fetch...
    ASSERT_GT(armedAt(*manager->taskManager()), 0);
    delegate->shouldFetch = false;
    fetch();
    // ... and the next one, armed after the reply while it says no, goes out no more when it
    // says yes again: it is put off to the regular interval after it fell due.
    delegate->shouldFetch = true;
    const std::size_t before = service.experimentFetches().size();
    const double due = armedAt(*manager->taskManager());
    ASSERT_GT(due, Clock::now());
    Clock::advance(due - Clock::now());
    settleManager();
    EXPECT_EQ(service.experimentFetches().size(), before);
    // Armed again while it says yes: that one goes out.
    EXPECT_EQ(armedAt(*manager->taskManager()), due + APMETaskManager::kRegularInterval);
    fetch();
    // A manager whose only client came after its start-up knew of no one when it armed the first
    // fetch: nothing goes out then.
    launch();
    manager->startTaskManager();
    manager->taskManager()->dispatchSyncOnWorkerQueue([] {});
    client = registerClient(delegate);
    const std::size_t fetches = service.experimentFetches().size();
    Clock::advance(armedAt(*manager->taskManager()) - Clock::now());
    settleManager();
    EXPECT_EQ(service.experimentFetches().size(), fetches);
}

TEST_F(APMEManagerTest, RegistrationChecksItsDefaultsAndALaterOneReplacesTheEarlier) {
    launch();
    EXPECT_EQ(manager->registerSDKProperty(nullptr, {}), nullptr);
    EXPECT_EQ(manager->registerSDKProperty(APMESDKProperty::initWithName(""), {}), nullptr);
    // One unusable default refuses the whole registration.
    EXPECT_EQ(manager->registerSDKProperty(APMESDKProperty::initWithName(kTestSDK),
                                           {{"a", Value(1)}, {"when", Value(NSDate{5})}}),
              nullptr);
    EXPECT_EQ(manager->clientForSDKName(kTestSDK), nullptr);

    auto first = registerClient();
    auto second = manager->registerSDKProperty(APMESDKProperty::initWithName(kTestSDK), {{"d", Value(true)}});
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(manager->clientForSDKName(kTestSDK), second);
    // The defaults are the later ones'.
    EXPECT_TRUE(second->valueForFlag("a").isNull());
    EXPECT_EQ(second->valueForFlag("d").longLongValue(), 1);
    EXPECT_EQ(APMEManager::version(), 10000);
}

// Runs only as the child of the test below: fetches into the parent's files and is killed
// with the snapshot pending.
TEST_F(APMEManagerTest, DISABLED_FetchingChild) {
    const char* home = std::getenv(kHomeVariable);
    ASSERT_NE(home, nullptr);
    Sandbox::setHome(home);
    launch();
    const bool manual = std::getenv(kManualVariable) != nullptr;
    // Clients hold their delegates weakly.
    auto delegate = manual ? std::make_shared<ManualDelegate>() : nullptr;
    auto client = registerClient(delegate);
    serve(snapshot(kTestSDK, {{8, {flag("a", Value(8))}}, {0, {flag("b", Value("launched"))}}}));
    fetch();
    // The reply has been handled and everything it queued has run: the snapshot is stored.
    ASSERT_EQ(rows("SELECT manually_activated FROM pending_snapshot_table"),
              (std::vector<std::vector<std::string>>{{manual ? "1" : "0"}}));
    std::raise(SIGKILL);
}

TEST_F(APMEManagerTest, ASnapshotFetchedByAProcessKilledBeforeActivationIsUsedByTheNext) {
    for (const bool manual : {false, true}) {
        SCOPED_TRACE(manual ? "client activates" : "activated at start-up");
        std::vector<std::string> environment{std::string(kHomeVariable) + "=" + Sandbox::home()};
        if (manual) environment.push_back(std::string(kManualVariable) + "=1");
        const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
        const pid_t child = spawnDisabledTest(exe, "APMEManagerTest.DISABLED_FetchingChild", environment);
        ASSERT_GT(child, 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended otherwise: " << status;
        EXPECT_EQ(integrityOf(databasePath()), "ok");

        // The next process starts after the child's fetch (a second child fetches four hours
        // after the first one's success).
        Clock::advance(APMETaskManager::kRegularInterval + 60);
        launch();
        auto delegate = manual ? std::make_shared<ManualDelegate>() : nullptr;
        auto client = registerClient(delegate);
        if (manual) {
            EXPECT_EQ(client->valueForFlag("a").longLongValue(), 0);
            NSErrorPtr error;
            ASSERT_TRUE(client->activateLatestSnapshot(&error));
        }
        EXPECT_EQ(client->valueForFlag("a").longLongValue(), 8);
        EXPECT_EQ(client->valueForFlag("b"), Value("launched"));
        settleManager();
        EXPECT_EQ(rows("SELECT count(*) FROM pending_snapshot_table"), (std::vector<std::vector<std::string>>{{"0"}}));
        stop();
        std::filesystem::remove(databasePath());
    }
}

}  // namespace

TEST_F(APMEManagerTest, AFlagReadAfterAStartUpThatThrowsAnswersWithTheDefault) {
    manager = APMEManager::initWithTaskManager(makeTaskManager());
    ASSERT_NE(manager, nullptr);
    auto startUp = std::make_shared<ThrowingStartUp>(manager);
    manager->taskManager()->setDelegate(startUp);
    LogCapture capture;
    auto client = registerClient();
    manager->startTaskManager();

    // Read on a thread of its own: a read that never returns fails the wait instead of the run.
    auto answer = std::make_shared<std::promise<Value>>();
    std::future<Value> read = answer->get_future();
    std::thread([client, answer] { answer->set_value(client->valueForFlag("b")); }).detach();
    ASSERT_EQ(read.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(read.get(), Value("default"));
    // The reader is let go while the exception is on its way to the queue's catch, which logs it.
    manager->taskManager()->dispatchSyncOnWorkerQueue([] {});
    EXPECT_EQ(capture.matching("820026").size(), 1u);
}

TEST_F(APMEManagerTest, TheFrameworksLinesPassThroughItsMonitorToTheMeasurementMonitor) {
    ASSERT_NE(APMEManager::monitor(), nullptr);
    EXPECT_EQ(APMEManager::monitor(), APMEManager::monitor());
    EXPECT_EQ(APMEManager::monitor()->monitor(), APMMeasurementMonitor());
    launch();
    LogCapture capture;
    EXPECT_EQ(manager->registerSDKProperty(nullptr, {}), nullptr);
    EXPECT_EQ(capture.matching("[I-ACS800000] Cannot register client with a nil SDK property").size(), 1u);
    // Sampled lines go to the measurement monitor's sample, and clearing through it clears that.
    monitorSample(true);
    APMEManager::monitor()->logWithLevel(2, 820020, "Cannot upsert empty pending snapshot list");
    LogCapture::flush();
    EXPECT_TRUE(sampled("Cannot upsert empty pending snapshot list"));
    APMEManager::monitor()->clearMonitoringData();
    LogCapture::flush();
    EXPECT_FALSE(sampled("Cannot upsert empty pending snapshot list"));
}

// One manager and one request builder per process, made once however many threads ask at the
// same time; what registers with the manager is in the requests the process's builder makes.
TEST_F(APMEManagerTest, TheProcessHasOneManagerAndOneRequestBuilderWhoeverAsksFirst) {
    // Nothing to make it with until the engine's layer hands in what the experiments need.
    EXPECT_EQ(APMEManager::sharedInstance(), nullptr);
    APMEManager::setSharedContext(context);
    const auto seen = askedAtOnce(
        [] { return std::pair(APMEManager::sharedInstance(), APMEExperimentRequestBuilder::sharedInstance()); });
    manager = seen[0].first;
    ASSERT_NE(manager, nullptr);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].first, manager) << i;
        EXPECT_EQ(seen[i].second, seen[0].second) << i;
    }
    EXPECT_EQ(APMEManager::sharedInstance(), manager);
    EXPECT_EQ(manager->taskManager()->requestBuilder(), APMEExperimentRequestBuilder::sharedInstance());

    ASSERT_NE(manager->registerSDKProperty(APMESDKProperty::initWithName(kTestSDK), {{"a", Value(0)}}), nullptr);
    manager->dispatchSyncOnSerialQueue([] {});
    const auto sent = [&] {
        const NSData bytes = *APMEExperimentRequestBuilder::sharedInstance()->request(*context)->protoBuffer();
        return MeasurementService::decodeExperimentRequest(std::string(bytes.begin(), bytes.end()));
    }();
    ASSERT_TRUE(sent.decoded);
    ASSERT_EQ(sent.clients.size(), 1u);
    EXPECT_EQ(sent.clients[0].sdkName, kTestSDK);

    // A new process starts with neither.
    stop();
    APMEManager::resetSharedInstance();
    APMEExperimentRequestBuilder::resetSharedInstance();
    EXPECT_EQ(APMEManager::sharedInstance(), nullptr);
    EXPECT_NE(APMEExperimentRequestBuilder::sharedInstance(), seen[0].second);
}
