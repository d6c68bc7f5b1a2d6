// The runtime below the programs: its heap (cycles freed, deep values freed without recursion,
// memory counted), number printing and reading, structural equality, the conversions between
// values and plain objects, module caching, and the events programs see.
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMValue.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/proto/APMPBProgram.h"
#include "analytics/script/APMEventEditConversion.h"
#include "analytics/script/APMPArrayCommandEvaluator.h"
#include "analytics/script/APMPArrayValue.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPEvaluator.h"
#include "analytics/script/APMPEventEditing.h"
#include "analytics/script/APMPLogger.h"
#include "analytics/script/APMPMapValue.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPRuntimeEntityConverter.h"
#include "analytics/script/APMPStringCommandEvaluator.h"
#include "analytics/script/APMPStringValue.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MemoryRelief.h"
#include "tests/analytics/script/assembler/ScriptAssembler.h"
#include "tests/fixtures/SanitizedBuild.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <future>
#include <limits>
#include <new>
#include <random>
#include <stdexcept>
#include <thread>

namespace {

using RV = APMPRuntimeValue;

std::vector<std::shared_ptr<APMPBRuntimeEntity>> entities(const std::string& text) {
    std::vector<std::shared_ptr<APMPBRuntimeEntity>> out;
    for (const auto& node : ScriptAssembler::parse(text)) out.push_back(ScriptAssembler::entity(node));
    return out;
}

// With the process's string and array evaluators, as the editing front makes it.
std::unique_ptr<APMPRuntime> makeRuntime() {
    return APMPRuntime::make(APMPStringCommandEvaluator::sharedInstance(), APMPArrayCommandEvaluator::sharedInstance());
}

RV run(APMPRuntime& runtime, const std::string& text, NSErrorPtr& error) {
    return runtime.executeStatements(entities(text), error);
}

// `name` doubled from `first` until it holds at least `length` units or elements.
std::string grow(const std::string& name, const std::string& first, int length) {
    const std::string variable = R"(("15" ")" + name + R"("))";
    return R"(("41" ")" + name + R"(") ("3" ")" + name + R"(" )" + first + R"() ("42" ("23" ("16" )" + variable +
           R"( "length") )" + std::to_string(length) + R"() ("44") false ("46" ("3" ")" + name + R"(" ("2" )" + variable +
           R"( "concat" ("7" )" + variable + ")))))";
}

// What the allocator holds in use, every arena together, blocks' own room included, and the
// large blocks it maps on their own.
double allocatedBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

// The process's resident memory, as the system counts it.
double residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

constexpr double kMegabyte = 1 << 20;

// `body` pushed `count` times onto the global array "keep".
std::string kept(const std::string& body, int count) {
    return R"(("41" "i" "keep") ("3" "keep" ("7")) ("3" "i" 0) ("42" ("23" ("15" "i") )" + std::to_string(count) +
           R"() ("3" "i" ("0" ("15" "i") 1)) false ("46" ("2" ("15" "keep") "push" ("7" )" + body + "))))";
}

std::shared_ptr<APMPBProgram> program(const std::string& instructions, const std::string& activity = "rule") {
    std::vector<std::pair<std::string, std::vector<ScriptAssembler::Node>>> activities;
    if (!activity.empty()) activities.push_back({activity, ScriptAssembler::parse("(\"8\")")});
    return ScriptAssembler::program(ScriptAssembler::parse(instructions), activities);
}

}  // namespace

