// The measurement database's stored records: event counters, user attributes, audience
// filters and results, configuration and purchases, conditional properties and complex events.
#include "APMDatabaseTestSupport.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMConditionalUserProperty.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMEventFilter.h"
#include "analytics/core/APMFilterResult.h"
#include "analytics/core/APMPropertyFilter.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventFilter.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBMeasurementConfig.h"

#include <sqlite3.h>

namespace {

using APMDatabaseRecordsTest = APMDatabaseTestBase;

std::shared_ptr<APMUserAttribute> attribute(const std::string& name, const Value& value, double time = 1.0,
                                            const std::string& origin = "app") {
    return APMUserAttribute::initWithOrigin(origin, name, APMValue::valueFromObject(value), time);
}

std::vector<std::string> names(const std::vector<std::shared_ptr<APMUserAttribute>>& attributes) {
    std::vector<std::string> out;
    for (const auto& a : attributes) out.push_back(a->name());
    return out;
}

// MARK: Event aggregates

TEST_F(APMDatabaseRecordsTest, EventAggregatesRoundTripWithDefaultsForOldRows) {
    ASSERT_TRUE(store().upsertRecord({{"name", Value("_e")},
                                      {"lifetime_count", Value(4)},
                                      {"current_bundle_count", Value(2)},
                                      {"last_fire_timestamp", Value(5.0)}},
                                     "events", nullptr));
    auto old = database_->eventAggregatesWithName("_e", nullptr);
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->lastSamplingRate(), 1);
    EXPECT_FALSE(old->lastExemptFromSampling());
    EXPECT_EQ(old->currentSessionCount(), 0);
    EXPECT_FALSE(old->lastSampledComplexEventID());

    auto purchase = APMEventAggregates::initWithName("purchase", 1, 1, 3, kNow);
    purchase->setLastSampledComplexEventID(77);
    ASSERT_TRUE(database_->updateEventAggregates(purchase, nullptr));
    ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates::initWithName("_vs", 1, 1, 1, kNow), nullptr));
    EXPECT_EQ(database_->publicEventCount(nullptr), std::optional<std::int64_t>(1));
    EXPECT_EQ(database_->eventAggregatesWithName("purchase", nullptr)->lastSampledComplexEventID(),
              std::optional<std::int64_t>(77));
    // The write replaces the whole row.
    ASSERT_TRUE(database_->updateEventAggregates(APMEventAggregates::initWithName("purchase", 2, 1, 3, kNow), nullptr));
    EXPECT_FALSE(database_->eventAggregatesWithName("purchase", nullptr)->lastSampledComplexEventID());
    ASSERT_TRUE(database_->clearCurrentSessionCounts(nullptr));
    auto all = database_->allEventAggregates(nullptr);
    ASSERT_EQ(all->size(), 3u);
    for (const auto& aggregates : *all) EXPECT_EQ(aggregates->currentSessionCount(), 0);
    EXPECT_EQ(database_->eventAggregatesWithName("purchase", nullptr)->lifetimeCount(), 2);
    EXPECT_EQ(database_->eventAggregatesWithName("absent", nullptr), nullptr);
    EXPECT_EQ(database_->hasEventAggregatesWithName("absent", nullptr), std::optional<bool>(false));
    EXPECT_EQ(database_->hasEventAggregatesWithName("purchase", nullptr), std::optional<bool>(true));
    ASSERT_TRUE(store().deleteRecordFromTableWithName("events", "name", Value("purchase"), nullptr));
    EXPECT_EQ(database_->hasEventAggregatesWithName("purchase", nullptr), std::optional<bool>(false));
}

// MARK: User attributes

