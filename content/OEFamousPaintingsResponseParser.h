// Reads the famous-paintings server's reply: {"texts": [posts]} or {"error": "text"}. Every
// value is checked for its type before it is used; a post that is not an object is dropped.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <optional>

class OEFamousPaintingsResponseParser : public NSObject {
public:
    static std::shared_ptr<OEFamousPaintingsResponseParser> make() {
        return std::make_shared<OEFamousPaintingsResponseParser>();
    }

    // The posts (objects only, in order). None otherwise, with: the JSON reader's error for a
    // body that is not JSON; a famous-request error of code 1 with the text of an object's
    // "error"; "Wrong result format" for a "texts" that is not a list. An object with neither, and
    // a reply that is not an object, give none without an error.
    [[nodiscard]] std::optional<Value::Array> famousListFromData(const NSData& body, NSErrorPtr* error) const;
};