TEST(APMPHeapTest, CyclesAProgramMakesAreFreedOnceNothingReachesThem) {
    auto editing = APMPEventEditing::make();
    // Every event makes a map holding itself and a closure kept in the scope it closes over.
    ASSERT_TRUE(editing->loadProgram(program(R"(
        ("52" "register" ("require" "internal.registerCallback"))
        ("50" "cycles" ("7" "e")
           ("41" "m") ("3" "m" ("8")) ("43" ("15" "m") "self" ("15" "m"))
           ("50" "inner" ("7") ("15" "m"))
           ("41" "a") ("3" "a" ("7" ("15" "m"))) ("2" ("15" "a") "push" ("7" ("15" "a")))
           ("36" 0))
        ("50" "rule" ("7" "r") ("register" 0 ("15" "cycles") ("8" "type" "edit"))))")));
    auto event = APMPEvent::initWithName("e", 1, {});
    const APMPHeap& heap = editing->runtime().heap();
    ASSERT_FALSE(editing->handleEvent(event));
    editing->runtime().heap().collect();
    const std::size_t objects = heap.objectCount();
    const std::size_t bytes = heap.liveBytes();
    // The cycles wait for a collection: an event does not walk the whole heap first.
    for (int i = 0; i < 50; ++i) ASSERT_FALSE(editing->handleEvent(event));
    EXPECT_GT(heap.objectCount(), objects);
    const std::size_t perEvent = (heap.liveBytes() - bytes) / 50;
    ASSERT_GT(perEvent, 0u);
    editing->runtime().heap().collect();
    EXPECT_EQ(heap.objectCount(), objects);
    EXPECT_EQ(heap.liveBytes(), bytes);

    // Events enough to leave sixteen megabytes of cycles behind: allocation makes collections
    // due on the way, and the heap never holds more than a few megabytes of them.
    constexpr std::size_t kLeftBehind = std::size_t{16} << 20;
    std::size_t most = 0;
    for (std::size_t i = 0; i < kLeftBehind / perEvent + 1; ++i) {
        ASSERT_FALSE(editing->handleEvent(event));
        most = std::max(most, heap.liveBytes());
    }
    EXPECT_LT(most, bytes + (std::size_t{8} << 20));
}

TEST(APMPHeapTest, GarbageIsCollectedDuringALongRunToo) {
    auto runtime = makeRuntime();
    NSErrorPtr error;
    // Thirty thousand cyclic maps, each holding two kilobytes of its own text and dropped at
    // once: sixty megabytes in all, held only while their cycle is not yet collected.
    const std::string pad(1000, 'p');
    run(*runtime, R"(("41" "i" "m") ("3" "i" 0)
        ("42" ("23" ("15" "i") 30000) ("3" "i" ("0" ("15" "i") 1)) false
              ("46" ("3" "m" ("8" "pad" ("0" ")" + pad + R"(" ""))) ("43" ("15" "m") "self" ("15" "m")))))",
        error);
    EXPECT_FALSE(error) << error->description() << " after " << runtime->getInstructionCount() << " instructions, "
                        << runtime->heap().liveBytes() << " bytes live";
    EXPECT_LT(runtime->peakBytes(), APMPHeap::kLiveBytesLimit);
}

TEST(APMPHeapTest, AValueNestedAMillionDeepIsFreedWithoutRecursion) {
    auto runtime = makeRuntime();
    {
        RV inner = RV(runtime->heap().make<APMPArrayValue>());
        for (int i = 0; i < 1'000'000; ++i) {
            inner = RV(runtime->heap().make<APMPArrayValue>(std::vector<RV>{inner}));
        }
        EXPECT_GT(runtime->heap().objectCount(), 1'000'000u);
    }
    runtime->resetInstructionCount();
    EXPECT_LT(runtime->heap().objectCount(), 100u);
}

TEST(APMPHeapTest, ArgumentValuesHoldEachValueOnceInPlaceSpilledAndMoved) {
    auto runtime = makeRuntime();
    const std::size_t before = runtime->heap().objectCount();
    auto texts = [](const APMPArgumentValues& values) {
        std::vector<std::u16string> out;
        for (const RV& value : values) out.push_back(value.text());
        return out;
    };
    {
        // Two announced, six given: the first four move out of place when the fifth comes.
        APMPArgumentValues values(2);
        for (char16_t c = u'a'; c < u'g'; ++c) values.push_back(runtime->string(std::u16string(1, c)));
        EXPECT_EQ(texts(values), (std::vector<std::u16string>{u"a", u"b", u"c", u"d", u"e", u"f"}));
        EXPECT_EQ(runtime->heap().objectCount(), before + 6);
        APMPArgumentValues moved(std::move(values));
        EXPECT_TRUE(values.empty());
        EXPECT_EQ(texts(moved), (std::vector<std::u16string>{u"a", u"b", u"c", u"d", u"e", u"f"}));

        APMPArgumentValues few(3);
        few.push_back(runtime->string(std::u16string(u"x")));
        few.push_back(RV::number(2));
        APMPArgumentValues movedFew(std::move(few));
        ASSERT_EQ(movedFew.size(), 2u);
        EXPECT_EQ(movedFew[0].text(), u"x");
        EXPECT_EQ(movedFew[1].number(), 2);
        EXPECT_EQ(runtime->heap().objectCount(), before + 7);
    }
    // Each string released once: all freed, none twice.
    EXPECT_EQ(runtime->heap().objectCount(), before);
}

// A sort without a function compares its elements' texts where they are: many references to
// one long text take neither memory nor work by its length.
TEST(APMPHeapTest, SortingReferencesToOneLongTextCopiesNoText) {
    auto runtime = makeRuntime();
    NSErrorPtr error;
    run(*runtime, grow("s", R"("aaaaaaaaaaaaaaaa")", 524288) + grow("a", R"(("7" ("15" "s") "b"))", 512), error);
    ASSERT_FALSE(error);
    runtime->heap().resetPeak();
    const std::uint32_t before = runtime->getInstructionCount();
    run(*runtime, R"(("2" ("15" "a") "sort" ("7")))", error);
    EXPECT_FALSE(error) << error->description();
    EXPECT_LT(runtime->getInstructionCount() - before, 10000u);
    EXPECT_LT(runtime->peakBytes(), std::size_t{4} << 20);
}

// Runs `makeText` (which leaves a text in "s"), then fills the heap with an array of a megabyte's
// elements and another array up to a megabyte and a half short of the live limit, and starts the
// peak afresh: what a command then builds must fit in that room.
namespace {
bool textWithLittleRoomLeft(APMPRuntime& runtime, const std::string& makeText) {
    NSErrorPtr error;
    run(runtime, makeText + R"(("41" "a") ("3" "a" ("7")) ("43" ("15" "a") "length" 1048575))", error);
    if (error) return false;
    const std::size_t room = APMPHeap::kLiveBytesLimit - runtime.heap().liveBytes();
    const std::size_t elements = (room - (std::size_t{3} << 19)) / sizeof(RV);
    run(runtime, R"(("41" "b") ("3" "b" ("7")) ("43" ("15" "b") "length" )" + std::to_string(elements) + ")", error);
    if (error) return false;
    runtime.heap().resetPeak();
    return true;
}
}  // namespace

// What a command builds outside the heap counts against the live limit before it is made: a
// text that would take the run past it fails the command with error 18 instead.
TEST(APMPHeapTest, ATextBeingBuiltCountsAgainstTheLiveLimit) {
    // The two megabytes of two copies of the text do not fit.
    auto runtime = makeRuntime();
    NSErrorPtr error;
    ASSERT_TRUE(textWithLittleRoomLeft(*runtime, grow("s", R"("aaaaaaaaaaaaaaaa")", 524288)));
    run(*runtime, R"(("0" ("15" "s") ("15" "s")))", error);
    EXPECT_TRUE(error && error->code() == APMPErrorBudgetSpent);
    EXPECT_LE(runtime->peakBytes(), APMPHeap::kLiveBytesLimit);
}

// A case change that lengthens its text (ß to SS) holds the longer result against the live limit
// before it maps into it: with a megabyte and a half left, lowering 256 Ki units of ß (half a
// megabyte mapped, then taken) fits, and raising them (a megabyte mapped, then taken) fails with
// error 18.
TEST(APMPHeapTest, ACaseChangeThatGrowsHoldsItsGrowthFirst) {
    auto runtime = makeRuntime();
    NSErrorPtr error;
    ASSERT_TRUE(textWithLittleRoomLeft(*runtime, grow("s", R"("ßßßßßßßßßßßßßßßß")", 262144)));
    EXPECT_EQ(run(*runtime, R"(("16" ("2" ("15" "s") "toLowerCase" ("7")) "length"))", error).number(), 262144);
    EXPECT_FALSE(error) << error->description();
    run(*runtime, R"(("2" ("15" "s") "toUpperCase" ("7")))", error);
    EXPECT_TRUE(error && error->code() == APMPErrorBudgetSpent);
    EXPECT_LE(runtime->peakBytes(), APMPHeap::kLiveBytesLimit);
}

TEST(APMPHeapTest, ValuesKeptPastTheirRuntimeAreEmptiedAndStaySafe) {
    RV kept;
    {
        auto runtime = makeRuntime();
        NSErrorPtr error;
        kept = run(*runtime, R"(("41" "m") ("3" "m" ("8" "a" "text")) ("43" ("15" "m") "self" ("15" "m")) ("15" "m"))", error);
        ASSERT_TRUE(kept.isMap());
    }
    // Its runtime is gone, and with it what the map held (its cycle included, which nothing
    // could collect any more); the map itself lives on, empty.
    EXPECT_TRUE(kept.as<APMPMapValue>()->valueForProperty(u"a").isUndefined());
    EXPECT_TRUE(kept.as<APMPMapValue>()->valueForProperty(u"self").isUndefined());
}

// The live limit bounds the memory a program really takes: what a run holds is counted by the
// room it takes in the allocator (each block with its header, lists by their capacity, a long
// name's own buffer, the index of a map of more than eight names), and so are the plain values
// an edit stores in its event.
TEST(APMPHeapTest, WhatAProgramHoldsIsCountedByTheRoomItTakes) {
    if (kSanitizedBuild) GTEST_SKIP() << "a sanitizer's allocator keeps no count of the bytes in use";
    const char* const nineNames = R"(("8" "a" 1 "b" 2 "c" 3 "d" 4 "e" 5 "f" 6 "g" 7 "h" 8 "k" 9))";
    const struct {
        const char* what;
        std::string program;
    } shapes[] = {
        {"maps of nine names", kept(nineNames, 5000)},
        {"maps of one long name", kept(R"(("8" "a name of many units" 1))", 20000)},
        {"maps nested in maps", R"(("41" "m" "i") ("3" "m" ("8")) ("3" "i" 0) ("42" ("23" ("15" "i") 20000)
            ("3" "i" ("0" ("15" "i") 1)) false ("46" ("3" "m" ("8" "a" ("15" "m") "b" 1)))))"},
        {"a map of many names", R"(("41" "m" "i") ("3" "m" ("8")) ("3" "i" 0) ("42" ("23" ("15" "i") 20000)
            ("3" "i" ("0" ("15" "i") 1)) false ("46" ("43" ("15" "m") ("15" "i") 1))))"},
        {"short and long texts", kept(R"(("0" "" ("15" "i")) ("0" "twenty units of text " ("15" "i")))", 20000)},
        {"arrays", kept(R"(("7" 1 2 3))", 20000)},
        {"closures", kept(R"(("51" "f" ("7" "x") ("15" "x")))", 10000)},
    };
    for (const auto& shape : shapes) {
        auto runtime = makeRuntime();
        const auto statements = entities(shape.program);
        const double before = allocatedBytes();
        const std::size_t live = runtime->heap().liveBytes();
        NSErrorPtr error;
        runtime->executeStatements(statements, error);
        ASSERT_FALSE(error) << shape.what;
        runtime->heap().collect();
        const double real = allocatedBytes() - before;
        const double counted = static_cast<double>(runtime->heap().liveBytes() - live);
        EXPECT_GE(counted, 0.9 * real) << shape.what;
        EXPECT_LE(counted, 1.15 * real) << shape.what;
    }

    // A map of ten thousand small maps and an array of ten thousand texts, stored as plain
    // values in the event, held until the next event.
    for (const char* value : {R"(("15" "maps"))", R"(("15" "texts"))"}) {
        auto editing = APMPEventEditing::make();
        ASSERT_TRUE(editing->loadProgram(program(R"(
            ("52" "register" ("require" "internal.registerCallback"))
            ("41" "maps" "texts" "i") ("3" "maps" ("8")) ("3" "texts" ("7")) ("3" "i" 0)
            ("42" ("23" ("15" "i") 10000) ("3" "i" ("0" ("15" "i") 1)) false
                  ("46" ("43" ("15" "maps") ("15" "i") ("8" "a" 1 "b" "two"))
                        ("2" ("15" "texts") "push" ("7" ("0" "a text longer than its string: " ("15" "i"))))))
            ("50" "store" ("7" "e") ("2" ("15" "e") "setParamValue" ("7" "p" )" + std::string(value) + R"()) ("36" 0))
            ("50" "rule" ("7" "r") ("register" 0 ("15" "store") ("8" "type" "edit"))))")));
        const auto event = APMPEvent::initWithName("e", 1, {});
        const APMPHeap& heap = editing->runtime().heap();
        const double before = allocatedBytes();
        const std::size_t live = heap.liveBytes();
        ASSERT_TRUE(editing->handleEvent(event));
        const double real = allocatedBytes() - before;
        const double counted = static_cast<double>(heap.liveBytes() - live);
        EXPECT_GE(counted, 0.9 * real) << value;
        EXPECT_LE(counted, 1.15 * real) << value;
    }

    // Maps kept until the run may hold no more: error 18, with the allocator holding no more
    // than the limit.
    auto runtime = makeRuntime();
    const auto statements = entities(kept(nineNames, 1000000));
    const double before = allocatedBytes();
    NSErrorPtr error;
    runtime->executeStatements(statements, error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), APMPErrorBudgetSpent);
    EXPECT_LE(allocatedBytes() - before, 1.05 * static_cast<double>(APMPHeap::kLiveBytesLimit));
    EXPECT_GE(runtime->heap().liveBytes(), APMPHeap::kLiveBytesLimit - (std::size_t{1} << 20));
}

