// The engine's side of bundling and uploading as the tests give it: a real database in the
// test home, settings in memory, a real identity over a settable advertising service, the
// remote configuration, the worker queue, the "Measurement timer" and a network object aimed
// at the measurement service on 127.0.0.1, with the clock in manual mode.
#pragma once

#include "analytics/core/APMAlarm.h"
#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMScheduler.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/measurement/APMConsentSettingsUtil.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMIdentitySupport.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/measurement/APMUploader.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventConfig.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBatch.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBSetting.h"
#include "analytics/proto/APMPBUserAttribute.h"
#include "demo/measurement/MeasurementService.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/SCNetworkReachability.h"
#include "platform/net/URLTrustAnchors.h"
#include "tests/analytics/core/APMDatabaseTestSupport.h"
#include "tests/analytics/core/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

inline constexpr const char* kTestAppID = "1:1234567890:ios:abcdef";
inline constexpr const char* kTestBundleID = "com.example.gallery";

// Each event the service accepted more than once, with the uploads that carried it, then every
// upload as the service sums it up: what a failed check of duplicates shows, so that it says
// whether a batch came twice or two events were the same.
inline std::string duplicatesReport(const MeasurementService& service) {
    const auto uploads = service.uploads();
    std::string text;
    for (const auto& key : service.duplicates()) {
        text += "accepted more than once: " + key + " in uploads";
        for (std::size_t i = 0; i < uploads.size(); ++i) {
            if (!uploads[i].accepted) continue;
            for (const auto& event : uploads[i].batch.events) {
                if (event.key() == key) text += " " + std::to_string(i + 1);
            }
        }
        text += "\n";
    }
    for (std::size_t i = 0; i < uploads.size(); ++i) text += MeasurementService::summaryLine(i + 1, uploads[i]) + "\n";
    return text;
}

// The device's advertising service as each test sets it; by default there is none.
class SettableIdentitySupport : public APMIdentitySupport {
public:
    bool hasAppDataConsentStatus() override { return true; }
    unsigned long appDataConsentStatus() override { return status.load(); }
    bool hasLimitedAdTracking() override { return advertising.load(); }
    bool limitedAdTracking() override { return false; }
    std::optional<std::string> resettableDeviceID() override {
        if (!advertising.load()) return std::nullopt;
        return std::string("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    }
    std::atomic<unsigned long> status{3};
    std::atomic<bool> advertising{false};
};

class UploadTestContext : public APMUploaderContext {
public:
    std::shared_ptr<APMDatabase> database() override { return database_; }
    std::shared_ptr<APMRemoteConfig> remoteConfig() override { return remoteConfig_; }
    std::shared_ptr<APMPersistedConfig> persistedConfig() override { return persistedConfig_; }
    std::shared_ptr<APMIdentity> identity() override { return identity_; }
    std::shared_ptr<APMMonitor> monitor() override { return APMMeasurementMonitor(); }
    bool setUserPropertyInDatabaseOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& userAttribute) override {
        return database_->updateUserAttribute(userAttribute, nullptr);
    }
    // A copy of what a test set (bundling fills it in); none by default.
    std::shared_ptr<APMPBMeasurementBundle> currentRawEventMetadata() override {
        return currentMetadata_ ? APMPBMeasurementBundle::initWithBuffer(*currentMetadata_->protoBuffer()) : nullptr;
    }
    std::shared_ptr<APMScheduler> scheduler() override { return scheduler_; }
    std::shared_ptr<DIDEderazi> network() override { return network_; }
    std::shared_ptr<APMAlarm> alarm() override { return alarm_; }
    bool isNetworkRequestPending() override {
        std::lock_guard lock(mutex_);
        return pending_;
    }
    void setNetworkRequestPending(bool pending) override {
        std::lock_guard lock(mutex_);
        pending_ = pending;
        changed_.notify_all();
    }
    bool hasBackgroundTask() override { return backgroundTask.load(); }
    void terminateBackgroundTask() override {
        backgroundTask.store(false);
        ++terminations;
    }

    // Waits (real time, bounded) until no request of the engine is in flight.
    [[nodiscard]] bool waitUntilIdle(double seconds = 20) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return !pending_; });
    }

    std::shared_ptr<APMScheduler> scheduler_ = APMScheduler::initWithWorkerQueueLabel("com.vizudi.daro.worker");
    std::shared_ptr<APMPersistedConfig> persistedConfig_ =
        APMPersistedConfig::initWithSuiteName("com.test.upload", std::make_shared<MemoryConfigStore>());
    std::shared_ptr<SettableIdentitySupport> support_ = std::make_shared<SettableIdentitySupport>();
    std::shared_ptr<APMIdentity> identity_;
    std::shared_ptr<APMDatabase> database_;
    std::shared_ptr<APMRemoteConfig> remoteConfig_;
    std::shared_ptr<APMPBMeasurementBundle> currentMetadata_;
    std::shared_ptr<DIDEderazi> network_ = DIDEderazi::initWithReachabilityHost("127.0.0.1");
    std::shared_ptr<APMAlarm> alarm_ = APMAlarm::initWithDispatchQueue(scheduler_->workerQueue(), "Measurement timer");
    std::atomic<bool> backgroundTask{false};
    std::atomic<int> terminations{0};

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool pending_ = false;
};

