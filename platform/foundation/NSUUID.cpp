// Identifiers from the kernel's random source, and their text form.
#include "platform/foundation/NSUUID.h"

#include "platform/foundation/SecureRandom.h"

#include <cstring>
#include <functional>
#include <string_view>

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::shared_ptr<NSUUID> NSUUID::UUID() {
    Bytes bytes{};
    if (!SecureRandom::randomBytes(bytes.data(), bytes.size())) {
        // The kernel refused (only ever forced by tests): the uniform source never fails.
        for (std::size_t i = 0; i < bytes.size(); i += 4) {
            const std::uint32_t word = SecureRandom::random();
            std::memcpy(bytes.data() + i, &word, 4);
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);
    return std::make_shared<NSUUID>(bytes);
}

std::shared_ptr<NSUUID> NSUUID::initWithUUIDString(const std::string& string) {
    if (string.size() != 36) return nullptr;
    Bytes bytes{};
    std::size_t out = 0;
    for (std::size_t i = 0; i < string.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (string[i] != '-') return nullptr;
            ++i;
            continue;
        }
        const int high = hexDigit(string[i]);
        const int low = hexDigit(string[i + 1]);
        if (high < 0 || low < 0) return nullptr;
        bytes[out++] = static_cast<std::uint8_t>(high * 16 + low);
        i += 2;
    }
    return std::make_shared<NSUUID>(bytes);
}

std::shared_ptr<NSUUID> NSUUID::initWithUUIDBytes(const Bytes& bytes) { return std::make_shared<NSUUID>(bytes); }

std::string NSUUID::UUIDString() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += digits[bytes_[i] >> 4];
        text += digits[bytes_[i] & 0x0f];
    }
    return text;
}

bool NSUUID::isEqual(const NSObject* other) const {
    const auto* uuid = dynamic_cast<const NSUUID*>(other);
    return uuid && uuid->bytes_ == bytes_;
}

std::size_t NSUUID::hash() const {
    return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(bytes_.data()), bytes_.size()));
}
