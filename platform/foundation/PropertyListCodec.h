// What the property-list codecs share: the failure they raise (NSPropertyListSerialization
// turns it into an NSError) and the limits both forms keep, so that whatever one form writes
// the reader of either takes back.
#pragma once

#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSString.h"

#include <string>

namespace PropertyListCodec {

// Deeper nesting is refused on writing and reading alike.
inline constexpr int kMaxDepth = 512;
// The XML form writes whole seconds as text; beyond this a date has no such text.
inline constexpr double kMaxXMLDateSeconds = 1e15;

// Raised inside the codecs only; it never leaves NSPropertyListSerialization.
struct Failure {
    long code;
    std::string message;
};

[[noreturn]] inline void corrupt(const std::string& message) { throw Failure{NSPropertyListReadCorruptError, message}; }
[[noreturn]] inline void invalid(const std::string& message) { throw Failure{NSPropertyListWriteInvalidError, message}; }

inline void checkString(const std::string& text) {
    if (!NSString::isValidUTF8(text)) invalid("string is not valid UTF-8");
}

}  // namespace PropertyListCodec
