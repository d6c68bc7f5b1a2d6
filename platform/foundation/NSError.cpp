// Error values: construction, the platform's default description and content equality.
#include "platform/foundation/NSError.h"

#include <cstring>
#include <functional>

NSErrorPtr NSError::errorWithDomain(const std::string& domain, long code, const Value::Dictionary& userInfo) {
    auto error = std::make_shared<NSError>();
    error->domain_ = domain;
    error->code_ = code;
    error->userInfo_ = userInfo;
    return error;
}

NSErrorPtr NSError::posix(int err, const std::string& path) {
    char buffer[256];
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(err, buffer, sizeof buffer);
    Value::Dictionary userInfo;
    userInfo.set(NSLocalizedDescriptionKey, std::string("The operation couldn\u2019t be completed. ") + text);
    if (!path.empty()) userInfo.set(NSFilePathErrorKey, path);
    return errorWithDomain(NSPOSIXErrorDomain, err, userInfo);
}

std::string NSError::localizedDescription() const {
    const Value& text = userInfo_.get(NSLocalizedDescriptionKey);
    if (text.isString()) return text.string();
    return "The operation couldn\u2019t be completed. (" + domain_ + " error " + std::to_string(code_) + ".)";
}

std::string NSError::description() const {
    std::string out = "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" +
                      localizedDescription() + "\"";
    if (!userInfo_.empty()) {
        out += " UserInfo={";
        bool first = true;
        for (const auto& [key, value] : userInfo_) {
            if (!first) out += ", ";
            first = false;
            out += key + "=" + value.description();
        }
        out += "}";
    }
    return out;
}

bool NSError::isEqual(const NSObject* other) const {
    if (other == this) return true;
    auto* error = dynamic_cast<const NSError*>(other);
    return error && error->domain_ == domain_ && error->code_ == code_ && error->userInfo_ == userInfo_;
}

std::size_t NSError::hash() const { return std::hash<std::string>()(domain_) ^ static_cast<std::size_t>(code_); }