// A run that held a megabyte more than it began with ends with nothing of what it built left
// behind: its cycles are collected at once, and what it left free is handed back to the system,
// as is what the last event's plain objects held. A lighter run leaves its cycles to the next
// collection, and one that keeps what it built hands nothing back.
TEST(APMPHeapTest, AHeavyRunLeavesNothingItBuiltHeldWhenItEnds) {
    // Four megabytes of maps that each hold two kilobytes of text and themselves, each dropped
    // for the next.
    const std::string pad = R"(("0" ")" + std::string(1000, 'p') + R"(" ("15" "i")))";
    const std::string cycles = R"(("41" "i" "m") ("3" "i" 0) ("42" ("23" ("15" "i") 2000) ("3" "i" ("0" ("15" "i") 1)) false
        ("46" ("3" "m" ("8" "pad" )" + pad + R"()) ("43" ("15" "m") "self" ("15" "m")))))";
    auto editing = APMPEventEditing::make();
    ASSERT_TRUE(editing->loadProgram(program(R"(
        ("52" "register" ("require" "internal.registerCallback"))
        ("50" "churn" ("7" "e") )" + cycles + R"( ("36" 0))
        ("50" "rule" ("7" "r") ("register" 0 ("15" "churn") ("8" "type" "edit"))))")));
    APMPRuntime& runtime = editing->runtime();
    runtime.heap().collect();
    const std::size_t objects = runtime.heap().objectCount();
    const std::size_t bytes = runtime.heap().liveBytes();
    const auto event = APMPEvent::initWithName("e", 1, {});
    ASSERT_FALSE(editing->handleEvent(event));
    EXPECT_EQ(runtime.heap().objectCount(), objects);
    EXPECT_EQ(runtime.heap().liveBytes(), bytes);

    NSErrorPtr error;
    runtime.resetInstructionCount();
    // Off any queue the memory goes back at once: the resident size falls by what the run's
    // cycles held, to about what it was before the run.
    const double residentBefore = residentBytes();
    run(runtime, cycles, error);
    ASSERT_FALSE(error);
    const double residentAfterRun = residentBytes();
    EXPECT_TRUE(runtime.endRun());
    const double residentAtEnd = residentBytes();
    if (!kSanitizedBuild) {
        EXPECT_GT(residentAfterRun, residentBefore + 2 * kMegabyte);
        EXPECT_LT(residentAtEnd, residentAfterRun - 2 * kMegabyte);
        EXPECT_LT(residentAtEnd, residentBefore + kMegabyte);
    }
    // The last map, still in "m", and its text.
    EXPECT_EQ(runtime.heap().objectCount(), objects + 2);
    runtime.resetInstructionCount();
    run(runtime, R"(("41" "n") ("3" "n" ("8")) ("43" ("15" "n") "self" ("15" "n")) ("3" "n" 0))", error);
    EXPECT_FALSE(runtime.endRun());
    EXPECT_GT(runtime.heap().objectCount(), objects + 2);
    runtime.resetInstructionCount();
    run(runtime, kept(R"(("8" "pad" )" + pad + ")", 1000), error);
    ASSERT_FALSE(error);
    EXPECT_FALSE(runtime.endRun());
    EXPECT_GT(runtime.heap().liveBytes(), bytes + (std::size_t{2} << 20));
    // The plain objects of the last event go as the next run begins: that run hands them back.
    ASSERT_TRUE(runtime.holdForRun(std::size_t{2} << 20, error));
    runtime.resetInstructionCount();
    EXPECT_TRUE(runtime.endRun());
}

// Heavy runs on a queue, as on the measurement worker, leave handing back what they freed to the
// end of the work queued there, once for all of them: no run pays for it, and the resident size
// falls once the burst is over.
TEST(APMPHeapTest, HeavyRunsOnAQueueHandTheirMemoryBackOnceTheirBurstIsOver) {
    const std::string pad = R"(("0" ")" + std::string(1000, 'p') + R"(" ("15" "i")))";
    const std::string cycles = R"(("41" "i" "m") ("3" "i" 0) ("42" ("23" ("15" "i") 2000) ("3" "i" ("0" ("15" "i") 1)) false
        ("46" ("3" "m" ("8" "pad" )" + pad + R"()) ("43" ("15" "m") "self" ("15" "m")))))";
    const auto relief = MemoryRelief::make();
    auto runtime = APMPRuntime::make(APMPStringCommandEvaluator::sharedInstance(),
                                     APMPArrayCommandEvaluator::sharedInstance(), relief);
    const auto queue = DispatchQueue::create("test.script.worker");
    struct Run {
        bool handedBack = true;
        std::size_t reliefs = 1;
        bool failed = true;
    };
    std::vector<Run> runs(3);
    double residentAtLastEnd = 0;
    std::promise<void> burstOver;
    // The burst is queued whole before it starts, as events that arrive together are.
    queue->suspend();
    for (std::size_t i = 0; i < runs.size(); ++i) {
        queue->async([&, i] {
            NSErrorPtr error;
            runtime->resetInstructionCount();
            run(*runtime, cycles, error);
            runs[i] = {runtime->endRun(), relief->reliefCount(), static_cast<bool>(error)};
            if (i + 1 < runs.size()) return;
            residentAtLastEnd = residentBytes();
            // Behind the relief the first run asked for.
            queue->async([&] { burstOver.set_value(); });
        });
    }
    queue->resume();
    ASSERT_EQ(burstOver.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    for (const Run& each : runs) {
        EXPECT_FALSE(each.failed);
        EXPECT_FALSE(each.handedBack);
        EXPECT_EQ(each.reliefs, 0u);
    }
    EXPECT_EQ(relief->reliefCount(), 1u);
    if (!kSanitizedBuild) {
        EXPECT_LT(residentBytes(), residentAtLastEnd - 2 * kMegabyte);
    }

    // Off any queue, at once.
    NSErrorPtr error;
    runtime->resetInstructionCount();
    run(*runtime, cycles, error);
    EXPECT_TRUE(runtime->endRun());
    EXPECT_EQ(relief->reliefCount(), 2u);
}

