// A fault the content server applies to every answer for one path, so clients can be tried
// against a failing server: a status code, an HTML page served with 200 (or the "suspended"
// page), a body without a length, a slow, stalled or reset body, or a 206 whose range starts
// where it should not.
#pragma once

#include <chrono>
#include <cstddef>
#include <limits>
#include <map>
#include <optional>
#include <string>

struct ContentServerFault {
    enum class Kind { Status, Html, Suspended, Chunked, Slow, Stall, Reset, WrongRange };
    static constexpr std::size_t kUnset = std::numeric_limits<std::size_t>::max();

    Kind kind = Kind::Status;
    int status = 500;                        // Status: the code answered, with a short text body
    std::size_t after = kUnset;              // Stall, Reset: body bytes sent first (0, half the body)
    std::chrono::milliseconds delay{200};    // Slow: the pause before each piece
    std::size_t piece = 1024;                // Slow: bytes per piece
    std::size_t start = 0;                   // WrongRange: where the 206's Content-Range and body begin

    // From the parameters of the admin request or the --fault option, e.g. "kind=status&code=503",
    // "kind=slow&delay=100&piece=512", "kind=stall&after=1000", "kind=reset&after=10",
    // "kind=wrong-range&start=0", "kind=html", "kind=suspended", "kind=chunked". Empty, with a
    // sentence in `error`, for an unknown kind or a value that is not a number in range.
    static std::optional<ContentServerFault> fromParameters(const std::multimap<std::string, std::string>& parameters,
                                                            std::string* error);
    // "status 503", "stall after 1000 bytes", ... for the log.
    std::string description() const;
};
