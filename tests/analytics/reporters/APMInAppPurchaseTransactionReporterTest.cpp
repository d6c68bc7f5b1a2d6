// Purchased transactions into purchase events: each kind of purchase the receipt can bear out
// (consumable, non-consumable, renewals, free trials, introductory offers) and those it cannot;
// the product cache and the store's answers, including a store that cannot be reached.
#include "ReporterTestSupport.h"

#include "analytics/core/APMDataUtil.h"
#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Digest.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"
#include "platform/store/SKStoreCatalogue.h"
#include "tests/fixtures/AskedAtOnce.h"

#include <gtest/gtest.h>

#include <mutex>

namespace {

constexpr double kPurchased = 1767323045;  // 2026-01-02T03:04:05Z
constexpr const char* kPurchasedText = "2026-01-02T03:04:05Z";

std::shared_ptr<NSDecimalNumber> decimal(const std::string& text) { return NSDecimalNumber::decimalNumberWithString(text); }

std::shared_ptr<SKProduct> product(const std::string& identifier, const std::string& price = "0.99",
                                   std::shared_ptr<SKProductDiscount> introductory = nullptr) {
    SKProduct::Fields fields;
    fields.productIdentifier = identifier;
    fields.price = decimal(price);
    fields.currencyCode = "USD";
    fields.localizedTitle = "Title of " + identifier;
    fields.introductoryPrice = std::move(introductory);
    return SKProduct::make(std::move(fields));
}

std::shared_ptr<SKPaymentTransaction> made(SKPaymentTransactionState state, std::optional<std::string> identifier,
                                           const std::string& productID) {
    SKPaymentTransaction::Fields fields;
    fields.state = state;
    fields.transactionIdentifier = std::move(identifier);
    fields.payment = SKPayment::paymentWithProductIdentifier(productID);
    return SKPaymentTransaction::make(std::move(fields));
}

std::shared_ptr<SKPaymentTransaction> transaction(const std::string& productID, const std::string& identifier,
                                                  const std::string& original = "", std::int64_t quantity = 1,
                                                  double date = kPurchased) {
    SKPaymentTransaction::Fields fields;
    fields.transactionIdentifier = identifier;
    fields.transactionDate = date;
    fields.payment = SKPayment::paymentWithProductIdentifier(productID, quantity);
    if (!original.empty()) fields.originalTransaction = made(SKPaymentTransactionState::Purchased, original, productID);
    return SKPaymentTransaction::make(std::move(fields));
}

APMInAppPurchaseItem entry(const std::string& productID, const std::string& transactionID, const std::string& originalID,
                           std::int64_t type, const std::string& date = kPurchasedText) {
    APMInAppPurchaseItem item;
    item.productID = productID;
    item.transactionID = transactionID;
    item.originalTransactionID = originalID;
    item.purchaseType = type;
    item.purchaseDateIA5String = date;
    return item;
}

std::int64_t md5Tail(const std::string& text) {
    const NSData digest = Digest::MD5(text);
    std::int64_t folded = 0;
    for (std::size_t i = 8; i < 16; ++i) folded = static_cast<std::int64_t>((static_cast<std::uint64_t>(folded) << 8) | digest[i]);
    return folded;
}

class APMInAppPurchaseTransactionReporterTest : public testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(kPurchased + 60);
        reporter = APMInAppPurchaseTransactionReporter::initWithEventSink(
            sink,
            [this] {
                std::lock_guard lock(mutex);
                return receipt;
            },
            [this](const SKPaymentTransactions& transactions) {
                std::lock_guard lock(mutex);
                unreported.insert(unreported.end(), transactions.begin(), transactions.end());
            });
        ASSERT_NE(reporter, nullptr);
    }
    void TearDown() override {
        settle();
        reporter.reset();
        SKStoreCatalogue::reset();
        Clock::setReal();
    }
    static void settle() { Clock::advance(0); }

    void setReceipt(std::optional<APMInAppPurchaseItems> items) {
        std::lock_guard lock(mutex);
        receipt = std::move(items);
    }
    // The events the transactions became, after the store answered.
    std::vector<std::shared_ptr<APMEvent>> report(const SKPaymentTransactions& transactions) {
        {
            std::lock_guard lock(sink->mutex);
            sink->logged.clear();
        }
        reporter->paymentQueue(SKPaymentQueue::defaultQueue(), transactions);
        settle();
        reporter->queue()->sync([] {});
        std::lock_guard lock(sink->mutex);
        return sink->logged;
    }
    std::shared_ptr<APMEvent> reportOne(const std::shared_ptr<SKPaymentTransaction>& purchase) {
        auto events = report({purchase});
        EXPECT_EQ(events.size(), 1u);
        return events.empty() ? nullptr : events.front();
    }

    std::shared_ptr<RecordingEventSink> sink = std::make_shared<RecordingEventSink>();
    std::shared_ptr<APMInAppPurchaseTransactionReporter> reporter;
    std::mutex mutex;
    std::optional<APMInAppPurchaseItems> receipt;
    SKPaymentTransactions unreported;
};

