// The experiments fetch over the manual clock against the measurement service on loopback: when
// fetches fall due, what a success, a refusal, a failure and a postponement leave behind, and
// replies that cannot be read.
#include "ExperimentsTestSupport.h"
#include "tests/analytics/core/LogCapture.h"
#include "tests/fixtures/FaultyFileIO.h"

#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMESDKProperty.h"
#include "platform/services/NSDataVULGzip.h"

#include <filesystem>

namespace {

// Records what the task manager reports.
class RecordingDelegate : public APMETaskManagerDelegate {
public:
    bool taskManagerShouldFetchExperiments(APMETaskManager&) override { return shouldFetch.load(); }
    void taskManagerDidStartWithActivatedSnapshots(APMETaskManager&, const std::optional<APMESnapshots>& activated,
                                                   const std::optional<APMESnapshots>& pending,
                                                   const std::optional<APMESnapshots>&) override {
        std::lock_guard lock(mutex);
        ++starts;
        startActivated = activated.value_or(APMESnapshots{}).size();
        startPending = pending.value_or(APMESnapshots{}).size();
    }
    void taskManagerDidFinishFetchingExperimentSnapshots(APMETaskManager&, const APMESnapshots& snapshots,
                                                         const APMEFetchErrors& errors) override {
        std::lock_guard lock(mutex);
        fetched.push_back(snapshots);
        lastErrors = errors;
    }
    void taskManagerDidUpsertPendingSnapshots(APMETaskManager&, const APMESnapshots& snapshots) override {
        std::lock_guard lock(mutex);
        upserted += snapshots.size();
    }

    std::atomic<bool> shouldFetch{true};
    std::mutex mutex;
    int starts = 0;
    std::size_t startActivated = 0, startPending = 0, upserted = 0;
    std::vector<APMESnapshots> fetched;
    APMEFetchErrors lastErrors;
};

class APMETaskManagerTest : public ExperimentsTest {
protected:
    void SetUp() override {
        ExperimentsTest::SetUp();
        storage = suite();
        taskManager = makeTaskManager(storage);
        ASSERT_NE(taskManager, nullptr);
        taskManager->setDelegate(delegate);
        taskManager->requestBuilder()->addSDKProperty(APMESDKProperty::initWithName(kTestSDK));
        service.setExperimentResponse(response({snapshot(kTestSDK, {{7, {flag("a", Value(1))}}})}));
    }
    void TearDown() override {
        if (taskManager) taskManager->cancelScheduledFetch();
        ExperimentsTest::TearDown();
    }

    // Starts it and waits for the start-up on the worker queue.
    void start() {
        taskManager->startTaskManager();
        taskManager->dispatchSyncOnWorkerQueue([] {});
    }
    double fetchTime(double success, double failure) {
        double time = 0;
        taskManager->dispatchSyncOnWorkerQueue(
            [&] { time = taskManager->fetchTimeFromLastSuccessfulTimestamp(success, failure); });
        return time;
    }
    void schedule() {
        taskManager->dispatchSyncOnWorkerQueue([&] { taskManager->scheduleFetchingExperimentsOnWorkerQueue(); });
    }
    void queueReply(LoopbackServer::Fault fault) { service.enqueueReply(MeasurementService::Route::Experiments, {fault, std::nullopt}); }
    std::size_t pendingRows() { return rows("SELECT sdk_name FROM pending_snapshot_table").size(); }

