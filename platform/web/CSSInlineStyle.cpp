// Inline style declarations: font size, family and alignment.
#include "platform/web/CSSInlineStyle.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace {

std::string_view cssTrim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string cssLower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

namespace CSSInlineStyle {

std::vector<std::pair<std::string, std::string>> declarations(std::string_view style) {
    std::vector<std::pair<std::string, std::string>> out;
    // Semicolons inside quotes belong to the value ("font-family: 'a;b'").
    std::size_t start = 0;
    char quote = 0;
    for (std::size_t i = 0; i <= style.size(); ++i) {
        const char c = i < style.size() ? style[i] : ';';
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
            continue;
        }
        if (c != ';') continue;
        const std::string_view piece = style.substr(start, i - start);
        start = i + 1;
        const std::size_t colon = piece.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string name = cssLower(cssTrim(piece.substr(0, colon)));
        std::string_view value = cssTrim(piece.substr(colon + 1));
        const std::string lowered = cssLower(value);
        if (const std::size_t bang = lowered.rfind("!important"); bang != std::string::npos)
            value = cssTrim(value.substr(0, bang));
        if (name.empty()) continue;
        out.emplace_back(name, std::string(value));
    }
    return out;
}

std::optional<double> fontSize(std::string_view value, double parentSize) {
    const std::string text = cssLower(cssTrim(value));
    static const std::pair<const char*, double> keywords[] = {
        {"xx-small", 9}, {"x-small", 10}, {"small", 13}, {"medium", 16}, {"large", 18}, {"x-large", 24},
        {"xx-large", 32}, {"xxx-large", 48}};
    for (const auto& [word, size] : keywords)
        if (text == word) return size;
    if (text == "smaller") return parentSize / 1.2;
    if (text == "larger") return parentSize * 1.2;
    double number = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(begin, end, number);
    if (error != std::errc() || !std::isfinite(number)) return std::nullopt;
    const std::string unit(at, end);
    double px = 0;
    if (unit == "px") px = number;
    else if (unit == "pt") px = number * 4.0 / 3.0;
    else if (unit == "pc") px = number * 16;
    else if (unit == "in") px = number * 96;
    else if (unit == "cm") px = number * 96 / 2.54;
    else if (unit == "mm") px = number * 96 / 25.4;
    else if (unit == "em") px = number * parentSize;
    else if (unit == "rem") px = number * 16;
    else if (unit == "%") px = number * parentSize / 100;
    else if (unit.empty() && number == 0) px = 0;
    else return std::nullopt;
    // Nothing is set smaller than a point or larger than a screen.
    if (!(px > 0)) return std::nullopt;
    return std::min(px, 1000.0);
}

std::optional<HTMLTextStyle::Align> textAlign(std::string_view value) {
    const std::string text = cssLower(cssTrim(value));
    if (text == "left") return HTMLTextStyle::Align::Left;
    if (text == "right") return HTMLTextStyle::Align::Right;
    if (text == "center" || text == "-webkit-center" || text == "middle") return HTMLTextStyle::Align::Center;
    if (text == "justify") return HTMLTextStyle::Align::Justify;
    if (text == "start") return HTMLTextStyle::Align::Start;
    if (text == "end") return HTMLTextStyle::Align::Right;
    return std::nullopt;
}

std::string firstFamily(std::string_view value) {
    std::string_view rest = cssTrim(value);
    if (rest.empty()) return "";
    if (rest.front() == '"' || rest.front() == '\'') {
        const char quote = rest.front();
        const std::size_t close = rest.find(quote, 1);
        return std::string(cssTrim(rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
    }
    return std::string(cssTrim(rest.substr(0, rest.find(','))));
}

void apply(std::string_view styleAttribute, HTMLTextStyle& style) {
    const double parentSize = style.fontSize;
    for (const auto& [name, value] : declarations(styleAttribute)) {
        if (name == "font-size") {
            if (auto size = fontSize(value, parentSize)) style.fontSize = *size;
        } else if (name == "font-family") {
            if (auto family = firstFamily(value); !family.empty()) style.fontFamily = family;
        } else if (name == "text-align") {
            if (auto align = textAlign(value)) style.align = *align;
        } else if (name == "font-weight") {
            const std::string weight = cssLower(value);
            const bool numeric = !weight.empty() && weight.find_first_not_of("0123456789") == std::string::npos;
            style.bold = weight == "bold" || weight == "bolder" || (numeric && weight.size() >= 3 && weight >= "600");
        }
    }
}

}  // namespace CSSInlineStyle
