// A music database in the home that cannot be opened, through the simulator: whatever stands in
// its place, the music row leads to a screen with its title and the menu button that says the
// music cannot be opened, and the menu takes the person on; a launch whose first screen is the
// music stands the same way. A file that is no database the application can read is left as it
// is and the log says once why; the pictures' and the texts' databases are refused alike, for
// every screen that reads them, and so is a database whose pages of rows are found damaged.
#include "content/SQLiteEngine.h"
#include "tests/app/ServedBundleTest.h"
#include "tests/fixtures/DamagedPages.h"
#include "tests/fixtures/Fifo.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Texts of a group the first list does not read, on pages of their own: damaged, they are met
// only when the group is opened.
const char* const kMoreTexts =
    "with recursive n(i) as (select 100 union all select i + 1 from n where i < 140) insert into texts "
    "select i, 4, 10, printf('%.400c', 'w'), 'More ' || i, '2024-01-01', printf('%.400c', 'w') from n";

// A Unix socket's file at `path`; true when made.
bool makeSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

class UnopenableMusicScript : public ServedBundleTest {
protected:
    UnopenableMusicScript() : ServedBundleTest("unopenable-music") {}

    std::string database() const { return home + "/Documents/media.sqlite"; }

    // A home of its own for each run, with Documents made and nothing in it.
    void freshHome() {
        fs::remove_all(home);
        fs::create_directories(home + "/Documents");
    }

    static std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    std::string diagnostics() const { return contents(home + "/diagnostics.log"); }

    // Documents/<name> as a copy of the bundle's database (a file of its own) with `more` run on
    // it, then its last page of `table`'s rows overwritten: the header and the schema are whole.
    void damagedCopy(const std::string& name, const std::string& table, const std::string& more = "") {
        const std::string path = home + "/Documents/" + name;
        ASSERT_TRUE(fs::copy_file(bundle + "/" + name, path));
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        if (!more.empty()) {
            auto db = SQLiteEngine::initWithPath(path);
            ASSERT_TRUE(db && db->execRequest(more));
        }
        ASSERT_TRUE(damageRowsPage(path, table));
    }

    // Runs `script` over the file the test left at Documents/<name>: the run leaves it as it was
    // and tells once why it was not used.
    void expectRefused(const std::string& name, const std::string& script, const std::string& why,
                       const std::string& arguments = "") {
        const std::string path = home + "/Documents/" + name, before = contents(path);
        const auto written = fs::last_write_time(path);
        const ProcessRun run = runScript(script, arguments);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(contents(path), before);
        EXPECT_EQ(fs::last_write_time(path), written);
        const std::string log = diagnostics(), told = "The content database " + name;
        EXPECT_EQ(log.find(told), log.rfind(told)) << log;
        EXPECT_NE(log.find(told + " is not one the application can use (" + why + ")"), std::string::npos) << log;
    }
};

}  // namespace

TEST_F(UnopenableMusicScript, EveryNonDatabaseInItsPlaceLeavesTheMenuButtonAndSaysTheMusicCannotBeOpened) {
    const std::vector<std::pair<std::string, std::function<bool(const std::string&)>>> kinds{
        {"a FIFO", [](const std::string& path) { return Fifo::make(path); }},
        {"a socket", makeSocket},
        {"a folder", [](const std::string& path) { return fs::create_directory(path); }},
        {"a link to a device",
         [](const std::string& path) {
             std::error_code ec;
             fs::create_symlink("/dev/null", path, ec);
             return !ec;
         }},
        {"a link to nothing",
         [this](const std::string& path) {
             std::error_code ec;
             fs::create_symlink(served + "-nowhere/media.sqlite", path, ec);
             return !ec;
         }},
    };
    // The centre stayed empty: no title, no control, and the menu could not be reached again.
    const std::string script = "advance 1\n"
                               "expect == Gallery ==\n"
                               "tap menu\n"
                               "tap Music Library\n"
                               "expect == Music Library ==\n"
                               "expect [1] menu\n"
                               "expect \"Music Library cannot be opened.\"\n"
                               "tap menu\n"
                               "tap Gallery\n"
                               "expect == Gallery ==\n";
    for (const auto& [kind, make] : kinds) {
        SCOPED_TRACE(kind);
        freshHome();
        ASSERT_TRUE(make(database()));
        const ProcessRun run = runScript(script, "");
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(diagnostics().find("The media database media.sqlite cannot be opened; there is no music."),
                  std::string::npos)
            << diagnostics();
    }

    // Files the music cannot read as its database: the header of a whole one with the table list
    // after it damaged, and the texts' database.
    std::string corrupt = contents(bundle + "/media.sqlite");
    ASSERT_GT(corrupt.size(), 300u);
    corrupt.replace(100, 200, 200, '\xa5');
    const std::vector<std::array<std::string, 3>> files{
        {"an empty file", "", "no such table: compositions"},
        {"a text file", "Songs to hear:\nthe spring\n", "file is not a database"},
        {"a corrupt database", corrupt, "database disk image is malformed"},
        {"a database of another schema", contents(bundle + "/texts.sqlite"), "no such table: compositions"},
    };
    for (const auto& [kind, bytes, why] : files) {
        SCOPED_TRACE(kind);
        freshHome();
        std::ofstream(database(), std::ios::binary) << bytes;
        expectRefused("media.sqlite", script, why);
    }

    // Without a pictures database the music is the first screen of the launch.
    ASSERT_TRUE(fs::remove(bundle + "/images.sqlite"));
    freshHome();
    ASSERT_TRUE(Fifo::make(database()));
    const ProcessRun run = runScript("advance 1\n"
                                     "expect == Music Library ==\n"
                                     "expect \"Music Library cannot be opened.\"\n"
                                     "tap menu\n"
                                     "tap Texts\n"
                                     "expect == Texts ==\n",
                                     "");
    EXPECT_EQ(run.status, 0) << run.output;
}

