// Reads the likes server's JSON replies, checking every value's type before use.
#include "content/OELikesResponseParser.h"

#include "content/NSErrorOERequest.h"
#include "platform/foundation/NSJSONSerialization.h"

#include <cerrno>
#include <cstdlib>

std::optional<long> OELikesResponseParser::integerOf(const Value& value) {
    if (value.type() == Value::Type::Integer) return value.integerValue();
    if (!value.isString()) return std::nullopt;
    const std::string& text = value.string();
    std::size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
    if (i == text.size()) return std::nullopt;
    for (std::size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return std::nullopt;
    errno = 0;
    const long number = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE) return std::nullopt;
    return number;
}

Value OELikesResponseParser::parseResult(const NSData& body, NSErrorPtr* error) const {
    NSErrorPtr jsonError;
    const Value result = NSJSONSerialization::JSONObjectWithData(body, NSJSONReadingFragmentsAllowed, &jsonError);
    if (jsonError) {
        setError(error, jsonError);
        return Value();
    }
    if (result.isArray()) return result;
    // A bare number, text, true or null carries no verdict: nothing, and no error.
    if (!result.isDictionary()) return Value();
    const Value& message = result["error"];
    setError(error, message.isString() ? NSErrorOERequest::likesErrorWithDescription(message.string())
                                       : NSErrorOERequest::likesWrongResultFormatError());
    return Value();
}

long OELikesResponseParser::parseLikesCountFromResult(const NSData& body, NSErrorPtr* error) const {
    NSErrorPtr failure;
    const Value result = parseResult(body, &failure);
    if (!result.isArray()) {
        setError(error, failure ? failure : NSErrorOERequest::likesWrongResultFormatError());
        return 0;
    }
    if (result.array().empty()) return 0;
    const auto likes = getLikes(result.array().back());
    if (!likes) {
        setError(error, NSErrorOERequest::likesWrongResultFormatError());
        return 0;
    }
    return *likes;
}

Value::Array OELikesResponseParser::parseIdentifiersFromResult(const NSData& body, NSErrorPtr* error) const {
    NSErrorPtr failure;
    const Value result = parseResult(body, &failure);
    // A bare value is no list of pictures: an empty list from it would read as "none liked".
    if (!result.isArray()) {
        setError(error, failure ? failure : NSErrorOERequest::likesWrongResultFormatError());
        return {};
    }
    auto identifiers = getIdentifiers(result.array());
    if (!identifiers) {
        setError(error, NSErrorOERequest::likesWrongResultFormatError());
        return {};
    }
    return std::move(*identifiers);
}

std::optional<Value::Array> OELikesResponseParser::getIdentifiers(const Value::Array& result) const {
    Value::Array identifiers;
    for (const auto& entry : result) {
        if (!entry.isDictionary() || !entry.dictionary().contains("id")) return std::nullopt;
        const Value& id = entry["id"];
        if (id.isNull()) continue;  // a picture the server no longer knows
        const auto number = integerOf(id);
        if (!number) return std::nullopt;
        identifiers.emplace_back(*number);
    }
    return identifiers;
}

std::optional<long> OELikesResponseParser::getLikes(const Value& entry) const {
    if (!entry.isDictionary()) return std::nullopt;
    return integerOf(entry["likes"]);
}
