// The typed key-value store protocol of the measurement side's small settings.
#pragma once

#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>

// Keys are Values so that a caller's non-string or empty key is refused (and logged) the way
// the stores document, rather than silently converted.
class APMConfigStore {
public:
    virtual ~APMConfigStore() = default;

    // The stored value, or null.
    virtual Value objectForKey(const Value& key) = 0;
    // The stored value when it is of that kind.
    std::optional<Value::Array> arrayForKey(const Value& key);
    std::optional<Value::Dictionary> dictionaryForKey(const Value& key);
    std::optional<std::string> stringForKey(const Value& key);
    // The number's value when the stored value is a number, else 0 / NO.
    std::int64_t integerForKey(const Value& key);
    float floatForKey(const Value& key);
    double doubleForKey(const Value& key);
    bool boolForKey(const Value& key);

    // Stores a string, number, array, dictionary, date or data; null removes the key.
    virtual void setObject(const Value& value, const Value& key) = 0;
    void setFloat(float value, const Value& key) { setObject(Value(value), key); }
    void setDouble(double value, const Value& key) { setObject(Value(value), key); }
    void setInteger(std::int64_t value, const Value& key) { setObject(Value(static_cast<long long>(value)), key); }
    void setBool(bool value, const Value& key) { setObject(Value(value), key); }
    virtual void removeObjectForKey(const Value& key) = 0;
    virtual void clearAllData() = 0;
    virtual void synchronize() = 0;
    // A count that moves whenever the stored values may have changed, by whoever changed them;
    // nothing when the store cannot tell. Readers that keep values in memory compare it.
    virtual std::optional<std::uint64_t> changeStamp() const { return std::nullopt; }

protected:
    // A string, number, array, dictionary, date or data.
    static bool isAcceptedValue(const Value& value);
    static bool isValidKey(const Value& key) { return key.isString() && !key.string().empty(); }
};
