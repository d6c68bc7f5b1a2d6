// A painting's page through the simulator, with the content server up: a picture whose decode
// runs apart (seconds of work, which the screen does not wait for) is on the page once `idle` has
// returned; a copy cut off on its way by a closed connection is asked for once a visit, each visit
// saying that it could not be downloaded.
#include "demo/generator/DemoCatalogue.h"
#include "tests/app/ServedBundleTest.h"
#include "tests/fixtures/LibjpegPicture.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

class PicturePageScript : public ServedBundleTest {
protected:
    PicturePageScript() : ServedBundleTest("picture-page") {}

    void SetUp() override {
        ServedBundleTest::SetUp();
        if (HasFatalFailure()) return;
        // No remote message comes up over the screens.
        server->setFault("/app_msg_manager/get_msg.php", LoopbackServer::Fault::withStatus(404));
    }

    static const DemoPainting& paintingTitled(const std::string& title) {
        for (const auto& painting : DemoCatalogue::paintings())
            if (painting.title.in("en") == title) return painting;
        ADD_FAILURE() << "no painting " << title;
        return DemoCatalogue::paintings().front();
    }
    // The name of the genre group whose grid lists `painting`.
    static std::string groupOf(const DemoPainting& painting) {
        for (const auto& group : DemoCatalogue::genreGroups())
            if (group.index == DemoCatalogue::genreGroupOf(painting)) return group.name.in("en");
        return "";
    }
};

}  // namespace

TEST_F(PicturePageScript, IdleWaitsForAPictureDecodedApartAndThePageThenShowsIt) {
    const DemoPainting& painting = paintingTitled("Mona Lisa");
    ASSERT_FALSE(DemoCatalogue::isOnServerOnly(painting));
    // A camera's progressive picture whose decode holds more than a large decode's memory: it runs
    // apart, for a good part of a second.
    const std::string bundled = bundle + "/Data/" + DemoCatalogue::imagePathOf(painting);
    const NSData photograph = grainyProgressiveJPEG(2400, 2400);
    ASSERT_TRUE(fs::remove(bundled));
    std::ofstream(bundled, std::ios::binary).write(reinterpret_cast<const char*>(photograph.data()),
                                                   static_cast<std::streamsize>(photograph.size()));

    const ProcessRun run = runScript("advance 1\n"
                                     "tap " + groupOf(painting) + "\n"
                                     "advance 1\n"
                                     "tap Mona Lisa\n"
                                     "idle\n"
                                     "show\n",
                                     "");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string shown = run.output.substr(run.output.rfind("> show"));
    EXPECT_NE(shown.find("[1] picture\n  image " + DemoCatalogue::imagePathOf(painting) + "\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("(busy)"), std::string::npos) << shown;
}

TEST_F(PicturePageScript, ACopyCutOffByAClosedConnectionIsAskedForOnceAVisit) {
    const DemoPainting& painting = paintingTitled("Portrait of Henry VIII");
    ASSERT_TRUE(DemoCatalogue::isOnServerOnly(painting));
    const std::string served = "/pic/gallery/" + DemoCatalogue::imagePathOf(painting);
    server->setFault(served, LoopbackServer::Fault::reset());
    std::string script = "advance 1\ntap " + groupOf(painting) + "\nadvance 1\n";
    constexpr int kVisits = 3;
    for (int visit = 0; visit < kVisits; ++visit)
        script += "tap Portrait of Henry VIII\n"
                  "idle\n"
                  "expect image offline\n"
                  "back\n"
                  "advance 1\n";
    const ProcessRun run = runScript(script, "");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(server->requestsFor(served).size(), static_cast<std::size_t>(kVisits));
    EXPECT_EQ(occurrences(diagnostics(),
                          "The picture Data/" + DemoCatalogue::imagePathOf(painting) +
                              " could not be downloaded: The network connection was lost."),
              static_cast<std::size_t>(kVisits));
}
