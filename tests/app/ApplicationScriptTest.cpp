// The application end to end in the simulator, as a person uses it: it starts on the demo
// bundle with the gallery's category browser in the centre of the side-menu shell; the menu
// opens, the gallery is chosen again, its first row shows its group's picture, the grouping is
// switched, and pictures of the screen are saved. A subcategory's grid opens its pictures in
// the full-screen pager, downloaded from the content server and kept for later without it. A
// favourite is posted as a like at the next launch and listed in the favourites screen.
// Downloading all pictures from the menu stops at a file the server fails; the second launch
// offers the rest, and once every picture is there the menu row is gone. The application runs
// while the simulator waits for a line: download-all goes on with nobody typing and runs to its
// end under `idle`; `advance` waits for a picture still coming in, not for a stalled one.
#include "demo/generator/DemoCatalogue.h"
#include "demo/generator/DemoGenerator.h"
#include "demo/server/ContentServer.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIImage.h"
#include "tests/fixtures/InteractiveProcess.h"
#include "tests/fixtures/Subprocess.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

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

// The last "image PATH" the screen listed in `output`, "" when none.
std::string lastImageShown(const std::string& output) {
    std::string path;
    const std::regex line("image (\\S+)");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line); it != std::sregex_iterator(); ++it)
        path = (*it)[1].str();
    return path;
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
    std::string served = Sandbox::tmp() + "/demo-server";
    std::unique_ptr<ContentServer> server;
    // Told of each request as it arrives, on the server's threads.
    std::function<void(const std::string& line)> log;

    bool start(std::string* error) {
        if (!DemoGenerator::writeBundle(bundle, {}, error) || !DemoGenerator::writeServerFolder(served, {}, error))
            return false;
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
                                      "tap 3\n"
                                      "advance 1\n"
                                      "expect Do you really want to download all pictures?\n"
                                      "tap Download\n";

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
    const std::string thumbnail = DemoCatalogue::serverThumbnailPathOf(imagePath);
    const std::string title = painting->title.in("en");
    const std::string pagerShot = Sandbox::tmp() + "/pager.png";
    const std::string zoomShot = Sandbox::tmp() + "/pager-zoomed.png";
    const std::string gridShot = Sandbox::tmp() + "/grid.png";

    // Control 5 is the pager's page: the innermost of its areas, under the two of the shell.
    ProcessRun run = simulate(bundle,
                              "tap " + group.name.in("en") + "\n"
                              "expect == " + group.name.in("en") + " ==\n"
                              "expect <Grid>\n"
                              "await " + thumbnail + "\n"
                              "shot " + gridShot + "\n"
                              "tap " + thumbnail + "\n"
                              "expect \"" + title + "\"\n"
                              "await Documents/Data/" + imagePath + "\n"
                              "shot " + pagerShot + "\n"
                              "tap forward\n"
                              "await /Data/p\n"
                              "show\n"
                              "doubletap 5\n"
                              "show\n"
                              "shot " + zoomShot + "\n"
                              "back\n"
                              "expect == " + group.name.in("en") + " ==\n"
                              "expect " + thumbnail + "\n");
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
    const std::size_t next = run.output.find("> tap forward");
    ASSERT_NE(next, std::string::npos);
    const std::string nextImage = lastImageShown(run.output.substr(next, run.output.find("> doubletap") - next));
    ASSERT_FALSE(nextImage.empty()) << run.output;
    EXPECT_EQ(nextImage.find(imagePath), std::string::npos) << nextImage;
    auto nextPicture = UIImage::imageWithContentsOfFile(nextImage);
    auto zoomed = UIImage::imageWithContentsOfFile(zoomShot);
    ASSERT_TRUE(nextPicture && zoomed) << run.output;
    const double w = nextPicture->pixelWidth(), h = nextPicture->pixelHeight();
    ASSERT_GT(w, 375) << "the demo paintings are wider than the screen, so the double tap has room to zoom";
    expectPictureAt(*zoomed, *nextPicture, 1.0, 187.5 - w / 2, 333.5 - h / 2, {40, 333.5 - h / 2 + 20},
                    {335, 333.5 + h / 2 - 20});

    // Without the server, the downloaded picture opens again from Documents.
    server.reset();
    run = simulate(bundle,
                   "tap " + group.name.in("en") + "\n"
                   "tap " + thumbnail + "\n"
                   "await Documents/Data/" + imagePath + "\n");
    EXPECT_EQ(run.status, 0) << run.output;
}