    std::shared_ptr<APMConfigStore> storage;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<APMETaskManager> taskManager;
};

TEST_F(APMETaskManagerTest, TheNextFetchTimeFollowsSuccessesAndTheRetryLadder) {
    constexpr double hour = 3600;
    // The first computation of a process: no sooner than 10 s after start, failures ignored.
    EXPECT_EQ(fetchTime(0, kNow - 5), kNow + 10);
    // Later ones: four hours after the last success...
    const double success = kNow - hour;
    EXPECT_EQ(fetchTime(success, 0), success + 4 * hour);
    // ... a success in the future counts as that long ago ...
    EXPECT_EQ(fetchTime(kNow + hour, 0), kNow - hour + 4 * hour);
    // ... and after a failure the first ladder point past it.
    EXPECT_EQ(fetchTime(success, success + 4 * hour + 600), success + 4 * hour + 1800);
    EXPECT_EQ(fetchTime(success, success + 4 * hour + 2400), success + 4 * hour + 5400);
    EXPECT_EQ(fetchTime(success, success + 4 * hour + 113399), success + 4 * hour + 113400);
    EXPECT_EQ(fetchTime(success, success + 4 * hour + 113400), 0);
    // Without a success the ladder starts at the task manager's creation.
    EXPECT_EQ(fetchTime(0, kNow + 100), kNow + 1800);

    // A second process whose last success was an hour ago waits three hours, not ten seconds.
    auto later = makeTaskManager(storage);
    double time = 0;
    later->dispatchSyncOnWorkerQueue([&] { time = later->fetchTimeFromLastSuccessfulTimestamp(success, 0); });
    EXPECT_EQ(time, kNow + 3 * hour);
}

TEST_F(APMETaskManagerTest, ASuccessStoresThePendingSnapshotsAndComesBackFourHoursLater) {
    start();
    EXPECT_EQ(delegate->starts, 1);
    EXPECT_EQ(armedAt(*taskManager), kNow + 10);
    ASSERT_EQ(runArmedFetch(*taskManager), 1u);
    const auto sent = service.experimentFetches().front();
    ASSERT_TRUE(sent.decoded);
    ASSERT_EQ(sent.clients.size(), 1u);
    EXPECT_EQ(sent.clients[0].diversionID, std::string("abcde-") + kTestSDK);

    const double fetchedAt = kNow + 10;
    EXPECT_EQ(stored(*storage, APMETaskManager::kSuccessTimestampKey), fetchedAt);
    EXPECT_EQ(stored(*storage, APMETaskManager::kFailureTimestampKey), 0);
    EXPECT_EQ(pendingRows(), 1u);
    {
        std::lock_guard lock(delegate->mutex);
        ASSERT_EQ(delegate->fetched.size(), 1u);
        ASSERT_EQ(delegate->fetched[0].size(), 1u);
        EXPECT_EQ(APMEFlagValue(delegate->fetched[0][0]->flagByName("a")).longLongValue(), 1);
    }
    EXPECT_EQ(armedAt(*taskManager), fetchedAt + APMETaskManager::kRegularInterval);
    // Nothing goes out before then.
    Clock::advance(APMETaskManager::kRegularInterval - 20);
    settle();
    EXPECT_EQ(service.experimentFetches().size(), 1u);
    EXPECT_EQ(runArmedFetch(*taskManager), 2u);

    // A 204 without a body is a success with nothing in it, and nothing missing.
    monitorSample(true);
    queueReply(LoopbackServer::Fault::withStatus(204));
    EXPECT_EQ(runArmedFetch(*taskManager), 3u);
    LogCapture::flush();
    EXPECT_FALSE(sampled("from nil response"));
    std::lock_guard lock(delegate->mutex);
    EXPECT_TRUE(delegate->fetched.back().empty());
    EXPECT_EQ(stored(*storage, APMETaskManager::kSuccessTimestampKey), Clock::now());
}

TEST_F(APMETaskManagerTest, RefusalsHoldOffTwelveHoursAndFailuresClimbTheLadder) {
    start();
    for (int status : {503, 429}) {
        SCOPED_TRACE(status);
        queueReply(LoopbackServer::Fault::withStatus(status));
        const std::size_t before = service.experimentFetches().size();
        ASSERT_EQ(runArmedFetch(*taskManager), before + 1);
        const double refusedAt = Clock::now();
        EXPECT_EQ(stored(*storage, APMETaskManager::kFailureTimestampKey), refusedAt);
        EXPECT_EQ(stored(*storage, APMETaskManager::kBackoffTimestampKey), refusedAt);
        EXPECT_EQ(pendingRows(), 0u);
        // The ladder would retry within the hour; the hold-off says twelve.
        EXPECT_EQ(armedAt(*taskManager), refusedAt + APMETaskManager::kBackoffInterval);
    }
    // A plain failure (twelve hours after the last refusal, whose hold-off is over) sets the
    // failure mark alone; the ladder decides the retry.
    queueReply(LoopbackServer::Fault::withStatus(500));
    ASSERT_EQ(runArmedFetch(*taskManager), 3u);
    EXPECT_EQ(stored(*storage, APMETaskManager::kFailureTimestampKey), Clock::now());
    const double ladder = armedAt(*taskManager);
    EXPECT_GT(ladder, Clock::now());
    EXPECT_EQ(runArmedFetch(*taskManager), 4u);
    EXPECT_EQ(stored(*storage, APMETaskManager::kBackoffTimestampKey), 0);
    EXPECT_EQ(stored(*storage, APMETaskManager::kFailureTimestampKey), 0);
    EXPECT_EQ(pendingRows(), 1u);
}

TEST_F(APMETaskManagerTest, ATransportFailureIsAFailureWithoutHoldOffAndAnExhaustedLadderStops) {
    // Nothing listens on port 1 of loopback: no HTTP status at all.
    context->setHost("127.0.0.1:1");
    start();
    ASSERT_EQ(runArmedFetch(*taskManager), 0u);
    const double failedAt = Clock::now();
    EXPECT_EQ(stored(*storage, APMETaskManager::kFailureTimestampKey), failedAt);
    EXPECT_EQ(stored(*storage, APMETaskManager::kBackoffTimestampKey), 0);
    // No success ever: the ladder counts from the creation.
    EXPECT_EQ(armedAt(*taskManager), kNow + 1800);

    // A failure past the ladder's last point: the success mark goes and nothing is armed.
    taskManager->cancelScheduledFetch();
    storage->setDouble(kNow - 10, Value(APMETaskManager::kSuccessTimestampKey));
    storage->setDouble(kNow + APMETaskManager::kRegularInterval + 113400, Value(APMETaskManager::kFailureTimestampKey));
    schedule();
    EXPECT_EQ(armedAt(*taskManager), 0);
    EXPECT_EQ(stored(*storage, APMETaskManager::kSuccessTimestampKey), 0);

    // A reset starts over: with no success on record the fetch is due at once.
    context->setHost(service.host());
    taskManager->reset();
    taskManager->dispatchSyncOnWorkerQueue([] {});
    EXPECT_EQ(stored(*storage, APMETaskManager::kFailureTimestampKey), 0);
    const double again = armedAt(*taskManager);
    EXPECT_GT(again, Clock::now());
    EXPECT_LE(again, Clock::now() + 0.01);
}

TEST_F(APMETaskManagerTest, AnArmedFetchNoLaterIsKeptAndAnEarlierOneReplacesIt) {
    start();
    const double first = armedAt(*taskManager);
    ASSERT_EQ(first, kNow + 10);
    // A success an hour ago says three hours from now: the earlier fetch stays armed.
    storage->setDouble(kNow - 3600, Value(APMETaskManager::kSuccessTimestampKey));
    schedule();
    EXPECT_EQ(armedAt(*taskManager), first);
    // Armed for later than the next time: re-armed to the earlier one.
    taskManager->dispatchSyncOnWorkerQueue([&] { taskManager->alarm()->runAfterDelay(20000, [] {}); });
    schedule();
    EXPECT_EQ(armedAt(*taskManager), kNow + 3 * 3600);
}

TEST_F(APMETaskManagerTest, APostponementCountsAsASuccessButKeepsTheServicesHoldOff) {
    start();
    queueReply(LoopbackServer::Fault::withStatus(503));
    // Says no from now on: the fetch armed after the refusal is to be put off.
    delegate->shouldFetch = false;
    ASSERT_EQ(runArmedFetch(*taskManager), 1u);
    const double refusedAt = Clock::now();
    // The hold-off ends; the fetch falls due and is put off without a request.
    Clock::advance(APMETaskManager::kBackoffInterval);
    settle();
    EXPECT_EQ(service.experimentFetches().size(), 1u);
    EXPECT_EQ(stored(*storage, APMETaskManager::kSuccessTimestampKey), refusedAt + APMETaskManager::kBackoffInterval);
    EXPECT_EQ(stored(*storage, APMETaskManager::kFailureTimestampKey), 0);
    EXPECT_EQ(stored(*storage, APMETaskManager::kBackoffTimestampKey), refusedAt);
    EXPECT_EQ(armedAt(*taskManager), Clock::now() + APMETaskManager::kRegularInterval);

    // Put off while the hold-off is still running: the next try is not sooner than its end.
    taskManager->cancelScheduledFetch();
    storage->setDouble(Clock::now() - 3600, Value(APMETaskManager::kBackoffTimestampKey));
    taskManager->dispatchSyncOnWorkerQueue([&] { taskManager->postponeFetchExperiments(); });
    EXPECT_EQ(armedAt(*taskManager), Clock::now() - 3600 + APMETaskManager::kBackoffInterval);
    EXPECT_EQ(service.experimentFetches().size(), 1u);
}

TEST_F(APMETaskManagerTest, TheDelegatesAnswerIsTakenAsTheFetchIsArmed) {
    start();
    ASSERT_EQ(armedAt(*taskManager), kNow + 10);
    // Armed while the answer was yes: a no afterwards lets it go out all the same.
    delegate->shouldFetch = false;
    ASSERT_EQ(runArmedFetch(*taskManager), 1u);
    const double fetchedAt = kNow + 10;
    // Armed after the reply while the answer was no: a yes afterwards lets nothing out, and the
    // fetch is put off by the regular interval.
    delegate->shouldFetch = true;
    const double due = armedAt(*taskManager);
    ASSERT_EQ(due, fetchedAt + APMETaskManager::kRegularInterval);
    Clock::advance(due - Clock::now());
    settle();
    taskManager->dispatchSyncOnWorkerQueue([] {});
    EXPECT_EQ(service.experimentFetches().size(), 1u);
    EXPECT_EQ(stored(*storage, APMETaskManager::kSuccessTimestampKey), due);
    // Asked again as it re-arms: yes, so the next one goes out.
    EXPECT_EQ(armedAt(*taskManager), due + APMETaskManager::kRegularInterval);
    EXPECT_EQ(runArmedFetch(*taskManager), 2u);
}

TEST_F(APMETaskManagerTest, RepliesThatCannotBeReadAreFailures) {
    const NSData good = *response({snapshot(kTestSDK, {{7, {flag("a", Value(1))}}})})->protoBuffer();
    const NSData gzipped = NSDataVULGzip::vul_dataByGzippingData(good);
    const NSData notAResponse = NSDataVULGzip::vul_dataByGzippingData(NSData{0xff, 0xff, 0xff, 0xff, 0x0f});
    // A snapshot message far larger than any the service sends, a few kilobytes gzipped.
    auto huge = APMPBFlag::make();
    APMPBMessageSetString(huge, APMPBFlag::kName, "a");
    APMPBMessageSetString(huge, APMPBFlag::kStringValue, std::string(2 * 1024 * 1024, 'x'));
    auto hugeSnapshot = snapshot(kTestSDK, {{7, {huge}}});
    const NSData bomb = NSDataVULGzip::vul_dataByGzippingData(*response({hugeSnapshot})->protoBuffer());
    ASSERT_LT(bomb.size(), APMETaskManager::kMaximumResponseLength);
    // Bytes that are no gzip stream and too many of them to take.
    const std::string oversized(APMETaskManager::kMaximumResponseLength + 1, 'q');

    start();
    const std::vector<std::pair<const char*, std::string>> bodies = {
        {"truncated gzip", std::string(gzipped.begin(), gzipped.begin() + gzipped.size() / 2)},
        {"not gzip", "plain text"},
        {"wrong message", std::string(notAResponse.begin(), notAResponse.end())},
        {"huge snapshot", std::string(bomb.begin(), bomb.end())},
        {"oversized body", oversized},
    };
    // No success on record: the ladder counts from the task manager's creation.
    const std::vector<double> retries = {1800, 5400, 12600, 27000, 55800};
    std::size_t fetches = 0;
    for (const auto& [name, body] : bodies) {
        SCOPED_TRACE(name);
        service.setExperimentResponseBody(body);
        ASSERT_EQ(runArmedFetch(*taskManager), ++fetches);
        EXPECT_EQ(stored(*storage, APMETaskManager::kFailureTimestampKey), Clock::now());
        EXPECT_EQ(stored(*storage, APMETaskManager::kSuccessTimestampKey), 0);
        EXPECT_EQ(pendingRows(), 0u);
        // Retried on the ladder, not the regular interval later.
        EXPECT_EQ(armedAt(*taskManager), kNow + retries[fetches - 1]);
    }
    {
        std::lock_guard lock(delegate->mutex);
        EXPECT_TRUE(delegate->fetched.empty());
    }
    // The next readable reply succeeds.
    service.setExperimentResponseBody(std::string(gzipped.begin(), gzipped.end()));
    ASSERT_EQ(runArmedFetch(*taskManager), ++fetches);
    EXPECT_EQ(stored(*storage, APMETaskManager::kSuccessTimestampKey), Clock::now());
    EXPECT_EQ(pendingRows(), 1u);
}

TEST_F(APMETaskManagerTest, PerSDKAnswersGiveSnapshotsAndErrors) {
    auto answer = [](const std::string& name, std::optional<std::int32_t> status,
                     std::shared_ptr<APMESnapshot> carried) {
        auto item = APMPBSdkResponse::make();
        APMPBMessageSetString(item, APMPBSdkResponse::kSdkName, name);
        if (status) APMPBMessageSetInt32(item, APMPBSdkResponse::kStatus, *status);
        if (carried) APMPBMessageSetMessage(item, APMPBSdkResponse::kSnapshot, carried->proto());
        return Value(item);
    };
    auto message = APMPBExperimentResponse::make();
    APMPBMessageSetArray(message, APMPBExperimentResponse::kSdkResponses,
                         Value::Array{answer(kTestSDK, 2, nullptr), answer("seven", 7, nullptr),
                                      answer("fine", 0, nullptr), answer("one", 1, nullptr), answer("three", 3, nullptr),
                                      answer("renamed", std::nullopt, snapshot("wrong_name", {{5, {}}}))});
    // No top-level snapshots: those of the answers, under the answer's name.
    auto snapshots = APMETaskManager::experimentSnapshotsFromExperimentResponse(message);
    ASSERT_TRUE(snapshots);
    ASSERT_EQ(snapshots->size(), 1u);
    EXPECT_EQ(snapshots->at(0)->SDKName(), "renamed");
    // Non-zero statuses become errors of the experiment domain: 1 to 3 their complement, any
    // other -1.
    const auto errors = APMETaskManager::errorsFromExperimentResponse(message);
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors.at(kTestSDK)->domain(), APMEExperimentErrorDomain);
    EXPECT_EQ(errors.at(kTestSDK)->code(), -3);
    EXPECT_EQ(errors.at("one")->code(), -2);
    EXPECT_EQ(errors.at("three")->code(), -4);
    EXPECT_EQ(errors.at("seven")->code(), -1);
    EXPECT_FALSE(errors.count("fine"));

