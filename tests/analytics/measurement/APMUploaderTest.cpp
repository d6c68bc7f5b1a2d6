// Upload scheduling, batches and the configuration fetch against the measurement service on
// 127.0.0.1, with the manual clock driving timers, retries, back-off and time-outs.
#include "UploadTestSupport.h"

#include "analytics/proto/APMPBDataControl.h"
#include "platform/net/NSURL.h"
#include "tests/fixtures/NetworkSettle.h"

#include <gtest/gtest.h>

#include <map>

namespace {

class APMUploaderTest : public UploadTestBase {
protected:
    // A bundle as bundling queues it, with one event of its own.
    static std::shared_ptr<APMPBMeasurementBundle> queuedBundle(double end, const std::string& appID = kTestAppID,
                                                                std::size_t padding = 0) {
        auto bundle = metadata(appID);
        auto event = APMPBEvent::make();
        APMPBMessageSetString(event, APMPBEvent::kName, "level_up");
        APMPBMessageSetInt64(event, APMPBEvent::kTimestampMillis, static_cast<std::int64_t>(end * 1000));
        APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kEvents, Value::Array{Value(event)});
        APMPBMessageSetInt64(bundle, APMPBMeasurementBundle::kStartTimestampMillis, static_cast<std::int64_t>(end * 1000));
        APMPBMessageSetInt64(bundle, APMPBMeasurementBundle::kEndTimestampMillis, static_cast<std::int64_t>(end * 1000));
        if (padding > 0) APMPBMessageSetString(bundle, APMPBMeasurementBundle::kMonitoringData, std::string(padding, 'm'));
        return bundle;
    }
    void queue(const std::shared_ptr<APMPBMeasurementBundle>& bundle) {
        onWorker([&] { ASSERT_TRUE(context->database_->insertBundle(bundle, false, nullptr)); });
    }
    double nextUploadingTime() {
        double time = 0;
        onWorker([&] { time = uploader->nextUploadingTime(); });
        return time;
    }
    void updateSchedule() {
        onWorker([&] { uploader->updateSchedule(); });
    }
    void uploadData() {
        onWorker([&] { uploader->uploadData(); });
        settle();
    }
    void fetchConfig() {
        onWorker([&] { uploader->fetchRemoteConfig(); });
        settle();
    }
    void advanceToTimer() {
        const double at = scheduledTime();
        ASSERT_GT(at, 0) << "no upload is scheduled";
        advance(at - Clock::now());
    }
    APMPersistedConfig& persisted() { return *context->persistedConfig_; }
    std::int64_t configVersion() { return context->remoteConfig_->version(); }
    std::int64_t storedConfigVersion() {
        std::int64_t version = -1;
        onWorker([&] {
            if (auto stored = context->database_->queryMeasurementConfigWithError(nullptr)) {
                version = APMPBMessageGetInt64(stored, APMPBMeasurementConfig::kVersion);
            }
        });
        return version;
    }
    void executeSQL(const std::string& sql) {
        onWorker([&] { ASSERT_TRUE(context->database_->sqliteStore()->executeSQL(sql, nullptr)); });
    }
};

