// The power-cut recorder: the image it writes holds each file's bytes as of its last sync and
// each folder's names as of its last sync, and what was there when the recording began until then.
#include "tests/fixtures/PowerCutFileIO.h"

#include "platform/foundation/Sandbox.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;

class PowerCutFileIOTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root + "/sub");
        std::ofstream(root + "/old") << "before";
        std::ofstream(root + "/sub/kept") << "kept";
    }

    // Writes `bytes` at `offset` of the file at `path` (made when missing), synced when asked.
    static void writeAt(const std::string& path, std::uint64_t offset, const std::string& bytes, bool sync) {
        auto io = FileIO::current();
        int fd = -1;
        ASSERT_EQ(io->open(path, O_RDWR | O_CREAT, 0644, fd), 0);
        EXPECT_EQ(io->writeAt(fd, offset, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
        if (sync) {
            EXPECT_EQ(io->sync(fd), 0);
        }
        EXPECT_EQ(io->close(fd), 0);
    }
    static void syncFolder(const std::string& path) {
        auto io = FileIO::current();
        int fd = -1;
        ASSERT_EQ(io->open(path, O_RDONLY | O_DIRECTORY, 0, fd), 0);
        EXPECT_EQ(io->sync(fd), 0);
        EXPECT_EQ(io->close(fd), 0);
    }

    // Every file of a fresh image, by its path under the image, with its bytes.
    std::map<std::string, std::string> image(const PowerCutRecording& recording) {
        const std::string folder = Sandbox::tmp() + "/image" + std::to_string(++images_);
        EXPECT_EQ(recording->writeImage(folder), 0);
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            const std::string name = fs::relative(entry.path(), folder).string();
            if (entry.is_directory()) {
                files[name + "/"] = "";
                continue;
            }
            std::ifstream in(entry.path());
            files[name] = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        }
        return files;
    }

    const std::string root = Sandbox::tmp() + "/root";
    int images_ = 0;
};

using Files = std::map<std::string, std::string>;

}  // namespace

TEST_F(PowerCutFileIOTest, AFileLastsAsOfItsLastSyncAndANameAsOfItsFoldersLastSync) {
    PowerCutRecording recording(root);
    const Files atStart = {{"old", "before"}, {"sub/", ""}, {"sub/kept", "kept"}};
    EXPECT_EQ(image(recording), atStart);

    // Bytes never synced are not on the disk; a new name is not until its folder is synced.
    writeAt(root + "/old", 0, "AFTER!", false);
    writeAt(root + "/new", 0, "abc", true);
    writeAt(root + "/never", 0, "lost", false);
    EXPECT_EQ(image(recording), atStart);
    syncFolder(root);
    writeAt(root + "/new", 3, "def", false);
    EXPECT_EQ(image(recording), (Files{{"old", "before"}, {"new", "abc"}, {"never", ""}, {"sub/", ""},
                                       {"sub/kept", "kept"}}));

    // A rename or a removal lasts once the folder is synced; the file's bytes go with it.
    ASSERT_EQ(FileIO::current()->rename(root + "/new", root + "/renamed", false), 0);
    ASSERT_EQ(FileIO::current()->remove(root + "/old"), 0);
    EXPECT_EQ(image(recording).count("new"), 1u);
    EXPECT_EQ(image(recording).at("old"), "before");
    syncFolder(root);
    const Files afterRename = image(recording);
    EXPECT_EQ(afterRename.count("new") + afterRename.count("old"), 0u);
    EXPECT_EQ(afterRename.at("renamed"), "abc");

    // A file cut short and written past a hole reads back as the disk holds it.
    {
        auto io = FileIO::current();
        int fd = -1;
        ASSERT_EQ(io->open(root + "/renamed", O_RDWR | O_TRUNC, 0, fd), 0);
        const std::string tail = "xy";
        EXPECT_EQ(io->writeAt(fd, 4, reinterpret_cast<const std::uint8_t*>(tail.data()), tail.size()), 0);
        EXPECT_EQ(image(recording).at("renamed"), "abc");
        EXPECT_EQ(io->sync(fd), 0);
        EXPECT_EQ(io->close(fd), 0);
    }
    EXPECT_EQ(image(recording).at("renamed"), std::string("\0\0\0\0xy", 6));
}

TEST_F(PowerCutFileIOTest, ANewFolderHoldsWhatItsOwnLastSyncNamed) {
    PowerCutRecording recording(root);
    ASSERT_EQ(FileIO::current()->makeFolder(root + "/made", 0755), 0);
    writeAt(root + "/made/file", 0, "inside", true);
    EXPECT_EQ(image(recording).count("made/"), 0u);
    syncFolder(root);
    EXPECT_EQ(image(recording).count("made/"), 1u);
    EXPECT_EQ(image(recording).count("made/file"), 0u);
    syncFolder(root + "/made");
    EXPECT_EQ(image(recording).at("made/file"), "inside");

    // Written whole through a descriptor open to write only, then renamed into place.
    auto io = FileIO::current();
    int fd = -1;
    std::string written;
    ASSERT_EQ(io->createUnique(root + "/made/.new", "", fd, written), 0);
    const std::string text = "replaced";
    EXPECT_EQ(io->write(fd, reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 0);
    EXPECT_EQ(io->sync(fd), 0);
    EXPECT_EQ(io->close(fd), 0);
    ASSERT_EQ(io->rename(written, root + "/made/file", true), 0);
    EXPECT_EQ(image(recording).at("made/file"), "inside");
    syncFolder(root + "/made");
    EXPECT_EQ(image(recording).at("made/file"), "replaced");
}
