// Measurement database throughput: raw events written one per call as the engine writes
// them, against plain SQLite inserts of the same rows in one transaction on the same file,
// and the choice of one upload batch over 10,000 queued bundles.
#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMValue.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "platform/foundation/Clock.h"

#include "bench/support/MemoryConfigStore.h"
#include "bench/support/TemporaryHomeMain.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

namespace {

std::shared_ptr<APMDatabase> openDatabase(const std::string& name) {
    auto config = APMPersistedConfig::initWithSuiteName("bench", std::make_shared<MemoryConfigStore>());
    return APMDatabase::initWithDatabaseName(name, config, nullptr);
}

std::shared_ptr<APMPBMeasurementBundle> bundleMetadata() {
    auto metadata = APMPBMeasurementBundle::make();
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kAppId, "1:1234567890:ios:abcdef");
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kPlatform, "ios");
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kOsVersion, "17.1");
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kDeviceModel, "iPhone15,2");
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kAppInstanceId, "0123456789abcdef0123456789abcdef");
    return metadata;
}

// A screen view with the usual handful of parameters.
std::shared_ptr<APMEvent> screenView(double timestamp) {
    return APMEvent::initWithOrigin("auto", false, "_vs", timestamp, timestamp - 3,
                                    {{"_sc", Value(APMValue::initWithString("GalleryViewController"))},
                                     {"_sn", Value(APMValue::initWithString("gallery"))},
                                     {"_si", Value(APMValue::initWithInt64(-4377112298001823465LL))},
                                     {"_et", Value(APMValue::initWithInt64(1250))}});
}

void BM_RawEventsOnePerCall(benchmark::State& state) {
    auto database = openDatabase("bench-one-per-call.sql");
    auto metadata = bundleMetadata();
    const std::int64_t fingerprint = apm_64LSBMD5(*metadata->protoBuffer());
    double timestamp = 1700000000;
    for (auto _ : state) {
        // The engine's order for each accepted event: metadata, trim, insert.
        if (!database->insertIfNotExistsRawEventMetadata(metadata, nullptr) ||
            !database->deleteRawEventsOverAbsoluteLimit(nullptr) ||
            !database->insertRawEvent(screenView(timestamp += 1), fingerprint, false, nullptr)) {
            state.SkipWithError("write failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RawEventsOnePerCall)->Unit(benchmark::kMicrosecond)->MinTime(3.0)->UseRealTime();

void BM_RawEventsPlainInsertsOneTransaction(benchmark::State& state) {
    auto database = openDatabase("bench-one-per-call.sql");
    sqlite3* handle = database->sqliteStore()->sqliteHandle();
    auto metadata = bundleMetadata();
    const std::int64_t fingerprint = apm_64LSBMD5(*metadata->protoBuffer());
    auto proto = screenView(1700000000)->protoEvent();
    APMPBMessageClearField(proto, APMPBEvent::kName);
    const NSData data = *proto->protoBuffer();
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(handle,
                       "INSERT INTO raw_events (name, timestamp, metadata_fingerprint, data, is_realtime) "
                       "VALUES (?, ?, ?, ?, ?)",
                       -1, &insert, nullptr);
    const std::int64_t rows = state.range(0);
    double timestamp = 1700000000;
    for (auto _ : state) {
        sqlite3_exec(handle, "BEGIN EXCLUSIVE TRANSACTION", nullptr, nullptr, nullptr);
        for (std::int64_t i = 0; i < rows; ++i) {
            sqlite3_bind_text(insert, 1, "_vs", -1, SQLITE_STATIC);
            sqlite3_bind_double(insert, 2, timestamp += 1);
            sqlite3_bind_int64(insert, 3, fingerprint);
            sqlite3_bind_blob(insert, 4, data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
            sqlite3_bind_int(insert, 5, 0);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_exec(handle, "END TRANSACTION", nullptr, nullptr, nullptr);
    }
    sqlite3_finalize(insert);
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_RawEventsPlainInsertsOneTransaction)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QueueSelectionOver10000Bundles(benchmark::State& state) {
    auto database = openDatabase("bench-queue.sql");
    if (database->queryBundlesWithCountLimit(1, 1, nullptr)->empty()) {
        const bool filled = database->performTransaction([&] {
            for (int i = 0; i < 10000; ++i) {
                auto bundle = bundleMetadata();
                APMPBMessageSetInt64(bundle, APMPBMeasurementBundle::kEndTimestampMillis,
                                     static_cast<std::int64_t>(Clock::now() * 1000));
                Value::Array events;
                for (int e = 0; e < 5; ++e) events.push_back(Value(screenView(Clock::now() + e)->protoEvent()));
                APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kEvents, events);
                if (!database->insertBundle(bundle, false, nullptr)) return false;
            }
            return true;
        });
        if (!filled) {
            state.SkipWithError("filling the queue failed");
            return;
        }
    }
    const std::int64_t countLimit = state.range(0);
    const std::int64_t sizeLimit = state.range(1);
    std::size_t chosen = 0;
    for (auto _ : state) {
        auto bundles = database->queryBundlesWithCountLimit(countLimit, sizeLimit, nullptr);
        chosen = bundles ? bundles->size() : 0;
        benchmark::DoNotOptimize(bundles);
    }
    state.counters["bundles_chosen"] = static_cast<double>(chosen);
}
BENCHMARK(BM_QueueSelectionOver10000Bundles)
    ->Args({100, 1 << 20})
    ->Args({10000, 1 << 20})
    ->Args({10000, 1 << 30})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runInTemporaryHome(argc, argv, {});
}
