// Pattern-driven formatting and strict parsing of dates.
#include "platform/foundation/NSDateFormatter.h"

#include "platform/foundation/NSCalendar.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kWeekdays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

bool isPatternLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isNumericField(const NSDateFormatter::Token& token) {
    if ((token.letter == 'M' || token.letter == 'L') && token.count >= 3) return false;  // month names
    return token.letter != 0 && std::string_view("yMLdhHkKmsS").find(token.letter) != std::string_view::npos;
}

std::vector<NSDateFormatter::Token> tokenize(const std::string& format) {
    std::vector<NSDateFormatter::Token> tokens;
    auto appendLiteral = [&](const std::string& text) {
        if (!tokens.empty() && tokens.back().letter == 0) tokens.back().literal += text;
        else tokens.push_back({0, 0, text});
    };
    for (std::size_t i = 0; i < format.size();) {
        const char c = format[i];
        if (c == '\'') {
            if (i + 1 < format.size() && format[i + 1] == '\'') {
                appendLiteral("'");
                i += 2;
                continue;
            }
            std::string text;
            std::size_t j = i + 1;
            for (; j < format.size(); ++j) {
                if (format[j] != '\'') {
                    text += format[j];
                } else if (j + 1 < format.size() && format[j + 1] == '\'') {
                    text += '\'';
                    ++j;
                } else {
                    break;
                }
            }
            appendLiteral(text);
            i = j + 1;
        } else if (isPatternLetter(c)) {
            std::size_t j = i;
            while (j < format.size() && format[j] == c) ++j;
            tokens.push_back({c, static_cast<int>(j - i), {}});
            i = j;
        } else {
            appendLiteral(std::string(1, c));
            ++i;
        }
    }
    return tokens;
}

std::string padded(long long value, int width) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*lld", width, value);
    return buffer;
}

// "+HH:MM", "+HHMM" or "+HH"; `zulu` writes "Z" for a zero offset.
std::string offsetText(long offset, bool colon, bool hoursOnly, bool zulu) {
    if (zulu && offset == 0) return "Z";
    const long magnitude = std::labs(offset);
    std::string text = offset < 0 ? "-" : "+";
    text += padded(magnitude / 3600, 2);
    const long minutes = magnitude % 3600 / 60;
    if (hoursOnly && minutes == 0) return text;
    if (colon) text += ':';
    return text + padded(minutes, 2);
}

std::string gmtText(long offset, bool longForm) {
    if (offset == 0) return "GMT";
    if (longForm) return "GMT" + offsetText(offset, true, false, false);
    const long magnitude = std::labs(offset);
    std::string text = std::string("GMT") + (offset < 0 ? "-" : "+") + std::to_string(magnitude / 3600);
    if (magnitude % 3600) text += ":" + padded(magnitude % 3600 / 60, 2);
    return text;
}

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    bool atEnd() const { return pos_ == text_.size(); }

    bool literal(const std::string& expected) {
        if (text_.compare(pos_, expected.size(), expected) != 0) return false;
        pos_ += expected.size();
        return true;
    }

    // Between minDigits and maxDigits digits, as written.
    std::optional<std::string> digits(int minDigits, int maxDigits) {
        std::size_t end = pos_;
        while (end < text_.size() && end - pos_ < static_cast<std::size_t>(maxDigits) &&
               std::isdigit(static_cast<unsigned char>(text_[end])))
            ++end;
        if (end - pos_ < static_cast<std::size_t>(minDigits)) return std::nullopt;
        std::string result = text_.substr(pos_, end - pos_);
        pos_ = end;
        return result;
    }

    std::optional<long long> number(int minDigits, int maxDigits) {
        const auto text = digits(minDigits, maxDigits);
        if (!text) return std::nullopt;
        return std::stoll(*text);
    }

    // The index of the name matched (longest first, case-insensitive), or -1.
    int name(const char* const* names, int count, bool abbreviated, bool full) {
        int best = -1;
        std::size_t bestLength = 0;
        for (int i = 0; i < count; ++i) {
            std::string candidates[2] = {full ? std::string(names[i]) : std::string(),
                                         abbreviated ? std::string(names[i]).substr(0, 3) : std::string()};
            for (const auto& candidate : candidates) {
                if (candidate.empty() || candidate.size() <= bestLength) continue;
                if (text_.size() - pos_ < candidate.size()) continue;
                bool same = true;
                for (std::size_t k = 0; k < candidate.size() && same; ++k)
                    same = std::tolower(static_cast<unsigned char>(text_[pos_ + k])) ==
                           std::tolower(static_cast<unsigned char>(candidate[k]));
                if (same) {
                    best = i;
                    bestLength = candidate.size();
                }
            }
        }
        pos_ += bestLength;
        return best;
    }

    // "Z", "GMT", "UTC", "GMT+3", "GMT+03:00", "+03:00", "+0300", "+03"; seconds east.
    std::optional<long> offset() {
        if (literal("Z")) return 0L;
        bool gmtPrefix = literal("GMT") || literal("UTC");
        if (pos_ >= text_.size() || (text_[pos_] != '+' && text_[pos_] != '-')) {
            if (gmtPrefix) return 0L;
            return std::nullopt;
        }
        const int sign = text_[pos_] == '-' ? -1 : 1;
        ++pos_;
        const std::size_t start = pos_;
        auto hours = number(1, 2);
        if (!hours) return std::nullopt;
        long minutes = 0;
        if (literal(":")) {
            auto m = number(2, 2);
            if (!m) return std::nullopt;
            minutes = static_cast<long>(*m);
        } else if (pos_ - start == 2 && !gmtPrefix) {
            if (auto m = number(2, 2)) minutes = static_cast<long>(*m);
        } else if (pos_ - start == 1 && !gmtPrefix) {
            return std::nullopt;  // "+3" is only read after GMT
        }
        if (*hours > 23 || minutes > 59) return std::nullopt;
        return sign * (static_cast<long>(*hours) * 3600 + minutes * 60);
    }

