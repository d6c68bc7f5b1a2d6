// The simulator's "purchase" command: the store completes a purchase as the system would, so
// the application's payment-queue observers hear of it and its receipt holds it.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/store/SKPaymentQueue.h"
#include "platform/store/SKStoreCatalogue.h"
#include "platform/store/SKStoreReceipt.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIImage.h"
#include "simulator/SimCommand.h"
#include "simulator/SimRenderer.h"
#include "simulator/SimSession.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class Observer : public SKPaymentTransactionObserver {
public:
    void paymentQueue(SKPaymentQueue&, const SKPaymentTransactions& transactions) override {
        told.insert(told.end(), transactions.begin(), transactions.end());
    }
    SKPaymentTransactions told;
};

class SimPurchaseTest : public testing::Test {
protected:
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        (void)NSFileManager::defaultManager()->removeItemAtPath(
            NSString::stringByDeletingLastPathComponent(SKStoreReceipt::receiptPath()));
        UIApplication::sharedApplication()->reset();
        SimRenderer::releaseCaches();
        Clock::setReal();
        UIImage::setScreenScale(1);
    }
};

TEST_F(SimPurchaseTest, PurchaseTakesAProductAndOptionallyItsPriceAndCurrency) {
    auto plain = SimCommand::parse("purchase gold.coins");
    ASSERT_EQ(plain.kind, SimCommand::Kind::Purchase);
    EXPECT_EQ(plain.text, "gold.coins");
    EXPECT_EQ(plain.price, "0.99");
    EXPECT_EQ(plain.currency, "USD");
    auto priced = SimCommand::parse("purchase 42 1.5 eur");
    ASSERT_EQ(priced.kind, SimCommand::Kind::Purchase);
    EXPECT_EQ(priced.text, "42");
    EXPECT_EQ(priced.price, "1.5");
    EXPECT_EQ(priced.currency, "eur");
    for (const char* wrong : {"purchase", "purchase a 1", "purchase a 1 EURO", "purchase a -1 EUR", "purchase a x EUR",
                              "purchase a 1 E1R", "purchase a nan EUR"}) {
        EXPECT_EQ(SimCommand::parse(wrong).kind, SimCommand::Kind::Invalid) << wrong;
    }
}

TEST_F(SimPurchaseTest, ThePurchaseReachesThePaymentQueueAndTheReceipt) {
    SimSession session{false};
    auto observer = std::make_shared<Observer>();
    SKPaymentQueue::defaultQueue()->addTransactionObserver(observer);
    const auto result = session.execute(SimCommand::parse("purchase gold.coins 1.99 eur"));
    SKPaymentQueue::defaultQueue()->removeTransactionObserver(observer);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, "purchased gold.coins for 1.99 EUR: the receipt holds it, and the payment queue handed "
                              "it to the application's observer");
    ASSERT_EQ(observer->told.size(), 1u);
    const auto& transaction = observer->told.front();
    EXPECT_EQ(transaction->transactionState(), SKPaymentTransactionState::Purchased);
    EXPECT_EQ(transaction->payment()->productIdentifier(), "gold.coins");
    EXPECT_EQ(transaction->payment()->quantity(), 1);
    ASSERT_TRUE(transaction->transactionIdentifier());
    ASSERT_TRUE(transaction->transactionDate());
    EXPECT_EQ(*transaction->transactionDate(), std::floor(*transaction->transactionDate()));
    auto product = SKStoreCatalogue::productWithIdentifier("gold.coins");
    ASSERT_NE(product, nullptr);
    EXPECT_EQ(product->price()->stringValue(), "1.99");
    EXPECT_EQ(product->priceLocaleCurrencyCode(), "EUR");
    const auto receipt = readDataFromFile(SKStoreReceipt::receiptPath());
    ASSERT_TRUE(receipt);
    const std::string& id = *transaction->transactionIdentifier();
    EXPECT_NE(std::search(receipt->begin(), receipt->end(), id.begin(), id.end()), receipt->end());
    SKStoreCatalogue::reset();
}

TEST_F(SimPurchaseTest, ADamagedReceiptDoesNotHoldBackThePurchase) {
    SimSession session{false};
    const std::string path = SKStoreReceipt::receiptPath();
    ASSERT_TRUE(NSFileManager::defaultManager()->createDirectoryAtPath(NSString::stringByDeletingLastPathComponent(path),
                                                                        true, {}, nullptr));
    ASSERT_TRUE(writeDataToFile(NSData{0x31, 0x7F, 'x'}, path, true));
    auto observer = std::make_shared<Observer>();
    SKPaymentQueue::defaultQueue()->addTransactionObserver(observer);
    const auto result = session.execute(SimCommand::parse("purchase gold.coins"));
    SKPaymentQueue::defaultQueue()->removeTransactionObserver(observer);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, "purchased gold.coins for 0.99 USD: the receipt holds it, and the payment queue handed "
                              "it to the application's observer");
    ASSERT_EQ(observer->told.size(), 1u);
    ASSERT_TRUE(observer->told.front()->transactionIdentifier());
    const auto receipt = readDataFromFile(path);
    ASSERT_TRUE(receipt);
    ASSERT_FALSE(receipt->empty());
    EXPECT_EQ(receipt->front(), 0x31);
    const std::string& id = *observer->told.front()->transactionIdentifier();
    EXPECT_NE(std::search(receipt->begin(), receipt->end(), id.begin(), id.end()), receipt->end());
    SKStoreCatalogue::reset();
}

TEST_F(SimPurchaseTest, APurchaseSaysWhoHeardOfItOrWhyItFailed) {
    SimSession session{false};
    // No observer: the transaction reaches nobody, and the person is told so.
    auto result = session.execute(SimCommand::parse("purchase gold.coins 2 usd"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, "purchased gold.coins for 2 USD: the receipt holds it, and the payment queue has no "
                              "observer in the application to hand it to");
    auto first = std::make_shared<Observer>(), second = std::make_shared<Observer>();
    SKPaymentQueue::defaultQueue()->addTransactionObserver(first);
    SKPaymentQueue::defaultQueue()->addTransactionObserver(second);
    result = session.execute(SimCommand::parse("purchase gold.coins"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, "purchased gold.coins for 0.99 USD: the receipt holds it, and the payment queue handed "
                              "it to the application's 2 observers");
    EXPECT_EQ(first->told.size(), 1u);
    EXPECT_EQ(second->told.size(), 1u);

    // A receipt that cannot be written fails the purchase: nobody hears of it.
    const std::string path = SKStoreReceipt::receiptPath();
    ASSERT_TRUE(NSFileManager::defaultManager()->removeItemAtPath(NSString::stringByDeletingLastPathComponent(path)));
    ASSERT_TRUE(writeDataToFile(NSData{'x'}, NSString::stringByDeletingLastPathComponent(path), true));
    result = session.execute(SimCommand::parse("purchase gold.coins"));
    SKPaymentQueue::defaultQueue()->removeTransactionObserver(first);
    SKPaymentQueue::defaultQueue()->removeTransactionObserver(second);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message.rfind("purchase: the receipt could not be written (", 0), 0u) << result.message;
    EXPECT_EQ(first->told.size(), 1u);
    SKStoreCatalogue::reset();
}

}  // namespace
