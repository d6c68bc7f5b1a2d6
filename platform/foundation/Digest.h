// Message digests through OpenSSL's libcrypto.
#pragma once

#include "platform/foundation/Value.h"

#include <string>
#include <string_view>

class Digest {
public:
    // The 16-byte MD5 digest.
    static NSData MD5(const NSData& data);
    static NSData MD5(std::string_view text);
    // Lower-case hexadecimal of any bytes.
    static std::string hexString(const NSData& bytes);
};
