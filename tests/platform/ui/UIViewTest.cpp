// The view tree: geometry with transforms, hierarchy order, autoresizing after a resize,
// coordinate conversion, hit-testing, constraints, observation and the display pass.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/ui/CGContext.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIView.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace {

std::shared_ptr<UIView> viewAt(CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
    return UIView::initWithFrame(CGRectMake(x, y, w, h));
}

// --- Geometry ---------------------------------------------------------------------------

TEST(ViewGeometry, FrameBoundsAndCentreStayConsistentThroughAScaleTransform) {
    auto v = viewAt(10, 20, 100, 50);
    EXPECT_EQ(v->center(), CGPointMake(60, 45));
    EXPECT_EQ(v->bounds(), CGRectMake(0, 0, 100, 50));
    v->setTransform(CGAffineTransformMakeScale(2, 2));
    EXPECT_EQ(v->frame(), CGRectMake(-40, -5, 200, 100));  // doubled about the centre (60, 45)
    EXPECT_EQ(v->bounds().size, CGSizeMake(100, 50));  // the transform does not touch the bounds
    v->setTransform(CGAffineTransformIdentity);
    EXPECT_EQ(v->frame(), CGRectMake(10, 20, 100, 50));
    v->setCenter({0, 0});
    EXPECT_EQ(v->frame(), CGRectMake(-50, -25, 100, 50));
}

TEST(ViewGeometry, RectangleHelpersFollowThePlatformEdgeRules) {
    EXPECT_EQ(CGRectIntegral(CGRectMake(0.5, 1.2, 10.1, 3.3)), CGRectMake(0, 1, 11, 4));
    EXPECT_EQ(CGRectInset(CGRectMake(0, 0, 10, 10), 2, 3), CGRectMake(2, 3, 6, 4));
    EXPECT_TRUE(CGRectIsNull(CGRectInset(CGRectMake(0, 0, 10, 10), 6, 0)));
    EXPECT_TRUE(CGRectContainsPoint(CGRectMake(0, 0, 10, 10), {0, 0}));
    EXPECT_FALSE(CGRectContainsPoint(CGRectMake(0, 0, 10, 10), {10, 5}));  // the far edge is outside
    EXPECT_FALSE(CGRectIntersectsRect(CGRectMake(0, 0, 10, 10), CGRectMake(10, 0, 5, 5)));  // touching only
    EXPECT_TRUE(CGRectIsNull(CGRectIntersection(CGRectMake(0, 0, 1, 1), CGRectMake(5, 5, 1, 1))));
    EXPECT_EQ(CGRectGetMidX(CGRectMake(10, 0, -4, 0)), 8);  // negative widths are standardised
    EXPECT_EQ(UIEdgeInsetsInsetRect(CGRectMake(0, 0, 100, 50), UIEdgeInsetsMake(1, 5, 1, 5)),
              CGRectMake(5, 1, 90, 48));
}

// --- Hierarchy --------------------------------------------------------------------------

TEST(ViewHierarchy, SubviewOrderOperationsAndMovingBetweenParents) {
    auto root = viewAt(0, 0, 100, 100);
    auto a = viewAt(0, 0, 1, 1), b = viewAt(0, 0, 1, 1), c = viewAt(0, 0, 1, 1);
    root->addSubview(a);
    root->addSubview(b);
    root->insertSubview(c, 0);
    EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<UIView>>{c, a, b}));
    root->bringSubviewToFront(c);
    root->sendSubviewToBack(b);
    EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<UIView>>{b, a, c}));
    root->insertSubview(b, 99);  // clamped: to the front
    EXPECT_EQ(root->subviews().back(), b);

    auto other = viewAt(0, 0, 1, 1);
    other->addSubview(root->subviews()[0]);  // the reference lives in the list being changed
    EXPECT_EQ(a->superview(), other);
    EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<UIView>>{c, b}));

    c->addSubview(root);  // a cycle is refused
    EXPECT_EQ(root->superview(), nullptr);
    EXPECT_TRUE(b->isDescendantOfView(root));
    EXPECT_FALSE(root->isDescendantOfView(b));

    b->setTag(7);
    EXPECT_EQ(root->viewWithTag(7), b);
    EXPECT_EQ(root->viewWithTag(8), nullptr);
    b->removeFromSuperview();
    EXPECT_EQ(root->viewWithTag(7), nullptr);
    EXPECT_EQ(b->superview(), nullptr);
}

