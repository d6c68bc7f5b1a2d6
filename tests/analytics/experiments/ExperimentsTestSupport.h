// The experiments as the tests run them: the clock in manual mode, a measurement service on
// 127.0.0.1 that the network trusts, a context naming it, and helpers that build snapshots,
// run the armed fetch and wait for its reply.
#pragma once

#include "analytics/core/APMAlarm.h"
#include "analytics/core/APMConfigStore.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMUserDefaults.h"
#include "analytics/experiments/APMEDatabase.h"
#include "analytics/experiments/APMEExperiment.h"
#include "analytics/experiments/APMEExperimentRequestBuilder.h"
#include "analytics/experiments/APMEFlagConversion.h"
#include "analytics/experiments/APMESnapshot.h"
#include "analytics/experiments/APMETaskManager.h"
#include "analytics/experiments/APMExperimentContext.h"
#include "analytics/proto/APMPBAppProperty.h"
#include "analytics/proto/APMPBExperimentResponse.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBFlag.h"
#include "analytics/proto/APMPBSdkResponse.h"
#include "analytics/proto/APMPBSnapshot.h"
#include "demo/measurement/MeasurementService.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/net/URLTrustAnchors.h"
#include "platform/services/DIDEderazi.h"
#include "tests/fixtures/NetworkSettle.h"
#include "tests/fixtures/SqliteRows.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

inline constexpr const char* kTestSDK = "zev_uzeviroreda";

class TestExperimentContext : public APMExperimentContext {
public:
    explicit TestExperimentContext(std::string host) : host_(std::move(host)) {}
    std::string diversionKey() override {
        std::lock_guard lock(mutex_);
        return diversionKey_;
    }
    bool isFromAppStore() override { return fromAppStore.load(); }
    std::string measurementHost() override {
        std::lock_guard lock(mutex_);
        return host_;
    }
    void setDiversionKey(std::string key) {
        std::lock_guard lock(mutex_);
        diversionKey_ = std::move(key);
    }
    void setHost(std::string host) {
        std::lock_guard lock(mutex_);
        host_ = std::move(host);
    }
    std::atomic<bool> fromAppStore{false};

private:
    std::mutex mutex_;
    std::string host_;
    std::string diversionKey_ = "abcde";
};

// A flag with a value as the service sends it.
inline std::shared_ptr<APMPBFlag> flag(const std::string& name, const Value& value) {
    return APMEFlagWithNameAndValue(name, value);
}

// A snapshot of `sdk` with experiments {id, flags}.
inline std::shared_ptr<APMESnapshot> snapshot(
    const std::string& sdk,
    const std::vector<std::pair<std::int32_t, std::vector<std::shared_ptr<APMPBFlag>>>>& experiments) {
    std::vector<std::shared_ptr<APMEExperiment>> items;
    for (const auto& [id, flags] : experiments) items.push_back(APMEExperiment::initWithExperimentID(id, flags));
    return APMESnapshot::initWithSDKName(sdk, items);
}

// A reply carrying the snapshots at the top level.
inline std::shared_ptr<APMPBExperimentResponse> response(const std::vector<std::shared_ptr<APMESnapshot>>& snapshots) {
    auto message = APMPBExperimentResponse::make();
    Value::Array items;
    for (const auto& item : snapshots) items.push_back(Value(item->proto()));
    APMPBMessageSetArray(message, APMPBExperimentResponse::kSnapshots, items);
    return message;
}

class ExperimentsTest : public testing::Test {
public:
    static constexpr double kNow = 1'700'000'000;

protected:
    void SetUp() override {
        Clock::setManual(kNow);
        ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", MeasurementService::certificatePEM()));
        context = std::make_shared<TestExperimentContext>(service.host());
    }
    void TearDown() override {
        settle();
        service.releaseStalls();
        URLTrustAnchors::reset();
        auto monitor = APMMeasurementMonitor();
        if (monitor->isDebugModeEnabled()) monitor->setDebugModeEnabled(false);
        Clock::setReal();
    }

    // Runs whatever is queued to the end.
    static void settle() { Clock::advance(0); }

    static std::string databasePath() { return APMApplicationSupportPath(APMEDatabase::kFileName); }
    static std::shared_ptr<APMConfigStore> suite() {
        return APMUserDefaults::initWithSuiteName(APMETaskManager::kSuiteName);
    }

    // A task manager as the experiments manager makes it, started at now on the test's files.
    std::shared_ptr<APMETaskManager> makeTaskManager(std::shared_ptr<APMConfigStore> storage = suite()) {
        auto queue = DispatchQueue::create(APMETaskManager::kWorkerQueueLabel, DispatchQueue::Kind::Serial,
                                           DispatchQueue::globalQueue(DispatchQueue::Priority::Background));
        return APMETaskManager::initWithQueue(queue, APMAlarm::initWithDispatchQueue(queue, APMETaskManager::kAlarmName),
                                              DIDEderazi::initWithReachabilityHost("127.0.0.1"), std::move(storage),
                                              databasePath(), Clock::now(), context,
                                              APMEExperimentRequestBuilder::make());
    }

    // When the task manager's fetch is armed; 0 when none is.
    static double armedAt(APMETaskManager& taskManager) {
        double time = 0;
        taskManager.dispatchSyncOnWorkerQueue([&] {
            if (auto armed = taskManager.alarm()->scheduledTimestamp()) time = armed->timeIntervalSince1970;
        });
        return time;
    }

    // Moves the clock to the armed fetch and waits until its reply has been handled; the
    // number of requests the service got by then.
    std::size_t runArmedFetch(APMETaskManager& taskManager) {
        const double at = armedAt(taskManager);
        EXPECT_GT(at, 0) << "no fetch is armed";
        if (at <= 0) return service.experimentFetches().size();
        Clock::advance(std::max(0.0, at - Clock::now()));
        EXPECT_TRUE(settleWithNetworkUntil([&] { return !taskManager.isFetching(); })) << "the reply never came";
        settle();
        return service.experimentFetches().size();
    }

    static double stored(APMConfigStore& storage, const char* key) { return storage.doubleForKey(Value(key)); }

    // Rows of a query on the snapshot database, each column as text.
    static std::vector<std::vector<std::string>> rows(const std::string& sql) {
        return sqliteRows(databasePath(), sql);
    }
    static void execute(const std::string& sql) {
        sqlite3* handle = nullptr;
        ASSERT_EQ(sqlite3_open_v2(databasePath().c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
                  SQLITE_OK);
        char* message = nullptr;
        const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, &message);
        const std::string text = message ? message : "";
        sqlite3_free(message);
        sqlite3_close(handle);
        ASSERT_EQ(rc, SQLITE_OK) << text;
    }

    MeasurementService service;
    std::shared_ptr<TestExperimentContext> context;
};
