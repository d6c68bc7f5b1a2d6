// Base64 encoding and strict decoding; the decoder reads each input byte once, in bounds.
#include "platform/foundation/Base64.h"

#include <array>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The six-bit value of each byte; 64 for padding, 255 for anything else.
constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& v : table) v = 255;
    for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
    table['='] = 64;
    return table;
}
constexpr auto kDecode = makeDecodeTable();

}  // namespace

std::string base64EncodedString(const NSData& data, unsigned options) {
    std::size_t lineLength = 0;
    if (options & NSDataBase64Encoding64CharacterLineLength) lineLength = 64;
    else if (options & NSDataBase64Encoding76CharacterLineLength) lineLength = 76;
    std::string lineEnd;
    if (options & NSDataBase64EncodingEndLineWithCarriageReturn) lineEnd += '\r';
    if (options & NSDataBase64EncodingEndLineWithLineFeed) lineEnd += '\n';
    if (lineEnd.empty()) lineEnd = "\r\n";

    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t column = 0;
    const auto put = [&](char c) {
        if (lineLength && column == lineLength) {
            out += lineEnd;
            column = 0;
        }
        out += c;
        ++column;
    };
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t n = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        put(kAlphabet[(n >> 18) & 63]);
        put(kAlphabet[(n >> 12) & 63]);
        put(kAlphabet[(n >> 6) & 63]);
        put(kAlphabet[n & 63]);
    }
    const std::size_t rest = data.size() - i;
    if (rest) {
        const std::uint32_t n = (data[i] << 16) | (rest == 2 ? data[i + 1] << 8 : 0);
        put(kAlphabet[(n >> 18) & 63]);
        put(kAlphabet[(n >> 12) & 63]);
        put(rest == 2 ? kAlphabet[(n >> 6) & 63] : '=');
        put('=');
    }
    return out;
}

std::optional<NSData> dataFromBase64String(std::string_view text, unsigned options) {
    const bool ignoreUnknown = options & NSDataBase64DecodingIgnoreUnknownCharacters;
    NSData out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t quartet = 0;
    int filled = 0;   // symbols in the current quartet, padding included
    int padding = 0;  // padding symbols seen; nothing but padding may follow the first
    for (char ch : text) {
        const std::uint8_t v = kDecode[static_cast<unsigned char>(ch)];
        if (v == 255) {
            if (ignoreUnknown) continue;
            return std::nullopt;
        }
        if (v == 64) {
            // Padding fills the third or fourth place of a quartet only.
            if (filled < 2) return std::nullopt;
            ++padding;
        } else {
            if (padding) return std::nullopt;
            quartet |= static_cast<std::uint32_t>(v) << (18 - 6 * filled);
        }
        if (++filled == 4) {
            out.push_back(static_cast<std::uint8_t>(quartet >> 16));
            if (padding < 2) out.push_back(static_cast<std::uint8_t>(quartet >> 8));
            if (padding < 1) out.push_back(static_cast<std::uint8_t>(quartet));
            quartet = 0;
            filled = 0;
        }
    }
    if (filled != 0) return std::nullopt;
    return out;
}
