// The bridge between the runtime and the outside: program entities become values and
// statements; plain objects (event parameters, module data) become values; values become plain
// objects again when a program writes parameters or creates events.
#pragma once

#include "analytics/script/APMPRuntimeValue.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class APMPBRuntimeEntity;
class APMPMapValue;

class APMPRuntimeEntityConverter {
public:
    // Entity trees nested deeper than this fail with error 12.
    static constexpr int kMaxEntityDepth = 64;

    // Type 1 string, 2 number, 3 boolean, 4 statement (error 14 without a function name);
    // any other type is error 12. Nothing is evaluated.
    static APMPRuntimeValue runtimeValueFromRuntimeEntity(const std::shared_ptr<APMPBRuntimeEntity>& entity,
                                                          APMPRuntime& runtime, NSErrorPtr& error);
    // Null, booleans, numbers, strings, dictionaries (maps) and arrays; anything else is error 13.
    static APMPRuntimeValue runtimeValueFromNSObject(const Value& object, APMPRuntime& runtime, NSErrorPtr& error);
    // Null gives nil (a null value), undefined "", maps dictionaries, arrays arrays (null elements
    // left out, as null properties are), anything else its number unless that is NaN, else its
    // text. A value that holds itself, or nests too deep, fails with error 10.
    static Value objectFromRuntimeValue(const APMPRuntimeValue& value, APMPRuntime& runtime, NSErrorPtr& error);
    // The map's properties, null ones left out; the first failure ends the walk, and what was
    // made so far comes back with the error.
    static Value::Dictionary dictionaryFromMapValue(const APMPMapValue& map, APMPRuntime& runtime, NSErrorPtr& error);
    // A text in UTF-8 for a plain object (an event's name, a parameter's): plain objects outlive
    // the run's values, so what it takes is held for the run.
    [[nodiscard]] static bool plainTextFromText(std::u16string_view text, APMPRuntime& runtime, std::string& out,
                                                NSErrorPtr& error);
};