TEST_F(UnopenableMusicScript, APicturesDatabaseThatIsNoDatabaseLeavesTheGallerySayingItCannotBeOpened) {
    freshHome();
    std::ofstream(home + "/Documents/images.sqlite") << "Pictures to see:\nthe storm\n";
    // Chosen again, the gallery is refused again without a second word in the log.
    expectRefused("images.sqlite",
                  "advance 1\n"
                  "expect \"Gallery cannot be opened.\"\n"
                  "tap menu\n"
                  "tap Gallery\n"
                  "expect \"Gallery cannot be opened.\"\n",
                  "file is not a database");
}

TEST_F(UnopenableMusicScript, ATextsDatabaseOfAnotherSchemaLeavesTheTextsSayingTheyCannotBeOpened) {
    freshHome();
    // The pictures' catalogue has the texts' category tables, but no texts.
    ASSERT_TRUE(fs::copy_file(bundle + "/images.sqlite", home + "/Documents/texts.sqlite"));
    expectRefused("texts.sqlite",
                  "advance 1\n"
                  "tap menu\n"
                  "tap Texts\n"
                  "expect == Texts ==\n"
                  "expect [1] menu\n"
                  "expect \"Texts cannot be opened.\"\n",
                  "no such table: texts");
}

TEST_F(UnopenableMusicScript, APicturesDatabaseThatIsNoDatabaseLeavesTheArticlesAndTheFamousPaintingsSayingSo) {
    // The articles are read with their pictures: the list was empty.
    for (const std::string device : {"phone", "pad"}) {
        SCOPED_TRACE(device);
        freshHome();
        std::ofstream(home + "/Documents/images.sqlite") << "Pictures to see:\nthe storm\n";
        expectRefused("images.sqlite",
                      "advance 1\n"
                      "tap menu\n"
                      "tap Articles\n"
                      "expect == Articles ==\n"
                      "expect [1] menu\n"
                      "expect \"Articles cannot be opened.\"\n",
                      "file is not a database", "--device " + device);
    }
    std::string error;
    ASSERT_TRUE(DemoGenerator::setArticlesStyle(bundle, 2, &error)) << error;
    freshHome();
    std::ofstream(home + "/Documents/images.sqlite") << "Pictures to see:\nthe storm\n";
    expectRefused("images.sqlite",
                  "advance 1\n"
                  "tap menu\n"
                  "tap Famous Paintings\n"
                  "expect \"Famous Paintings cannot be opened.\"\n",
                  "file is not a database");
}

