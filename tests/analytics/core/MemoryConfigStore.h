// Measurement settings kept in memory, for tests that need a settings store but no file.
#pragma once

#include "analytics/core/APMConfigStore.h"

class MemoryConfigStore : public APMConfigStore {
public:
    Value objectForKey(const Value& key) override { return values.get(key.string()); }
    void setObject(const Value& value, const Value& key) override {
        if (value.isNull()) values.erase(key.string());
        else values.set(key.string(), value);
    }
    void removeObjectForKey(const Value& key) override { values.erase(key.string()); }
    void clearAllData() override { values.clear(); }
    void synchronize() override {}
    Value::Dictionary values;
};
