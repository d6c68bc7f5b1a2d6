// Bundling and batch encoding: 10,000 stored raw events turned into queued bundles and then
// into upload batches (stamped, encoded, and the sent bundles deleted, as a successful upload
// does), against encoding the same event messages into bundles and batches alone; the two also
// run in turns in one benchmark, which prints their ratio.
#include "analytics/core/APMDataUtil.h"
#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMFileLocations.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMPersistedConfig.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMValue.h"
#include "analytics/measurement/APMIdentity.h"
#include "analytics/measurement/APMIdentitySupport.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/measurement/APMUploader.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBatch.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "tests/analytics/core/MemoryConfigStore.h"

#include "bench/support/Alternating.h"
#include "bench/support/TemporaryHomeMain.h"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace {

constexpr int kEvents = 10000;
constexpr double kStart = 1700000000;
constexpr const char* kAppID = "1:1234567890:ios:abcdef";

// A device whose advertising identifier may be used, so no vendor id is looked up.
class AdvertisingSupport : public APMIdentitySupport {
public:
    bool hasAppDataConsentStatus() override { return true; }
    unsigned long appDataConsentStatus() override { return 3; }
    bool hasLimitedAdTracking() override { return true; }
    bool limitedAdTracking() override { return false; }
    std::optional<std::string> resettableDeviceID() override { return "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"; }
};

// The engine's parts as bundling and batching use them, all on the calling thread.
class BenchContext : public APMUploaderContext {
public:
    explicit BenchContext(const std::string& databaseName) {
        persisted_ = APMPersistedConfig::initWithSuiteName("bench", std::make_shared<MemoryConfigStore>());
        identity_ = APMIdentity::initWithPersistedConfig(persisted_, std::make_shared<AdvertisingSupport>());
        identity_->setAppIDFromVUV(kAppID);
        database_ = APMDatabase::initWithDatabaseName(databaseName, persisted_, nullptr);
        if (database_) remoteConfig_ = APMRemoteConfig::initWithAppID(kAppID, database_);
    }
    bool ready() const { return database_ && remoteConfig_; }

    std::shared_ptr<APMDatabase> database() override { return database_; }
    std::shared_ptr<APMRemoteConfig> remoteConfig() override { return remoteConfig_; }
    std::shared_ptr<APMPersistedConfig> persistedConfig() override { return persisted_; }
    std::shared_ptr<APMIdentity> identity() override { return identity_; }
    std::shared_ptr<APMMonitor> monitor() override { return APMMeasurementMonitor(); }
    bool setUserPropertyInDatabaseOnWorkerQueue(const std::shared_ptr<APMUserAttribute>& userAttribute) override {
        return database_->updateUserAttribute(userAttribute, nullptr);
    }
    // Every raw event here has its metadata.
    std::shared_ptr<APMPBMeasurementBundle> currentRawEventMetadata() override { return nullptr; }
    std::shared_ptr<APMScheduler> scheduler() override { return nullptr; }
    std::shared_ptr<DIDEderazi> network() override { return nullptr; }
    std::shared_ptr<APMAlarm> alarm() override { return nullptr; }
    bool isNetworkRequestPending() override { return false; }
    void setNetworkRequestPending(bool) override {}
    bool hasBackgroundTask() override { return false; }
    void terminateBackgroundTask() override {}

private:
    std::shared_ptr<APMPersistedConfig> persisted_;
    std::shared_ptr<APMIdentity> identity_;
    std::shared_ptr<APMDatabase> database_;
    std::shared_ptr<APMRemoteConfig> remoteConfig_;
};

std::shared_ptr<APMPBMeasurementBundle> bundleMetadata() {
    auto metadata = APMPBMeasurementBundle::make();
    APMPBMessageSetInt32(metadata, APMPBMeasurementBundle::kProtocolVersion, 1);
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kAppId, "com.example.gallery");
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kVuvAppId, kAppID);
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kPlatform, "ios");
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kOsVersion, "17.1");
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kDeviceModel, "iPhone15,2");
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kUserDefaultLanguage, "en-gb");
    APMPBMessageSetInt32(metadata, APMPBMeasurementBundle::kTimezoneOffsetMinutes, 60);
    APMPBMessageSetString(metadata, APMPBMeasurementBundle::kAppVersion, "2.10");
    return metadata;
}