TEST_F(APMUploaderTest, SchedulesFromNewestDataLastSuccessAndFailures) {
    VerboseLogCapture capture;
    // Nothing stored: nothing is due.
    EXPECT_EQ(nextUploadingTime(), 0);
    updateSchedule();
    EXPECT_EQ(scheduledTime(), 0);
    EXPECT_TRUE(capture.contains("[I-ACS023024] No data to upload. Upload task will not be scheduled"));

    // The first upload comes the initial delay after the newest data.
    writeRawEvents({event("level_up", kNow)});
    EXPECT_DOUBLE_EQ(nextUploadingTime(), kNow + 15);
    updateSchedule();
    EXPECT_DOUBLE_EQ(scheduledTime(), kNow + 15);

    // Data stamped in the future counts as that far in the past.
    writeRawEvents({event("level_up", kNow + 10)});
    EXPECT_DOUBLE_EQ(nextUploadingTime(), kNow - 10 + 15);

    // A success within the interval sets the pace, whatever the data's age.
    persisted().setLastSuccessfulUploadTimestamp(kNow - 100);
    EXPECT_DOUBLE_EQ(nextUploadingTime(), kNow - 100 + 3600);
    // Real-time data shortens the interval to 10 s; a success longer ago falls back to the delay.
    auto realtime = event("level_up", kNow - 30);
    realtime->setRealtime(true);
    writeRawEvents({realtime});
    persisted().setLastSuccessfulUploadTimestamp(kNow - 5);
    EXPECT_DOUBLE_EQ(nextUploadingTime(), kNow - 5 + 10);
    persisted().setLastSuccessfulUploadTimestamp(kNow - 100);
    EXPECT_DOUBLE_EQ(nextUploadingTime(), kNow - 10 + 15);

    // A failure after the newest data: the retry ladder R·2^k, the first step past the failure.
    persisted().setLastSuccessfulUploadTimestamp(0);
    const double base = kNow - 10;
    persisted().setLastFailedUploadTimestamp(kNow);
    EXPECT_DOUBLE_EQ(nextUploadingTime(), base + 15 + 1800);
    persisted().setLastFailedUploadTimestamp(base + 15 + 1800);
    EXPECT_DOUBLE_EQ(nextUploadingTime(), base + 15 + 1800 + 3600);
    persisted().setLastFailedUploadTimestamp(base + 15 + 1800 * 31);
    EXPECT_DOUBLE_EQ(nextUploadingTime(), base + 15 + 1800 * 63);
    // Past the last step nothing is due until new data arrives.
    persisted().setLastFailedUploadTimestamp(base + 15 + 1800 * 63);
    EXPECT_EQ(nextUploadingTime(), 0);
    capture.clear();
    updateSchedule();
    EXPECT_TRUE(capture.contains("[I-ACS023025] No next uploading time. Upload task will not be scheduled"));
    EXPECT_EQ(scheduledTime(), 0);
    EXPECT_GE(context->terminations.load(), 1);

    // A busy answer holds every upload back for the back-off period.
    persisted().setLastFailedUploadTimestamp(0);
    persisted().setLastBackoffTimestamp(kNow - 100);
    updateSchedule();
    EXPECT_DOUBLE_EQ(scheduledTime(), kNow - 100 + 43200);
    // An earlier time replaces the armed timer; a later one keeps it.
    persisted().setLastBackoffTimestamp(0);
    updateSchedule();
    EXPECT_DOUBLE_EQ(scheduledTime(), base + 15);
    persisted().setLastSuccessfulUploadTimestamp(kNow - 1);
    EXPECT_DOUBLE_EQ(nextUploadingTime(), kNow - 1 + 10);
    capture.clear();
    updateSchedule();
    EXPECT_DOUBLE_EQ(scheduledTime(), base + 15);
    EXPECT_TRUE(capture.contains("[I-ACS023027] Do not schedule an upload task. Task already exists."));

    // Without a network nothing is armed until reachability comes back.
    SCNetworkReachability::setNetworkReachable(false);
    capture.clear();
    updateSchedule();
    EXPECT_EQ(scheduledTime(), 0);
    EXPECT_TRUE(capture.contains("[I-ACS023026] No network. Upload task will not be scheduled"));
    SCNetworkReachability::setNetworkReachable(true);
    Clock::advance(0);
    onWorker([] {});
    EXPECT_DOUBLE_EQ(scheduledTime(), kNow - 1 + 10);

    // Debug mode: never later than a second after the newest data while nothing failed.
    persisted().setLastSuccessfulUploadTimestamp(kNow - 100);
    APMMeasurementMonitor()->setDebugModeEnabled(true);
    EXPECT_DOUBLE_EQ(nextUploadingTime(), base + 1);
}

TEST_F(APMUploaderTest, TimerUploadsAfterFetchingTheConfigurationAndBundling) {
    service.setConfiguration(kTestAppID, makeMeasurementConfig({{"measurement.upload.interval", "7200000"}}, 3));
    writeRawEvents({event("level_up", kNow - 1, {{"level", Value(1)}}), event("level_up", kNow, {{"level", Value(2)}})});
    updateSchedule();
    EXPECT_DOUBLE_EQ(scheduledTime(), kNow + 15);
    advance(15);
    // A fresh installation fetches its configuration first, then bundles and uploads.
    ASSERT_EQ(service.configFetches().size(), 1u);
    const auto fetch = service.configFetches()[0];
    EXPECT_EQ(fetch.appID, kTestAppID);
    EXPECT_EQ(fetch.query.get("platform"), Value("ios"));
    EXPECT_EQ(fetch.query.get("vuv_version"), Value("90000"));
    EXPECT_EQ(fetch.query.get("runtime_version"), Value("0"));
    EXPECT_EQ(fetch.query.get("app_instance_id"), Value(context->identity_->appInstanceID().value_or("?")));
    EXPECT_EQ(configVersion(), 3);
    ASSERT_EQ(service.uploads().size(), 1u);
    EXPECT_EQ(service.events().size(), 2u);
    auto bundles = bundlesOf(service.uploads()[0]);
    ASSERT_EQ(bundles.size(), 1u);
    EXPECT_EQ(APMPBMessageGetInt64(bundles[0], APMPBMeasurementBundle::kUploadTimestampMillis),
              static_cast<std::int64_t>((kNow + 15) * 1000));
    EXPECT_EQ(APMPBMessageGetInt64(bundles[0], APMPBMeasurementBundle::kConfigVersion), 3);
    EXPECT_DOUBLE_EQ(persisted().lastSuccessfulUploadTimestamp(), kNow + 15);
    EXPECT_EQ(persisted().lastFailedUploadTimestamp(), 0);
    EXPECT_TRUE(queuedBundles().empty());
    // Nothing left: no timer.
    EXPECT_EQ(scheduledTime(), 0);

    // The configuration's interval now paces uploads after a success.
    writeRawEvents({event("level_up", kNow + 20)});
    updateSchedule();
    EXPECT_DOUBLE_EQ(scheduledTime(), kNow + 15 + 7200);
}

