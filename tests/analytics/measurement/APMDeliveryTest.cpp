// Events logged through the analytics door, before and after the start, reach the measurement
// service exactly once whatever the service answers on the way: refusals, busy answers with
// Retry-After, slow bodies, dropped connections and redirects, directly or through a proxy; and
// what a power cut leaves holds every event logged and no batch delivered; events whose metadata
// is gone go with the app's current one.
#include "DeliveryTestSupport.h"

#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/ConnectProxy.h"
#include "tests/fixtures/DamagedPages.h"
#include "tests/fixtures/NetworkSettle.h"
#include "tests/fixtures/PowerCutFileIO.h"

#include <cstdio>
#include <filesystem>

namespace {

using Reply = MeasurementService::Reply;

class APMDeliveryTest : public DeliveryTest {
protected:
    void logSteps(int from, int to) {
        for (int n = from; n < to; ++n) APMAnalytics::logEventWithName("step", {{"n", Value(n)}});
        settle();
    }
    void reply(int status, std::optional<int> retryAfter = std::nullopt) {
        Reply scripted;
        scripted.fault.status = status;
        scripted.retryAfter = retryAfter;
        service.enqueueReply(MeasurementService::Route::Upload, scripted);
    }
    void replyWith(const Reply& scripted) { service.enqueueReply(MeasurementService::Route::Upload, scripted); }
    // The upload the engine armed, answered with `scripted`, once its answer was handled; the
    // queue before and after it printed under `label`.
    MeasurementService::Upload uploadAnsweredWith(const Reply& scripted, const std::string& label) {
        replyWith(scripted);
        const std::size_t before = service.uploads().size();
        Clock::advance(std::max(0.0, scheduledUpload() - Clock::now()));
        EXPECT_TRUE(service.waitForUploads(before + 1));
        waitUntilIdle();
        const auto uploads = service.uploads();
        if (uploads.size() <= before) return {};
        printQueue(uploads[before], label);
        return uploads[before];
    }
    // What reached the service, for a failure's message.
    std::string traffic() const {
        std::string text;
        for (const auto& fetch : service.configFetches()) text += "config fetch: " + std::to_string(fetch.status) + "\n";
        const auto uploads = service.uploads();
        for (std::size_t i = 0; i < uploads.size(); ++i) text += MeasurementService::summaryLine(i + 1, uploads[i]) + "\n";
        return text;
    }
};

}  // namespace

TEST_F(APMDeliveryTest, EveryAcceptedEventArrivesOnceThroughEveryKindOfFailure) {
    APMAnalytics::load();
    logSteps(0, 3);
    APMAnalytics::setUserPropertyString(Value("oil"), "medium");
    start();
    // Before the start and after it, in call order, behind the first open.
    logSteps(3, 6);
    EXPECT_EQ(rawEventNames().front(), "_f");
    EXPECT_EQ(rawEventNumbers("step"), (std::vector<long long>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(rows("SELECT value FROM user_attributes WHERE name = 'medium'"),
              (std::vector<std::vector<std::string>>{{"oil"}}));

    // Every answer but a success keeps the bundles for a later attempt; events logged between
    // the attempts join them.
    reply(404);
    reply(304);
    uploadWhileDue(2);
    logSteps(6, 9);
    reply(429, 5);
    uploadWhileDue(1);
    logSteps(9, 12);
    Reply reset;
    reset.fault = LoopbackServer::Fault::reset(0);
    replyWith(reset);
    Reply slow;
    slow.fault = LoopbackServer::Fault::slow(std::chrono::milliseconds(5), 16);
    slow.fault.status = 500;
    replyWith(slow);
    uploadWhileDue(2);
    logSteps(12, 15);
    reply(503, 1);
    // A slow success is still a success.
    Reply slowSuccess;
    slowSuccess.fault = LoopbackServer::Fault::slow(std::chrono::milliseconds(5), 16);
    replyWith(slowSuccess);
    uploadWhileDue();
    logSteps(15, 18);
    uploadWhileDue();

    std::vector<int> statuses;
    for (const auto& upload : service.uploads()) statuses.push_back(upload.status);
    for (int refused : {404, 304, 429, 500, 503}) {
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), refused), statuses.end()) << refused;
    }
    const auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 18u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
    EXPECT_EQ(delivered.begin()->first, 0);
    EXPECT_EQ(delivered.rbegin()->first, 17);
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);
    EXPECT_EQ(count("SELECT count(*) FROM raw_events"), 0);
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
}