// A screen view with its engagement time, one a second.
std::shared_ptr<APMEvent> screenView(int index) {
    return APMEvent::initWithOrigin("auto", false, "_vs", kStart + index, 0,
                                    {{"_sc", Value(APMValue::initWithString("GalleryViewController"))},
                                     {"_sn", Value(APMValue::initWithString("gallery"))},
                                     {"_si", Value(APMValue::initWithInt64(-4377112298001823465LL + index))},
                                     {"_et", Value(APMValue::initWithInt64(1250))}});
}

const std::string& templatePath() {
    static const std::string path = APMApplicationSupportPath("bench-bundling-template.sql");
    return path;
}

// The database holding the 10,000 raw events, written once.
bool writeTemplate() {
    if (std::filesystem::exists(templatePath())) return true;
    BenchContext context("bench-bundling-template.sql");
    if (!context.ready()) return false;
    auto metadata = bundleMetadata();
    const std::int64_t fingerprint = apm_64LSBMD5(*metadata->protoBuffer());
    return context.database()->performTransaction([&] {
        if (!context.database()->insertIfNotExistsRawEventMetadata(metadata, nullptr)) return false;
        for (int i = 0; i < kEvents; ++i) {
            if (!context.database()->insertRawEvent(screenView(i), fingerprint, false, nullptr)) return false;
        }
        return true;
    });
}

struct Counts {
    std::size_t bundles = 0;
    std::size_t batches = 0;
    std::size_t bytes = 0;
};

// Bundles the stored events of a fresh copy of the template and hands out every batch; the copy
// and the engine's parts are made and dropped with the timer paused.
template <class Timer>
Counts bundleAndBatch(Timer& timer) {
    const std::string path = APMApplicationSupportPath("bench-bundling.sql");
    timer.pause();
    std::filesystem::copy_file(templatePath(), path, std::filesystem::copy_options::overwrite_existing);
    auto context = std::make_shared<BenchContext>("bench-bundling.sql");
    auto uploader = APMUploader::initWithContext(context);
    timer.resume();
    Counts counts;
    while (uploader->bundler()->bundleRawEvents()) ++counts.bundles;
    while (auto batch = uploader->nextBatch(nullptr)) {
        ++counts.batches;
        counts.bytes += batch->payload.size();
        if (!context->database()->deleteBundlesWithRowIDs(batch->bundleIDs, nullptr)) break;
    }
    timer.pause();
    uploader.reset();
    context.reset();
    timer.resume();
    return counts;
}

// libbenchmark's own timer, paused and resumed the same way.
struct StateTimer {
    benchmark::State& state;
    void pause() { state.PauseTiming(); }
    void resume() { state.ResumeTiming(); }
};

void BM_BundleAndBatch10000StoredEvents(benchmark::State& state) {
    if (!writeTemplate()) {
        state.SkipWithError("writing the raw events failed");
        return;
    }
    StateTimer timer{state};
    Counts counts;
    for (auto _ : state) counts = bundleAndBatch(timer);
    state.SetItemsProcessed(state.iterations() * kEvents);
    state.counters["bundles"] = static_cast<double>(counts.bundles);
    state.counters["batches"] = static_cast<double>(counts.batches);
    state.counters["batch_bytes"] = static_cast<double>(counts.bytes);
}
BENCHMARK(BM_BundleAndBatch10000StoredEvents)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

