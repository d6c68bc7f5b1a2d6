// Message digests through OpenSSL's libcrypto.
#pragma once

#include "platform/foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

class Digest {
public:
    // The 32-byte SHA-256 digest of bytes given in pieces, as a file is read.
    class SHA256 {
    public:
        SHA256();
        ~SHA256();
        SHA256(const SHA256&) = delete;
        SHA256& operator=(const SHA256&) = delete;
        void update(const std::uint8_t* bytes, std::size_t count);
        // The digest of everything given; the stream is spent.
        NSData finish();

    private:
        evp_md_ctx_st* context_;
    };

    // The 16-byte MD5 digest.
    static NSData MD5(const NSData& data);
    static NSData MD5(std::string_view text);
    // Lower-case hexadecimal of any bytes.
    static std::string hexString(const NSData& bytes);
};