TEST(ApplicationScript, AFavouriteIsPostedAsALikeAndShownInTheFavouritesAfterARestart) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const std::string& bundle = demo.bundle;
    auto& server = demo.server;

    // A painting on the device; the most liked one.
    const DemoPainting* favourite = nullptr;
    const DemoPainting* mostLiked = nullptr;
    for (const auto& p : DemoCatalogue::paintings()) {
        if (!favourite && !DemoCatalogue::isOnServerOnly(p) && DemoCatalogue::imagePathOf(p).ends_with(".jpg"))
            favourite = &p;
        if (p.title.en && std::string(p.title.en) == "Mona Lisa") mostLiked = &p;
    }
    ASSERT_TRUE(favourite && mostLiked);
    const std::string favouriteThumbnail = DemoCatalogue::thumbnailPathOf(*favourite);
    const std::string mostLikedThumbnail =
        DemoCatalogue::serverThumbnailPathOf(DemoCatalogue::imagePathOf(*mostLiked));
    const std::string shot = Sandbox::tmp() + "/favourites.png";

    // The favourites button opens an empty favourites list; the popular list comes from the server.
    ProcessRun run = simulate(bundle,
                              "tap favorite\n"
                              "expect == Favorites ==\n"
                              "expect <Favorites>\n"
                              "tap Popular\n"
                              "expect == Popular ==\n"
                              "await " + mostLikedThumbnail + "\n"
                              "tap Favorites\n"
                              "expect <Favorites>\n"
                              "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string lastScreen = run.output.substr(run.output.rfind("> show"));
    EXPECT_EQ(lastScreen.find("cell"), std::string::npos) << lastScreen;

    // The pager's favourite button is not there: the picture becomes a favourite in the
    // database the application keeps in Documents, as that button stores it.
    const std::string database = Sandbox::tmp() + "/app-home/Documents/images.sqlite";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
    const std::string insert = "create table if not exists favorites (\"index\" integer primary key);"
                               "insert into favorites(\"index\") values(" + std::to_string(favourite->index) + ");";
    EXPECT_EQ(sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
    server->clearRequests();

    // After the restart the favourite is in the list, and it was posted as a like at launch.
    run = simulate(bundle,
                   "tap favorite\n"
                   "await " + favouriteThumbnail + "\n"
                   "shot " + shot + "\n"
                   "tap Popular\n"
                   "await " + mostLikedThumbnail + "\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(UIImage::imageWithContentsOfFile(shot)) << run.output;
    std::vector<std::string> likes;
    for (const auto& request : server->requests())
        if (request.path == "/likes/likes.php") likes.push_back(request.method + " " + request.query);
    // The like goes from a background queue at launch: it may reach the server after the list.
    std::sort(likes.begin(), likes.end());
    EXPECT_EQ(likes, (std::vector<std::string>{"GET app_id=ostrel_gallery&sort=desc&count=100",
                                               "POST app_id=ostrel_gallery&id=" + std::to_string(favourite->index)}));
}

TEST(ApplicationScript, DownloadingAllPicturesStopsAtAFileTheServerFailsAndTheSecondLaunchOffersTheRest) {
    ServedDemo demo;
    std::string error;
    ASSERT_TRUE(demo.start(&error)) << error;
    const std::string& bundle = demo.bundle;
    auto& server = demo.server;
    const std::vector<std::string> serverOnly = serverOnlyPictures();
    const std::string failing = serverOnly[serverOnly.size() / 2];
    server->setFault("/pic/gallery/" + failing, {ContentServerFault::Kind::Status, 500});
    const std::string data = Sandbox::tmp() + "/app-home/Documents/Data/";
    auto downloaded = [&] { return countDownloaded(serverOnly); };

    // Row 3 of the open menu is the download row, under "Additional".
    ProcessRun run = simulate(bundle,
                              "tap menu\n"
                              "advance 1\n"
                              "expect Additional\n"
                              "expect [3] row \"Download All Pictures\"\n"
                              "tap 3\n"
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
                   "expect Done\n"
                   "expect Download the " + missing + " pictures that are not on this device yet\n"
                   "tap OK\n"
                   "await All pictures are downloaded\n"
                   "tap OK\n"
                   "advance 1\n"
                   "tap menu\n"
                   "advance 1\n"
                   "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(downloaded(), serverOnly.size());
    EXPECT_EQ(server->requests().size(), serverOnly.size() - first) << "nothing fetched twice";
    const std::size_t menu = run.output.rfind("> show");
    ASSERT_NE(menu, std::string::npos);
    EXPECT_NE(run.output.find("Ostrel Gallery", menu), std::string::npos) << run.output.substr(menu);
    EXPECT_EQ(run.output.find("Download All Pictures", menu), std::string::npos) << run.output.substr(menu);
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
    ServedDemo demo;
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t requested = 0;
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
    ContentServerFault slow;
    slow.kind = ContentServerFault::Kind::Slow;
    slow.delay = std::chrono::milliseconds(15);
    slow.piece = 2048;
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
    ContentServerFault stall;
    stall.kind = ContentServerFault::Kind::Stall;
    stall.after = 0;
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