TEST_F(APMUploaderTest, BatchesKeepToTheCountAndSizeLimits) {
    applyConfig(makeMeasurementConfig({}));
    for (int i = 0; i < 150; ++i) queue(queuedBundle(kNow - 1000 + i));
    uploadData();
    // Oldest first, at most 100, and the rest at once after the success.
    auto uploads = service.uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].batch.bundles, 100u);
    EXPECT_EQ(uploads[1].batch.bundles, 50u);
    EXPECT_EQ(uploads[0].batch.events.front().timestampMillis, static_cast<std::int64_t>((kNow - 1000) * 1000));
    EXPECT_EQ(service.events().size(), 150u);
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);

    // 30 KiB bundles: two fit within 64 KiB, the third goes alone; one larger than the limit
    // still goes, alone.
    service.clearReceived();
    for (int i = 0; i < 3; ++i) queue(queuedBundle(kNow - 100 + i, kTestAppID, 30 * 1024));
    queue(queuedBundle(kNow - 50, kTestAppID, 100 * 1024));
    uploadData();
    uploads = service.uploads();
    ASSERT_EQ(uploads.size(), 3u);
    EXPECT_EQ(uploads[0].batch.bundles, 2u);
    EXPECT_EQ(uploads[1].batch.bundles, 1u);
    EXPECT_EQ(uploads[2].batch.bundles, 1u);
    EXPECT_GT(uploads[2].size, 100u * 1024);
    EXPECT_TRUE(queuedBundles().empty());

    // A queue led by a whole batch of rows that cannot be read: they are deleted, and the
    // bundle behind them goes.
    LogCapture capture;
    service.clearReceived();
    executeSQL("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100) "
               "INSERT INTO queue (data, bundle_end_timestamp) SELECT x'ffff', " + std::to_string(kNow) + " FROM n");
    queue(queuedBundle(kNow - 1));
    uploadData();
    ASSERT_EQ(service.uploads().size(), 1u);
    EXPECT_EQ(service.uploads()[0].batch.bundles, 1u);
    EXPECT_TRUE(capture.contains("[I-ACS023305] Deleting queued bundles that cannot be read. Count: 100"));
    bool empty = false;
    onWorker([&] { empty = context->database_->isQueuedBundleTableEmpty(nullptr).value_or(false); });
    EXPECT_TRUE(empty);
}

TEST_F(APMUploaderTest, ABatchHoldsOneAppAndOneDeviceAndNothingWithoutAnAppID) {
    VerboseLogCapture capture;
    applyConfig(makeMeasurementConfig({}));
    // A bundle that names no app leads the queue: it is deleted, never sent and never stalls it.
    queue(queuedBundle(kNow - 12, ""));
    // Bundles of an app the ads library alone started name it by its ZeViv App ID only: they go
    // together, and a bundle that names no app among them is deleted, not sent with them.
    auto zeviv = [&](double end) {
        auto bundle = queuedBundle(end, "");
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kZevivAppId, "ca-app-pub-1~2");
        return bundle;
    };
    queue(zeviv(kNow - 11.5));
    queue(queuedBundle(kNow - 11, ""));
    queue(zeviv(kNow - 10.5));
    queue(queuedBundle(kNow - 9, "1:other:ios:1"));
    queue(queuedBundle(kNow - 8, "1:other:ios:1"));
    queue(queuedBundle(kNow - 7));
    auto vendorA = queuedBundle(kNow - 6);
    APMPBMessageSetString(vendorA, APMPBMeasurementBundle::kVendorDeviceId, "A");
    queue(vendorA);
    auto vendorB = queuedBundle(kNow - 5);
    APMPBMessageSetString(vendorB, APMPBMeasurementBundle::kVendorDeviceId, "B");
    queue(vendorB);
    uploadData();
    auto uploads = service.uploads();
    EXPECT_TRUE(capture.contains("[I-ACS023303] Deleting queued bundles without a Vizudi or ZeViv App ID. Count: 2"));
    ASSERT_EQ(uploads.size(), 5u);
    // The ads library's app first, without a Vizudi App ID.
    EXPECT_EQ(uploads[0].batch.appID, "");
    ASSERT_EQ(bundlesOf(uploads[0]).size(), 2u);
    for (const auto& bundle : bundlesOf(uploads[0])) {
        EXPECT_EQ(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kZevivAppId), "ca-app-pub-1~2");
    }
    // The other app's two bundles go together and end at the first bundle of this app.
    EXPECT_EQ(uploads[1].batch.appID, "1:other:ios:1");
    EXPECT_EQ(uploads[1].batch.bundles, 2u);
    // Bundles stored without a device id take this device's; one stored with another device's
    // id ends the batch, and so does the next device after it.
    const std::string deviceVendorID = *context->identity_->identifierForVendor();
    const std::vector<std::string> vendors = {deviceVendorID, "A", "B"};
    for (std::size_t i = 2; i < uploads.size(); ++i) {
        EXPECT_EQ(uploads[i].batch.appID, kTestAppID);
        auto bundles = bundlesOf(uploads[i]);
        ASSERT_EQ(bundles.size(), 1u);
        EXPECT_EQ(APMPBMessageGetString(bundles[0], APMPBMeasurementBundle::kVendorDeviceId), vendors[i - 2]);
    }
    EXPECT_EQ(service.events().size(), 7u);
    EXPECT_TRUE(queuedBundles().empty());
}

