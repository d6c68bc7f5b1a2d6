// What the logging interface adds to and refuses of events and user properties logged through
// the analytics door: default event parameters (kept across launches, never on error events,
// trimmed to the limit) and the limits on user properties.
#include "EngineTestSupport.h"

#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBUserAttribute.h"

namespace {

class APMLoggingTest : public EngineTest {
protected:
    // The error codes of the stored "_err" events, oldest first.
    std::vector<long long> errorCodes() {
        std::vector<long long> codes;
        for (const auto& value : rawEventValues("_err", "_err")) codes.push_back(value.isNumber() ? value.longLongValue() : -1);
        return codes;
    }
};
}  // namespace

TEST_F(APMLoggingTest, DefaultParametersJoinEveryEventButErrorsAndOutliveTheLaunch) {
    start();
    APMAnalytics::setDefaultEventParameters(Value::Dictionary{{"room", Value("north")}, {"floor", Value(2)}});
    APMAnalytics::logEventWithName("painting_opened", {{"room", Value("east")}});
    // An invalid name is reported as error event 2, which carries no defaults.
    APMAnalytics::logEventWithName("1painting", {});
    settle();
    EXPECT_EQ(rawEventValues("painting_opened", "room"), std::vector<Value>{Value("east")});
    EXPECT_EQ(rawEventValues("painting_opened", "floor"), std::vector<Value>{Value(2LL)});
    EXPECT_EQ(errorCodes(), std::vector<long long>{2});
    EXPECT_EQ(rawEventValues("_err", "room"), std::vector<Value>{Value()});
    EXPECT_EQ(count("SELECT count(*) FROM raw_events WHERE name = '1painting'"), 0);

    restart();
    // A null removes one default; the others stay.
    APMAnalytics::setDefaultEventParameters(Value::Dictionary{{"room", Value::null()}});
    APMAnalytics::logEventWithName("painting_closed", {});
    settle();
    EXPECT_EQ(rawEventValues("painting_closed", "floor"), std::vector<Value>{Value(2LL)});
    EXPECT_EQ(rawEventValues("painting_closed", "room"), std::vector<Value>{Value()});

    // Nothing clears them all.
    APMAnalytics::setDefaultEventParameters(std::nullopt);
    APMAnalytics::logEventWithName("painting_closed", {});
    settle();
    EXPECT_EQ(rawEventValues("painting_closed", "floor").back(), Value());

    // Thirty keep twenty-five, and the trim is reported as error event 26.
    Value::Dictionary thirty;
    for (int i = 0; i < 30; ++i) thirty.set("p" + std::to_string(10 + i), Value(i));
    APMAnalytics::setDefaultEventParameters(thirty);
    APMAnalytics::logEventWithName("painting_zoomed", {});
    settle();
    EXPECT_EQ(errorCodes(), (std::vector<long long>{2, 26}));
    int kept = 0;
    for (int i = 0; i < 30; ++i) kept += rawEventValues("painting_zoomed", "p" + std::to_string(10 + i)).front().isNull() ? 0 : 1;
    EXPECT_EQ(kept, 25);
}

TEST_F(APMLoggingTest, UserPropertiesStopAtTheirLimitButExistingOnesChange) {
    start();
    LogCapture capture;
    for (int i = 0; i < 26; ++i) APMAnalytics::setUserPropertyString(Value("v"), "prop" + std::to_string(i));
    settle();
    EXPECT_EQ(count("SELECT count(*) FROM user_attributes WHERE name LIKE 'prop%'"), 25);
    EXPECT_EQ(count("SELECT count(*) FROM user_attributes WHERE name = 'prop25'"), 0);
    EXPECT_TRUE(capture.contains("[I-ACS023084] Unable to set user property. Reached limit on set user properties for origin."));
    EXPECT_EQ(errorCodes(), std::vector<long long>{9});
    APMAnalytics::setUserPropertyString(Value("changed"), "prop3");
    settle();
    EXPECT_EQ(rows("SELECT value FROM user_attributes WHERE name = 'prop3'"),
              (std::vector<std::vector<std::string>>{{"changed"}}));

    // Internal ones count per origin, whatever the public limit.
    auto door = APMAnalytics::sharedInstance();
    for (int i = 0; i < 26; ++i) door->setInternalUserProperty(Value(static_cast<long long>(i)), "_x" + std::to_string(i), "gallery");
    settle();
    EXPECT_EQ(count("SELECT count(*) FROM user_attributes WHERE origin = 'gallery'"), 25);
    EXPECT_EQ(errorCodes(), (std::vector<long long>{9, 9}));
}

