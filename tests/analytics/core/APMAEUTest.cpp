// The installation questions: the encryption command walk over synthetic Mach-O headers, and
// the store-install answer from the bundle, the receipt and the images the process loaded.
#include "analytics/core/APMAEU.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/Sandbox.h"
#include "platform/services/VULAppEnvironmentUtil.h"
#include "platform/ui/UIApplication.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

constexpr std::uint32_t kMagic32 = 0xfeedface;
constexpr std::uint32_t kMagic64 = 0xfeedfacf;

// A Mach-O header of the file type, then the commands as given (each: command, size, words).
struct Command {
    std::uint32_t command;
    std::uint32_t size;
    std::vector<std::uint32_t> words;  // after command and size
};

NSData image(std::uint32_t magic, std::uint32_t fileType, std::uint32_t commandCount, const std::vector<Command>& commands) {
    std::vector<std::uint32_t> header = {magic, 0x0100000c, 0, fileType, commandCount, 0, 0};
    if (magic == kMagic64) header.push_back(0);  // reserved word of the 64-bit header
    for (const Command& command : commands) {
        header.push_back(command.command);
        header.push_back(command.size);
        header.insert(header.end(), command.words.begin(), command.words.end());
    }
    NSData bytes(header.size() * 4);
    std::memcpy(bytes.data(), header.data(), bytes.size());
    return bytes;
}

// The encryption command: crypt offset, size, id (and padding in the 64-bit form).
Command encryption(std::uint32_t command, std::uint32_t cryptID) {
    if (command == 44) return {44, 24, {0x4000, 0x1000, cryptID, 0}};
    return {33, 20, {0x4000, 0x1000, cryptID}};
}
Command segment() { return {0x19, 16, {1, 2}}; }

class FixedImages : public APMImageInfo {
public:
    explicit FixedImages(std::vector<NSData> images) : images_(std::move(images)) {}
    std::vector<NSData> loadedImageHeaders() const override { return images_; }

private:
    std::vector<NSData> images_;
};

TEST(APMAEUTest, TheEncryptionCommandOfTheFirstExecutableImage) {
    const auto flag = [](std::vector<NSData> images) { return APMAEU::mainImageEncryptionFlag(images); };
    EXPECT_TRUE(flag({image(kMagic64, 2, 2, {segment(), encryption(44, 1)})}));
    EXPECT_FALSE(flag({image(kMagic64, 2, 2, {segment(), encryption(44, 0)})}));
    EXPECT_TRUE(flag({image(kMagic32, 2, 2, {segment(), encryption(33, 7)})}));
    // Each width has its own command.
    EXPECT_FALSE(flag({image(kMagic64, 2, 1, {encryption(33, 1)})}));
    EXPECT_FALSE(flag({image(kMagic32, 2, 1, {encryption(44, 1)})}));
    // Only as many commands as the header counts are walked.
    EXPECT_FALSE(flag({image(kMagic64, 2, 1, {segment(), encryption(44, 1)})}));
    // A count larger than the bytes, a zero-sized command, or a cut command read as none.
    EXPECT_FALSE(flag({image(kMagic64, 2, 9, {segment()})}));
    EXPECT_FALSE(flag({image(kMagic64, 2, 2, {{0x19, 0, {}}, encryption(44, 1)})}));
    NSData cut = image(kMagic64, 2, 1, {encryption(44, 1)});
    cut.resize(cut.size() - 12);
    EXPECT_FALSE(flag({cut}));
    // Libraries (file type 6) are passed over; the first executable decides.
    EXPECT_TRUE(flag({image(kMagic64, 6, 1, {encryption(44, 0)}), image(kMagic64, 2, 1, {encryption(44, 1)}),
                      image(kMagic64, 2, 1, {encryption(44, 0)})}));
    EXPECT_FALSE(flag({image(kMagic64, 2, 0, {}), image(kMagic64, 2, 1, {encryption(44, 1)})}));
    EXPECT_FALSE(flag({NSData{0x7f, 'E', 'L', 'F'}, image(kMagic64, 6, 1, {encryption(44, 1)})}));
    EXPECT_FALSE(flag({}));
}

