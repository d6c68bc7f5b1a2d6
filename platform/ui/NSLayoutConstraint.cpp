// Anchors, layout guides and constraints, and the solver that turns the active constraints
// of a view's subviews into frames when the view lays out.
#include "platform/ui/NSLayoutConstraint.h"

#include "platform/foundation/NSString.h"
#include "platform/ui/UIView.h"

#include <algorithm>
#include <optional>

namespace {
bool isDimension(NSLayoutAttribute a) { return a == NSLayoutAttributeWidth || a == NSLayoutAttributeHeight; }

const char* attributeName(NSLayoutAttribute a) {
    switch (a) {
    case NSLayoutAttributeLeft: return "left";
    case NSLayoutAttributeRight: return "right";
    case NSLayoutAttributeTop: return "top";
    case NSLayoutAttributeBottom: return "bottom";
    case NSLayoutAttributeLeading: return "leading";
    case NSLayoutAttributeTrailing: return "trailing";
    case NSLayoutAttributeWidth: return "width";
    case NSLayoutAttributeHeight: return "height";
    case NSLayoutAttributeCenterX: return "centerX";
    case NSLayoutAttributeCenterY: return "centerY";
    default: return "none";
    }
}

CGFloat valueOf(const CGRect& r, NSLayoutAttribute a) {
    switch (a) {
    case NSLayoutAttributeLeft:
    case NSLayoutAttributeLeading: return CGRectGetMinX(r);
    case NSLayoutAttributeRight:
    case NSLayoutAttributeTrailing: return CGRectGetMaxX(r);
    case NSLayoutAttributeTop: return CGRectGetMinY(r);
    case NSLayoutAttributeBottom: return CGRectGetMaxY(r);
    case NSLayoutAttributeWidth: return r.size.width;
    case NSLayoutAttributeHeight: return r.size.height;
    case NSLayoutAttributeCenterX: return CGRectGetMidX(r);
    case NSLayoutAttributeCenterY: return CGRectGetMidY(r);
    default: return 0;
    }
}
}  // namespace

// --- NSLayoutAnchor ---------------------------------------------------------------------

NSLayoutAnchor::NSLayoutAnchor(std::weak_ptr<UIView> view, std::weak_ptr<UILayoutGuide> guide,
                               NSLayoutAttribute attribute)
    : view_(std::move(view)), guide_(std::move(guide)), attribute_(attribute) {}

std::shared_ptr<UIView> NSLayoutAnchor::owningView() const {
    if (auto v = view_.lock()) return v;
    if (auto g = guide_.lock()) return g->owningView();
    return nullptr;
}

std::shared_ptr<NSLayoutConstraint> NSLayoutAnchor::constraintEqualToAnchor(
    const std::shared_ptr<NSLayoutAnchor>& anchor, CGFloat constant) const {
    auto self = std::static_pointer_cast<const NSLayoutAnchor>(shared_from_this());
    return std::make_shared<NSLayoutConstraint>(self, anchor, constant);
}

std::shared_ptr<NSLayoutConstraint> NSLayoutAnchor::constraintEqualToConstant(CGFloat constant) const {
    auto self = std::static_pointer_cast<const NSLayoutAnchor>(shared_from_this());
    return std::make_shared<NSLayoutConstraint>(self, nullptr, constant);
}

// --- UILayoutGuide ----------------------------------------------------------------------

UILayoutGuide::UILayoutGuide(std::weak_ptr<UIView> owningView) : owningView_(std::move(owningView)) {}

CGRect UILayoutGuide::layoutFrame() const {
    auto view = owningView();
    if (!view) return CGRectZero;
    return UIEdgeInsetsInsetRect(view->bounds(), view->safeAreaInsets());
}

std::shared_ptr<NSLayoutAnchor> UILayoutGuide::anchor(NSLayoutAttribute attribute) {
    return std::make_shared<NSLayoutAnchor>(
        std::weak_ptr<UIView>(), std::static_pointer_cast<UILayoutGuide>(shared_from_this()), attribute);
}
std::shared_ptr<NSLayoutAnchor> UILayoutGuide::leadingAnchor() { return anchor(NSLayoutAttributeLeading); }
std::shared_ptr<NSLayoutAnchor> UILayoutGuide::trailingAnchor() { return anchor(NSLayoutAttributeTrailing); }
std::shared_ptr<NSLayoutAnchor> UILayoutGuide::leftAnchor() { return anchor(NSLayoutAttributeLeft); }
std::shared_ptr<NSLayoutAnchor> UILayoutGuide::rightAnchor() { return anchor(NSLayoutAttributeRight); }
std::shared_ptr<NSLayoutAnchor> UILayoutGuide::topAnchor() { return anchor(NSLayoutAttributeTop); }
std::shared_ptr<NSLayoutAnchor> UILayoutGuide::bottomAnchor() { return anchor(NSLayoutAttributeBottom); }
std::shared_ptr<NSLayoutAnchor> UILayoutGuide::widthAnchor() { return anchor(NSLayoutAttributeWidth); }
std::shared_ptr<NSLayoutAnchor> UILayoutGuide::heightAnchor() { return anchor(NSLayoutAttributeHeight); }
std::shared_ptr<NSLayoutAnchor> UILayoutGuide::centerXAnchor() { return anchor(NSLayoutAttributeCenterX); }
std::shared_ptr<NSLayoutAnchor> UILayoutGuide::centerYAnchor() { return anchor(NSLayoutAttributeCenterY); }

