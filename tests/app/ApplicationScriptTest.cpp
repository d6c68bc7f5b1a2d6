// The application end to end in the simulator, as a person uses it: it starts on the demo
// bundle with the gallery's category browser in the centre of the side-menu shell; the menu
// opens, the gallery is chosen again, its first row shows its group's picture, the grouping is
// switched, and pictures of the screen are saved. A subcategory's grid opens its pictures in
// the full-screen pager, downloaded from the content server and kept for later without it; its
// HD file, downloaded while the script's clock stands still, shows only once the page has faded
// out. A picture liked with the pager's button is a favourite on the server and in the
// favourites screen after a restart.
// Downloading all pictures from the menu stops at a file the server fails; the second launch
// offers the rest, and once every picture is there the menu row is gone. A subcategory's screen
// downloads its own missing pictures; a list row opens its picture's information; the last
// missing picture fetched by the pager takes the menu row away; and once everything is on the
// device a return to the foreground offers nothing. The application runs while the simulator
// waits for a line: download-all goes on with nobody typing and runs to its end under `idle`;
// `advance` waits for a picture still coming in, not for a stalled one.
#include "demo/generator/DemoCatalogue.h"
#include "demo/generator/DemoGenerator.h"
#include "demo/server/ContentServer.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIImage.h"
#include "tests/fixtures/DemoBundle.h"
#include "tests/fixtures/InteractiveProcess.h"
#include "tests/fixtures/Subprocess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The server-only paintings of a genre group, in catalogue order.
std::vector<const DemoPainting*> serverOnlyIn(const DemoGroup& group) {
    std::vector<const DemoPainting*> paintings;
    for (const auto& p : DemoCatalogue::paintings())
        if (DemoCatalogue::isOnServerOnly(p) && DemoCatalogue::genreGroupOf(p) == group.index) paintings.push_back(&p);
    return paintings;
}

// The text after the last "> show" of a run.
std::string lastScreen(const std::string& output) {
    const std::size_t at = output.rfind("> show");
    return at == std::string::npos ? "" : output.substr(at);
}

// Runs ostrel-sim, without --delegate (the application itself), on `bundle` with `script`. The
// measurement engine it starts is pointed at a closed loopback port: nothing leaves the machine.
ProcessRun simulate(const std::string& bundle, const std::string& arguments, const std::string& script) {
    const std::string home = Sandbox::tmp() + "/app-home";
    std::filesystem::create_directories(home);
    const std::string path = Sandbox::tmp() + "/app-script.txt";
    std::ofstream(path) << script;
    const std::string command = std::string(OSTREL_SIM) + " --bundle " + bundle + " --home " + home +
                                " --default APMMeasurementEndpointHost=127.0.0.1:9 " + arguments + " --script " + path +
                                " 2>&1 </dev/null";
    return runCommand(command);
}

ProcessRun simulate(const std::string& bundle, const std::string& script) { return simulate(bundle, "", script); }

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

// The file of the last painting ("image pNNNN.jpg") the screen listed in `output`: the one in
// `documents` when it is there, else the bundle's; "" when none was listed.
std::string lastPaintingShown(const std::string& output, const std::string& documents, const std::string& bundle) {
    std::string name;
    const std::regex line("image (p[0-9]{4}\\.\\w+)");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line); it != std::sregex_iterator(); ++it)
        name = (*it)[1].str();
    if (name.empty()) return "";
    return std::filesystem::exists(documents + "/" + name) ? documents + "/" + name : bundle + "/Data/" + name;
}

// Expects `shot` to show `picture` scaled by `scale` with its top-left corner at (x, y) points:
// the mean colours of a 3 x 3 grid of blocks inside the part of the picture between `from`
// and `to` (shot points) agree.
void expectPictureAt(const UIImage& shot, const UIImage& picture, double scale, double x, double y, CGPoint from,
                     CGPoint to) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const double x0 = from.x + (to.x - from.x) * i / 3 + 4, x1 = from.x + (to.x - from.x) * (i + 1) / 3 - 4;
            const double y0 = from.y + (to.y - from.y) * j / 3 + 4, y1 = from.y + (to.y - from.y) * (j + 1) / 3 - 4;
            const auto drawn = meanColour(shot, static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1),
                                          static_cast<int>(y1));
            const auto expected =
                meanColour(picture, static_cast<int>((x0 - x) / scale), static_cast<int>((y0 - y) / scale),
                           static_cast<int>((x1 - x) / scale), static_cast<int>((y1 - y) / scale));
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(drawn[c], expected[c], 14.0) << "block " << i << "," << j << " channel " << c;
        }
}

// The demo bundle and the server's folder in the test's folder, the content server on
// 127.0.0.1 serving that folder, and the bundle pointed at it.
struct ServedDemo {
    std::string bundle = Sandbox::tmp() + "/demo-bundle";
    std::string served = DemoBundle::serverFolder();
    std::unique_ptr<ContentServer> server;
    // Told of each request as it arrives, on the server's threads.
    std::function<void(const std::string& line)> log;

    bool start(std::string* error) {
        if (!DemoBundle::copyTo(bundle, true, error)) return false;
        server = ContentServer::start({served, "", 0, log}, error);
        return server && DemoGenerator::setServerHost(bundle, server->host(), error);
    }
};


// The pictures only the server has, as download-all fetches them.
std::vector<std::string> serverOnlyPictures() {
    std::vector<std::string> paths;
    for (const auto& p : DemoCatalogue::paintings())
        if (DemoCatalogue::isOnServerOnly(p)) paths.push_back(DemoCatalogue::imagePathOf(p));
    return paths;
}

std::size_t countDownloaded(const std::vector<std::string>& paths) {
    const std::string data = Sandbox::tmp() + "/app-home/Documents/Data/";
    std::size_t n = 0;
    for (const auto& path : paths) n += std::filesystem::exists(data + path) ? 1 : 0;
    return n;
}

// The menu's download row, asked for and accepted.
const char* const kStartDownloadAll = "tap menu\n"
                                      "advance 1\n"
                                      "tap Download All Pictures\n"
                                      "advance 1\n"
                                      "expect Do you really want to download all pictures?\n"
                                      "tap Download\n";

}  // namespace