// The same 10,000 event messages put into bundles of the same metadata and encoded as batches
// of up to 100 bundles, with nothing read or stored.
class EncodeAlone {
public:
    EncodeAlone() {
        events_.reserve(kEvents);
        for (int i = 0; i < kEvents; ++i) events_.push_back(Value(screenView(i)->protoEvent()));
        // As bundling groups them: one clock hour, 1000 events, 64 KiB at most.
        std::size_t first = 0;
        std::size_t size = 0;
        for (std::size_t i = 0; i < events_.size(); ++i) {
            const std::size_t eventSize = events_[i].objectAs<APMPBEvent>()->protoBuffer()->size();
            const bool newHour = static_cast<long long>(kStart + i) / 3600 != static_cast<long long>(kStart + first) / 3600;
            if (i > first && (newHour || i - first >= 1000 || size + eventSize >= 65536)) {
                groups_.emplace_back(first, i);
                first = i;
                size = 0;
            }
            size += eventSize;
        }
        groups_.emplace_back(first, events_.size());
    }

    std::size_t bundles() const { return groups_.size(); }

    Counts encode() const {
        Counts counts;
        counts.bundles = groups_.size();
        Value::Array bundles;
        std::size_t batchSize = 0;
        auto flush = [&] {
            auto batch = APMPBMeasurementBatch::make();
            APMPBMessageSetArray(batch, APMPBMeasurementBatch::kBundles, bundles);
            counts.bytes += batch->protoBuffer()->size();
            ++counts.batches;
            bundles.clear();
            batchSize = 0;
        };
        for (const auto& [begin, end] : groups_) {
            auto bundle = APMPBMeasurementBundle::initWithMessageInfo(metadata_->messageInfo());
            APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kEvents,
                                 Value::Array(events_.begin() + static_cast<std::ptrdiff_t>(begin),
                                              events_.begin() + static_cast<std::ptrdiff_t>(end)));
            // Batches as the queue hands them out: the first bundle always, then up to 100
            // within 64 KiB.
            const std::size_t bundleSize = bundle->protoBuffer()->size();
            if (!bundles.empty() && (bundles.size() == 100 || batchSize + bundleSize > 65536)) flush();
            bundles.push_back(Value(bundle));
            batchSize += bundleSize;
        }
        if (!bundles.empty()) flush();
        return counts;
    }

private:
    std::vector<Value> events_;
    std::shared_ptr<APMPBMeasurementBundle> metadata_ = bundleMetadata();
    std::vector<std::pair<std::size_t, std::size_t>> groups_;
};

void BM_EncodeTheSameMessagesAlone(benchmark::State& state) {
    const EncodeAlone alone;
    Counts counts;
    for (auto _ : state) {
        counts = alone.encode();
        benchmark::DoNotOptimize(counts.bytes);
    }
    state.SetItemsProcessed(state.iterations() * kEvents);
    state.counters["bundles"] = static_cast<double>(counts.bundles);
    state.counters["batches"] = static_cast<double>(counts.batches);
    state.counters["batch_bytes"] = static_cast<double>(counts.bytes);
}
BENCHMARK(BM_EncodeTheSameMessagesAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

// The two in turns.
void BM_BundlingAgainstEncodingAlone(benchmark::State& state) {
    if (!writeTemplate()) {
        state.SkipWithError("writing the raw events failed");
        return;
    }
    const EncodeAlone alone;
    Counts bundled, encoded;
    bench::alternate(
        state, "bundle and batch stored events / encode the same messages alone", "event", kEvents,
        [&](bench::SideTimer& timer) { bundled = bundleAndBatch(timer); },
        [&] {
            encoded = alone.encode();
            benchmark::DoNotOptimize(encoded.bytes);
        });
    if (bundled.bundles != encoded.bundles || bundled.batches != encoded.batches)
        state.SkipWithError("bundling and encoding alone made different bundles or batches");
    state.counters["bundles"] = static_cast<double>(bundled.bundles);
    state.counters["batches"] = static_cast<double>(bundled.batches);
}
BENCHMARK(BM_BundlingAgainstEncodingAlone)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    return bench::runInTemporaryHome(argc, argv, {.manualClock = kStart + kEvents + 60, .offMainThread = true});
}
