// A sibling library's conditional user property, asked for through the connector of a started
// engine: stored, brought into force by its trigger event, carried to the measurement service
// in the uploaded bundle's user properties, and gone again when it is cleared.
#include "DeliveryTestSupport.h"

#include "analytics/measurement/DUROrezuriveConnector.h"
#include "analytics/proto/APMPBUserAttribute.h"

#include <gtest/gtest.h>

namespace {

class DUROrezuriveConnectorDeliveryTest : public DeliveryTest {
protected:
    // The text values of the user property `name` in every bundle the service received.
    std::vector<std::string> uploadedValues(const std::string& name) {
        std::vector<std::string> values;
        for (const auto& upload : service.uploads()) {
            for (const auto& bundle : UploadTestBase::bundlesOf(upload)) {
                for (const Value& item :
                     APMPBMessageGetArray<APMPBUserAttribute>(bundle, APMPBMeasurementBundle::kUserAttributes)
                         .value_or(Value::Array{})) {
                    auto attribute = item.objectAs<APMPBUserAttribute>();
                    if (APMPBMessageGetString(attribute, APMPBUserAttribute::kName) != name) continue;
                    values.push_back(APMPBMessageGetString(attribute, APMPBUserAttribute::kStringValue).value_or(""));
                }
            }
        }
        return values;
    }
    std::size_t delivered(const std::string& name) const {
        std::size_t found = 0;
        for (const auto& event : service.events()) found += event.name == name ? 1 : 0;
        return found;
    }
    Value::Dictionary promo(const std::string& name) const {
        return {{"name", Value(name)},
                {"origin", Value("fiam")},
                {"value", Value("gold")},
                {"triggerEventName", Value("purchase")},
                {"triggerTimeout", Value(3600)},
                {"timeToLive", Value(86400)},
                {"creationTimestamp", Value(Clock::now())},
                {"triggeredEvent", Value(Value::Dictionary{{"origin", Value("fiam")}, {"name", Value("promo_on")}})}};
    }

    std::shared_ptr<DUROrezuriveConnector> connector = std::make_shared<DUROrezuriveConnector>();
};

TEST_F(DUROrezuriveConnectorDeliveryTest, AConditionalPropertyIsTriggeredUploadedAndCleared) {
    start();
    connector->setConditionalUserProperty(promo("promo"));
    connector->setConditionalUserProperty(promo("promo_extra"));
    settle();
    EXPECT_EQ(rows("SELECT name, active FROM conditional_properties ORDER BY name"),
              (std::vector<std::vector<std::string>>{{"promo", "0"}, {"promo_extra", "0"}}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM user_attributes WHERE name = 'promo'"), 0);
    // The query answers by prefix, for the origin that asked only.
    EXPECT_EQ(connector->conditionalUserProperties("fiam", "promo").size(), 2u);
    EXPECT_TRUE(connector->conditionalUserProperties("fcm", "promo").empty());

    APMAnalytics::logEventWithName("purchase", {});
    settle();
    EXPECT_EQ(rows("SELECT origin, value FROM user_attributes WHERE name = 'promo'"),
              (std::vector<std::vector<std::string>>{{"fiam", "gold"}}));
    uploadWhileDue();
    EXPECT_FALSE(uploadedValues("promo").empty());
    for (const auto& value : uploadedValues("promo")) EXPECT_EQ(value, "gold");
    EXPECT_EQ(delivered("promo_on"), 2);

    // Clearing names one property: it goes with its user property, its clear event is logged,
    // and the other stays.
    connector->clearConditionalUserProperty("promo", "fiam", "promo_off", {{"reason", Value("over")}});
    settle();
    EXPECT_EQ(rows("SELECT name FROM conditional_properties"), (std::vector<std::vector<std::string>>{{"promo_extra"}}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM user_attributes WHERE name = 'promo'"), 0);
    const Value::Array left = connector->conditionalUserProperties("fiam", "promo");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].dictionary().get("name"), Value("promo_extra"));
    EXPECT_EQ(left[0].dictionary().get("value"), Value("gold"));
    const auto stored = rawEventNames();
    EXPECT_EQ(std::count(stored.begin(), stored.end(), "promo_off"), 1);
    service.clearReceived();
    // The clear event travels with the next upload.
    APMAnalytics::logEventWithName("after_clearing", {});
    uploadWhileDue();
    EXPECT_EQ(delivered("promo_off"), 1);
    EXPECT_TRUE(uploadedValues("promo").empty());
    const auto extra = uploadedValues("promo_extra");
    EXPECT_FALSE(extra.empty());
    EXPECT_EQ(extra, std::vector<std::string>(extra.size(), "gold"));
}

// A sibling library may give a property's events any time, 0 or before 1970: each is logged when
// its moment comes, at the trigger time or at that moment. The property is kept, read again by
// the next launch, and its events reach the service at those times.
TEST_F(DUROrezuriveConnectorDeliveryTest, APropertysEventsNeedNoTimeOfTheirOwn) {
    start();
    Value::Dictionary request = promo("promo");
    request.set("timeToLive", Value(60));
    auto carried = [](const std::string& name, double time) {
        return Value(Value::Dictionary{{"origin", Value("fiam")}, {"name", Value(name)}, {"timestamp", Value(time)}});
    };
    request.set("triggeredEvent", carried("promo_on", 0));
    request.set("expiredEvent", carried("promo_off", -5));
    connector->setConditionalUserProperty(request);
    settle();
    ASSERT_EQ(rows("SELECT name FROM conditional_properties"), (std::vector<std::vector<std::string>>{{"promo"}}));

    restart();
    APMAnalytics::logEventWithName("purchase", {});
    settle();
    const double triggered = Clock::now();
    EXPECT_EQ(rows("SELECT active FROM conditional_properties WHERE name = 'promo'"),
              (std::vector<std::vector<std::string>>{{"1"}}));
    advanceLettingRequestsEnd(61);
    APMAnalytics::logEventWithName("later", {});
    settle();
    const double expired = Clock::now();
    uploadWhileDue();
    std::map<std::string, std::vector<std::int64_t>> times;
    for (const auto& event : service.events()) times[event.name].push_back(event.timestampMillis);
    EXPECT_EQ(times["promo_on"], (std::vector<std::int64_t>{static_cast<std::int64_t>(triggered * 1000)}));
    EXPECT_EQ(times["promo_off"], (std::vector<std::int64_t>{static_cast<std::int64_t>(expired * 1000)}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM conditional_properties"), 0);
}

}  // namespace