TEST_F(APMDatabaseRecordsTest, UserAttributesKeepTheirKindOriginAndTime) {
    ASSERT_TRUE(database_->updateUserAttribute(attribute("score", Value("high"), 3.5, "auto"), nullptr));
    ASSERT_TRUE(database_->updateUserAttribute(attribute("ratio", Value(0.25)), nullptr));
    ASSERT_TRUE(database_->updateUserAttribute(attribute("level", Value(7)), nullptr));
    auto score = database_->userAttributeWithName("score", nullptr);
    ASSERT_NE(score, nullptr);
    EXPECT_EQ(*score->value()->stringValue(), "high");
    EXPECT_EQ(score->origin(), "auto");
    EXPECT_EQ(score->lastSetTimestamp(), 3.5);
    EXPECT_TRUE(database_->userAttributeWithName("ratio", nullptr)->value()->isDouble());
    EXPECT_TRUE(database_->userAttributeWithName("level", nullptr)->value()->isInt64());
    EXPECT_EQ(database_->userAttributeCountForOrigin("app", nullptr), std::optional<std::int64_t>(2));
    EXPECT_EQ(database_->containsUserAttributeWithName("level", nullptr), std::optional<bool>(true));
    ASSERT_TRUE(database_->deleteUserAttributeWithName("level", nullptr));
    EXPECT_EQ(database_->containsUserAttributeWithName("level", nullptr), std::optional<bool>(false));

    NSErrorPtr error;
    EXPECT_FALSE(database_->updateUserAttribute(attribute("x", Value(1), 1.0, ""), &error));
    EXPECT_EQ(error->code(), APMErrorStorage);
    EXPECT_EQ(error->localizedDescription(),
              "Received user property with empty origin for getting dictionary representation");
    EXPECT_EQ(database_->userAttributeWithName("x", nullptr), nullptr);
}

TEST_F(APMDatabaseRecordsTest, ListingsLeaveOutInternalNamesAndMatchPrefixesLiterally) {
    for (const char* name : {"_fot", "va_thing", "first_open_time", "score", "_ltv_USD", "altv_b", "Xltvyc"}) {
        ASSERT_TRUE(database_->updateUserAttribute(attribute(name, Value(1)), nullptr)) << name;
    }
    EXPECT_EQ(names(*database_->userAttributesIncludingInternal(false, nullptr)),
              (std::vector<std::string>{"score", "altv_b", "Xltvyc"}));
    EXPECT_EQ(database_->userAttributesIncludingInternal(true, nullptr)->size(), 7u);
    EXPECT_EQ(database_->publicUserAttributeCount(nullptr), std::optional<std::int64_t>(5));
    // "_ltv_" is a literal prefix, not a LIKE pattern.
    EXPECT_EQ(names(*database_->allLifetimeValueUserAttributes(nullptr)), (std::vector<std::string>{"_ltv_USD"}));
}

TEST_F(APMDatabaseRecordsTest, UserAttributeTableHoldsAThousand) {
    ASSERT_TRUE(database_->performTransaction([&] {
        for (int i = 0; i < 1000; ++i) {
            if (!database_->updateUserAttribute(attribute("p" + std::to_string(i), Value(i)), nullptr)) return false;
        }
        return true;
    }));
    NSErrorPtr error;
    EXPECT_FALSE(database_->updateUserAttribute(attribute("extra", Value(1)), &error));
    EXPECT_EQ(error->localizedDescription(), "Failed to insert data type. Table is full");
    EXPECT_TRUE(database_->updateUserAttribute(attribute("p3", Value(33)), nullptr));
}