TEST_F(APMUploaderTest, BundlesCarryIdentityConsentAndDataControls) {
    applyConfig(makeMeasurementConfig({}));
    // With the advertising identifier allowed it replaces the vendor id.
    context->support_->advertising = true;
    Clock::advance(2);
    queue(queuedBundle(Clock::now()));
    uploadData();
    ASSERT_EQ(service.uploads().size(), 1u);
    auto bundle = bundlesOf(service.uploads()[0]).at(0);
    EXPECT_EQ(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kResettableDeviceId),
              "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_FALSE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kVendorDeviceId));
    EXPECT_EQ(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kAppInstanceId),
              context->identity_->appInstanceID());
    EXPECT_TRUE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kLimitedAdTracking));
    EXPECT_FALSE(APMPBMessageGetBool(bundle, APMPBMeasurementBundle::kLimitedAdTracking));
    EXPECT_EQ(APMPBMessageGetInt32(bundle, APMPBMeasurementBundle::kTrackingAuthorizationStatus), 3);
    EXPECT_EQ(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kConsentSignals), "G1--");
    EXPECT_EQ(APMPBMessageGetInt64(bundle, APMPBMeasurementBundle::kUploadLibraryVersion), 90000);
    EXPECT_EQ(APMPBMessageGetInt64(bundle, APMPBMeasurementBundle::kUploadTimestampMillis),
              static_cast<std::int64_t>(Clock::now() * 1000));
    EXPECT_EQ(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kOsVersion), "17.1");
    EXPECT_FALSE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kChecksum));
    EXPECT_TRUE(APMPBMessageGetArray(bundle, APMPBMeasurementBundle::kRedactedFields)->empty());

    // Ad storage denied, analytics storage granted: no advertising id, the other ids stay.
    APMConsentSettingsUtil::setConsentSettings(
        Value::Dictionary{{"ad_storage", Value("denied")}, {"analytics_storage", Value("granted")}});
    queue(queuedBundle(Clock::now()));
    uploadData();
    ASSERT_EQ(service.uploads().size(), 2u);
    bundle = bundlesOf(service.uploads()[1]).at(0);
    EXPECT_EQ(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kConsentSignals), "G101");
    EXPECT_FALSE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kResettableDeviceId));
    EXPECT_EQ(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kVendorDeviceId),
              context->identity_->identifierForVendor());
    EXPECT_TRUE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kAppInstanceId));
    // Analytics storage denied too: no device or instance id at all.
    APMConsentSettingsUtil::setConsentSettings(
        Value::Dictionary{{"ad_storage", Value("denied")}, {"analytics_storage", Value("denied")}});
    queue(queuedBundle(Clock::now()));
    uploadData();
    ASSERT_EQ(service.uploads().size(), 3u);
    bundle = bundlesOf(service.uploads()[2]).at(0);
    EXPECT_EQ(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kConsentSignals), "G100");
    EXPECT_FALSE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kResettableDeviceId));
    EXPECT_FALSE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kVendorDeviceId));
    EXPECT_FALSE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kAppInstanceId));
    APMConsentSettingsUtil::setConsentSettings(std::nullopt);

    // The configuration's data controls withhold fields and are listed; the checksum covers the rest.
    auto config = makeMeasurementConfig({{"measurement.quality.checksum", "1"}}, 2);
    Value::Array controls;
    for (const char* name : {"device_info", "app_instance_id", "user_id"}) {
        auto control = APMPBDataControl::make();
        APMPBMessageSetString(control, APMPBDataControl::kName, name);
        controls.push_back(Value(control));
    }
    APMPBMessageSetArray(config, APMPBMeasurementConfig::kDataControls, controls);
    applyConfig(config);
    auto withUser = queuedBundle(Clock::now());
    Value::Array attributes;
    for (const char* name : {"_id", "favourite"}) {
        auto attribute = APMPBUserAttribute::make();
        APMPBMessageSetString(attribute, APMPBUserAttribute::kName, name);
        APMPBMessageSetString(attribute, APMPBUserAttribute::kStringValue, "x");
        attributes.push_back(Value(attribute));
    }
    APMPBMessageSetArray(withUser, APMPBMeasurementBundle::kUserAttributes, attributes);
    queue(withUser);
    uploadData();
    ASSERT_EQ(service.uploads().size(), 4u);
    bundle = bundlesOf(service.uploads()[3]).at(0);
    EXPECT_FALSE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kOsVersion));
    EXPECT_FALSE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kDeviceModel));
    EXPECT_FALSE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kAppInstanceId));
    EXPECT_EQ(APMPBMessageGetString(bundle, APMPBMeasurementBundle::kEphemeralAppInstanceId),
              context->identity_->ephemeralAppInstanceID());
    const auto sent = APMPBMessageGetArray<APMPBUserAttribute>(bundle, APMPBMeasurementBundle::kUserAttributes).value();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(APMPBMessageGetString(sent[0].objectAs<APMPBUserAttribute>(), APMPBUserAttribute::kName), "favourite");
    EXPECT_EQ(APMPBMessageGetArray(bundle, APMPBMeasurementBundle::kRedactedFields),
              (Value::Array{Value("device_info"), Value("app_instance_id"), Value("user_id")}));
    ASSERT_TRUE(APMPBMessageHasField(bundle, APMPBMeasurementBundle::kChecksum));
    const std::int64_t checksum = APMPBMessageGetInt64(bundle, APMPBMeasurementBundle::kChecksum);
    APMPBMessageClearField(bundle, APMPBMeasurementBundle::kChecksum);
    EXPECT_EQ(checksum, apm_64LSBMD5(*bundle->protoBuffer()));
}

