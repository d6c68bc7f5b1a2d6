// Dates to text and back with fixed patterns ("yyyy-MM-dd'T'HH:mm:ssZZZZZ", "dd.MM.yyyy", ...)
// in English (en_US_POSIX) names. Parsing is strict: the whole text must match the pattern
// and every field must be in range.
#pragma once

#include "platform/foundation/NSDate.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/NSTimeZone.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class NSDateFormatter : public NSObject {
public:
    static std::shared_ptr<NSDateFormatter> make() { return std::make_shared<NSDateFormatter>(); }

    // Pattern letters: G y M L d E a h H k K m s S Z X x z; text in single quotes is literal,
    // "''" is a quote; other characters stand for themselves.
    std::string dateFormat() const;
    void setDateFormat(const std::string& format);
    // Only the identifier is kept: names are always the English ones of "en_US_POSIX".
    std::string locale() const;
    void setLocale(const std::string& identifier);
    // The local time zone unless set.
    std::shared_ptr<NSTimeZone> timeZone() const;
    void setTimeZone(std::shared_ptr<NSTimeZone> timeZone);

    std::string stringFromDate(NSDate date) const;
    // Empty unless the whole text matches; fields the pattern lacks default to 1970-01-01 00:00:00.
    [[nodiscard]] std::optional<NSDate> dateFromString(const std::string& text) const;

    struct Token {
        char letter = 0;  // 0 for literal text
        int count = 0;
        std::string literal;
    };

private:
    mutable Mutex mutex_;
    std::string format_ GUARDED_BY(mutex_);
    std::vector<Token> tokens_ GUARDED_BY(mutex_);
    std::string locale_ GUARDED_BY(mutex_) = "en_US_POSIX";
    std::shared_ptr<NSTimeZone> timeZone_ GUARDED_BY(mutex_) = NSTimeZone::localTimeZone();
};
