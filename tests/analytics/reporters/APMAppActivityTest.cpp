// The application's activity: inactive until the screen-view reporter answers, then its answer.
#include "analytics/reporters/APMAppActivity.h"

#include <gtest/gtest.h>

TEST(APMAppActivityTest, InactiveWithoutTheReportersAnswerThenItsAnswer) {
    EXPECT_FALSE(APMIsAppActive());
    bool active = true;
    APMSetAppActiveProvider([&active] { return active; });
    EXPECT_TRUE(APMIsAppActive());
    active = false;
    EXPECT_FALSE(APMIsAppActive());
    APMSetAppActiveProvider(nullptr);
    EXPECT_FALSE(APMIsAppActive());
}