TEST(ViewHierarchy, ARemovedSubviewStaysAliveWhileTheCallerHoldsIt) {
    auto root = viewAt(0, 0, 10, 10);
    std::weak_ptr<UIView> weak;
    {
        auto child = viewAt(0, 0, 1, 1);
        weak = child;
        root->addSubview(child);
    }
    ASSERT_FALSE(weak.expired());
    weak.lock()->removeFromSuperview();
    EXPECT_TRUE(weak.expired());
}

// --- Autoresizing -----------------------------------------------------------------------

// A view that builds its children in its constructor, before anything owns it.
class Badge : public UIView {
public:
    Badge() : UIView(CGRectMake(10, 20, 100, 40)), label(UIView::initWithFrame(CGRectMake(5, 5, 50, 20))) {
        addSubview(label);
    }
    std::shared_ptr<UIView> label;
};

TEST(ViewHierarchy, SubviewsAddedInAConstructorKnowTheirParentOnceItIsOwned) {
    auto root = viewAt(0, 0, 320, 480);
    auto badge = std::make_shared<Badge>();
    EXPECT_EQ(badge->label->superview(), badge);
    root->addSubview(badge);
    EXPECT_TRUE(badge->label->isDescendantOfView(root.get()));
    const CGRect inRoot = badge->label->convertRectToView(badge->label->bounds(), root);
    EXPECT_EQ(inRoot.origin.x, 15);
    EXPECT_EQ(inRoot.origin.y, 25);
    const auto red = UIColor::redColor();
    root->setTintColor(red);
    EXPECT_EQ(badge->label->tintColor(), red);

    badge->label->removeFromSuperview();
    EXPECT_TRUE(badge->subviews().empty());
    EXPECT_EQ(badge->label->superview(), nullptr);

    // A child that outlives its parent is left without one.
    auto other = std::make_shared<Badge>();
    auto label = other->label;
    other.reset();
    EXPECT_EQ(label->superview(), nullptr);
    EXPECT_FALSE(label->isDescendantOfView(root.get()));
}

TEST(Autoresizing, FlexibleMarginsWidthAndHeightFollowTheSuperviewsNewSize) {
    auto root = viewAt(0, 0, 320, 480);
    auto fill = viewAt(0, 0, 320, 480);
    fill->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    auto centred = viewAt(110, 0, 100, 44);  // margins 110 and 110
    centred->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin);
    auto bottom = viewAt(0, 430, 320, 50);
    bottom->setAutoresizingMask(UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleWidth);
    auto fixed = viewAt(10, 10, 50, 50);
    auto shared = viewAt(20, 0, 100, 10);  // left margin 20, width 100, right 200: width and right share
    shared->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleRightMargin);
    for (auto& v : {fill, centred, bottom, fixed, shared}) root->addSubview(v);

    root->setFrame(CGRectMake(0, 0, 480, 320));

    EXPECT_EQ(fill->frame(), CGRectMake(0, 0, 480, 320));
    EXPECT_EQ(centred->frame(), CGRectMake(190, 0, 100, 44));
    EXPECT_EQ(bottom->frame(), CGRectMake(0, 270, 480, 50));
    EXPECT_EQ(fixed->frame(), CGRectMake(10, 10, 50, 50));
    // 160 more points: a third to the width (100 of 300), two thirds to the right margin.
    EXPECT_DOUBLE_EQ(shared->frame().size.width, 100 + 160.0 / 3);
    EXPECT_DOUBLE_EQ(shared->frame().origin.x, 20);
}

TEST(Autoresizing, ResizesCascadeDownAndCanBeTurnedOff) {
    auto root = viewAt(0, 0, 100, 100);
    auto mid = viewAt(0, 0, 100, 100);
    mid->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    auto leaf = viewAt(0, 0, 100, 10);
    leaf->setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
    root->addSubview(mid);
    mid->addSubview(leaf);
    root->setBounds(CGRectMake(0, 0, 200, 100));
    EXPECT_EQ(leaf->frame().size.width, 200);
    mid->setAutoresizesSubviews(false);
    root->setBounds(CGRectMake(0, 0, 300, 100));
    EXPECT_EQ(mid->frame().size.width, 300);
    EXPECT_EQ(leaf->frame().size.width, 200);
}

// --- Coordinates ------------------------------------------------------------------------

