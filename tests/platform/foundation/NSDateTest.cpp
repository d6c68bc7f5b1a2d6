// NSDate: "now" comes from the process clock, so a manual clock moves dates too.
#include "platform/foundation/NSDate.h"

#include "platform/foundation/Clock.h"

#include <gtest/gtest.h>

namespace {

TEST(NSDateClock, NowFollowsTheManualClock) {
    Clock::setManual(1000);
    const NSDate start = NSDate::date();
    EXPECT_DOUBLE_EQ(start.timeIntervalSince1970, 1000);
    const NSDate later = NSDate::dateWithTimeIntervalSinceNow(60);
    Clock::advance(25);
    EXPECT_DOUBLE_EQ(NSDate::date().timeIntervalSinceDate(start), 25);
    EXPECT_DOUBLE_EQ(later.timeIntervalSinceNow(), 35);
    EXPECT_LT(start, later);
    EXPECT_EQ(start.dateByAddingTimeInterval(60), later);
    Clock::setReal();
}

TEST(NSDateClock, RealClockIsNearSystemTime) {
    Clock::setReal();
    const double now = NSDate::date().timeIntervalSince1970;
    EXPECT_GT(now, 1.6e9);
    EXPECT_LT(NSDate::distantPast(), NSDate{now});
    EXPECT_LT(NSDate{now}, NSDate::distantFuture());
}

}  // namespace