TEST_F(APMDeliveryTest, EventsLoggedWhileAnUploadHangsFollowItOnce) {
    start();
    logSteps(0, 5);
    Reply stall;
    stall.fault = LoopbackServer::Fault::stall();
    replyWith(stall);
    Clock::advance(scheduledUpload() - Clock::now());
    ASSERT_TRUE(service.waitForUploads(1));
    // The worker goes on while the request hangs.
    logSteps(5, 10);
    EXPECT_EQ(rawEventNumbers("step"), (std::vector<long long>{5, 6, 7, 8, 9}));
    // Once the answer's head has been read nothing more comes, and a minute of the clock without
    // progress ends the request. Read as the clock moves, the head would count as progress: the
    // clock moves once the head's last line is in, not its status line.
    auto network = engine()->network();
    ASSERT_TRUE(settleWithNetworkUntilHandedOn([&] { return network->receivedStatusCode() == 200; }));
    Clock::advance(network->timeoutInterval());
    waitUntilIdle();
    EXPECT_FALSE(engine()->isNetworkRequestPending());
    service.releaseStalls();
    uploadWhileDue();

    const auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 10u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
}

// A redirect is not the service's answer, whatever its target would say: the batch stays
// queued, is tried again as after any failure and arrives once; the target is never asked.
TEST_F(APMDeliveryTest, AnUploadAnsweredWithARedirectKeepsItsBatchForTheNextAttempt) {
    service.serve("/welcome", LoopbackServer::Response::make(200, "<html><body>Welcome</body></html>", "text/html"));
    start();
    int n = 0;
    for (int status : {302, 307}) {
        logSteps(n, n + 3);
        n += 3;
        Reply redirected;
        redirected.fault = LoopbackServer::Fault::redirect("/welcome");
        redirected.fault.status = status;
        const auto upload = uploadAnsweredWith(redirected, std::to_string(status) + " to a page");
        EXPECT_EQ(upload.status, status);
        EXPECT_GT(upload.batch.bundles, 0u);
        EXPECT_EQ(count("SELECT count(*) FROM queue"), static_cast<long long>(upload.batch.bundles)) << traffic();
        EXPECT_GT(scheduledUpload(), Clock::now()) << "a retry is due";
        uploadWhileDue();
        EXPECT_EQ(count("SELECT count(*) FROM queue"), 0) << traffic();
    }
    EXPECT_TRUE(service.requestsFor("/welcome").empty());
    const auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 6u);
    for (const auto& [step, times] : delivered) EXPECT_EQ(times, 1) << "step " << step;
}

// Through a tunnelling proxy the service's own answer decides, not the proxy's "200 Connection
// established": its 500 keeps the batch for the next attempt.
TEST_F(APMDeliveryTest, ThroughAProxyTheServicesOwnAnswerDecides) {
    ConnectProxy proxy;
    ScopedHTTPSProxy routed(proxy);
    start();
    logSteps(0, 3);
    Reply refused;
    refused.fault.status = 500;
    const auto upload = uploadAnsweredWith(refused, "500 through a proxy");
    EXPECT_EQ(upload.status, 500);
    EXPECT_GT(upload.batch.bundles, 0u);
    EXPECT_EQ(count("SELECT count(*) FROM queue"), static_cast<long long>(upload.batch.bundles)) << traffic();
    uploadWhileDue();
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0) << traffic();
    const auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 3u);
    for (const auto& [step, times] : delivered) EXPECT_EQ(times, 1) << "step " << step;
    EXPECT_GE(proxy.tunnelCount(), service.uploads().size()) << "every upload went by the proxy";
}

