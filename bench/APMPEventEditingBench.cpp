// Event-editing programs: 10,000 events through an edit callback of 50 statements, each an
// assignment over five operands read from the event's parameters. Reports events per second
// and program instructions per second (as the runtime counts them: every evaluated node, and
// the work on values weighed in), and for both sides the 50 statements' rate, against the same
// arithmetic written directly in C++ in the same run; the pair also runs in turns in one
// benchmark, which prints their ratio. Then programs that spend the whole budget, each on one
// kind of work, per event against plain evaluations spending the same budget.
#include "analytics/proto/APMPBProgram.h"
#include "analytics/script/APMPErrors.h"
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
    for (int i = 0; i < kStatements; ++i) body.append(statement()).append("\n");
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

// Programs that spend a whole event's budget, each on one kind of work: what the costliest
// takes per event is what a served program can cost the worker queue, and work on large values
// should cost about what plain evaluations do. Each grows its values to their bounds first,
// then repeats one statement until the budget stops it. The anchor, an empty loop, spends the
// same budget on plain evaluations.
struct Spender {
    std::string name;
    std::string body;
};

// "s": a string of 2^19 units; "a": an array of 2^19 numbers.
constexpr const char* kGrowText =
    R"(("3" "s" "aaaaaaaaaaaaaaaa") ("42" ("23" ("16" ("15" "s") "length") 524288) ("44") false ("46" ("3" "s" ("0" ("15" "s") ("15" "s"))))))";
constexpr const char* kGrowArray =
    R"(("3" "a" ("7" 1 2 3 4 5 6 7 8)) ("42" ("23" ("16" ("15" "a") "length") 524288) ("44") false ("46" ("3" "a" ("2" ("15" "a") "concat" ("7" ("15" "a")))))))";

std::string forever(const std::string& statement) { return R"(("42" true ("44") false ("46" )" + statement + "))"; }

