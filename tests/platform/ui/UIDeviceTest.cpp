// The vendor identifier is kept in the home: every launch on the same home reads the same one,
// another home has its own, and what cannot be read or kept is said, never silently replaced.
#include "platform/foundation/FileData.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIDevice.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class UIDeviceTest : public testing::Test {
protected:
    void SetUp() override {
        home = Sandbox::home();
        otherHome = home + "/other-home";
    }
    void TearDown() override { Sandbox::setHome(home); }

    // A new launch on `path`: its next read reads the identifier of that home again.
    void launchIn(const std::string& path) {
        Sandbox::setHome(otherHome == path ? home : otherHome);
        UIDevice::currentDevice()->setIdentifierForVendor(nullptr);
        Sandbox::setHome(path);
    }
    static std::string vendorID() { return UIDevice::currentDevice()->identifierForVendor()->UUIDString(); }
    static std::string stored() {
        const auto data = readDataFromFile(UIDevice::identifierForVendorPath());
        return data ? std::string(data->begin(), data->end()) : std::string("(none)");
    }

    std::string home;
    std::string otherHome;
};

}  // namespace

TEST_F(UIDeviceTest, TheVendorIdentifierIsKeptInTheHomeAcrossLaunches) {
    const std::string first = vendorID();
    EXPECT_EQ(first.size(), 36u);
    EXPECT_EQ(stored(), first + "\n");
    EXPECT_EQ(vendorID(), first);

    // Another home is another installation: its own identifier.
    launchIn(otherHome);
    const std::string other = vendorID();
    EXPECT_NE(other, first);

    // Launched again on the first home, the device reads what it kept there.
    launchIn(home);
    EXPECT_EQ(vendorID(), first);

    // The host may set one for this home, and none (a locked device).
    UIDevice::currentDevice()->setIdentifierForVendor(nullptr);
    EXPECT_FALSE(UIDevice::currentDevice()->identifierForVendor());
    launchIn(home);
    EXPECT_EQ(vendorID(), first);
}

TEST_F(UIDeviceTest, AnIdentifierThatCannotBeKeptOrReadIsSaidAndNeverOverwritesTheStoredOne) {
    {
        // A full disk: this launch has an identifier, and says that the next one will differ.
        FaultInjection faults;
        faults->noSpace("*/Device/*");
        testing::internal::CaptureStderr();
        const std::string unkept = vendorID();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_GE(faults->injected(), 1);
        EXPECT_EQ(unkept.size(), 36u);
        EXPECT_NE(said.find("The identifier for vendor cannot be kept in " + UIDevice::identifierForVendorPath()),
                  std::string::npos)
            << said;
        EXPECT_NE(said.find("the next launch will make another one"), std::string::npos) << said;
        EXPECT_EQ(stored(), "(none)");
        EXPECT_EQ(vendorID(), unkept);
    }
    // Once the disk has room, the next launch keeps its identifier.
    launchIn(home);
    const std::string kept = vendorID();
    EXPECT_EQ(stored(), kept + "\n");

    {
        // A file that exists but cannot be read is left for a later launch that can.
        FaultInjection faults;
        faults->ioError(FaultyFileIO::Operation::Read, "*/Device/identifierForVendor");
        launchIn(home);
        testing::internal::CaptureStderr();
        const std::string substitute = vendorID();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(substitute, kept);
        EXPECT_NE(said.find("cannot be read"), std::string::npos) << said;
    }
    EXPECT_EQ(stored(), kept + "\n");
    launchIn(home);
    EXPECT_EQ(vendorID(), kept);

    // Garbage in its place is replaced, and said.
    ASSERT_TRUE(writeDataToFile(NSData{'x', 'y'}, UIDevice::identifierForVendorPath(), true));
    launchIn(home);
    testing::internal::CaptureStderr();
    const std::string replaced = vendorID();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("is not an identifier"), std::string::npos) << said;
    EXPECT_EQ(stored(), replaced + "\n");
}