namespace {

// The engine's settings as they are on disk now, not as the running engine holds them.
Value::Dictionary settingsOnDisk() {
    const Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(
        Sandbox::preferences() + "/com.vizudi.vuv.measurement.plist");
    return plist.isDictionary() ? plist.dictionary() : Value::Dictionary{};
}

}  // namespace

TEST_F(APMDeliveryTest, WhatTheServiceHasIsNeverSentAgainInALaterLaunch) {
    VerboseLogCapture capture;
    start();
    logSteps(0, 3);
    // The database refuses every delete: the service has the bundle, the queue keeps it.
    execute("CREATE TRIGGER keep_queue BEFORE DELETE ON queue BEGIN SELECT RAISE(ABORT, 'kept'); END");
    uploadWhileDue();
    ASSERT_EQ(deliveredNumbers("step").size(), 3u) << traffic();
    const long long kept = count("SELECT count(*) FROM queue");
    ASSERT_GE(kept, 1);
    // On disk at once, not with the settings' next write: a launch may end any moment now.
    const Value record = settingsOnDisk().get(APMUploader::kDeliveredBundlesKey);
    ASSERT_TRUE(record.isDictionary());
    EXPECT_EQ(record.dictionary().get("bundles").array().size(), static_cast<std::size_t>(kept));

    // The next launch, the delete still failing: the old bundle stays in the queue unsent, the new
    // events go.
    restart();
    logSteps(3, 6);
    uploadWhileDue();
    EXPECT_GT(count("SELECT count(*) FROM queue"), kept);
    auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 6u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);

    // Once the database deletes again, the next launch deletes what both launches delivered,
    // unsent, at its start.
    execute("DROP TRIGGER keep_queue");
    const std::size_t uploadsBefore = service.uploads().size();
    restart();
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
    EXPECT_TRUE(capture.contains("Deleted bundles the service received before. Count"));
    EXPECT_TRUE(settingsOnDisk().get(APMUploader::kDeliveredBundlesKey).isNull());
    logSteps(6, 8);
    uploadWhileDue();
    EXPECT_GT(service.uploads().size(), uploadsBefore);
    delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 8u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
}

// What a power cut leaves of the measurement folder holds every event whose logging committed,
// and none of a batch deleted once the service had it.
TEST_F(APMDeliveryTest, ACommittedEventAndADeletedBatchOutlastAPowerCut) {
    const std::string path = APMApplicationSupportPath(APMMeasurement::kDatabaseName);
    const std::string folder = std::filesystem::path(path).parent_path().string();
    std::filesystem::create_directories(folder);
    PowerCutRecording recording(folder);
    int images = 0;
    const auto afterACut = [&](const std::string& sql) {
        const std::string image = Sandbox::tmp() + "/cut" + std::to_string(++images);
        EXPECT_EQ(recording->writeImage(image), 0);
        const auto table = sqliteRows(image + "/" + APMMeasurement::kDatabaseName, sql);
        return table.empty() ? -1 : std::stoll(table[0][0]);
    };
    start();
    logSteps(0, 240);
    ASSERT_EQ(rawEventNumbers("step").size(), 240u);
    EXPECT_EQ(afterACut("SELECT count(*) FROM raw_events WHERE name = 'step'"), 240);

    // A new launch, whose closing of the last one put every event into the database file itself.
    restart();
    uploadWhileDue();
    ASSERT_EQ(deliveredNumbers("step").size(), 240u) << traffic();
    EXPECT_EQ(afterACut("SELECT count(*) FROM raw_events WHERE name = 'step'"), 0);
    EXPECT_EQ(afterACut("SELECT count(*) FROM queue"), 0);
}

