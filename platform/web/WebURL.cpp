// Reference resolution (RFC 3986, 5.2) over the five parts of a URI.
#include "platform/web/WebURL.h"

#include <cctype>
#include <optional>
#include <vector>

namespace {

struct Parts {
    std::optional<std::string> scheme;
    std::optional<std::string> authority;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;
};

bool isSchemeStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool isSchemeChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
}

// RFC 3986, appendix B.
Parts split(std::string_view s) {
    Parts p;
    std::size_t i = 0;
    if (!s.empty() && isSchemeStart(s[0])) {
        std::size_t j = 1;
        while (j < s.size() && isSchemeChar(s[j])) ++j;
        if (j < s.size() && s[j] == ':') {
            std::string scheme(s.substr(0, j));
            for (auto& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            p.scheme = scheme;
            i = j + 1;
        }
    }
    if (s.substr(i, 2) == "//") {
        const std::size_t end = s.find_first_of("/?#", i + 2);
        p.authority = std::string(s.substr(i + 2, end == std::string_view::npos ? std::string_view::npos : end - i - 2));
        i = end == std::string_view::npos ? s.size() : end;
    }
    const std::size_t pathEnd = s.find_first_of("?#", i);
    p.path = std::string(s.substr(i, pathEnd == std::string_view::npos ? std::string_view::npos : pathEnd - i));
    i = pathEnd == std::string_view::npos ? s.size() : pathEnd;
    if (i < s.size() && s[i] == '?') {
        const std::size_t end = s.find('#', i);
        p.query = std::string(s.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1));
        i = end == std::string_view::npos ? s.size() : end;
    }
    if (i < s.size() && s[i] == '#') p.fragment = std::string(s.substr(i + 1));
    return p;
}

// RFC 3986, 5.2.4.
std::string removeDotSegments(std::string in) {
    std::string out;
    auto dropLastSegment = [&out] {
        const std::size_t slash = out.rfind('/');
        out.erase(slash == std::string::npos ? 0 : slash);
    };
    while (!in.empty()) {
        if (in.rfind("../", 0) == 0) {
            in.erase(0, 3);
        } else if (in.rfind("./", 0) == 0) {
            in.erase(0, 2);
        } else if (in.rfind("/./", 0) == 0) {
            in.replace(0, 3, "/");
        } else if (in == "/.") {
            in = "/";
        } else if (in.rfind("/../", 0) == 0) {
            in.replace(0, 4, "/");
            dropLastSegment();
        } else if (in == "/..") {
            in = "/";
            dropLastSegment();
        } else if (in == "." || in == "..") {
            in.clear();
        } else {
            const std::size_t next = in.find('/', in[0] == '/' ? 1 : 0);
            out += in.substr(0, next);
            in.erase(0, next == std::string::npos ? in.size() : next);
        }
    }
    return out;
}

std::string merge(const Parts& base, const std::string& path) {
    if (base.authority && base.path.empty()) return "/" + path;
    const std::size_t slash = base.path.rfind('/');
    return slash == std::string::npos ? path : base.path.substr(0, slash + 1) + path;
}

std::string join(const Parts& p) {
    std::string out;
    if (p.scheme) out += *p.scheme + ":";
    if (p.authority) out += "//" + *p.authority;
    out += p.path;
    if (p.query) out += "?" + *p.query;
    if (p.fragment) out += "#" + *p.fragment;
    return out;
}

// Blanks, controls, characters beyond ASCII and the few ASCII characters no URL holds,
// percent-encoded; everything else (and existing escapes) as written.
std::string encodeIllegal(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '`' || c == '{' || c == '}' ||
            c == '|' || c == '\\' || c == '^') {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string cleaned(std::string_view reference) {
    std::size_t begin = 0, end = reference.size();
    while (begin < end && static_cast<unsigned char>(reference[begin]) <= 0x20) ++begin;
    while (end > begin && static_cast<unsigned char>(reference[end - 1]) <= 0x20) --end;
    std::string out;
    for (char c : reference.substr(begin, end - begin))
        if (c != '\t' && c != '\n' && c != '\r') out += c;
    return out;
}

}  // namespace

namespace WebURL {

std::string scheme(std::string_view url) {
    const Parts p = split(cleaned(url));
    return p.scheme.value_or("");
}

std::string resolve(std::string_view base, std::string_view reference) {
    const std::string ref = cleaned(reference);
    const Parts r = split(ref);
    const Parts b = split(base);
    Parts t;
    if (r.scheme) {
        t = r;
        t.path = removeDotSegments(r.path);
        // Addresses without an authority ("mailto:a@b", "javascript:...") keep their path as written.
        if (!r.authority) t.path = r.path;
    } else if (!b.scheme) {
        return encodeIllegal(ref);
    } else {
        if (r.authority) {
            t.authority = r.authority;
            t.path = removeDotSegments(r.path);
            t.query = r.query;
        } else {
            if (r.path.empty()) {
                t.path = b.path;
                t.query = r.query ? r.query : b.query;
            } else {
                t.path = r.path[0] == '/' ? removeDotSegments(r.path) : removeDotSegments(merge(b, r.path));
                t.query = r.query;
            }
            t.authority = b.authority;
        }
        t.scheme = b.scheme;
    }
    t.fragment = r.fragment;
    return encodeIllegal(join(t));
}

std::string withoutFragment(std::string_view url) {
    const std::size_t hash = url.find('#');
    return std::string(url.substr(0, hash));
}

}  // namespace WebURL
