// A music database in the home that cannot be opened, through the simulator: whatever stands in
// its place, the music row leads to a screen with its title and the menu button that says the
// music cannot be opened, and the menu takes the person on; a launch whose first screen is the
// music stands the same way.
#include "tests/app/ServedBundleTest.h"
#include "tests/fixtures/Fifo.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

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

    std::string diagnostics() const {
        std::ifstream log(home + "/diagnostics.log");
        return std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
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
    for (const auto& [kind, make] : kinds) {
        SCOPED_TRACE(kind);
        freshHome();
        ASSERT_TRUE(make(database()));
        // The centre stayed empty: no title, no control, and the menu could not be reached again.
        const ProcessRun run = runScript("advance 1\n"
                                         "expect == Gallery ==\n"
                                         "tap menu\n"
                                         "tap Music Library\n"
                                         "expect == Music Library ==\n"
                                         "expect [1] menu\n"
                                         "expect \"Music Library cannot be opened.\"\n"
                                         "tap menu\n"
                                         "tap Gallery\n"
                                         "expect == Gallery ==\n",
                                         "");
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_NE(diagnostics().find("The media database media.sqlite cannot be opened; there is no music."),
                  std::string::npos)
            << diagnostics();
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
