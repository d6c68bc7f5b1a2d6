// Attributed strings as ordered runs over UTF-16 ranges.
#include "platform/ui/NSAttributedString.h"

#include "platform/ui/TextLayout.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"

#include <algorithm>
#include <functional>

namespace {
template <class T>
bool sameObject(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    if (a == b) return true;
    return a && b && a->isEqual(b.get());
}
}  // namespace

bool NSStringAttributes::operator==(const NSStringAttributes& o) const {
    return sameObject(font, o.font) && sameObject(foregroundColor, o.foregroundColor) &&
           sameObject(backgroundColor, o.backgroundColor) && underlineStyle == o.underlineStyle &&
           sameObject(underlineColor, o.underlineColor) && alignment == o.alignment && lineBreakMode == o.lineBreakMode;
}

void NSStringAttributes::merge(const NSStringAttributes& o) {
    if (o.font) font = o.font;
    if (o.foregroundColor) foregroundColor = o.foregroundColor;
    if (o.backgroundColor) backgroundColor = o.backgroundColor;
    if (o.underlineStyle != NSUnderlineStyleNone) underlineStyle = o.underlineStyle;
    if (o.underlineColor) underlineColor = o.underlineColor;
    if (o.alignment) alignment = o.alignment;
    if (o.lineBreakMode) lineBreakMode = o.lineBreakMode;
}

NSAttributedString::NSAttributedString(std::string string, std::vector<Run> runs)
    : string_(std::move(string)), length_(NSString::utf16Length(string_)), runs_(std::move(runs)) {
    normalize();
}

std::shared_ptr<NSAttributedString> NSAttributedString::initWithString(const std::string& string) {
    return initWithString(string, NSStringAttributes{});
}

std::shared_ptr<NSAttributedString> NSAttributedString::initWithString(const std::string& string,
                                                                       const NSStringAttributes& attributes) {
    const std::size_t length = NSString::utf16Length(string);
    return std::make_shared<NSAttributedString>(string, std::vector<Run>{{{0, length}, attributes}});
}

void NSAttributedString::normalize() {
    // Clamp, sort, fill gaps with plain runs and join equal neighbours.
    std::vector<Run> clean;
    std::sort(runs_.begin(), runs_.end(), [](const Run& a, const Run& b) { return a.range.location < b.range.location; });
    std::size_t at = 0;
    for (auto& run : runs_) {
        std::size_t begin = std::max(run.range.location, at);
        std::size_t end = std::min(run.range.location + run.range.length, length_);
        if (end <= begin) continue;
        if (begin > at) clean.push_back({{at, begin - at}, {}});
        clean.push_back({{begin, end - begin}, run.attributes});
        at = end;
    }
    if (at < length_) clean.push_back({{at, length_ - at}, {}});
    runs_.clear();
    for (auto& run : clean) {
        if (!runs_.empty() && runs_.back().attributes == run.attributes) runs_.back().range.length += run.range.length;
        else runs_.push_back(std::move(run));
    }
}

NSStringAttributes NSAttributedString::attributesAtIndex(std::size_t index, NSRange* effectiveRange) const {
    for (const auto& run : runs_) {
        if (index >= run.range.location && index < run.range.location + run.range.length) {
            if (effectiveRange) *effectiveRange = run.range;
            return run.attributes;
        }
    }
    if (effectiveRange) *effectiveRange = {NSNotFound, 0};
    return {};
}

CGRect NSAttributedString::boundingRectWithSize(CGSize size, unsigned options) const {
    TextLayoutOptions layout;
    layout.emptyLineHeight = UIFont::systemFontOfSize(12)->lineHeight();
    layout.keepGlyphs = false;
    if (options & NSStringDrawingUsesLineFragmentOrigin) {
        layout.width = size.width;
        layout.mode = NSLineBreakByWordWrapping;
        if (!runs_.empty() && runs_.front().attributes.lineBreakMode) layout.mode = *runs_.front().attributes.lineBreakMode;
    } else {
        layout.mode = NSLineBreakByClipping;
        layout.newlinesAsSpaces = true;
    }
    return {{0, 0}, TextLayout::size(TextLayout::layout(*this, layout).lines)};
}

CGSize NSAttributedString::size() const { return boundingRectWithSize({0, 0}, 0).size; }

bool NSAttributedString::isEqual(const NSObject* other) const {
    const auto* o = dynamic_cast<const NSAttributedString*>(other);
    if (!o || o->string_ != string_ || o->runs_.size() != runs_.size()) return false;
    for (std::size_t i = 0; i < runs_.size(); ++i)
        if (!(runs_[i].range == o->runs_[i].range) || !(runs_[i].attributes == o->runs_[i].attributes)) return false;
    return true;
}

std::string NSAttributedString::description() const { return string_; }

std::shared_ptr<NSMutableAttributedString> NSMutableAttributedString::initWithString(const std::string& string) {
    return initWithString(string, NSStringAttributes{});
}

std::shared_ptr<NSMutableAttributedString> NSMutableAttributedString::initWithString(
    const std::string& string, const NSStringAttributes& attributes) {
    const std::size_t length = NSString::utf16Length(string);
    return std::make_shared<NSMutableAttributedString>(string, std::vector<Run>{{{0, length}, attributes}});
}

namespace {
// Splits the runs so that `range` starts and ends on run borders, then edits those inside.
void editRange(std::vector<NSAttributedString::Run>& runs, NSRange range,
               const std::function<void(NSStringAttributes&)>& edit) {
    std::vector<NSAttributedString::Run> out;
    const std::size_t begin = range.location, end = range.location + range.length;
    for (auto& run : runs) {
        const std::size_t rb = run.range.location, re = run.range.location + run.range.length;
        const std::size_t cuts[4] = {rb, std::clamp(begin, rb, re), std::clamp(end, rb, re), re};
        for (int i = 0; i < 3; ++i) {
            if (cuts[i + 1] <= cuts[i]) continue;
            NSAttributedString::Run piece{{cuts[i], cuts[i + 1] - cuts[i]}, run.attributes};
            if (i == 1) edit(piece.attributes);
            out.push_back(std::move(piece));
        }
    }
    runs = std::move(out);
}
}  // namespace

void NSMutableAttributedString::addAttributes(const NSStringAttributes& attributes, NSRange range) {
    editRange(runs_, range, [&](NSStringAttributes& a) { a.merge(attributes); });
    normalize();
}

void NSMutableAttributedString::setAttributes(const NSStringAttributes& attributes, NSRange range) {
    editRange(runs_, range, [&](NSStringAttributes& a) { a = attributes; });
    normalize();
}

void NSMutableAttributedString::appendString(const std::string& string, const NSStringAttributes& attributes) {
    const std::size_t offset = length_;
    string_ += string;
    length_ = NSString::utf16Length(string_);
    runs_.push_back({{offset, length_ - offset}, attributes});
    normalize();
}
