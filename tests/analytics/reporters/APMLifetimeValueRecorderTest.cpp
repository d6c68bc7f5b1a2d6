// Lifetime value totals in a real measurement database: purchases and refunds per currency, the
// limit on tracked currencies, amounts and totals that do not fit 64 bits (never wrapped), and
// failing database work.
#include "analytics/reporters/APMLifetimeValueRecorder.h"

#include "analytics/core/APMUserAttribute.h"
#include "tests/analytics/core/APMDatabaseTestSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>

namespace {

class APMLifetimeValueRecorderTest : public APMDatabaseTestBase {
protected:
    static constexpr std::int32_t kLimit = 4;

    bool record(const std::string& name, const Value::Dictionary& parameters) {
        auto purchase = event(name, Clock::now(), parameters, "auto");
        EXPECT_NE(purchase, nullptr);
        return purchase && APMLifetimeValueRecorder::recordLifetimeValueToDatabase(*database_, *purchase, kLimit);
    }
    // name -> total of the stored lifetime value properties.
    std::map<std::string, std::int64_t> totals() {
        std::map<std::string, std::int64_t> found;
        auto all = database_->allLifetimeValueUserAttributes(nullptr);
        EXPECT_TRUE(all.has_value());
        for (const auto& attribute : all.value_or(std::vector<std::shared_ptr<APMUserAttribute>>{})) {
            EXPECT_EQ(attribute->origin(), "auto");
            EXPECT_TRUE(attribute->value()->isInt64());
            found[attribute->name()] = attribute->value()->int64Value();
        }
        return found;
    }
};

TEST_F(APMLifetimeValueRecorderTest, PurchasesAddAndRefundsSubtractPerCurrency) {
    EXPECT_TRUE(record("_iap", {{"currency", Value("USD")}, {"value", Value(2970000)}}));
    EXPECT_TRUE(record("purchase", {{"currency", Value("USD")}, {"value", Value(1.5)}}));
    EXPECT_TRUE(record("ecommerce_purchase", {{"currency", Value("EUR")}, {"value", Value(0.1)}}));
    // A refund of 5 in small letters lowers the USD total by five million millionths.
    EXPECT_TRUE(record("refund", {{"currency", Value("usd")}, {"value", Value(5)}}));
    // A fraction of a millionth is rounded; an "_iap" double is truncated.
    EXPECT_TRUE(record("purchase", {{"currency", Value("EUR")}, {"value", Value(0.0000005)}}));
    EXPECT_TRUE(record("_iap", {{"currency", Value("EUR")}, {"value", Value(10.9)}}));
    EXPECT_EQ(totals(), (std::map<std::string, std::int64_t>{{"_ltv_USD", 2970000 + 1500000 - 5000000},
                                                             {"_ltv_EUR", 100000 + 1 + 10}}));
    auto stored = database_->userAttributeWithName("_ltv_USD", nullptr);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->lastSetTimestamp(), kNow);
}

TEST_F(APMLifetimeValueRecorderTest, OtherEventsAndUnusableParametersLeaveTheTotalsAlone) {
    EXPECT_TRUE(record("_vs", {{"currency", Value("USD")}, {"value", Value(1)}}));
    EXPECT_TRUE(record("purchase", {{"currency", Value("US")}, {"value", Value(1)}}));
    EXPECT_TRUE(record("purchase", {{"currency", Value(12)}, {"value", Value(1)}}));
    EXPECT_TRUE(record("purchase", {{"value", Value(1)}}));
    EXPECT_TRUE(record("purchase", {{"currency", Value("USD")}, {"value", Value("1")}}));
    EXPECT_TRUE(record("purchase", {{"currency", Value("USD")}}));
    EXPECT_TRUE(totals().empty());
    auto other = event("_vs", kNow, {});
    EXPECT_FALSE(APMLifetimeValueRecorder::isPurchaseEvent(*other));
    EXPECT_TRUE(APMLifetimeValueRecorder::isPurchaseEvent(*event("_iap", kNow, {})));
    EXPECT_FALSE(APMLifetimeValueRecorder::isEcommercePurchaseEvent(*event("_iap", kNow, {})));
    EXPECT_TRUE(APMLifetimeValueRecorder::isEcommercePurchaseEvent(*event("refund", kNow, {})));
}

