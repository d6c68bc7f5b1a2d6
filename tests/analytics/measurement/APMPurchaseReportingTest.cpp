// Purchases the store hands the application's payment queue, through the whole engine: each
// is reported once (also across a restart), moves the lifetime value, and reaches the
// measurement service; a purchase whose product the store cannot describe at the time is
// reported when the store hands it over again.
#include "DeliveryTestSupport.h"

#include "analytics/reporters/APMInAppPurchaseTransactionReporter.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"
#include "platform/store/SKPaymentQueue.h"
#include "platform/store/SKStoreCatalogue.h"
#include "platform/store/SKStoreReceipt.h"

#include <gtest/gtest.h>

namespace {

class APMPurchaseReportingTest : public DeliveryTest {
protected:
    void SetUp() override {
        DeliveryTest::SetUp();
        SKProduct::Fields coins;
        coins.productIdentifier = "coins";
        coins.price = NSDecimalNumber::decimalNumberWithString("0.99");
        coins.currencyCode = "USD";
        coins.localizedTitle = "A bag of coins";
        SKStoreCatalogue::addProduct(SKProduct::make(std::move(coins)));
    }
    void TearDown() override {
        DeliveryTest::TearDown();
        SKStoreCatalogue::reset();
        (void)NSFileManager::defaultManager()->removeItemAtPath(
            NSString::stringByDeletingLastPathComponent(SKStoreReceipt::receiptPath()));
    }

    // A consumable bought now, written into the receipt as the store does.
    std::shared_ptr<SKPaymentTransaction> buy(const std::string& identifier, const std::string& productID = "coins",
                                              SKPaymentTransactionState state = SKPaymentTransactionState::Purchased) {
        SKStoreReceipt::InAppPurchase entry;
        entry.productID = productID;
        entry.transactionID = identifier;
        entry.originalTransactionID = identifier;
        entry.purchaseDate = "2023-11-14T22:13:20Z";  // kNow
        EXPECT_TRUE(SKStoreReceipt::addInAppPurchase(entry, SKStoreReceipt::receiptPath()));
        SKPaymentTransaction::Fields fields;
        fields.state = state;
        fields.transactionIdentifier = identifier;
        fields.transactionDate = kNow;
        fields.payment = SKPayment::paymentWithProductIdentifier(productID, 2);
        return SKPaymentTransaction::make(std::move(fields));
    }
    void hand(const SKPaymentTransactions& transactions) {
        SKPaymentQueue::defaultQueue()->updateTransactions(transactions);
        settle();
        if (APMMeasurement::hasSharedInstance()) {
            if (auto reporter = engine()->purchaseReporter()) reporter->queue()->sync([] {});
        }
        settle();
    }
    long long lifetimeValue(const std::string& currency) {
        return count("SELECT value FROM user_attributes WHERE name = '_ltv_" + currency + "'");
    }
};

TEST_F(APMPurchaseReportingTest, APurchaseIsReportedOnceWithItsLifetimeValueAndReachesTheService) {
    start();
    auto purchase = buy("tx-1");
    hand({purchase});
    EXPECT_EQ(rawEventValues("_iap", "value"), std::vector<Value>{Value(1980000)});
    EXPECT_EQ(lifetimeValue("USD"), 1980000);

    // Handed over again, in the same launch and after a restart, it is passed over.
    hand({purchase});
    restart();
    hand({purchase});
    EXPECT_EQ(rawEventValues("_iap", "value").size(), 1u);
    // A restored transaction is never reported.
    hand({buy("tx-2", "coins", SKPaymentTransactionState::Restored)});
    EXPECT_EQ(rawEventValues("_iap", "value").size(), 1u);
    EXPECT_EQ(lifetimeValue("USD"), 1980000);

    uploadWhileDue();
    const auto events = service.events();
    const auto iap = std::find_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_iap"; });
    ASSERT_NE(iap, events.end());
    EXPECT_EQ(iap->parameters.get("product_id").stringValue(), "coins");
    EXPECT_EQ(iap->parameters.get("product_name").stringValue(), "A bag of coins");
    EXPECT_EQ(iap->parameters.get("price").longLongValue(), 990000);
    EXPECT_EQ(iap->parameters.get("quantity").longLongValue(), 2);
    EXPECT_EQ(iap->parameters.get("currency").stringValue(), "USD");
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_iap"; }), 1);
    bool carried = false;
    for (const auto& upload : service.uploads()) {
        const Value& total = upload.batch.userProperties.get("_ltv_USD");
        if (total.isNumber()) {
            EXPECT_EQ(total.longLongValue(), 1980000);
            carried = true;
        }
    }
    EXPECT_TRUE(carried);
}

TEST_F(APMPurchaseReportingTest, APurchaseMetByAnUnreachableStoreIsReportedWhenHandedOverAgain) {
    start();
    SKStoreCatalogue::setRequestError(NSError::errorWithDomain("SKErrorDomain", 0));
    auto purchase = buy("tx-1");
    hand({purchase});
    EXPECT_TRUE(rawEventValues("_iap", "value").empty());
    settle();
    EXPECT_EQ(count("SELECT count(*) FROM purchase_transactions"), 0);

    SKStoreCatalogue::setRequestError(nullptr);
    hand({purchase});
    EXPECT_EQ(rawEventValues("_iap", "value"), std::vector<Value>{Value(1980000)});
    EXPECT_EQ(count("SELECT count(*) FROM purchase_transactions"), 1);
}

TEST_F(APMPurchaseReportingTest, AFingerprintThatCannotBeForgottenIsToldApartFromOneThatCannotBeSaved) {
    start();
    execute("CREATE TRIGGER keep BEFORE DELETE ON purchase_transactions BEGIN SELECT RAISE(FAIL, 'kept'); END");
    SKStoreCatalogue::setRequestError(NSError::errorWithDomain("SKErrorDomain", 0));
    LogCapture capture;
    hand({buy("tx-1")});
    settle();
    EXPECT_TRUE(rawEventValues("_iap", "value").empty());
    EXPECT_EQ(count("SELECT count(*) FROM purchase_transactions"), 1);
    const auto forgot = capture.matching("Failed to forget purchase fingerprint");
    ASSERT_EQ(forgot.size(), 1u);
    EXPECT_NE(forgot[0].find("[I-ACS023146]"), std::string::npos) << forgot[0];
    // The saving's own code says nothing here.
    EXPECT_TRUE(capture.matching("[I-ACS023140]").empty());
}

TEST_F(APMPurchaseReportingTest, PurchasesAreDroppedWhileCollectionIsOff) {
    start();
    APMAnalytics::setAnalyticsEnabled(false);
    settle();
    hand({buy("tx-1")});
    EXPECT_TRUE(rawEventValues("_iap", "value").empty());
    EXPECT_EQ(count("SELECT count(*) FROM purchase_transactions"), 0);
}

}  // namespace