class APMAEUStoreTest : public testing::Test {
protected:
    void SetUp() override {
        previousBundle = NSBundle::mainBundle()->bundlePath();
        bundle = Sandbox::tmp() + "/StoreTest.app";
        std::filesystem::create_directories(bundle);
        NSBundle::setMainBundlePath(bundle);
    }
    void TearDown() override {
        APMAEU::setImageInfo(nullptr);
        VULAppEnvironmentUtil::setDeviceModel("");
        std::filesystem::remove_all(bundle);
        std::filesystem::remove_all(Sandbox::home() + "/StoreKit");
        NSBundle::setMainBundlePath(previousBundle);
    }
    void setEncrypted(bool encrypted) {
        APMAEU::setImageInfo(std::make_shared<FixedImages>(
            std::vector<NSData>{image(kMagic64, 2, 1, {encryption(44, encrypted ? 1 : 0)})}));
    }
    void writeInfo(const std::string& xmlBody) {
        std::ofstream(bundle + "/Info.plist") << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" << xmlBody
                                              << "</dict></plist>";
        NSBundle::resetCaches();
    }
    std::string previousBundle;
    std::string bundle;
};

TEST_F(APMAEUStoreTest, StoreInstallsFromTheBundleReceiptAndImages) {
    // The process's own images (an ELF executable) are never encrypted.
    EXPECT_FALSE(APMAEU::isMainImageEncrypted());
    EXPECT_FALSE(APMAEU::isNOD());
    EXPECT_FALSE(APMAEU::isFAS());

    setEncrypted(true);
    EXPECT_TRUE(APMAEU::isFAS());
    // A provisioning profile marks a developer install.
    std::ofstream(bundle + "/embedded.mobileprovision") << "profile";
    EXPECT_FALSE(APMAEU::isFAS());
    std::filesystem::remove(bundle + "/embedded.mobileprovision");

    setEncrypted(false);
    EXPECT_FALSE(APMAEU::isFAS());
    std::filesystem::create_directories(bundle + "/SC_Info");
    EXPECT_TRUE(APMAEU::isFAS());

    // Never on a simulator, whatever the bundle holds.
    VULAppEnvironmentUtil::setDeviceModel("x86_64");
    EXPECT_TRUE(APMAEU::isNOD());
    EXPECT_FALSE(APMAEU::isFAS());
    VULAppEnvironmentUtil::setDeviceModel("");

    // A test-store receipt is not a store install, unless the receipt check is switched off.
    std::filesystem::create_directories(Sandbox::home() + "/StoreKit");
    std::ofstream(Sandbox::home() + "/StoreKit/sandboxReceipt") << "receipt";
    EXPECT_TRUE(APMAEU::isASRS());
    EXPECT_FALSE(APMAEU::isFAS());
    writeInfo("<key>RezaviviAppStoreReceiptURLCheckEnabled</key><false/>");
    EXPECT_FALSE(APMAEU::appStoreRURL());
    EXPECT_FALSE(APMAEU::isASRS());
    EXPECT_TRUE(APMAEU::isFAS());
}

TEST_F(APMAEUStoreTest, ExtensionsByTheirBundleNameHaveNoApplication) {
    EXPECT_FALSE(APMAEU::isAEX());
    EXPECT_EQ(APMAEU::sharedApplication(), UIApplication::sharedApplication());
    ASSERT_NE(APMAEU::sharedApplication(), nullptr);
    const std::string extension = Sandbox::tmp() + "/Widget.appex";
    std::filesystem::create_directories(extension);
    NSBundle::setMainBundlePath(extension);
    EXPECT_TRUE(APMAEU::isAEX());
    EXPECT_EQ(APMAEU::sharedApplication(), nullptr);
    std::filesystem::remove_all(extension);
}

}  // namespace
