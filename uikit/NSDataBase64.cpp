// Base64 of byte buffers (standard alphabet, "=" padding), decoding leniently.
#include "uikit/NSDataBase64.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int decodeCharacter(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

namespace NSDataBase64 {

NSData dataWithBase64EncodedString(const std::optional<std::string>& text) { return initWithBase64EncodedString(text); }

NSData initWithBase64EncodedString(const std::optional<std::string>& text) {
    NSData out;
    if (!text) return out;
    out.reserve(text->size() * 3 / 4);
    int group[4];
    int pending = 0;
    for (unsigned char c : *text) {
        if (c == '=') break;
        const int value = decodeCharacter(c);
        if (value < 0) continue;
        group[pending++] = value;
        if (pending == 4) {
            out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
            out.push_back(static_cast<std::uint8_t>(((group[1] & 0x0f) << 4) | (group[2] >> 2)));
            out.push_back(static_cast<std::uint8_t>(((group[2] & 0x03) << 6) | group[3]));
            pending = 0;
        }
    }
    if (pending >= 2) out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
    if (pending == 3) out.push_back(static_cast<std::uint8_t>(((group[1] & 0x0f) << 4) | (group[2] >> 2)));
    return out;
}

std::string base64EncodingWithLineLength(const NSData& data, std::uint32_t lineLength) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4 + (lineLength ? data.size() / lineLength + 2 : 0));
    std::uint32_t lineCount = 0;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t left = data.size() - i;
        const std::uint32_t b0 = data[i];
        const std::uint32_t b1 = left > 1 ? data[i + 1] : 0;
        const std::uint32_t b2 = left > 2 ? data[i + 2] : 0;
        out.push_back(kAlphabet[b0 >> 2]);
        out.push_back(kAlphabet[((b0 & 0x03) << 4) | (b1 >> 4)]);
        out.push_back(left > 1 ? kAlphabet[((b1 & 0x0f) << 2) | (b2 >> 6)] : '=');
        out.push_back(left > 2 ? kAlphabet[b2 & 0x3f] : '=');
        if (lineLength != 0) {
            lineCount += 4;
            if (lineCount >= lineLength) {
                out.push_back('\n');
                lineCount = 0;
            }
        }
    }
    return out;
}

}  // namespace NSDataBase64