// A configuration of the test's app with these settings.
inline std::shared_ptr<APMPBMeasurementConfig> makeMeasurementConfig(
    const std::vector<std::pair<std::string, std::string>>& settings, std::int64_t version = 1,
    const std::string& appID = kTestAppID) {
    return MeasurementService::makeConfiguration(appID, settings, version);
}

inline void addEventConfig(const std::shared_ptr<APMPBMeasurementConfig>& config, const std::string& name,
                           bool blocklisted, bool conversion) {
    Value::Array items =
        APMPBMessageGetArray<APMPBEventConfig>(config, APMPBMeasurementConfig::kEventConfig).value_or(Value::Array{});
    auto item = APMPBEventConfig::make();
    APMPBMessageSetString(item, APMPBEventConfig::kName, name);
    if (blocklisted) APMPBMessageSetBool(item, APMPBEventConfig::kBlocklisted, true);
    if (conversion) APMPBMessageSetBool(item, APMPBEventConfig::kCustomConversion, true);
    items.push_back(Value(item));
    APMPBMessageSetArray(config, APMPBMeasurementConfig::kEventConfig, items);
}

// The parts of the engine over a database in the test home, the clock at kNow, and a
// measurement service the network object trusts and reaches as the measurement host.
class UploadTestBase : public testing::Test {
public:
    static constexpr double kNow = 1700000000.0;

