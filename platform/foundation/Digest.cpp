// MD5 through libcrypto's EVP interface.
#include "platform/foundation/Digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>

namespace {

NSData md5(const void* bytes, std::size_t count) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes, count, digest, &length, EVP_md5(), nullptr) != 1) {
        // Only a libcrypto without MD5 can fail here; nothing sensible can be returned.
        std::fprintf(stderr, "Digest: libcrypto refused MD5\n");
        std::abort();
    }
    return NSData(digest, digest + length);
}

}  // namespace

NSData Digest::MD5(const NSData& data) { return md5(data.data(), data.size()); }

NSData Digest::MD5(std::string_view text) { return md5(text.data(), text.size()); }

std::string Digest::hexString(const NSData& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}
