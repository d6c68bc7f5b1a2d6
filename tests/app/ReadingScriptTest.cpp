// The readers end to end in the simulator, as a person uses them on the demo bundle with the demo
// content server: the articles open to their documents, an article's painting comes into the pager; a text is read,
// its font enlarged, and after a restart it is still enlarged; the "Web site" row shows the
// in-app browser on the site's address, its pages named by their titles, and follows the site's
// redirects; the famous paintings list their posts and open one.
#include "demo/generator/DemoCatalogue.h"
#include "demo/generator/DemoGenerator.h"
#include "demo/server/ContentServer.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIImage.h"
#include "tests/app/ServedBundleTest.h"
#include "tests/fixtures/Subprocess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

// The demo bundle pointed at the demo content server, both in the test's folder.
class ReadingScript : public ServedBundleTest {
protected:
    ReadingScript() : ServedBundleTest("reading") {}

    // The maker's services at the content server.
    ProcessRun run(const std::string& script, const std::string& extra = "") {
        return runScript(script, "--default OEFamousServer=" + server->host() + " " + extra);
    }

    // The document host as the demo runs it: the same folder over HTTPS, its certificate trusted
    // for 127.0.0.1 alone. The simulator's options that point at it go into `options`.
    std::unique_ptr<ContentServer> startDocumentsHost(std::string& options) {
        std::string error;
        ContentServer::Options served{this->served, "", 0, {}};
        served.scheme = LoopbackServer::Scheme::Https;
        auto documents = ContentServer::start(served, &error);
        EXPECT_TRUE(documents) << error;
        if (!documents) return nullptr;
        const std::string certificate = this->served + "-documents.pem";
        std::ofstream(certificate) << LoopbackServer::certificatePEM();
        options = "--default OEDocumentHost=127.0.0.1:" + std::to_string(documents->port()) +
                  " --trust-anchor 127.0.0.1=" + certificate;
        return documents;
    }
};

const DemoPainting& paintingTitled(const char* english) {
    for (const auto& painting : DemoCatalogue::paintings())
        if (painting.title.en && std::string(painting.title.en) == english) return painting;
    ADD_FAILURE() << english;
    return DemoCatalogue::paintings().front();
}

}  // namespace

TEST_F(ReadingScript, AnArticleOpensToItsDocumentAndItsPaintingComesIntoThePager) {
    const DemoPainting& monaLisa = paintingTitled("Mona Lisa");
    const std::string painter = DemoCatalogue::painters()[static_cast<std::size_t>(monaLisa.painter) - 1].name.en;
    std::string documentsHost;
    auto documents = startDocumentsHost(documentsHost);
    ASSERT_TRUE(documents);
    const ProcessRun result = run("tap menu\n"
                                  "tap Articles\n"
                                  "await row \"" + painter + "\" \"Mona Lisa\"\n"
                                  "expect == Articles ==\n"
                                  "tap Mona Lisa\n"
                                  "expect == Mona Lisa ==\n"
                                  "await heading \"The smile in the half-light\"\n"
                                  // The page by its title, never by its address.
                                  "expect web \"The smile in the half-light\"\n"
                                  "await page \"Leonardo painted the portrait in thin glazes\n"
                                  "idle 10\n"
                                  "show\n"
                                  "tap show picture\n"
                                  "expect == " + painter + " ==\n"
                                  "await image " + DemoCatalogue::imagePathOf(monaLisa) + "\n"
                                  "back\n"
                                  "expect == Mona Lisa ==\n",
                                  documentsHost);
    EXPECT_EQ(result.status, 0) << result.output;
    // The document host's own header is gone once the page has loaded.
    EXPECT_NE(result.output.find("The landscape behind her"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("Ostrel Documents"), std::string::npos) << result.output;
    EXPECT_EQ(documents->requestsFor("/document/d/odm-mona-lisa-en").size(), 1u);
}

TEST_F(ReadingScript, AnEnlargedFontIsStillEnlargedAfterARestart) {
    const std::string shot = Sandbox::tmp() + "/reader.png";
    const std::string open = "tap menu\n"
                             "tap Texts\n"
                             "expect == Texts ==\n"
                             "tap Techniques\n"
                             "tap Impasto\n"
                             "expect == 4/4 ==\n"
                             "expect heading \"Impasto\"\n";
    ProcessRun first = run(open + "expect (16pt Arial, justify)\n"
                                  "tap A+\n"
                                  "expect (17pt Arial, justify)\n"
                                  "shot " + shot + "\n"
                                  "tap The Starry Night\n"
                                  "await " + DemoCatalogue::imagePathOf(paintingTitled("The Starry Night")) + "\n"
                                  "quit\n");
    ASSERT_EQ(first.status, 0) << first.output;
    // The shot draws the page's text.
    auto image = UIImage::imageWithContentsOfFile(shot);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelWidth(), 375);

    // The second start offers the download of the pictures still missing; the size is kept.
    const ProcessRun second = run("expect Download them now?\n"
                                  "tap Cancel\n" + open + "expect (17pt Arial, justify)\n");
    EXPECT_EQ(second.status, 0) << second.output;
    EXPECT_EQ(second.output.find("(16pt Arial"), std::string::npos) << second.output;
}