private:
    const std::string& text_;
    std::size_t pos_ = 0;
};

}  // namespace

std::string NSDateFormatter::dateFormat() const {
    MutexLock lock(mutex_);
    return format_;
}

void NSDateFormatter::setDateFormat(const std::string& format) {
    MutexLock lock(mutex_);
    format_ = format;
    tokens_ = tokenize(format);
}

std::string NSDateFormatter::locale() const {
    MutexLock lock(mutex_);
    return locale_;
}

void NSDateFormatter::setLocale(const std::string& identifier) {
    MutexLock lock(mutex_);
    locale_ = identifier;
}

std::shared_ptr<NSTimeZone> NSDateFormatter::timeZone() const {
    MutexLock lock(mutex_);
    return timeZone_;
}

void NSDateFormatter::setTimeZone(std::shared_ptr<NSTimeZone> timeZone) {
    MutexLock lock(mutex_);
    timeZone_ = timeZone ? std::move(timeZone) : NSTimeZone::localTimeZone();
}

std::string NSDateFormatter::stringFromDate(NSDate date) const {
    MutexLock lock(mutex_);
    const NSCalendar calendar(timeZone_);
    const NSDateComponents c = calendar.components(date);
    const long offset = timeZone_->secondsFromGMTForDate(date);
    std::string out;
    for (const Token& token : tokens_) {
        const int n = token.count;
        switch (token.letter) {
        case 0: out += token.literal; break;
        case 'G': out += c.year > 0 ? "AD" : "BC"; break;
        case 'y': {
            const long year = c.year > 0 ? c.year : 1 - c.year;
            out += n == 2 ? padded(year % 100, 2) : padded(year, n);
            break;
        }
        case 'M':
        case 'L':
            if (n >= 5) out += kMonths[c.month - 1][0];
            else if (n == 4) out += kMonths[c.month - 1];
            else if (n == 3) out += std::string(kMonths[c.month - 1]).substr(0, 3);
            else out += padded(c.month, n);
            break;
        case 'd': out += padded(c.day, n); break;
        case 'E':
            if (n >= 5) out += kWeekdays[c.weekday - 1][0];
            else if (n == 4) out += kWeekdays[c.weekday - 1];
            else out += std::string(kWeekdays[c.weekday - 1]).substr(0, 3);
            break;
        case 'a': out += c.hour < 12 ? "AM" : "PM"; break;
        case 'H': out += padded(c.hour, n); break;
        case 'k': out += padded(c.hour == 0 ? 24 : c.hour, n); break;
        case 'K': out += padded(c.hour % 12, n); break;
        case 'h': out += padded(c.hour % 12 == 0 ? 12 : c.hour % 12, n); break;
        case 'm': out += padded(c.minute, n); break;
        case 's': out += padded(c.second, n); break;
        case 'S': {
            // Truncated, not rounded, so a fraction never carries into the seconds shown.
            const double scaled = std::floor(c.fraction * std::pow(10.0, n) + 1e-7);
            out += padded(static_cast<long long>(std::min(scaled, std::pow(10.0, n) - 1)), n);
            break;
        }
        case 'Z':
            if (n <= 3) out += offsetText(offset, false, false, false);
            else if (n == 4) out += gmtText(offset, true);
            else out += offsetText(offset, true, false, true);
            break;
        case 'X':
        case 'x': {
            const bool zulu = token.letter == 'X';
            if (n == 1) out += offsetText(offset, false, true, zulu);
            else if (n == 2) out += offsetText(offset, false, false, zulu);
            else out += offsetText(offset, true, false, zulu);
            break;
        }
        case 'z': out += gmtText(offset, n >= 4); break;
        default: out += std::string(static_cast<std::size_t>(n), token.letter); break;
        }
    }
    return out;
}