// Raw events whose metadata is gone reach the service with the app's metadata as it is when they
// are bundled, its user properties included, and a line says how many went so.
TEST_F(APMDeliveryTest, RawEventsWithoutTheirMetadataAreDeliveredWithTheAppsCurrentOne) {
    LogCapture capture;
    start();
    logSteps(0, 20);
    const long long stored = count("SELECT count(*) FROM raw_events");
    execute("DELETE FROM raw_events_metadata");
    APMAnalytics::setUserPropertyString(Value("oil"), "medium");
    settle();

    uploadWhileDue();
    ASSERT_EQ(deliveredNumbers("step").size(), 20u) << traffic();
    for (const auto& upload : service.uploads()) {
        EXPECT_EQ(upload.batch.userProperties.get("medium"), Value("oil"));
        for (const auto& event : upload.batch.events) EXPECT_EQ(event.appID, kAppID);
    }
    long long carried = 0;
    for (const auto& line : capture.matching("[I-ACS023308]")) {
        const std::string count = "Count: ";
        carried += std::stoll(line.substr(line.find(count) + count.size()));
    }
    EXPECT_EQ(carried, stored);
    EXPECT_TRUE(capture.matching("[I-ACS023302]").empty());
    EXPECT_EQ(count("SELECT count(*) FROM raw_events"), 0);
}

TEST_F(APMDeliveryTest, ARowThatAnotherBundleTookIsSentNotDeleted) {
    start();
    logSteps(0, 3);
    // A refused upload keeps its bundle in the queue.
    reply(500);
    Clock::advance(scheduledUpload() - Clock::now());
    waitUntilIdle();
    ASSERT_EQ(service.uploads().size(), 1u);
    // The first open in one bundle; the session it starts sets properties, so the session
    // start and the steps are in a second.
    const auto queued = rows("SELECT rowid, bundle_end_timestamp FROM queue ORDER BY rowid");
    ASSERT_EQ(queued.size(), 2u);
    // A record left by an earlier launch names that row id, but for a bundle stored with another
    // end time (the row was deleted after all and its id taken again).
    APMPersistedConfig::sharedInstance()->setDictionary(
        Value::Dictionary{{"bundles", Value(Value::Array{Value(Value::Dictionary{
                                          {"row_id", Value(std::stoll(queued[1][0]))},
                                          {"end_timestamp", Value(std::stod(queued[1][1]) - 60)},
                                          {"upload_timestamp", Value(kNow - 3600)}})})}},
        APMUploader::kDeliveredBundlesKey);

    restart();
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 2);
    uploadWhileDue();
    const auto delivered = deliveredNumbers("step");
    ASSERT_EQ(delivered.size(), 3u);
    for (const auto& [n, times] : delivered) EXPECT_EQ(times, 1) << "step " << n;
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
    EXPECT_FALSE(APMPersistedConfig::sharedInstance()->dictionaryForKey(APMUploader::kDeliveredBundlesKey));
}

TEST_F(APMDeliveryTest, WithoutAConfiguredHostNothingLeavesTheMachine) {
    LogCapture capture;
    NSUserDefaults::standardUserDefaults()->removeObjectForKey(APMRemoteConfig::kMeasurementHostDefaultsKey);
    start();
    logSteps(0, 2);
    Clock::advance(scheduledUpload() - Clock::now());
    waitUntilIdle();
    // The request went nowhere: its reserved host was not even looked up (the test run's
    // loopback rule would have failed this test for a lookup), and the data stays for later.
    EXPECT_TRUE(capture.contains("https://app-measurement.invalid/config/app/")) << traffic();
    EXPECT_TRUE(service.configFetches().empty());
    EXPECT_TRUE(service.uploads().empty());
    EXPECT_DOUBLE_EQ(APMPersistedConfig::sharedInstance()->lastFailedUploadTimestamp(), Clock::now());
    EXPECT_EQ(rawEventNumbers("step"), (std::vector<long long>{0, 1}));
}

