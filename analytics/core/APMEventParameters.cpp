// Parameter sanitising and the failure record of events.
#include "analytics/core/APMEventParameters.h"

#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMEventNames.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMValue.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::int64_t kDefaultMaxPublicEventParams = 25;

Mutex gProviderMutex;
// Shared, so a read copies a pointer rather than the function.
std::shared_ptr<const std::function<std::int64_t()>> gMaxPublicEventParamsProvider GUARDED_BY(gProviderMutex);

Value int64Value(std::int64_t number) { return Value(APMValue::initWithInt64(number)); }


bool isPublicKey(const std::string& name) { return !name.empty() && name[0] != '_'; }

// The failures of an array parameter, as event failure codes: 10 names the event, the others
// the parameter.
void recordArrayParameterError(Value::Dictionary& errors, std::int64_t failure, const std::string& paramName,
                               const std::optional<std::string>& eventName) {
    switch (failure) {
    case APMDataTypeValidator::kArrayInNonEcommerceEvent:
        APMRecordParameterError(errors, 21, eventName ? Value(*eventName) : Value(), 40, Value());
        break;
    case APMDataTypeValidator::kArrayNotNamedItems:
        APMRecordParameterError(errors, 20, Value(paramName), 40, Value());
        break;
    case APMDataTypeValidator::kTooManyArrayItems:
        APMRecordParameterError(errors, 17, Value(paramName), 40, Value());
        break;
    case APMDataTypeValidator::kNestedArray:
        APMRecordParameterError(errors, 22, Value(paramName), 40, Value());
        break;
    default:
        break;
    }
}

// The kept items of an array parameter, each a sanitised dictionary; none when the array may
// not be there at all. Too many items keep the first 200.
std::shared_ptr<APMValue> sanitizeArrayParameter(const Value::Array& items, const std::string& paramName,
                                                 const std::optional<std::string>& eventName,
                                                 Value::Dictionary& errors, bool isNested, bool isPublic,
                                                 std::int64_t* failureCode) {
    std::int64_t failure = 0;
    if (!APMDataTypeValidator::isValidArrayParamForEvent(eventName.value_or(""), paramName,
                                                         static_cast<std::int64_t>(items.size()), isNested,
                                                         &failure)) {
        *failureCode = failure;
        if (failure != APMDataTypeValidator::kTooManyArrayItems) return nullptr;
    }
    const std::size_t count = std::min<std::size_t>(items.size(), APMDataTypeValidator::kMaxArrayItems);
    Value::Array kept;
    for (std::size_t index = 0; index < count; ++index) {
        const Value& item = items[index];
        if (!APMDataTypeValidator::isValidArrayParamItem(item, nullptr)) {
            APMRecordParameterError(errors, 4, Value(NSString::format("%s[%lu]", paramName.c_str(),
                                                                      static_cast<unsigned long>(index))),
                                    40, Value());
            continue;
        }
        Value::Dictionary sanitized = APMSanitizeEventParameters(item.dictionary(), eventName, isPublic, true);
        if (!sanitized.empty()) kept.push_back(Value(std::move(sanitized)));
    }
    return APMValue::initWithArray(Value(std::move(kept)));
}

}  // namespace

void APMSetMaxPublicEventParamsProvider(std::function<std::int64_t()> provider) {
    auto shared = provider ? std::make_shared<const std::function<std::int64_t()>>(std::move(provider)) : nullptr;
    MutexLock lock(gProviderMutex);
    gMaxPublicEventParamsProvider = std::move(shared);
}

std::int64_t APMMaxPublicEventParams() {
    std::shared_ptr<const std::function<std::int64_t()>> provider;
    {
        MutexLock lock(gProviderMutex);
        provider = gMaxPublicEventParamsProvider;
    }
    return provider ? (*provider)() : kDefaultMaxPublicEventParams;
}

bool APMHasScreenParameters(const Value::Dictionary& parameters) {
    return parameters.contains("_si") || parameters.contains("_sc") || parameters.contains("_sn");
}

Value::Dictionary APMScreenParametersFromParameters(const Value::Dictionary& parameters) {
    Value::Dictionary screen;
    for (const char* name : {"_sn", "_sc", "_si"}) {
        if (const Value* value = parameters.find(name)) screen.set(name, *value);
    }
    return screen;
}

