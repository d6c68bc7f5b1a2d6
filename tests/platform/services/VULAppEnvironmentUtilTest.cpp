// The device the process stands for: a phone, never the build machine, unless the host names one.
#include "platform/services/VULAppEnvironmentUtil.h"

#include "platform/foundation/NSProcessInfo.h"

#include <gtest/gtest.h>

TEST(VULAppEnvironmentUtilTest, PhoneValuesUnlessSet) {
    EXPECT_EQ(VULAppEnvironmentUtil::deviceModel(), "iPhone14,2");
    EXPECT_EQ(VULAppEnvironmentUtil::systemVersion(), "15.0");
    NSProcessInfo::setOperatingSystemVersion({16, 4, 1});
    EXPECT_EQ(VULAppEnvironmentUtil::systemVersion(), "16.4.1");
    NSProcessInfo::setOperatingSystemVersion({15, 0, 0});

    VULAppEnvironmentUtil::setDeviceModel("iPad13,1");
    VULAppEnvironmentUtil::setSystemVersion("17.2");
    EXPECT_EQ(VULAppEnvironmentUtil::deviceModel(), "iPad13,1");
    EXPECT_EQ(VULAppEnvironmentUtil::systemVersion(), "17.2");
    VULAppEnvironmentUtil::setDeviceModel("");
    VULAppEnvironmentUtil::setSystemVersion("");
    EXPECT_EQ(VULAppEnvironmentUtil::deviceModel(), "iPhone14,2");
    EXPECT_EQ(VULAppEnvironmentUtil::systemVersion(), "15.0");
}
