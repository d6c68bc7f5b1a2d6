// The process's one object: made once for every thread that asks at once, made again only after
// it is forgotten or when making it gave none.
#include "platform/foundation/ProcessShared.h"
#include "tests/fixtures/AskedAtOnce.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

struct Made {
    int serial = 0;
};

// Made before any dynamic initialisation, so that another file's may ask for it.
[[maybe_unused]] constinit ProcessShared<Made> gConstantInitialised;

TEST(ProcessShared, ThreadsAskingAtOnceGetTheOneMadeAndAForgottenOneIsMadeAgain) {
    ProcessShared<Made> shared;
    std::atomic<int> made{0};
    auto make = [&] {
        auto object = std::make_shared<Made>();
        object->serial = ++made;
        return object;
    };
    const auto seen = askedAtOnce([&] { return shared.get(make); });
    EXPECT_EQ(made.load(), 1);
    for (const auto& object : seen) EXPECT_EQ(object, seen[0]);

    EXPECT_EQ(shared.take(), seen[0]);
    EXPECT_EQ(shared.current(), nullptr) << "forgotten, and not made by looking";
    EXPECT_EQ(shared.get(make)->serial, 2);
    (void)shared.take();  // it never lets go of its own accord
}

TEST(ProcessShared, AMakeThatGivesNoneIsAskedAgain) {
    ProcessShared<Made> shared;
    int asked = 0;
    EXPECT_EQ(shared.get([&] { ++asked; return std::shared_ptr<Made>(); }), nullptr);
    EXPECT_NE(shared.get([&] { ++asked; return std::make_shared<Made>(); }), nullptr);
    EXPECT_EQ(asked, 2);
    (void)shared.take();
}

}  // namespace
