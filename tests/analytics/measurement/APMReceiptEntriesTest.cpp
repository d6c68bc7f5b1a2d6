// Receipts built as the store writes them (DER, with long-form lengths where a value is long):
// the in-app purchase entries and their fields, the original version behind long lengths, and
// truncated or hostile receipts that yield nothing and read nothing outside their bytes.
#include "analytics/measurement/APMReceipt.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/Sandbox.h"
#include "platform/services/VULAppEnvironmentUtil.h"
#include "platform/store/SKStoreReceipt.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Receipts are written as the stand-in store writes them.
using DER = SKStoreReceipt;

NSData bytesOf(const std::string& text) { return NSData(text.begin(), text.end()); }

NSData join(std::initializer_list<NSData> parts) {
    NSData out;
    for (const NSData& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

NSData utf8(const std::string& text) { return DER::der(0x0C, bytesOf(text)); }
NSData ia5(const std::string& text) { return DER::der(0x16, bytesOf(text)); }

struct Entry {
    std::string product;
    std::string transaction;
    std::string purchaseDate = "2026-01-02T03:04:05Z";
    std::uint8_t freeTrial = 0;
    std::uint8_t introductory = 1;
    std::uint8_t type = 3;
    NSData webOrder = {0x00};
};

NSData entry(const Entry& e) {
    const NSData fields = join({DER::attribute(1702, utf8(e.product)),
                                DER::attribute(1703, utf8(e.transaction)),
                                DER::attribute(1705, utf8("orig-" + e.transaction)),
                                DER::attribute(1704, ia5(e.purchaseDate)),
                                DER::attribute(1706, ia5("2025-12-31T00:00:00Z")),
                                DER::attribute(1708, ia5("2026-02-02T03:04:05Z")),
                                DER::attribute(1713, DER::der(0x02, {e.freeTrial})),
                                DER::attribute(1719, DER::der(0x02, {e.introductory})),
                                DER::attribute(1707, DER::der(0x02, {e.type})),
                                DER::attribute(1711, DER::der(0x02, e.webOrder))});
    return DER::attribute(17, DER::der(0x31, fields));
}

// The receipt's payload as a SET of attributes inside a signed-data-like SEQUENCE.
NSData receipt(std::initializer_list<NSData> attributes) {
    return DER::der(0x30, join({DER::der(0x06, {0x2A, 0x86, 0x48}), DER::der(0x31, join(attributes))}));
}

TEST(APMReceiptEntriesTest, EachEntryGivesItsOwnIdentifiersDatesAndOffers) {
    const NSData bytes = receipt({DER::attribute(2, utf8("com.example.app")), DER::attribute(19, utf8("41")),
                                  entry({.product = "gold", .transaction = "t-1", .webOrder = {0x01, 0x02}}),
                                  entry({.product = "silver", .transaction = "t-2", .purchaseDate = "2026-03-04T00:00:00Z",
                                         .freeTrial = 1, .introductory = 0, .type = 1})});
    const auto items = APMReceiptInAppPurchaseItems(bytes);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].productID, "gold");
    EXPECT_EQ(items[0].transactionID, "t-1");
    EXPECT_EQ(items[0].originalTransactionID, "orig-t-1");
    EXPECT_EQ(items[0].purchaseDateIA5String, "2026-01-02T03:04:05Z");
    EXPECT_EQ(items[0].originalPurchaseDateIA5String, "2025-12-31T00:00:00Z");
    EXPECT_EQ(items[0].subscriptionExpirationDateIA5String, "2026-02-02T03:04:05Z");
    EXPECT_FALSE(items[0].freeTrial);
    EXPECT_TRUE(items[0].introductoryOffer);
    EXPECT_EQ(items[0].purchaseType, 3);
    EXPECT_EQ(items[0].webOrderLineItemID, 0x0102u);
    EXPECT_EQ(items[0].cancellationDateIA5String, "");
    EXPECT_EQ(items[1].productID, "silver");
    EXPECT_EQ(items[1].transactionID, "t-2");
    EXPECT_EQ(items[1].purchaseDateIA5String, "2026-03-04T00:00:00Z");
    EXPECT_TRUE(items[1].freeTrial);
    EXPECT_FALSE(items[1].introductoryOffer);
    EXPECT_EQ(items[1].purchaseType, 1);
    // A web order line id of 0 is not kept.
    EXPECT_EQ(items[1].webOrderLineItemID, std::nullopt);
    EXPECT_EQ(APMReceiptOriginalVersion(bytes), "41");
}

TEST(APMReceiptEntriesTest, LongValuesAreReadWholeThroughTheirLongFormLengths) {
    const std::string longProduct(300, 'p');
    const std::string longVersion = "1." + std::string(200, '9');
    const NSData bytes = receipt({DER::attribute(19, utf8(longVersion)),
                                  entry({.product = longProduct, .transaction = std::string(130, 't')}),
                                  entry({.product = "short", .transaction = "s"})});
    const auto items = APMReceiptInAppPurchaseItems(bytes);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].productID, longProduct);
    EXPECT_EQ(items[0].transactionID, std::string(130, 't'));
    EXPECT_EQ(items[0].purchaseType, 3);
    EXPECT_EQ(items[1].productID, "short");
    EXPECT_EQ(APMReceiptOriginalVersion(bytes), longVersion);
}

