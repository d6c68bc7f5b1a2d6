// The device the process stands for: the machine's own unless the host names one.
#include "platform/services/VULAppEnvironmentUtil.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

TEST(VULAppEnvironmentUtilTest, MachineValuesUnlessSet) {
    struct utsname name {};
    ASSERT_EQ(uname(&name), 0);
    EXPECT_EQ(VULAppEnvironmentUtil::deviceModel(), name.machine);
    EXPECT_FALSE(VULAppEnvironmentUtil::systemVersion().empty());
    VULAppEnvironmentUtil::setDeviceModel("iPhone14,2");
    VULAppEnvironmentUtil::setSystemVersion("17.2");
    EXPECT_EQ(VULAppEnvironmentUtil::deviceModel(), "iPhone14,2");
    EXPECT_EQ(VULAppEnvironmentUtil::systemVersion(), "17.2");
    VULAppEnvironmentUtil::setDeviceModel("");
    VULAppEnvironmentUtil::setSystemVersion("");
    EXPECT_EQ(VULAppEnvironmentUtil::deviceModel(), name.machine);
}