    void SetUp() override {
        Clock::setManual(kNow);
        ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", MeasurementService::certificatePEM()));
        ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value(service.host()),
                                                                      APMRemoteConfig::kMeasurementHostDefaultsKey));
        previousVerbose_ = APMMeasurementMonitor()->isVerboseLoggingEnabled();
        static std::atomic<int> counter{0};
        const std::string name = "upload-" + std::to_string(++counter) + ".sql";
        context->identity_ = APMIdentity::initWithPersistedConfig(context->persistedConfig_, context->support_);
        ASSERT_NE(context->identity_, nullptr);
        context->identity_->setAppIDFromVUV(kTestAppID);
        // Read once here, on the main thread, so the worker finds it cached.
        ASSERT_TRUE(context->identity_->identifierForVendor().has_value());
        onWorker([&] {
            context->database_ = APMDatabase::initWithDatabaseName(name, context->persistedConfig_, nullptr);
            if (context->database_) context->remoteConfig_ = APMRemoteConfig::initWithAppID(kTestAppID, context->database_);
        });
        ASSERT_NE(context->database_, nullptr);
        ASSERT_NE(context->remoteConfig_, nullptr);
        uploader = APMUploader::initWithContext(context);
    }

    void TearDown() override {
        if (context->scheduler_) onWorker([&] { context->alarm_->cancel(); });
        context->network_->setReachabilityDelegate({});
        service.releaseStalls();
        EXPECT_TRUE(context->waitUntilIdle());
        onWorker([] {});
        uploader.reset();
        NSUserDefaults::standardUserDefaults()->removeObjectForKey(APMRemoteConfig::kMeasurementHostDefaultsKey);
        URLTrustAnchors::reset();
        SCNetworkReachability::setNetworkReachable(true);
        APMConsentSettingsUtil::setConsentSettings(std::nullopt);
        auto monitor = APMMeasurementMonitor();
        if (monitor->isDebugModeEnabled()) monitor->setDebugModeEnabled(false);
        if (monitor->isVerboseLoggingEnabled() != previousVerbose_) monitor->setVerboseLoggingEnabled(previousVerbose_);
        Clock::setReal();
    }

    // Runs the block on the worker queue's own thread (a synchronous dispatch would run it on
    // this one) and waits for it.
    void onWorker(std::function<void()> block) {
        auto queue = context->scheduler_->workerQueue();
        queue->async(std::move(block));
        queue->sync([] {});
    }

    // Fires what is due, then waits until the requests it started, and those their answers
    // started, have been answered and handled. The flag clears as an answer's handling begins,
    // before what that handling queues (a timer already due, the next upload) has run: only a
    // settle of the clock after it runs all that, so no request is in flight only if none is
    // once the clock has settled.
    void settle() {
        for (int round = 0; round < 1000; ++round) {
            Clock::advance(0);
            if (!context->isNetworkRequestPending()) return;
            ASSERT_TRUE(context->waitUntilIdle()) << "a request of the engine is still in flight";
        }
        FAIL() << "the engine kept sending";
    }
    void advance(double seconds) {
        Clock::advance(seconds);
        settle();
    }

    // Seconds since 1970 of the armed "Measurement timer"; 0 when none is armed.
    double scheduledTime() {
        double time = 0;
        onWorker([&] {
            if (auto scheduled = context->alarm_->scheduledTimestamp()) time = scheduled->timeIntervalSince1970;
        });
        return time;
    }

    // The bundle metadata the write pipeline stores with raw events.
    static std::shared_ptr<APMPBMeasurementBundle> metadata(const std::string& appID = kTestAppID,
                                                            const std::string& osVersion = "17.1") {
        auto bundle = APMPBMeasurementBundle::make();
        APMPBMessageSetInt32(bundle, APMPBMeasurementBundle::kProtocolVersion, 1);
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kPlatform, "ios");
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kOsVersion, osVersion);
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kDeviceModel, "iPhone15,2");
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kAppId, kTestBundleID);
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kVuvAppId, appID);
        return bundle;
    }

    static std::shared_ptr<APMEvent> event(const std::string& name, double timestamp,
                                           const Value::Dictionary& parameters = {}) {
        return APMEvent::initWithOrigin("app", false, name, timestamp, 0, parameters);
    }

    // Stores raw events under one metadata message, as the write pipeline does.
    void writeRawEvents(const std::vector<std::shared_ptr<APMEvent>>& events,
                        const std::shared_ptr<APMPBMeasurementBundle>& bundleMetadata = metadata()) {
        onWorker([&] {
            auto& database = *context->database_;
            const bool committed = database.performTransaction([&] {
                if (!database.insertIfNotExistsRawEventMetadata(bundleMetadata, nullptr)) return false;
                const std::int64_t fingerprint = apm_64LSBMD5(*bundleMetadata->protoBuffer());
                for (const auto& event : events) {
                    if (!event || !database.insertRawEvent(event, fingerprint, event->isRealtime(), nullptr)) return false;
                }
                return true;
            });
            ASSERT_TRUE(committed);
        });
    }

    // Puts a configuration in force as the service would have delivered it.
    void applyConfig(const std::shared_ptr<APMPBMeasurementConfig>& config) {
        onWorker([&] { ASSERT_TRUE(context->remoteConfig_->updateMeasurementConfig(config)); });
    }

    std::vector<APMDatabase::QueuedBundle> queuedBundles() {
        std::vector<APMDatabase::QueuedBundle> bundles;
        onWorker([&] {
            bundles = context->database_->queryBundlesWithCountLimit(100000, INT64_MAX, nullptr).value_or(bundles);
        });
        return bundles;
    }

    // The bundles of an upload as the service received them.
    static std::vector<std::shared_ptr<APMPBMeasurementBundle>> bundlesOf(const MeasurementService::Upload& upload) {
        auto batch = APMPBMeasurementBatch::initWithBuffer(reinterpret_cast<const std::uint8_t*>(upload.body.data()),
                                                           upload.body.size());
        std::vector<std::shared_ptr<APMPBMeasurementBundle>> bundles;
        if (!batch) return bundles;
        for (const Value& item :
             APMPBMessageGetArray<APMPBMeasurementBundle>(batch, APMPBMeasurementBatch::kBundles).value_or(Value::Array{})) {
            bundles.push_back(item.objectAs<APMPBMeasurementBundle>());
        }
        return bundles;
    }

    bool previousVerbose_ = false;
    MeasurementService service;
    std::shared_ptr<UploadTestContext> context = std::make_shared<UploadTestContext>();
    std::shared_ptr<APMUploader> uploader;
};

// Collects the monitor's lines of every level, the verbose ones included.
class VerboseLogCapture : public LogCapture {
public:
    VerboseLogCapture() { APMMeasurementMonitor()->setVerboseLoggingEnabled(true); }
};
