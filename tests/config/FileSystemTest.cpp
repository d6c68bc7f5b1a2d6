// The process's one file locator; folders, lookups, the do-not-back-up mark and checked joins
// of relative paths from data.
#include "config/FileSystem.h"
#include "config/OEConfigFactory.h"
#include "config/OEContext.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSSearchPath.h"
#include "platform/foundation/Sandbox.h"
#include "tests/config/TestBundle.h"
#include "tests/fixtures/AskedAtOnce.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

namespace {

void touch(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << "x";
}

}  // namespace

TEST(FileSystemShared, IsOneInstanceMadeOnceEvenWhenManyThreadsAskAtOnceAndEveryContextHasIt) {
    FileSystem::resetSharedFileSystem();
    const auto answers = askedAtOnce([] { return FileSystem::sharedFileSystem(); });
    ASSERT_TRUE(answers[0]);
    for (const auto& answer : answers) EXPECT_EQ(answer, answers[0]);
    EXPECT_EQ(FileSystem::sharedFileSystem(), answers[0]);
    EXPECT_EQ(OEContext::withConfig(OEConfigFactory::defaultFactory()->makeConfig()).fileSystem, answers[0]);
    // Each test runs in a home of its own: the one instance names this test's folders.
    EXPECT_EQ(answers[0]->documentsFolder(), Sandbox::documents());
}

TEST(FileSystemFolders, AreTheSandboxFolders) {
    auto fs = std::make_shared<FileSystem>();
    EXPECT_EQ(fs->documentsFolder(), Sandbox::documents());
    EXPECT_EQ(fs->cachesFolder(), Sandbox::caches());
    EXPECT_EQ(fs->libraryFolder(), Sandbox::library());
    EXPECT_EQ(fs->documentsPathForFile("Data/p1.jpg"), Sandbox::documents() + "/Data/p1.jpg");
    EXPECT_EQ(fs->cachesPathForFile("x.tmp"), Sandbox::caches() + "/x.tmp");
}

TEST(FileSystemFolders, LibraryDocumentsFolderIsNamedAfterTheBundleAndCreated) {
    TestBundle bundle;
    bundle.writeInfoPlist("<key>CFBundleIdentifier</key><string>com.example.docs</string>");
    auto fs = std::make_shared<FileSystem>();
    const std::string folder = fs->libraryDocsFolder();
    EXPECT_EQ(folder, Sandbox::library() + "/com.example.docs.private_documents");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(fs->libraryDocsPathForFile("famous"), folder + "/famous");
}

// An identifier that would lead out of Library counts as none.
TEST(FileSystemFolders, LibraryDocumentsFolderStaysInTheLibraryWhateverTheIdentifier) {
    for (const char* identifier : {"../../../x", "a/b", ".."}) {
        TestBundle bundle;
        bundle.writeInfoPlist(std::string("<key>CFBundleIdentifier</key><string>") + identifier + "</string>");
        auto fs = std::make_shared<FileSystem>();
        EXPECT_EQ(fs->libraryDocsFolder(), Sandbox::library() + "/.private_documents") << identifier;
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(Sandbox::home()).parent_path() / "x.private_documents"));
}

TEST(FileSystemFolders, FilledOnceUnderConcurrentFirstCallers) {
    auto fs = std::make_shared<FileSystem>();
    std::vector<std::string> seen(32);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&, i] {
            seen[i] = i % 3 == 0 ? fs->documentsFolder() : i % 3 == 1 ? fs->cachesFolder() : fs->libraryFolder();
        });
    }
    for (auto& t : threads) t.join();
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const std::string expected = i % 3 == 0 ? Sandbox::documents() : i % 3 == 1 ? Sandbox::caches() : Sandbox::library();
        EXPECT_EQ(seen[i], expected);
    }
}

TEST(FileSystemFolders, AnUnnamedFolderGivesNoPathAndIsNotCached) {
    auto fs = std::make_shared<FileSystem>();
    NSSearchPathSetUnavailable(true);
    EXPECT_EQ(fs->documentsFolder(), "");
    EXPECT_EQ(fs->documentsPathForFile("images.sqlite"), "");  // never a path relative to the working folder
    EXPECT_FALSE(fs->findFilePathInWritableLocation("images.sqlite").has_value());
    NSSearchPathSetUnavailable(false);
    EXPECT_EQ(fs->documentsFolder(), Sandbox::documents());
}

