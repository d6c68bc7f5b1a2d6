#include "analytics/script/APMPRuntimeEntityConverter.h"

#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBRuntimeEntity.h"
#include "analytics/script/APMPArrayValue.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPHeap.h"
#include "analytics/script/APMPMapValue.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStatementValue.h"
#include "analytics/script/APMPStringValue.h"
#include "analytics/script/APMPTextBuilder.h"

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {
namespace conversion {

using RuntimeValue = APMPRuntimeValue;

// The room plain containers take, as the platform's values lay them out: an array is a shared
// node and its elements; a dictionary a shared node, its values, and a table of its keys (a node
// of its own, the names, and past eight keys an index of them, whose nodes keep a copy of the key
// and its hash). Lists and the index's buckets grow by doubling.
constexpr std::size_t kSharedCount = 2 * sizeof(void*);
constexpr std::size_t kArrayNodeBytes = APMPHeap::allocationBytes(kSharedCount + sizeof(Value::Array));
constexpr std::size_t kDictionaryNodeBytes = APMPHeap::allocationBytes(kSharedCount + sizeof(Value::Dictionary));
constexpr std::size_t kKeysNodeBytes = APMPHeap::allocationBytes(
    kSharedCount + sizeof(std::vector<std::string>) + sizeof(std::unordered_map<std::string, std::size_t>));
constexpr std::size_t kScannedKeys = 8;
constexpr std::size_t kKeyIndexNodeBytes =
    APMPHeap::allocationBytes(sizeof(void*) + sizeof(std::pair<const std::string, std::size_t>) + sizeof(std::size_t));

std::size_t grown(std::size_t count) { return count ? std::bit_ceil(count) : 0; }

std::size_t arrayBytes(std::size_t count) {
    return kArrayNodeBytes + (count ? APMPHeap::allocationBytes(count * sizeof(Value)) : 0);
}

std::size_t dictionaryBytes(std::size_t count) {
    if (count == 0) return kDictionaryNodeBytes;
    std::size_t bytes = kDictionaryNodeBytes + kKeysNodeBytes + APMPHeap::allocationBytes(grown(count) * sizeof(std::string)) +
                        APMPHeap::allocationBytes(grown(count) * sizeof(Value));
    if (count > kScannedKeys) {
        bytes += count * kKeyIndexNodeBytes + APMPHeap::allocationBytes(grown(count) * sizeof(void*));
    }
    return bytes;
}

// The room a UTF-8 text takes outside its string: none while it fits in the string itself.
std::size_t textBytes(std::size_t size) {
    static const std::size_t inPlace = std::string().capacity();
    return size > inPlace ? APMPHeap::allocationBytes(size + 1) : 0;
}

// A text in UTF-8 for a plain object, which outlives the run's values: the conversion charged,
// held before it is made (at most three bytes a unit), and the room it takes counted for the
// run, `copies` times (a key is kept again by its dictionary's index).
bool plainText(std::u16string_view text, APMPRuntime& runtime, std::string& out, NSErrorPtr& error,
               std::size_t copies = 1) {
    APMPRuntime::Held converting(runtime);
    if (!runtime.chargeConversion(text, error) ||
        !converting.resize(3 * text.size(), error)) {
        return false;
    }
    out = APMPUTF8(text);
    NSErrorPtr none;
    static_cast<void>(converting.resize(0, none));
    return runtime.holdForRun(copies * textBytes(out.size()), error);
}

enum EntityType : std::int32_t { kString = 1, kNumber = 2, kBoolean = 3, kStatement = 4 };

RuntimeValue fromEntity(const std::shared_ptr<APMPBRuntimeEntity>& entity, APMPRuntime& runtime, NSErrorPtr& error,
                        int depth) {
    if (depth > APMPRuntimeEntityConverter::kMaxEntityDepth) {
        error = APMPError(APMPErrorEntityType);
        return RuntimeValue::undefined();
    }
    switch (APMPBMessageGetInt32(entity, APMPBRuntimeEntity::kType)) {
        case kString: {
            std::u16string text = APMPUTF16(APMPBMessageGetString(entity, APMPBRuntimeEntity::kStringValue).value_or(""));
            return runtime.string(std::move(text), error);
        }
        case kNumber:
            if (!APMPBMessageHasField(entity, APMPBRuntimeEntity::kNumberValue)) {
                return RuntimeValue::number(std::numeric_limits<double>::quiet_NaN());
            }
            return RuntimeValue::number(APMPBMessageGetDouble(entity, APMPBRuntimeEntity::kNumberValue));
        case kBoolean:
            return RuntimeValue::boolean(APMPBMessageGetBool(entity, APMPBRuntimeEntity::kBooleanValue));
        case kStatement: {
            const auto name = APMPBMessageGetString(entity, APMPBRuntimeEntity::kFunctionName);
            if (!name) {
                error = APMPError(APMPErrorStatementWithoutName);
                return RuntimeValue::undefined();
            }
            std::vector<RuntimeValue> arguments;
            for (const Value& item : APMPBMessageGetArray<APMPBRuntimeEntity>(entity, APMPBRuntimeEntity::kValue)
                                         .value_or(Value::Array{})) {
                arguments.push_back(fromEntity(item.objectAs<APMPBRuntimeEntity>(), runtime, error, depth + 1));
                if (error) return RuntimeValue::undefined();
            }
            return RuntimeValue(runtime.heap().make<APMPStatementValue>(APMPUTF16(*name), std::move(arguments)));
        }
        default:
            error = APMPError(APMPErrorEntityType);
            return RuntimeValue::undefined();
    }
}

RuntimeValue fromObject(const Value& object, APMPRuntime& runtime, NSErrorPtr& error, int depth) {
    if (depth > static_cast<int>(APMPRuntime::Nesting::kMaxNesting)) {
        error = APMPError(APMPErrorUnconvertibleObject);
        return RuntimeValue::undefined();
    }
    switch (object.type()) {
        case Value::Type::Null:
            return RuntimeValue::null();
        case Value::Type::Bool:
            return RuntimeValue::boolean(object.boolValue());
        case Value::Type::Integer:
        case Value::Type::Unsigned:
        case Value::Type::Double:
            return RuntimeValue::number(object.doubleValue());
        case Value::Type::String:
            // A value made, from UTF-8.
            if (!runtime.chargeWork(APMPRuntime::kValueUnits, error)) return RuntimeValue::undefined();
            return runtime.string(std::string_view(object.string()), error);
        case Value::Type::Dictionary: {
            if (!runtime.chargeWork(APMPRuntime::kValueUnits, error)) return RuntimeValue::undefined();
            auto map = runtime.heap().make<APMPMapValue>();
            for (const auto& [key, item] : object.dictionary()) {
                // The name twice: to UTF-16, and into the map.
                if (!runtime.chargeWork(APMPRuntime::kElementUnits + 2 * std::uint64_t{key.size()}, error)) {
                    return RuntimeValue::undefined();
                }
                RuntimeValue converted = fromObject(item, runtime, error, depth + 1);
                if (error) return RuntimeValue::undefined();
                map->setValueForProperty(std::move(converted), APMPUTF16(key));
            }
            return RuntimeValue(map);
        }
        case Value::Type::Array: {
            if (!runtime.chargeWork(APMPRuntime::kValueUnits + std::uint64_t{object.array().size()} * APMPRuntime::kElementUnits,
                                    error)) {
                return RuntimeValue::undefined();
            }
            std::vector<RuntimeValue> elements;
            for (const Value& item : object.array()) {
                elements.push_back(fromObject(item, runtime, error, depth + 1));
                if (error) return RuntimeValue::undefined();
            }
            if (elements.size() > APMPArrayValue::kMaxLength) {
                error = APMPError(APMPErrorInvalidArrayLength);
                return RuntimeValue::undefined();
            }
            return RuntimeValue(runtime.heap().make<APMPArrayValue>(std::move(elements)));
        }
        default:
            error = APMPError(APMPErrorUnconvertibleObject);
            return RuntimeValue::undefined();
    }
}

void dictionaryFrom(const APMPMapValue& map, APMPRuntime& runtime, NSErrorPtr& error, Value::Dictionary& out);

Value toObject(const RuntimeValue& value, APMPRuntime& runtime, NSErrorPtr& error) {
    switch (value.kind()) {
        case RuntimeValue::Kind::Null:
            return Value();
        case RuntimeValue::Kind::Undefined:
        case RuntimeValue::Kind::Hole:
            return Value("");
        case RuntimeValue::Kind::Map: {
            Value::Dictionary dictionary;
            dictionaryFrom(*value.as<APMPMapValue>(), runtime, error, dictionary);
            return Value(std::move(dictionary));
        }
        case RuntimeValue::Kind::Array: {
            const APMPRuntime::Nesting nesting(runtime, value.object());
            if (nesting.repeated() || nesting.tooDeep()) {
                error = APMPError(APMPErrorArgumentKind);
                return Value();
            }
            // A plain value made for each element.
            const auto* array = value.as<APMPArrayValue>();
            if (!runtime.chargeWork((1 + std::uint64_t{array->count()}) * APMPRuntime::kValueUnits, error) ||
                !runtime.holdForRun(arrayBytes(array->count()), error)) {
                return Value();
            }
            Value::Array items;
            items.reserve(array->count());
            for (const RuntimeValue& element : array->allElements()) {
                // A platform array holds no nil: null elements are left out, as null properties are.
                if (element.isNull()) continue;
                Value item = toObject(element, runtime, error);
                if (error) return Value(std::move(items));
                items.push_back(std::move(item));
            }
            return Value(std::move(items));
        }
        default:
            break;
    }
    NSErrorPtr numberError;
    const double number = value.doubleValueOrError(runtime, numberError);
    if (!numberError && !std::isnan(number)) return Value(number);
    APMPValueText text(runtime);
    const bool converted = text.read(value, error);
    // The number's error stands even when the text came out.
    if (numberError) error = numberError;
    std::string utf8;
    if (error || !converted || !plainText(text.view(), runtime, utf8, error)) return Value();
    return Value(std::move(utf8));
}

void dictionaryFrom(const APMPMapValue& map, APMPRuntime& runtime, NSErrorPtr& error, Value::Dictionary& out) {
    const APMPRuntime::Nesting nesting(runtime, &map);
    if (nesting.repeated() || nesting.tooDeep()) {
        error = APMPError(APMPErrorArgumentKind);
        return;
    }
    const std::size_t count = map.properties().size();
    if (!runtime.chargeWork(APMPRuntime::kValueUnits, error) || !runtime.holdForRun(dictionaryBytes(count), error)) return;
    for (const auto& entry : map.properties().entries()) {
        // A plain value made for the entry, and its name to UTF-8.
        std::string name;
        if (!runtime.chargeWork(APMPRuntime::kValueUnits, error) ||
            !plainText(entry.name, runtime, name, error, count > kScannedKeys ? 2 : 1)) {
            return;
        }
        Value converted = toObject(entry.value, runtime, error);
        if (error) break;
        if (!converted.isNull()) out.set(name, std::move(converted));
    }
}

}  // namespace conversion
}  // namespace