// `name` doubled from `first` until it holds at least `length` units or elements.
std::string grow(const std::string& name, const std::string& first, int length) {
    return R"(("3" ")" + name + R"(" )" + first + R"() ("42" ("23" ("16" ("15" ")" + name + R"(") "length") )" +
           std::to_string(length) + R"() ("44") false ("46" ("3" ")" + name + R"(" ("2" ("15" ")" + name +
           R"(") "concat" ("7" ("15" ")" + name + "\"))))))";
}

// "t": "s" with its last unit changed, so that comparing the two reads all of both.
constexpr const char* kNearText = R"(("3" "t" ("0" ("2" ("15" "s") "slice" ("7" 0 -1)) "b")))";

const std::vector<Spender>& spenders() {
    static const std::vector<Spender> all = {
        {"small strings", forever(R"(("0" "ab" 1))")},
        {"small maps", forever(R"(("8" "k" 1 "l" 2))")},
        {"calls", R"(("3" "b" ("51" "f" ("7" "x") ("15" "x"))))" + forever(R"(("b" 1))")},
        {"blocks", forever(R"(("53"))")},
        {"string concat", kGrowText + forever(R"(("3" "t" ("2" ("15" "s") "concat" ("7" ("15" "s")))))")},
        {"string plus", kGrowText + forever(R"(("3" "t" ("0" ("15" "s") ("15" "s"))))")},
        {"string slice", kGrowText + forever(R"(("3" "t" ("2" ("15" "s") "slice" ("7" 1))))")},
        {"string equality", kGrowText + std::string(R"(("3" "t" ("2" ("15" "s") "slice" ("7" 0))))") +
                                forever(R"(("12" ("15" "s") ("15" "t")))")},
        // A search that a plain one makes quadratic.
        {"string search", kGrowText + std::string(R"(("3" "t" ("0" ("2" ("15" "s") "slice" ("7" 0 1024)) "b")))") +
                              forever(R"(("2" ("15" "s") "indexOf" ("7" ("15" "t"))))")},
        {"string split",
         R"(("3" "s" "a,a,a,a,a,a,a,a,") ("42" ("23" ("16" ("15" "s") "length") 65536) ("44") false ("46" ("3" "s" ("0" ("15" "s") ("15" "s"))))))" +
             forever(R"(("2" ("15" "s") "split" ("7" ",")))")},
        {"string digits",
         R"(("3" "s" "1111111111111111") ("42" ("23" ("16" ("15" "s") "length") 524288) ("44") false ("46" ("3" "s" ("0" ("15" "s") ("15" "s"))))))" +
             forever(R"(("26" ("15" "s") 1))")},
        {"array concat", kGrowArray + forever(R"(("3" "b" ("2" ("15" "a") "concat" ("7" ("15" "a")))))")},
        {"array slice", kGrowArray + forever(R"(("3" "b" ("2" ("15" "a") "slice" ("7" 1))))")},
        {"array join", kGrowArray + forever(R"(("3" "t" ("2" ("15" "a") "join" ("7"))))")},
        {"array sort", kGrowArray + forever(R"(("2" ("15" "a") "sort" ("7")))")},
        {"array length", forever(R"(("43" ("7") "length" 1048575))")},
        {"array values", kGrowArray + forever(R"(("65" "x" ("15" "a") ("46")))")},
        {"event parameter", kGrowArray + forever(R"(("2" ("15" "e") "setParamValue" ("7" "p" ("15" "a"))))")},
        // A loop whose body is a list of a million statements, of which the first continues.
        {"long statement list", R"(("3" "b" ("46" ("6"))) ("43" ("15" "b") "length" 1048575) ("42" true ("44") false ("15" "b")))"},
        // Sorting without a function compares texts: 4,096 references to one long text, then
        // to two that differ only at their ends, in an order that has every pass compare them.
        {"sort one long text", kGrowText + grow("a", R"(("7" ("15" "s")))", 4096) + forever(R"(("2" ("15" "a") "sort" ("7")))")},
        {"sort two long texts", kGrowText + std::string(kNearText) + grow("b", R"(("7" ("15" "s") ("15" "t")))", 4096) +
                                    forever(R"(("3" "a" ("2" ("15" "b") "slice" ("7"))) ("2" ("15" "a") "sort" ("7")))")},
        // The matcher's steps over a whole search, every start position's together.
        {"pattern lookahead", kGrowText + forever(R"x(("2" ("15" "s") "match" ("7" "(?=a*[bc])")))x")},
        {"pattern search", grow("s", R"("aaaaaaaaaaaaaaaa")", 65536) + forever(R"(("2" ("15" "s") "search" ("7" "a*[bc]")))")},
        // Elements compared by the units they compare.
        {"array indexOf long texts", kGrowText + std::string(kNearText) + grow("a", R"(("7" ("15" "s")))", 524288) +
                                         forever(R"(("2" ("15" "a") "indexOf" ("7" ("15" "t"))))")},
        {"array lastIndexOf long texts", kGrowText + std::string(kNearText) + grow("a", R"(("7" ("15" "s")))", 65536) +
                                             forever(R"(("2" ("15" "a") "lastIndexOf" ("7" ("15" "t"))))")},
        {"string case", kGrowText + forever(R"(("2" ("15" "s") "toUpperCase" ("7")))")},
        {"string lastIndexOf", kGrowText + std::string(R"(("3" "t" ("0" "b" ("2" ("15" "s") "slice" ("7" 0 1024)))))") +
                                   forever(R"(("2" ("15" "s") "lastIndexOf" ("7" ("15" "t"))))")},
        {"string replace", kGrowText + std::string(R"(("3" "t" ("0" ("15" "s") "b")))") +
                               forever(R"(("2" ("15" "t") "replace" ("7" "b" "c")))")},
        {"split by a long separator", kGrowText + std::string(R"(("3" "t" ("0" ("2" ("15" "s") "slice" ("7" 0 262144)) "b")))") +
                                          forever(R"(("2" ("15" "s") "split" ("7" ("15" "t"))))")},
        // A key the map holds, as long as a text may be, and one of the same length and hash
        // that differs only at its end.
        {"map key lookup", grow("s", R"("AaAaAaAaAaAaAaAa")", 524288) +
                               R"(("3" "t" ("0" ("2" ("15" "s") "slice" ("7" 0 -2)) "BB")) ("3" "b" ("8")) ("43" ("15" "b") ("15" "s") 1))" +
                               forever(R"(("16" ("15" "b") ("15" "s")) ("16" ("15" "b") ("15" "t")))")},
        {"variable of a long name", kGrowText + std::string(R"(("41" ("15" "s")) ("3" ("15" "s") 1))") +
                                        forever(R"(("15" ("15" "s")))")},
        {"number text", forever(R"(("0" "" 1.2345678901234567e-7))")},
        {"whole number text", forever(R"(("0" "" 1234567890123))")},
        {"string case beyond ASCII", grow("s", R"("éééééééééééééééé")", 524288) + forever(R"(("2" ("15" "s") "toUpperCase" ("7")))")},
        // Each ß raised to SS: the text mapped again into the room its longer result takes.
        {"string case growing", grow("s", R"("ßßßßßßßßßßßßßßßß")", 262144) + forever(R"(("2" ("15" "s") "toUpperCase" ("7")))")},
        // The dearest characters to map: each Σ lowered looks at its neighbours for a word's end.
        {"string case of sigmas", grow("s", R"("ΣΣΣΣΣΣΣΣΣΣΣΣΣΣΣΣ")", 524288) + forever(R"(("2" ("15" "s") "toLowerCase" ("7")))")},
        // The text turned to UTF-8 for the matcher, and patterns compiled anew each time.
        {"pattern over a long text", kGrowText + forever(R"(("2" ("15" "s") "search" ("7" "b")))")},
        {"pattern over a long text beyond ASCII", grow("s", R"("éééééééééééééééé")", 524288) +
                                                      forever(R"(("2" ("15" "s") "search" ("7" "b")))")},
        {"pattern compile", R"(("3" "b" 0))" +
                                forever(R"x(("3" "b" ("0" ("15" "b") 1)) ("2" "x" "search" ("7" ("0" "(a|b|c|d|e|f|g|h|i|j)+k" ("15" "b")))))x")},
        {"long pattern compile", grow("t", R"x("(?:ab|cd)")x", 2048) + R"(("3" "b" 0))" +
                                     forever(R"(("3" "b" ("0" ("15" "b") 1)) ("2" "x" "search" ("7" ("0" ("15" "t") ("15" "b")))))")},
    };
    return all;
}

// A program whose edit callback runs `body` on each event; none when it does not load.
std::shared_ptr<APMPEventEditing> spending(const std::string& body) {
    const std::string text = R"(
        ("52" "register" ("require" "internal.registerCallback"))
        ("50" "edit" ("7" "e") ("41" "s" "t" "a" "b") )" + body + R"()
        ("50" "rule" ("7" "r") ("register" 0 ("15" "edit") ("8" "type" "edit"))))";
    auto editing = APMPEventEditing::make();
    if (!editing->loadProgram(ScriptAssembler::program(ScriptAssembler::parse(text), {{"rule", ScriptAssembler::parse("(\"8\")")}}))) {
        return nullptr;
    }
    return editing;
}

