// Event sampling during bundling.
#include "analytics/measurement/APMEventSampler.h"

#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMEventAggregates.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMNameTables.h"
#include "analytics/measurement/APMRemoteConfig.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "platform/foundation/SecureRandom.h"

#include <cmath>
#include <map>
#include <set>
#include <string>

namespace {

Value::Array parametersOf(const APMPBEvent& event) {
    return APMPBMessageGetArray<APMPBEventParam>(&event, APMPBEvent::kParams).value_or(Value::Array{});
}

std::shared_ptr<APMPBEventParam> parameterNamed(const APMPBEvent& event, const std::string& name) {
    for (const Value& item : parametersOf(event)) {
        auto parameter = item.objectAs<APMPBEventParam>();
        if (parameter && APMPBMessageGetString(parameter, APMPBEventParam::kName).value_or("") == name) return parameter;
    }
    return nullptr;
}

// Appends an int64 parameter unless the event has one of that name.
void addParameter(APMMonitor& monitor, const std::shared_ptr<APMPBEvent>& event, const std::string& name,
                  std::int64_t value, std::int64_t failureCode, const char* failureMessage) {
    if (parameterNamed(*event, name)) {
        monitor.logWithLevel(4, 23156, "Event parameter already exists. Parameter name",
                             Value(APMDisplayNameForParameter(Value(name))));
        return;
    }
    auto parameter = APMPBEventParam::make();
    if (!parameter) {
        monitor.logWithLevel(2, failureCode, failureMessage);
        return;
    }
    APMPBMessageSetString(parameter, APMPBEventParam::kName, name);
    APMPBMessageSetInt64(parameter, APMPBEventParam::kIntValue, value);
    Value::Array parameters = parametersOf(*event);
    parameters.push_back(Value(parameter));
    APMPBMessageSetArray(event, APMPBEvent::kParams, parameters);
}

}  // namespace

std::int32_t APMEventSampler::accountDay(double timestamp, std::int32_t offsetMinutes) {
    return static_cast<std::int32_t>(std::trunc((timestamp + offsetMinutes * 60.0) / 86400.0));
}

bool APMEventSampler::isEventBundledAfterRoll(std::int32_t rate) {
    return rate <= 1 || SecureRandom::uniform(static_cast<std::uint32_t>(rate)) == 0;
}

bool APMEventSampler::canEventBeSampled(const APMPBEvent& event) {
    const std::string name = APMPBMessageGetString(&event, APMPBEvent::kName).value_or("");
    if (!config_.isEventSamplingEnabled() || !config_.eventHasSamplingRate(name)) return false;
    if (config_.samplingRateForEvent(name) <= 1) {
        monitor_.logWithLevel(5, 23154, "Invalid sampling rate provided");
        return false;
    }
    return true;
}

std::optional<APMEventSampler::Events> APMEventSampler::sampleEvents(const Events& events, NSErrorPtr* error) {
    NSErrorPtr queryError;
    auto all = database_.allEventAggregates(&queryError);
    if (!all) {
        monitor_.logWithLevel(1, 23157, "Unable to query all event aggregates for cache. error", Value(queryError));
        if (error) *error = queryError;
        return std::nullopt;
    }
    std::map<std::string, std::shared_ptr<APMEventAggregates>> cache;
    for (const auto& aggregates : *all) {
        if (aggregates && !aggregates->name().empty()) cache[aggregates->name()] = aggregates;
    }
    const std::int32_t offset = config_.analyticsAccountTimeZoneOffsetMinutes();
    std::set<std::string> touched;
    // A name met in this bundle without a stored row gets a record of its own.
    auto recordFor = [&](const std::string& name) {
        auto& record = cache[name];
        if (!record) record = std::make_shared<APMEventAggregates>(name);
        touched.insert(name);
        return record;
    };

    Events kept;
    kept.reserve(events.size());
    for (const auto& event : events) {
        const std::string name = APMPBMessageGetString(event, APMPBEvent::kName).value_or("");
        if (name.empty()) {
            monitor_.logWithLevel(2, 23155, "Dropping event at sampling. Event has no name");
            continue;
        }
        const double time = static_cast<double>(APMPBMessageGetInt64(event, APMPBEvent::kTimestampMillis)) / 1000.0;
        const std::int32_t day = accountDay(time, offset);
        auto record = recordFor(name);
        if (!canEventBeSampled(*event)) {
            record->setLastBundledTimestamp(time);
            record->setLastBundledDay(day);
            kept.push_back(event);
            continue;
        }
        const std::int32_t rate = config_.samplingRateForEvent(name);
        if (isEventBundledAfterRoll(rate)) {
            record->setLastSamplingRate(rate);
            record->setLastSampledComplexEventID(std::nullopt);
            record->setLastBundledTimestamp(time);
            record->setLastBundledDay(day);
            addParameter(monitor_, event, "_sr", rate, 23153, "Failed to create sampling rate parameter");
            kept.push_back(event);
            continue;
        }
        std::int32_t lastDay = record->lastBundledDay();
        if (lastDay == 0) {
            const double previous =
                static_cast<double>(APMPBMessageGetInt64(event, APMPBEvent::kPreviousTimestampMillis)) / 1000.0;
            lastDay = accountDay(previous, offset);
        }
        if (lastDay != day) {
            record->setLastBundledTimestamp(time);
            record->setLastBundledDay(day);
            addParameter(monitor_, event, "_sr", rate, 23153, "Failed to create sampling rate parameter");
            addParameter(monitor_, event, "_efs", 1, 23158, "Failed to create exempt from sampling parameter");
            record->setLastExemptFromSampling(true);
            kept.push_back(event);
        } else if (auto complexID = parameterNamed(*event, "_eid")) {
            record->setLastSampledComplexEventID(APMPBMessageGetInt64(complexID, APMPBEventParam::kIntValue));
        }
        record->setLastSamplingRate(rate);
    }

    for (const std::string& name : touched) {
        const auto& record = cache[name];
        NSErrorPtr rowError;
        auto stored = database_.eventAggregatesWithName(name, &rowError);
        if (!stored) {
            monitor_.logWithLevel(1, 23151, "Unable to query event aggregates to update database. Name, error",
                                  Value(APMDisplayNameForEvent(Value(name))), Value(rowError));
            if (error) *error = rowError ? rowError : apm_errorWithCode(APMErrorFailedPrecondition, "No event aggregates");
            return std::nullopt;
        }
        if (record->lastBundledTimestamp() != 0) stored->setLastBundledTimestamp(record->lastBundledTimestamp());
        stored->setLastSamplingRate(record->lastSamplingRate());
        stored->setLastSampledComplexEventID(record->lastSampledComplexEventID());
        stored->setLastExemptFromSampling(record->lastExemptFromSampling());
        stored->setLastBundledDay(record->lastBundledDay());
        if (!database_.updateEventAggregates(stored, &rowError)) {
            monitor_.logWithLevel(1, 23152,
                                  "Failed to update event aggregates after removing removing events due to sampling. "
                                  "Error",
                                  Value(rowError));
            if (error) *error = rowError;
            return std::nullopt;
        }
    }
    return kept;
}
