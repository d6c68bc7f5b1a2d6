// The interface icons of the demo bundle, loaded as the application loads them: by name from the
// main bundle at the screen's scale.
#include "demo/generator/DemoIcons.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIImage.h"
#include "tests/fixtures/DemoBundle.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>

namespace {

struct Expected {
    const char* name;
    int width;
    int height;
    // Drawn in the dark tint, to read on the light bars and menu.
    bool dark;
};

// The names the application asks for, with the point sizes its bars, rows and controls expect.
const Expected kExpected[] = {
    {"menu", 22, 22, true},          {"favorite", 22, 22, true},      {"lupa", 22, 22, true},
    {"new_item", 20, 20, true},      {"hd", 24, 14, true},
    {"galleryengine", 30, 30, true}, {"music", 30, 30, true},
    {"famous_paintings", 30, 30, true}, {"download", 30, 30, true},
    {"settings", 30, 30, true},      {"support", 30, 30, true},       {"other_apps", 30, 30, true},
    {"website", 30, 30, true},       {"handle", 24, 24, false},       {"Active", 10, 6, true},
    {"Innactive", 10, 6, false},     {"br280x50.png", 280, 50, true},  {"back", 22, 22, true},
    {"forward", 22, 22, true},       {"offline", 100, 100, true},     {"aleft", 22, 22, true},
    {"ajustify", 22, 22, true},      {"filter_on", 22, 22, true},     {"filter_off", 22, 22, true},
    {"cb_dark_on", 22, 22, true},    {"cb_dark_off", 22, 22, true},   {"info_picture", 22, 22, true},
    {"action", 22, 22, true},        {"button_hd", 30, 22, true},     {"button_hd_up", 30, 22, true},
    {"slide", 22, 22, true},         {"pause_slide", 22, 22, true},   {"i", 22, 22, true},
    {"favorite_on", 22, 22, true},   {"favorite_off", 22, 22, true},
    {"play", 30, 30, true},          {"paused", 30, 30, true},        {"media_prev", 30, 30, true},
    {"media_next", 30, 30, true},    {"r", 30, 30, false},            {"r_up", 30, 30, true},
    {"r.1", 30, 30, true},           {"s", 30, 30, false},            {"s_up", 30, 30, true},
    {"menu_media", 22, 22, true},    {"media_download", 22, 22, true}, {"media_cancel", 22, 22, true},
    {"media_download_bar", 22, 22, true}, {"media_plus", 22, 22, true}, {"playlist", 22, 22, true},
    {"note", 60, 60, true},          {"note_add", 60, 60, true},      {"bar_ipad", 60, 96, false},
    {"airPlayBtn", 22, 22, false},   {"airPlayBtn_up", 22, 22, true},
    {"acenter", 22, 22, true},
    {"see_picture", 22, 22, true},   {"texts", 30, 30, true},
    {"rater_yes_message_btn", 30, 30, true}, {"rater_no_message_btn", 30, 30, true},
    {"rater_button_background", 24, 24, false},
};

int alphaAt(const UIImage& image, int x, int y) {
    return image.rgbaPixels()[(static_cast<std::size_t>(y) * image.pixelWidth() + x) * 4 + 3];
}

class DemoIconsTest : public testing::Test {
protected:
    // The demo bundle, written once per test run and only read.
    static const std::string& folder() { return DemoBundle::path(); }

    void SetUp() override {
        mainBundle_.emplace(folder());
        UIImage::clearNamedCache();
    }
    void TearDown() override {
        UIImage::setScreenScale(1);
        UIImage::clearNamedCache();
        mainBundle_.reset();
    }
    std::optional<ScopedMainBundle> mainBundle_;

    static std::shared_ptr<UIImage> load(const std::string& name, int scale) {
        UIImage::setScreenScale(scale);
        UIImage::clearNamedCache();
        return UIImage::imageNamed(name);
    }
};

}  // namespace

TEST_F(DemoIconsTest, EveryNameLoadsAtBothScalesWithItsPointSize) {
    for (int scale : {1, 2}) {
        for (const auto& expected : kExpected) {
            SCOPED_TRACE(std::string(expected.name) + " @" + std::to_string(scale));
            auto image = load(expected.name, scale);
            ASSERT_NE(image, nullptr);
            EXPECT_EQ(image->size().width, expected.width);
            EXPECT_EQ(image->size().height, expected.height);
            EXPECT_EQ(image->scale(), scale);
            EXPECT_EQ(image->pixelWidth(), expected.width * scale);
        }
    }
    // Nothing else is drawn that the application does not ask for.
    EXPECT_EQ(DemoIcons::names().size(), std::size(kExpected));
}