TEST(APMReceiptEntriesTest, TruncatedAndOddEntriesYieldOnlyWhatTheirBytesHold) {
    EXPECT_TRUE(APMReceiptInAppPurchaseItems({}).empty());
    // An entry without a product is not listed; a flag of 2 leaves NO.
    const NSData noProduct = DER::attribute(17, DER::der(0x31, DER::attribute(1703, utf8("t-0"))));
    const NSData odd = entry({.product = "odd", .transaction = "t-9", .freeTrial = 2});
    const auto items = APMReceiptInAppPurchaseItems(receipt({noProduct, odd}));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].productID, "odd");
    EXPECT_FALSE(items[0].freeTrial);

    // Cut anywhere, a receipt gives at most the fields wholly inside it.
    const NSData whole = receipt({entry({.product = "gold", .transaction = "t-1"})});
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const NSData cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        for (const auto& item : APMReceiptInAppPurchaseItems(cut)) {
            EXPECT_EQ(item.productID, "gold") << size;
            EXPECT_TRUE(item.transactionID.empty() || item.transactionID == "t-1") << size;
        }
    }
}

TEST(APMReceiptEntriesTest, HostileLengthsMatchNothing) {
    const std::vector<std::uint8_t> pattern = {0x04, APMReceiptAnyByte};
    // Long form: two length bytes.
    EXPECT_EQ(APMReceiptDataMatchingPattern(pattern, NSData{0x04, 0x81, 0x02, 'h', 'i'}, 0), (NSData{'h', 'i'}));
    // A length past the end, an indefinite length, more length bytes than any receipt needs,
    // and length bytes that run past the end.
    EXPECT_EQ(APMReceiptDataMatchingPattern(pattern, NSData{0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 'x'}, 0), std::nullopt);
    EXPECT_EQ(APMReceiptDataMatchingPattern(pattern, NSData{0x04, 0x80, 'x', 'y'}, 0), std::nullopt);
    EXPECT_EQ(APMReceiptDataMatchingPattern(pattern, NSData{0x04, 0x89, 0, 0, 0, 0, 0, 0, 0, 0, 1, 'x'}, 0),
              std::nullopt);
    EXPECT_EQ(APMReceiptDataMatchingPattern(pattern, NSData{0x04, 0x83, 0x00, 0x01}, 0), std::nullopt);
    // Later pattern bytes follow the long length's bytes.
    const std::vector<std::uint8_t> nested = {0x04, APMReceiptAnyByte, 0x0C, APMReceiptAnyByte};
    EXPECT_EQ(APMReceiptDataMatchingPattern(nested, NSData{0x04, 0x81, 0x04, 0x0C, 0x02, 'o', 'k'}, 0),
              (NSData{'o', 'k'}));
    // A value byte after a non-tag is not a length, whatever its size.
    const std::vector<std::uint8_t> value = {0x01, APMReceiptAnyByte};
    NSData many = {0x01, 0x82};
    many.resize(0x84, 'z');
    EXPECT_EQ(APMReceiptDataMatchingPattern(value, many, 0)->size(), 0x82u);
}

class APMReceiptFileTest : public testing::Test {
protected:
    void SetUp() override {
        bundle_ = Sandbox::tmp() + "/ReceiptTest.app";
        std::filesystem::create_directories(bundle_);
        std::ofstream(bundle_ + "/Info.plist")
            << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleVersion</key><string>41</string>"
               "</dict></plist>";
        scoped_.emplace(bundle_);
        VULAppEnvironmentUtil::setDeviceModel("iPhone14,2");
        std::filesystem::create_directories(Sandbox::home() + "/StoreKit");
    }
    void TearDown() override {
        VULAppEnvironmentUtil::setDeviceModel("");
        scoped_.reset();
        std::filesystem::remove_all(bundle_);
        std::filesystem::remove_all(Sandbox::home() + "/StoreKit");
    }
    void writeReceipt(const NSData& bytes) {
        std::ofstream out(Sandbox::home() + "/StoreKit/receipt", std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::string bundle_;
    std::optional<ScopedMainBundle> scoped_;
};

TEST_F(APMReceiptFileTest, TheInstalledBuildIsComparedWithTheReceiptsOriginalVersion) {
    EXPECT_FALSE(APMIsVersionSameAsOriginalVersion());  // no receipt
    writeReceipt(receipt({DER::attribute(19, utf8("41"))}));
    EXPECT_TRUE(APMIsVersionSameAsOriginalVersion());
    writeReceipt(receipt({DER::attribute(19, utf8("40"))}));
    EXPECT_FALSE(APMIsVersionSameAsOriginalVersion());
    writeReceipt(receipt({DER::attribute(19, utf8("41" + std::string(150, ' ')))}));
    EXPECT_FALSE(APMIsVersionSameAsOriginalVersion());
}

TEST_F(APMReceiptFileTest, APipeAtTheReceiptsPathIsNoReceiptAndIsNeverWaitedOn) {
    const std::string path = Sandbox::home() + "/StoreKit/receipt";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // Read on a thread of its own, so that a read that waits for a writer fails the test
    // instead of holding it; the pipe is then written to and closed, which ends such a read.
    auto read = std::async(std::launch::async, [] {
        return std::make_pair(APMStoreReceiptInAppPurchaseItems().has_value(), APMIsVersionSameAsOriginalVersion());
    });
    const bool finished = read.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    // Each read that waits for a writer ends when one opens the pipe and closes it again.
    while (read.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
    ASSERT_TRUE(finished) << "the receipt's reader waited for someone to write to the pipe";
    const auto [entries, sameVersion] = read.get();
    EXPECT_FALSE(entries);
    EXPECT_FALSE(sameVersion);
}

}  // namespace
