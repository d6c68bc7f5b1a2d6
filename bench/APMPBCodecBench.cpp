// Encode and decode speed of a measurement batch (100 bundles x 100 events x 10 parameters) against memcpy of its bytes.
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBatch.h"
#include "analytics/proto/APMPBMeasurementBundle.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

std::shared_ptr<APMPBMeasurementBatch> makeBatch() {
    Value::Array bundles;
    for (int b = 0; b < 100; ++b) {
        Value::Array events;
        for (int e = 0; e < 100; ++e) {
            Value::Array params;
            for (int p = 0; p < 10; ++p) {
                auto param = APMPBEventParam::make();
                APMPBMessageSetString(param, APMPBEventParam::kName, "param_" + std::to_string(p));
                if (p % 3 == 0) APMPBMessageSetString(param, APMPBEventParam::kStringValue, "value " + std::to_string(e));
                else if (p % 3 == 1) APMPBMessageSetInt64(param, APMPBEventParam::kIntValue, 1000LL * e + p);
                else APMPBMessageSetDouble(param, APMPBEventParam::kDoubleValue, e * 0.5 + p);
                params.emplace_back(param);
            }
            auto event = APMPBEvent::make();
            APMPBMessageSetArray(event, APMPBEvent::kParams, params);
            APMPBMessageSetString(event, APMPBEvent::kName, "event_" + std::to_string(e % 7));
            APMPBMessageSetInt64(event, APMPBEvent::kTimestampMillis, 1700000000000LL + e);
            events.emplace_back(event);
        }
        auto bundle = APMPBMeasurementBundle::make();
        APMPBMessageSetInt32(bundle, APMPBMeasurementBundle::kProtocolVersion, 1);
        APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kEvents, events);
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kPlatform, "ios");
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kAppId, "com.example.gallery");
        APMPBMessageSetInt32(bundle, APMPBMeasurementBundle::kBundleIndex, b);
        bundles.emplace_back(bundle);
    }
    auto batch = APMPBMeasurementBatch::make();
    APMPBMessageSetArray(batch, APMPBMeasurementBatch::kBundles, bundles);
    return batch;
}

const std::shared_ptr<APMPBMeasurementBatch>& batch() {
    static const auto instance = makeBatch();
    return instance;
}

const NSData& encoded() {
    static const NSData bytes = *batch()->protoBuffer();
    return bytes;
}

void BM_EncodeBatch(benchmark::State& state) {
    for (auto _ : state) {
        auto bytes = batch()->protoBuffer();
        benchmark::DoNotOptimize(bytes);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * encoded().size()));
}

void BM_DecodeBatch(benchmark::State& state) {
    for (auto _ : state) {
        auto message = APMPBMeasurementBatch::initWithBuffer(encoded());
        if (!message) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(message);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * encoded().size()));
}

// The ceiling: copying the encoded bytes once.
void BM_MemcpyBatch(benchmark::State& state) {
    NSData copy(encoded().size());
    for (auto _ : state) {
        std::memcpy(copy.data(), encoded().data(), encoded().size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * encoded().size()));
}

}  // namespace

BENCHMARK(BM_EncodeBatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyBatch)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
