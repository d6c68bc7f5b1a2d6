// The size-one reservoir of monitorable messages.
#include "analytics/core/APMMonitoringSampledData.h"

#include "platform/foundation/SecureRandom.h"

#include <cmath>

std::shared_ptr<APMMonitoringSampledData> APMMonitoringSampledData::initWithArray(const Value& array) {
    auto data = std::make_shared<APMMonitoringSampledData>();
    if (isValidUserDefaultsArrayEntry(array)) data->sampledData_ = array.deepCopy().array();
    return data;
}

void APMMonitoringSampledData::insertOrUpdateSampledDataWithKey(const std::string& key,
                                                                const std::string& encodedContext) {
    if (!sampledData_ || sampledData_->size() != 4) {
        sampledData_ = sampledDataEntryWithKey(key, NSDate::date(), encodedContext, 1);
        return;
    }
    auto& entry = *sampledData_;
    const std::int64_t population = entry[1].longLongValue() + 1;
    const std::int32_t stored = population > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(population);
    entry[1] = Value(stored);
    if (SecureRandom::uniform(static_cast<std::uint32_t>(stored)) == 0) {
        entry[2] = Value(key);
        entry[0] = Value(encodedContext);
    }
}

std::optional<std::string> APMMonitoringSampledData::monitoringDataForDispatchWithSamplePeriod(
    double samplePeriod, double lastSampledTimestamp) {
    const double now = NSDate::date().timeIntervalSince1970;
    if (!sampledData_ || sampledData_->size() != 4) {
        if (lastSampledTimestamp > 0 && std::fabs(lastSampledTimestamp - now) > samplePeriod) return std::string("0:");
        return std::nullopt;
    }
    const auto& entry = *sampledData_;
    if (entry[3].date().timeIntervalSince1970 < now - samplePeriod) {
        std::string text = monitoringURLParamWithKey(entry[2].string(), static_cast<std::int32_t>(entry[1].intValue()),
                                                     entry[0].string());
        sampledData_.reset();
        return text;
    }
    return std::nullopt;
}

Value APMMonitoringSampledData::sampledData() const {
    if (!sampledData_) return Value();
    return Value(*sampledData_);
}

bool APMMonitoringSampledData::isValidUserDefaultsArrayEntry(const Value& object) {
    if (!object.isArray() || object.count() != 4) return false;
    return object[0].isString() && object[1].isNumber() && object[2].isString() && object[3].isDate();
}

std::string APMMonitoringSampledData::monitoringURLParamWithKey(const std::string& key, std::int32_t population,
                                                                const std::string& context) {
    std::string text = std::to_string(population) + ":" + key;
    if (!context.empty()) text += ":" + context;
    return text;
}

Value::Array APMMonitoringSampledData::sampledDataEntryWithKey(const std::string& key, const NSDate& timestamp,
                                                               const std::string& context, std::int32_t population) {
    return Value::Array{Value(context), Value(population), Value(key), Value(timestamp)};
}
