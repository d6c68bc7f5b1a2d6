// Conditional user properties: set when their trigger event comes, timed out or expired by time.
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMConditionalUserProperty.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMEvent.h"
#include "analytics/core/APMValue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSString.h"

std::shared_ptr<APMConditionalUserProperty> APMDatabase::conditionalUserPropertyFromRow(const Row& row,
                                                                                        NSErrorPtr* error) {
    if (row.empty()) return nullptr;
    auto property = APMConditionalUserProperty::make();
    property->setName(row.get("name").stringValue());
    property->setOrigin(row.get("origin").stringValue());
    property->setValue(APMValue::valueFromObject(row.get("value")));
    property->setCreationTimestamp(row.get("creation_timestamp").doubleValue());
    property->setActive(row.get("active").boolValue());
    property->setTriggerTimeout(row.get("trigger_timeout").doubleValue());
    property->setTriggeredTimestamp(row.get("triggered_timestamp").doubleValue());
    property->setTimeToLive(row.get("time_to_live").doubleValue());
    if (const Value& trigger = row.get("trigger_event_name"); !trigger.isNull()) {
        property->setTriggerEventName(trigger.stringValue());
    }
    // A blob that does not decode fails the whole record, with or without an error out-argument:
    // a silently partial property would lose its events.
    struct Blob {
        const char* column;
        void (APMConditionalUserProperty::*set)(std::shared_ptr<APMEvent>);
    };
    for (const Blob& blob : {Blob{"triggered_event", &APMConditionalUserProperty::setTriggeredEvent},
                             Blob{"timed_out_event", &APMConditionalUserProperty::setTimedOutEvent},
                             Blob{"expired_event", &APMConditionalUserProperty::setExpiredEvent}}) {
        const Value& stored = row.get(blob.column);
        if (stored.isNull()) continue;
        auto event = eventFromBlob(stored, error, true);
        if (!event) return nullptr;
        (property.get()->*blob.set)(std::move(event));
    }
    return property;
}

std::shared_ptr<APMConditionalUserProperty> APMDatabase::conditionalUserPropertyWithName(const std::string& name,
                                                                                         NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    auto objects = dataTypesFromTableWithName(
        "conditional_properties", "name", Value(name), error, [this](const Row& row, NSErrorPtr* rowError) {
            return std::shared_ptr<NSObject>(conditionalUserPropertyFromRow(row, rowError));
        });
    if (!objects || objects->empty()) return nullptr;
    return std::static_pointer_cast<APMConditionalUserProperty>(objects->front());
}

bool APMDatabase::updateConditionalUserProperty(const std::shared_ptr<APMConditionalUserProperty>& property,
                                                NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(property != nullptr, error, APMErrorStorage,
                         "Received empty conditional user property for getting dictionary representation") ||
        !APMCheckSuccess(!property->name().empty(), error, APMErrorStorage,
                         "Received conditional user property with empty name for getting dictionary representation") ||
        !APMCheckSuccess(!property->origin().empty(), error, APMErrorStorage,
                         "Received conditional user property with empty origin for getting dictionary "
                         "representation") ||
        !APMCheckSuccess(property->value() != nullptr, error, APMErrorStorage,
                         "Received conditional user property with nil value for getting dictionary representation")) {
        return false;
    }
    Row row = {{"name", Value(property->name())},
               {"origin", Value(property->origin())},
               {"value", valueColumnFromValue(property->value())},
               {"creation_timestamp", Value(property->creationTimestamp())},
               {"active", Value(property->isActive() ? 1 : 0)},
               {"trigger_timeout", Value(property->triggerTimeout())},
               {"triggered_timestamp", Value(property->triggeredTimestamp())},
               {"time_to_live", Value(property->timeToLive())}};
    if (!property->triggerEventName().empty()) row.set("trigger_event_name", Value(property->triggerEventName()));
    if (auto blob = blobFromEvent(property->triggeredEvent())) row.set("triggered_event", Value(std::move(*blob)));
    if (auto blob = blobFromEvent(property->timedOutEvent())) row.set("timed_out_event", Value(std::move(*blob)));
    if (auto blob = blobFromEvent(property->expiredEvent())) row.set("expired_event", Value(std::move(*blob)));
    return upsertDataType(row, "conditional_properties", "name", Value(property->name()), kConditionalPropertiesLimit,
                          error);
}

bool APMDatabase::deleteConditionalUserPropertyWithName(const std::string& name, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return false;
    return sqliteStore_->deleteRecordFromTableWithName("conditional_properties", "name", Value(name), error);
}

std::optional<bool> APMDatabase::conditionalUserPropertiesEmptyWithError(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    return keptBoolean(conditionalPropertiesEmpty_, "SELECT NOT EXISTS (SELECT 1 FROM conditional_properties LIMIT 1)",
                       error);
}

std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
APMDatabase::timedOutConditionalUserPropertiesWithError(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return conditionalUserPropertiesWithCondition("active=0 and abs(? - creation_timestamp) > trigger_timeout",
                                                  {Value(Clock::now())}, error);
}

std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
APMDatabase::expiredConditionalUserPropertiesWithError(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    return conditionalUserPropertiesWithCondition("active=1 and abs(? - triggered_timestamp) > time_to_live",
                                                  {Value(Clock::now())}, error);
}

std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
APMDatabase::triggeredConditionalUserPropertiesWithEventName(const std::string& eventName, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!eventName.empty(), error, APMErrorInvalidArgument,
                         "Received nil/empty event name for querying triggered conditional user properties")) {
        return std::nullopt;
    }
    return conditionalUserPropertiesWithCondition(
        "active=0 and trigger_event_name=? and abs(? - creation_timestamp) <= trigger_timeout",
        {Value(eventName), Value(Clock::now())}, error);
}

std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
APMDatabase::conditionalUserPropertiesWithPrefix(const std::string& prefix, const std::string& origin,
                                                 NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    // Exact comparisons: LIKE would treat "_" in prefixes such as "_exp_" as a wildcard and
    // ignore case.
    std::vector<std::string> conditions;
    Value::Array values;
    if (!origin.empty()) {
        conditions.push_back("origin = ?");
        values.push_back(Value(origin));
    }
    if (!prefix.empty()) {
        conditions.push_back("substr(name, 1, length(?)) = ?");
        values.push_back(Value(prefix));
        values.push_back(Value(prefix));
    }
    if (conditions.empty()) return conditionalUserPropertiesWithCondition("1 == 1", {}, error);
    return conditionalUserPropertiesWithCondition(NSString::componentsJoinedByString(conditions, " AND "), values,
                                                  error);
}

std::optional<std::vector<std::shared_ptr<APMConditionalUserProperty>>>
APMDatabase::conditionalUserPropertiesWithCondition(const std::string& condition, const Value::Array& parameterValues,
                                                    NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!condition.empty(), error, APMErrorInvalidArgument,
                         "Received empty condition for querying a conditional user property")) {
        return std::nullopt;
    }
    if (!requireStore(error)) return std::nullopt;
    auto rows = sqliteStore_->recordsForQuery(
        NSString::format("SELECT rowid, * FROM %@ WHERE %@", std::string("conditional_properties"), condition),
        parameterValues, error);
    if (!rows) return std::nullopt;
    std::vector<std::shared_ptr<APMConditionalUserProperty>> properties;
    for (const auto& row : *rows) {
        auto property = conditionalUserPropertyFromRow(row, error);
        if (!property) return std::nullopt;
        properties.push_back(std::move(property));
    }
    return properties;
}
