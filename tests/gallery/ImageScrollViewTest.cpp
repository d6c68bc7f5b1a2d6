// The zoom view of a picture page: the fit scale for pictures smaller and larger than the
// page, the double-tap scale from the "zoom" setting and the screen scale, zooming around the
// tapped point and back, centring, and the scale and centre kept across a change of size.
#include "gallery/ImageScrollView.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UIScreen.h"

#include <gtest/gtest.h>

#include <cfloat>

namespace {

class ImageScrollViewTest : public testing::Test {
protected:
    void SetUp() override {
        Clock::setManual(2000);
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);  // scale 2
        page_ = UIView::initWithFrame(CGRectMake(0, 0, 375, 667));
        view_ = ImageScrollView::initWithFrame(page_->bounds());
        page_->addSubview(view_);
    }
    void TearDown() override {
        NSUserDefaults::standardUserDefaults()->removeObjectForKey("zoom");
        NSRunLoop::mainRunLoop()->runUntilIdle();
        Clock::setReal();
    }
    static void setZoomSetting(long zoom) { NSUserDefaults::standardUserDefaults()->setInteger(zoom, "zoom"); }
    static std::shared_ptr<UIImage> picture(int width, int height) {
        return UIImage::imageWithPixels(std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * 4), 90),
                                        width, height, 1);
    }
    // Where the picture lies in the page.
    CGRect shown() const { return view_->zoomView()->convertRectToView(view_->zoomView()->bounds(), page_); }

    std::shared_ptr<UIView> page_;
    std::shared_ptr<ImageScrollView> view_;
};

}  // namespace

TEST_F(ImageScrollViewTest, ASmallPictureIsEnlargedToFitAndADoubleTapBelowTheFitChangesNothing) {
    setZoomSetting(1);  // two device pixels per picture pixel at scale 2: one point, below the fit
    view_->setImage(picture(320, 240));
    EXPECT_FLOAT_EQ(view_->startScale(), 375.0f / 320);
    EXPECT_FLOAT_EQ(view_->doubleClickScale(), view_->startScale());
    EXPECT_DOUBLE_EQ(view_->zoomScale(), view_->startScale());
    EXPECT_DOUBLE_EQ(view_->minimumZoomScale(), view_->maximumZoomScale());
    // Full width, centred from top to bottom.
    const double height = 240 * 375.0 / 320;
    EXPECT_NEAR(shown().size.width, 375, 1e-4);
    EXPECT_NEAR(shown().origin.y, (667 - height) / 2, 1e-4);
    EXPECT_FALSE(view_->showsHorizontalScrollIndicator());
    EXPECT_EQ(view_->contentInset(), (UIEdgeInsets{0, -1, 0, -1}));

    view_->doubleClick({100, 300});
    EXPECT_DOUBLE_EQ(view_->zoomScale(), view_->startScale());
}

TEST_F(ImageScrollViewTest, ADoubleTapZoomsAroundThePointToTheSettingsScaleAndTheNextOneBackToTheFit) {
    setZoomSetting(3);  // four device pixels: two points per picture pixel
    view_->setImage(picture(320, 240));
    EXPECT_FLOAT_EQ(view_->doubleClickScale(), 2.0f);
    EXPECT_DOUBLE_EQ(view_->maximumZoomScale(), 2.0);

    // A point left of the centre, in the picture's upper half.
    const CGPoint tap{120, 300};
    const CGPoint inPicture = view_->zoomView()->convertPointFromView(tap, page_);
    view_->doubleClick(tap);
    EXPECT_DOUBLE_EQ(view_->zoomScale(), 2.0);
    EXPECT_EQ(view_->contentSize(), CGSizeMake(640, 480));
    // The tapped spot of the picture is now in the middle of the page, as far as the edges
    // allow: sideways it is, upwards the picture (480 high, less than the page) stays centred.
    const CGPoint now = view_->zoomView()->convertPointToView(inPicture, page_);
    EXPECT_NEAR(now.x, 375.0 / 2, 1e-6);
    EXPECT_NEAR(shown().origin.y, (667 - 480) / 2.0, 1e-6);

    view_->doubleClick(tap);
    EXPECT_DOUBLE_EQ(view_->zoomScale(), view_->startScale());
    EXPECT_NEAR(shown().origin.x, 0, 1.0 + 1e-6);  // the one-point inset
}

