// The application end to end in the simulator, as a person uses it: it starts on the demo
// bundle with the gallery's category browser in the centre of the side-menu shell; the menu
// opens, the gallery is chosen again, its first row shows its group's picture, the grouping is
// switched, and pictures of the screen are saved.
#include "demo/generator/DemoCatalogue.h"
#include "demo/generator/DemoGenerator.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIImage.h"
#include "tests/fixtures/Subprocess.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

namespace {

// Runs ostrel-sim, without --delegate (the application itself), on `bundle` with `script`. The
// measurement engine it starts is pointed at a closed loopback port: nothing leaves the machine.
ProcessRun simulate(const std::string& bundle, const std::string& script) {
    const std::string home = Sandbox::tmp() + "/app-home";
    std::filesystem::create_directories(home);
    const std::string path = Sandbox::tmp() + "/app-script.txt";
    std::ofstream(path) << script;
    const std::string command = std::string(OSTREL_SIM) + " --bundle " + bundle + " --home " + home +
                                " --default APMMeasurementEndpointHost=127.0.0.1:9 --script " + path +
                                " 2>&1 </dev/null";
    return runCommand(command);
}

// Mean colour of a rectangle of pixels.
std::array<double, 3> meanColour(const UIImage& image, int x0, int y0, int x1, int y1) {
    std::array<double, 3> sum{0, 0, 0};
    const auto& px = image.rgbaPixels();
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c) sum[c] += px[(static_cast<std::size_t>(y) * image.pixelWidth() + x) * 4 + c];
    const double n = static_cast<double>(x1 - x0) * (y1 - y0);
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}

}  // namespace

TEST(ApplicationScript, StartsOnTheGalleryChoosesItFromTheMenuSwitchesGroupingAndTakesAShot) {
    const std::string bundle = Sandbox::tmp() + "/demo-bundle";
    std::string error;
    ASSERT_TRUE(DemoGenerator::writeBundle(bundle, {}, &error)) << error;
    const std::string genre = DemoCatalogue::genreGroups().front().name.in("en");
    const std::string century = DemoCatalogue::centuryGroups().front().name.in("en");
    const std::string shot = Sandbox::tmp() + "/gallery.png";
    const std::string firstShot = Sandbox::tmp() + "/gallery-genre.png";

    const ProcessRun run = simulate(bundle,
                                "# the gallery is in the centre at start, grouped by genre\n"
                                "expect row \"" + genre + "\"\n"
                                "# the menu button opens the side menu with the application's name\n"
                                "tap menu\n"
                                "expect Ostrel Gallery\n"
                                "expect row \"Gallery\"\n"
                                "tap 2\n"
                                "expect == Gallery ==\n"
                                "expect row \"" + genre + "\"\n"
                                "show\n"
                                "shot " + firstShot + "\n"
                                "tap By Painter\n"
                                "expect <By Painter>\n"
                                "expect row \"" + century + "\"\n"
                                "shot " + shot + "\n"
                                "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    // After the choice the menu is closed: its title is no longer listed.
    const std::size_t last = run.output.rfind("> show");
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(run.output.find("Ostrel Gallery", last), std::string::npos) << run.output.substr(last);

    // The first row of the chosen gallery is a known group, drawn with its own picture: the
    // picture is fitted into the 100-point square 8 points in from the row's corner, and the
    // row starts under the 64-point bar.
    const std::size_t listed = run.output.find("> show");
    ASSERT_NE(listed, std::string::npos);
    std::smatch first;
    const std::string afterShow = run.output.substr(listed);
    ASSERT_TRUE(std::regex_search(afterShow, first, std::regex("row \"([^\"]+)\""))) << afterShow;
    const DemoGroup* group = nullptr;
    // The first section is the first era's; later eras repeat the names.
    for (const auto& g : DemoCatalogue::genreGroups())
        if (!group && g.name.in("en") == first[1].str()) group = &g;
    ASSERT_NE(group, nullptr) << first[1].str();
    auto groupPicture = UIImage::imageWithContentsOfFile(bundle + "/Data/cats/" + group->filePath + ".jpg");
    auto genreShot = UIImage::imageWithContentsOfFile(firstShot);
    ASSERT_TRUE(groupPicture && genreShot) << run.output;
    const int w = groupPicture->pixelWidth(), h = groupPicture->pixelHeight();
    const double fitted = 100.0 * h / w;  // the picture's height in the square
    const double top = 64 + 7 + (100 - fitted) / 2;
    const auto expected = meanColour(*groupPicture, w / 10, h / 10, w - w / 10, h - h / 10);
    const auto drawn = meanColour(*genreShot, 8 + 10, static_cast<int>(top + fitted / 10) + 1, 8 + 90,
                                  static_cast<int>(top + fitted - fitted / 10) - 1);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(drawn[c], expected[c], 12.0) << "channel " << c;

    auto image = UIImage::imageWithContentsOfFile(shot);
    ASSERT_TRUE(image) << run.output;
    EXPECT_EQ(image->pixelWidth(), 375);
    EXPECT_EQ(image->pixelHeight(), 667);
}

TEST(ApplicationScript, ABundleWithoutItsPicturesDatabaseSaysSoOnTheScreenAndOnStandardError) {
    const std::string bundle = Sandbox::tmp() + "/bundle-without-pictures";
    DemoGenerator::Options options;
    options.writePictures = false;
    std::string error;
    ASSERT_TRUE(DemoGenerator::writeBundle(bundle, options, &error)) << error;
    ASSERT_TRUE(std::filesystem::remove(bundle + "/images.sqlite"));

    const ProcessRun run = simulate(bundle, "expect No pictures database was found\n");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("No pictures database was found: the bundle " + bundle + " holds no images*.sqlite file."),
              std::string::npos)
        << run.output;
}
