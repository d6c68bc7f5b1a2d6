// Failures as values: domain, code and user info, handed back through an optional out argument.
#pragma once

#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class NSError;
using NSErrorPtr = std::shared_ptr<NSError>;

inline constexpr const char* NSLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* NSUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* NSFilePathErrorKey = "NSFilePath";
inline constexpr const char* NSCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* NSPOSIXErrorDomain = "NSPOSIXErrorDomain";
// Status codes of the system and of servers, carried as they are.
inline constexpr const char* NSOSStatusErrorDomain = "NSOSStatusErrorDomain";

class NSError : public NSObject {
public:
    static NSErrorPtr errorWithDomain(const std::string& domain, long code, const Value::Dictionary& userInfo = {});
    // A POSIX errno failure, with the path and strerror text in the user info.
    static NSErrorPtr posix(int err, const std::string& path = {});

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    const Value::Dictionary& userInfo() const { return userInfo_; }
    // The user info's description, else "The operation couldn’t be completed. (<domain> error <code>.)".
    std::string localizedDescription() const;

    std::string description() const override;
    bool isEqual(const NSObject* other) const override;
    std::size_t hash() const override;

private:
    std::string domain_;
    long code_ = 0;
    Value::Dictionary userInfo_;
};

// The out-argument convention: set *error when the caller asked for it.
inline void setError(NSErrorPtr* out, NSErrorPtr error) {
    if (out) *out = std::move(error);
}