TEST_F(APMInAppPurchaseTransactionReporterTest, AConsumableBoughtOnceIsAPurchaseWithItsPriceValueAndDeduplicationID) {
    SKStoreCatalogue::addProduct(product("coins"));
    setReceipt(APMInAppPurchaseItems{entry("coins", "t1", "t1", 1)});
    auto event = reportOne(transaction("coins", "t1", "", 3));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->name(), "_iap");
    EXPECT_EQ(event->origin(), "auto");
    EXPECT_EQ(stringParameter(*event, "product_id"), "coins");
    EXPECT_EQ(stringParameter(*event, "product_name"), "Title of coins");
    EXPECT_EQ(stringParameter(*event, "currency"), "USD");
    EXPECT_EQ(intParameter(*event, "price"), 990000);
    EXPECT_EQ(intParameter(*event, "value"), 2970000);
    EXPECT_EQ(intParameter(*event, "quantity"), 3);
    EXPECT_EQ(intParameter(*event, "_did"), md5Tail("t1coins"));
    EXPECT_EQ(intParameter(*event, "_did"), APMPurchaseDeduplicationID("t1", std::nullopt, "coins"));
    EXPECT_FALSE(event->parameters().contains("subscription"));
    EXPECT_FALSE(event->parameters().contains("invalid"));

    // Known now: the next purchase of it asks the store nothing more.
    const std::size_t requests = SKStoreCatalogue::requestCount();
    EXPECT_EQ(reportOne(transaction("coins", "t1"))->name(), "_iap");
    EXPECT_EQ(SKStoreCatalogue::requestCount(), requests);
}

TEST_F(APMInAppPurchaseTransactionReporterTest, PurchasesTheReceiptDoesNotBearOutAreReportedAsSuch) {
    SKStoreCatalogue::addProduct(product("sword"));
    SKStoreCatalogue::addProduct(product("potion"));
    // A non-consumable restored on another device.
    setReceipt(APMInAppPurchaseItems{entry("sword", "t9", "t1", 0), entry("potion", "p1", "p1", 1, "2025-01-01T00:00:00Z"),
                                     entry("potion", "p2", "p2", 1, "2025-02-01T00:00:00Z")});
    auto restored = reportOne(transaction("sword", "t9", "t1"));
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->name(), "_iapx");
    EXPECT_FALSE(restored->parameters().contains("invalid"));
    EXPECT_FALSE(restored->parameters().contains("sandbox"));
    // A product with no entry at all.
    SKStoreCatalogue::addProduct(product("shield"));
    EXPECT_EQ(reportOne(transaction("shield", "s1"))->name(), "_iapx");
    // A consumable with several entries, none of this purchase's date, is not called a renewal.
    auto unborne = reportOne(transaction("potion", "p3"));
    ASSERT_NE(unborne, nullptr);
    EXPECT_EQ(unborne->name(), "_iapx");
    EXPECT_FALSE(unborne->parameters().contains("subscription"));
    // No receipt at all.
    setReceipt(std::nullopt);
    EXPECT_EQ(reportOne(transaction("sword", "t10"))->name(), "_iapx");
}