TEST(Conversion, RectsAndPointsConvertAcrossBranchesWithOffsetsAndScales) {
    auto root = viewAt(0, 0, 1000, 1000);
    auto left = viewAt(10, 20, 300, 300);
    auto inner = viewAt(5, 5, 100, 100);
    auto right = viewAt(500, 0, 200, 200);
    root->addSubview(left);
    left->addSubview(inner);
    root->addSubview(right);

    EXPECT_EQ(inner->convertRectToView(CGRectMake(0, 0, 10, 10), right), CGRectMake(-485, 25, 10, 10));
    EXPECT_EQ(right->convertRectFromView(CGRectMake(0, 0, 10, 10), inner), CGRectMake(-485, 25, 10, 10));
    EXPECT_EQ(inner->convertPointToView({1, 1}, nullptr), CGPointMake(16, 26));  // to the root
    EXPECT_EQ(inner->convertPointFromView({16, 26}, nullptr), CGPointMake(1, 1));

    // Scrolling the parent (its bounds origin) moves what is inside it.
    left->setBounds(CGRectMake(0, 50, 300, 300));
    EXPECT_EQ(inner->convertPointToView({0, 0}, root), CGPointMake(15, -25));

    // A scale about the centre: the inner view doubled around (55, 55) of its parent.
    left->setBounds(CGRectMake(0, 0, 300, 300));
    inner->setTransform(CGAffineTransformMakeScale(2, 2));
    EXPECT_EQ(inner->convertPointToView({0, 0}, left), CGPointMake(-45, -45));
    EXPECT_EQ(inner->convertRectToView(CGRectMake(0, 0, 100, 100), left), CGRectMake(-45, -45, 200, 200));
    EXPECT_EQ(left->convertPointToView({55, 55}, inner), CGPointMake(50, 50));
}

// --- Hit-testing ------------------------------------------------------------------------

TEST(HitTesting, TheFrontmostTakingViewWinsAndHiddenFadedOrInertViewsAreSkipped) {
    auto root = viewAt(0, 0, 100, 100);
    auto back = viewAt(0, 0, 100, 100);
    auto front = viewAt(0, 0, 50, 50);
    auto child = viewAt(10, 10, 10, 10);
    root->addSubview(back);
    root->addSubview(front);
    front->addSubview(child);

    EXPECT_EQ(root->hitTest({15, 15}, nullptr), child);
    EXPECT_EQ(root->hitTest({30, 30}, nullptr), front);
    EXPECT_EQ(root->hitTest({70, 70}, nullptr), back);
    EXPECT_EQ(root->hitTest({150, 10}, nullptr), nullptr);

    front->setHidden(true);
    EXPECT_EQ(root->hitTest({15, 15}, nullptr), back);
    front->setHidden(false);
    front->setAlpha(0.005);
    EXPECT_EQ(root->hitTest({15, 15}, nullptr), back);
    front->setAlpha(0.01);
    EXPECT_EQ(root->hitTest({15, 15}, nullptr), child);
    front->setUserInteractionEnabled(false);  // its subviews go with it
    EXPECT_EQ(root->hitTest({15, 15}, nullptr), back);

    // A subview sticking out of its parent is not reached outside the parent's bounds.
    front->setUserInteractionEnabled(true);
    auto outside = viewAt(60, 60, 20, 20);
    front->addSubview(outside);
    EXPECT_EQ(root->hitTest({65, 65}, nullptr), back);
}

// --- Constraints ------------------------------------------------------------------------

TEST(Constraints, AnchorsPlaceAViewAgainstItsSuperviewSiblingsAndTheSafeArea) {
    auto root = viewAt(0, 0, 320, 480);
    auto header = UIView::make();
    auto label = UIView::make();
    root->addSubview(label);  // before the view it depends on
    root->addSubview(header);
    header->setTranslatesAutoresizingMaskIntoConstraints(false);
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    NSLayoutConstraint::activateConstraints({
        header->leadingAnchor()->constraintEqualToAnchor(root->leadingAnchor(), 10),
        header->trailingAnchor()->constraintEqualToAnchor(root->trailingAnchor(), -10),
        header->topAnchor()->constraintEqualToAnchor(root->safeAreaLayoutGuide()->topAnchor(), 5),
        header->heightAnchor()->constraintEqualToConstant(44),
        label->centerXAnchor()->constraintEqualToAnchor(root->centerXAnchor()),
        label->topAnchor()->constraintEqualToAnchor(header->bottomAnchor(), 8),
        label->widthAnchor()->constraintEqualToConstant(100),
        label->heightAnchor()->constraintEqualToConstant(20),
    });
    root->layoutIfNeeded();
    EXPECT_EQ(header->frame(), CGRectMake(10, 5, 300, 44));
    EXPECT_EQ(label->frame(), CGRectMake(110, 57, 100, 20));

    root->setFrame(CGRectMake(0, 0, 480, 320));
    root->layoutIfNeeded();
    EXPECT_EQ(header->frame(), CGRectMake(10, 5, 460, 44));
    EXPECT_EQ(label->frame(), CGRectMake(190, 57, 100, 20));

    NSLayoutConstraint::deactivateConstraints(header->constraints());
    EXPECT_TRUE(header->constraints().empty());
}

