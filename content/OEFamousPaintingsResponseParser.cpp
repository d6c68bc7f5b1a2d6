// The famous-paintings reply, read with its types checked.
#include "content/OEFamousPaintingsResponseParser.h"

#include "content/NSErrorOERequest.h"
#include "platform/foundation/NSJSONSerialization.h"

std::optional<Value::Array> OEFamousPaintingsResponseParser::famousListFromData(const NSData& body,
                                                                                NSErrorPtr* error) const {
    NSErrorPtr jsonError;
    const Value reply = NSJSONSerialization::JSONObjectWithData(body, NSJSONReadingFragmentsAllowed, &jsonError);
    if (jsonError) {
        setError(error, jsonError);
        return std::nullopt;
    }
    if (!reply.isDictionary()) return std::nullopt;
    const Value& message = reply["error"];
    if (!message.isNull()) {
        // A text as it is; anything else in its JSON form, so the person sees what was said.
        std::string text = message.isString() ? message.string() : "";
        if (text.empty()) {
            const NSData json = NSJSONSerialization::dataWithJSONObject(message, NSJSONWritingFragmentsAllowed);
            text.assign(json.begin(), json.end());
        }
        setError(error, NSErrorOERequest::famousPaintigsErrorWithDescription(text));
        return std::nullopt;
    }
    const Value& texts = reply["texts"];
    if (texts.isNull()) return std::nullopt;
    if (!texts.isArray()) {
        setError(error, NSErrorOERequest::famousWrongResultFormatError());
        return std::nullopt;
    }
    Value::Array posts;
    for (const auto& post : texts.array())
        if (post.isDictionary()) posts.push_back(post);
    return posts;
}
