// Fonts by name and size, with the fixed text metrics the headless layer measures with.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/CGGeometry.h"

#include <memory>
#include <string>

// Text is measured with fixed metrics so that sizes are exact: every UTF-16 unit is
// 0.5 × pointSize wide (0.55 × for bold faces) and a line is 1.2 × pointSize high.
class UIFont : public NSObject {
public:
    static std::shared_ptr<UIFont> systemFontOfSize(CGFloat size);
    static std::shared_ptr<UIFont> boldSystemFontOfSize(CGFloat size);
    // Any name gives a font (there is no font catalogue); names containing "Bold" are bold.
    static std::shared_ptr<UIFont> fontWithName(const std::string& name, CGFloat size);
    // The size labels use when none is set.
    static CGFloat systemFontSize() { return 17.0; }

    UIFont(std::string name, CGFloat size, bool bold);

    const std::string& familyName() const { return family_; }
    CGFloat pointSize() const { return size_; }
    bool isBold() const { return bold_; }
    std::shared_ptr<UIFont> fontWithSize(CGFloat size) const;

    CGFloat lineHeight() const { return size_ * 1.2; }
    CGFloat ascender() const { return size_ * 0.95; }
    CGFloat capHeight() const { return size_ * 0.7; }
    // The advance of one UTF-16 unit.
    CGFloat glyphWidth() const { return size_ * (bold_ ? 0.55 : 0.5); }

    bool isEqual(const NSObject* other) const override;
    std::size_t hash() const override;
    std::string description() const override;

private:
    std::string name_;
    std::string family_;
    CGFloat size_;
    bool bold_;
};
