// MD5 and SHA-256 through libcrypto's EVP interface.
#include "platform/foundation/Digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Only a libcrypto without the algorithm fails; nothing sensible can be returned.
[[noreturn]] void refused(const char* algorithm) {
    std::fprintf(stderr, "Digest: libcrypto refused %s\n", algorithm);
    std::abort();
}

NSData md5(const void* bytes, std::size_t count) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes, count, digest, &length, EVP_md5(), nullptr) != 1) refused("MD5");
    return NSData(digest, digest + length);
}

}  // namespace

Digest::SHA256::SHA256() : context_(EVP_MD_CTX_new()) {
    if (!context_ || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) refused("SHA-256");
}

Digest::SHA256::~SHA256() { EVP_MD_CTX_free(context_); }

void Digest::SHA256::update(const std::uint8_t* bytes, std::size_t count) {
    if (EVP_DigestUpdate(context_, bytes, count) != 1) refused("SHA-256");
}

NSData Digest::SHA256::finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_, digest, &length) != 1) refused("SHA-256");
    return NSData(digest, digest + length);
}

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
