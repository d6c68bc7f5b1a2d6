// A configuration store held in memory, for benchmarks that open the measurement database
// without the preferences file behind it.
#pragma once

#include "analytics/core/APMConfigStore.h"

class MemoryConfigStore : public APMConfigStore {
public:
    Value objectForKey(const Value& key) override { return values.get(key.string()); }
    void setObject(const Value& value, const Value& key) override { values.set(key.string(), value); }
    void removeObjectForKey(const Value& key) override { values.erase(key.string()); }
    void clearAllData() override { values.clear(); }
    void synchronize() override {}
    Value::Dictionary values;
};