TEST_F(APMUploaderTest, EveryEventIsDeliveredOnceThroughFailuresTimeOutsAndResets) {
    service.setConfiguration(kTestAppID, makeMeasurementConfig({}));
    std::vector<std::shared_ptr<APMEvent>> events;
    for (int i = 0; i < 20; ++i) events.push_back(event("level_up", kNow - 20 + i, {{"n", Value(i)}}));
    writeRawEvents(events);
    updateSchedule();
    const double first = kNow - 1 + 15;
    EXPECT_DOUBLE_EQ(scheduledTime(), first);

    auto reply = [&](int status, bool reset = false, bool stall = false) {
        MeasurementService::Reply scripted;
        if (status != 0) scripted.fault.status = status;
        if (reset) scripted.fault.resetAfter = 0;
        if (stall) scripted.fault.stallAfter = 0;
        service.enqueueReply(MeasurementService::Route::Upload, scripted);
    };
    // A server error: the first retry step.
    reply(500);
    advanceToTimer();
    ASSERT_EQ(service.uploads().size(), 1u);
    EXPECT_EQ(service.uploads()[0].status, 500);
    EXPECT_DOUBLE_EQ(persisted().lastFailedUploadTimestamp(), first);
    EXPECT_DOUBLE_EQ(scheduledTime(), first + 1800);
    // Unavailable: twelve hours of back-off, longer than the next retry step.
    reply(503);
    advanceToTimer();
    EXPECT_DOUBLE_EQ(persisted().lastBackoffTimestamp(), first + 1800);
    EXPECT_DOUBLE_EQ(scheduledTime(), first + 1800 + 43200);
    // More events meanwhile; they wait for the back-off too.
    std::vector<std::shared_ptr<APMEvent>> later;
    for (int i = 0; i < 5; ++i) later.push_back(event("level_up", Clock::now() + i, {{"n", Value(100 + i)}}));
    writeRawEvents(later);
    updateSchedule();
    EXPECT_DOUBLE_EQ(scheduledTime(), first + 1800 + 43200);
    // A connection reset after the status line, then an answer that never comes until the
    // request times out on the clock, then too many requests.
    reply(0, true);
    advanceToTimer();
    reply(0, false, true);
    Clock::advance(scheduledTime() - Clock::now());
    ASSERT_TRUE(service.waitForStalls());
    // Once its head has been read nothing more comes, and a minute of the clock without progress
    // ends it. Read as the clock moves, the head would count as progress: the clock moves once
    // the head's last line is in, not its status line.
    ASSERT_TRUE(settleWithNetworkUntilHandedOn([&] { return context->network_->receivedStatusCode() == 200; }));
    Clock::advance(context->network_->timeoutInterval());
    settle();
    ASSERT_FALSE(context->isNetworkRequestPending());
    service.releaseStalls();
    reply(429);
    advanceToTimer();
    const double busy = Clock::now();
    EXPECT_DOUBLE_EQ(persisted().lastBackoffTimestamp(), busy);
    // The retry ladder is used up: nothing is due until new data arrives, and then only after
    // the back-off.
    EXPECT_EQ(scheduledTime(), 0);
    writeRawEvents({event("level_up", busy, {{"n", Value(200)}})});
    updateSchedule();
    EXPECT_DOUBLE_EQ(scheduledTime(), busy + 43200);
    advanceToTimer();

    const auto uploads = service.uploads();
    std::vector<int> statuses;
    for (const auto& upload : uploads) statuses.push_back(upload.status);
    ASSERT_EQ(statuses, (std::vector<int>{500, 503, 200, 200, 429, 204, 204}));
    EXPECT_EQ(service.events().size(), 26u);
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);
    for (const auto& [key, count] : service.eventCounts()) EXPECT_EQ(count, 1) << key;
    // The first bundle says how often it was tried before.
    auto delivered = bundlesOf(uploads[5]);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(APMPBMessageGetInt32(delivered[0], APMPBMeasurementBundle::kRetryCount), 5);
    EXPECT_TRUE(queuedBundles().empty());
    EXPECT_EQ(persisted().lastBackoffTimestamp(), 0);
}

