// libFuzzer target over event-editing programs and the events they edit. Input: two bytes
// (little-endian) giving the length of an encoded measurement configuration, that
// configuration, then an encoded event. The first program of the configuration is loaded and
// the event handled twice (top-level state carries over). Whatever the input, no run may pass
// its instruction budget, and the memory a run holds (what its commands build while they work
// included, counted before it is made) may pass its bound only by what one evaluation makes
// between two checks.
#include "analytics/core/APMEvent.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBProgram.h"
#include "analytics/script/APMEventEditConversion.h"
#include "analytics/script/APMPArrayValue.h"
#include "analytics/script/APMPEventEditing.h"
#include "analytics/script/APMPLogger.h"
#include "analytics/script/APMScriptModules.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The largest value one evaluation may make past the memory check: an array's elements at
// their longest, in the room the allocator takes for them, and the array itself.
constexpr std::size_t kOneEvaluation =
    APMPHeap::allocationBytes(APMPArrayValue::kMaxLength * sizeof(APMPRuntimeValue)) +
    APMPHeap::allocationBytes(sizeof(APMPArrayValue));

class DiscardingLogger final : public APMPLoggerDelegate {
public:
    void logWithLevel(std::int64_t, const std::string&, const std::vector<std::string>&, bool, bool) override {}
};

class FixedContext final : public APMScriptContext {
public:
    std::optional<std::string> remoteConfigValueForKey(const std::string& key) override {
        if (key == "measurement.fuzz") return "1";
        return std::nullopt;
    }
    std::optional<std::string> appVersion() override { return "1.0"; }
};

void checkBounds(APMPRuntime& runtime, const char* when) {
    if (runtime.getInstructionCount() > APMPRuntime::kInstructionBudget) {
        std::fprintf(stderr, "%s: %u instructions, past the budget\n", when, runtime.getInstructionCount());
        std::abort();
    }
    if (runtime.peakBytes() > APMPHeap::kLiveBytesLimit + kOneEvaluation) {
        std::fprintf(stderr, "%s: %zu bytes held, past the bound\n", when, runtime.peakBytes());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The decoders report failures on standard output; the fuzzer's own output stays on standard error.
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t configSize = data[0] | (std::size_t{data[1]} << 8);
    if (configSize > size - 2) return 0;
    auto config = APMPBMeasurementConfig::initWithBuffer(data + 2, configSize);
    if (!config) return 0;
    const auto programs = APMPBMessageGetArray<APMPBProgram>(config, APMPBMeasurementConfig::kDynamicEventEditing);
    if (!programs || programs->empty()) return 0;

    auto context = std::make_shared<FixedContext>();
    auto editing = APMPEventEditing::make();
    APMRegisterScriptModules(*editing, context, std::make_shared<DiscardingLogger>());
    editing->runtime().heap().resetPeak();
    const bool loaded = editing->loadProgram(programs->front().objectAs<APMPBProgram>());
    checkBounds(editing->runtime(), "load");
    if (!loaded) return 0;

    auto message = APMPBEvent::initWithBuffer(data + 2 + configSize, size - 2 - configSize);
    auto event = message ? APMEvent::initWithEventProto(message) : nullptr;
    auto edit = event ? APMEditEventFromEvent(*event) : APMPEvent::initWithName("screen_view", 1700000000, {});
    for (int round = 0; round < 2; ++round) {
        editing->runtime().heap().resetPeak();
        NSErrorPtr error;
        const bool handled = editing->handleEvent(edit, &error);
        checkBounds(editing->runtime(), "event");
        // What comes out must go back into the engine's events without harm.
        if (handled && editing->eventContext().outputEvent()) {
            static_cast<void>(APMEventFromEditEvent(*editing->eventContext().outputEvent()));
        }
        for (const auto& created : editing->eventContext().eventsToLog()) {
            static_cast<void>(APMEventFromCreatedEvent(*created));
        }
    }
    return 0;
}