TEST(FileSystemLookup, BundleFirstThenWritableFolders) {
    TestBundle bundle;
    bundle.writeInfoPlist("<key>CFBundleIdentifier</key><string>com.example.lookup</string>");
    auto fs = std::make_shared<FileSystem>();
    bundle.write("both.txt", "bundle");
    touch(fs->documentsPathForFile("both.txt"));
    touch(fs->cachesPathForFile("cached.txt"));
    touch(fs->libraryDocsPathForFile("cached.txt"));

    EXPECT_EQ(fs->findFilePath("both.txt"), bundle.path() + "/both.txt");
    EXPECT_EQ(fs->findFilePathInWritableLocation("both.txt"), fs->documentsPathForFile("both.txt"));
    EXPECT_EQ(fs->findFilePath("cached.txt"), fs->libraryDocsPathForFile("cached.txt"));
    EXPECT_FALSE(fs->findFilePath("nowhere.txt").has_value());
    EXPECT_TRUE(fs->fileExistInBundle("both.txt"));
    EXPECT_FALSE(fs->fileExistInBundle("cached.txt"));
    EXPECT_EQ(fs->bundlePathForFile("Data/p1.jpg"), bundle.path() + "/Data/p1.jpg");
}

// Looking for a file makes no folder: lookups run for every picture a screen shows.
TEST(FileSystemLookup, LookingLeavesThePrivateDocumentsFolderUnmade) {
    TestBundle bundle;
    bundle.writeInfoPlist("<key>CFBundleIdentifier</key><string>com.example.look</string>");
    auto fs = std::make_shared<FileSystem>();
    const std::string folder = Sandbox::library() + "/com.example.look.private_documents";
    EXPECT_FALSE(fs->findFilePath("Data/p1.jpg").has_value());
    EXPECT_FALSE(fs->findFilePathInWritableLocation("Data/hd-p1.jpg").has_value());
    EXPECT_FALSE(std::filesystem::exists(folder));
    touch(fs->libraryDocsPathForFile("Data/p1.jpg"));
    EXPECT_EQ(fs->findFilePathInWritableLocation("Data/p1.jpg"), folder + "/Data/p1.jpg");
}

// Counting a catalogue's pictures lists folders instead of looking up each name four times: it
// must find exactly what the lookup finds.
TEST(FileSystemLookup, CountingFindsWhatTheLookupFinds) {
    TestBundle bundle;
    bundle.writeInfoPlist("<key>CFBundleIdentifier</key><string>com.example.count</string>");
    auto fs = std::make_shared<FileSystem>();
    bundle.write("Data/p1.jpg", "b");
    touch(fs->documentsPathForFile("Data/p2.jpg"));
    touch(fs->libraryDocsPathForFile("Data/sub/p3.jpg"));
    touch(fs->cachesPathForFile("Data/p4.jpg"));
    touch(fs->cachesPathForFile("Data/locked/p5.jpg"));
    std::filesystem::create_directories(fs->documentsPathForFile("Data/folder.jpg"));
    // A link counts when what it leads to is there.
    std::filesystem::create_symlink("/nonexistent/target", fs->documentsPathForFile("Data/dangling.jpg"));
    std::filesystem::create_symlink(fs->documentsPathForFile("Data/p2.jpg"), fs->cachesPathForFile("Data/link.jpg"));
    const std::vector<std::string> names = {
        "Data/p1.jpg", "Data/p2.jpg", "Data/sub/p3.jpg", "Data/p4.jpg", "Data/locked/p5.jpg", "Data/folder.jpg",
        "Data/folder.jpg/", "Data/dangling.jpg", "Data/link.jpg", "Data//p2.jpg", "Data/./p4.jpg", "Data/p1.jpg", "Data/missing.jpg",
        "Data/nofolder/p1.jpg", "Data/p2.jpg/x.jpg", "Data/P1.JPG", "p1.jpg"};
    std::size_t expected = 0;
    for (const auto& name : names) expected += fs->findFilePath(name).has_value() ? 1 : 0;
    EXPECT_EQ(expected, 11u);
    EXPECT_EQ(fs->countFound(names), expected);
    EXPECT_EQ(fs->countFound({}), 0u);
}

// A thumbnail screen asks about the high-resolution file of every cell it shows.
TEST(FileSystemLookup, ARememberedAnswerHoldsUntilTheFileIsAnnouncedChanged) {
    auto fs = std::make_shared<FileSystem>();
    const std::string name = "Data/hd-p1.jpg";
    const std::string path = fs->documentsPathForFile(name);
    EXPECT_FALSE(fs->rememberedFilePathInWritableLocation(name).has_value());
    touch(path);
    EXPECT_FALSE(fs->rememberedFilePathInWritableLocation(name).has_value()) << "not announced yet";
    // Announced in any spelling of the same relative path.
    fs->writableFileChanged("Data//./hd-p1.jpg");
    EXPECT_EQ(fs->rememberedFilePathInWritableLocation(name), path);
    EXPECT_EQ(fs->rememberedFilePathInWritableLocation("./Data/hd-p1.jpg"), path);

    std::filesystem::remove(path);
    EXPECT_EQ(fs->rememberedFilePathInWritableLocation(name), path) << "not announced yet";
    fs->writableFileChanged(name);
    EXPECT_FALSE(fs->rememberedFilePathInWritableLocation(name).has_value());

    // Another name's announcement leaves this one's answer; a whole folder's forgets them all.
    touch(fs->cachesPathForFile(name));
    fs->writableFileChanged("Data/hd-p2.jpg");
    EXPECT_FALSE(fs->rememberedFilePathInWritableLocation(name).has_value());
    fs->writableFilesChanged();
    EXPECT_EQ(fs->rememberedFilePathInWritableLocation(name), fs->cachesPathForFile(name));
    // The unremembered lookup always looks.
    std::filesystem::remove(fs->cachesPathForFile(name));
    EXPECT_FALSE(fs->findFilePathInWritableLocation(name).has_value());
}