TEST(ApplicationScript, StartsOnTheGalleryChoosesItFromTheMenuSwitchesGroupingAndTakesAShot) {
    const std::string& bundle = DemoBundle::path();
    const std::string genre = DemoCatalogue::genreGroups().front().name.in("en");
    const std::string painter = DemoCatalogue::painterGroups().front().name.in("en");
    const std::string shot = Sandbox::tmp() + "/gallery.png";
    const std::string firstShot = Sandbox::tmp() + "/gallery-genre.png";

    const ProcessRun run = simulate(bundle,
                                "# the gallery is in the centre at start, grouped by genre\n"
                                "expect row \"" + genre + "\"\n"
                                "# the menu button opens the side menu with the application's name\n"
                                "tap menu\n"
                                "expect Ostrel Gallery\n"
                                "expect row \"Gallery\"\n"
                                "tap Gallery\n"
                                "expect == Gallery ==\n"
                                "expect row \"" + genre + "\"\n"
                                "show\n"
                                "shot " + firstShot + "\n"
                                "tap By Name\n"
                                "expect <By Name>\n"
                                "expect row \"" + painter + "\"\n"
                                "shot " + shot + "\n"
                                "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    // After the choice the menu is closed: its title is no longer listed.
    const std::size_t last = run.output.rfind("> show");
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(run.output.find("Ostrel Gallery", last), std::string::npos) << run.output.substr(last);

    // The first row of the chosen gallery is a known group, drawn with its own picture: the
    // picture is fitted into the 100-point square 8 points in from the row's corner, and the
    // row starts under the 64-point bar and the 56-point search bar.
    const std::size_t listed = run.output.find("> show");
    ASSERT_NE(listed, std::string::npos);
    std::smatch first;
    const std::string afterShow = run.output.substr(listed);
    ASSERT_TRUE(std::regex_search(afterShow, first, std::regex("row \"([^\"]+)\""))) << afterShow;
    const DemoGroup* group = nullptr;
    for (const auto& g : DemoCatalogue::genreGroups())
        if (g.name.in("en") == first[1].str()) group = &g;
    ASSERT_NE(group, nullptr) << first[1].str();
    auto groupPicture = UIImage::imageWithContentsOfFile(bundle + "/Data/cats/" + group->filePath + ".jpg");
    auto genreShot = UIImage::imageWithContentsOfFile(firstShot);
    ASSERT_TRUE(groupPicture && genreShot) << run.output;
    const int w = groupPicture->pixelWidth(), h = groupPicture->pixelHeight();
    const double fitted = 100.0 * h / w;  // the picture's height in the square
    const double top = 64 + 56 + 7 + (100 - fitted) / 2;
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
    std::string error;
    ASSERT_TRUE(DemoBundle::copyTo(bundle, false, &error)) << error;
    ASSERT_TRUE(std::filesystem::remove(bundle + "/images.sqlite"));
    // Nothing else to read either: no texts, no music, no reading section.
    for (const char* other : {"/texts.sqlite", "/media.sqlite"}) ASSERT_TRUE(std::filesystem::remove(bundle + other));
    ASSERT_TRUE(DemoGenerator::setArticlesStyle(bundle, 0, &error)) << error;

    const ProcessRun run = simulate(bundle, "expect No pictures database was found\n");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("No pictures database was found: the bundle " + bundle + " holds no images*.sqlite file."),
              std::string::npos)
        << run.output;
}

TEST(ApplicationScript, ASubcategorysGridOpensItsPicturesFromTheServerInThePagerAndKeepsThemForLater) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const std::string& bundle = demo.bundle;
    const std::string& served = demo.served;
    auto& server = demo.server;

    // The first row of the gallery and a painting of it that only the server has.
    const DemoGroup& group = DemoCatalogue::genreGroups().front();
    const DemoPainting* painting = nullptr;
    for (const auto& p : DemoCatalogue::paintings())
        if (!painting && DemoCatalogue::isOnServerOnly(p) && DemoCatalogue::genreGroupOf(p) == group.index) painting = &p;
    ASSERT_NE(painting, nullptr);
    const std::string imagePath = DemoCatalogue::imagePathOf(*painting);
    const std::string title = painting->title.in("en");
    const std::string pagerShot = Sandbox::tmp() + "/pager.png";
    const std::string zoomShot = Sandbox::tmp() + "/pager-zoomed.png";
    const std::string gridShot = Sandbox::tmp() + "/grid.png";

    // The pager's page is the picture, the one area of the screen that takes taps.
    ProcessRun run = simulate(bundle,
                              "tap " + group.name.in("en") + "\n"
                              "expect == " + group.name.in("en") + " ==\n"
                              "expect <Grid>\n"
                              "idle\n"
                              "expect cell \"" + title + "\"\n"
                              "shot " + gridShot + "\n"
                              "tap " + title + "\n"
                              "expect \"" + title + "\"\n"
                              "await image " + imagePath + "\n"
                              "shot " + pagerShot + "\n"
                              "tap next picture\n"
                              "await image p\n"
                              "show\n"
                              "doubletap picture\n"
                              "show\n"
                              "shot " + zoomShot + "\n"
                              "back\n"
                              "expect == " + group.name.in("en") + " ==\n"
                              "expect cell \"" + title + "\"\n");
    ASSERT_EQ(run.status, 0) << run.output;

    // The picture was downloaded into Documents as the server has it.
    const std::string home = Sandbox::tmp() + "/app-home";
    std::ifstream downloaded(home + "/Documents/Data/" + imagePath, std::ios::binary);
    std::ifstream original(served + "/pic/gallery/" + imagePath, std::ios::binary);
    ASSERT_TRUE(downloaded && original);
    EXPECT_TRUE(std::equal(std::istreambuf_iterator<char>(downloaded), std::istreambuf_iterator<char>(),
                           std::istreambuf_iterator<char>(original), std::istreambuf_iterator<char>()));

    // The pager shows it fitted to the width of the 375 x 667 screen, centred between top and
    // bottom: the server's file decoded agrees with the shot.
    auto picture = UIImage::imageWithContentsOfFile(served + "/pic/gallery/" + imagePath);
    auto shot = UIImage::imageWithContentsOfFile(pagerShot);
    ASSERT_TRUE(picture && shot) << run.output;
    ASSERT_EQ(shot->pixelWidth(), 375);
    const double fit = 375.0 / picture->pixelWidth();
    const double top = (667 - picture->pixelHeight() * fit) / 2;
    expectPictureAt(*shot, *picture, fit, 0, top, {10, top + 10}, {365, 667 - top - 10});
    EXPECT_TRUE(UIImage::imageWithContentsOfFile(gridShot)) << run.output;

    // Next shows another painting; the double tap in the middle shows it at one point per
    // pixel around the same middle.
    const std::size_t next = run.output.find("> tap next picture");
    ASSERT_NE(next, std::string::npos);
    const std::string nextImage = lastPaintingShown(run.output.substr(next, run.output.find("> doubletap") - next),
                                                    home + "/Documents/Data", bundle);
    ASSERT_FALSE(nextImage.empty()) << run.output;
    EXPECT_EQ(nextImage.find(imagePath), std::string::npos) << nextImage;
    auto nextPicture = UIImage::imageWithContentsOfFile(nextImage);
    auto zoomed = UIImage::imageWithContentsOfFile(zoomShot);
    ASSERT_TRUE(nextPicture && zoomed) << run.output;
    const double w = nextPicture->pixelWidth(), h = nextPicture->pixelHeight();
    ASSERT_GT(w, 375) << "the demo paintings are wider than the screen, so the double tap has room to zoom";
    expectPictureAt(*zoomed, *nextPicture, 1.0, 187.5 - w / 2, 333.5 - h / 2, {40, 333.5 - h / 2 + 20},
                    {335, 333.5 + h / 2 - 20});

    // Without the server, the downloaded picture opens again: from Documents, where alone it is.
    // This second launch offers the download of the missing pictures first.
    server.reset();
    run = simulate(bundle,
                   "tap Cancel\n"
                   "tap " + group.name.in("en") + "\n"
                   "tap " + title + "\n"
                   "await image " + imagePath + "\n");
    EXPECT_EQ(run.status, 0) << run.output;
}