// A pattern that backtracks through half a million letters takes the matcher tens of megabytes
// of frames until its memory bound ends the search with error 18. They go back to the system as
// the search ends, on whichever thread it ran: the resident size stays where it was, run after
// run, rather than keep a search's frames for every worker thread that ever searched.
TEST(APMPHeapTest, APatternsMemoryGoesBackToTheSystemAsItsSearchEnds) {
    auto editing = APMPEventEditing::make();
    ASSERT_TRUE(editing->loadProgram(program(R"(
        ("52" "register" ("require" "internal.registerCallback"))
        ("50" "scan" ("7" "e")
           ("41" "s") ("3" "s" "ab")
           ("42" ("23" ("16" ("15" "s") "length") 524288) ("44") false ("46" ("3" "s" ("0" ("15" "s") ("15" "s")))))
           ("2" ("15" "s") "search" ("7" "(?:\\p{L}|\\X)*\\d"))
           ("36" 0))
        ("50" "rule" ("7" "r") ("register" 0 ("15" "scan") ("8" "type" "edit"))))")));
    const double before = residentBytes();
    for (int i = 0; i < 3; ++i) {
        NSErrorPtr error;
        double after = 0;
        std::thread([&] {
            ASSERT_FALSE(editing->handleEvent(APMPEvent::initWithName("e", 1, {}), &error));
            after = residentBytes();
        }).join();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), APMPErrorBudgetSpent);
        // Before the budget was spent: the memory bound ended it.
        EXPECT_LT(editing->runtime().getInstructionCount(), APMPRuntime::kInstructionBudget);
        if (!kSanitizedBuild) {
            EXPECT_LT(after, before + 8 * kMegabyte) << "run " << i;
        }
    }
}