    // Top-level snapshots win over the answers'; errors still come from the answers.
    APMPBMessageSetArray(message, APMPBExperimentResponse::kSnapshots, Value::Array{Value(snapshot("top", {{1, {}}})->proto())});
    snapshots = APMETaskManager::experimentSnapshotsFromExperimentResponse(message);
    ASSERT_EQ(snapshots->size(), 1u);
    EXPECT_EQ(snapshots->at(0)->SDKName(), "top");
    EXPECT_FALSE(APMETaskManager::experimentSnapshotsFromExperimentResponse(nullptr));

    // From the reply's bytes as they travel: the same snapshots; no bytes, or bytes that do not
    // decode, give none and say which.
    monitorSample(true);
    snapshots = APMETaskManager::experimentSnapshotsFromData(*message->protoBuffer());
    ASSERT_TRUE(snapshots);
    ASSERT_EQ(snapshots->size(), 1u);
    EXPECT_EQ(snapshots->at(0)->SDKName(), "top");
    EXPECT_FALSE(APMETaskManager::experimentSnapshotsFromData(NSData{}));
    LogCapture::flush();
    EXPECT_TRUE(sampled("Cannot create experiment snapshots from empty data"));
    EXPECT_FALSE(sampled("from nil response"));
    EXPECT_FALSE(APMETaskManager::experimentSnapshotsFromData(NSData{0x0A, 0x05}));
    LogCapture::flush();
    EXPECT_TRUE(sampled("from nil response"));

    // Over the wire, the delegate gets both.
    service.setExperimentResponse(message);
    start();
    ASSERT_EQ(runArmedFetch(*taskManager), 1u);
    std::lock_guard lock(delegate->mutex);
    ASSERT_EQ(delegate->fetched.size(), 1u);
    EXPECT_EQ(delegate->lastErrors.size(), 4u);
}

TEST_F(APMETaskManagerTest, WithoutADatabaseNothingIsFetchedInThisProcess) {
    // A file the disk will not open (a folder in its place would be moved aside).
    FaultInjection faults;
    faults->ioError(FaultyFileIO::Operation::Open, databasePath());
    start();
    EXPECT_GT(faults->injected(), 0);
    EXPECT_EQ(taskManager->database(), nullptr);
    EXPECT_EQ(armedAt(*taskManager), 0);
    EXPECT_EQ(delegate->starts, 0);
}

}  // namespace
