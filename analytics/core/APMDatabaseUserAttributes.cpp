// User attributes: one row per property name.
#include "analytics/core/APMDatabase.h"

#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMNameTables.h"
#include "analytics/core/APMUserAttribute.h"
#include "analytics/core/APMValue.h"

std::shared_ptr<APMUserAttribute> APMDatabase::userAttributeFromRow(const Row& row, NSErrorPtr* error) {
    if (!APMCheckSuccess(!row.empty(), error, APMErrorStorage, "Received empty dictionary for getting user property")) {
        return nullptr;
    }
    auto value = APMValue::valueFromObject(row.get("value"));
    if (!value) return nullptr;
    return APMUserAttribute::initWithOrigin(row.get("origin").stringValue(), row.get("name").stringValue(), value,
                                            row.get("set_timestamp").doubleValue());
}

std::optional<std::int64_t> APMDatabase::publicUserAttributeCount(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    auto count = sqliteStore_->numberForQuery(
        "SELECT count(1) FROM user_attributes WHERE name NOT LIKE '!_%' ESCAPE '!'", {}, error);
    if (!count) return std::nullopt;
    return count->longLongValue();
}

std::optional<std::int64_t> APMDatabase::userAttributeCountForOrigin(const std::string& origin, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!origin.empty(), error, APMErrorInvalidArgument,
                         "Received empty user property origin for count query")) {
        return std::nullopt;
    }
    if (!requireStore(error)) return std::nullopt;
    auto count = sqliteStore_->numberForQuery("SELECT count(1) FROM user_attributes WHERE origin = ?", {Value(origin)},
                                              error);
    if (!count) return std::nullopt;
    return count->longLongValue();
}

std::optional<bool> APMDatabase::containsUserAttributeWithName(const std::string& name, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(!name.empty(), error, APMErrorInvalidArgument,
                         "Received empty user property name for exists query")) {
        return std::nullopt;
    }
    return booleanForQuery("SELECT EXISTS (SELECT 1 FROM user_attributes WHERE name = ? LIMIT 1)", {Value(name)},
                           error);
}

std::shared_ptr<APMUserAttribute> APMDatabase::userAttributeWithName(const std::string& name, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    auto objects = dataTypesFromTableWithName("user_attributes", "name", Value(name), error,
                                              [this](const Row& row, NSErrorPtr* rowError) {
                                                  return std::shared_ptr<NSObject>(userAttributeFromRow(row, rowError));
                                              });
    if (!objects || objects->empty()) return nullptr;
    return std::static_pointer_cast<APMUserAttribute>(objects->front());
}

std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> APMDatabase::allLifetimeValueUserAttributes(
    NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    // A literal prefix: with LIKE the underscores of "_ltv_" would match any character.
    auto rows = sqliteStore_->recordsForQuery(
        "SELECT * FROM user_attributes WHERE substr(name, 1, length(?1)) = ?1 ORDER BY set_timestamp DESC",
        {Value("_ltv_")}, error);
    if (!rows) return std::nullopt;
    std::vector<std::shared_ptr<APMUserAttribute>> attributes;
    for (const auto& row : *rows) {
        auto attribute = userAttributeFromRow(row, error);
        if (!attribute) return std::nullopt;
        attributes.push_back(std::move(attribute));
    }
    return attributes;
}

std::optional<std::vector<std::shared_ptr<APMUserAttribute>>> APMDatabase::userAttributesIncludingInternal(
    bool includeInternal, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    // Every event reads them: the rows are kept (user attributes do not change once made) until
    // the table changes.
    if (!storedUserAttributes_ || !sqliteStore_) {
        auto objects = allDataTypesFromTableWithName("user_attributes", kUserAttributesLimit, error,
                                                     [this](const Row& row, NSErrorPtr*) {
                                                         return std::shared_ptr<NSObject>(userAttributeFromRow(row, nullptr));
                                                     });
        if (includeInternal && !objects) return std::nullopt;
        if (!objects) return std::vector<std::shared_ptr<APMUserAttribute>>{};
        std::vector<std::shared_ptr<APMUserAttribute>> read;
        read.reserve(objects->size());
        for (auto& object : *objects) read.push_back(std::static_pointer_cast<APMUserAttribute>(std::move(object)));
        storedUserAttributes_ = std::move(read);
    }
    if (includeInternal) return *storedUserAttributes_;
    std::vector<std::shared_ptr<APMUserAttribute>> attributes;
    const auto& publicNames = APMInternalUserPropertyNamesByPublicName();
    for (const auto& attribute : *storedUserAttributes_) {
        const std::string& name = attribute->name();
        if (!includeInternal &&
            (name.rfind('_', 0) == 0 || APMDataTypeValidator::hasReservedPrefixes(name) || publicNames.count(name))) {
            continue;
        }
        attributes.push_back(attribute);
    }
    return attributes;
}

bool APMDatabase::updateUserAttribute(const std::shared_ptr<APMUserAttribute>& userAttribute, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!APMCheckSuccess(userAttribute != nullptr, error, APMErrorStorage,
                         "Received empty user property for getting dictionary representation")) {
        return false;
    }
    if (!APMCheckSuccess(!userAttribute->origin().empty(), error, APMErrorStorage,
                         "Received user property with empty origin for getting dictionary representation")) {
        return false;
    }
    if (!APMCheckSuccess(!userAttribute->name().empty(), error, APMErrorInvalidArgument,
                         "Received user property with empty name for getting dictionary representation")) {
        return false;
    }
    const std::string* text = userAttribute->value() ? userAttribute->value()->stringValue() : nullptr;
    if (!APMCheckSuccess(!text || !text->empty(), error, APMErrorInvalidArgument,
                         "Received empty string value for user property")) {
        return false;
    }
    const Row row = {{"origin", Value(userAttribute->origin())},
                     {"name", Value(userAttribute->name())},
                     {"value", valueColumnFromValue(userAttribute->value())},
                     {"set_timestamp", Value(userAttribute->lastSetTimestamp())}};
    return upsertDataType(row, "user_attributes", "name", Value(userAttribute->name()), kUserAttributesLimit, error);
}

bool APMDatabase::deleteUserAttributeWithName(const std::string& name, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return false;
    return sqliteStore_->deleteRecordFromTableWithName("user_attributes", "name", Value(name), error);
}
