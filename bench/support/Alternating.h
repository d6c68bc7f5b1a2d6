// A project's unit of work timed against its anchor's on the very same unit, in one process and
// in turns, so that both meet the same load of a shared machine; the benchmark prints their
// ratio itself instead of leaving a reader to divide figures taken at different moments.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>

namespace bench {

struct RatioLine {
    double projectSeconds = 0;  // per unit
    double anchorSeconds = 0;   // per unit
    long long rounds = 0;
    std::string unit;
};

// The last run of each paired benchmark: libbenchmark calls a benchmark several times while it
// sizes the run, and only the last call is the one it reports.
inline std::map<std::string, RatioLine>& ratioLines() {
    static std::map<std::string, RatioLine> lines;
    return lines;
}
inline std::mutex& ratioMutex() {
    static std::mutex mutex;
    return mutex;
}

inline std::string ratioText(const std::string& name, const RatioLine& line) {
    auto scaled = [](double seconds) {
        char text[48];
        if (seconds >= 1e-3)
            std::snprintf(text, sizeof text, "%.3f ms", seconds * 1e3);
        else
            std::snprintf(text, sizeof text, "%.3f us", seconds * 1e6);
        return std::string(text);
    };
    const double times = line.anchorSeconds > 0 ? line.projectSeconds / line.anchorSeconds : 0;
    const double speed = line.projectSeconds > 0 ? line.anchorSeconds / line.projectSeconds : 0;
    char text[320];
    std::snprintf(text, sizeof text, "ratio %s: time %.3fx anchor, speed %.3f of anchor (project %s, anchor %s per %s; %lld rounds)",
                  name.c_str(), times, speed, scaled(line.projectSeconds).c_str(), scaled(line.anchorSeconds).c_str(),
                  line.unit.c_str(), line.rounds);
    return text;
}

// Prints the ratio of every paired benchmark that ran, one line each; main calls it once the
// benchmarks are done, so the lines stand together below libbenchmark's table.
inline void printRatios() {
    std::lock_guard lock(ratioMutex());
    for (const auto& [name, line] : ratioLines()) std::printf("%s\n", ratioText(name, line).c_str());
    std::fflush(stdout);
}

// One side's clock within a round: a side that must set up its unit of work untimed (copy a
// file, make a fresh object) pauses it around that set-up.
class SideTimer {
public:
    using Clock = std::chrono::steady_clock;
    void resume() { start_ = Clock::now(); }
    void pause() { total_ += Clock::now() - start_; }
    Clock::duration total() const { return total_; }

private:
    Clock::time_point start_{};
    Clock::duration total_{};
};

// Runs `project()` and `anchor()` once per iteration (or `project(timer)`, `anchor(timer)` for
// a side that pauses its timer around untimed set-up), the order swapped every iteration, each
// doing `unitsPerCall` units of the same work. Reports each side's time per unit and their
// ratio as counters ("x_anchor": project time over anchor time), and keeps the line
// printRatios() prints.
template <class Project, class Anchor>
void alternate(benchmark::State& state, const std::string& name, const std::string& unit, double unitsPerCall,
               Project&& project, Anchor&& anchor) {
    SideTimer projectTime, anchorTime;
    long long rounds = 0;
    auto timed = [](auto& work, SideTimer& timer) {
        timer.resume();
        if constexpr (std::is_invocable_v<decltype(work), SideTimer&>)
            work(timer);
        else
            work();
        timer.pause();
    };
    for (auto _ : state) {
        if (rounds % 2 == 0) {
            timed(project, projectTime);
            timed(anchor, anchorTime);
        } else {
            timed(anchor, anchorTime);
            timed(project, projectTime);
        }
        ++rounds;
    }
    if (rounds == 0 || unitsPerCall <= 0) return;
    const double units = static_cast<double>(rounds) * unitsPerCall;
    RatioLine line;
    line.projectSeconds = std::chrono::duration<double>(projectTime.total()).count() / units;
    line.anchorSeconds = std::chrono::duration<double>(anchorTime.total()).count() / units;
    line.rounds = rounds;
    line.unit = unit;
    state.counters["project_us"] = line.projectSeconds * 1e6;
    state.counters["anchor_us"] = line.anchorSeconds * 1e6;
    state.counters["x_anchor"] = line.anchorSeconds > 0 ? line.projectSeconds / line.anchorSeconds : 0;
    std::lock_guard lock(ratioMutex());
    ratioLines()[name] = line;
}

}  // namespace bench

// A benchmark program's main that prints the paired ratios after libbenchmark's table.
#define ALTERNATING_BENCHMARK_MAIN()                                        \
    int main(int argc, char** argv) {                                       \
        benchmark::Initialize(&argc, argv);                                 \
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;   \
        benchmark::RunSpecifiedBenchmarks();                                \
        benchmark::Shutdown();                                              \
        bench::printRatios();                                               \
        return 0;                                                           \
    }