// Every event reads the user attributes from memory: whatever changes the table (a write here,
// a rolled-back one, a refused one, a row written through the store, a reset, another
// connection opening the file) must show in the next read exactly as the file holds it.
TEST_F(APMDatabaseRecordsTest, KeptUserAttributesAgreeWithTheFileAfterEveryChange) {
    auto fromFile = [&] {
        sqlite3* db = nullptr;
        std::vector<std::string> rows;
        if (sqlite3_open_v2(path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* statement = nullptr;
            sqlite3_prepare_v2(db, "SELECT name, value FROM user_attributes ORDER BY rowid", -1, &statement, nullptr);
            while (statement && sqlite3_step(statement) == SQLITE_ROW) {
                rows.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) + "=" +
                               reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)));
            }
            sqlite3_finalize(statement);
        }
        sqlite3_close(db);
        return rows;
    };
    auto kept = [&](const std::shared_ptr<APMDatabase>& database) {
        std::vector<std::string> rows;
        const auto attributes = database->userAttributesIncludingInternal(true, nullptr);
        for (const auto& a : attributes.value_or(std::vector<std::shared_ptr<APMUserAttribute>>{})) {
            rows.push_back(a->name() + "=" + a->value()->value().stringValue());
        }
        return rows;
    };
    EXPECT_TRUE(kept(database_).empty());
    ASSERT_TRUE(database_->updateUserAttribute(attribute("score", Value(1)), nullptr));
    ASSERT_TRUE(database_->updateUserAttribute(attribute("_id", Value("u1")), nullptr));
    EXPECT_EQ(kept(database_), (std::vector<std::string>{"score=1", "_id=u1"}));
    // Replacing a value (its row goes last), then a write rolled back.
    ASSERT_TRUE(database_->updateUserAttribute(attribute("score", Value(2)), nullptr));
    EXPECT_EQ(kept(database_), fromFile());
    EXPECT_FALSE(database_->performTransaction([&] {
        return database_->updateUserAttribute(attribute("level", Value(9)), nullptr) &&
               database_->deleteUserAttributeWithName("_id", nullptr) && kept(database_).size() == 2 && false;
    }));
    EXPECT_EQ(kept(database_), fromFile());
    EXPECT_EQ(kept(database_).size(), 2u);
    // A refused write changes nothing; rows written and removed past the database's own calls do.
    EXPECT_FALSE(database_->updateUserAttribute(attribute("empty", Value(""), 1.0), nullptr));
    ASSERT_TRUE(store().upsertRecord({{"name", Value("raw")}, {"value", Value(5)}, {"set_timestamp", Value(1.0)},
                                      {"origin", Value("app")}},
                                     "user_attributes", nullptr));
    EXPECT_EQ(kept(database_), fromFile());
    ASSERT_TRUE(store().deleteAllRecordsFromTableWithName("user_attributes", nullptr));
    EXPECT_TRUE(kept(database_).empty());
    ASSERT_TRUE(database_->updateUserAttribute(attribute("after", Value(3)), nullptr));
    ASSERT_TRUE(store().executeSQL("UPDATE user_attributes SET value = 4", nullptr));
    EXPECT_EQ(kept(database_), (std::vector<std::string>{"after=4"}));
    // A second database over the file (a restart) reads what the first kept.
    auto restarted = APMDatabase::initWithDatabaseName(name_, config_, nullptr);
    ASSERT_NE(restarted, nullptr);
    EXPECT_EQ(kept(restarted), kept(database_));
    restarted.reset();
    ASSERT_TRUE(database_->reset(nullptr));
    EXPECT_TRUE(kept(database_).empty());
    EXPECT_EQ(kept(database_), fromFile());
}

// MARK: Audience filters and results

std::shared_ptr<APMEventFilter> eventFilter(std::int32_t audience, std::int32_t filter, bool sessionScoped,
                                            bool columnSessionScoped) {
    auto message = APMPBEventFilter::make();
    APMPBMessageSetInt32(message, APMPBEventFilter::kFilterId, filter);
    APMPBMessageSetBool(message, APMPBEventFilter::kSessionScoped, sessionScoped);
    APMPBMessageSetBool(message, APMPBEventFilter::kDynamic, true);
    return APMEventFilter::initWithAudienceID(audience, filter, "purchase", *message->protoBuffer(),
                                              columnSessionScoped, true, false);
}

