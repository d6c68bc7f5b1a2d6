// libFuzzer target over the likes server's replies: nothing crashes, a reply is either read or
// refused with an error, never both, and a read list holds only the whole numbers it gave.
#include "content/OELikesResponseParser.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parser = OELikesResponseParser::make();
    const NSData body(data, data + size);

    NSErrorPtr resultError;
    const Value result = parser->parseResult(body, &resultError);
    if (resultError && !result.isNull()) std::abort();
    if (!result.isNull() && !result.isArray()) std::abort();

    NSErrorPtr countError;
    const long count = parser->parseLikesCountFromResult(body, &countError);
    if (countError && count != 0) std::abort();
    // Only a list of entries gives a count.
    if (!countError && !result.isArray()) std::abort();

    NSErrorPtr idsError;
    const Value::Array identifiers = parser->parseIdentifiersFromResult(body, &idsError);
    if (idsError && !identifiers.empty()) std::abort();
    if (!idsError && !result.isArray()) std::abort();
    for (const Value& identifier : identifiers)
        if (identifier.type() != Value::Type::Integer) std::abort();
    if (identifiers.size() > (result.isArray() ? result.count() : 0)) std::abort();
    return 0;
}
