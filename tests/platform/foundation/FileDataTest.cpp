// Whole-file reads and writes: contents, errors with errno, and atomic replacement that a
// process killed mid-write cannot leave half-done.
#include "platform/foundation/FileData.h"

#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/Sandbox.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string freshFolder() {
    const std::string path = Sandbox::tmp() + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
}

NSData text(const std::string& s) { return NSData(s.begin(), s.end()); }

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(FileDataReadWrite, BothModesStoreExactBytesAndAtomicLeavesNoTemporaryFiles) {
    const std::string folder = freshFolder();
    const std::string path = folder + "/file.bin";
    NSData binary;
    for (int i = 0; i < 200000; ++i) binary.push_back(static_cast<std::uint8_t>(i * 7));
    NSErrorPtr error;
    ASSERT_TRUE(writeDataToFile(binary, path, false, &error));
    EXPECT_EQ(readDataFromFile(path, &error), binary);
    ASSERT_TRUE(writeDataToFile(text("short"), path, true, &error));
    EXPECT_EQ(readDataFromFile(path, &error), text("short"));
    ASSERT_TRUE(writeDataToFile(NSData{}, path, true, &error));
    EXPECT_EQ(readDataFromFile(path, &error), NSData{});
    EXPECT_EQ(entries(folder), std::vector<std::string>{"file.bin"});
}

TEST(FileDataReadWrite, AtomicReplacementKeepsTheFileMode) {
    const std::string path = freshFolder() + "/mode.txt";
    ASSERT_TRUE(writeDataToFile(text("v1"), path, true));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    ASSERT_TRUE(writeDataToFile(text("v2"), path, true));
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(FileDataErrors, FailuresCarryErrnoAndPath) {
    const std::string folder = freshFolder();
    NSErrorPtr error;
    EXPECT_FALSE(readDataFromFile(folder + "/missing", &error).has_value());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), NSPOSIXErrorDomain);
    EXPECT_EQ(error->code(), ENOENT);
    EXPECT_EQ(error->userInfo().get(NSFilePathErrorKey), Value(folder + "/missing"));

    error.reset();
    EXPECT_FALSE(readDataFromFile(folder, &error).has_value());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), EISDIR);

    for (const bool atomically : {false, true}) {
        error.reset();
        EXPECT_FALSE(writeDataToFile(text("x"), folder + "/no/such/folder/file", atomically, &error));
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->domain(), NSPOSIXErrorDomain);
        EXPECT_EQ(error->code(), ENOENT);
    }
    // Writing over a folder fails and leaves it alone.
    std::filesystem::create_directories(folder + "/sub/inner");
    error.reset();
    EXPECT_FALSE(writeDataToFile(text("x"), folder + "/sub", true, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/sub/inner"));
}

TEST(FileDataErrors, ImmutableFilesRefuseWrites) {
    const std::string path = freshFolder() + "/locked.txt";
    ASSERT_TRUE(writeDataToFile(text("original"), path, true));
    auto manager = NSFileManager::defaultManager();
    ASSERT_TRUE(manager->setAttributes({{NSFileImmutable, Value(true)}}, path));
    for (const bool atomically : {false, true}) {
        NSErrorPtr error;
        EXPECT_FALSE(writeDataToFile(text("changed"), path, atomically, &error));
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->code(), EPERM);
    }
    EXPECT_EQ(readDataFromFile(path), text("original"));
    ASSERT_TRUE(manager->setAttributes({{NSFileImmutable, Value(false)}}, path));
    EXPECT_TRUE(writeDataToFile(text("changed"), path, true));
    EXPECT_EQ(readDataFromFile(path), text("changed"));
}

// A writer killed at an arbitrary moment must leave the old or the new contents, whole.
TEST(FileDataAtomicity, KilledWriterLeavesOldOrNewContentsNeverAMixture) {
    const std::string folder = freshFolder();
    const std::string path = folder + "/state.bin";
    const NSData a(3 * 1024 * 1024, 'a');
    const NSData b(2 * 1024 * 1024 + 17, 'b');
    ASSERT_TRUE(writeDataToFile(a, path, true));

    for (int round = 0; round < 4; ++round) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeFds[0]);
            for (int i = 0;; ++i) {
                if (!writeDataToFile(i % 2 ? a : b, path, true)) ::_exit(2);
                const char done = 'w';
                if (::write(pipeFds[1], &done, 1) != 1) ::_exit(3);
            }
        }
        ::close(pipeFds[1]);
        // Let a few writes complete, then kill the writer in the middle of the next ones.
        char buffer[1];
        for (int i = 0; i < 3 + round; ++i) ASSERT_EQ(::read(pipeFds[0], buffer, 1), 1);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(pipeFds[0]);
        EXPECT_TRUE(WIFSIGNALED(status));

        const auto contents = readDataFromFile(path);
        ASSERT_TRUE(contents.has_value());
        EXPECT_TRUE(*contents == a || *contents == b) << "round " << round << ": " << contents->size() << " bytes";
        // A killed writer may leave its temporary file; it is never the destination's name.
        for (const auto& name : entries(folder)) {
            if (name != "state.bin") {
                EXPECT_EQ(name.rfind(".state.bin.", 0), 0u) << name;
            }
        }
    }
}