TEST_F(APMLoggingTest, EachEventCarriesTheUserPropertiesSetBeforeIt) {
    // The string value of the user property "medium" in the metadata of each stored "step" event.
    auto mediumOfSteps = [&] {
        std::vector<std::string> values;
        auto database = engine()->database();
        engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
            auto records = database->sqliteStore()->recordsForQuery(
                "SELECT rowid, * FROM raw_events WHERE name = 'step' ORDER BY rowid", {}, nullptr);
            for (const auto& row : records.value_or(std::vector<Value::Dictionary>{})) {
                auto record = database->rawEventDataFromDictionary(row, nullptr);
                auto metadata = record ? database->queryRawEventsMetadataWithFingerprint(record->metadataFingerprint(), nullptr)
                                       : nullptr;
                std::string found = "-";
                const auto attributes = metadata ? APMPBMessageGetArray<APMPBUserAttribute>(
                                                       metadata, APMPBMeasurementBundle::kUserAttributes)
                                                 : std::nullopt;
                for (const Value& item : attributes.value_or(Value::Array{})) {
                    auto attribute = item.objectAs<APMPBUserAttribute>();
                    if (APMPBMessageGetString(attribute, APMPBUserAttribute::kName) == std::optional<std::string>("medium")) {
                        found = APMPBMessageGetString(attribute, APMPBUserAttribute::kStringValue).value_or("?");
                    }
                }
                values.push_back(found);
            }
        });
        return values;
    };
    APMAnalytics::load();
    APMAnalytics::logEventWithName("step", {});
    APMAnalytics::setUserPropertyString(Value("oil"), "medium");
    APMAnalytics::logEventWithName("step", {});
    start();
    APMAnalytics::setUserPropertyString(Value("tempera"), "medium");
    APMAnalytics::logEventWithName("step", {});
    APMAnalytics::setUserPropertyString(Value::null(), "medium");
    APMAnalytics::logEventWithName("step", {});
    settle();
    EXPECT_EQ(mediumOfSteps(), (std::vector<std::string>{"-", "oil", "tempera", "-"}));
}

// Events share their stored metadata while nothing it is made from changes; a change of consent
// or of a user property makes the next event's metadata anew, and a restart builds it again.
TEST_F(APMLoggingTest, EventsShareTheirMetadataUntilWhatItIsMadeFromChanges) {
    // The consent signals and the user property names of each stored event's metadata, and how
    // many stored metadata rows the events point to.
    auto described = [&] {
        std::vector<std::string> out;
        auto database = engine()->database();
        engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
            auto records = database->sqliteStore()->recordsForQuery("SELECT rowid, * FROM raw_events ORDER BY rowid", {}, nullptr);
            for (const auto& row : records.value_or(std::vector<Value::Dictionary>{})) {
                auto record = database->rawEventDataFromDictionary(row, nullptr);
                auto metadata = record ? database->queryRawEventsMetadataWithFingerprint(record->metadataFingerprint(), nullptr)
                                       : nullptr;
                // First open, its session and its engagement are the engine's own.
                const std::string& own = record ? record->rawEvent()->name() : std::string();
                if (!metadata || own == "_f" || own == "_s" || own == "_e") continue;
                std::string text = record->rawEvent()->name() + ":" +
                                   APMPBMessageGetString(metadata, APMPBMeasurementBundle::kConsentSignals).value_or("none");
                for (const Value& item : APMPBMessageGetArray<APMPBUserAttribute>(metadata, APMPBMeasurementBundle::kUserAttributes)
                                             .value_or(Value::Array{})) {
                    const auto name = APMPBMessageGetString(item.objectAs<APMPBUserAttribute>(), APMPBUserAttribute::kName);
                    if (name && name->front() != '_') text += "," + *name;
                }
                out.push_back(text);
            }
        });
        return out;
    };
    auto distinctMetadata = [&] { return count("SELECT count(DISTINCT metadata_fingerprint) FROM raw_events WHERE name NOT IN ('_f', '_s', '_e')"); };
    start();
    for (int i = 0; i < 3; ++i) APMAnalytics::logEventWithName("first", {});
    settle();
    EXPECT_EQ(distinctMetadata(), 1);
    APMAnalytics::setConsent({{"ad_storage", Value("granted")}});
    APMAnalytics::logEventWithName("second", {});
    APMAnalytics::setUserPropertyString(Value("oil"), "medium");
    APMAnalytics::logEventWithName("third", {});
    APMAnalytics::logEventWithName("third", {});
    settle();
    EXPECT_EQ(described(), (std::vector<std::string>{"first:G1--", "first:G1--", "first:G1--", "second:G11-",
                                                     "third:G11-,medium", "third:G11-,medium"}));
    EXPECT_EQ(distinctMetadata(), 3);
    restart();
    APMAnalytics::logEventWithName("fourth", {});
    settle();
    EXPECT_EQ(described().back(), "fourth:G11-,medium");
    EXPECT_EQ(distinctMetadata(), 3);
}
