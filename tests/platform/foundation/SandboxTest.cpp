// The sandbox home and the search paths that answer from it.
#include "platform/foundation/Sandbox.h"

#include "platform/foundation/NSSearchPath.h"
#include "platform/foundation/NSString.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

void expectStandardFolders(const std::string& home) {
    for (const char* sub : {"Documents", "Library", "Library/Caches", "Library/Application Support",
                            "Library/Preferences", "tmp"})
        EXPECT_TRUE(fs::is_directory(home + "/" + sub)) << home << "/" << sub;
}

// Restores the home a test moved away from.
class HomeGuard {
public:
    HomeGuard() : saved_(Sandbox::home()) {}
    ~HomeGuard() { Sandbox::setHome(saved_); }

private:
    std::string saved_;
};

}  // namespace

TEST(SandboxHome, TestsRunInAFreshHomeWithTheStandardFolders) {
    const std::string home = Sandbox::home();
    EXPECT_TRUE(fs::path(home).is_absolute());
    expectStandardFolders(home);
    EXPECT_EQ(Sandbox::documents(), home + "/Documents");
    EXPECT_EQ(Sandbox::library(), home + "/Library");
    EXPECT_EQ(Sandbox::caches(), home + "/Library/Caches");
    EXPECT_EQ(Sandbox::applicationSupport(), home + "/Library/Application Support");
    EXPECT_EQ(Sandbox::preferences(), home + "/Library/Preferences");
    EXPECT_EQ(Sandbox::tmp(), home + "/tmp");
}

TEST(SandboxHome, SetHomeCreatesTheFoldersAndMovesEveryPath) {
    HomeGuard guard;
    const std::string other = Sandbox::tmp() + "/other home/";
    std::string expected = fs::path(other).lexically_normal().string();
    expected.pop_back();  // the trailing slash
    Sandbox::setHome(other);
    EXPECT_EQ(Sandbox::home(), expected);
    expectStandardFolders(Sandbox::home());
    EXPECT_EQ(Sandbox::documents(), Sandbox::home() + "/Documents");
}

// A folder that cannot be made is told and the others are still made.
TEST(SandboxHome, AFolderThatCannotBeMadeLeavesTheOthers) {
    HomeGuard guard;
    const std::string other = Sandbox::tmp() + "/refused caches";
    FaultInjection injection;
    injection->inject(FaultyFileIO::Operation::MakeFolder, "*/Library/Caches", EACCES);
    Sandbox::setHome(other);
    EXPECT_EQ(injection->injected(), 1);
    EXPECT_FALSE(fs::exists(other + "/Library/Caches"));
    for (const char* sub : {"Documents", "Library/Application Support", "Library/Preferences", "tmp"})
        EXPECT_TRUE(fs::is_directory(other + "/" + sub)) << sub;
}

TEST(SandboxHome, TemporaryHomesAreFreshAndUnderTMPDIR) {
    HomeGuard guard;
    const std::string base = Sandbox::tmp() + "/tmpdir";
    fs::create_directories(base);
    const char* savedTmpdir = std::getenv("TMPDIR");
    const std::string saved = savedTmpdir ? savedTmpdir : "";
    ::setenv("TMPDIR", base.c_str(), 1);
    const std::string first = Sandbox::makeTemporaryHome();
    const std::string second = Sandbox::makeTemporaryHome();
    if (savedTmpdir) ::setenv("TMPDIR", saved.c_str(), 1);
    else ::unsetenv("TMPDIR");

    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(base + "/", 0), 0u) << first;
    EXPECT_EQ(Sandbox::home(), second);
    expectStandardFolders(first);
    expectStandardFolders(second);
}

TEST(SearchPaths, UserDomainFoldersComeFromTheHome) {
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true),
              std::vector<std::string>{Sandbox::documents()});
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSLibraryDirectory, NSUserDomainMask, true),
              std::vector<std::string>{Sandbox::library()});
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, true),
              std::vector<std::string>{Sandbox::caches()});
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSApplicationSupportDirectory, NSAllDomainsMask, true),
              std::vector<std::string>{Sandbox::applicationSupport()});
    // Unexpanded paths expand to the same folders.
    const auto tilde = NSSearchPathForDirectoriesInDomains(NSCachesDirectory, NSUserDomainMask, false);
    ASSERT_EQ(tilde.size(), 1u);
    EXPECT_EQ(tilde[0], "~/Library/Caches");
    EXPECT_EQ(NSString::stringByExpandingTildeInPath(tilde[0]), Sandbox::caches());
    EXPECT_TRUE(NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSSystemDomainMask, true).empty());
}

TEST(SearchPaths, CanBeMadeUnavailableForCallersThatMustCope) {
    NSSearchPathSetUnavailable(true);
    EXPECT_TRUE(NSSearchPathForDirectoriesInDomains(NSLibraryDirectory, NSUserDomainMask, true).empty());
    NSSearchPathSetUnavailable(false);
    EXPECT_EQ(NSSearchPathForDirectoriesInDomains(NSLibraryDirectory, NSUserDomainMask, true).size(), 1u);
}