TEST_F(APMLifetimeValueRecorderTest, ANewCurrencyPastTheLimitPushesOutTheOneSetLongestAgo) {
    const char* currencies[] = {"USD", "EUR", "GBP", "JPY"};
    for (const char* currency : currencies) {
        ASSERT_TRUE(record("_iap", {{"currency", Value(currency)}, {"value", Value(1)}}));
        Clock::advance(10);
    }
    // USD is set again, so EUR is now the oldest.
    ASSERT_TRUE(record("_iap", {{"currency", Value("USD")}, {"value", Value(1)}}));
    Clock::advance(10);
    ASSERT_TRUE(record("_iap", {{"currency", Value("CHF")}, {"value", Value(7)}}));
    EXPECT_EQ(totals(), (std::map<std::string, std::int64_t>{
                            {"_ltv_USD", 2}, {"_ltv_GBP", 1}, {"_ltv_JPY", 1}, {"_ltv_CHF", 7}}));

    // Should there be more than the limit already, as many go as it takes.
    ASSERT_TRUE(database_->updateUserAttribute(
        std::make_shared<APMUserAttribute>("auto", "_ltv_AUD", APMValue::initWithInt64(1), kNow - 100), nullptr));
    ASSERT_TRUE(database_->updateUserAttribute(
        std::make_shared<APMUserAttribute>("auto", "_ltv_CAD", APMValue::initWithInt64(1), kNow - 50), nullptr));
    ASSERT_TRUE(record("_iap", {{"currency", Value("SEK")}, {"value", Value(3)}}));
    EXPECT_EQ(totals(), (std::map<std::string, std::int64_t>{
                            {"_ltv_USD", 2}, {"_ltv_JPY", 1}, {"_ltv_CHF", 7}, {"_ltv_SEK", 3}}));
}

TEST_F(APMLifetimeValueRecorderTest, TotalsNeverWrapPastSixtyFourBits) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    ASSERT_TRUE(record("_iap", {{"currency", Value("USD")}, {"value", Value(static_cast<long long>(kMax - 10))}}));
    // One more than fits is refused, and the total stays as it was.
    EXPECT_FALSE(record("_iap", {{"currency", Value("USD")}, {"value", Value(11)}}));
    EXPECT_TRUE(record("_iap", {{"currency", Value("USD")}, {"value", Value(10)}}));
    EXPECT_EQ(totals()["_ltv_USD"], kMax);
    // And on the way down.
    ASSERT_TRUE(record("_iap", {{"currency", Value("EUR")}, {"value", Value(static_cast<long long>(-kMax))}}));
    EXPECT_FALSE(record("refund", {{"currency", Value("EUR")}, {"value", Value(2)}}));
    EXPECT_EQ(totals()["_ltv_EUR"], -kMax);

    // Amounts that are no number of millionths at all.
    EXPECT_FALSE(record("_iap", {{"currency", Value("GBP")}, {"value", Value(1e30)}}));
    EXPECT_FALSE(record("_iap", {{"currency", Value("GBP")}, {"value", Value(-9223372036854775808.0 * 2)}}));
    EXPECT_FALSE(record("purchase", {{"currency", Value("GBP")}, {"value", Value(9223372036855.0)}}));
    EXPECT_FALSE(record("refund", {{"currency", Value("GBP")}, {"value", Value(1e300)}}));
    EXPECT_EQ(totals().count("_ltv_GBP"), 0u);
}

TEST_F(APMLifetimeValueRecorderTest, FailedDatabaseWorkIsAFailure) {
    ASSERT_TRUE(record("_iap", {{"currency", Value("USD")}, {"value", Value(1)}}));
    ASSERT_TRUE(store().executeSQL(
        "CREATE TRIGGER refuse BEFORE UPDATE ON user_attributes BEGIN SELECT RAISE(FAIL, 'refused'); END", nullptr));
    ASSERT_TRUE(store().executeSQL(
        "CREATE TRIGGER refuseNew BEFORE INSERT ON user_attributes BEGIN SELECT RAISE(FAIL, 'refused'); END", nullptr));
    EXPECT_FALSE(record("_iap", {{"currency", Value("USD")}, {"value", Value(1)}}));
    EXPECT_FALSE(record("_iap", {{"currency", Value("EUR")}, {"value", Value(1)}}));
    EXPECT_EQ(totals(), (std::map<std::string, std::int64_t>{{"_ltv_USD", 1}}));
}

}  // namespace