TEST_F(DemoIconsTest, ShapesAreOpaqueAntiAliasedAndFreeStanding) {
    for (const auto& expected : kExpected) {
        SCOPED_TRACE(expected.name);
        auto image = load(expected.name, 2);
        ASSERT_NE(image, nullptr);
        const int w = image->pixelWidth(), h = image->pixelHeight();
        EXPECT_EQ(alphaAt(*image, 0, 0), 0);
        EXPECT_EQ(alphaAt(*image, w - 1, 0), 0);
        EXPECT_EQ(alphaAt(*image, 0, h - 1), 0);
        EXPECT_EQ(alphaAt(*image, w - 1, h - 1), 0);
        int opaque = 0, partial = 0;
        long luma = 0;
        const auto& px = image->rgbaPixels();
        for (std::size_t i = 0; i < px.size(); i += 4) {
            if (px[i + 3] >= 250) {
                ++opaque;
                luma += (px[i] * 3 + px[i + 1] * 6 + px[i + 2]) / 10;
            } else if (px[i + 3] > 0) {
                ++partial;
            }
        }
        // A visible shape (at least a twentieth of the area) with soft edges.
        EXPECT_GE(opaque * 20, w * h);
        EXPECT_GT(partial, 0);
        if (opaque > 0) {
            const long meanLuma = luma / opaque;
            if (expected.dark) EXPECT_LT(meanLuma, 110);
            else EXPECT_GT(meanLuma, 150);
        }
    }
}

TEST_F(DemoIconsTest, TheTwoScalesShowTheSameShape) {
    for (const auto& expected : kExpected) {
        SCOPED_TRACE(expected.name);
        auto small = load(expected.name, 1);
        auto large = load(expected.name, 2);
        ASSERT_TRUE(small && large);
        ASSERT_EQ(large->pixelWidth(), small->pixelWidth() * 2);
        long difference = 0;
        for (int y = 0; y < small->pixelHeight(); ++y)
            for (int x = 0; x < small->pixelWidth(); ++x) {
                const int averaged = (alphaAt(*large, 2 * x, 2 * y) + alphaAt(*large, 2 * x + 1, 2 * y) +
                                      alphaAt(*large, 2 * x, 2 * y + 1) + alphaAt(*large, 2 * x + 1, 2 * y + 1)) / 4;
                difference += std::abs(averaged - alphaAt(*small, x, y));
            }
        EXPECT_LT(difference / (small->pixelWidth() * small->pixelHeight()), 12);
    }
}

// The tracks are stretched between 4-point caps and the button background between 20-point
// caps: what lies between the caps must repeat exactly, or stretching shows seams.
TEST_F(DemoIconsTest, StretchedMiddlesAreUniform) {
    struct Caps {
        const char* name;
        int top, left, bottom, right;
    };
    for (const Caps& caps : {Caps{"Active", 0, 4, 0, 4}, Caps{"Innactive", 0, 4, 0, 4}, Caps{"br280x50.png", 20, 20, 20, 20}}) {
        SCOPED_TRACE(caps.name);
        auto image = load(caps.name, 2);
        ASSERT_NE(image, nullptr);
        const int s = 2, w = image->pixelWidth(), h = image->pixelHeight();
        ASSERT_GT(w, (caps.left + caps.right) * s);
        const auto& px = image->rgbaPixels();
        auto pixel = [&](int x, int y) { return &px[(static_cast<std::size_t>(y) * w + x) * 4]; };
        for (int y = 0; y < h; ++y)
            for (int x = caps.left * s + 1; x < w - caps.right * s; ++x)
                ASSERT_TRUE(std::equal(pixel(x, y), pixel(x, y) + 4, pixel(caps.left * s, y))) << x << "," << y;
        if (caps.top + caps.bottom == 0) continue;
        ASSERT_GT(h, (caps.top + caps.bottom) * s);
        for (int y = caps.top * s + 1; y < h - caps.bottom * s; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_TRUE(std::equal(pixel(x, y), pixel(x, y) + 4, pixel(x, caps.top * s))) << x << "," << y;
    }
}

TEST(DemoIconsDrawing, UnknownNamesAndScalesGiveNothing) {
    EXPECT_TRUE(DemoIcons::draw("no-such-icon", 2).rgba.empty());
    EXPECT_TRUE(DemoIcons::draw("menu", 0).rgba.empty());
    EXPECT_EQ(DemoIcons::pointSize("no-such-icon"), std::make_pair(0, 0));
    const auto three = DemoIcons::draw("menu", 3);
    EXPECT_EQ(three.width, 66);
    EXPECT_EQ(three.rgba.size(), 66u * 66u * 4u);
}

TEST(DemoIconsDrawing, AnUnwritableFolderIsReported) {
    const std::string blocker = Sandbox::home() + "/icons-blocker";
    std::ofstream(blocker) << "a file, not a folder";
    std::string error;
    EXPECT_FALSE(DemoIcons::writeIcons(blocker + "/bundle", &error));
    EXPECT_NE(error.find("Could not write"), std::string::npos);
}