// Whether the event ran the program to its budget's end, as it must.
bool spendsItsBudget(APMPEventEditing& editing, const std::shared_ptr<APMPEvent>& event) {
    NSErrorPtr error;
    return !editing.handleEvent(event, &error) && error && error->code() == APMPErrorBudgetSpent;
}

void BM_ProgramSpendingItsBudget(benchmark::State& state) {
    const Spender& spender = spenders()[static_cast<std::size_t>(state.range(0))];
    state.SetLabel(spender.name);
    const auto project = spending(spender.body);
    const auto anchor = spending(forever(""));
    if (!project || !anchor) {
        state.SkipWithError("a program did not load");
        return;
    }
    const auto event = APMPEvent::initWithName("level_up", 1700000000, parameters(0));
    bool failed = false;
    bench::alternate(
        state, spender.name + " spending an event's budget / plain evaluations spending it", "event", 1,
        [&] { failed |= !spendsItsBudget(*project, event); }, [&] { failed |= !spendsItsBudget(*anchor, event); });
    if (failed) state.SkipWithError("a program did not end at its budget");
}
BENCHMARK(BM_ProgramSpendingItsBudget)
    ->DenseRange(0, static_cast<int>(spenders().size()) - 1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

ALTERNATING_BENCHMARK_MAIN();
