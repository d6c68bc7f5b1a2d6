// Process facts and the platform version the code branches on.
#include "platform/foundation/NSProcessInfo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

TEST(ProcessInfo, ArgumentsAndNameComeFromMain) {
    const auto launched = NSProcessInfo::processInfo()->arguments();
    const char* argv[] = {"/opt/app/bin/Gallery", "-RURDebugEnabled", "--bundle", "/tmp/b"};
    NSProcessInfo::setArguments(4, argv);
    const auto info = NSProcessInfo::processInfo();
    EXPECT_EQ(info->arguments(), (std::vector<std::string>{"/opt/app/bin/Gallery", "-RURDebugEnabled", "--bundle", "/tmp/b"}));
    EXPECT_EQ(info->processName(), "Gallery");
    NSProcessInfo::setArguments(std::vector<std::string>{});
    EXPECT_TRUE(info->arguments().empty());
    EXPECT_FALSE(info->processName().empty()) << "falls back to the kernel's name";
    EXPECT_EQ(info->processIdentifier(), static_cast<int>(::getpid()));
    NSProcessInfo::setArguments(launched);
}

TEST(ProcessInfo, EnvironmentIsReadAtTheTimeOfTheCall) {
    ::setenv("ActivePrewarm", "1", 1);
    auto environment = NSProcessInfo::processInfo()->environment();
    EXPECT_EQ(environment["ActivePrewarm"], "1");
    ::unsetenv("ActivePrewarm");
    EXPECT_EQ(NSProcessInfo::processInfo()->environment().count("ActivePrewarm"), 0u);
}

TEST(ProcessInfo, OperatingSystemVersionComparisons) {
    const auto info = NSProcessInfo::processInfo();
    const NSOperatingSystemVersion version = info->operatingSystemVersion();
    EXPECT_EQ(version.majorVersion, 15);
    EXPECT_EQ(version.minorVersion, 0);
    EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({11, 3, 0}));
    EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({15, 0, 0}));
    EXPECT_FALSE(info->isOperatingSystemAtLeastVersion({15, 0, 1}));

    NSProcessInfo::setOperatingSystemVersion({13, 4, 1});
    EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({13, 4, 0}));
    EXPECT_TRUE(info->isOperatingSystemAtLeastVersion({12, 9, 9}));
    EXPECT_FALSE(info->isOperatingSystemAtLeastVersion({13, 5, 0}));
    EXPECT_FALSE(info->isOperatingSystemAtLeastVersion({14, 0, 0}));
    NSProcessInfo::setOperatingSystemVersion({15, 0, 0});
}
