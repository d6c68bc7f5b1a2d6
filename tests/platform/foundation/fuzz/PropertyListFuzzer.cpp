// libFuzzer target over the property-list readers: whatever reads must write in both forms and
// read back equal. The XML form keeps dates to the whole second and may refuse only dates it has
// no text for.
#include "platform/foundation/NSPropertyListSerialization.h"

#include <cmath>
#include <cstdlib>

namespace {

using Serialization = NSPropertyListSerialization;

bool sameDouble(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// Equality as a round trip must keep it: kinds, key order, NaN as NaN; dates to the whole second
// through XML.
bool same(const Value& a, const Value& b, bool wholeSeconds) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
    case Value::Type::Double: return sameDouble(a.doubleValue(), b.doubleValue());
    case Value::Type::Date: {
        const double x = a.date().timeIntervalSince1970, y = b.date().timeIntervalSince1970;
        return wholeSeconds ? sameDouble(std::floor(x), std::floor(y)) : sameDouble(x, y);
    }
    case Value::Type::Array:
        if (a.count() != b.count()) return false;
        for (std::size_t i = 0; i < a.count(); ++i)
            if (!same(a[i], b[i], wholeSeconds)) return false;
        return true;
    case Value::Type::Dictionary: {
        if (a.dictionary().keys() != b.dictionary().keys()) return false;
        for (const auto& [key, value] : a.dictionary())
            if (!same(value, b[key], wholeSeconds)) return false;
        return true;
    }
    default: return a == b;
    }
}

bool hasDateWithoutXMLText(const Value& value) {
    if (value.isDate()) return !(std::fabs(std::floor(value.date().timeIntervalSince1970)) < 1e15);
    if (value.isArray())
        for (const Value& item : value.array())
            if (hasDateWithoutXMLText(item)) return true;
    if (value.isDictionary())
        for (const auto& entry : value.dictionary())
            if (hasDateWithoutXMLText(entry.second)) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    NSErrorPtr error;
    const Value value = Serialization::propertyListWithData(NSData(data, data + size), &error);
    if (value.isNull()) {
        if (!error) std::abort();  // a failure always says why
        return 0;
    }
    for (const auto format : {Serialization::NSPropertyListBinaryFormat_v1_0, Serialization::NSPropertyListXMLFormat_v1_0}) {
        const bool xml = format == Serialization::NSPropertyListXMLFormat_v1_0;
        NSErrorPtr writeError;
        const NSData written = Serialization::dataWithPropertyList(value, format, &writeError);
        if (written.empty()) {
            if (!writeError || !xml || !hasDateWithoutXMLText(value)) std::abort();
            continue;
        }
        NSErrorPtr readError;
        const Value back = Serialization::propertyListWithData(written, &readError);
        if (back.isNull() || readError || !same(value, back, xml)) std::abort();
    }
    return 0;
}
