// The platform's own threads name themselves and are listed while they run.
#include "platform/foundation/PlatformThreads.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>

TEST(PlatformThreads, AMemberIsNamedAndListedForAsLongAsItHoldsItsPlace) {
    pid_t id = 0;
    std::string name;
    bool listedWhileHeld = false;
    std::thread([&] {
        {
            PlatformThreads::Member member("a-name-longer-than-fifteen");
            id = gettid();
            listedWhileHeld = PlatformThreads::running().count(id) == 1;
            std::ifstream comm("/proc/self/task/" + std::to_string(id) + "/comm");
            std::getline(comm, name);
        }
        EXPECT_EQ(PlatformThreads::running().count(id), 0u);
    }).join();
    EXPECT_TRUE(listedWhileHeld);
    EXPECT_EQ(name, "a-name-longer-t");
}