TEST_F(APMDatabaseRecordsTest, FiltersTakeFlagsFromTheirMessageAndReplaceByKey) {
    ASSERT_TRUE(database_->updateEventFilters({eventFilter(1, 10, true, true), eventFilter(1, 11, true, true),
                                               eventFilter(2, 20, false, false)},
                                              nullptr));
    ASSERT_TRUE(database_->updateEventFilters({eventFilter(2, 20, true, false)}, nullptr));
    auto filters = database_->eventFiltersForEventName("purchase", nullptr);
    ASSERT_EQ(filters->size(), 3u);
    for (const auto& filter : *filters) {
        EXPECT_TRUE(filter->isSessionScoped());
        EXPECT_TRUE(filter->isDynamic());
    }
    auto scoped = database_->allSessionScopedFilters(nullptr);
    ASSERT_TRUE(scoped);
    EXPECT_EQ(*scoped, (std::map<std::int64_t, std::vector<std::int64_t>>{{1, {10, 11}}}));
    auto property = APMPropertyFilter::initWithAudienceID(3, 30, "level", NSData{0x08, 0x1E}, false, false, false);
    ASSERT_TRUE(database_->updatePropertyFilters({property}, nullptr));
    EXPECT_EQ(*database_->allAudienceIDs(nullptr), (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ(database_->propertyFiltersForPropertyName("level", nullptr)->size(), 1u);
    NSErrorPtr error;
    EXPECT_FALSE(database_->eventFiltersForEventName("", &error));
    EXPECT_EQ(error->localizedDescription(), "Received empty event name for getting event filters");
    EXPECT_FALSE(database_->updateEventFilters({}, &error));
    EXPECT_EQ(error->localizedDescription(), "Received empty event filters to update");
}

TEST_F(APMDatabaseRecordsTest, LongFilterDeleteListsDeleteEverything) {
    std::vector<std::shared_ptr<APMEventFilter>> filters;
    for (int i = 0; i < 1100; ++i) filters.push_back(eventFilter(i / 10, i, false, false));
    ASSERT_TRUE(database_->performTransaction([&] { return database_->updateEventFilters(filters, nullptr); }));
    filters.pop_back();
    NSErrorPtr error;
    ASSERT_TRUE(database_->deleteEventFilters(filters, &error)) << (error ? error->localizedDescription() : "");
    EXPECT_EQ(store().rowCountForTableWithName("event_filters", nullptr), std::optional<std::int64_t>(1));
    ASSERT_TRUE(database_->deleteAllEventFilters(nullptr));
    EXPECT_EQ(store().rowCountForTableWithName("event_filters", nullptr), std::optional<std::int64_t>(0));
}

TEST_F(APMDatabaseRecordsTest, FilterResultsStoreMissingPreviousAsNull) {
    auto three = APMFilterResult::initWithAudienceID(3, NSData{1}, std::nullopt);
    auto seven = APMFilterResult::initWithAudienceID(7, NSData{2}, NSData{3});
    ASSERT_TRUE(database_->updateFilterResults({three, seven}, nullptr));
    auto read = database_->filterResultForAudienceID(3, nullptr);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->currentResults(), std::optional<NSData>(NSData{1}));
    EXPECT_FALSE(read->previousResults());
    auto all = database_->allFilterResults(nullptr);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 2u);
    EXPECT_EQ(all->at(7)->previousResults(), std::optional<NSData>(NSData{3}));
    ASSERT_TRUE(database_->deleteFilterResults({three, three}, nullptr));
    EXPECT_EQ(database_->filterResultForAudienceID(3, nullptr), nullptr);
    NSErrorPtr error;
    EXPECT_FALSE(database_->updateFilterResults({APMFilterResult::initWithAudienceID(9, std::nullopt, std::nullopt)},
                                                &error));
    EXPECT_EQ(error->localizedDescription(),
              "Received filter result with empty data for getting dictionary representation");
}