// --- Observation and display ------------------------------------------------------------

class Dial : public UIView {
public:
    using UIView::UIView;
    int layouts = 0;
    void layoutSubviews() override { ++layouts; }
    void drawRect(const CGRect& rect) override {
        auto c = UIGraphicsGetCurrentContext();
        CGContextSetFillColorWithColor(c, UIColor::whiteColor());
        CGContextSetLineWidth(c, 2);
        CGContextAddArc(c, CGRectGetMidX(rect), CGRectGetMidY(rect), 10, 0, 2 * M_PI, 0);
        CGContextDrawPath(c, kCGPathFillStroke);
    }
};

TEST(ViewPasses, FrameObserversSeeEveryChangeAndTheRunLoopLaysOutAndDrawsOnce) {
    auto root = viewAt(0, 0, 100, 100);
    auto dial = std::make_shared<Dial>(CGRectMake(0, 0, 40, 40));
    root->addSubview(dial);
    std::vector<CGRect> seen;
    const auto token = dial->addFrameObserver([&](UIView&, const CGRect&, const CGRect& now) { seen.push_back(now); });
    dial->setCenter({50, 50});
    dial->setBounds(CGRectMake(0, 0, 20, 20));
    dial->setFrame(dial->frame());  // no change, no call
    EXPECT_EQ(seen, (std::vector<CGRect>{CGRectMake(30, 30, 40, 40), CGRectMake(40, 40, 20, 20)}));
    dial->removeFrameObserver(token);
    dial->setCenter({0, 0});
    EXPECT_EQ(seen.size(), 2u);

    dial->setNeedsLayout();
    dial->setNeedsDisplay();
    dial->setNeedsLayout();
    EXPECT_EQ(dial->layouts, 0);  // never inline
    NSRunLoop::mainRunLoop()->runUntilIdle();
    EXPECT_EQ(dial->layouts, 1);
    EXPECT_EQ(dial->displayCount(), 1);
    auto drawing = dial->lastDrawing();
    ASSERT_TRUE(drawing);
    const auto& ops = drawing->operations();
    ASSERT_EQ(ops.size(), 4u);
    EXPECT_EQ(ops[2].kind, CGContext::Operation::Kind::AddArc);
    EXPECT_EQ(ops[2].point, CGPointMake(10, 10));
    EXPECT_EQ(ops[3].kind, CGContext::Operation::Kind::DrawPath);
    EXPECT_EQ(ops[3].mode, kCGPathFillStroke);
    EXPECT_EQ(ops[3].value, 2);
    EXPECT_TRUE(ops[3].color->isEqual(UIColor::whiteColor().get()));
    EXPECT_EQ(ops[3].path.elements.size(), 1u);
}

TEST(ViewPassesDeathTest, AChangeOffTheMainThreadAbortsInsteadOfBeingDropped) {
    auto view = viewAt(0, 0, 10, 10);
    EXPECT_DEATH({ std::thread([&] { view->setNeedsLayout(); }).join(); },
                 "UIView: a UIView was changed off the main thread");
}

TEST(ViewPasses, TheResponderChainRunsThroughTheOwningControllerToTheSuperview) {
    auto root = viewAt(0, 0, 10, 10);
    auto view = viewAt(0, 0, 1, 1);
    root->addSubview(view);
    EXPECT_EQ(view->nextResponder(), root);
    auto controller = std::make_shared<UIResponder>();
    view->setViewController(controller);
    EXPECT_EQ(view->nextResponder(), controller);
    controller.reset();
    EXPECT_EQ(view->nextResponder(), root);  // the back-pointer is weak
}

}  // namespace