TEST_F(APMInAppPurchaseTransactionReporterTest, ATestStoreReceiptMarksUnborneOutPurchasesAsSandbox) {
    const std::string folder = NSString::stringByAppendingPathComponent(Sandbox::home(), "StoreKit");
    const std::string path = NSString::stringByAppendingPathComponent(folder, "sandboxReceipt");
    ASSERT_TRUE(NSFileManager::defaultManager()->createDirectoryAtPath(folder, true));
    ASSERT_TRUE(writeDataToFile(NSData{0x31, 0x00}, path, true));
    SKStoreCatalogue::addProduct(product("sword"));
    auto event = reportOne(transaction("sword", "t1"));
    ASSERT_TRUE(NSFileManager::defaultManager()->removeItemAtPath(folder));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->name(), "_iapx");
    EXPECT_EQ(intParameter(*event, "sandbox"), 1);
}

TEST_F(APMInAppPurchaseTransactionReporterTest, SubscriptionsStartRenewAndConvertFromFreeTrials) {
    SKStoreCatalogue::addProduct(product("monthly", "4.99"));
    auto trial = entry("monthly", "m1", "m1", 3, "2026-01-01T00:00:00Z");
    trial.freeTrial = true;
    trial.webOrderLineItemID = 7001;
    auto firstPaid = entry("monthly", "m2", "m1", 3, "2026-01-02T03:04:05Z");
    firstPaid.webOrderLineItemID = 7002;
    auto secondPaid = entry("monthly", "m3", "m1", 3, "2026-02-02T03:04:05Z");
    secondPaid.webOrderLineItemID = 7003;
    setReceipt(APMInAppPurchaseItems{secondPaid, trial, firstPaid});

    // The free trial's start: nothing paid, the price it would have cost kept.
    auto started = reportOne(transaction("monthly", "m1", "", 1, *APMReceiptDateFromIA5String("2026-01-01T00:00:00Z")));
    ASSERT_NE(started, nullptr);
    EXPECT_EQ(started->name(), "_iap");
    EXPECT_EQ(intParameter(*started, "subscription"), 1);
    EXPECT_EQ(intParameter(*started, "free_trial"), 1);
    EXPECT_EQ(intParameter(*started, "price_is_discounted"), 1);
    EXPECT_EQ(intParameter(*started, "price"), 0);
    EXPECT_EQ(intParameter(*started, "value"), 0);
    EXPECT_EQ(intParameter(*started, "original_price"), 4990000);
    EXPECT_EQ(intParameter(*started, "_did"), md5Tail("m17001monthly"));

    // The first paid period after the trial converts it; the next one renews.
    auto converted = reportOne(transaction("monthly", "m2", "m1"));
    ASSERT_NE(converted, nullptr);
    EXPECT_EQ(converted->name(), "_assc");
    EXPECT_FALSE(converted->parameters().contains("sub_convert"));
    EXPECT_FALSE(converted->parameters().contains("subscription"));
    EXPECT_EQ(intParameter(*converted, "value"), 4990000);
    auto renewed = reportOne(transaction("monthly", "m3", "m1", 1, *APMReceiptDateFromIA5String("2026-02-02T03:04:05Z")));
    ASSERT_NE(renewed, nullptr);
    EXPECT_EQ(renewed->name(), "_assr");
    EXPECT_FALSE(renewed->parameters().contains("sub_renew"));
    EXPECT_EQ(intParameter(*renewed, "_did"), md5Tail("m17003monthly"));

    // A date no entry has, and two entries of one date, are not borne out.
    auto missing = reportOne(transaction("monthly", "m4", "m1", 1, kPurchased + 1));
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->name(), "_iapx");
    EXPECT_EQ(intParameter(*missing, "subscription"), 1);
    setReceipt(APMInAppPurchaseItems{firstPaid, firstPaid});
    EXPECT_EQ(reportOne(transaction("monthly", "m2", "m1"))->name(), "_iapx");
    // A free trial bought again elsewhere is not borne out either.
    auto again = trial;
    again.purchaseDateIA5String = kPurchasedText;
    setReceipt(APMInAppPurchaseItems{again});
    auto repurchased = reportOne(transaction("monthly", "m5", "m1"));
    ASSERT_NE(repurchased, nullptr);
    EXPECT_EQ(repurchased->name(), "_iapx");
    EXPECT_EQ(intParameter(*repurchased, "free_trial"), 1);
}

