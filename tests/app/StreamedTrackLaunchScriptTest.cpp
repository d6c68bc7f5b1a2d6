// A launch whose current track is streamed, through the simulator, with the content server down
// and with one that ignores ranges and answers with a 64 MiB track: the first screen comes
// without the media libraries, with little of the track fetched and the memory of a launch that
// plays nothing; the player hears one change of status, and a play then plays or says why it
// cannot.
#include "demo/generator/DemoCatalogue.h"
#include "tests/app/ServedBundleTest.h"
#include "tests/fixtures/InteractiveProcess.h"
#include "tests/fixtures/SanitizedBuild.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace {

constexpr std::size_t kMiB = 1024 * 1024;


std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class StreamedTrackLaunch : public ServedBundleTest {
protected:
    StreamedTrackLaunch() : ServedBundleTest("streamed-launch") {}

    void SetUp() override {
        ServedBundleTest::SetUp();
        const auto& compositions = DemoCatalogue::compositions();
        const auto streamed = std::find_if(compositions.begin(), compositions.end(), [](const DemoComposition& c) {
            return !DemoCatalogue::isCompositionInBundle(c);
        });
        ASSERT_NE(streamed, compositions.end());
        track = streamed->filepath;
        path = "/data/ostrelmedia/m4a/" + track;
    }

    // The simulator, launched on the track, until its player heard `status` and the application
    // is idle: nothing of the player is loaded (FFmpeg is loaded on first use), the process's
    // peak memory is that of a launch that plays nothing, and the status changed once.
    void expectLightLaunch(InteractiveProcess& simulator, const std::string& status) {
        ASSERT_TRUE(simulator.waitForOutput(status)) << simulator.output();
        ASSERT_TRUE(simulator.waitForOutput("\n> ")) << simulator.output();
        // Nothing left to fetch: no transfer waits on the track.
        const std::string idle = type(simulator, {"idle"});
        EXPECT_NE(idle.find("== Gallery =="), std::string::npos) << idle;
        EXPECT_EQ(idle.find("still busy"), std::string::npos) << idle;
        const std::string output = simulator.output();
        std::smatch pid, peak;
        ASSERT_TRUE(std::regex_search(output, pid, std::regex("pid ([0-9]+)\n"))) << output;
        const std::string maps = fileText("/proc/" + pid[1].str() + "/maps");
        const std::string memory = fileText("/proc/" + pid[1].str() + "/status");
        for (const char* library : {"libavformat", "libavcodec", "libswresample", "libavutil"})
            EXPECT_EQ(maps.find(library), std::string::npos) << library << " mapped before a play";
        EXPECT_NE(maps.find("libcurl"), std::string::npos) << "the maps were read";
        ASSERT_TRUE(std::regex_search(memory, peak, std::regex("VmHWM:\\s+([0-9]+) kB"))) << memory;
        if (!kSanitizedBuild) {
            EXPECT_LT(std::stod(peak[1]) / 1024, 30.0) << "MiB at the most";
        }
        const std::regex told("PlayerSatus: ");
        EXPECT_EQ(std::distance(std::sregex_iterator(output.begin(), output.end(), told), std::sregex_iterator()), 2)
            << "the first status, then one change\n" << output;
    }

    // Types each line once the simulator answered the one before (its prompt came back); what it
    // printed meanwhile.
    static std::string type(InteractiveProcess& simulator, const std::vector<std::string>& lines) {
        const std::size_t mark = simulator.output().size();
        std::size_t at = mark;
        for (const auto& line : lines) {
            EXPECT_TRUE(simulator.send(line));
            if (!simulator.waitForOutput("\n> ", 30, at)) {
                ADD_FAILURE() << "no answer to " << line << "\n" << simulator.output();
                break;
            }
            at = simulator.output().find("\n> ", at) + 3;
        }
        return simulator.output().substr(mark);
    }

    std::vector<std::string> arguments() const {
        return {"/bin/sh", "-c", "echo pid $$; exec \"$0\" \"$@\"", OSTREL_SIM, "--bundle", bundle, "--home", home,
                "--default", "APMMeasurementEndpointHost=127.0.0.1:9", "--default",
                "kMediaPlayerLastPlayedIndex=" + track, "--verbose"};
    }

    std::string track;
    std::string path;
};

}  // namespace

TEST_F(StreamedTrackLaunch, WithTheServerDownTheTrackFailsOnceAndSaysSoWhenPlayed) {
    std::string error;
    ASSERT_TRUE(DemoGenerator::setServerHost(bundle, "http://127.0.0.1:9", &error)) << error;
    InteractiveProcess simulator(arguments());
    ASSERT_TRUE(simulator.started());
    expectLightLaunch(simulator, "PlayerSatus: 2");

    const std::string played =
        type(simulator, {"tap menu", "tap Music Library", "tap play", "await == alert: Cannot play =="});
    EXPECT_NE(played.find("== alert: Cannot play =="), std::string::npos) << played;
    EXPECT_NE(played.find("The music server cannot be reached."), std::string::npos) << played;
    EXPECT_TRUE(simulator.send("quit"));
    EXPECT_EQ(simulator.finish(), 0) << simulator.output();
}

TEST_F(StreamedTrackLaunch, BehindAServerThatIgnoresRangesAHugeTrackIsReadyFromItsStartAndPlays) {
    // The track repeated to 64 MiB, its whole body to every request; none past the first MiB
    // until the play: a launch that wanted more would still wait for it.
    auto body = LoopbackServer::Response::make(200, fileText(served + path), "audio/mp4");
    ASSERT_GT(body.body.size(), 0u);
    server->serve(path, body);
    auto fault = LoopbackServer::Fault::endless(64 * kMiB);
    fault.stallAfter = kMiB;
    server->setFault(path, fault);
    InteractiveProcess simulator(arguments());
    ASSERT_TRUE(simulator.started());
    expectLightLaunch(simulator, "PlayerSatus: 1");
    const auto asked = server->requestsFor(path);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].header("Range"), "bytes=0-16383");

    server->setFault(path, LoopbackServer::Fault::endless(64 * kMiB));
    const std::string played = type(simulator, {"tap menu", "tap Music Library", "tap play", "idle", "advance 2"});
    const std::string screen = played.substr(std::min(played.size(), played.rfind("== ")));
    EXPECT_TRUE(std::regex_search(screen, std::regex("\"00:(0[2-9]|[1-5][0-9])\""))) << "two seconds played\n" << played;
    EXPECT_NE(screen.find("button \"pause\""), std::string::npos) << screen;
    EXPECT_EQ(played.find("Cannot play"), std::string::npos) << played;
    EXPECT_TRUE(simulator.send("quit"));
    EXPECT_EQ(simulator.finish(), 0) << simulator.output();
    EXPECT_EQ(server->requestsFor(path).size(), 2u) << "the body, once, for the play";
}