// A loop that makes the largest value it may again and again (a string of 2^20 units, an array
// of 2^20 elements, each concatenated from two halves) ends at the budget with error 18, as an
// endless loop does, having done no more work than the budget pays for.
TEST(APMPBudgetTest, LoopsCopyingLargeValuesStopAtTheBudgetAfterBoundedWork) {
    auto copies = [](const std::string& first) {
        auto runtime = makeRuntime();
        NSErrorPtr error;
        // The last copy goes before the next is made: the two together would pass the live limit.
        run(*runtime, R"(("41" "v" "w" "n") ("3" "n" 0) ("3" "v" )" + first + R"()
            ("42" ("23" ("16" ("15" "v") "length") 524288) ("44") false ("46" ("3" "v" ("2" ("15" "v") "concat" ("7" ("15" "v"))))))
            ("42" true ("44") false
                  ("46" ("3" "w" ("44")) ("3" "w" ("2" ("15" "v") "concat" ("7" ("15" "v")))) ("3" "n" ("0" ("15" "n") 1)))))",
            error);
        EXPECT_TRUE(error && error->domain() == kAPMPErrorDomain && error->code() == APMPErrorBudgetSpent)
            << (error ? error->description() : "no error");
        EXPECT_EQ(runtime->getInstructionCount(), APMPRuntime::kInstructionBudget);
        return runtime->globalScope().valueForName(u"n").number();
    };
    const double texts = copies(R"("0123456789abcdef")");
    EXPECT_GE(texts, 1);
    EXPECT_LE(texts * (1 << 20), 128 << 20) << texts << " strings built";
    const double arrays = copies(R"(("7" 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16))");
    EXPECT_GE(arrays, 1);
    EXPECT_LE(arrays * (1 << 20), 4 << 20) << arrays << " arrays built";
}

// One call whose work grows with its operands (all start positions of a pattern together, an
// array's elements compared unit by unit, the comparisons of a sort) ends at the budget with
// error 18 inside the call, not once it is done.
TEST(APMPBudgetTest, SingleCallsStopAtTheBudgetWhereTheirWorkGrows) {
    const std::string near = R"(("41" "t") ("3" "t" ("0" ("2" ("15" "s") "slice" ("7" 0 -1)) "b")))";
    const std::pair<std::string, std::string> calls[] = {
        {grow("s", R"("aaaaaaaaaaaaaaaa")", 32768), R"x(("2" ("15" "s") "match" ("7" "(?=a*[bc])")))x"},
        {grow("s", R"("aaaaaaaaaaaaaaaa")", 16384), R"x(("2" ("15" "s") "search" ("7" "a*[bc]")))x"},
        {grow("s", R"("aaaaaaaaaaaaaaaa")", 16384) + near + grow("a", R"(("7" ("15" "s")))", 16384),
         R"(("2" ("15" "a") "indexOf" ("7" ("15" "t"))))"},
        {grow("s", R"("aaaaaaaaaaaaaaaa")", 16384) + near + grow("a", R"(("7" ("15" "s")))", 16384),
         R"(("2" ("15" "a") "lastIndexOf" ("7" ("15" "t"))))"},
        // Sixteen texts alike but for their ends, over and over.
        {grow("s", R"("aaaaaaaaaaaaaaaa")", 65536) +
             R"(("41" "i" "c") ("3" "c" ("7")) ("3" "i" 0) ("42" ("23" ("15" "i") 16) ("3" "i" ("0" ("15" "i") 1)) false
                   ("46" ("2" ("15" "c") "push" ("7" ("0" ("15" "s") ("15" "i")))))))" +
             grow("a", R"(("15" "c"))", 512),
         R"(("2" ("15" "a") "sort" ("7")))"},
    };
    for (const auto& [operands, call] : calls) {
        auto runtime = makeRuntime();
        NSErrorPtr error;
        run(*runtime, operands, error);
        ASSERT_FALSE(error) << call;
        run(*runtime, call, error);
        EXPECT_TRUE(error && error->code() == APMPErrorBudgetSpent) << call;
        EXPECT_EQ(runtime->getInstructionCount(), APMPRuntime::kInstructionBudget) << call;
    }
}

// Work that costs more than copying its units is charged by what it costs: case changes (one that
// lengthens its text, by its result too), the digits of a number, compiling a pattern, looking up
// a long name.
TEST(APMPBudgetTest, WorkIsChargedByWhatItCosts) {
    const std::string ascii = grow("s", R"("aaaaaaaaaaaaaaaa")", 65536);
    const auto loop = [](const std::string& body) {
        return R"(("41" "i") ("3" "i" 0) ("42" ("23" ("15" "i") 1000) ("3" "i" ("0" ("15" "i") 1)) false ("46" )" + body + "))";
    };
    // The evaluations charged for `work` after `operands`.
    const auto charged = [](const std::string& operands, const std::string& work) {
        auto runtime = makeRuntime();
        NSErrorPtr error;
        run(*runtime, operands, error);
        EXPECT_FALSE(error) << work;
        const std::uint32_t before = runtime->getInstructionCount();
        run(*runtime, work, error);
        EXPECT_FALSE(error) << work;
        return runtime->getInstructionCount() - before;
    };
    const struct {
        std::string operands;
        std::string work;
        std::uint64_t units;
    } charges[] = {
        {ascii, R"(("2" ("15" "s") "toUpperCase" ("7")))", 65536 * APMPRuntime::kCaseUnits},
        {grow("s", R"("éééééééééééééééé")", 65536), R"(("2" ("15" "s") "toUpperCase" ("7")))",
         65536 * APMPRuntime::kMappedUnits},
        // Mapped again into the room its longer result takes.
        {grow("s", R"("ßßßßßßßßßßßßßßßß")", 65536), R"(("2" ("15" "s") "toUpperCase" ("7")))",
         65536 * (2 * APMPRuntime::kMappedUnits + 2)},
        {"", R"(("2" "abc" "search" ("7" "(b|c)+")))", APMPRuntime::kCompileUnits},
        {ascii + R"(("41" ("15" "s")))", R"(("15" ("15" "s")))", 65536 * APMPRuntime::kNameUnits},
        {ascii + R"(("41" "m") ("3" "m" ("8")))", R"(("16" ("15" "m") ("15" "s")))", 65536 * APMPRuntime::kNameUnits},
    };
    for (const auto& charge : charges) {
        EXPECT_GE(charged(charge.operands, charge.work), charge.units / APMPRuntime::kUnitsPerEvaluation) << charge.work;
    }
    // A number's digits, against a text as long as them.
    EXPECT_GE(charged("", loop(R"(("0" "" 0.12345678901234567))")) - charged("", loop(R"(("0" "" "0.12345678901234567"))")),
              1000 * 2 * APMPRuntime::kValueUnits / APMPRuntime::kUnitsPerEvaluation);
}

