// Decode and encode speed of a measurement batch (100 bundles x 100 events x 10 parameters):
// our codec side by side with nanopb's generated static code and the protobuf C++ library on
// the same bytes, and memcpy of those bytes as the ceiling. Each goal's pair (our decoding
// against nanopb's, our encoding against protobuf C++'s SerializeToArray) runs in turns in one
// benchmark, which prints their ratio.
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBatch.h"
#include "analytics/proto/APMPBMeasurementBundle.h"

#include "cpp/measurement_batch.pb.h"
#include "nanopb/measurement_batch.pb.h"

#include "bench/support/Alternating.h"

#include <benchmark/benchmark.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include <cstring>
#include <string>
#include <vector>

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

// ---- nanopb ----

// Storage for a decoded batch. Bundles and events arrive through callbacks (see the .options
// file) that decode each one with the generated static code into the next free slot.
struct NanoBatch {
    struct Range {
        std::size_t first = 0;
        std::size_t count = 0;
    };
    // What a bundle's events callback works on: the batch, and the bundle's events when encoding.
    struct EventsArg {
        NanoBatch* batch = nullptr;
        Range range;
    };

    std::vector<benchpb_MeasurementBundle> bundles = std::vector<benchpb_MeasurementBundle>(128);
    std::vector<benchpb_Event> events = std::vector<benchpb_Event>(12800);
    std::vector<EventsArg> eventsArgs = std::vector<EventsArg>(128);
    std::size_t bundleCount = 0;
    std::size_t eventCount = 0;
};

bool decodeEvent(pb_istream_t* stream, const pb_field_t*, void** arg) {
    auto* args = static_cast<NanoBatch::EventsArg*>(*arg);
    NanoBatch& batch = *args->batch;
    if (batch.eventCount == batch.events.size()) return false;
    if (!pb_decode(stream, benchpb_Event_fields, &batch.events[batch.eventCount])) return false;
    ++batch.eventCount;
    ++args->range.count;
    return true;
}

bool decodeBundle(pb_istream_t* stream, const pb_field_t*, void** arg) {
    NanoBatch& batch = *static_cast<NanoBatch*>(*arg);
    if (batch.bundleCount == batch.bundles.size()) return false;
    NanoBatch::EventsArg& events = batch.eventsArgs[batch.bundleCount];
    events = {&batch, {batch.eventCount, 0}};
    benchpb_MeasurementBundle& bundle = batch.bundles[batch.bundleCount];
    bundle.events.funcs.decode = &decodeEvent;
    bundle.events.arg = &events;
    if (!pb_decode(stream, benchpb_MeasurementBundle_fields, &bundle)) return false;
    ++batch.bundleCount;
    return true;
}

bool nanoDecode(const NSData& bytes, NanoBatch& batch) {
    batch.bundleCount = 0;
    batch.eventCount = 0;
    benchpb_MeasurementBatch message = benchpb_MeasurementBatch_init_zero;
    message.bundles.funcs.decode = &decodeBundle;
    message.bundles.arg = &batch;
    pb_istream_t stream = pb_istream_from_buffer(bytes.data(), bytes.size());
    return pb_decode(&stream, benchpb_MeasurementBatch_fields, &message);
}

bool encodeEvents(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    const auto* args = static_cast<const NanoBatch::EventsArg*>(*arg);
    for (std::size_t i = 0; i < args->range.count; ++i) {
        if (!pb_encode_tag_for_field(stream, field) ||
            !pb_encode_submessage(stream, benchpb_Event_fields, &args->batch->events[args->range.first + i]))
            return false;
    }
    return true;
}

bool encodeBundles(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
    auto& batch = *static_cast<NanoBatch*>(*arg);
    for (std::size_t i = 0; i < batch.bundleCount; ++i) {
        benchpb_MeasurementBundle& bundle = batch.bundles[i];
        bundle.events.funcs.encode = &encodeEvents;
        bundle.events.arg = &batch.eventsArgs[i];
        if (!pb_encode_tag_for_field(stream, field) ||
            !pb_encode_submessage(stream, benchpb_MeasurementBundle_fields, &bundle))
            return false;
    }
    return true;
}

// The bytes written, or 0 on failure.
std::size_t nanoEncode(NanoBatch& batch, NSData& out) {
    benchpb_MeasurementBatch message = benchpb_MeasurementBatch_init_zero;
    message.bundles.funcs.encode = &encodeBundles;
    message.bundles.arg = &batch;
    pb_ostream_t stream = pb_ostream_from_buffer(out.data(), out.size());
    return pb_encode(&stream, benchpb_MeasurementBatch_fields, &message) ? stream.bytes_written : 0;
}

// Every decoder must read the whole batch: each one's decoded form encodes back to the same
// bytes. Empty when they all do, else what failed.
std::string roundTripFailure() {
    const NSData& bytes = encoded();
    auto ours = APMPBMeasurementBatch::initWithBuffer(bytes);
    if (!ours || ours->protoBuffer() != bytes) return "our codec does not round-trip the batch";
    auto nano = std::make_unique<NanoBatch>();
    NSData out(bytes.size());
    if (!nanoDecode(bytes, *nano) || nanoEncode(*nano, out) != bytes.size() || out != bytes)
        return "nanopb does not round-trip the batch";
    benchpb::MeasurementBatch cpp;
    if (!cpp.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())) ||
        cpp.SerializeAsString() != std::string(bytes.begin(), bytes.end()))
        return "protobuf C++ does not round-trip the batch";
    return {};
}