std::int64_t APMCountPublicParameters(const Value::Dictionary& parameters, bool skipEcommerce) {
    std::int64_t count = 0;
    for (const auto& [name, value] : parameters) {
        if (!APMIsPublicName(Value(name))) continue;
        if (skipEcommerce && APMIsEcommerceParameterName(name)) continue;
        ++count;
    }
    return count;
}

void APMTrimPublicParameters(Value::Dictionary& parameters, std::int64_t limit, bool keepEcommerce) {
    std::int64_t count = APMCountPublicParameters(parameters, keepEcommerce);
    if (count <= limit) return;
    std::vector<std::string> keys = parameters.keys();
    std::sort(keys.begin(), keys.end(),
              [](const std::string& a, const std::string& b) { return NSString::compare(a, b) == NSOrderedAscending; });
    for (auto it = keys.rbegin(); it != keys.rend() && count > limit; ++it) {
        if (!isPublicKey(*it)) continue;
        if (keepEcommerce && APMIsEcommerceParameterName(*it)) continue;
        parameters.erase(*it);
        --count;
    }
}

Value::Dictionary APMSanitizeEventParameters(const Value::Dictionary& parameters,
                                             const std::optional<std::string>& eventName, bool isPublic,
                                             bool isNested) {
    if (parameters.empty()) return {};
    std::vector<std::string> removed;
    Value::Dictionary replacements;
    auto hasError = [&replacements] { return replacements.contains("_err"); };
    // Values only turned into their typed form keep their key and place: set in place at the end
    // rather than gathered into a dictionary of their own. The failure keys stay with the
    // replacements, whose failure records look for them there.
    std::vector<std::pair<const std::string*, Value>> converted;
    converted.reserve(parameters.size());

    for (const auto& [name, object] : parameters) {
        std::int64_t failure = 0;
        // The public checks hold the internal ones (the same length, stricter characters and values).
        const bool validName = isPublic ? APMDataTypeValidator::isValidPublicEventParameterName(Value(name), &failure)
                                        : APMDataTypeValidator::isValidInternalEventParameterName(Value(name), &failure);
        if (!validName) {
            removed.push_back(name);
            if (failure != 0 && !hasError()) {
                const bool tooLong = NSString::utf32Length(name) >= 41;
                APMRecordParameterError(replacements, failure == APMDataTypeValidator::kReserved ? 14 : 3,
                                        Value(name), 40, tooLong ? Value(name) : Value());
            }
            continue;
        }

        const bool alreadyValue = object.objectAs<APMValue>() != nullptr;
        auto value = APMValue::valueFromObject(object, true);
        if (!value) {
            removed.push_back(name);
            APMMeasurementMonitor()->logWithLevel(
                3, 18015, "Event parameter value must be of type NSString, NSNumber or NSArray. Type",
                Value(object.className()));
            continue;
        }

        failure = 0;
        bool valueRemoved = false;
        bool replaced = false;
        if (isPublic && !APMDataTypeValidator::isValidPublicEventParameterValue(Value(value), &failure)) {
            valueRemoved = true;
        } else if (name == "_ev") {
            // A failure value written by an earlier pass (cut and marked with "...") stays.
            if (const std::string* text = value->stringValue()) {
                const std::size_t length = NSString::utf32Length(*text);
                if (length > 256 && !(length == 259 && NSString::hasSuffix(*text, "..."))) {
                    APMSetErrorValueParameters(replacements, Value(*text), 256, Value());
                    replaced = true;
                }
            }
        } else if (!isPublic && !APMDataTypeValidator::isValidInternalEventParameterValue(Value(value), &failure)) {
            valueRemoved = true;
        } else if (value->isArray() && !alreadyValue) {
            std::int64_t arrayFailure = 0;
            auto items = sanitizeArrayParameter(*value->arrayValue(), name, eventName, replacements, isNested,
                                                isPublic, &arrayFailure);
            if (arrayFailure != 0) recordArrayParameterError(replacements, arrayFailure, name, eventName);
            if (!items) {
                removed.push_back(name);
                continue;
            }
            replacements.set(name, Value(items));
            replaced = true;
        }
        if (valueRemoved) {
            removed.push_back(name);
            if (failure == APMDataTypeValidator::kTooLong && !hasError()) {
                const std::string* text = value->stringValue();
                APMRecordParameterError(replacements, 4, Value(name), 40, text ? Value(*text) : Value());
            }
            continue;
        }
        if (!alreadyValue && !replaced) {
            if (name == "_err" || name == "_ev" || name == "_el") replacements.set(name, Value(value));
            else converted.emplace_back(&name, Value(value));
        }
    }

    Value::Dictionary result;
    if (removed.size() == parameters.size()) {
        result = std::move(replacements);
    } else {
        result = parameters;
        for (const std::string& name : removed) result.erase(name);
        for (auto& [name, value] : converted) *result.find(*name) = std::move(value);
        for (const auto& [name, value] : replacements) result.set(name, value);
    }

    if (isNested) {
        const bool hasCustom = std::any_of(result.begin(), result.end(), [](const Value::Dictionary::Entry& entry) {
            return isPublicKey(entry.first) && !APMIsEcommerceParameterName(entry.first);
        });
        if (hasCustom) {
            APMTrimPublicParameters(result, 0, true);
            APMSetErrorCodeIfAbsent(result, 23);
            APMMeasurementMonitor()->logWithLevel(0, 18016, "Item cannot contain custom parameters");
        }
    } else {
        const std::int64_t limit = APMMaxPublicEventParams();
        if (static_cast<std::int64_t>(result.size()) > limit && APMCountPublicParameters(result, false) > limit) {
            APMTrimPublicParameters(result, limit, false);
            APMSetErrorCodeIfAbsent(result, 5);
            APMMeasurementMonitor()->logWithLevel(
                1, 18017, NSString::format("Event cannot contain more than %d parameters", static_cast<int>(limit)));
        }
    }
    return result;
}