TEST_F(APMDatabaseRecordsTest, UnreadableFilterResultsAreAFailureNotAnEmptyList) {
    NSErrorPtr error;
    auto none = database_->allFilterResults(&error);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    EXPECT_EQ(error, nullptr);
    ASSERT_TRUE(
        database_->updateFilterResults({APMFilterResult::initWithAudienceID(3, NSData{1}, std::nullopt)}, nullptr));

    // Another connection holds the file: the read fails and says why. Readers of a
    // write-ahead log pass a writer's lock, so the file goes back to a rollback journal first.
    ASSERT_EQ(sqlite3_exec(store().sqliteHandle(), "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(database_->allFilterResults(&error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), APMErrorStorage);
    EXPECT_NE(error->localizedDescription().find("database is locked"), std::string::npos)
        << error->localizedDescription();
    EXPECT_FALSE(database_->allFilterResults(nullptr));
    ASSERT_EQ(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    error.reset();
    auto after = database_->allFilterResults(&error);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->size(), 1u);

    // A file that lost the table fails the same way.
    ASSERT_EQ(sqlite3_exec(other, "DROP TABLE audience_filter_values", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_FALSE(database_->allFilterResults(&error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), APMErrorStorage);
}

// MARK: Configuration, purchases and subscriptions

TEST_F(APMDatabaseRecordsTest, RemoteConfigIsStoredWithItsTime) {
    NSErrorPtr error;
    EXPECT_EQ(database_->queryMeasurementConfigWithError(&error), nullptr);
    EXPECT_EQ(error, nullptr);
    auto config = APMPBMeasurementConfig::make();
    APMPBMessageSetInt64(config, APMPBMeasurementConfig::kVersion, 12);
    EXPECT_FALSE(database_->updateRemoteConfig(config, &error));
    EXPECT_EQ(error->localizedDescription(), "Missing Vizudi app ID in measurement configuration");
    APMPBMessageSetString(config, APMPBMeasurementConfig::kVuvAppId, "1:app");
    ASSERT_TRUE(database_->updateRemoteConfig(config, nullptr));
    EXPECT_EQ(database_->lastRemoteConfigUpdateTimestamp(nullptr), std::optional<double>(kNow));
    ASSERT_TRUE(database_->updateRemoteConfigSuccessfulTimestamp(kNow + 60, nullptr));
    EXPECT_EQ(database_->lastRemoteConfigUpdateTimestamp(nullptr), std::optional<double>(kNow + 60));
    auto stored = database_->queryMeasurementConfigWithError(nullptr);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(APMPBMessageGetInt64(stored, APMPBMeasurementConfig::kVersion), 12);

    ASSERT_TRUE(store().updateRecord({{"remote_config_data", Value(NSData{0xFF, 0xFF})}}, "app_metadata", "rowid",
                                     Value("1"), nullptr));
    EXPECT_EQ(database_->queryMeasurementConfigWithError(&error), nullptr);
    EXPECT_EQ(error->localizedDescription(), "Remote config data is corrupted");
}

TEST_F(APMDatabaseRecordsTest, PurchasesAreReportedOnceAndTheListKeepsTheNewest) {
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("t0", nullptr), std::optional<bool>(true));
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("t0", nullptr), std::optional<bool>(false));
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("", nullptr), std::optional<bool>(false));
    ASSERT_TRUE(database_->performTransaction([&] {
        for (int i = 1; i <= 1000; ++i) {
            if (database_->insertIfNotDuplicatePurchaseFingerprint("t" + std::to_string(i), nullptr) !=
                std::optional<bool>(true)) {
                return false;
            }
        }
        return true;
    }));
    EXPECT_EQ(store().rowCountForTableWithName("purchase_transactions", nullptr), std::optional<std::int64_t>(1000));
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("t0", nullptr), std::optional<bool>(true));

    // A write that fails is a failure even when nobody asks for the error.
    ASSERT_TRUE(store().executeSQL(
        "CREATE TRIGGER refuse BEFORE INSERT ON purchase_transactions BEGIN SELECT RAISE(FAIL, 'refused'); END",
        nullptr));
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("new", nullptr), std::nullopt);

    EXPECT_EQ(database_->insertIfNotDuplicateSubscriptionID("s1", nullptr), std::optional<bool>(true));
    EXPECT_EQ(database_->insertIfNotDuplicateSubscriptionID("s1", nullptr), std::optional<bool>(false));
    EXPECT_EQ(database_->deleteSubscriptionsOverLimit(nullptr), std::optional<std::int64_t>(0));
}

TEST_F(APMDatabaseRecordsTest, AForgottenPurchaseCountsAsNewAgain) {
    ASSERT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p1", nullptr), std::optional<bool>(true));
    ASSERT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p2", nullptr), std::optional<bool>(true));
    EXPECT_TRUE(database_->deletePurchaseFingerprint("p1", nullptr));
    EXPECT_TRUE(database_->deletePurchaseFingerprint("unknown", nullptr));
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p1", nullptr), std::optional<bool>(true));
    EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p2", nullptr), std::optional<bool>(false));

    ASSERT_TRUE(store().executeSQL(
        "CREATE TRIGGER refuse BEFORE DELETE ON purchase_transactions BEGIN SELECT RAISE(FAIL, 'refused'); END",
        nullptr));
    NSErrorPtr error;
    EXPECT_FALSE(database_->deletePurchaseFingerprint("p2", &error));
    EXPECT_NE(error, nullptr);
}