TEST_F(APMDeliveryTest, TheSentBatchItselfIsLogged) {
    start();
    logSteps(1, 2);
    LogCapture capture;
    uploadWhileDue();
    ASSERT_EQ(deliveredNumbers("step"), (std::map<long long, int>{{1, 1}}));
    const auto lines = capture.matching("[I-ACS023039] Measurement data sent to network. Timestamp (ms), data");
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("APMPBMeasurementBatch"), std::string::npos) << lines[0];
}

// An older store holds 10,000 raw events whose times make no event, ahead of a launch's own. The
// first pass sets them all aside with one line, and the launch's events go in its first upload.
// Prints the passes and log lines it took.
TEST_F(APMDeliveryTest, TenThousandRowsWithoutAValidTimeHoldBackNoLaunch) {
    start();
    // The daily purge of stale rows has just run: it does not take them away first.
    APMPersistedConfig::sharedInstance()->setLastDeleteStaleBundlesTimestamp(Clock::now());
    APMPersistedConfig::sharedInstance()->persistPendingToDisk();
    settle();
    forgetProcess();
    execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
            "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime) "
            "SELECT 'old', -i, (SELECT metadata_fingerprint FROM raw_events ORDER BY rowid LIMIT 1), "
            "(SELECT data FROM raw_events ORDER BY rowid LIMIT 1), 0 FROM n");
    ASSERT_EQ(count("SELECT count(*) FROM raw_events WHERE timestamp < 0"), 10000);

    LogCapture capture;
    APMAnalytics::load();
    APMMeasurement::load();
    start();
    logSteps(0, 10);
    // A pass at each time the engine arms; when it arms none, one all the same, as its next
    // launch would run.
    int passes = 0;
    while (passes < 200 && deliveredNumbers("step").size() < 10) {
        waitUntilIdle();
        const double next = scheduledUpload();
        if (next > 0) {
            Clock::advance(std::max(0.0, next - Clock::now()));
        } else {
            engine()->scheduler()->scheduleOnWorkerQueueBlockID("test", [engine = engine()] {
                engine->uploader()->uploadData();
            });
        }
        waitUntilIdle();
        ++passes;
    }
    const std::size_t lines = capture.lines().size();
    std::printf("10,000 raw rows timed -1 ... -10,000 beside a launch's 10 events: the 10 were delivered in upload "
                "pass %d; %zu log lines\n",
                passes, lines);
    EXPECT_EQ(passes, 1) << traffic();
    const auto uploads = service.uploads();
    ASSERT_FALSE(uploads.empty());
    const auto& first = uploads[0].batch.events;
    EXPECT_EQ(std::count_if(first.begin(), first.end(), [](const auto& event) { return event.name == "step"; }), 10);
    const auto setAside = capture.matching("[I-ACS023306]");
    ASSERT_EQ(setAside.size(), 1u);
    EXPECT_NE(setAside[0].find("without a valid timestamp. Count, first RowID, its timestamp: 10000"), std::string::npos)
        << setAside[0];
    EXPECT_EQ(count("SELECT count(*) FROM raw_events"), 0);
}

// An application whose only measurement library is the ads library: the engine starts with the
// ZeViv app id alone, and its bundles, without a Vizudi App ID, go together to the service.
TEST_F(APMDeliveryTest, AnApplicationStartedByTheAdsLibraryAloneDeliversItsEvents) {
    ClassRegistry::unregisterClass("DUROrezurive");
    LogCapture capture;
    APMAnalytics::startWithAppID("ca-app-pub-1234567890~0987654321", "am",
                                 {{APMAnalytics::kCollectionEnabledKey, Value(true)}});
    settle();
    ASSERT_TRUE(APMMeasurement::hasSharedInstance());
    logSteps(0, 5);
    uploadWhileDue();
    const auto delivered = deliveredNumbers("step");
    EXPECT_EQ(delivered, (std::map<long long, int>{{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}})) << traffic();
    for (const auto& upload : service.uploads()) EXPECT_EQ(upload.batch.appID, "");
    EXPECT_TRUE(capture.matching("[I-ACS023303]").empty());
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
}