TEST(APMPValuesTest, FiniteNumbersPrintAndReadBackExactly) {
    std::mt19937_64 random(20240611);
    std::printf("seed 20240611\n");
    for (int i = 0; i < 20000; ++i) {
        double value = 0;
        std::uint64_t bits = random();
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        const std::string text = APMPStringFromNumber(value);
        const double back = APMPNumberFromString(APMPWiden(text));
        EXPECT_TRUE(back == value || (value == 0 && back == 0)) << text;
    }
    for (double value : {1.0, 0.1, 1e21, 1e-7, 123456789012345680000.0, 5e-324, 1.7976931348623157e308}) {
        EXPECT_EQ(APMPNumberFromString(APMPWiden(APMPStringFromNumber(value))), value);
    }
    EXPECT_EQ(APMPStringFromNumber(123456789012345680000.0), "123456789012345680000");
    EXPECT_EQ(APMPStringFromNumber(5e-324), "5e-324");
}

TEST(APMPValuesTest, IntegerConversionsNeverOverflow) {
    EXPECT_EQ(APMPToUint32(-1), 4294967295u);
    EXPECT_EQ(APMPToUint32(4294967296.5), 0u);
    EXPECT_EQ(APMPToUint32(std::numeric_limits<double>::infinity()), 0u);
    EXPECT_EQ(APMPToUint32(1e300), 0u);
    EXPECT_EQ(APMPSaturatingInt64(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(APMPSaturatingInt64(1e19), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(APMPSaturatingInt64(-1e19), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(APMPSaturatingInt64(-9223372036854775808.0), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(APMPSaturatingInt64(-2.9), -2);
    EXPECT_EQ(APMPToInteger(-2.9), -2);
    EXPECT_TRUE(std::isinf(APMPToInteger(-std::numeric_limits<double>::infinity())));
}

TEST(APMPValuesTest, StructuralEqualityComparesContentsNaNIncludedAndSurvivesCycles) {
    auto runtime = makeRuntime();
    NSErrorPtr error;
    const RV pair = run(*runtime, R"(("7" ("8" "a" NaN "b" ("7" 1 "x")) ("8" "a" NaN "b" ("7" 1 "x"))))", error);
    ASSERT_FALSE(error);
    const auto& maps = pair.as<APMPArrayValue>()->elements();
    EXPECT_TRUE(maps[0].isEqualToRuntimeValue(maps[1]));
    EXPECT_FALSE(maps[0].isEqualToRuntimeValue(RV(runtime->heap().make<APMPArrayValue>())));
    const RV cycles = run(*runtime, R"(("41" "a" "b") ("3" "a" ("7" 1)) ("3" "b" ("7" 1))
        ("2" ("15" "a") "push" ("7" ("15" "a"))) ("2" ("15" "b") "push" ("7" ("15" "b"))) ("7" ("15" "a") ("15" "b")))",
                          error);
    ASSERT_FALSE(error);
    const auto& arrays = cycles.as<APMPArrayValue>()->elements();
    EXPECT_FALSE(arrays[0].isEqualToRuntimeValue(arrays[1]));
    EXPECT_TRUE(arrays[0].isEqualToRuntimeValue(arrays[0]));
    EXPECT_TRUE(RV::number(std::nan("")).isEqualToRuntimeValue(RV::number(std::nan(""))));
    EXPECT_FALSE(RV::number(1).isEqualToRuntimeValue(RV::boolean(true)));
}

TEST(APMPConversionTest, PlainObjectsBecomeValuesAndComeBack) {
    auto runtime = makeRuntime();
    NSErrorPtr error;
    const Value object(Value::Dictionary{{"flag", Value(true)},
                                         {"one", Value(1)},
                                         {"half", Value(0.5)},
                                         {"text", Value("t")},
                                         {"list", Value(Value::Array{Value(1), Value("a")})},
                                         {"nested", Value(Value::Dictionary{{"k", Value("v")}})}});
    const RV value = APMPRuntimeEntityConverter::runtimeValueFromNSObject(object, *runtime, error);
    ASSERT_FALSE(error);
    const auto* map = value.as<APMPMapValue>();
    EXPECT_TRUE(map->valueForProperty(u"flag").isBoolean());
    EXPECT_TRUE(map->valueForProperty(u"one").isNumber());
    const Value back = APMPRuntimeEntityConverter::objectFromRuntimeValue(value, *runtime, error);
    ASSERT_FALSE(error);
    // Booleans come back as numbers; everything else as it was.
    EXPECT_EQ(back["flag"], Value(1.0));
    EXPECT_EQ(back["one"], Value(1.0));
    EXPECT_EQ(back["half"], Value(0.5));
    EXPECT_EQ(back["text"], Value("t"));
    EXPECT_EQ(back["list"], Value(Value::Array{Value(1.0), Value("a")}));
    EXPECT_EQ(back["nested"]["k"], Value("v"));

    EXPECT_TRUE(APMPRuntimeEntityConverter::runtimeValueFromNSObject(Value(), *runtime, error).isNull());
    APMPRuntimeEntityConverter::runtimeValueFromNSObject(Value(NSData{1, 2}), *runtime, error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), APMPErrorUnconvertibleObject);
}

TEST(APMPConversionTest, NullElementsAreLeftOutAndCyclesRefused) {
    auto runtime = makeRuntime();
    NSErrorPtr error;
    const RV list = run(*runtime, R"(("7" 1 ("45") ("44") "007" ("8" "n" ("45"))))", error);
    ASSERT_FALSE(error);
    EXPECT_EQ(APMPRuntimeEntityConverter::objectFromRuntimeValue(list, *runtime, error),
              Value(Value::Array{Value(1.0), Value(""), Value(7.0), Value(Value::Dictionary{})}));
    const RV cyclic = run(*runtime, R"(("41" "m") ("3" "m" ("8" "a" 1)) ("43" ("15" "m") "me" ("7" ("15" "m"))) ("15" "m"))", error);
    ASSERT_FALSE(error);
    const Value::Dictionary partial =
        APMPRuntimeEntityConverter::dictionaryFromMapValue(*cyclic.as<APMPMapValue>(), *runtime, error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), APMPErrorArgumentKind);
    // What was made before the failure comes back with it.
    EXPECT_EQ(partial.get("a"), Value(1.0));
}

TEST(APMPModulesTest, AModuleIsMadeOnceAndAnUnknownNameStaysUndefined) {
    auto runtime = makeRuntime();
    int made = 0;
    runtime->setModuleCreator("counted", [&made](APMPRuntime& r) {
        ++made;
        return RV(r.heap().make<APMPMapValue>());
    });
    NSErrorPtr error;
    const RV same = run(*runtime, R"(("20" ("require" "counted") ("require" "counted")))", error);
    EXPECT_TRUE(same.booleanFlag());
    EXPECT_EQ(made, 1);
    EXPECT_TRUE(run(*runtime, R"(("require" "later"))", error).isUndefined());
    runtime->setModuleCreator("later", [](APMPRuntime& r) { return RV(r.heap().make<APMPMapValue>()); });
    EXPECT_TRUE(run(*runtime, R"(("require" "later"))", error).isUndefined());
    // A creator that fails is asked again next time.
    int failures = 0;
    runtime->setModuleCreator("failing", [&failures](APMPRuntime&) {
        ++failures;
        return std::optional<RV>();
    });
    run(*runtime, R"(("require" "failing"))", error);
    EXPECT_EQ(error->code(), APMPErrorModuleCreatorFailed);
    error.reset();
    run(*runtime, R"(("require" "failing"))", error);
    EXPECT_EQ(failures, 2);
}

TEST(APMPModulesTest, ScriptLevelsBecomeMonitorLevels) {
    // Level: silent, not silent and monitored, neither.
    const std::map<std::int64_t, std::array<std::int64_t, 3>> table = {
        {6, {2, 1, 0}}, {5, {5, 4, 3}}, {3, {7, 7, 7}}, {2, {8, 8, 8}}, {4, {6, 6, 6}}, {0, {6, 6, 6}}, {99, {6, 6, 6}}};
    for (const auto& [level, expected] : table) {
        EXPECT_EQ(APMPixieLogger::monitorLevel(level, true, true), expected[0]) << level;
        EXPECT_EQ(APMPixieLogger::monitorLevel(level, false, true), expected[1]) << level;
        EXPECT_EQ(APMPixieLogger::monitorLevel(level, false, false), expected[2]) << level;
    }
}

TEST(APMPEventTest, EventsAreEqualWithinAnEpsilonOfTime) {
    auto event = APMPEvent::initWithName("e", 1, {{"n", Value(1)}});
    EXPECT_TRUE(event->isEqualToEvent(*APMPEvent::initWithName("e", 1 + 1e-17, {{"n", Value(1.0)}})));
    EXPECT_FALSE(event->isEqualToEvent(*APMPEvent::initWithName("e", 1 + 1e-15, {{"n", Value(1)}})));
    EXPECT_FALSE(event->isEqualToEvent(*APMPEvent::initWithName("f", 1, {{"n", Value(1)}})));
    EXPECT_FALSE(event->isEqualToEvent(*APMPEvent::initWithName("e", 1, {{"n", Value(2)}})));
    auto copy = event->copy();
    copy->setParameter(Value(), "n");
    EXPECT_FALSE(copy->hasParameterName("n"));
    EXPECT_TRUE(event->hasParameterName("n"));
}

TEST(APMPEventTest, MeasurementEventsBecomeEditEventsAndBack) {
    auto items = APMValue::initWithArray(Value(Value::Array{Value(Value::Dictionary{
        {"item_id", Value(APMValue::initWithString(Value("sku")))}, {"price", Value(APMValue::initWithDouble(2.5))}})}));
    auto event = APMEvent::initWithOrigin("app", false, "_vs", 1700000000.25, 0,
                                          {{"count", Value(APMValue::initWithInt64(3))},
                                           {"ratio", Value(APMValue::initWithDouble(0.5))},
                                           {"items", Value(items)}});
    ASSERT_TRUE(event);
    auto edit = event->editEvent();
    EXPECT_EQ(edit->name(), "screen_view");
    EXPECT_EQ(edit->timestamp(), 1700000000.25);
    EXPECT_EQ(edit->parameterForName("count").type(), Value::Type::Integer);
    EXPECT_EQ(edit->parameterForName("ratio"), Value(0.5));
    EXPECT_EQ(edit->parameterForName("_o"), Value("app"));
    EXPECT_EQ(edit->parameterForName("items")[0]["item_id"], Value("sku"));

    edit->setName("purchase");
    edit->setParameter(Value("fa"), "_o");
    auto back = APMEventFromEditEvent(*edit);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name(), "purchase");
    EXPECT_EQ(back->origin(), "fa");
    EXPECT_EQ(back->timestamp(), 1700000000.25);
    EXPECT_EQ(back->previousTimestamp(), 0);
    // A public name with an internal one is stored under it; a created event keeps its name.
    edit->setName("screen_view");
    EXPECT_EQ(APMEventFromEditEvent(*edit)->name(), "_vs");
    EXPECT_EQ(APMEventFromCreatedEvent(*edit)->name(), "screen_view");
    // Without a text origin the event is the application's; a name that is no event name is none.
    edit->setParameter(Value(5), "_o");
    EXPECT_EQ(APMEventFromEditEvent(*edit)->origin(), "app");
    edit->setName("");
    EXPECT_FALSE(APMEventFromEditEvent(*edit));
}

TEST(APMPEventTest, TheMeasurementEventClassTakesEditedEventsBack) {
    auto edit = APMPEvent::initWithName("screen_view", 1700000000.25, {{"_o", Value("fa")}});
    auto event = APMEvent::eventFromEditEvent(*edit);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name(), "_vs");
    EXPECT_EQ(event->origin(), "fa");
    EXPECT_EQ(event->timestamp(), 1700000000.25);
}