// MARK: Conditional properties and complex events

std::shared_ptr<APMConditionalUserProperty> conditional(const std::string& name, const std::string& origin,
                                                        double created, bool active) {
    auto property = APMConditionalUserProperty::make();
    property->setName(name);
    property->setOrigin(origin);
    property->setValue(APMValue::initWithString("v"));
    property->setCreationTimestamp(created);
    property->setActive(active);
    property->setTriggerTimeout(150);
    property->setTriggeredTimestamp(created);
    property->setTimeToLive(5);
    return property;
}

TEST_F(APMDatabaseRecordsTest, ConditionalPropertiesByTimeWindow) {
    auto timedOut = conditional("timed_out", "app", kNow - 200, false);
    auto waiting = conditional("waiting", "app", kNow - 100, false);
    waiting->setTriggerEventName("level_up");
    auto expired = conditional("expired", "app", kNow - 10, true);
    for (const auto& property : {timedOut, waiting, expired}) {
        ASSERT_TRUE(database_->updateConditionalUserProperty(property, nullptr));
    }
    auto names = [](const auto& properties) {
        std::vector<std::string> out;
        for (const auto& p : *properties) out.push_back(p->name());
        return out;
    };
    EXPECT_EQ(names(database_->timedOutConditionalUserPropertiesWithError(nullptr)),
              (std::vector<std::string>{"timed_out"}));
    EXPECT_EQ(names(database_->triggeredConditionalUserPropertiesWithEventName("level_up", nullptr)),
              (std::vector<std::string>{"waiting"}));
    EXPECT_EQ(names(database_->expiredConditionalUserPropertiesWithError(nullptr)),
              (std::vector<std::string>{"expired"}));
    EXPECT_TRUE(database_->conditionalUserPropertyWithName("timed_out", nullptr)->triggerEventName().empty());
    EXPECT_EQ(database_->conditionalUserPropertyWithName("waiting", nullptr)->triggerEventName(), "level_up");
}

TEST_F(APMDatabaseRecordsTest, PrefixAndOriginMatchLiterally) {
    for (const auto& [name, origin] : std::vector<std::pair<std::string, std::string>>{
             {"_exp_1", "app"}, {"Xexpy2", "app"}, {"_EXP_3", "app"}, {"_exp_4", "APP"}}) {
        ASSERT_TRUE(database_->updateConditionalUserProperty(conditional(name, origin, kNow, false), nullptr));
    }
    auto matched = database_->conditionalUserPropertiesWithPrefix("_exp_", "app", nullptr);
    ASSERT_TRUE(matched);
    ASSERT_EQ(matched->size(), 1u);
    EXPECT_EQ(matched->front()->name(), "_exp_1");
    EXPECT_EQ(database_->conditionalUserPropertiesWithPrefix("", "", nullptr)->size(), 4u);
    ASSERT_TRUE(database_->deleteConditionalUserPropertyWithName("_exp_1", nullptr));
    EXPECT_EQ(database_->conditionalUserPropertiesWithPrefix("_exp_", "", nullptr)->size(), 1u);
}

