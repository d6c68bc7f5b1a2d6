// Event-editing programs: 10,000 events through an edit callback of 50 statements, each an
// assignment over five operands read from the event's parameters. Reports events per second
// and program instructions per second (as the runtime counts them: every evaluated node), and
// for both sides the 50 statements' rate, against the same arithmetic written directly in C++
// in the same run; the pair also runs in turns in one benchmark, which prints their ratio.
#include "analytics/proto/APMPBProgram.h"
#include "analytics/script/APMPEventEditing.h"
#include "tests/analytics/script/assembler/ScriptAssembler.h"

#include "bench/support/Alternating.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int kEvents = 10'000;
constexpr int kStatements = 50;

// acc = (acc * p1 + p2 - p3) / p4 + p5, over the parameters read once.
std::string statement() {
    return R"(("3" "acc" ("0" ("10" ("37" ("0" ("26" ("15" "acc") ("15" "p1")) ("15" "p2")) ("15" "p3")) ("15" "p4")) ("15" "p5"))))";
}

std::shared_ptr<APMPBProgram> program() {
    std::string body;
    for (int i = 0; i < kStatements; ++i) body += statement() + "\n";
    std::string text = R"(
        ("52" "register" ("require" "internal.registerCallback"))
        ("50" "edit" ("7" "e")
           ("41" "acc" "p1" "p2" "p3" "p4" "p5")
           ("3" "acc" 1)
           ("3" "p1" ("2" ("15" "e") "getParamValue" ("7" "p1")))
           ("3" "p2" ("2" ("15" "e") "getParamValue" ("7" "p2")))
           ("3" "p3" ("2" ("15" "e") "getParamValue" ("7" "p3")))
           ("3" "p4" ("2" ("15" "e") "getParamValue" ("7" "p4")))
           ("3" "p5" ("2" ("15" "e") "getParamValue" ("7" "p5")))
    )" + body + R"(
           ("2" ("15" "e") "setParamValue" ("7" "acc" ("15" "acc")))
           ("36" 0))
        ("50" "rule" ("7" "r") ("register" 0 ("15" "edit") ("8" "type" "edit"))))";
    return ScriptAssembler::program(ScriptAssembler::parse(text), {{"rule", ScriptAssembler::parse("(\"8\")")}});
}

Value::Dictionary parameters(int i) {
    return {{"p1", Value(1.0001)}, {"p2", Value(static_cast<double>(i % 7))}, {"p3", Value(0.5)},
            {"p4", Value(1.5)}, {"p5", Value(2.0)}};
}

void BM_EditEventsThroughAProgram(benchmark::State& state) {
    auto editing = APMPEventEditing::make();
    if (!editing->loadProgram(program())) {
        state.SkipWithError("the program did not load");
        return;
    }
    std::vector<std::shared_ptr<APMPEvent>> events;
    for (int i = 0; i < kEvents; ++i) events.push_back(APMPEvent::initWithName("level_up", 1700000000 + i, parameters(i)));
    double instructions = 0;
    for (auto _ : state) {
        for (const auto& event : events) {
            NSErrorPtr error;
            if (!editing->handleEvent(event, &error) || error) {
                state.SkipWithError("an event was not edited");
                return;
            }
            instructions += editing->runtime().getInstructionCount();
        }
    }
    state.counters["events/s"] = benchmark::Counter(static_cast<double>(kEvents), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["instructions/s"] = benchmark::Counter(instructions, benchmark::Counter::kIsRate);
    state.counters["statements/s"] =
        benchmark::Counter(static_cast<double>(kEvents) * kStatements, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_EditEventsThroughAProgram)->Unit(benchmark::kMillisecond);

// The program's arithmetic over each event's parameters, written in C++.
void sameArithmetic(const std::vector<Value::Dictionary>& inputs) {
    for (const auto& input : inputs) {
        double p1 = input.get("p1").doubleValue(), p2 = input.get("p2").doubleValue();
        double p3 = input.get("p3").doubleValue(), p4 = input.get("p4").doubleValue();
        double p5 = input.get("p5").doubleValue();
        benchmark::DoNotOptimize(p1);
        double acc = 1;
        for (int i = 0; i < kStatements; ++i) {
            acc = (acc * p1 + p2 - p3) / p4 + p5;
            benchmark::DoNotOptimize(acc);
        }
    }
}

// The same arithmetic in C++, from the same parameters.
void BM_SameArithmeticInCpp(benchmark::State& state) {
    std::vector<Value::Dictionary> inputs;
    for (int i = 0; i < kEvents; ++i) inputs.push_back(parameters(i));
    for (auto _ : state) sameArithmetic(inputs);
    state.counters["events/s"] = benchmark::Counter(static_cast<double>(kEvents), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["statements/s"] =
        benchmark::Counter(static_cast<double>(kEvents) * kStatements, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SameArithmeticInCpp)->Unit(benchmark::kMillisecond);

// Both sides over the same 10,000 events, in turns.
void BM_ProgramAgainstCpp(benchmark::State& state) {
    auto editing = APMPEventEditing::make();
    if (!editing->loadProgram(program())) {
        state.SkipWithError("the program did not load");
        return;
    }
    std::vector<std::shared_ptr<APMPEvent>> events;
    std::vector<Value::Dictionary> inputs;
    for (int i = 0; i < kEvents; ++i) {
        events.push_back(APMPEvent::initWithName("level_up", 1700000000 + i, parameters(i)));
        inputs.push_back(parameters(i));
    }
    bool failed = false;
    bench::alternate(
        state, "event-editing program / same arithmetic in C++", "event", kEvents,
        [&] {
            for (const auto& event : events) {
                NSErrorPtr error;
                failed |= !editing->handleEvent(event, &error) || error;
            }
        },
        [&] { sameArithmetic(inputs); });
    if (failed) state.SkipWithError("an event was not edited");
}
BENCHMARK(BM_ProgramAgainstCpp)->Unit(benchmark::kMillisecond);

}  // namespace

ALTERNATING_BENCHMARK_MAIN();
