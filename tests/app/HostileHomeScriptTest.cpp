// A home left in a state no phone would leave it in, through the simulator: a FIFO where the
// current track's file belongs neither holds the launch nor any later command, and the track
// says it cannot be played.
#include "demo/generator/DemoCatalogue.h"
#include "tests/app/ServedBundleTest.h"
#include "tests/fixtures/Fifo.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

class HostileHomeScript : public ServedBundleTest {
protected:
    HostileHomeScript() : ServedBundleTest("hostile-home") {}

    // As runScript, ended after `seconds` of real time (status 124) if it has not ended by then.
    ProcessRun runWithin(int seconds, const std::string& script, const std::string& arguments) {
        const std::string path = served + "-script.txt";
        std::ofstream(path) << script;
        return runCommand("timeout -k 5 " + std::to_string(seconds) + " " + std::string(OSTREL_SIM) + " --bundle " +
                          bundle + " --home " + home + " --default APMMeasurementEndpointHost=127.0.0.1:9 " + arguments +
                          " --script " + path + " 2>&1 </dev/null");
    }
};

}  // namespace

TEST_F(HostileHomeScript, AFifoAsTheCurrentTracksFileHoldsNothingAndTheTrackCannotPlay) {
    const auto& compositions = DemoCatalogue::compositions();
    const auto streamed = std::find_if(compositions.begin(), compositions.end(),
                                       [](const DemoComposition& c) { return !DemoCatalogue::isCompositionInBundle(c); });
    ASSERT_NE(streamed, compositions.end());
    const auto& composers = DemoCatalogue::composers();
    const auto composer = std::find_if(composers.begin(), composers.end(),
                                       [&](const DemoComposer& c) { return c.index == streamed->composer; });
    ASSERT_NE(composer, composers.end());
    const std::string fifo = home + "/Documents/" + streamed->filepath;
    std::filesystem::create_directories(std::filesystem::path(fifo).parent_path());
    ASSERT_TRUE(Fifo::make(fifo));

    // A launch that waited on the FIFO took minutes for its first screen, and a play that opened
    // it never came back.
    const ProcessRun run =
        runWithin(120,
                  "advance 1\n"
                  "expect == Gallery ==\n"
                  "tap menu\n"
                  "tap Music Library\n"
                  "expect == " + std::string(composer->name.in("en")) + " / " + streamed->name.in("en") + " ==\n"
                  "tap play\n"
                  "expect == alert: Cannot play ==\n"
                  "expect This composition cannot be played.\n"
                  "tap OK\n"
                  "expect button \"play\"\n",
                  "'--default' 'kMediaPlayerLastPlayedIndex=" + std::string(streamed->filepath) + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    std::ifstream log(home + "/diagnostics.log");
    const std::string diagnostics((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(diagnostics.find(std::string("The composition ") + streamed->filepath + " cannot be played"),
              std::string::npos)
        << diagnostics;
}