TEST_F(APMInAppPurchaseTransactionReporterTest, AnIntroductoryOfferIsReportedAtItsDiscountedPrice) {
    SKStoreCatalogue::addProduct(
        product("yearly", "29.99", SKProductDiscount::make(decimal("9.99"), SKProductDiscountPaymentMode::PayUpFront)));
    auto offer = entry("yearly", "y1", "y1", 3);
    offer.introductoryOffer = true;
    offer.webOrderLineItemID = 1;
    setReceipt(APMInAppPurchaseItems{offer});
    auto event = reportOne(transaction("yearly", "y1", "", 2));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->name(), "_iap");
    EXPECT_EQ(intParameter(*event, "price_is_discounted"), 1);
    EXPECT_EQ(intParameter(*event, "original_price"), 29990000);
    EXPECT_EQ(intParameter(*event, "price"), 9990000);
    EXPECT_EQ(intParameter(*event, "value"), 19980000);
    EXPECT_EQ(intParameter(*event, "subscription"), 1);
}

TEST_F(APMInAppPurchaseTransactionReporterTest, PurchasesThatCannotBeDescribedAreNotReported) {
    setReceipt(APMInAppPurchaseItems{entry("coins", "t1", "t1", 1)});
    SKStoreCatalogue::addProduct(product("coins"));
    // No quantity, so no value.
    EXPECT_TRUE(report({transaction("coins", "t1", "", 0)}).empty());
    // A price whose millionths do not fit 64 bits is not wrapped into a wrong amount.
    SKStoreCatalogue::addProduct(product("treasure", "99999999999999999999"));
    EXPECT_TRUE(report({transaction("treasure", "t2")}).empty());
    // Nor another state, nor a payment without a product.
    auto failed = made(SKPaymentTransactionState::Failed, "t3", "coins");
    auto noProduct = transaction("", "t4");
    const std::size_t requests = SKStoreCatalogue::requestCount();
    EXPECT_TRUE(report({failed, noProduct}).empty());
    EXPECT_EQ(SKStoreCatalogue::requestCount(), requests);
    // A product the store calls invalid.
    EXPECT_TRUE(report({transaction("unknown", "t5")}).empty());
    EXPECT_EQ(reporter->productCache()->invalidProductIdentifierCount(), 1u);
    std::lock_guard lock(mutex);
    EXPECT_TRUE(unreported.empty());
}

TEST_F(APMInAppPurchaseTransactionReporterTest, APurchaseWhoseProductCannotBeLearntIsHandedBackNotLost) {
    setReceipt(APMInAppPurchaseItems{entry("coins", "t1", "t1", 1), entry("gems", "g1", "g1", 1)});
    SKStoreCatalogue::addProduct(product("coins"));
    SKStoreCatalogue::addProduct(product("gems"));
    SKStoreCatalogue::setRequestError(NSError::errorWithDomain("SKErrorDomain", 0));
    auto purchase = transaction("coins", "t1");
    EXPECT_TRUE(report({purchase}).empty());
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(unreported.size(), 1u);
        EXPECT_EQ(unreported.front(), purchase);
        unreported.clear();
    }
    // Once the store answers, the same purchase is reported.
    SKStoreCatalogue::setRequestError(nullptr);
    auto event = reportOne(purchase);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->name(), "_iap");
    // A batch of a known product and an unknown one, met by a failure: the known one is
    // reported and only the other handed back.
    SKStoreCatalogue::setRequestError(NSError::errorWithDomain("SKErrorDomain", 0));
    auto gems = transaction("gems", "g1");
    auto events = report({transaction("coins", "t1"), gems});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(stringParameter(*events.front(), "product_id"), "coins");
    std::lock_guard lock(mutex);
    EXPECT_EQ(unreported, SKPaymentTransactions{gems});
}

