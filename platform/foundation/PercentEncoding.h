// Percent-encoding of URL parts with the platform's allowed character sets, and strict decoding.
#pragma once

#include <bitset>
#include <optional>
#include <string>
#include <string_view>

// Which characters may stay as they are. ASCII characters are listed one by one; all
// characters beyond ASCII are either allowed together or not (the platform's predefined
// sets leave them out, an inverted custom set takes them in).
class URLAllowedCharacterSet {
public:
    static URLAllowedCharacterSet URLQueryAllowed();
    static URLAllowedCharacterSet URLFragmentAllowed();
    static URLAllowedCharacterSet URLPathAllowed();
    static URLAllowedCharacterSet URLHostAllowed();
    static URLAllowedCharacterSet URLUserAllowed();
    static URLAllowedCharacterSet URLPasswordAllowed();
    // Exactly the ASCII characters of `characters`.
    static URLAllowedCharacterSet characterSetWithCharactersInString(std::string_view characters);

    URLAllowedCharacterSet invertedSet() const;
    URLAllowedCharacterSet unionWith(const URLAllowedCharacterSet& other) const;
    URLAllowedCharacterSet removingCharactersInString(std::string_view characters) const;
    bool containsASCII(unsigned char c) const { return c < 128 && ascii_[c]; }
    bool allowsNonASCII() const { return nonASCII_; }

private:
    std::bitset<128> ascii_;
    bool nonASCII_ = false;
};

// Every UTF-8 byte of a character outside the set becomes "%XX" (upper-case hex).
std::string stringByAddingPercentEncodingWithAllowedCharacters(std::string_view s,
                                                               const URLAllowedCharacterSet& allowed);
// Nothing when a "%" is not followed by two hex digits or the decoded bytes are not UTF-8.
// "+" stays "+".
[[nodiscard]] std::optional<std::string> stringByRemovingPercentEncoding(std::string_view s);