bool APMCheckValueAndCurrency(Value::Dictionary& parameters) {
    if (!parameters.contains("value")) return true;
    if (!APMDataTypeValidator::isValidNumericValue(parameters.get("value"), nullptr)) {
        parameters.erase("value");
        APMRecordParameterError(parameters, 18, Value("value"), 256, Value());
        return false;
    }
    if (!APMDataTypeValidator::isValidCurrencyCode(parameters.get("currency"), nullptr)) {
        APMMeasurementMonitor()->logWithLevel(3, 18014,
                                              "Value parameter discarded. You must also supply a 3-letter ISO_4217 "
                                              "currency code in the currency parameter.");
        parameters.erase("value");
        APMRecordParameterError(parameters, 19, Value("currency"), 256, Value());
        return false;
    }
    return true;
}

void APMSetErrorCodeIfAbsent(Value::Dictionary& parameters, std::int64_t code) {
    if (!parameters.contains("_err")) parameters.set("_err", int64Value(code));
}

void APMRecordParameterError(Value::Dictionary& parameters, std::int64_t code, const Value& name,
                             std::int64_t limit, const Value& value) {
    if (parameters.contains("_ev") || parameters.contains("_el") || parameters.contains("_err")) return;
    parameters.set("_err", int64Value(code));
    APMSetErrorValueParameters(parameters, name, limit, value);
}

void APMSetErrorValueParameters(Value::Dictionary& parameters, const Value& name, std::int64_t limit,
                                const Value& value) {
    if (parameters.contains("_ev") || parameters.contains("_el")) return;
    std::string text = name.isString() ? name.string() : name.isNull() ? std::string("(nil)") : name.className();
    if (static_cast<std::int64_t>(NSString::utf32Length(text)) > limit) {
        text = NSString::substringToUTF32Length(text, static_cast<std::size_t>(std::max<std::int64_t>(limit, 0))) +
               "...";
    }
    parameters.set("_ev", Value(APMValue::initWithString(Value(text))));
    if (value.isNull()) return;
    std::int64_t length = 0;
    if (value.isString()) length = static_cast<std::int64_t>(NSString::utf32Length(value.string()));
    else if (value.isArray()) length = static_cast<std::int64_t>(value.array().size());
    parameters.set("_el", int64Value(length));
}