TEST_F(UnopenableMusicScript, PagesOfRowsFoundDamagedLeaveTheScreensThatReadThemSayingTheyCannotBeOpened) {
    const std::string malformed = "database disk image is malformed";
    // Found as the gallery lists its groups at launch, as the texts list their groups, and as
    // the player reads its first list.
    for (const std::string device : {"phone", "pad"}) {
        SCOPED_TRACE(device);
        freshHome();
        damagedCopy("images.sqlite", "images");
        expectRefused("images.sqlite",
                      "advance 1\n"
                      "expect \"Gallery cannot be opened.\"\n"
                      "tap menu\n"
                      "tap Articles\n"
                      "expect \"Articles cannot be opened.\"\n",
                      malformed, "--device " + device);
        freshHome();
        damagedCopy("texts.sqlite", "subCat",
                    "with recursive n(i) as (select 10 union all select i + 1 from n where i < 60) insert into subCat "
                    "select i, 'Group ' || i || printf('%.100c', '.'), 1, 0, 'About group ' || i from n");
        expectRefused("texts.sqlite",
                      "advance 1\n"
                      "tap menu\n"
                      "tap Texts\n"
                      "expect == Texts ==\n"
                      "expect [1] menu\n"
                      "expect \"Texts cannot be opened.\"\n",
                      malformed, "--device " + device);
    }
    freshHome();
    damagedCopy("media.sqlite", "compositions");
    expectRefused("media.sqlite",
                  "advance 1\n"
                  "tap menu\n"
                  "tap Music Library\n"
                  "expect \"Music Library cannot be opened.\"\n",
                  malformed);

    // Pages met only later, opening a group of texts: the log says why then, and the texts
    // still say they cannot be opened when they are opened again.
    freshHome();
    damagedCopy("texts.sqlite", "texts",
                kMoreTexts);
    expectRefused("texts.sqlite",
                  "advance 1\n"
                  "tap menu\n"
                  "tap Texts\n"
                  "expect row \"Techniques\"\n"
                  "tap Techniques\n"
                  "tap menu\n"
                  "tap Texts\n"
                  "expect \"Texts cannot be opened.\"\n",
                  malformed);
}

// Damage met after the first lists, by the read a tap makes or a list shown later, is said at
// once by the screen that met it, as its next opening says it, on the phone and the pad.
TEST_F(UnopenableMusicScript, DamageMetAfterTheFirstListsIsSaidAtOnceByTheScreenThatMetIt) {
    const std::string malformed = "database disk image is malformed";
    for (const std::string device : {"phone", "pad"}) {
        SCOPED_TRACE(device);
        // A group of texts: nothing opened on the phone; on the pad the row stayed selected with
        // nothing beside it.
        freshHome();
        damagedCopy("texts.sqlite", "texts",
                    kMoreTexts);
        expectRefused("texts.sqlite",
                      "advance 1\n"
                      "tap menu\n"
                      "tap Texts\n"
                      "expect row \"Movements\"\n"
                      "tap Techniques\n"
                      "expect == Texts ==\n"
                      "expect \"Texts cannot be opened.\"\n",
                      malformed, "--device " + device);

        // Every composition, read after the player opened on the list it played last: the list
        // was empty.
        freshHome();
        const std::string path = database();
        ASSERT_TRUE(fs::copy_file(bundle + "/media.sqlite", path));
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        {
            auto db = SQLiteEngine::initWithPath(path);
            ASSERT_TRUE(db && db->execRequest("with recursive n(i) as (select 100 union all select i + 1 from n where "
                                              "i < 160) insert into compositions select i, 'Piece ' || i, 'Piece ' || "
                                              "i || printf('%.300c', '.'), '', '', '', '', '', '', '', '', '', 1, 1, "
                                              "1, 'bach/air.m4a', '0:04' from n"));
        }
        const ProcessRun first = runScript("advance 1\n", "--device " + device);
        ASSERT_EQ(first.status, 0) << first.output;
        ASSERT_TRUE(damageRowsPage(path, "compositions"));
        // The second launch offers the pictures still to download.
        const std::string opened = "advance 1\n"
                                   "tap Cancel\n"
                                   "tap menu\n"
                                   "tap Music Library\n";
        expectRefused("media.sqlite",
                      opened + (device == "phone" ? "expect \"1 of 89\"\ntap compositions\n" : "") +
                          "expect == Music Library ==\n"
                          "expect \"Music Library cannot be opened.\"\n",
                      malformed, "--device " + device);

        // The articles: they were listed, as far as the damage.
        freshHome();
        damagedCopy("articles.sqlite", "articles",
                    "with recursive n(i) as (select 100 union all select i + 1 from n where i < 200) insert into "
                    "articles select 'more-' || i || printf('%.100c', 'x'), 1, 'en' from n");
        expectRefused("articles.sqlite",
                      "advance 1\n"
                      "tap menu\n"
                      "tap Articles\n"
                      "expect == Articles ==\n"
                      "expect \"Articles cannot be opened.\"\n",
                      malformed, "--device " + device);
    }
}