TEST_F(APMUploaderTest, AFailedDeleteSuspendsUploadsAndNothingIsSentTwice) {
    VerboseLogCapture capture;
    applyConfig(makeMeasurementConfig({}));
    writeRawEvents({event("level_up", kNow - 2), event("level_up", kNow - 1)});
    executeSQL("CREATE TRIGGER keep_queue BEFORE DELETE ON queue BEGIN SELECT RAISE(ABORT, 'kept'); END");
    uploadData();
    ASSERT_EQ(service.uploads().size(), 1u);
    EXPECT_TRUE(capture.contains(
        "[I-ACS023045] Unable to delete uploaded bundles. Uploads will be suspended for seconds: 3600"));
    bool suspended = false;
    onWorker([&] { suspended = uploader->isUploadSuspended(); });
    EXPECT_TRUE(suspended);
    EXPECT_EQ(scheduledTime(), 0);

    // For an hour of uptime nothing is scheduled or sent, whatever arrives.
    writeRawEvents({event("level_up", kNow)});
    updateSchedule();
    EXPECT_TRUE(capture.contains("[I-ACS023023] Upload has been suspended. Will update scheduling later."));
    EXPECT_EQ(scheduledTime(), 0);
    Clock::advance(3599);
    uploadData();
    EXPECT_EQ(service.uploads().size(), 1u);

    // Then uploads resume, without the bundle the service already has.
    Clock::advance(2);
    updateSchedule();
    settle();
    ASSERT_EQ(service.uploads().size(), 2u);
    EXPECT_EQ(service.events().size(), 3u);
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);

    // Once the database deletes again, the delivered bundles go without being sent.
    executeSQL("DROP TRIGGER keep_queue");
    Clock::advance(3601);
    updateSchedule();
    settle();
    EXPECT_EQ(service.uploads().size(), 2u);
    EXPECT_TRUE(queuedBundles().empty());
}

TEST_F(APMUploaderTest, AnUnreadableBootTimeSendsNothingTwice) {
    applyConfig(makeMeasurementConfig({}));
    writeRawEvents({event("level_up", kNow - 2), event("level_up", kNow - 1)});
    executeSQL("CREATE TRIGGER keep_queue BEFORE DELETE ON queue BEGIN SELECT RAISE(ABORT, 'kept'); END");
    Clock::setUptimeUnreadable(true);
    uploadData();
    ASSERT_EQ(service.uploads().size(), 1u);

    // The suspension holds while its length cannot be measured.
    writeRawEvents({event("level_up", kNow)});
    Clock::advance(7200);
    updateSchedule();
    settle();
    uploadData();
    EXPECT_EQ(service.uploads().size(), 1u);

    // Once it can, uploads resume without the bundle the service already has.
    Clock::setUptimeUnreadable(false);
    updateSchedule();
    settle();
    ASSERT_EQ(service.uploads().size(), 2u);
    EXPECT_EQ(service.events().size(), 3u);
    EXPECT_TRUE(service.duplicates().empty()) << duplicatesReport(service);
}