std::optional<NSDate> NSDateFormatter::dateFromString(const std::string& text) const {
    MutexLock lock(mutex_);
    Parser parser(text);
    NSDateComponents c;
    std::optional<long> parsedOffset;
    std::optional<long> hour12;
    std::optional<bool> pm;
    bool twoDigitYear = false;

    for (std::size_t i = 0; i < tokens_.size(); ++i) {
        const Token& token = tokens_[i];
        const int n = token.count;
        // Numbers run together with another numeric field ("yyyyMMdd") have exactly their
        // pattern's width; elsewhere they may be shorter.
        const bool adjacent = (i + 1 < tokens_.size() && isNumericField(tokens_[i + 1])) ||
                              (i > 0 && isNumericField(tokens_[i - 1]));
        auto field = [&](int width, int widest) {
            return adjacent ? parser.number(width, width) : parser.number(1, std::max(width, widest));
        };
        switch (token.letter) {
        case 0:
            if (!parser.literal(token.literal)) return std::nullopt;
            break;
        case 'G': {
            static const char* const eras[] = {"BC", "AD"};
            if (parser.name(eras, 2, false, true) < 0) return std::nullopt;
            break;
        }
        case 'y': {
            const auto year = n == 2 ? parser.number(2, 2) : field(n, 9);
            if (!year) return std::nullopt;
            c.year = static_cast<long>(*year);
            twoDigitYear = n == 2;
            break;
        }
        case 'M':
        case 'L':
            if (n >= 3) {
                const int month = parser.name(kMonths, 12, n == 3, n == 4);
                if (month < 0) return std::nullopt;
                c.month = month + 1;
            } else {
                const auto month = field(n, 2);
                if (!month) return std::nullopt;
                c.month = static_cast<long>(*month);
            }
            break;
        case 'd': {
            const auto day = field(n, 2);
            if (!day) return std::nullopt;
            c.day = static_cast<long>(*day);
            break;
        }
        case 'E':
            // The weekday is read for its form only; the date fields decide the day.
            if (parser.name(kWeekdays, 7, n <= 3, n == 4) < 0) return std::nullopt;
            break;
        case 'a': {
            static const char* const marks[] = {"AM", "PM"};
            const int mark = parser.name(marks, 2, false, true);
            if (mark < 0) return std::nullopt;
            pm = mark == 1;
            break;
        }
        case 'H':
        case 'k':
        case 'K':
        case 'h': {
            const auto value = field(n, 2);
            if (!value) return std::nullopt;
            if (token.letter == 'H') {
                if (*value > 23) return std::nullopt;
                c.hour = static_cast<long>(*value);
            } else if (token.letter == 'k') {
                if (*value < 1 || *value > 24) return std::nullopt;
                c.hour = static_cast<long>(*value % 24);
            } else if (token.letter == 'K') {
                if (*value > 11) return std::nullopt;
                hour12 = static_cast<long>(*value);
            } else {
                if (*value < 1 || *value > 12) return std::nullopt;
                hour12 = static_cast<long>(*value % 12);
            }
            break;
        }
        case 'm': {
            const auto value = field(n, 2);
            if (!value || *value > 59) return std::nullopt;
            c.minute = static_cast<long>(*value);
            break;
        }
        case 's': {
            const auto value = field(n, 2);
            if (!value || *value > 59) return std::nullopt;
            c.second = static_cast<long>(*value);
            break;
        }
        case 'S': {
            const auto value = adjacent ? parser.digits(n, n) : parser.digits(1, 9);
            if (!value) return std::nullopt;
            // The digits read are the leading digits of the fraction.
            c.fraction = 0;
            double scale = 0.1;
            for (char d : *value) {
                c.fraction += (d - '0') * scale;
                scale /= 10;
            }
            break;
        }
        case 'Z':
        case 'X':
        case 'x':
        case 'z': {
            parsedOffset = parser.offset();
            if (!parsedOffset) return std::nullopt;
            break;
        }
        default:
            if (!parser.literal(std::string(static_cast<std::size_t>(n), token.letter))) return std::nullopt;
            break;
        }
    }
    if (!parser.atEnd()) return std::nullopt;

    if (hour12) c.hour = *hour12 + (pm.value_or(false) ? 12 : 0);
    else if (pm && c.hour < 12 && *pm) c.hour += 12;
    if (twoDigitYear) {
        // Two-digit years fall in the century window that ends 20 years from now.
        const long nowYear = NSCalendar(NSTimeZone::GMT()).components(NSDate::date()).year;
        const long windowStart = nowYear - 80;
        long year = windowStart - windowStart % 100 + c.year;
        if (year < windowStart) year += 100;
        c.year = year;
    }
    if (c.month < 1 || c.month > 12 || c.day < 1 ||
        c.day > static_cast<long>(NSCalendar::daysInMonth(c.year, static_cast<unsigned>(c.month))))
        return std::nullopt;

    if (parsedOffset) {
        const auto zone = NSTimeZone::timeZoneForSecondsFromGMT(*parsedOffset);
        if (!zone) return std::nullopt;
        return NSDate{NSCalendar::secondsFromCivil(c, *zone)};
    }
    return NSDate{NSCalendar::secondsFromCivil(c, *timeZone_)};
}
