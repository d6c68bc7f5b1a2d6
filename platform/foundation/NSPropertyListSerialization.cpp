// Property lists in both of the platform's forms, written and read here rather than through
// libplist: the packaged libplist drops the unsigned flag of 64-bit integers, keeps dates as
// 32-bit seconds and accepts malformed XML without complaint, and these files (Info.plist,
// user defaults) must round-trip exactly and reject damage. Readers check every bound and
// limit nesting, so hostile input yields an error, never a crash; writers refuse what the
// readers would not take back.
#include "platform/foundation/NSPropertyListSerialization.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/PropertyListBinary.h"
#include "platform/foundation/PropertyListCodec.h"
#include "platform/foundation/PropertyListXML.h"

namespace {

constexpr const char* kDebugDescriptionKey = "NSDebugDescription";

NSErrorPtr errorFor(const PropertyListCodec::Failure& failure) {
    const char* description = failure.code == NSPropertyListReadCorruptError
                                  ? "The data couldn\u2019t be read because it isn\u2019t in the correct format."
                                  : "The data couldn\u2019t be written because it isn\u2019t in the correct format.";
    return NSError::errorWithDomain(NSCocoaErrorDomain, failure.code,
                                    {{NSLocalizedDescriptionKey, description}, {kDebugDescriptionKey, failure.message}});
}

}  // namespace

Value NSPropertyListSerialization::propertyListWithData(const NSData& data, NSErrorPtr* error, Format* format) {
    try {
        if (PropertyListCodec::isBinary(data)) {
            Value result = PropertyListCodec::readBinary(data);
            if (format) *format = NSPropertyListBinaryFormat_v1_0;
            return result;
        }
        const auto* begin = reinterpret_cast<const char*>(data.data());
        Value result = PropertyListCodec::readXML(begin, begin + data.size());
        if (format) *format = NSPropertyListXMLFormat_v1_0;
        return result;
    } catch (const PropertyListCodec::Failure& failure) {
        setError(error, errorFor(failure));
        return Value();
    }
}

NSData NSPropertyListSerialization::dataWithPropertyList(const Value& plist, Format format, NSErrorPtr* error) {
    try {
        if (format == NSPropertyListBinaryFormat_v1_0) return PropertyListCodec::writeBinary(plist);
        if (format == NSPropertyListXMLFormat_v1_0) return PropertyListCodec::writeXML(plist);
        PropertyListCodec::invalid("unsupported property list format " + std::to_string(static_cast<int>(format)));
    } catch (const PropertyListCodec::Failure& failure) {
        setError(error, errorFor(failure));
        return {};
    }
}

Value NSPropertyListSerialization::propertyListWithContentsOfFile(const std::string& path, NSErrorPtr* error) {
    const auto data = readDataFromFile(path, error);
    if (!data) return Value();
    return propertyListWithData(*data, error);
}

bool NSPropertyListSerialization::writePropertyList(const Value& plist, const std::string& path, Format format,
                                                    NSErrorPtr* error) {
    NSErrorPtr serializationError;
    const NSData data = dataWithPropertyList(plist, format, &serializationError);
    if (serializationError) {
        setError(error, serializationError);
        return false;
    }
    return writeDataToFile(data, path, true, error);
}