TEST_F(APMUploaderTest, ConfigurationFetchAnswers) {
    VerboseLogCapture capture;
    const std::time_t modified = static_cast<std::time_t>(kNow) - 86400;
    service.setConfiguration(kTestAppID, makeMeasurementConfig({{"measurement.upload.interval", "7200000"}}, 5),
                             modified);
    persisted().setLastFailedUploadTimestamp(kNow - 10);
    persisted().setLastBackoffTimestamp(kNow - 10);
    const auto lastFetch = [&] {
        double time = 0;
        onWorker([&] { time = context->remoteConfig_->lastRemoteConfigUpdateTimestamp(); });
        return time;
    };
    const auto expired = [&] {
        bool result = true;
        onWorker([&] { result = context->remoteConfig_->isExpired(); });
        return result;
    };
    EXPECT_TRUE(expired());

    // 200: applied and stored, with its validators; the failure marks are cleared.
    fetchConfig();
    ASSERT_EQ(service.configFetches().size(), 1u);
    EXPECT_EQ(service.configFetches()[0].ifNoneMatch, "");
    EXPECT_EQ(configVersion(), 5);
    EXPECT_EQ(storedConfigVersion(), 5);
    EXPECT_EQ(context->remoteConfig_->uploadingInterval(), 7200);
    const std::string etag = service.etag(kTestAppID);
    EXPECT_EQ(persisted().configServerETag(), etag);
    EXPECT_EQ(persisted().configServerLastModifiedString(), Value(MeasurementService::httpDate(modified)));
    EXPECT_EQ(persisted().lastFailedUploadTimestamp(), 0);
    EXPECT_EQ(persisted().lastBackoffTimestamp(), 0);
    EXPECT_FALSE(expired());

    // 304: asked conditionally; the configuration and its validators stay, the fetch counts.
    Clock::advance(10);
    fetchConfig();
    ASSERT_EQ(service.configFetches().size(), 2u);
    EXPECT_EQ(service.configFetches()[1].ifNoneMatch, etag);
    EXPECT_EQ(service.configFetches()[1].ifModifiedSince, MeasurementService::httpDate(modified));
    EXPECT_EQ(service.configFetches()[1].status, 304);
    EXPECT_DOUBLE_EQ(lastFetch(), kNow + 10);
    EXPECT_EQ(configVersion(), 5);
    // A 304 without validators keeps the stored ones.
    MeasurementService::Reply answer;
    answer.fault.status = 304;
    service.enqueueReply(MeasurementService::Route::ConfigFetch, answer);
    fetchConfig();
    EXPECT_EQ(persisted().configServerETag(), etag);
    EXPECT_EQ(persisted().configServerLastModifiedString(), Value(MeasurementService::httpDate(modified)));

    // 204 without a body: only the fetch time and the validators (none) change.
    Clock::advance(10);
    answer.fault.status = 204;
    service.enqueueReply(MeasurementService::Route::ConfigFetch, answer);
    fetchConfig();
    EXPECT_EQ(configVersion(), 5);
    EXPECT_EQ(persisted().configServerETag(), std::nullopt);
    EXPECT_TRUE(persisted().configServerLastModifiedString().isNull());
    EXPECT_DOUBLE_EQ(lastFetch(), kNow + 20);

    // 404: the stored configuration stays in force, and the fetch is a success.
    service.removeConfiguration(kTestAppID);
    persisted().setLastFailedUploadTimestamp(kNow);
    fetchConfig();
    EXPECT_EQ(service.configFetches().back().status, 404);
    EXPECT_TRUE(capture.contains("[I-ACS023130] Configuration not found. Using default configuration"));
    EXPECT_EQ(configVersion(), 5);
    EXPECT_EQ(persisted().lastFailedUploadTimestamp(), 0);

    // Failures: any other status marks a failure; 429 and 503 also start the back-off.
    for (int status : {500, 429, 503}) {
        Clock::advance(1);
        persisted().setLastBackoffTimestamp(0);
        answer.fault.status = status;
        service.enqueueReply(MeasurementService::Route::ConfigFetch, answer);
        fetchConfig();
        EXPECT_DOUBLE_EQ(persisted().lastFailedUploadTimestamp(), Clock::now()) << status;
        EXPECT_DOUBLE_EQ(persisted().lastBackoffTimestamp(), status == 500 ? 0 : Clock::now()) << status;
    }
    EXPECT_DOUBLE_EQ(lastFetch(), kNow + 20);

    // A database that cannot record the fetch suspends uploads.
    executeSQL("CREATE TRIGGER keep_time BEFORE UPDATE OF remote_config_timestamp ON app_metadata "
               "BEGIN SELECT RAISE(ABORT, 'kept'); END");
    fetchConfig();
    EXPECT_TRUE(capture.contains("[I-ACS023132] Failed to update config last set timestamp."));
    bool suspended = false;
    onWorker([&] { suspended = uploader->isUploadSuspended(); });
    EXPECT_TRUE(suspended);
}

