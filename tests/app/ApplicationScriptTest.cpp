// The application end to end in the simulator, as a person uses it: it starts on the demo
// bundle with the gallery's category browser in the centre of the side-menu shell; the menu
// opens, the gallery is chosen again, the grouping is switched, and a picture of the screen is
// saved.
#include "demo/generator/DemoCatalogue.h"
#include "demo/generator/DemoGenerator.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIImage.h"
#include "tests/fixtures/Subprocess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Runs ostrel-sim, without --delegate (the application itself), on `bundle` with `script`.
ProcessRun simulate(const std::string& bundle, const std::string& script) {
    const std::string home = Sandbox::tmp() + "/app-home";
    std::filesystem::create_directories(home);
    const std::string path = Sandbox::tmp() + "/app-script.txt";
    std::ofstream(path) << script;
    const std::string command =
        std::string(OSTREL_SIM) + " --bundle " + bundle + " --home " + home + " --script " + path + " 2>&1 </dev/null";
    return runCommand(command);
}

}  // namespace

TEST(ApplicationScript, StartsOnTheGalleryChoosesItFromTheMenuSwitchesGroupingAndTakesAShot) {
    const std::string bundle = Sandbox::tmp() + "/demo-bundle";
    std::string error;
    ASSERT_TRUE(DemoGenerator::writeBundle(bundle, {}, &error)) << error;
    const std::string genre = DemoCatalogue::genreGroups().front().name.in("en");
    const std::string century = DemoCatalogue::centuryGroups().front().name.in("en");
    const std::string shot = Sandbox::tmp() + "/gallery.png";

    const ProcessRun run = simulate(bundle,
                                "# the gallery is in the centre at start, grouped by genre\n"
                                "expect row \"" + genre + "\"\n"
                                "# the menu button opens the side menu with the application's name\n"
                                "tap item\n"
                                "expect Ostrel Gallery\n"
                                "expect row \"Gallery\"\n"
                                "tap 2\n"
                                "expect == Gallery ==\n"
                                "expect row \"" + genre + "\"\n"
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

    auto image = UIImage::imageWithContentsOfFile(shot);
    ASSERT_TRUE(image) << run.output;
    EXPECT_EQ(image->pixelWidth(), 375);
    EXPECT_EQ(image->pixelHeight(), 667);
}
