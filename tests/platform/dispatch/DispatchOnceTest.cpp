// Once-only initialisation under many threads at once.
#include "platform/dispatch/DispatchOnce.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(Once, RunsOnceAndEveryCallerSeesItsResult) {
    dispatch_once_t token;
    std::atomic<int> runs{0};
    int value = 0;  // written once, read by all after dispatch_once returns
    std::atomic<int> wrongReads{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            dispatch_once(token, [&] {
                runs.fetch_add(1);
                value = 42;
            });
            if (value != 42) wrongReads.fetch_add(1);
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(wrongReads.load(), 0);
}