TEST_F(APMUploaderTest, HostileConfigurationsAreRefusedAndTheLastGoodOneKept) {
    // What a person sees at the default level.
    LogCapture capture(VULLoggerLevelNotice);
    auto good = makeMeasurementConfig({{"measurement.upload.max_bundles", "50"}}, 5);
    service.setConfiguration(kTestAppID, good);
    fetchConfig();
    ASSERT_EQ(configVersion(), 5);

    const NSData bytes = *good->protoBuffer();
    const std::string encoded(bytes.begin(), bytes.end());
    const std::string otherApp = [] {
        const NSData other = *makeMeasurementConfig({}, 9, "1:999:ios:other")->protoBuffer();
        return std::string(other.begin(), other.end());
    }();
    // Each refusal says why at the default level, beside the failed transaction.
    const std::string because = "[I-ACS023311] Configuration from the server was not applied. Reason: ";
    const std::vector<std::tuple<const char*, std::string, std::string>> hostile = {
        {"truncated", encoded.substr(0, encoded.size() - 3),
         "Its " + std::to_string(encoded.size() - 3) + " bytes do not decode as a measurement configuration"},
        {"app id of the wrong type", std::string("\x08\x07\x10\x05", 4),
         "Its 4 bytes do not decode as a measurement configuration"},
        {"another app", otherApp,
         std::string("Its app id (field 1) is \"1:999:ios:other\", not this app's \"") + kTestAppID + "\""},
    };
    for (const auto& [what, body, reason] : hostile) {
        Clock::advance(1);
        service.setConfigurationBody(kTestAppID, body);
        fetchConfig();
        EXPECT_TRUE(capture.contains(because + reason)) << what;
        EXPECT_EQ(service.configFetches().back().status, 200) << what;
        EXPECT_EQ(configVersion(), 5) << what;
        EXPECT_EQ(storedConfigVersion(), 5) << what;
        EXPECT_EQ(context->remoteConfig_->uploadMaxBundlesLimit(), 50) << what;
        // The fetch itself counts: the next waits for the cache time.
        EXPECT_EQ(persisted().lastFailedUploadTimestamp(), 0) << what;
    }
    // Longer than a configuration may be: refused as it arrives, never held whole. That is a
    // failed fetch, and the last good configuration stays.
    Clock::advance(1);
    service.setConfigurationBody(kTestAppID, std::string(APMRemoteConfig::kMaxConfigurationSize + 1, '\x0a'));
    fetchConfig();
    EXPECT_EQ(configVersion(), 5);
    EXPECT_EQ(storedConfigVersion(), 5);
    EXPECT_EQ(context->remoteConfig_->uploadMaxBundlesLimit(), 50);
    EXPECT_EQ(persisted().lastFailedUploadTimestamp(), Clock::now());
    EXPECT_TRUE(capture.contains("[I-ACS023128] Network request failed to fetch remote config."));
    EXPECT_TRUE(capture.contains("resource exceeds maximum size"));

    // A database that cannot store it names its own failure.
    executeSQL("CREATE TRIGGER keep_config BEFORE UPDATE OF remote_config_data ON app_metadata "
               "BEGIN SELECT RAISE(ABORT, 'configuration kept'); END");
    Clock::advance(1);
    service.setConfiguration(kTestAppID, makeMeasurementConfig({}, 7));
    fetchConfig();
    EXPECT_EQ(configVersion(), 5);
    const auto stored = capture.matching(because + "The database could not store it: ");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_NE(stored[0].find("configuration kept"), std::string::npos) << stored[0];
    executeSQL("DROP TRIGGER keep_config");

    // Limits out of range are taken with the configuration and read as their defaults.
    service.setConfiguration(kTestAppID, makeMeasurementConfig({{"measurement.upload.max_bundles", "100000000"},
                                                                {"measurement.upload.interval", "-60000"},
                                                                {"measurement.upload.retry_count", "-3"}},
                                                               6));
    fetchConfig();
    EXPECT_EQ(configVersion(), 6);
    EXPECT_EQ(context->remoteConfig_->uploadMaxBundlesLimit(), 100);
    EXPECT_EQ(context->remoteConfig_->uploadingInterval(), 3600);
    EXPECT_EQ(context->remoteConfig_->uploadingRetryCount(), 6);
    EXPECT_TRUE(capture.contains("[I-ACS029021] Configuration value is not a number within its range."));
}

}  // namespace