namespace {
// Runs a step once, right after the first look at a path: another thread's work landing while
// a lookup is under way.
class InterleavingFileIO : public FaultyFileIO {
public:
    std::function<void()> afterStatus;
    int status(const std::string& path, bool followLinks, struct stat& info) override {
        const int result = FaultyFileIO::status(path, followLinks, info);
        if (auto step = std::exchange(afterStatus, nullptr)) step();
        return result;
    }
};
}  // namespace

TEST(FileSystemLookup, ALookupThatRacedAnAnnouncementIsNotRemembered) {
    auto fs = std::make_shared<FileSystem>();
    const std::string name = "Data/hd-p1.jpg";
    auto io = std::make_shared<InterleavingFileIO>();
    {
        ScopedFileIO scope(io);
        // The download lands in Documents just after the lookup looked there.
        io->afterStatus = [&] {
            touch(fs->documentsPathForFile(name));
            fs->writableFileChanged(name);
        };
        EXPECT_FALSE(fs->rememberedFilePathInWritableLocation(name).has_value());
        EXPECT_FALSE(io->afterStatus) << "the step ran";
    }
    EXPECT_EQ(fs->rememberedFilePathInWritableLocation(name), fs->documentsPathForFile(name));
}

TEST(FileSystemBackupMark, SetOnExistingFilesOnly) {
    const std::string path = Sandbox::documents() + "/marked.sqlite";
    touch(path);
    EXPECT_TRUE(FileSystem::setNoBackupAttribute(path));
    EXPECT_TRUE(NSFileManager::defaultManager()->isExcludedFromBackup(path));
    EXPECT_FALSE(FileSystem::setNoBackupAttribute(Sandbox::documents() + "/absent.sqlite"));
    EXPECT_FALSE(FileSystem::setNoBackupAttribute(""));
}

TEST(FileSystemSafePaths, RefusesAbsoluteAndParentComponents) {
    for (const char* bad : {"", "/etc/passwd", "../x.jpg", "Data/../../x.jpg", "a/..", "..", ".", "./", "//"}) {
        EXPECT_FALSE(FileSystem::isSafeRelativePath(bad)) << bad;
        EXPECT_FALSE(FileSystem::safePathInFolder(Sandbox::documents(), bad, true).has_value()) << bad;
    }
    EXPECT_FALSE(FileSystem::isSafeRelativePath(std::string("a\0b", 3)));
    for (const char* good : {"p0001.jpg", "Data/cats/genre_01.jpg", "a/track1.m4a", "..hidden", "x..y.jpg", "./p.jpg"}) {
        EXPECT_TRUE(FileSystem::isSafeRelativePath(good)) << good;
    }
}

TEST(FileSystemSafePaths, CreatesTheParentFoldersOfTheResult) {
    auto fs = std::make_shared<FileSystem>();
    const auto path = fs->safeDocumentsPathForFile("Data/hd/deep/p0001.jpg");
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(*path, Sandbox::documents() + "/Data/hd/deep/p0001.jpg");
    EXPECT_TRUE(std::filesystem::is_directory(Sandbox::documents() + "/Data/hd/deep"));
    EXPECT_FALSE(std::filesystem::exists(*path));

    const auto cached = fs->safeCachesPathForFile("Data/thumbs/t.jpg", false);
    ASSERT_TRUE(cached.has_value());
    EXPECT_FALSE(std::filesystem::exists(Sandbox::caches() + "/Data/thumbs"));
}

TEST(FileSystemSafePaths, AFolderOfTheSandboxThatHasGoneIsNotMadeAgain) {
    // A late write (a thumbnail arriving after its home was removed) finds no place.
    auto fs = std::make_shared<FileSystem>();
    ASSERT_TRUE(fs->safeCachesPathForFile("Data/t.jpg").has_value());
    std::filesystem::remove_all(Sandbox::caches());
    EXPECT_FALSE(fs->safeCachesPathForFile("Data/t.jpg").has_value());
    EXPECT_FALSE(fs->safeCachesPathForFile("t.jpg").has_value());
    EXPECT_FALSE(std::filesystem::exists(Sandbox::caches()));
}

TEST(FileSystemSafePaths, FailsWhenAParentCannotBeMade) {
    touch(Sandbox::documents() + "/plainfile");
    EXPECT_FALSE(FileSystem::safePathInFolder(Sandbox::documents(), "plainfile/inside.jpg", true).has_value());
    EXPECT_FALSE(FileSystem::safePathInFolder("", "x.jpg", true).has_value());
}
