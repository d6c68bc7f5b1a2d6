// Shared set-up of the measurement database tests: a database in the test home over an
// in-memory settings store, and builders of events and bundles.
#pragma once

#include "tests/analytics/core/MemoryConfigStore.h"
#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMValue.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "platform/foundation/Clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

class APMDatabaseTestBase : public testing::Test {
public:
    static constexpr double kNow = 1700000000.0;

    void SetUp() override {
        Clock::setManual(kNow);
        static std::atomic<int> counter{0};
        name_ = "measurement-" + std::to_string(++counter) + ".sql";
        config_ = APMPersistedConfig::initWithSuiteName("com.test.database", std::make_shared<MemoryConfigStore>());
        database_ = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
        ASSERT_NE(database_, nullptr);
    }
    void TearDown() override {
        database_.reset();
        APMDatabase::setLimitsProvider(nullptr);
        Clock::setReal();
    }

protected:
    std::string path() const { return APMApplicationSupportPath(name_); }
    APMSqliteStore& store() { return *database_->sqliteStore(); }

public:
    static std::shared_ptr<APMEvent> event(const std::string& name, double timestamp,
                                           const Value::Dictionary& parameters = {}, const std::string& origin = "app") {
        return APMEvent::initWithOrigin(origin, false, name, timestamp, 0, parameters);
    }
    static std::shared_ptr<APMPBMeasurementBundle> metadata(const std::string& platform = "ios") {
        auto bundle = APMPBMeasurementBundle::make();
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kAppId, "1:app");
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kPlatform, platform);
        return bundle;
    }
    // A bundle ending at `endTime` whose encoding is `size` bytes (when size is large enough).
    static std::shared_ptr<APMPBMeasurementBundle> bundle(double endTime, std::size_t size = 0) {
        auto message = APMPBMeasurementBundle::make();
        APMPBMessageSetString(message, APMPBMeasurementBundle::kAppId, "1:app");
        APMPBMessageSetInt64(message, APMPBMeasurementBundle::kEndTimestampMillis,
                             static_cast<std::int64_t>(endTime * 1000));
        if (size == 0) return message;
        std::size_t padding = 0;
        for (int i = 0; i < 4; ++i) {
            APMPBMessageSetString(message, APMPBMeasurementBundle::kPlatform, std::string(padding, 'p'));
            const std::size_t current = message->protoBuffer()->size();
            if (current >= size && (current == size || padding == 0)) break;
            padding = padding + size > current ? padding + size - current : 0;
        }
        return message;
    }
    static std::int64_t fingerprint(const std::shared_ptr<APMPBMeasurementBundle>& message) {
        return apm_64LSBMD5(*message->protoBuffer());
    }

protected:
    std::string name_;
    std::shared_ptr<APMPersistedConfig> config_;
    std::shared_ptr<APMDatabase> database_;
};