// --- NSLayoutConstraint -----------------------------------------------------------------

NSLayoutConstraint::NSLayoutConstraint(std::shared_ptr<const NSLayoutAnchor> first,
                                       std::shared_ptr<const NSLayoutAnchor> second, CGFloat constant)
    : first_(std::move(first)), second_(std::move(second)), constant_(constant) {}

std::shared_ptr<UIView> NSLayoutConstraint::firstItem() const { return first_->owningView(); }

void NSLayoutConstraint::activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
    for (auto& c : constraints)
        if (c) c->setActive(true);
}

void NSLayoutConstraint::deactivateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
    for (auto& c : constraints)
        if (c) c->setActive(false);
}

void NSLayoutConstraint::setActive(bool active) {
    if (active == active_) return;
    auto view = firstItem();
    if (!view) return;
    auto self = std::static_pointer_cast<NSLayoutConstraint>(shared_from_this());
    active_ = active;
    if (active) view->addActiveConstraint(self);
    else view->removeActiveConstraint(this);
    markLayout();
}

void NSLayoutConstraint::markLayout() const {
    for (const auto& anchor : {first_, second_}) {
        if (!anchor) continue;
        if (auto view = anchor->owningView()) {
            view->setNeedsLayout();
            if (auto parent = view->superview()) parent->setNeedsLayout();
        }
    }
}

std::string NSLayoutConstraint::description() const {
    std::string text = NSString::format("<NSLayoutConstraint %@ = ", attributeName(first_->attribute()));
    if (second_) text += NSString::format("%@ + ", attributeName(second_->attribute()));
    return text + NSString::format("%g%@>", constant_, active_ ? "" : " (inactive)");
}

// --- UIView's side ----------------------------------------------------------------------

std::shared_ptr<NSLayoutAnchor> UIView::anchor(NSLayoutAttribute attribute) {
    return std::make_shared<NSLayoutAnchor>(std::static_pointer_cast<UIView>(shared_from_this()),
                                            std::weak_ptr<UILayoutGuide>(), attribute);
}
std::shared_ptr<NSLayoutAnchor> UIView::leadingAnchor() { return anchor(NSLayoutAttributeLeading); }
std::shared_ptr<NSLayoutAnchor> UIView::trailingAnchor() { return anchor(NSLayoutAttributeTrailing); }
std::shared_ptr<NSLayoutAnchor> UIView::leftAnchor() { return anchor(NSLayoutAttributeLeft); }
std::shared_ptr<NSLayoutAnchor> UIView::rightAnchor() { return anchor(NSLayoutAttributeRight); }
std::shared_ptr<NSLayoutAnchor> UIView::topAnchor() { return anchor(NSLayoutAttributeTop); }
std::shared_ptr<NSLayoutAnchor> UIView::bottomAnchor() { return anchor(NSLayoutAttributeBottom); }
std::shared_ptr<NSLayoutAnchor> UIView::widthAnchor() { return anchor(NSLayoutAttributeWidth); }
std::shared_ptr<NSLayoutAnchor> UIView::heightAnchor() { return anchor(NSLayoutAttributeHeight); }
std::shared_ptr<NSLayoutAnchor> UIView::centerXAnchor() { return anchor(NSLayoutAttributeCenterX); }
std::shared_ptr<NSLayoutAnchor> UIView::centerYAnchor() { return anchor(NSLayoutAttributeCenterY); }

void UIView::setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
    translatesAutoresizing_ = translates;
    if (auto parent = superview()) parent->setNeedsLayout();
}

std::vector<std::shared_ptr<NSLayoutConstraint>> UIView::constraints() const { return constraints_; }

void UIView::addActiveConstraint(const std::shared_ptr<NSLayoutConstraint>& constraint) {
    constraints_.push_back(constraint);
}

