// The web view's page and the text it shows.
#include "platform/ui/UIWebView.h"

#include <cctype>
#include <cstdint>

namespace {

std::string lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void appendUTF8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x110000) {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// The reference at `pos` ("&amp;", "&#233;", "&#xE9;") appended to `out`; the position after it,
// or `pos` itself when it is no reference this view knows.
std::size_t decodeReference(const std::string& html, std::size_t pos, std::string& out) {
    const std::size_t end = html.find(';', pos);
    if (end == std::string::npos || end - pos > 10) return pos;
    const std::string name = html.substr(pos + 1, end - pos - 1);
    static const std::pair<const char*, const char*> named[] = {
        {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}};
    for (const auto& [key, value] : named) {
        if (name == key) {
            out += value;
            return end + 1;
        }
    }
    if (name.size() > 1 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const std::string digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) return pos;
        std::uint32_t code = 0;
        for (char c : digits) {
            if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
                return pos;
            code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                                                           ? c - '0'
                                                                           : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
            if (code > 0x10FFFF) return pos;
        }
        appendUTF8(out, code);
        return end + 1;
    }
    return pos;
}

}  // namespace

void UIWebView::loadHTMLString(const std::string& html, const std::string& baseURL) {
    html_ = html;
    baseURL_ = baseURL;
    ++loadCount_;
    setNeedsDisplay();
}

std::string UIWebView::text() const {
    std::string raw;
    std::size_t i = 0;
    while (i < html_.size()) {
        const char c = html_[i];
        if (c == '<') {
            const std::size_t close = html_.find('>', i);
            if (close == std::string::npos) break;
            std::string tag = lower(html_.substr(i + 1, close - i - 1));
            const std::size_t nameEnd = tag.find_first_of(" \t\r\n/");
            const std::string name = tag.substr(0, tag.empty() || tag[0] != '/' ? nameEnd : tag.find_first_of(" \t\r\n", 1));
            i = close + 1;
            // What a reader never sees: the head and scripts, with everything inside them.
            if (name == "head" || name == "script" || name == "style") {
                const std::size_t endTag = lower(html_).find("</" + name, i);
                if (endTag == std::string::npos) break;
                i = html_.find('>', endTag);
                i = i == std::string::npos ? html_.size() : i + 1;
            } else if (name == "br" || name == "p" || name == "/p" || name == "div" || name == "/div") {
                raw += '\n';
            }
        } else if (c == '&') {
            const std::size_t next = decodeReference(html_, i, raw);
            if (next == i) {
                raw += c;
                ++i;
            } else {
                i = next;
            }
        } else {
            raw += c;
            ++i;
        }
    }
    // Blanks collapse; new lines stay single and never begin or end the text.
    std::string out;
    bool pendingSpace = false, pendingBreak = false;
    for (char c : raw) {
        if (c == '\n') {
            pendingBreak = true;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            pendingSpace = true;
        } else {
            if (!out.empty()) {
                if (pendingBreak) out += '\n';
                else if (pendingSpace) out += ' ';
            }
            pendingSpace = pendingBreak = false;
            out += c;
        }
    }
    return out;
}
