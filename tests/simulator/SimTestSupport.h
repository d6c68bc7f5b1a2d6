// What the simulator's in-process tests share: a white screen in a key window, a session
// working on it, and reading the pixels of a shot.
#pragma once

#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"
#include "simulator/SimCommand.h"
#include "simulator/SimRenderer.h"
#include "simulator/SimSession.h"
#include "tests/fixtures/KeyWindowTest.h"

#include <array>
#include <cstddef>
#include <string>

// A key window whose root screen is white, left as found: no first responder, no alert, the
// screen scale as it was (a session draws named images for a two-pixel screen).
class SimWindowTest : public KeyWindowTest {
protected:
    void SetUp() override {
        KeyWindowTest::SetUp();
        root->view()->setBackgroundColor(UIColor::whiteColor());
    }
    void TearDown() override {
        if (auto responder = UIResponder::currentFirstResponder()) (void)responder->resignFirstResponder();
        UIAlertView::forgetVisibleAlertViews();
        UIImage::setScreenScale(scale_);
        KeyWindowTest::TearDown();
    }
    static void TearDownTestSuite() { SimRenderer::releaseCaches(); }

    const CGFloat scale_ = UIImage::screenScale();
};

// The same with a phone's session that commands are given to.
class SimSessionTest : public SimWindowTest {
protected:
    SimSession::Result run(const std::string& line) { return session.execute(SimCommand::parse(line)); }
    std::string screen() { return session.screen().text(); }

    SimSession session{false};
};

// A pixel of a shot, as red, green and blue.
inline std::array<int, 3> shotRGB(const UIImage& image, double x, double y) {
    const auto& px = image.rgbaPixels();
    const std::size_t i = (static_cast<std::size_t>(y) * image.pixelWidth() + static_cast<std::size_t>(x)) * 4;
    return {px[i], px[i + 1], px[i + 2]};
}

// How many pixels of `frame` are far from a white background.
inline int markedPixels(const UIImage& image, const CGRect& frame) {
    int n = 0;
    for (int y = static_cast<int>(frame.origin.y); y < static_cast<int>(CGRectGetMaxY(frame)); ++y)
        for (int x = static_cast<int>(frame.origin.x); x < static_cast<int>(CGRectGetMaxX(frame)); ++x) {
            const auto c = shotRGB(image, x, y);
            n += (c[0] + c[1] + c[2]) < 600 ? 1 : 0;
        }
    return n;
}