bool sameBytesEverywhere(benchmark::State& state) {
    static const std::string failure = roundTripFailure();
    if (failure.empty()) return true;
    state.SkipWithError(failure.c_str());
    return false;
}

void setBytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * encoded().size()));
}

// ---- decoding ----

void BM_DecodeOurs(benchmark::State& state) {
    if (!sameBytesEverywhere(state)) return;
    for (auto _ : state) {
        auto message = APMPBMeasurementBatch::initWithBuffer(encoded());
        if (!message) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(message);
    }
    setBytes(state);
}

void BM_DecodeNanopbStatic(benchmark::State& state) {
    if (!sameBytesEverywhere(state)) return;
    auto nano = std::make_unique<NanoBatch>();
    for (auto _ : state) {
        if (!nanoDecode(encoded(), *nano)) state.SkipWithError("decode failed");
        benchmark::ClobberMemory();
    }
    setBytes(state);
}

// A new message each time, as a decoder that hands out the result must make.
void BM_DecodeProtobufCpp(benchmark::State& state) {
    if (!sameBytesEverywhere(state)) return;
    for (auto _ : state) {
        auto message = std::make_unique<benchpb::MeasurementBatch>();
        if (!message->ParseFromArray(encoded().data(), static_cast<int>(encoded().size())))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(message);
    }
    setBytes(state);
}

// ---- encoding ----

void BM_EncodeOurs(benchmark::State& state) {
    if (!sameBytesEverywhere(state)) return;
    for (auto _ : state) {
        auto bytes = batch()->protoBuffer();
        benchmark::DoNotOptimize(bytes);
    }
    setBytes(state);
}

void BM_EncodeNanopbStatic(benchmark::State& state) {
    if (!sameBytesEverywhere(state)) return;
    auto nano = std::make_unique<NanoBatch>();
    NSData out(encoded().size());
    if (!nanoDecode(encoded(), *nano)) return state.SkipWithError("decode failed");
    for (auto _ : state) {
        if (nanoEncode(*nano, out) != out.size()) state.SkipWithError("encode failed");
        benchmark::ClobberMemory();
    }
    setBytes(state);
}

// Serializing into a buffer the caller sized, from a parsed message.
void BM_EncodeProtobufCpp(benchmark::State& state) {
    if (!sameBytesEverywhere(state)) return;
    benchpb::MeasurementBatch cpp;
    if (!cpp.ParseFromArray(encoded().data(), static_cast<int>(encoded().size()))) return state.SkipWithError("decode failed");
    NSData out(cpp.ByteSizeLong());
    for (auto _ : state) {
        if (!cpp.SerializeToArray(out.data(), static_cast<int>(out.size()))) state.SkipWithError("encode failed");
        benchmark::ClobberMemory();
    }
    setBytes(state);
}

// ---- pairs: ours and the anchor in turns ----

void BM_DecodeOursAgainstNanopbStatic(benchmark::State& state) {
    if (!sameBytesEverywhere(state)) return;
    auto nano = std::make_unique<NanoBatch>();
    bool failed = false;
    bench::alternate(
        state, "decode ours / nanopb static", "batch", 1,
        [&] {
            auto message = APMPBMeasurementBatch::initWithBuffer(encoded());
            failed |= !message;
            benchmark::DoNotOptimize(message);
        },
        [&] {
            failed |= !nanoDecode(encoded(), *nano);
            benchmark::ClobberMemory();
        });
    if (failed) state.SkipWithError("decode failed");
    setBytes(state);
}

// Ours hands out the encoded bytes; protobuf C++ serializes a parsed message into a buffer the
// caller sized.
void BM_EncodeOursAgainstProtobufCpp(benchmark::State& state) {
    if (!sameBytesEverywhere(state)) return;
    benchpb::MeasurementBatch cpp;
    if (!cpp.ParseFromArray(encoded().data(), static_cast<int>(encoded().size()))) return state.SkipWithError("decode failed");
    NSData out(cpp.ByteSizeLong());
    auto ours = batch();
    bool failed = false;
    bench::alternate(
        state, "encode ours / protobuf C++ SerializeToArray", "batch", 1,
        [&] {
            auto bytes = ours->protoBuffer();
            failed |= !bytes || bytes->size() != out.size();
            benchmark::DoNotOptimize(bytes);
        },
        [&] {
            failed |= !cpp.SerializeToArray(out.data(), static_cast<int>(out.size()));
            benchmark::ClobberMemory();
        });
    if (failed) state.SkipWithError("encode failed");
    setBytes(state);
}

// The ceiling: copying the encoded bytes once.
void BM_MemcpyBatch(benchmark::State& state) {
    NSData copy(encoded().size());
    for (auto _ : state) {
        std::memcpy(copy.data(), encoded().data(), encoded().size());
        benchmark::ClobberMemory();
    }
    setBytes(state);
}

}  // namespace

BENCHMARK(BM_DecodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeNanopbStatic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeProtobufCpp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeNanopbStatic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeProtobufCpp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyBatch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOursAgainstNanopbStatic)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOursAgainstProtobufCpp)->Unit(benchmark::kMillisecond);
ALTERNATING_BENCHMARK_MAIN();
