// The main of a benchmark program that works in a temporary home of its own, removed when the
// benchmarks are done.
#pragma once

#include "bench/support/Alternating.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Sandbox.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

namespace bench {

struct TemporaryHomeRun {
    // The events' own time, so that none of them is stale; the real clock when none.
    std::optional<double> manualClock;
    // Off the main thread, as the engine's worker queue runs.
    bool offMainThread = false;
};

inline int runInTemporaryHome(int argc, char** argv, TemporaryHomeRun run) {
    const std::string home = Sandbox::makeTemporaryHome();
    if (run.manualClock) Clock::setManual(*run.manualClock);
    benchmark::Initialize(&argc, argv);
    if (run.offMainThread) {
        std::thread([] { benchmark::RunSpecifiedBenchmarks(); }).join();
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    printRatios();
    if (run.manualClock) Clock::setReal();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}

}  // namespace bench
