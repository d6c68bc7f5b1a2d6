// Reads the likes server's JSON replies. Every value is checked for its type before it is
// used: a reply of another shape is a "Wrong result format" error, never a silent 0 or a list
// of made-up identifiers.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <optional>

class OELikesResponseParser : public NSObject {
public:
    static std::shared_ptr<OELikesResponseParser> make() { return std::make_shared<OELikesResponseParser>(); }

    // The reply's array. Null otherwise, with: the JSON reader's error for a body that is not
    // JSON; a likes error of code 1 with the text of an object's "error"; "Wrong result format"
    // for an object without a text "error". A bare JSON value (number, text, boolean, null)
    // gives null without an error.
    [[nodiscard]] Value parseResult(const NSData& body, NSErrorPtr* error) const;
    // The last element's "likes" (0 for an empty array); 0 with the error on any failure, a
    // bare value being "Wrong result format".
    [[nodiscard]] long parseLikesCountFromResult(const NSData& body, NSErrorPtr* error) const;
    // The "id" values that are not null, in order; empty with the error on any failure, a bare
    // value being "Wrong result format".
    [[nodiscard]] Value::Array parseIdentifiersFromResult(const NSData& body, NSErrorPtr* error) const;

    // The steps of the two above; none when an element is not of the expected shape.
    [[nodiscard]] std::optional<Value::Array> getIdentifiers(const Value::Array& result) const;
    [[nodiscard]] std::optional<long> getLikes(const Value& entry) const;

    // A whole number, or a text that is one (optional sign and digits only); none otherwise.
    static std::optional<long> integerOf(const Value& value);
};