APMPRuntimeValue APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(const std::shared_ptr<APMPBRuntimeEntity>& entity,
                                                                       APMPRuntime& runtime, NSErrorPtr& error) {
    using namespace conversion;
    if (!entity) {
        error = APMPError(APMPErrorEntityType);
        return APMPRuntimeValue::undefined();
    }
    return fromEntity(entity, runtime, error, 0);
}

APMPRuntimeValue APMPRuntimeEntityConverter::runtimeValueFromNSObject(const Value& object, APMPRuntime& runtime,
                                                                  NSErrorPtr& error) {
    using namespace conversion;
    return fromObject(object, runtime, error, 0);
}

Value APMPRuntimeEntityConverter::objectFromRuntimeValue(const APMPRuntimeValue& value, APMPRuntime& runtime,
                                                         NSErrorPtr& error) {
    using namespace conversion;
    return toObject(value, runtime, error);
}

Value::Dictionary APMPRuntimeEntityConverter::dictionaryFromMapValue(const APMPMapValue& map, APMPRuntime& runtime,
                                                                     NSErrorPtr& error) {
    using namespace conversion;
    Value::Dictionary dictionary;
    dictionaryFrom(map, runtime, error, dictionary);
    return dictionary;
}

bool APMPRuntimeEntityConverter::plainTextFromText(std::u16string_view text, APMPRuntime& runtime, std::string& out,
                                                   NSErrorPtr& error) {
    using namespace conversion;
    return plainText(text, runtime, out, error);
}