// A launch ends with its purchases queued, one event a bundle, the service having refused them;
// before the next launch one page of the queue has its header overwritten (a torn write). The
// next launch keeps the damaged file aside and sends every purchase that was not on that page.
TEST_F(APMDeliveryTest, PurchasesQueuedBeforeAPageWasDamagedAreDeliveredAllButThatPagesOwn) {
    constexpr int kPurchases = 120;
    constexpr int kBundles = 129;
    service.setConfiguration(kAppID, makeMeasurementConfig({{"measurement.upload.max_events_per_bundle", "1"},
                                                            {"measurement.upload.max_bundles_created_per_iteration", "1000"}},
                                                           1, kAppID));
    start();
    // User properties ride in every bundle: a stored bundle of about 650 bytes, as in the field.
    std::uint32_t seed = 7;
    for (int p = 0; p < 6; ++p) {
        std::string value;
        for (int i = 0; i < 36; ++i) {
            seed = seed * 1664525u + 1013904223u;
            value += static_cast<char>('a' + (seed >> 24) % 26);
        }
        APMAnalytics::setUserPropertyString(Value(value), "shelf_" + std::to_string(p));
    }
    for (int n = 0; n < kPurchases; ++n) {
        APMAnalytics::logEventWithName("purchase", {{"n", Value(n)}, {"value", Value(4.5)}, {"currency", Value("EUR")}});
    }
    settle();
    // The engine's own events and some steps make up the rest of the bundles.
    logSteps(0, kBundles - static_cast<int>(rawEventNames().size()));
    // Every upload of this launch is refused.
    for (int refusal = 0; refusal < 10; ++refusal) reply(500);
    for (int round = 0; round < 10 && service.uploads().empty(); ++round) {
        waitUntilIdle();
        const double next = scheduledUpload();
        ASSERT_NE(next, 0) << traffic();
        Clock::advance(std::max(0.0, next - Clock::now()));
    }
    waitUntilIdle();
    ASSERT_FALSE(service.uploads().empty());
    ASSERT_TRUE(deliveredNumbers("purchase").empty()) << traffic();
    const long long queued = count("SELECT count(*) FROM queue");
    EXPECT_EQ(queued, kBundles);
    service.dropReplies();

    settle();
    forgetProcess();
    execute("PRAGMA wal_checkpoint(TRUNCATE)");
    const std::string path = APMApplicationSupportPath(APMMeasurement::kDatabaseName);
    const int leaves = std::stoi(
        sqliteRows(path, "SELECT count(*) FROM dbstat WHERE name = 'queue' AND pagetype = 'leaf'").at(0).at(0));
    const int lost = overwriteLeafHeader(path, "queue", leaves / 2);
    ASSERT_GT(lost, 0);

    APMAnalytics::load();
    APMMeasurement::load();
    start();
    uploadWhileDue();
    const auto delivered = deliveredNumbers("purchase");
    std::vector<long long> missing;
    for (long long n = 0; n < kPurchases; ++n) {
        const auto found = delivered.find(n);
        if (found == delivered.end()) missing.push_back(n);
        else EXPECT_EQ(found->second, 1) << "purchase " << n;
    }
    std::printf("Purchases delivered after one damaged page of the upload queue: %zu of %d (%lld bundles on %d "
                "leaf pages, %d on the damaged one)\n",
                delivered.size(), kPurchases, queued, leaves, lost);
    // Only the page's own, one after another.
    ASSERT_FALSE(missing.empty());
    EXPECT_LE(missing.size(), static_cast<std::size_t>(lost));
    EXPECT_EQ(missing.back() - missing.front() + 1, static_cast<long long>(missing.size()));
    EXPECT_EQ(delivered.size() + missing.size(), static_cast<std::size_t>(kPurchases));
    EXPECT_TRUE(std::filesystem::exists(path + ".carried"));
    EXPECT_EQ(count("SELECT count(*) FROM queue"), 0);
}