TEST_F(ReadingScript, TheWebSiteRowShowsTheBrowserOnTheSitesAddress) {
    // Without a deployment's address the row still opens the browser, on a name that is never looked up.
    ProcessRun shipped = run("tap menu\n"
                             "tap Web site\n"
                             "await This page cannot be shown.\n"
                             "idle 10\n"
                             "expect [1] Close\n");
    EXPECT_EQ(shipped.status, 0) << shipped.output;
    EXPECT_EQ(shipped.output.find("ostrel.invalid"), std::string::npos) << shipped.output;

    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    const ProcessRun site = run("tap menu\n"
                                "tap Web site\n"
                                "await Pictures, music and texts\n"
                                "expect web \"Ostrel\"\n"
                                "expect == Ostrel ==\n"
                                "tap Our other applications\n"
                                "await web \"More applications\"\n"
                                "await Ostrel Music\n"
                                "tap Close\n"
                                "tap menu\n"
                                "tap More Apps\n"
                                "await web \"More applications\"\n",
                                "--default OEWebSite=" + server->host());
    EXPECT_EQ(site.status, 0) << site.output;
    // The pages came from the site's address; the screen names them by their titles alone.
    EXPECT_FALSE(server->requestsFor("/").empty());
    EXPECT_EQ(server->requestsFor("/moreen.html").size(), 2u);
    EXPECT_EQ(site.output.find("web " + server->host()), std::string::npos) << site.output;
}

// As the demo runs: the documents host over HTTPS, its certificate trusted for 127.0.0.1, which
// is the plain web site's host as well. The site's redirects are followed, to their page or to
// the reason a loop gives; the secure host's redirect to another server is refused, and says so.
TEST_F(ReadingScript, TheSitesRedirectsAreFollowedAndTheSecureHostsRedirectAwayIsRefused) {
    std::string documentsHost;
    auto documents = startDocumentsHost(documentsHost);
    ASSERT_TRUE(documents);
    const std::string demo = "--default OEWebSite=" + server->host() + " " + documentsHost;
    const std::string monaLisa = "/document/d/odm-mona-lisa-en";

    server->setFault("/", LoopbackServer::Fault::redirect("/moreen.html"));
    documents->setFault(monaLisa, LoopbackServer::Fault::redirect(server->host() + "/moreen.html"));
    const ProcessRun followed = run("tap menu\n"
                                    "tap Web site\n"
                                    "await web \"More applications\"\n"
                                    "expect Ostrel Music\n"
                                    "expect == More applications ==\n"
                                    "tap Close\n"
                                    "tap menu\n"
                                    "tap Articles\n"
                                    "await \"Mona Lisa\"\n"
                                    "tap Mona Lisa\n"
                                    "await This page cannot be shown.\n"
                                    "expect == Mona Lisa ==\n"
                                    "expect The page redirects away from its secure server, and this browser does not "
                                    "follow it there.\n"
                                    "show\n",
                                    demo);
    EXPECT_EQ(followed.status, 0) << followed.output;
    // Neither redirect's own words were shown as a page.
    EXPECT_EQ(followed.output.find("Redirected"), std::string::npos) << followed.output;
    EXPECT_EQ(server->requestsFor("/").size(), 1u);
    EXPECT_EQ(server->requestsFor("/moreen.html").size(), 1u);
    EXPECT_EQ(documents->requestsFor(monaLisa).size(), 1u);

    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    server->setFault("/", LoopbackServer::Fault::redirect());
    const ProcessRun loop = run("tap menu\n"
                                "tap Web site\n"
                                "await This page cannot be shown.\n"
                                "expect The page redirects too many times.\n"
                                "expect == Cannot show the page ==\n"
                                "show\n",
                                demo);
    EXPECT_EQ(loop.status, 0) << loop.output;
    EXPECT_GT(server->requestsFor("/").size(), 2u);
}

TEST_F(ReadingScript, TheFamousPaintingsListTheirPostsAndOpenOne) {
    std::string error;
    ASSERT_TRUE(DemoGenerator::setArticlesStyle(bundle, 2, &error)) << error;
    const ProcessRun result = run("tap menu\n"
                                  "expect row \"Famous Paintings\"\n"
                                  "tap Famous Paintings\n"
                                  "await \"Mona Lisa\"\n"
                                  "expect == Famous Paintings ==\n"
                                  "tap Mona Lisa\n"
                                  "expect == The smile everyone knows ==\n"
                                  "await About Mona Lisa.\n"
                                  "show\n");
    EXPECT_EQ(result.status, 0) << result.output;
    // The post about a painting the catalogue lacks is not listed.
    EXPECT_EQ(result.output.find("went missing"), std::string::npos) << result.output;
}