void UIView::removeActiveConstraint(const NSLayoutConstraint* constraint) {
    std::erase_if(constraints_, [&](const auto& c) { return c.get() == constraint; });
}

namespace {
// What one constraint says about one attribute of the view being placed: value = the other
// anchor's value (in the superview's coordinates) + constant, or a plain constant.
struct Equation {
    NSLayoutAttribute attribute;
    CGFloat value;
};

std::optional<CGFloat> anchorValue(const NSLayoutAnchor& anchor, const UIView& superview) {
    auto view = anchor.owningView();
    if (!view) return std::nullopt;
    CGRect rect = anchor.guide() ? anchor.guide()->layoutFrame() : view->bounds();
    if (view.get() != &superview) {
        if (!view->superview() && view.get() != &superview && !view->isDescendantOfView(&superview) &&
            !superview.isDescendantOfView(view.get()))
            return std::nullopt;  // not in the same tree: nothing to measure against
        rect = superview.convertRectFromView(rect, view);
    }
    return valueOf(rect, anchor.attribute());
}
}  // namespace

void UIView::applyConstraints() {
    solvingConstraints_ = true;
    // Two rounds, so that a subview tied to a sibling placed later in the list follows it.
    for (int round = 0; round < 2; ++round) {
        const auto subviews = subviews_;
        for (auto& sub : subviews) {
            if (sub->translatesAutoresizing_) continue;
            std::vector<Equation> equations;
            auto consider = [&](const std::shared_ptr<NSLayoutConstraint>& c) {
                const auto& first = *c->firstAnchor();
                const auto* second = c->secondAnchor().get();
                const bool firstIsSub = !first.guide() && first.view().get() == sub.get();
                const bool secondIsSub = second && !second->guide() && second->view().get() == sub.get();
                if (firstIsSub == secondIsSub) return;
                if (firstIsSub) {
                    if (!second) {
                        if (isDimension(first.attribute())) equations.push_back({first.attribute(), c->constant()});
                        return;
                    }
                    if (auto v = anchorValue(*second, *this)) equations.push_back({first.attribute(), *v + c->constant()});
                } else {
                    if (auto v = anchorValue(first, *this)) equations.push_back({second->attribute(), *v - c->constant()});
                }
            };
            std::vector<UIView*> holders{this};
            for (auto& s : subviews) holders.push_back(s.get());
            for (UIView* holder : holders)
                for (auto& c : holder->constraints_) consider(c);

            auto find = [&](std::initializer_list<NSLayoutAttribute> attributes) -> std::optional<CGFloat> {
                for (auto it = equations.rbegin(); it != equations.rend(); ++it)
                    for (auto a : attributes)
                        if (it->attribute == a) return it->value;
                return std::nullopt;
            };
            const CGRect current = sub->frame();
            const CGSize intrinsic = sub->intrinsicContentSize();

            auto solve = [&](std::optional<CGFloat> minEdge, std::optional<CGFloat> maxEdge, std::optional<CGFloat> mid,
                             std::optional<CGFloat> extent, CGFloat intrinsicExtent, CGFloat currentOrigin,
                             CGFloat currentExtent) {
                CGFloat size;
                if (extent) size = *extent;
                else if (minEdge && maxEdge) size = *maxEdge - *minEdge;
                else if (minEdge && mid) size = 2 * (*mid - *minEdge);
                else if (maxEdge && mid) size = 2 * (*maxEdge - *mid);
                else if (intrinsicExtent >= 0) size = intrinsicExtent;
                else size = currentExtent;
                CGFloat origin;
                if (minEdge) origin = *minEdge;
                else if (maxEdge) origin = *maxEdge - size;
                else if (mid) origin = *mid - size / 2;
                else origin = currentOrigin;
                return std::pair{origin, size};
            };
            const auto [x, w] = solve(find({NSLayoutAttributeLeft, NSLayoutAttributeLeading}),
                                      find({NSLayoutAttributeRight, NSLayoutAttributeTrailing}),
                                      find({NSLayoutAttributeCenterX}), find({NSLayoutAttributeWidth}),
                                      intrinsic.width, current.origin.x, current.size.width);
            const auto [y, h] = solve(find({NSLayoutAttributeTop}), find({NSLayoutAttributeBottom}),
                                      find({NSLayoutAttributeCenterY}), find({NSLayoutAttributeHeight}),
                                      intrinsic.height, current.origin.y, current.size.height);
            const CGRect solved = CGRectMake(x, y, std::max(0.0, w), std::max(0.0, h));
            if (solved != current) sub->setFrame(solved);
        }
    }
    solvingConstraints_ = false;
}
