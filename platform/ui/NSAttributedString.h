// Attributed text: a string with runs of font, colour and underline, and its measurement.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/CGGeometry.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class UIColor;
class UIFont;

enum NSTextAlignment : int {
    NSTextAlignmentLeft = 0,
    NSTextAlignmentCenter = 1,
    NSTextAlignmentRight = 2,
    NSTextAlignmentJustified = 3,
    NSTextAlignmentNatural = 4,
};

enum NSLineBreakMode : int {
    NSLineBreakByWordWrapping = 0,
    NSLineBreakByCharWrapping = 1,
    NSLineBreakByClipping = 2,
    NSLineBreakByTruncatingHead = 3,
    NSLineBreakByTruncatingTail = 4,
    NSLineBreakByTruncatingMiddle = 5,
};

enum NSUnderlineStyle : int {
    NSUnderlineStyleNone = 0x00,
    NSUnderlineStyleSingle = 0x01,
    NSUnderlineStyleThick = 0x02,
    NSUnderlineStyleDouble = 0x09,
};

enum NSStringDrawingOptions : unsigned {
    NSStringDrawingTruncatesLastVisibleLine = 1 << 5,
    NSStringDrawingUsesLineFragmentOrigin = 1 << 0,
    NSStringDrawingUsesFontLeading = 1 << 1,
};

// The attributes a run can carry; an unset one takes the default (system font of 12
// points, black, no underline) where text is measured or drawn.
struct NSStringAttributes {
    std::shared_ptr<UIFont> font;
    std::shared_ptr<UIColor> foregroundColor;
    std::shared_ptr<UIColor> backgroundColor;
    int underlineStyle = NSUnderlineStyleNone;
    std::shared_ptr<UIColor> underlineColor;
    std::optional<NSTextAlignment> alignment;
    std::optional<NSLineBreakMode> lineBreakMode;

    bool operator==(const NSStringAttributes& other) const;
    // Fields set in `other` replace those here.
    void merge(const NSStringAttributes& other);
};

class NSAttributedString : public NSObject {
public:
    struct Run {
        NSRange range;  // in UTF-16 units
        NSStringAttributes attributes;
    };

    static std::shared_ptr<NSAttributedString> initWithString(const std::string& string);
    static std::shared_ptr<NSAttributedString> initWithString(const std::string& string,
                                                              const NSStringAttributes& attributes);

    NSAttributedString(std::string string, std::vector<Run> runs);

    const std::string& string() const { return string_; }
    // In UTF-16 units.
    std::size_t length() const { return length_; }
    // The attributes at a UTF-16 index, and the run's range through `effectiveRange`.
    NSStringAttributes attributesAtIndex(std::size_t index, NSRange* effectiveRange = nullptr) const;
    const std::vector<Run>& runs() const { return runs_; }

    // Measured with each run's font; the platform's line-fragment rule when `options` has it.
    CGRect boundingRectWithSize(CGSize size, unsigned options) const;
    CGSize size() const;

    bool isEqual(const NSObject* other) const override;
    std::string description() const override;

protected:
    void normalize();

    std::string string_;
    std::size_t length_ = 0;
    std::vector<Run> runs_;  // cover the whole string in order, no gaps
};

class NSMutableAttributedString : public NSAttributedString {
public:
    static std::shared_ptr<NSMutableAttributedString> initWithString(const std::string& string);
    static std::shared_ptr<NSMutableAttributedString> initWithString(const std::string& string,
                                                                     const NSStringAttributes& attributes);
    using NSAttributedString::NSAttributedString;

    // Merges `attributes` into the characters of `range` (UTF-16 units, clamped to the string).
    void addAttributes(const NSStringAttributes& attributes, NSRange range);
    // Replaces the attributes of `range` wholesale.
    void setAttributes(const NSStringAttributes& attributes, NSRange range);
    void appendString(const std::string& string, const NSStringAttributes& attributes);
};
