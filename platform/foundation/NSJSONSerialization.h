// JSON text to and from Value: a strict reader that reports malformed input as an NSError,
// and a writer that refuses what JSON cannot hold.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Value.h"

enum NSJSONReadingOptions : unsigned {
    NSJSONReadingMutableContainers = 1,
    NSJSONReadingMutableLeaves = 2,
    NSJSONReadingFragmentsAllowed = 4,
};

enum NSJSONWritingOptions : unsigned {
    NSJSONWritingPrettyPrinted = 1,
    NSJSONWritingSortedKeys = 2,
    NSJSONWritingFragmentsAllowed = 4,
    NSJSONWritingWithoutEscapingSlashes = 8,
};

class NSJSONSerialization {
public:
    // Objects keep their key order; integers stay integers (unsigned beyond the signed range),
    // other numbers are doubles. A top-level value that is neither an array nor an object
    // needs NSJSONReadingFragmentsAllowed. On failure: a null value and *error in
    // NSCocoaErrorDomain, code NSPropertyListReadCorruptError, its NSDebugDescription telling
    // what and where.
    [[nodiscard]] static Value JSONObjectWithData(const NSData& data, NSErrorPtr* error = nullptr);
    [[nodiscard]] static Value JSONObjectWithData(const NSData& data, unsigned options, NSErrorPtr* error);

    // Compact unless NSJSONWritingPrettyPrinted (passing `true` asks for it). Dates, data,
    // objects, NaN, infinities, text that is not UTF-8, or a bare scalar without
    // NSJSONWritingFragmentsAllowed give empty data and *error.
    [[nodiscard]] static NSData dataWithJSONObject(const Value& object, unsigned options = 0, NSErrorPtr* error = nullptr);

    // Whether dataWithJSONObject would succeed with default options.
    static bool isValidJSONObject(const Value& object);
};