TEST_F(APMInAppPurchaseTransactionReporterTest, TheProductCacheKeepsAtMostAHundredEntries) {
    auto cache = APMInAppPurchaseProductCache::make();
    std::set<std::string> first;
    for (int i = 0; i < 60; ++i) {
        first.insert("p" + std::to_string(i));
        SKStoreCatalogue::addProduct(product("p" + std::to_string(i)));
    }
    first.insert("gone");
    std::atomic<int> answers{0};
    auto count = [&](const APMProductsRequest::Products&, const std::set<std::string>&, NSErrorPtr) { ++answers; };
    cache->requestProductsWithProductIdentifiers(first, DispatchQueue::mainQueue(), count);
    settle();
    ASSERT_EQ(answers.load(), 1);
    EXPECT_EQ(cache->validProductCount(), 60u);
    EXPECT_EQ(cache->invalidProductIdentifierCount(), 1u);
    EXPECT_EQ(cache->cachedProductForProductIdentifier("p7")->productIdentifier(), "p7");

    // 100 together is still fine; 101 leaves only the answer that made them so many.
    std::set<std::string> second;
    for (int i = 60; i < 99; ++i) {
        second.insert("p" + std::to_string(i));
        SKStoreCatalogue::addProduct(product("p" + std::to_string(i)));
    }
    cache->requestProductsWithProductIdentifiers(second, DispatchQueue::mainQueue(), count);
    settle();
    EXPECT_EQ(cache->validProductCount() + cache->invalidProductIdentifierCount(), 100u);
    SKStoreCatalogue::addProduct(product("p99"));
    cache->requestProductsWithProductIdentifiers({"p99", "gone too"}, DispatchQueue::mainQueue(), count);
    settle();
    EXPECT_EQ(answers.load(), 3);
    EXPECT_EQ(cache->validProductCount(), 1u);
    EXPECT_EQ(cache->invalidProductIdentifierCount(), 1u);
    EXPECT_EQ(cache->cachedProductForProductIdentifier("p7"), nullptr);
    // A product the store knows again leaves the invalid list.
    SKStoreCatalogue::addProduct(product("gone too"));
    cache->requestProductsWithProductIdentifiers({"gone too"}, DispatchQueue::mainQueue(), count);
    settle();
    EXPECT_EQ(cache->invalidProductIdentifierCount(), 0u);
    EXPECT_EQ(cache->validProductCount(), 2u);
    SKStoreCatalogue::reset();
}

