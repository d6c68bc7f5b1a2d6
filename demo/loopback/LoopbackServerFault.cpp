// The faults of the loopback server: the usual single ones, their text form and description.
#include "demo/loopback/LoopbackServer.h"

#include <charconv>
#include <utility>
#include <vector>

using Fault = LoopbackServer::Fault;

namespace {

// A fault with one part set.
template <class Part>
Fault with(Part Fault::*part, Part value) {
    Fault fault;
    fault.*part = std::move(value);
    return fault;
}

}  // namespace

Fault Fault::withStatus(int status) { return with(&Fault::status, std::optional<int>(status)); }

Fault Fault::withPage(Page page) { return with(&Fault::page, std::optional<Page>(page)); }

Fault Fault::chunked() { return with(&Fault::framing, std::optional<Framing>(Framing::Chunked)); }

Fault Fault::late(std::chrono::milliseconds delay) { return with(&Fault::delay, delay); }

Fault Fault::slow(std::chrono::milliseconds pieceDelay, std::size_t pieceSize) {
    Fault fault = with(&Fault::pieceDelay, pieceDelay);
    fault.pieceSize = pieceSize;
    return fault;
}

Fault Fault::stall(std::size_t after) { return with(&Fault::stallAfter, after); }

Fault Fault::reset(std::size_t after) { return with(&Fault::resetAfter, after); }

Fault Fault::wrongRange(std::size_t from) { return with(&Fault::rangeFrom, std::optional<std::size_t>(from)); }

Fault Fault::endless(std::size_t upTo) { return with(&Fault::repeatBodyTo, upTo); }

Fault Fault::redirect(std::string to) { return with(&Fault::redirectTo, std::optional<std::string>(std::move(to))); }

namespace {

using Parameters = LoopbackServer::Parameters;
constexpr std::size_t kLarge = std::size_t{1} << 40;

// Reads the numeric parameter `key` into `into` when present: `empty` stands for a key given
// without a value; false with a sentence when the value is not a whole number in [low, high].
bool readNumber(const Parameters& parameters, const char* key, std::size_t low, std::size_t high,
          std::optional<std::size_t> empty, std::optional<std::size_t>& into, std::string* error) {
    const auto found = parameters.find(key);
    if (found == parameters.end()) return true;
    const std::string& text = found->second;
    if (text.empty() && empty) {
        into = empty;
        return true;
    }
    std::size_t value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || failure != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        if (error) {
            *error = std::string("The fault's ") + key + " must be a number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not \"" + text + "\".";
        }
        return false;
    }
    into = value;
    return true;
}

}  // namespace

std::optional<Fault> Fault::fromParameters(const Parameters& parameters, std::string* error) {
    Fault fault;
    std::optional<std::size_t> status, delay, slow, piece, stall, reset, rangeFrom, endless;
    if (!readNumber(parameters, "status", 100, 599, std::nullopt, status, error) ||
        !readNumber(parameters, "delay", 0, 60000, std::nullopt, delay, error) ||
        !readNumber(parameters, "slow", 0, 60000, std::nullopt, slow, error) ||
        !readNumber(parameters, "piece", 1, kLarge, std::nullopt, piece, error) ||
        !readNumber(parameters, "stall", 0, kLarge, 0, stall, error) ||
        !readNumber(parameters, "reset", 0, kLarge, halfway, reset, error) ||
        !readNumber(parameters, "range-from", 0, kLarge, std::nullopt, rangeFrom, error) ||
        !readNumber(parameters, "endless", 1, kLarge, std::nullopt, endless, error)) {
        return std::nullopt;
    }
    bool named = status || delay || slow || stall || reset || rangeFrom || endless;
    if (const auto page = parameters.find("page"); page != parameters.end()) {
        if (page->second != "html" && page->second != "suspended") {
            if (error) *error = "The fault's page must be html or suspended, not \"" + page->second + "\".";
            return std::nullopt;
        }
        fault.page = page->second == "html" ? Page::Error : Page::Suspended;
        named = true;
    }
    if (parameters.count("chunked")) {
        fault.framing = Framing::Chunked;
        named = true;
    }
    if (const auto redirect = parameters.find("redirect"); redirect != parameters.end()) {
        fault.redirectTo = redirect->second;
        named = true;
    }
    if (!named) {
        if (error) {
            *error = "A fault needs one of status, page, chunked, delay, slow, stall, reset, range-from, endless or "
                     "redirect.";
        }
        return std::nullopt;
    }
    if (status) fault.status = static_cast<int>(*status);
    if (delay) fault.delay = std::chrono::milliseconds(*delay);
    if (slow) {
        fault.pieceDelay = std::chrono::milliseconds(*slow);
        fault.pieceSize = 1024;
    }
    if (piece) fault.pieceSize = *piece;
    if (stall) fault.stallAfter = *stall;
    if (reset) fault.resetAfter = *reset;
    fault.rangeFrom = rangeFrom;
    if (endless) fault.repeatBodyTo = *endless;
    return fault;
}

std::string Fault::description() const {
    std::vector<std::string> parts;
    if (status) parts.push_back("status " + std::to_string(*status));
    if (page) parts.push_back(*page == Page::Error ? "an HTML page with 200" : "the suspended page with 200");
    if (framing == Framing::Chunked) parts.push_back("a body without a length");
    if (framing == Framing::Sized) parts.push_back("a body with its length");
    if (rangeFrom) parts.push_back("a 206 from byte " + std::to_string(*rangeFrom));
    if (delay.count() > 0) parts.push_back(std::to_string(delay.count()) + " ms late");
    if (pieceDelay.count() > 0) {
        parts.push_back("pieces of " + std::to_string(pieceSize) + " bytes every " + std::to_string(pieceDelay.count()) +
                        " ms");
    }
    if (stallAfter != never) parts.push_back("a stall after " + std::to_string(stallAfter) + " bytes");
    if (resetAfter == halfway) parts.push_back("a reset halfway");
    else if (resetAfter != never) parts.push_back("a reset after " + std::to_string(resetAfter) + " bytes");
    if (repeatBodyTo > 0) parts.push_back("the body repeated up to " + std::to_string(repeatBodyTo) + " bytes");
    if (redirectTo) parts.push_back(redirectTo->empty() ? "a redirect to itself" : "a redirect to " + *redirectTo);
    if (parts.empty()) return "none";
    std::string text = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i) text += ", " + parts[i];
    return text;
}
