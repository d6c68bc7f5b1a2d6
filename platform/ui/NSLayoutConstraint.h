// The simple constraints the screens use: one anchor equals another anchor (or a constant)
// plus a constant; active ones are solved into frames when the superview lays out.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/ui/CGGeometry.h"

#include <memory>
#include <string>
#include <vector>

class UIView;
class UILayoutGuide;
class NSLayoutConstraint;

enum NSLayoutAttribute : int {
    NSLayoutAttributeNotAnAttribute = 0,
    NSLayoutAttributeLeft = 1,
    NSLayoutAttributeRight = 2,
    NSLayoutAttributeTop = 3,
    NSLayoutAttributeBottom = 4,
    NSLayoutAttributeLeading = 5,
    NSLayoutAttributeTrailing = 6,
    NSLayoutAttributeWidth = 7,
    NSLayoutAttributeHeight = 8,
    NSLayoutAttributeCenterX = 9,
    NSLayoutAttributeCenterY = 10,
};

// An anchor of a view or of a layout guide (the safe area).
class NSLayoutAnchor : public NSObject {
public:
    NSLayoutAnchor(std::weak_ptr<UIView> view, std::weak_ptr<UILayoutGuide> guide, NSLayoutAttribute attribute);

    // this = anchor + constant.
    std::shared_ptr<NSLayoutConstraint> constraintEqualToAnchor(const std::shared_ptr<NSLayoutAnchor>& anchor,
                                                                CGFloat constant = 0) const;
    // Width and height anchors: this = constant.
    std::shared_ptr<NSLayoutConstraint> constraintEqualToConstant(CGFloat constant) const;

    std::shared_ptr<UIView> view() const { return view_.lock(); }
    std::shared_ptr<UILayoutGuide> guide() const { return guide_.lock(); }
    // The view the anchor measures: the view itself or the guide's owning view.
    std::shared_ptr<UIView> owningView() const;
    NSLayoutAttribute attribute() const { return attribute_; }

private:
    std::weak_ptr<UIView> view_;
    std::weak_ptr<UILayoutGuide> guide_;
    NSLayoutAttribute attribute_;
};

// A rectangle tied to a view: the safe-area guide is the view's bounds less its safe-area insets.
class UILayoutGuide : public NSObject {
public:
    explicit UILayoutGuide(std::weak_ptr<UIView> owningView);

    std::shared_ptr<UIView> owningView() const { return owningView_.lock(); }
    // In the owning view's coordinates.
    CGRect layoutFrame() const;

    std::shared_ptr<NSLayoutAnchor> leadingAnchor();
    std::shared_ptr<NSLayoutAnchor> trailingAnchor();
    std::shared_ptr<NSLayoutAnchor> leftAnchor();
    std::shared_ptr<NSLayoutAnchor> rightAnchor();
    std::shared_ptr<NSLayoutAnchor> topAnchor();
    std::shared_ptr<NSLayoutAnchor> bottomAnchor();
    std::shared_ptr<NSLayoutAnchor> widthAnchor();
    std::shared_ptr<NSLayoutAnchor> heightAnchor();
    std::shared_ptr<NSLayoutAnchor> centerXAnchor();
    std::shared_ptr<NSLayoutAnchor> centerYAnchor();

private:
    std::shared_ptr<NSLayoutAnchor> anchor(NSLayoutAttribute attribute);
    std::weak_ptr<UIView> owningView_;
};

class NSLayoutConstraint : public NSObject {
public:
    // first = second + constant; without a second anchor, first = constant.
    NSLayoutConstraint(std::shared_ptr<const NSLayoutAnchor> first, std::shared_ptr<const NSLayoutAnchor> second,
                       CGFloat constant);

    static void activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);
    static void deactivateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints);

    bool isActive() const { return active_; }
    void setActive(bool active);
    CGFloat constant() const { return constant_; }
    const std::shared_ptr<const NSLayoutAnchor>& firstAnchor() const { return first_; }
    const std::shared_ptr<const NSLayoutAnchor>& secondAnchor() const { return second_; }
    std::shared_ptr<UIView> firstItem() const;
    std::string identifier() const { return identifier_; }

    std::string description() const override;

private:
    void markLayout() const;

    std::shared_ptr<const NSLayoutAnchor> first_;
    std::shared_ptr<const NSLayoutAnchor> second_;
    CGFloat constant_;
    bool active_ = false;
    std::string identifier_;
};