TEST(ApplicationScript, TheHDPictureDownloadedForThePagerShowsOnlyOnceThePageHasFadedOut) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    // A painting of the first group, shown in its grid at once, that the bundle holds and whose
    // HD file the server has.
    const DemoGroup& group = DemoCatalogue::genreGroups().front();
    const DemoPainting* painting = nullptr;
    for (const auto& p : DemoCatalogue::paintings())
        if (p.title.en && std::string(p.title.en) == "Mona Lisa") painting = &p;
    ASSERT_NE(painting, nullptr);
    const std::string imagePath = DemoCatalogue::imagePathOf(*painting);
    ASSERT_EQ(DemoCatalogue::genreGroupOf(*painting), group.index);
    ASSERT_FALSE(DemoCatalogue::isOnServerOnly(*painting));
    ASSERT_TRUE(std::filesystem::exists(demo.served + "/data/gallery/" + imagePath));
    // The HD file waits at the server until the tap that asked for it is over, so that it
    // arrives while the script's clock stands still.
    demo.server->setFault("/data/gallery/" + imagePath, LoopbackServer::Fault::stall(0));

    // The script comes through a pipe, line by line: it is read only between commands.
    const std::string script = Sandbox::tmp() + "/hd-script";
    ASSERT_EQ(::mkfifo(script.c_str(), 0600), 0) << std::strerror(errno);
    const std::string home = Sandbox::tmp() + "/app-home";
    std::filesystem::create_directories(home);
    InteractiveProcess simulator({OSTREL_SIM, "--bundle", demo.bundle, "--home", home, "--default",
                                  "APMMeasurementEndpointHost=127.0.0.1:9", "--script", script});
    ASSERT_TRUE(simulator.started());
    // Read and written here (Linux opens a FIFO so at once, with no reader there yet), so the
    // lines wait in it until the simulator opens it; one buffer of a page, so that it has room
    // again only once the simulator has read all that was written.
    const int lines = ::open(script.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(lines, 0) << std::strerror(errno);
    const int capacity = ::fcntl(lines, F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0) << std::strerror(errno);
    // Writes `text` and waits until the simulator has read all of it.
    auto feed = [&](const std::string& text) {
        if (text.size() > static_cast<std::size_t>(capacity)) return false;
        if (::write(lines, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return false;
        pollfd drained{lines, POLLOUT, 0};
        int ready = -1;
        while ((ready = ::poll(&drained, 1, 20000)) < 0 && errno == EINTR) {
        }
        return ready == 1 && (drained.revents & POLLOUT) != 0;
    };
    const std::string faded = Sandbox::tmp() + "/hd-faded.png", shown = Sandbox::tmp() + "/hd-shown.png";
    ASSERT_TRUE(feed("tap " + group.name.in("en") + "\n"
                     "idle\n"
                     "tap " + painting->title.in("en") + "\n"
                     "await image " + imagePath + "\n"
                     "tap HD\n"));
    ASSERT_TRUE(demo.server->waitForStalls(1, 20)) << simulator.output();
    // An empty line read means the tap has ended.
    ASSERT_TRUE(feed("\n"));
    demo.server->releaseStalls();
    ASSERT_TRUE(feed("idle\n"
                     "show\n"
                     "shot " + faded + "\n"
                     "advance 0.2\n"
                     "show\n"
                     "shot " + shown + "\n"
                     "quit\n"));
    ::close(lines);
    ASSERT_EQ(simulator.finish(), 0) << simulator.output();

    // In place and not shown yet: the page fades out first, its standard picture on the screen
    // until the fade ends...
    const std::string output = simulator.output();
    const std::size_t first = output.find("> show"), second = output.find("> show", first + 1);
    ASSERT_NE(second, std::string::npos) << output;
    const std::string whileFading = output.substr(first, second - first), after = output.substr(second);
    EXPECT_TRUE(std::filesystem::exists(home + "/Documents/Data/hd-" + imagePath));
    EXPECT_NE(whileFading.find("[1] picture\n  image " + imagePath + "\n"), std::string::npos) << whileFading;
    EXPECT_EQ(whileFading.find("image hd-"), std::string::npos) << whileFading;
    // ...and then, 0.2 s on, the high-resolution picture, fitted to the screen's width.
    EXPECT_NE(after.find("image hd-" + imagePath), std::string::npos) << after;
    auto hd = UIImage::imageWithContentsOfFile(demo.served + "/data/gallery/" + imagePath);
    auto standard = UIImage::imageWithContentsOfFile(demo.bundle + "/Data/" + imagePath);
    auto fadedShot = UIImage::imageWithContentsOfFile(faded);
    auto shownShot = UIImage::imageWithContentsOfFile(shown);
    ASSERT_TRUE(hd && standard && fadedShot && shownShot) << output;
    const double fit = 375.0 / hd->pixelWidth();
    const double top = (667 - hd->pixelHeight() * fit) / 2;
    expectPictureAt(*shownShot, *hd, fit, 0, top, {10, top + 10}, {365, 667 - top - 10});
    // The fade had only begun when the shot was taken: the standard picture, drawn whole.
    const double standardFit = 375.0 / standard->pixelWidth();
    const double standardTop = (667 - standard->pixelHeight() * standardFit) / 2;
    expectPictureAt(*fadedShot, *standard, standardFit, 0, standardTop, {10, standardTop + 10},
                    {365, 667 - standardTop - 10});
}

TEST(ApplicationScript, APictureLikedInThePagerIsAFavouriteOnTheServerAndInTheFavouritesAfterARestart) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const std::string& bundle = demo.bundle;
    auto& server = demo.server;

    // A painting on the device that the server knows 37 likes of; the most liked one.
    const DemoPainting* favourite = nullptr;
    const DemoPainting* mostLiked = nullptr;
    for (const auto& p : DemoCatalogue::paintings()) {
        if (p.title.en && std::string(p.title.en) == "Girl with a Pearl Earring") favourite = &p;
        if (p.title.en && std::string(p.title.en) == "Mona Lisa") mostLiked = &p;
    }
    ASSERT_TRUE(favourite && mostLiked);
    ASSERT_FALSE(DemoCatalogue::isOnServerOnly(*favourite));
    const DemoGroup* group = nullptr;
    for (const auto& g : DemoCatalogue::genreGroups())
        if (g.index == DemoCatalogue::genreGroupOf(*favourite)) group = &g;
    ASSERT_TRUE(group);
    // A grid's pictures are listed by their titles once the screen has nothing left to fetch.
    const std::string favouriteThumbnail = "idle\nexpect cell \"" + favourite->title.in("en") + "\"";
    const std::string mostLikedThumbnail = "idle\nexpect cell \"" + mostLiked->title.in("en") + "\"";
    const std::string like = "app_id=ostrel_gallery&id=" + std::to_string(favourite->index);
    const std::string shot = Sandbox::tmp() + "/favourites.png";

    // The favourites button opens an empty favourites list, which says so; the popular list
    // comes from the server. In the pager the like button shows the picture's 37 likes; a tap
    // likes it (38 at once) and makes it a favourite, listed when the favourites screen opens again.
    ProcessRun run = simulate(bundle,
                              "tap favorite\n"
                              "expect == Favorites ==\n"
                              "expect <Favorites>\n"
                              "expect (empty grid)\n"
                              "tap Popular\n"
                              "expect == Popular ==\n" +
                              mostLikedThumbnail + "\n"
                              "tap Favorites\n"
                              "expect <Favorites>\n"
                              "show\n"
                              "back\n"
                              "tap " + group->name.in("en") + "\n"
                              "tap List\n"
                              "scroll down 5000\n"
                              "await Girl with a Pearl Earring\n"
                              "tap Girl with a Pearl Earring\n"
                              "expect \"Girl with a Pearl Earring\"\n"
                              "await favorite (37)\n"
                              "tap favorite (37)\n"
                              "expect favorite (38)\n"
                              "back\n"
                              "back\n"
                              "tap favorite\n" +
                              favouriteThumbnail + "\n");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::size_t emptyList = run.output.find("> show");
    ASSERT_NE(emptyList, std::string::npos);
    const std::string listed = run.output.substr(emptyList, run.output.find("> back") - emptyList);
    EXPECT_EQ(listed.find("cell"), std::string::npos) << listed;

    // After the restart the favourite is still in the list.
    run = simulate(bundle,
                   "tap Cancel\n"
                   "tap favorite\n" +
                   favouriteThumbnail + "\n"
                   "shot " + shot + "\n"
                   "tap Popular\n" +
                   mostLikedThumbnail + "\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(UIImage::imageWithContentsOfFile(shot)) << run.output;
    std::vector<std::string> likes;
    for (const auto& request : server->requests())
        if (request.path == "/likes/likes.php") likes.push_back(request.method + " " + request.query);
    // The pager asked for the count and posted the like; a like whose answer the first run did
    // not live to hear goes again at the next launch, and nothing was taken back.
    EXPECT_NE(std::find(likes.begin(), likes.end(), "GET " + like), likes.end());
    EXPECT_NE(std::find(likes.begin(), likes.end(), "POST " + like), likes.end());
    EXPECT_EQ(std::find(likes.begin(), likes.end(), "DELETE " + like), likes.end());
    EXPECT_GE(std::count(likes.begin(), likes.end(), "GET app_id=ostrel_gallery&sort=desc&count=100"), 2);
}

TEST(ApplicationScript, DownloadingAllPicturesStopsAtAFileTheServerFailsAndTheSecondLaunchOffersTheRest) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const std::string& bundle = demo.bundle;
    auto& server = demo.server;
    const std::vector<std::string> serverOnly = serverOnlyPictures();
    const std::string failing = serverOnly[serverOnly.size() / 2];
    server->setFault("/pic/gallery/" + failing, LoopbackServer::Fault::withStatus(500));
    const std::string data = Sandbox::tmp() + "/app-home/Documents/Data/";
    auto downloaded = [&] { return countDownloaded(serverOnly); };

    // Row 2 of the open menu is the download row, under "Additional"; it is tapped by its text.
    ProcessRun run = simulate(bundle,
                              "tap menu\n"
                              "advance 1\n"
                              "expect Additional\n"
                              "expect row \"Download All Pictures\"\n"
                              "tap Download All Pictures\n"
                              "advance 1\n"
                              "expect Do you really want to download all pictures?\n"
                              "tap Download\n"
                              "await Download failed: Server returned status code 500\n"
                              "tap OK\n"
                              "advance 1\n"
                              "tap menu\n"
                              "advance 1\n"
                              "expect Download All Pictures\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_FALSE(std::filesystem::exists(data + failing));
    const std::size_t first = downloaded();
    ASSERT_LT(first, serverOnly.size());
    EXPECT_EQ(server->requests().back().path, "/pic/gallery/" + failing);

    // The second launch offers what is missing; accepted, every picture comes and the row goes.
    server->removeFault("/pic/gallery/" + failing);
    server->clearRequests();
    const std::string missing = std::to_string(serverOnly.size() - first);
    run = simulate(bundle,
                   "advance 1\n"
                   "expect \"Complete\"\n"
                   "expect Pictures not on this device yet: " + missing + " (\n"
                   "tap OK\n"
                   "await All pictures are downloaded\n"
                   "tap OK\n"
                   "advance 1\n"
                   "tap menu\n"
                   "advance 1\n"
                   "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(downloaded(), serverOnly.size());
    // Picture requests only: the launch also asks for the applications count, and the music
    // player loads its current composition.
    const auto requests = server->requests();
    const auto pictureRequests = std::count_if(requests.begin(), requests.end(), [](const auto& request) {
        return request.path.rfind("/pic/", 0) == 0;
    });
    EXPECT_EQ(static_cast<std::size_t>(pictureRequests), serverOnly.size() - first) << "nothing fetched twice";
    const std::size_t menu = run.output.rfind("> show");
    ASSERT_NE(menu, std::string::npos);
    EXPECT_NE(run.output.find("Ostrel Gallery", menu), std::string::npos) << run.output.substr(menu);
    EXPECT_EQ(run.output.find("Download All Pictures", menu), std::string::npos) << run.output.substr(menu);
}

namespace {

// How many pixels of the rectangle (x0, y0)-(x1, y1) meet `test` (red, green, blue).
int countPixels(const UIImage& image, int x0, int y0, int x1, int y1,
                const std::function<bool(int, int, int)>& test) {
    int n = 0;
    const auto& px = image.rgbaPixels();
    for (int y = std::max(0, y0); y < std::min(y1, image.pixelHeight()); ++y)
        for (int x = std::max(0, x0); x < std::min(x1, image.pixelWidth()); ++x) {
            const std::size_t i = (static_cast<std::size_t>(y) * image.pixelWidth() + x) * 4;
            n += test(px[i], px[i + 1], px[i + 2]) ? 1 : 0;
        }
    return n;
}

bool tinted(int r, int, int b) { return b > 150 && b > r + 80; }

// Pixels far from the colour at (x, y): something drawn on a plain bar.
int drawnOn(const UIImage& image, int x, int y, int x0, int y0, int x1, int y1) {
    const auto& px = image.rgbaPixels();
    const std::size_t at = (static_cast<std::size_t>(y) * image.pixelWidth() + x) * 4;
    const int r0 = px[at], g0 = px[at + 1], b0 = px[at + 2];
    return countPixels(image, x0, y0, x1, y1, [&](int r, int g, int b) {
        return std::abs(r - r0) + std::abs(g - g0) + std::abs(b - b0) > 150;
    });
}

// A painting the bundle has, with its painter's name and its picture's file.
struct BundledPainting {
    std::string title, painter, thumbnail;
    int genreGroup = 0;
    std::string picture;
};

BundledPainting bundledPainting() {
    for (const auto& p : DemoCatalogue::paintings()) {
        if (DemoCatalogue::isOnServerOnly(p) || !p.title.en) continue;
        for (const auto& painter : DemoCatalogue::painters())
            if (painter.index == p.painter)
                return {p.title.in("en"), painter.name.in("en"), DemoCatalogue::thumbnailPathOf(p),
                        DemoCatalogue::genreGroupOf(p), DemoCatalogue::imagePathOf(p)};
    }
    return {};
}

}  // namespace

TEST(ApplicationScript, TapsByTextReachAGroupingsRowsAndTheMenuAndTheSettingsAreSetAndReadBack) {
    const std::string& bundle = DemoBundle::path();
    const std::string group = DemoCatalogue::genreGroups().front().name.in("en");
    const std::string gallery = Sandbox::tmp() + "/gallery-rows.png";
    const std::string pushed = Sandbox::tmp() + "/pushed.png";
    const std::string settings = Sandbox::tmp() + "/settings.png";

    ProcessRun run = simulate(bundle,
                              "shot " + gallery + "\n"
                              "# a grouping's row, after switching the grouping there and back\n"
                              "tap By Name\n"
                              "tap By Genre\n"
                              "tap " + group + "\n"
                              "expect == " + group + " ==\n"
                              "shot " + pushed + "\n"
                              "back\n"
                              "# the side menu's rows\n"
                              "tap menu\n"
                              "tap Settings\n"
                              "expect == Settings ==\n"
                              "set segments 3x\n"
                              "set slider 7\n"
                              "set switch on\n"
                              "shot " + settings + "\n"
                              "tap Done\n"
                              "tap menu\n"
                              "tap Settings\n"
                              "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    // Each tap says what it hit.
    for (const std::string& row : {group, std::string("Settings")})
        EXPECT_TRUE(std::regex_search(run.output, std::regex("tapped \\[[0-9]+\\] row \"" + row + "\"")))
            << row << "\n" << run.output;
    for (const std::string& said : std::vector<std::string>{"set [2] segments 1x 2x <3x>", "set [3] slider 7 (0 to 10)",
                                                            "set [4] switch on"})
        EXPECT_NE(run.output.find(said), std::string::npos) << said << "\n" << run.output;
    // Read back from the screen opened again.
    const std::string reopened = run.output.substr(run.output.rfind("> show"));
    for (const std::string& shown : std::vector<std::string>{"[2] segments 1x 2x <3x>", "\"Slide show delay: 11 s\"",
                                                             "[3] slider 7 (0 to 10)", "[4] switch on"})
        EXPECT_NE(reopened.find(shown), std::string::npos) << shown << "\n" << reopened;

    // And after a restart, from the stored settings (the restart first offers the pictures still
    // missing, and the offer takes every touch until it is answered).
    run = simulate(bundle, "tap Cancel\ntap menu\ntap Settings\nshow\n");
    ASSERT_EQ(run.status, 0) << run.output;
    for (const std::string& shown : std::vector<std::string>{"segments 1x 2x <3x>", "slider 7 (0 to 10)", "switch on"})
        EXPECT_NE(run.output.find(shown), std::string::npos) << shown << "\n" << run.output;

    // The shots draw what the screens list. The gallery's rows: an information sign each, in
    // the tint colour at the right edge.
    auto rows = UIImage::imageWithContentsOfFile(gallery);
    ASSERT_TRUE(rows);
    EXPECT_GT(countPixels(*rows, 330, 120, 375, 600, tinted), 150);
    // A pushed screen: the back button's chevron at the left of the bar (the bar's own colour
    // sampled beside it).
    auto grid = UIImage::imageWithContentsOfFile(pushed);
    ASSERT_TRUE(grid);
    EXPECT_GT(drawnOn(*grid, 4, 22, 9, 30, 22, 54), 25);
    // The settings: segments with captions (the unselected "1x" in the tint colour, the
    // selected "3x" filled), the slider tinted up to 7 of 10 and grey after, the switch green.
    auto shot = UIImage::imageWithContentsOfFile(settings);
    ASSERT_TRUE(shot);
    EXPECT_GT(countPixels(*shot, 60, 152, 95, 176, tinted), 10) << "the caption 1x";
    EXPECT_GT(countPixels(*shot, 245, 150, 350, 178, tinted), 1500) << "the selected segment";
    EXPECT_GT(countPixels(*shot, 40, 241, 240, 246, tinted), 600) << "the slider up to its thumb";
    EXPECT_EQ(countPixels(*shot, 290, 241, 330, 246, tinted), 0) << "the slider after its thumb";
    EXPECT_GT(countPixels(*shot, 24, 283, 40, 306, [](int r, int g, int b) { return g > r + 80 && g > b + 60; }), 100)
        << "the switch, on";
}

// The picture search typed on the phone (in the bar under the navigation bar) and on the pad
// (the search screen its search button opens), a match tapped opening the pager on it.
TEST(ApplicationScript, APictureSearchIsTypedOnThePhoneAndOnThePadAndOpensThePagerOnAMatch) {
    const std::string& bundle = DemoBundle::path();
    const BundledPainting painting = bundledPainting();
    ASSERT_FALSE(painting.title.empty());
    const std::string match = "row \"" + painting.painter + "\" \"" + painting.title + "\"";
    const std::string search = "tap search\n"
                               "type " + painting.title + "\n"
                               "await " + match + "\n"
                               "tap " + painting.title + "\n"
                               "await image " + painting.picture + "\n"
                               "expect == " + painting.painter + " ==\n"
                               "expect \"" + painting.title + "\"\n"
                               "show\n";

    const std::string pager = Sandbox::tmp() + "/pager-back.png";
    ProcessRun run = simulate(bundle, "expect search \"\"\n" + search + "shot " + pager + "\n" +
                                          "back\n"
                                          "expect search \"" + painting.title + "\"\n"
                                          "tap Cancel\n"
                                          "expect == Gallery ==\n");
    ASSERT_EQ(run.status, 0) << run.output;

    // The row was tapped by its second text, and the pager pushed over it shows its back button.
    EXPECT_TRUE(std::regex_search(run.output, std::regex("tapped \\[[0-9]+\\] " + match))) << run.output;
    auto shot = UIImage::imageWithContentsOfFile(pager);
    ASSERT_TRUE(shot) << run.output;
    EXPECT_GT(drawnOn(*shot, 4, 22, 9, 30, 22, 54), 25);

    // A home of its own: a second launch in the same home first offers the pictures still missing.
    // The pad presents the pager on its own: it has no back button, and its close button is
    // the way back, titled "Back".
    run = simulate(bundle, "--device pad --home " + Sandbox::tmp() + "/pad-home", "tap search\nexpect search \"\" (typing)  [2] Cancel\nexpect (empty list)\n" + search +
                                               "tap Back\n"
                                               "expect " + match + "\n"
                                               "tap Cancel\n"
                                               "expect == Gallery ==\n");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string shown = run.output.substr(run.output.rfind("> show"));
    EXPECT_NE(shown.find("image " + painting.picture + "\n"), std::string::npos) << shown;
}

TEST(ApplicationScript, ASubcategorysScreenDownloadsItsMissingPicturesAndThenOffersThemNoMore) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const DemoGroup& group = DemoCatalogue::genreGroups().front();
    const std::string name = group.name.in("en");
    const auto missing = serverOnlyIn(group);
    ASSERT_FALSE(missing.empty());

    const ProcessRun run = simulate(demo.bundle,
                                    "tap " + name + "\n"
                                    "expect == " + name + " ==\n"
                                    "expect Download All\n"
                                    "tap Download All\n"
                                    "expect Do you really want to download all pictures of \\\"" + name + "\\\"?\n"
                                    "tap OK\n"
                                    "await All pictures are downloaded\n"
                                    "tap OK\n"
                                    "advance 1\n"
                                    "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string screen = lastScreen(run.output);
    EXPECT_NE(screen.find("== " + name + " =="), std::string::npos) << screen;
    EXPECT_EQ(screen.find("Download All"), std::string::npos) << screen;
    // Each missing picture came once, and is kept in Documents as the server has it.
    std::vector<std::string> asked, expected;
    for (const auto& request : demo.server->requests())
        if (request.path.starts_with("/pic/gallery/")) asked.push_back(request.path.substr(13));
    for (const auto* painting : missing) expected.push_back(DemoCatalogue::imagePathOf(*painting));
    std::sort(asked.begin(), asked.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(asked, expected);
    for (const auto& path : expected)
        EXPECT_TRUE(std::filesystem::exists(Sandbox::tmp() + "/app-home/Documents/Data/" + path)) << path;
}

TEST(ApplicationScript, AListRowOpensItsPicturesInformation) {
    const std::string& bundle = DemoBundle::path();
    const DemoGroup& group = DemoCatalogue::genreGroups().front();
    const std::string name = group.name.in("en");

    const ProcessRun run = simulate(bundle,
                                    "tap " + name + "\n"
                                    "tap List\n"
                                    "expect <List>\n"
                                    "expect button \"information\"\n"
                                    "show\n"
                                    "tap information\n"
                                    "advance 1\n"
                                    "expect < " + name + "\n"
                                    "show\n"
                                    "back\n"
                                    "advance 1\n"
                                    "expect <List>\n");
    ASSERT_EQ(run.status, 0) << run.output;
    // The first row's painting: its author and title head the screen, its description is the page.
    const std::size_t listed = run.output.find("> show");
    ASSERT_NE(listed, std::string::npos);
    std::smatch row;
    const std::string list = run.output.substr(listed);
    ASSERT_TRUE(std::regex_search(list, row, std::regex("row \"([^\"]+)\" \"([^\"]+)\"\n  \\[\\d+\\] button"))) << list;
    const DemoPainting* painting = nullptr;
    for (const auto& p : DemoCatalogue::paintings())
        if (p.title.en && row[2].str() == p.title.en && DemoCatalogue::genreGroupOf(p) == group.index) painting = &p;
    ASSERT_NE(painting, nullptr) << row[2].str();
    const std::string info = lastScreen(run.output);
    EXPECT_NE(info.find("== " + row[1].str() + " - " + row[2].str() + " =="), std::string::npos) << info;
    EXPECT_NE(info.find(std::string("page \"") + painting->aboutEn), std::string::npos) << info;
}

TEST(ApplicationScript, TheLastMissingPictureFetchedInThePagerTakesTheMenusDownloadRowAway) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const DemoGroup& group = DemoCatalogue::genreGroups().front();
    const auto inGroup = serverOnlyIn(group);
    ASSERT_FALSE(inGroup.empty());
    const DemoPainting& last = *inGroup.front();
    // Every other picture of the server is on the device already.
    const std::string data = Sandbox::tmp() + "/app-home/Documents/Data/";
    std::filesystem::create_directories(data);
    for (const auto& p : DemoCatalogue::paintings()) {
        if (!DemoCatalogue::isOnServerOnly(p) || &p == &last) continue;
        const std::string path = DemoCatalogue::imagePathOf(p);
        std::filesystem::copy_file(demo.served + "/pic/gallery/" + path, data + path);
    }
    const std::string imagePath = DemoCatalogue::imagePathOf(last);
    const std::string title = last.title.in("en");

    const ProcessRun run = simulate(demo.bundle,
                                    "tap menu\n"
                                    "advance 1\n"
                                    "expect row \"Download All Pictures\"\n"
                                    "tap Gallery\n"
                                    "advance 1\n"
                                    "tap " + group.name.in("en") + "\n"
                                    "idle\n"
                                    "tap " + title + "\n"
                                    "await image " + imagePath + "\n"
                                    "back\n"
                                    "advance 1\n"
                                    "back\n"
                                    "advance 1\n"
                                    "tap menu\n"
                                    "advance 1\n"
                                    "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(std::filesystem::exists(data + imagePath));
    const std::string menu = lastScreen(run.output);
    EXPECT_NE(menu.find("Ostrel Gallery"), std::string::npos) << menu;
    EXPECT_EQ(menu.find("Download All Pictures"), std::string::npos) << menu;
}

TEST(ApplicationScript, OnceEveryPictureIsDownloadedAReturnToTheForegroundOffersNothing) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;

    // The first launch registers the offer for the next counted one, then fetches everything.
    const ProcessRun run = simulate(demo.bundle,
                                    "tap menu\n"
                                    "advance 1\n"
                                    "tap Download All Pictures\n"
                                    "advance 1\n"
                                    "tap Download\n"
                                    "await All pictures are downloaded\n"
                                    "tap OK\n"
                                    "advance 1\n"
                                    "background\n"
                                    "advance 5\n"
                                    "foreground\n"
                                    "advance 2\n"
                                    "show\n"
                                    "background\n"
                                    "foreground\n"
                                    "advance 2\n"
                                    "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::size_t first = run.output.find("> show");
    ASSERT_NE(first, std::string::npos);
    const std::string afterForeground = run.output.substr(first);
    EXPECT_EQ(afterForeground.find("Pictures not on this device yet"), std::string::npos) << afterForeground;
    EXPECT_EQ(afterForeground.find("\"Complete\""), std::string::npos) << afterForeground;
    EXPECT_EQ(afterForeground.find("button \"OK\""), std::string::npos) << afterForeground;
}

TEST(ApplicationScript, DownloadAllRunsToItsEndWhileTheScriptWaitsIdle) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const auto pictures = serverOnlyPictures();

    const ProcessRun run = simulate(demo.bundle, std::string(kStartDownloadAll) +
                                                     "idle\n"
                                                     "expect All pictures are downloaded\n"
                                                     "tap OK\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("> await"), std::string::npos);
    EXPECT_EQ(countDownloaded(pictures), pictures.size());
}

TEST(ApplicationScript, WhileNobodyTypesTheApplicationGoesOnDownloading) {
    // Before the server, whose log writes them until it has stopped.
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t requested = 0;
    ServedDemo demo;
    demo.log = [&](const std::string& line) {
        std::lock_guard lock(mutex);
        if (line.find("/pic/gallery/") != std::string::npos) ++requested;
        changed.notify_all();
    };
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const auto pictures = serverOnlyPictures();
    const std::string home = Sandbox::tmp() + "/app-home";
    std::filesystem::create_directories(home);

    InteractiveProcess simulator({OSTREL_SIM, "--bundle", demo.bundle, "--home", home, "--default",
                                  "APMMeasurementEndpointHost=127.0.0.1:9"});
    ASSERT_TRUE(simulator.started());
    std::istringstream lines(kStartDownloadAll);
    for (std::string line; std::getline(lines, line);) ASSERT_TRUE(simulator.send(line));
    // Each picture is asked for once the one before it was handled on the main queue: with no
    // command typed, only the run loop going on between lines gets to the last one.
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return requested >= pictures.size(); }))
            << requested << " of " << pictures.size() << " pictures asked for\n" << simulator.output();
    }
    const std::size_t mark = simulator.output().size();
    simulator.send("idle");
    simulator.send("show");
    simulator.send("quit");
    EXPECT_EQ(simulator.finish(), 0) << simulator.output();
    EXPECT_NE(simulator.output().find("All pictures are downloaded", mark), std::string::npos) << simulator.output();
    EXPECT_EQ(countDownloaded(pictures), pictures.size());
}

TEST(ApplicationScript, AdvancingTheClockWaitsForAPictureComingInButNotForAStalledOne) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const auto pictures = serverOnlyPictures();
    // The first picture trickles in over many steps of real time, each well inside the 90 s
    // the download waits for news: the clock must not jump past the pieces on their way.
    const auto slow = LoopbackServer::Fault::slow(std::chrono::milliseconds(15), 2048);
    demo.server->setFault("/pic/gallery/" + pictures.front(), slow);

    ProcessRun run = simulate(demo.bundle, std::string(kStartDownloadAll) +
                                               "advance 200\n"
                                               "expect All pictures are downloaded\n"
                                               "tap OK\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("did not answer in time"), std::string::npos) << run.output;
    EXPECT_EQ(countDownloaded(pictures), pictures.size());

    // A picture whose body stalls gets no news: the clock goes on and the download gives up.
    std::filesystem::remove_all(Sandbox::tmp() + "/app-home");
    demo.server->removeFaults();
    const auto stall = LoopbackServer::Fault::stall(0);
    demo.server->setFault("/pic/gallery/" + pictures.front(), stall);
    run = simulate(demo.bundle, std::string(kStartDownloadAll) +
                                    "advance 200\n"
                                    "expect Download failed: the server did not answer in time\n"
                                    "tap Cancel\n");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(countDownloaded({pictures.front()}), 0u);
    EXPECT_LT(countDownloaded(pictures), pictures.size());

    // Waiting for the application to be idle is bounded, and says what kept it busy.
    std::filesystem::remove_all(Sandbox::tmp() + "/app-home");
    run = simulate(demo.bundle, std::string(kStartDownloadAll) + "idle 0.5\n");
    EXPECT_EQ(run.status, 1) << run.output;
    // The stalled picture at least (a measurement request may be on its way too).
    EXPECT_TRUE(std::regex_search(run.output, std::regex("the application was still busy after 0\\.5 s \\([1-9][0-9]* "
                                                         "transfers? in flight\\)")))
        << run.output;
}

TEST(ApplicationScript, MusicPlaysOnThroughTheBackgroundIntoTheNextShuffledComposition) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    // Beethoven's compositions in the catalogue's name order; the second is on the server only.
    std::vector<const DemoComposition*> beethoven;
    for (const auto& c : DemoCatalogue::compositions())
        if (c.composer == 5) beethoven.push_back(&c);
    std::sort(beethoven.begin(), beethoven.end(),
              [](const auto* a, const auto* b) { return std::string(a->name.ru) < std::string(b->name.ru); });
    ASSERT_EQ(beethoven.size(), 4u);
    const std::string composer = "Ludwig van Beethoven";
    const std::string first = "Für Elise", second = "Moonlight Sonata";

    const ProcessRun run = simulate(demo.bundle,
                                    "tap menu\n"
                                    "tap Music Library\n"
                                    "expect \"1 of 28\"\n"
                                    "tap compositions\n"
                                    "expect == Compositions ==\n"
                                    "tap Composers\n"
                                    "tap " + composer + "\n"
                                    "expect == " + composer + " ==\n"
                                    "tap " + first + "\n"
                                    "back\n"
                                    "back\n"
                                    "expect == " + composer + " / " + first + " ==\n"
                                    "expect button \"pause\"\n"
                                    "tap next\n"
                                    "expect == " + composer + " / " + second + " ==\n"
                                    "expect \"2 of 4\"\n"
                                    "tap shuffle\n"
                                    "expect button \"shuffle\" (on)\n"
                                    // About a second of the five has played; past its end, not
                                    // past the next one's (three seconds at least).
                                    "background\n"
                                    "advance 5.5\n"
                                    "foreground\n"
                                    // A return counts as a launch: the pictures' download is offered.
                                    "expect Download them now?\n"
                                    "tap Cancel\n"
                                    "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    // Past the end of the second composition the shuffled list went on to another of the four,
    // which plays: the second place of the shuffled list, under its own title.
    const std::string screen = lastScreen(run.output);
    EXPECT_NE(screen.find("button \"pause\""), std::string::npos) << screen;
    EXPECT_NE(screen.find("\"2 of 4\""), std::string::npos) << screen;
    EXPECT_EQ(screen.find("/ " + second + " =="), std::string::npos) << screen;
    EXPECT_TRUE(std::regex_search(screen, std::regex("== " + composer + " / [^=]+ =="))) << screen;
}

// The media libraries (FFmpeg, and the sound device's) are loaded on first use: the loader's own
// trace of a launch into the gallery never names them, neither on a first launch nor after a
// composition was played and kept as the last one, although every launch sets up the player with
// its last list and hands the last composition to the audio player (which decodes it only to
// play it, and is ready from its header, read from the file on the device or with range requests
// from the server: the player screen shows its length before it plays, still without them); a
// composition played has FFmpeg loaded by the program itself, and the first play of the next
// launch is that last composition.
TEST(ApplicationScript, TheMediaLibrariesAreLoadedOnFirstUseNeverForALaunchIntoTheGallery) {
    // Before the server, whose log writes them until it has stopped.
    std::mutex logged;
    std::vector<std::string> requests;
    ServedDemo demo;
    demo.log = [&](const std::string& line) {
        std::lock_guard lock(logged);
        requests.push_back(line);
    };
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const std::string folder = Sandbox::tmp() + "/first-use";
    std::string home = folder + "/home";
    std::filesystem::create_directories(home);
    int runs = 0;
    std::string output;
    // One run in that home; the simulator's trace (the shell that starts it writes its own).
    auto loaderTrace = [&](const std::string& script, const std::string& arguments = "") {
        const std::string name = "run" + std::to_string(++runs);
        const std::string path = folder + "/" + name + ".txt";
        std::ofstream(path) << script;
        const ProcessRun run = runCommand("LD_DEBUG=files LD_DEBUG_OUTPUT=" + folder + "/" + name + "-loader " +
                                          OSTREL_SIM + " --bundle " + demo.bundle + " --home " + home +
                                          " --default APMMeasurementEndpointHost=127.0.0.1:9 " + arguments +
                                          " --script " + path + " 2>&1 </dev/null");
        EXPECT_EQ(run.status, 0) << run.output;
        output = run.output;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().filename().string().rfind(name + "-loader", 0) != 0) continue;
            std::ifstream in(entry.path());
            std::string trace((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (trace.find("ostrel-sim") != std::string::npos) return trace;
        }
        return std::string();
    };
    const char* const media[] = {"libavformat", "libavcodec", "libswresample", "libportaudio", "libjack", "libasound"};
    const std::string genre = DemoCatalogue::genreGroups().front().name.in("en");
    const Value info = NSPropertyListSerialization::propertyListWithContentsOfFile(demo.bundle + "/Info.plist");
    const std::string preferences =
        home + "/Library/Preferences/" + info.dictionary().get("CFBundleIdentifier").stringValue() + ".plist";
    // The composition the launch set on the audio player, as its diagnostics said; "" when none.
    auto expectGalleryLoadsNone = [&](const std::string& when) -> std::string {
        const std::string gallery = loaderTrace("expect row \"" + genre + "\"\nidle\nshow\n", "--verbose");
        EXPECT_NE(gallery.find("transferring control"), std::string::npos) << "the loader traced the launch";
        EXPECT_NE(gallery.find("libcurl"), std::string::npos) << "the loader traced the libraries";
        for (const char* library : media)
            EXPECT_EQ(gallery.find(library), std::string::npos) << library << " mapped " << when;
        // The player's set-up ran: the list is on file and the last composition noted.
        EXPECT_TRUE(std::filesystem::exists(home + "/Documents/lastPlayedList")) << when;
        std::smatch set;
        if (!std::regex_search(output, set, std::regex("Setting item: ([^\n]+)"))) {
            ADD_FAILURE() << "no composition set " << when << ": " << output;
            return {};
        }
        const Value defaults = NSPropertyListSerialization::propertyListWithContentsOfFile(preferences);
        EXPECT_EQ(defaults["kMediaPlayerLastPlayedIndex"].stringValue(), set[1].str()) << when;
        // Ready from its header, on the device or streamed.
        EXPECT_NE(output.find("PlayerSatus: 1"), std::string::npos) << when << ": " << output;
        EXPECT_EQ(output.find("PlayerSatus: 2"), std::string::npos) << when << ": " << output;
        return set[1].str();
    };
    // The first of the list is streamed: its header alone is asked of the server.
    const auto& compositions = DemoCatalogue::compositions();
    const auto spring = std::find_if(compositions.begin(), compositions.end(),
                                     [](const DemoComposition& c) { return std::string(c.filepath) == "vivaldi/spring.m4a"; });
    ASSERT_NE(spring, compositions.end());
    ASSERT_FALSE(DemoCatalogue::isCompositionInBundle(*spring));
    EXPECT_EQ(expectGalleryLoadsNone("on a first launch"), spring->filepath);
    auto springRequests = [&] {
        std::lock_guard lock(logged);
        std::vector<std::string> found;
        for (const auto& line : requests)
            if (line.find("spring.m4a") != std::string::npos) found.push_back(line);
        return found;
    };
    EXPECT_FALSE(springRequests().empty());
    for (const auto& line : springRequests()) EXPECT_NE(line.find(" Range: bytes="), std::string::npos) << line;

    // On a fresh home the player screen, before anything plays, shows the streamed composition's
    // whole length left, still without the media libraries.
    char springLeft[16];
    std::snprintf(springLeft, sizeof springLeft, "\"-00:%02d\"", static_cast<int>(DemoCatalogue::compositionSeconds(*spring)));
    const auto& composers = DemoCatalogue::composers();
    const auto vivaldi = std::find_if(composers.begin(), composers.end(),
                                      [&](const DemoComposer& c) { return c.index == spring->composer; });
    ASSERT_NE(vivaldi, composers.end());
    const std::string composer = vivaldi->name.in("en");
    const std::string kept = home;
    home = folder + "/fresh";
    std::filesystem::create_directories(home);
    const std::string springScreen = loaderTrace(std::string("tap menu\n"
                                                             "tap Music Library\n"
                                                             "idle\n"
                                                             "expect == ") + composer + " / " +
                                                 spring->name.in("en") + " ==\n"
                                                 "expect " + springLeft + "\n"
                                                 "expect \"00:00\"\n"
                                                 "expect button \"play\"\n");
    home = kept;
    EXPECT_NE(springScreen.find("transferring control"), std::string::npos);
    for (const char* library : media)
        EXPECT_EQ(springScreen.find(library), std::string::npos) << library << " mapped for the player screen";
    for (const auto& line : springRequests()) EXPECT_NE(line.find(" Range: bytes="), std::string::npos) << line;

    // From the second launch on, the pictures' download is offered first.
    const std::string music = loaderTrace("expect Download them now?\n"
                                          "tap Cancel\n"
                                          "tap menu\n"
                                          "tap Music Library\n"
                                          "tap compositions\n"
                                          "expect == Compositions ==\n"
                                          "tap Composers\n"
                                          "tap Ludwig van Beethoven\n"
                                          "tap Für Elise\n"
                                          "back\n"
                                          "back\n"
                                          "expect button \"pause\"\n");
    const std::size_t loaded = music.find("file=libavformat");
    ASSERT_NE(loaded, std::string::npos) << "FFmpeg was not loaded for the composition";
    EXPECT_GT(loaded, music.find("transferring control"));
    EXPECT_NE(music.find("dynamically loaded", loaded), std::string::npos);

    const auto elise = std::find_if(compositions.begin(), compositions.end(),
                                    [](const DemoComposition& c) { return c.name.in("en") == "Für Elise"; });
    ASSERT_NE(elise, compositions.end());
    ASSERT_TRUE(DemoCatalogue::isCompositionInBundle(*elise));
    EXPECT_EQ(expectGalleryLoadsNone("with a last composition kept"), elise->filepath);

    // The player screen, before anything plays, shows the kept composition's whole length left.
    char left[16];
    std::snprintf(left, sizeof left, "\"-00:%02d\"", static_cast<int>(DemoCatalogue::compositionSeconds(*elise)));
    const std::string screen = loaderTrace(std::string("tap menu\n"
                                                       "tap Music Library\n"
                                                       "idle\n"
                                                       "expect == Ludwig van Beethoven / Für Elise ==\n"
                                                       "expect ") + left + "\n"
                                           "expect \"00:00\"\n"
                                           "expect button \"play\"\n");
    EXPECT_NE(screen.find("transferring control"), std::string::npos);
    for (const char* library : media)
        EXPECT_EQ(screen.find(library), std::string::npos) << library << " mapped for the player screen";

    // The remote's play, before any screen of the music; the diagnostics say what was set (their
    // lines and the commands' echo are not in order: the two streams are buffered apart).
    const std::string played = loaderTrace("remote toggle\nidle\n", "--verbose");
    EXPECT_NE(played.find("file=libavformat"), std::string::npos) << "FFmpeg was not loaded for the first play";
    const std::size_t set = output.find(std::string("Setting item: ") + elise->filepath);
    EXPECT_NE(set, std::string::npos) << output;
    EXPECT_NE(output.find("PlayerSatus: 1", set), std::string::npos) << output;
    EXPECT_EQ(output.find("cannot be played"), std::string::npos) << output;
}

// The shell's periphery as a person meets it: the maker's message at launch, once; the new
// applications counted on the menu button and the "More Apps" row until that row is chosen; the
// "Support" row's mail; and, at the next launch, the next message instead of the same one.
TEST(ApplicationScript, AMessageShowsOnceMoreAppsLosesItsBadgeTheBrowserShowsBothPagesAndSupportOpensTheMail) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const std::string messages =
        "--default OERemoteMessagesHost=" + demo.server->host() + " --default OEWebSite=" + demo.server->host();

    ProcessRun run = simulate(demo.bundle, messages,
                              "advance 1\n"
                              "await == alert: Welcome ==\n"
                              "expect The gallery now fetches pictures from its server.\n"
                              "tap Open\n"
                              "advance 1\n"
                              "await [1] menu (badge 3)\n"
                              "tap menu\n"
                              "advance 1\n"
                              "expect \"More\"\n"
                              "expect row \"More Apps\" (badge \"3\")\n"
                              "tap More Apps\n"
                              "await web \"More applications\"\n"
                              "await Ostrel Music\n"
                              "tap Close\n"
                              "advance 1\n"
                              "tap menu\n"
                              "advance 1\n"
                              "show\n"
                              "tap Web site\n"
                              "await web \"Ostrel\"\n"
                              "await Write to us\n"
                              "tap Write to us\n"
                              "tap Close\n"
                              "advance 1\n"
                              "tap menu\n"
                              "advance 1\n"
                              "tap Support\n"
                              "advance 1\n"
                              "expect \"To: support@ostrel.invalid\"\n"
                              "expect \"Subject: Ostrel Gallery (version 3.2.0(320), iPhone\n"
                              "tap Cancel\n"
                              "advance 1\n"
                              "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    // The message's link and the page's mail link are the system's to open.
    EXPECT_NE(run.output.find("> tap Open\ntapped [15] Open\nthe system opens " + demo.server->host() +
                              "/pages/news_m1.html\n"),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("the system opens mailto:support@ostrel.invalid"), std::string::npos) << run.output;
    const std::size_t menu = run.output.find("> show");
    ASSERT_NE(menu, std::string::npos);
    const std::string reopened = run.output.substr(menu, run.output.find("> tap Support") - menu);
    EXPECT_NE(reopened.find("row \"More Apps\""), std::string::npos) << reopened;
    EXPECT_EQ(reopened.find("(badge"), std::string::npos) << "seen: the badge is gone\n" << reopened;
    EXPECT_EQ(lastScreen(run.output).find("To: support@ostrel.invalid"), std::string::npos) << "the mail was put away";

    // The next launch: the next message, not the same one again, and no badge.
    run = simulate(demo.bundle, messages,
                   "advance 1\n"
                   "await == alert: New paintings ==\n"
                   "tap OK\n"
                   "advance 1\n"
                   "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("Welcome"), std::string::npos) << run.output;
    EXPECT_EQ(lastScreen(run.output).find("(badge"), std::string::npos) << lastScreen(run.output);
    std::size_t asked = 0;
    for (const auto& request : demo.server->requests()) asked += request.path == "/app_msg_manager/get_msg.php";
    EXPECT_EQ(asked, 2u) << "one check per launch";
}