TEST(APMInAppPurchaseFingerprintTest, OnlyPurchasesWithARealIdentifierHaveAFingerprint) {
    EXPECT_EQ(APMInAppPurchaseTransactionReporter::transactionFingerprint(transaction("coins", "abc")),
              "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(APMInAppPurchaseTransactionReporter::transactionFingerprint(nullptr), std::nullopt);
    EXPECT_EQ(APMInAppPurchaseTransactionReporter::transactionFingerprint(transaction("coins", "")), std::nullopt);
    EXPECT_EQ(APMInAppPurchaseTransactionReporter::transactionFingerprint(transaction("coins", "000-000")), std::nullopt);
    auto noIdentifier = made(SKPaymentTransactionState::Purchased, std::nullopt, "coins");
    EXPECT_EQ(APMInAppPurchaseTransactionReporter::transactionFingerprint(noIdentifier), std::nullopt);
    auto restored = made(SKPaymentTransactionState::Restored, "abc", "coins");
    EXPECT_EQ(APMInAppPurchaseTransactionReporter::transactionFingerprint(restored), std::nullopt);
}

TEST(APMInAppPurchaseParametersTest, DeduplicationIDsAndReceiptMatching) {
    EXPECT_EQ(APMPurchaseDeduplicationID("", std::nullopt, "coins"), -1);
    EXPECT_EQ(APMPurchaseDeduplicationID("t1", 5, ""), -1);
    EXPECT_EQ(APMPurchaseDeduplicationID("t1", 5, "coins"), md5Tail("t15coins"));

    const APMInAppPurchaseItems items{entry("b", "2", "2", 1, "2026-03-01T00:00:00Z"),
                                      entry("a", "1", "1", 1, "2026-01-01T00:00:00+01:00"),
                                      entry("b", "3", "3", 1, "2026-02-01T00:00:00Z")};
    EXPECT_EQ(APMReceiptItemsMatching({}, "b", std::nullopt), std::nullopt);
    EXPECT_EQ(APMReceiptItemsMatching(items, "", std::nullopt), std::nullopt);
    const auto b = APMReceiptItemsMatching(items, "b", std::nullopt);
    ASSERT_TRUE(b);
    ASSERT_EQ(b->size(), 2u);
    EXPECT_EQ(b->front().transactionID, "3");
    const auto onDate = APMReceiptItemsMatching(items, "", APMReceiptDateFromIA5String("2025-12-31T23:00:00Z"));
    ASSERT_TRUE(onDate);
    ASSERT_EQ(onDate->size(), 1u);
    EXPECT_EQ(onDate->front().productID, "a");
    EXPECT_EQ(APMReceiptDateFromIA5String("2026-01-02 03:04:05"), std::nullopt);

    EXPECT_EQ(APMPurchaseValueInMicros(*decimal("0.99"), 3), 2970000);
    EXPECT_EQ(APMPurchaseValueInMicros(*decimal("9223372036854.775807"), 1), std::nullopt);
    EXPECT_EQ(APMPurchaseValueInMicros(*decimal("1000000"), -3), -3000000000000);
}

// One reporter per process, made once however many threads ask at the same time; it reports
// through the road the engine hands it, and nowhere before.
TEST_F(APMInAppPurchaseTransactionReporterTest, TheProcessHasOneReporterOnTheRoadTheEngineHandsIt) {
    const auto seen = askedAtOnce([] { return APMInAppPurchaseTransactionReporter::sharedInstance(); });
    auto shared = seen[0];
    ASSERT_NE(shared, nullptr);
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], shared) << i;
    EXPECT_EQ(APMInAppPurchaseTransactionReporter::sharedInstance(), shared);
    EXPECT_NE(shared, reporter);

    SKStoreCatalogue::addProduct(product("coins"));
    setReceipt(APMInAppPurchaseItems{entry("coins", "t1", "t1", 1)});
    reporter = shared;
    EXPECT_TRUE(report({transaction("coins", "t1")}).empty());
    shared->setEngine(sink, [this] {
        std::lock_guard lock(mutex);
        return receipt;
    }, nullptr);
    auto event = reportOne(transaction("coins", "t1"));
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->name(), "_iap");

    // A new process makes a new one.
    APMInAppPurchaseTransactionReporter::resetSharedInstance();
    EXPECT_NE(APMInAppPurchaseTransactionReporter::sharedInstance(), shared);
    APMInAppPurchaseTransactionReporter::resetSharedInstance();
}

// One product cache per process, made once however many threads ask at the same time: the one
// the process's reporter learns the store's products into.
TEST_F(APMInAppPurchaseTransactionReporterTest, TheProcessHasOneProductCacheItsReporterLearnsInto) {
    const auto seen = askedAtOnce([] { return APMInAppPurchaseProductCache::sharedInstance(); });
    auto cache = seen[0];
    ASSERT_NE(cache, nullptr);
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], cache) << i;
    reporter = APMInAppPurchaseTransactionReporter::sharedInstance();
    EXPECT_EQ(reporter->productCache(), cache);

    SKStoreCatalogue::addProduct(product("coins"));
    setReceipt(APMInAppPurchaseItems{entry("coins", "t1", "t1", 1)});
    reporter->setEngine(sink, [this] {
        std::lock_guard lock(mutex);
        return receipt;
    }, nullptr);
    ASSERT_NE(reportOne(transaction("coins", "t1")), nullptr);
    ASSERT_NE(APMInAppPurchaseProductCache::sharedInstance()->cachedProductForProductIdentifier("coins"), nullptr);

    // A new process starts with a new, empty one.
    APMInAppPurchaseTransactionReporter::resetSharedInstance();
    APMInAppPurchaseProductCache::resetSharedInstance();
    EXPECT_NE(APMInAppPurchaseProductCache::sharedInstance(), cache);
    EXPECT_EQ(APMInAppPurchaseProductCache::sharedInstance()->validProductCount(), 0u);
    EXPECT_EQ(APMInAppPurchaseTransactionReporter::sharedInstance()->productCache(),
              APMInAppPurchaseProductCache::sharedInstance());
}

}  // namespace