// An exception inside a run (here from a module's creator) fails the load or the edit with
// error 18 and goes no further; the event stays as it came and the next one is edited as ever.
TEST(APMPEventTest, AnExceptionInAnEditFailsItAndTheEventStaysAsItCame) {
    auto editing = APMPEventEditing::make();
    editing->setModuleCreator("throwing", [](APMPRuntime&) -> std::optional<RV> { throw std::bad_alloc(); });
    ASSERT_TRUE(editing->loadProgram(program(R"(
        ("52" "register" ("require" "internal.registerCallback"))
        ("50" "edit" ("7" "e")
           ("2" ("15" "e") "setEventName" ("7" "edited"))
           ("22" ("20" ("2" ("15" "e") "getParamValue" ("7" "throw")) true) ("46" ("require" "throwing")))
           ("36" 0))
        ("50" "rule" ("7" "r") ("register" 0 ("15" "edit") ("8" "type" "edit"))))")));
    NSErrorPtr error;
    EXPECT_FALSE(editing->handleEvent(APMPEvent::initWithName("e", 1, {{"throw", Value(true)}}), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), APMPErrorBudgetSpent);
    EXPECT_EQ(editing->eventContext().outputEvent()->name(), "e");
    EXPECT_TRUE(editing->handleEvent(APMPEvent::initWithName("e", 1, {})));
    EXPECT_EQ(editing->eventContext().outputEvent()->name(), "edited");

    auto loading = APMPEventEditing::make();
    loading->setModuleCreator("throwing", [](APMPRuntime&) -> std::optional<RV> { throw std::length_error("x"); });
    EXPECT_FALSE(loading->loadProgram(program(R"(("require" "throwing"))", ""), &error));
    EXPECT_EQ(error->code(), APMPErrorBudgetSpent);
}

TEST(APMPEvaluatorTest, StatementsRunInTheScopeGivenAndAListEndsAtAControlValue) {
    auto runtime = makeRuntime();
    NSErrorPtr error;
    auto scope = runtime->getRunScope();
    std::vector<RV> list;
    for (const auto& entity : entities(R"(("41" "x") ("3" "x" ("0" 2 3)) ("4") ("3" "x" 0))")) {
        list.push_back(APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(entity, *runtime, error));
    }
    ASSERT_FALSE(error);
    EXPECT_EQ(APMPEvaluator::executeStatements(list, *scope, *runtime, error).kind(), RV::Kind::Break);
    EXPECT_EQ(scope->valueForName(u"x").number(), 5);
    EXPECT_FALSE(runtime->globalScope().hasName(u"x"));
    const std::uint32_t counted = runtime->getInstructionCount();
    (void)APMPEvaluator::evaluateStatement(list[3], *scope, *runtime, error);
    EXPECT_FALSE(error);
    EXPECT_EQ(scope->valueForName(u"x").number(), 0);
    EXPECT_GT(runtime->getInstructionCount(), counted);
}

namespace {

// Hands each method call to the evaluator it wraps, and keeps its name.
class RecordingEvaluator final : public APMPCommandEvaluator {
public:
    using APMPCommandEvaluator::evaluateCommand;

    explicit RecordingEvaluator(std::shared_ptr<const APMPCommandEvaluator> wrapped) : wrapped_(std::move(wrapped)) {}
    RV evaluateCommand(const std::u16string& name, const std::u16string& text, std::span<const RV> arguments,
                       APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) const override {
        calls.push_back(name);
        return wrapped_->evaluateCommand(name, text, arguments, scope, runtime, error);
    }
    RV evaluateCommand(const std::u16string& name, APMPArrayValue& array, std::span<const RV> arguments,
                       APMPScope& scope, APMPRuntime& runtime, NSErrorPtr& error) const override {
        calls.push_back(name);
        return wrapped_->evaluateCommand(name, array, arguments, scope, runtime, error);
    }

    mutable std::vector<std::u16string> calls;

private:
    std::shared_ptr<const APMPCommandEvaluator> wrapped_;
};

}  // namespace

// The runtime keeps the string and array evaluators it was made with, and every method call on a
// string or an array goes through them; the editing front makes it with the process's.
TEST(APMPEvaluatorTest, MethodCallsOnStringsAndArraysGoThroughTheRuntimesEvaluators) {
    auto editing = APMPEventEditing::make();
    EXPECT_EQ(&editing->runtime().stringEvaluator(), APMPStringCommandEvaluator::sharedInstance().get());
    EXPECT_EQ(&editing->runtime().arrayEvaluator(), APMPArrayCommandEvaluator::sharedInstance().get());
    auto strings = std::make_shared<RecordingEvaluator>(APMPStringCommandEvaluator::sharedInstance());
    auto arrays = std::make_shared<RecordingEvaluator>(APMPArrayCommandEvaluator::sharedInstance());
    auto runtime = APMPRuntime::make(strings, arrays);
    // Forgotten, as between tests: the runtime keeps the ones it was given.
    APMPStringCommandEvaluator::resetSharedInstance();
    APMPArrayCommandEvaluator::resetSharedInstance();
    NSErrorPtr error;
    EXPECT_EQ(run(*runtime, R"(("2" "abc" "toUpperCase" ("7")))", error).text(), u"ABC");
    EXPECT_EQ(run(*runtime, R"(("2" ("7" 1 2) "join" ("7" ("2" "-" "trim" ("7")))))", error).text(), u"1-2");
    EXPECT_FALSE(error);
    EXPECT_EQ(strings->calls, (std::vector<std::u16string>{u"toUpperCase", u"trim"}));
    EXPECT_EQ(arrays->calls, (std::vector<std::u16string>{u"join"}));
    EXPECT_FALSE(APMPStringCommandEvaluator::hasSharedInstance());
    EXPECT_FALSE(APMPArrayCommandEvaluator::hasSharedInstance());
}

TEST(APMPEvaluatorTest, StringAndArrayMethodsHaveOneEvaluatorEach) {
    auto strings = APMPStringCommandEvaluator::sharedInstance();
    auto arrays = APMPArrayCommandEvaluator::sharedInstance();
    ASSERT_TRUE(strings && arrays);
    EXPECT_EQ(APMPStringCommandEvaluator::sharedInstance(), strings);
    EXPECT_EQ(APMPArrayCommandEvaluator::sharedInstance(), arrays);
    auto runtime = makeRuntime();
    NSErrorPtr error;
    auto scope = runtime->getRunScope();
    EXPECT_EQ(strings->evaluateCommand(u"toUpperCase", u"abc", {}, *scope, *runtime, error).text(), u"ABC");
    auto array = runtime->heap().make<APMPArrayValue>();
    const RV items[] = {RV::number(1), RV::number(2)};
    EXPECT_EQ(arrays->evaluateCommand(u"push", *array, items, *scope, *runtime, error).number(), 2);
    EXPECT_FALSE(error);
    EXPECT_EQ(array->count(), 2u);
}
