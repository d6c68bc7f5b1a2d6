// Property lists (XML and binary) to and from Value.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

// Codes of NSCocoaErrorDomain for property-list failures; JSON failures use them too.
enum : long {
    NSPropertyListReadCorruptError = 3840,
    NSPropertyListWriteInvalidError = 3852,
};

class NSPropertyListSerialization {
public:
    enum Format { NSPropertyListXMLFormat_v1_0 = 100, NSPropertyListBinaryFormat_v1_0 = 200 };

    // A null value and *error on malformed input; *format tells which form was read.
    [[nodiscard]] static Value propertyListWithData(const NSData& data, NSErrorPtr* error = nullptr,
                                                    Format* format = nullptr);
    // Empty data and *error when the value holds something a property list cannot (null, objects,
    // text that is not UTF-8, nesting deeper than 512) or the form has no text for (XML: dates
    // beyond 10^15 seconds from 1970). Whatever is written reads back.
    [[nodiscard]] static NSData dataWithPropertyList(const Value& plist, Format format, NSErrorPtr* error = nullptr);

    // File forms; writing is atomic (a temporary file renamed over the old one). File failures
    // are the errors of FileError.h.
    [[nodiscard]] static Value propertyListWithContentsOfFile(const std::string& path, NSErrorPtr* error = nullptr);
    [[nodiscard]] static bool writePropertyList(const Value& plist, const std::string& path, Format format,
                                                NSErrorPtr* error = nullptr);
};
