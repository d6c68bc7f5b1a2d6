// A pictures database with damaged pages, through the simulator with the content server up: the
// download of all pictures is not offered over a list that cannot be read, and one asked for from
// the menu says that the gallery cannot be opened rather than that everything is downloaded; an
// old favourites file beside a database whose damage no screen reads leaves the gallery listing
// as it would without it, at every launch.
#include "content/SQLiteEngine.h"
#include "tests/app/ServedBundleTest.h"
#include "tests/fixtures/DamagedPages.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

class DamagedPicturesScript : public ServedBundleTest {
protected:
    DamagedPicturesScript() : ServedBundleTest("damaged-pictures") {}

    void SetUp() override {
        ServedBundleTest::SetUp();
        if (HasFatalFailure()) return;
        // No remote message comes up over the screens, so each launch's alerts are the gallery's.
        server->setFault("/app_msg_manager/get_msg.php", LoopbackServer::Fault::withStatus(404));
        fs::remove_all(home);
        fs::create_directories(home + "/Documents");
    }

    std::string documents(const std::string& name) const { return home + "/Documents/" + name; }

    // Documents/images.sqlite as a writable copy of the bundle's, with `more` run on it.
    void copyPictures(const std::string& more = "") {
        const std::string path = documents("images.sqlite");
        ASSERT_TRUE(fs::copy_file(bundle + "/images.sqlite", path));
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        if (more.empty()) return;
        auto db = SQLiteEngine::initWithPath(path);
        ASSERT_TRUE(db && db->execRequest(more));
    }


    std::size_t pictureRequests() const {
        const auto requests = server->requests();
        return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(), [](const auto& request) {
            return request.path.rfind("/pic/", 0) == 0;
        }));
    }
    bool nothingDownloaded() const {
        const std::string data = home + "/Documents/Data";
        return !fs::exists(data) || fs::is_empty(data);
    }
};

}  // namespace

TEST_F(DamagedPicturesScript, ADownloadWhoseListCannotBeReadIsNotOfferedAndSaysTheGalleryCannotBeOpened) {
    // Pages of pictures damaged before the second launch, whose offer of the missing pictures
    // would be counted over what could be read of them.
    copyPictures();
    ProcessRun run = runScript("advance 1\nexpect row \"Portraits\"\n", "");
    ASSERT_EQ(run.status, 0) << run.output;
    ASSERT_TRUE(damageRowsPage(documents("images.sqlite"), "images"));
    run = runScript("advance 1\n"
                    "expect \"Gallery cannot be opened.\"\n"
                    "advance 5\n"
                    "tap menu\n"
                    "advance 1\n"
                    "expect row \"Settings\"\n"
                    "show\n",
                    "");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.output.find("Pictures not on this device yet"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Download All Pictures"), std::string::npos) << run.output;
    EXPECT_EQ(pictureRequests(), 0u);
    EXPECT_TRUE(nothingDownloaded());

    // Damage that only the download's own reads meet (the rest of one picture's long text): the
    // gallery lists, the menu offers the download, and the download says what the gallery then says.
    fs::remove_all(home);
    fs::create_directories(home + "/Documents");
    copyPictures("update images set description = printf('%.12000c', 'd') where \"index\" = (select max(\"index\") "
                 "from images)");
    ASSERT_TRUE(damageOverflowChain(documents("images.sqlite"), "images"));
    run = runScript("advance 1\n"
                    "expect row \"Portraits\"\n"
                    "tap menu\n"
                    "advance 1\n"
                    "tap Download All Pictures\n"
                    "advance 1\n"
                    "tap Download\n"
                    "advance 1\n"
                    "idle\n"
                    "show\n",
                    "");
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string shown = run.output.substr(run.output.rfind("> show"));
    EXPECT_NE(shown.find("== alert ==\n  Gallery cannot be opened.\n"), std::string::npos) << shown;
    EXPECT_EQ(run.output.find("All pictures are downloaded"), std::string::npos) << run.output;
    EXPECT_EQ(pictureRequests(), 0u);
    EXPECT_TRUE(nothingDownloaded());
}

TEST_F(DamagedPicturesScript, AnOldFavouritesFileBesideDamageNoScreenReadsLeavesTheGalleryAsItIs) {
    copyPictures("create table unread (a integer primary key, b text)");
    {
        auto db = SQLiteEngine::initWithPath(documents("images.sqlite"));
        ASSERT_TRUE(db);
        ASSERT_TRUE(db->execRequest("with recursive n(i) as (select 1 union all select i + 1 from n where i < 200) "
                                    "insert into unread select i, printf('%.200c', 'u') from n"));
        auto old = SQLiteEngine::initWithPath(documents("images-2019.sqlite"), true);
        ASSERT_TRUE(old);
        ASSERT_TRUE(old->execRequest("create table favorites (\"index\" integer primary key)"));
        ASSERT_TRUE(old->execRequest("insert into favorites values (3), (5)"));
    }
    ASSERT_TRUE(damageRowsPage(documents("images.sqlite"), "unread"));
    const std::string pictures = contents(documents("images.sqlite"));
    const std::string favourites = contents(documents("images-2019.sqlite"));

    // The first launch and a later one: the old file stays, and so does the import's refusal.
    for (int launch = 1; launch <= 2; ++launch) {
        SCOPED_TRACE(launch);
        const ProcessRun run = runScript("advance 1\nexpect row \"Portraits\"\nexpect row \"Still Life\"\n", "");
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(run.output.find("cannot be opened"), std::string::npos) << run.output;
    }
    const std::string log = diagnostics();
    EXPECT_EQ(occurrences(log, "The old favourites file images-2019.sqlite is not imported. The content database "
                               "images.sqlite has damaged pages (database disk image is malformed). The file is kept.\n"),
              2u)
        << log;
    EXPECT_EQ(log.find("is not one the application can use"), std::string::npos) << log;
    EXPECT_TRUE(contents(documents("images.sqlite")) == pictures) << "the pictures database changed";
    EXPECT_TRUE(contents(documents("images-2019.sqlite")) == favourites) << "the old file changed";
}
