// The process's one object made over what its owner hands in: none before that, then made once
// for every thread that asks at once, over what was handed; forgetting it forgets that too.
#include "platform/foundation/ProcessSharedOver.h"
#include "tests/fixtures/AskedAtOnce.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>

namespace {

struct MadeOver {
    std::string over;
};

// Made before any dynamic initialisation, so that another file's may ask for it.
[[maybe_unused]] constinit ProcessSharedOver<MadeOver, std::string> gOverConstantInitialised;

TEST(ProcessSharedOver, NoneBeforeAContextIsHandedThenOneMadeOverItForEveryThreadAtOnce) {
    ProcessSharedOver<MadeOver, std::string> shared;
    std::atomic<int> made{0};
    auto make = [&](const std::string& context) {
        ++made;
        return std::make_shared<MadeOver>(MadeOver{context});
    };
    for (const auto& none : askedAtOnce([&] { return shared.get(make); })) EXPECT_EQ(none, nullptr);
    EXPECT_EQ(made.load(), 0);

    shared.hand("first");
    const auto seen = askedAtOnce([&] { return shared.get(make); });
    EXPECT_EQ(made.load(), 1);
    ASSERT_NE(seen[0], nullptr);
    EXPECT_EQ(seen[0]->over, "first");
    for (const auto& object : seen) EXPECT_EQ(object, seen[0]);
    // Handing another context leaves the one made.
    shared.hand("second");
    EXPECT_EQ(shared.get(make), seen[0]);

    EXPECT_EQ(shared.take(), seen[0]);
    EXPECT_EQ(shared.current(), nullptr);
    EXPECT_EQ(shared.get(make), nullptr) << "what was handed in is forgotten with it";
    shared.hand("third");
    EXPECT_EQ(shared.get(make)->over, "third");
    EXPECT_EQ(made.load(), 2);
    (void)shared.take();
}

TEST(ProcessSharedOver, ALookupWhileAnotherContextIsHandedFindsTheOldOrTheNew) {
    ProcessSharedOver<MadeOver, std::string> shared;
    shared.hand("0");
    std::atomic<bool> asked{false};
    std::latch gate(2);
    std::thread handing([&] {
        gate.arrive_and_wait();
        for (int i = 1; !asked.load(); ++i) shared.hand(std::to_string(i));
    });
    // A `make` that returns none is asked again, so every lookup reads the context.
    constexpr int kLookups = 200'000;
    int misses = 0;
    gate.arrive_and_wait();
    for (int i = 0; i < kLookups; ++i) {
        bool found = false;
        (void)shared.get([&found](const std::string& context) {
            found = !context.empty();
            return std::shared_ptr<MadeOver>();
        });
        if (!found) ++misses;
    }
    asked = true;
    handing.join();
    EXPECT_EQ(misses, 0) << "of " << kLookups << " lookups";
    (void)shared.take();
}

}  // namespace
