// Colours: RGBA or white components, the system colours the screens use, component read-back.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/CGGeometry.h"

#include <memory>
#include <string>

class UIColor : public NSObject {
public:
    // Components are clamped to 0...1.
    static std::shared_ptr<UIColor> colorWithRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
    static std::shared_ptr<UIColor> colorWithWhite(CGFloat white, CGFloat alpha);
    // A colour that tiles an image; drawn as its average, it reads back as white 0.5 when empty.

    static std::shared_ptr<UIColor> blackColor();
    static std::shared_ptr<UIColor> whiteColor();
    static std::shared_ptr<UIColor> clearColor();
    static std::shared_ptr<UIColor> redColor();
    static std::shared_ptr<UIColor> blueColor();
    static std::shared_ptr<UIColor> grayColor();
    static std::shared_ptr<UIColor> darkGrayColor();
    static std::shared_ptr<UIColor> lightGrayColor();
    // The dynamic colours, in their light appearance.
    static std::shared_ptr<UIColor> labelColor();
    static std::shared_ptr<UIColor> groupTableViewBackgroundColor();
    static std::shared_ptr<UIColor> systemGroupedBackgroundColor();
    static std::shared_ptr<UIColor> systemBlueColor();

    UIColor(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha, bool greyscale);

    bool getRed(CGFloat* red, CGFloat* green, CGFloat* blue, CGFloat* alpha) const;
    // True only for a colour made from a white level.
    bool getWhite(CGFloat* white, CGFloat* alpha) const;
    std::shared_ptr<UIColor> colorWithAlphaComponent(CGFloat alpha) const;

    CGFloat red() const { return red_; }
    CGFloat green() const { return green_; }
    CGFloat blue() const { return blue_; }
    CGFloat alpha() const { return alpha_; }

    // Makes this the fill and/or stroke colour of the current graphics context.
    void set() const;
    void setFill() const;
    void setStroke() const;

    bool isEqual(const NSObject* other) const override;
    std::size_t hash() const override;
    std::string description() const override;

private:
    CGFloat red_, green_, blue_, alpha_;
    bool greyscale_;
};
