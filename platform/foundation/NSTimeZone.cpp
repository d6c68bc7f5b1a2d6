// Offsets of the supported zones; the local one asks the C library each time.
#include "platform/foundation/NSTimeZone.h"

#include "platform/foundation/ThreadAnnotations.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>

namespace {

constexpr long kMaxOffset = 24 * 3600 - 1;

// "+3", "+03", "+0300", "+03:00", "-5:30"; the sign is required.
std::optional<long> parseOffset(const std::string& text) {
    if (text.empty() || (text[0] != '+' && text[0] != '-')) return std::nullopt;
    const int sign = text[0] == '-' ? -1 : 1;
    std::string digits;
    std::size_t colon = std::string::npos;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] == ':' && colon == std::string::npos && i > 1) {
            colon = digits.size();
        } else if (text[i] >= '0' && text[i] <= '9') {
            digits += text[i];
        } else {
            return std::nullopt;
        }
    }
    long hours = 0, minutes = 0;
    if (colon != std::string::npos) {
        if (colon == 0 || colon > 2 || digits.size() - colon != 2) return std::nullopt;
        hours = std::stol(digits.substr(0, colon));
        minutes = std::stol(digits.substr(colon));
    } else if (digits.size() == 1 || digits.size() == 2) {
        hours = std::stol(digits);
    } else if (digits.size() == 3 || digits.size() == 4) {
        hours = std::stol(digits.substr(0, digits.size() - 2));
        minutes = std::stol(digits.substr(digits.size() - 2));
    } else {
        return std::nullopt;
    }
    if (hours > 23 || minutes > 59) return std::nullopt;
    return sign * (hours * 3600 + minutes * 60);
}

std::string localZoneName() {
    if (const char* tz = std::getenv("TZ"); tz && *tz) return *tz == ':' ? std::string(tz + 1) : std::string(tz);
    std::ifstream file("/etc/timezone");
    std::string name;
    if (std::getline(file, name) && !name.empty()) return name;
    return "localtime";
}

std::string offsetName(long offset) {
    if (offset == 0) return "GMT";
    const long magnitude = std::labs(offset);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "GMT%c%02ld%02ld", offset < 0 ? '-' : '+', magnitude / 3600,
                  (magnitude % 3600) / 60);
    return buffer;
}

Mutex tzsetMutex;

}  // namespace

std::shared_ptr<NSTimeZone> NSTimeZone::localTimeZone() {
    static const auto* local = new std::shared_ptr<NSTimeZone>(std::make_shared<NSTimeZone>(true, 0));
    return *local;
}

std::shared_ptr<NSTimeZone> NSTimeZone::GMT() {
    static const auto* gmt = new std::shared_ptr<NSTimeZone>(std::make_shared<NSTimeZone>(false, 0));
    return *gmt;
}

std::shared_ptr<NSTimeZone> NSTimeZone::timeZoneForSecondsFromGMT(long seconds) {
    if (seconds < -kMaxOffset || seconds > kMaxOffset) return nullptr;
    if (seconds == 0) return GMT();
    return std::make_shared<NSTimeZone>(false, seconds);
}

std::shared_ptr<NSTimeZone> NSTimeZone::timeZoneWithName(const std::string& name) {
    if (name == "GMT" || name == "UTC" || name == "Z" || name == "Etc/GMT" || name == "Etc/UTC") return GMT();
    std::string rest = name;
    if (rest.rfind("GMT", 0) == 0 || rest.rfind("UTC", 0) == 0) rest = rest.substr(3);
    if (const auto offset = parseOffset(rest)) return timeZoneForSecondsFromGMT(*offset);
    return nullptr;
}

long NSTimeZone::secondsFromGMT() const { return secondsFromGMTForDate(NSDate::date()); }

long NSTimeZone::secondsFromGMTForDate(NSDate date) const {
    if (!local_) return offset_;
    const double seconds = std::floor(date.timeIntervalSince1970);
    if (!(seconds > -6.7e10 && seconds < 6.7e10)) return 0;  // beyond what the C library converts
    const auto t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    {
        // localtime_r does not reread $TZ by itself; tzset does, and is not meant to race.
        MutexLock lock(tzsetMutex);
        tzset();
        if (!localtime_r(&t, &parts)) return 0;
    }
    return parts.tm_gmtoff;
}

std::string NSTimeZone::name() const { return local_ ? localZoneName() : offsetName(offset_); }

std::string NSTimeZone::description() const {
    return name() + " (" + offsetName(secondsFromGMT()) + ") offset " + std::to_string(secondsFromGMT());
}

bool NSTimeZone::isEqual(const NSObject* other) const {
    const auto* zone = dynamic_cast<const NSTimeZone*>(other);
    return zone && zone->local_ == local_ && zone->offset_ == offset_;
}
