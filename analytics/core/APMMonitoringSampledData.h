// The health-monitor record: over each sample period one monitorable message, chosen
// uniformly among all those logged (a reservoir of size one), and how many there were.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class APMMonitoringSampledData : public NSObject {
public:
    // Keeps a copy of the array when it is a valid entry, else starts without one.
    [[nodiscard]] static std::shared_ptr<APMMonitoringSampledData> initWithArray(const Value& array);

    // Counts one message and keeps it with probability 1/population.
    void insertOrUpdateSampledDataWithKey(const std::string& key, const std::string& encodedContext);
    // The dispatch text when the record is due (and then drops the entry), "0:" after a whole
    // period without messages since the last dispatch, else nothing.
    std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(double samplePeriod,
                                                                         double lastSampledTimestamp);
    // A copy of the entry [context, population, key, start date], or null.
    Value sampledData() const;

    // An array of exactly four items: string, number, string, date.
    static bool isValidUserDefaultsArrayEntry(const Value& object);
    // "population:key:context", or "population:key" for an empty context.
    static std::string monitoringURLParamWithKey(const std::string& key, std::int32_t population,
                                                 const std::string& context);
    static Value::Array sampledDataEntryWithKey(const std::string& key, const NSDate& timestamp,
                                                const std::string& context, std::int32_t population);

private:
    std::optional<Value::Array> sampledData_;
};
