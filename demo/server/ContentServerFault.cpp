// Faults from request parameters.
#include "demo/server/ContentServerFault.h"

#include <charconv>
#include <utility>

namespace {

using Parameters = std::multimap<std::string, std::string>;

// A whole decimal number within [low, high], or empty.
std::optional<std::size_t> number(const std::string& text, std::size_t low, std::size_t high) {
    std::size_t value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
    return value;
}

// Reads an optional numeric parameter into `into`; false with a sentence when it is malformed.
bool read(const Parameters& parameters, const char* key, std::size_t low, std::size_t high, std::size_t& into,
          std::string* error) {
    const auto found = parameters.find(key);
    if (found == parameters.end()) return true;
    const auto value = number(found->second, low, high);
    if (!value) {
        if (error) {
            *error = std::string("The fault's ") + key + " must be a number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not \"" + found->second + "\".";
        }
        return false;
    }
    into = *value;
    return true;
}

const std::pair<const char*, ContentServerFault::Kind> kKinds[] = {
    {"status", ContentServerFault::Kind::Status},       {"html", ContentServerFault::Kind::Html},
    {"suspended", ContentServerFault::Kind::Suspended}, {"chunked", ContentServerFault::Kind::Chunked},
    {"slow", ContentServerFault::Kind::Slow},           {"stall", ContentServerFault::Kind::Stall},
    {"reset", ContentServerFault::Kind::Reset},         {"wrong-range", ContentServerFault::Kind::WrongRange},
};

}  // namespace

std::optional<ContentServerFault> ContentServerFault::fromParameters(const Parameters& parameters, std::string* error) {
    const auto kind = parameters.find("kind");
    ContentServerFault fault;
    bool known = false;
    for (const auto& [name, value] : kKinds) {
        if (kind != parameters.end() && kind->second == name) {
            fault.kind = value;
            known = true;
        }
    }
    if (!known) {
        if (error) {
            *error = "The fault's kind must be one of status, html, suspended, chunked, slow, stall, reset, wrong-range.";
        }
        return std::nullopt;
    }
    constexpr std::size_t kLarge = std::size_t{1} << 40;
    std::size_t status = static_cast<std::size_t>(fault.status), delay = static_cast<std::size_t>(fault.delay.count());
    if (!read(parameters, "code", 100, 599, status, error) || !read(parameters, "after", 0, kLarge, fault.after, error) ||
        !read(parameters, "delay", 0, 60000, delay, error) || !read(parameters, "piece", 1, kLarge, fault.piece, error) ||
        !read(parameters, "start", 0, kLarge, fault.start, error)) {
        return std::nullopt;
    }
    fault.status = static_cast<int>(status);
    fault.delay = std::chrono::milliseconds(delay);
    return fault;
}

std::string ContentServerFault::description() const {
    const std::string afterText = after == kUnset ? std::string() : " after " + std::to_string(after) + " bytes";
    switch (kind) {
        case Kind::Status: return "status " + std::to_string(status);
        case Kind::Html: return "an HTML page with 200";
        case Kind::Suspended: return "the suspended page with 200";
        case Kind::Chunked: return "a body without a length";
        case Kind::Slow:
            return "pieces of " + std::to_string(piece) + " bytes every " + std::to_string(delay.count()) + " ms";
        case Kind::Stall: return "a stall" + afterText;
        case Kind::Reset: return "a reset" + afterText;
        case Kind::WrongRange: return "a 206 from byte " + std::to_string(start);
    }
    return {};
}
