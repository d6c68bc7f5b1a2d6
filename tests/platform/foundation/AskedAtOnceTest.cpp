// The fixture the made-once tests share (tests/fixtures/AskedAtOnce.h): its threads ask only once
// all of them run, or the asks would mostly follow one another and prove no lock.
#include "tests/fixtures/AskedAtOnce.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <latch>
#include <set>
#include <string>

namespace {

std::set<std::string> threadsOfTheProcess() {
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ids.insert(entry.path().filename());
    return ids;
}

TEST(AskedAtOnce, EveryThreadRunsBeforeTheFirstAsks) {
    const auto before = threadsOfTheProcess();
    std::atomic<bool> first{true};
    std::size_t runningAtTheFirstAsk = 0;
    // No ask ends, and no thread with it, before the first has counted.
    std::latch counted(1);
    const auto answers = askedAtOnce([&] {
        if (first.exchange(false)) {
            for (const auto& id : threadsOfTheProcess()) runningAtTheFirstAsk += before.count(id) ? 0 : 1;
            counted.count_down();
        } else {
            counted.wait();
        }
        return 1;
    });
    EXPECT_EQ(answers, std::vector<int>(8, 1));
    EXPECT_GE(runningAtTheFirstAsk, 8u) << "the first ask began before every thread was started";
}

}  // namespace