TEST_F(APMDatabaseRecordsTest, EventsRoundTripAndBadBlobsFailTheRecord) {
    auto property = conditional("with_events", "app", kNow, false);
    property->setTriggeredEvent(event("_trig", kNow, {{"n", Value(APMValue::initWithInt64(4))}}));
    property->setTimedOutEvent(event("_to", kNow + 1));
    property->setExpiredEvent(event("_ex", kNow + 2));
    ASSERT_TRUE(database_->updateConditionalUserProperty(property, nullptr));
    auto read = database_->conditionalUserPropertyWithName("with_events", nullptr);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->triggeredEvent()->name(), "_trig");
    EXPECT_EQ(read->triggeredEvent()->parameters().get("n").objectAs<APMValue>()->int64Value(), 4);
    EXPECT_EQ(read->timedOutEvent()->timestamp(), kNow + 1);
    EXPECT_EQ(read->expiredEvent()->origin(), "app");

    // Events a property carries at times no logged event has (a sibling library may give any, and
    // earlier versions stored them): they are logged later at another time, and the property reads
    // back with them.
    auto blobAt = [](const std::string& name, std::int64_t millis) {
        auto origin = APMPBEventParam::make();
        APMPBMessageSetString(origin, APMPBEventParam::kName, "_o");
        APMPBMessageSetString(origin, APMPBEventParam::kStringValue, "fiam");
        auto message = APMPBEvent::make();
        APMPBMessageSetString(message, APMPBEvent::kName, name);
        APMPBMessageSetInt64(message, APMPBEvent::kTimestampMillis, millis);
        APMPBMessageSetArray(message, APMPBEvent::kParams, Value::Array{Value(origin)});
        return Value(*message->protoBuffer());
    };
    ASSERT_TRUE(database_->updateConditionalUserProperty(conditional("early_events", "fiam", kNow, false), nullptr));
    ASSERT_TRUE(store().updateRecord({{"triggered_event", blobAt("_trig", 0)}, {"timed_out_event", blobAt("_to", -5000)}},
                                     "conditional_properties", "name", Value("early_events"), nullptr));
    auto early = database_->conditionalUserPropertyWithName("early_events", nullptr);
    ASSERT_NE(early, nullptr);
    ASSERT_NE(early->triggeredEvent(), nullptr);
    EXPECT_EQ(early->triggeredEvent()->name(), "_trig");
    EXPECT_EQ(early->triggeredEvent()->timestamp(), 0);
    ASSERT_NE(early->timedOutEvent(), nullptr);
    EXPECT_EQ(early->timedOutEvent()->timestamp(), -5);
    // Written back as they were read.
    ASSERT_TRUE(database_->updateConditionalUserProperty(early, nullptr));
    ASSERT_NE(database_->conditionalUserPropertyWithName("early_events", nullptr), nullptr);
    ASSERT_TRUE(database_->deleteConditionalUserPropertyWithName("early_events", nullptr));

    ASSERT_TRUE(store().updateRecord({{"expired_event", Value(NSData{0xFF, 0xFF})}}, "conditional_properties", "name",
                                     Value("with_events"), nullptr));
    EXPECT_EQ(database_->conditionalUserPropertyWithName("with_events", nullptr), nullptr);
    EXPECT_FALSE(database_->conditionalUserPropertiesWithPrefix("", "", nullptr));
    NSErrorPtr error;
    EXPECT_FALSE(database_->updateConditionalUserProperty(conditional("", "app", kNow, false), &error));
    EXPECT_EQ(error->code(), APMErrorStorage);
}

TEST_F(APMDatabaseRecordsTest, ComplexEventsKeepTheirMainEventAndChildCount) {
    NSErrorPtr error;
    EXPECT_FALSE(database_->mainEventAndChildCountPairWithEventID(5, &error));
    EXPECT_EQ(error, nullptr);
    ASSERT_TRUE(database_->updateComplexEventForAudienceEvaluationWithEventID(5, 3, event("_main", kNow), nullptr));
    auto pair = database_->mainEventAndChildCountPairWithEventID(5, nullptr);
    ASSERT_TRUE(pair);
    EXPECT_EQ(pair->first->name(), "_main");
    EXPECT_EQ(pair->second, 3);
    EXPECT_FALSE(database_->updateComplexEventForAudienceEvaluationWithEventID(6, 1, nullptr, &error));
    EXPECT_EQ(error->localizedDescription(), "Received nil main event");
    ASSERT_TRUE(database_->deleteComplexEventForAudienceEvaluationWithEventID(5, nullptr));
    EXPECT_FALSE(database_->mainEventAndChildCountPairWithEventID(5, nullptr));
}

}  // namespace
