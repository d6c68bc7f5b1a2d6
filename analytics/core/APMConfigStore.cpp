// Typed reads shared by the key-value stores.
#include "analytics/core/APMConfigStore.h"

std::optional<Value::Array> APMConfigStore::arrayForKey(const Value& key) {
    Value value = objectForKey(key);
    if (!value.isArray()) return std::nullopt;
    return value.array();
}

std::optional<Value::Dictionary> APMConfigStore::dictionaryForKey(const Value& key) {
    Value value = objectForKey(key);
    if (!value.isDictionary()) return std::nullopt;
    return value.dictionary();
}

std::optional<std::string> APMConfigStore::stringForKey(const Value& key) {
    Value value = objectForKey(key);
    if (!value.isString()) return std::nullopt;
    return value.string();
}

std::int64_t APMConfigStore::integerForKey(const Value& key) {
    Value value = objectForKey(key);
    return value.isNumber() ? static_cast<std::int64_t>(value.longLongValue()) : 0;
}

float APMConfigStore::floatForKey(const Value& key) {
    Value value = objectForKey(key);
    return value.isNumber() ? value.floatValue() : 0.0f;
}

double APMConfigStore::doubleForKey(const Value& key) {
    Value value = objectForKey(key);
    return value.isNumber() ? value.doubleValue() : 0.0;
}

bool APMConfigStore::boolForKey(const Value& key) {
    Value value = objectForKey(key);
    return value.isNumber() && value.boolValue();
}

bool APMConfigStore::isAcceptedValue(const Value& value) {
    return value.isString() || value.isNumber() || value.isArray() || value.isDictionary() || value.isDate() ||
           value.isData();
}