TEST_F(ImageScrollViewTest, ALargePictureShrinksToFitAndZoomsToOnePointPerPixelOnAOneToOneSetting) {
    setZoomSetting(1);
    view_->setImage(picture(1500, 3000));
    EXPECT_FLOAT_EQ(view_->startScale(), 667.0f / 3000);  // the height decides
    // Centred sideways, less the one point of negative inset that the offset rests on.
    EXPECT_NEAR(shown().origin.x, (375 - 1500 * 667.0 / 3000) / 2 - 1, 1e-3);
    view_->doubleClick({187, 333});
    EXPECT_DOUBLE_EQ(view_->zoomScale(), 1.0);
    // Zoomed wider than the page: no centring offset left.
    EXPECT_LE(shown().origin.x, 0);
}

TEST_F(ImageScrollViewTest, AResizeAtTheFitGivesTheNewFitAndZoomedInKeepsScaleAndCentre) {
    setZoomSetting(3);
    view_->setImage(picture(320, 240));
    view_->setFrame(CGRectMake(0, 0, 667, 375));  // turned to landscape
    EXPECT_FLOAT_EQ(view_->startScale(), 375.0f / 240);
    EXPECT_DOUBLE_EQ(view_->zoomScale(), view_->startScale());

    view_->doubleClick({400, 150});
    ASSERT_DOUBLE_EQ(view_->zoomScale(), 2.0);
    const CGRect b = view_->bounds();
    const CGPoint centre = view_->zoomView()->convertPointFromView({CGRectGetMidX(b), CGRectGetMidY(b)}, view_);
    view_->setFrame(CGRectMake(0, 0, 375, 667));
    EXPECT_DOUBLE_EQ(view_->zoomScale(), 2.0);
    const CGRect after = view_->bounds();
    const CGPoint kept = view_->zoomView()->convertPointFromView({CGRectGetMidX(after), CGRectGetMidY(after)}, view_);
    // Sideways the centre stays where it was; the 480-point-high picture fits the 667-point
    // page, so upwards the offset is clamped to 0.
    EXPECT_NEAR(kept.x, centre.x, 1e-6);
    EXPECT_DOUBLE_EQ(view_->contentOffset().y, 0);

    // Zoomed beyond what the new size allows, the scale is clamped to the new limits.
    setZoomSetting(1);
    view_->setFrame(CGRectMake(0, 0, 300, 500));
    EXPECT_DOUBLE_EQ(view_->zoomScale(), view_->maximumZoomScale());
    EXPECT_FLOAT_EQ(view_->startScale(), 300.0f / 320);
}

TEST_F(ImageScrollViewTest, ANewPictureStartsAtItsFitAndNoneLeavesTheViewEmpty) {
    setZoomSetting(3);
    view_->setImage(picture(320, 240));
    view_->doubleClick({187, 333});
    view_->setImage(picture(100, 100));
    EXPECT_FLOAT_EQ(view_->startScale(), 3.75f);
    EXPECT_FLOAT_EQ(view_->doubleClickScale(), 3.75f);  // two points is below the fit
    EXPECT_DOUBLE_EQ(view_->zoomScale(), 3.75);
    EXPECT_EQ(view_->subviews().size(), 1u);
    view_->zoomToStart();
    view_->setImage(nullptr);
    EXPECT_FALSE(view_->image());
    EXPECT_FALSE(view_->zoomView());
    EXPECT_TRUE(view_->subviews().empty());
}
