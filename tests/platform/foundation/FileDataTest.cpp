// Whole-file reads and writes: contents, errors that say what happened, atomic replacement
// that a process killed mid-write or a failing disk cannot leave half-done, and the sweeping
// of the temporary files killed writers leave.
#include "platform/foundation/FileData.h"

#include "platform/foundation/FileError.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/Fifo.h"
#include "tests/fixtures/Readme.h"
#include "tests/fixtures/SteppedFileIO.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <map>
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

// Each regular file of `folder` by name, with its bytes.
std::map<std::string, std::string> filesIn(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        const auto bytes = readDataFromFile(entry.path());
        files[entry.path().filename()] = bytes ? std::string(bytes->begin(), bytes->end()) : "(unreadable)";
    }
    return files;
}

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

// Regular files only, up to a length: what is longer is refused unread with its length told,
// and a pipe by the name does not hold the caller.
TEST(FileDataReadWrite, ARegularFileIsReadWholeUpToItsBound) {
    const std::string folder = freshFolder();
    NSData binary;
    for (int i = 0; i < 150000; ++i) binary.push_back(static_cast<std::uint8_t>(i * 13));
    ASSERT_TRUE(writeDataToFile(binary, folder + "/large.bin", false));
    std::uint64_t length = 0;
    EXPECT_EQ(readRegularFile(folder + "/large.bin", binary.size(), &length), binary);
    EXPECT_EQ(length, binary.size());
    EXPECT_FALSE(readRegularFile(folder + "/large.bin", binary.size() - 1, &length));
    EXPECT_EQ(length, binary.size());
    ASSERT_TRUE(writeDataToFile(NSData{}, folder + "/empty.bin", false));
    EXPECT_EQ(readRegularFile(folder + "/empty.bin", 10), NSData{});
    EXPECT_FALSE(readRegularFile(folder, 1 << 20, &length));
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(readRegularFile(folder + "/absent.bin", 1 << 20));
    ASSERT_EQ(::mkfifo((folder + "/pipe").c_str(), 0600), 0);
    EXPECT_FALSE(readRegularFile(folder + "/pipe", 1 << 20));
}

// A FIFO where a file is expected, by its name or through a link, is never waited on: reading
// it fails at once as not a regular file (property lists, string tables, a page's local file
// all read this way), writing it in place fails at once for want of a reader, and an atomic
// write puts a file in its place. Opened through the file interface, it stays non-blocking; a
// regular file blocks as usual.
TEST(FileDataReadWrite, AFifoByTheNameIsNeverWaitedOn) {
    const std::string folder = freshFolder();
    const std::string fifo = folder + "/pipe";
    ASSERT_TRUE(Fifo::make(fifo));
    std::filesystem::create_symlink(fifo, folder + "/link");
    for (const std::string& path : {fifo, folder + "/link"}) {
        SCOPED_TRACE(path);
        NSErrorPtr error;
        std::optional<NSData> data;
        ASSERT_TRUE(Fifo::endsPromptly(fifo, [&] { data = readDataFromFile(path, &error); }));
        EXPECT_FALSE(data);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->code(), NSFileReadUnknownError);
        const auto underlying = error->userInfo().get(NSUnderlyingErrorKey).objectAs<NSError>();
        ASSERT_TRUE(underlying);
        EXPECT_EQ(underlying->code(), ENOTSUP);
        Value plist(true);
        ASSERT_TRUE(Fifo::endsPromptly(fifo, [&] { plist = NSPropertyListSerialization::propertyListWithContentsOfFile(path); }));
        EXPECT_TRUE(plist.isNull());
        ASSERT_TRUE(Fifo::endsPromptly(fifo, [&] { data = readRegularFile(path, 1 << 20); }));
        EXPECT_FALSE(data);
        bool written = true;
        ASSERT_TRUE(Fifo::endsPromptly(fifo, [&] { written = writeDataToFile(text("x"), path, false); }));
        EXPECT_FALSE(written);
    }

    const auto io = FileIO::current();
    int fd = -1;
    ASSERT_TRUE(Fifo::endsPromptly(fifo, [&] { EXPECT_EQ(io->open(fifo, O_WRONLY, 0, fd), ENXIO); }));
    ASSERT_TRUE(Fifo::endsPromptly(fifo, [&] { EXPECT_EQ(io->open(fifo, O_RDONLY, 0, fd), 0); }));
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(io->close(fd), 0);
    ASSERT_EQ(io->open(folder + "/file", O_WRONLY | O_CREAT, 0644, fd), 0);
    EXPECT_FALSE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(io->close(fd), 0);

    ASSERT_TRUE(writeDataToFile(text("file"), fifo, true));
    EXPECT_EQ(readDataFromFile(folder + "/link"), text("file"));
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

// A new file's write never takes the place of what is there, even a file written after it began.
TEST(FileDataReadWrite, ANewFilesWriteLeavesAFileAlreadyThereAndNoTemporary) {
    const std::string folder = freshFolder();
    const std::string path = folder + "/new.bin";
    ASSERT_TRUE(file_detail::writeDataToNewFile(text("first"), path));
    NSErrorPtr error;
    EXPECT_FALSE(file_detail::writeDataToNewFile(text("second"), path, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), NSFileWriteFileExistsError);
    EXPECT_EQ(readDataFromFile(path), text("first"));
    EXPECT_EQ(entries(folder), std::vector<std::string>{"new.bin"});
}

// Ended before any step of a new file's write (the folder as it stands then) or cut by a power
// failure there (the folder as of its last syncs), the file already there is whole and the new
// one whole or absent, a temporary at most beside them; once the write returns, a cut keeps it.
TEST(FileDataReadWrite, ANewFileEndedOrCutAtAnyStepLeavesTheOneThereWholeAndItselfWholeOrAbsent) {
    const std::string folder = freshFolder();
    ASSERT_TRUE(writeDataToFile(text("kept"), folder + "/IMG_0001.JPG", true));
    std::vector<std::map<std::string, std::string>> states;
    std::vector<std::string> images;
    std::shared_ptr<SteppedFileIO> cut;
    cut = std::make_shared<SteppedFileIO>(folder, [&](const std::string&, const std::string& path) {
        if (path.rfind(folder, 0) != 0) return;
        states.push_back(filesIn(folder));
        images.push_back(folder + "-image-" + std::to_string(images.size()));
        ASSERT_EQ(cut->writeImage(images.back()), 0);
    });
    {
        ScopedFileIO scope(cut);
        ASSERT_TRUE(file_detail::writeDataToNewFile(text("new picture"), folder + "/IMG_0002.JPG"));
        images.push_back(folder + "-image-after");
        ASSERT_EQ(cut->writeImage(images.back()), 0);
    }
    // Its sync, its rename and its folder's sync at least.
    ASSERT_GE(states.size(), 3u);
    for (const std::string& image : images) states.push_back(filesIn(image));
    for (auto& files : states) {
        EXPECT_EQ(files["IMG_0001.JPG"], "kept");
        if (files.count("IMG_0002.JPG")) {
            EXPECT_EQ(files["IMG_0002.JPG"], "new picture");
        }
        for (const auto& [name, bytes] : files) {
            EXPECT_TRUE(name == "IMG_0001.JPG" || name == "IMG_0002.JPG" || name.front() == '.') << name;
        }
    }
    EXPECT_EQ(states.back()["IMG_0002.JPG"], "new picture");
}

// As the README says of a home with links: a folder that is a link is written through, a file
// written whole replaces a link in its place.
TEST(FileDataReadWrite, AWholeWriteGoesThroughAFolderLinkAndReplacesAFileLinkLeavingItsTargetAlone) {
    EXPECT_NE(readmeText().find("The home folder, the folders above it and the folders in it may be links, and are "
                                "followed"),
              std::string::npos);
    EXPECT_NE(readmeText().find("a file written whole (the settings, a picture downloaded or a thumbnail kept) "
                                "replaces the link with the file, leaving what the link led to as it was"),
              std::string::npos);
    const std::string folder = freshFolder();
    std::filesystem::create_directories(folder + "/elsewhere");
    std::filesystem::create_directory_symlink(folder + "/elsewhere", folder + "/Documents");
    ASSERT_TRUE(writeDataToFile(text("new"), folder + "/Documents/list.plist", true));
    EXPECT_EQ(readDataFromFile(folder + "/elsewhere/list.plist"), text("new"));

    ASSERT_TRUE(writeDataToFile(text("kept"), folder + "/target.plist", true));
    std::filesystem::create_symlink(folder + "/target.plist", folder + "/settings.plist");
    ASSERT_TRUE(writeDataToFile(text("new"), folder + "/settings.plist", true));
    EXPECT_FALSE(std::filesystem::is_symlink(folder + "/settings.plist"));
    EXPECT_EQ(readDataFromFile(folder + "/settings.plist"), text("new"));
    EXPECT_EQ(readDataFromFile(folder + "/target.plist"), text("kept"));
}

TEST(FileDataErrors, FailuresCarryACodeThePathAndTheErrno) {
    const std::string folder = freshFolder();
    NSErrorPtr error;
    EXPECT_FALSE(readDataFromFile(folder + "/missing", &error).has_value());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), NSFileReadNoSuchFileError);
    EXPECT_EQ(error->userInfo().get(NSFilePathErrorKey), Value(folder + "/missing"));
    const Value underlying = error->userInfo().get(NSUnderlyingErrorKey);
    ASSERT_TRUE(underlying.isObject());
    EXPECT_EQ(std::dynamic_pointer_cast<NSError>(underlying.object())->code(), ENOENT);

    error.reset();
    EXPECT_FALSE(readDataFromFile(folder, &error).has_value());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSFileReadUnknownError);
    EXPECT_NE(error->localizedDescription().find("Is a directory"), std::string::npos) << error->description();

    for (const bool atomically : {false, true}) {
        error.reset();
        EXPECT_FALSE(writeDataToFile(text("x"), folder + "/no/such/folder/file", atomically, &error));
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
        EXPECT_EQ(error->code(), NSFileNoSuchFileError);
        EXPECT_EQ(error->userInfo().get(NSFilePathErrorKey), Value(folder + "/no/such/folder/file"));
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
        EXPECT_EQ(error->code(), NSFileWriteNoPermissionError);
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

namespace {

// Sets the file's modification time back, as a file left by an earlier run has it.
void makeOld(const std::string& path) {
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = std::time(nullptr) - 3600;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

struct WriteFault {
    const char* label;
    FaultyFileIO::Operation operation;
    int err;
    long code;
    const char* sentence;  // a part of the description
};

}  // namespace

// Every step of an atomic write failing: the error says what happened and names the destination,
// the old contents stay whole, and the temporary file is gone.
TEST(FileDataFaults, AFailingAtomicWriteKeepsTheOldFileAndLeavesNoTemporary) {
    using Op = FaultyFileIO::Operation;
    const WriteFault faults[] = {
        {"full disk", Op::Write, ENOSPC, NSFileWriteOutOfSpaceError, "there is no space left"},
        {"quota", Op::Write, EDQUOT, NSFileWriteOutOfSpaceError, "there is no space left"},
        {"failing sync", Op::Sync, EIO, NSFileWriteUnknownError, "Input/output error"},
        {"failing close", Op::Close, EIO, NSFileWriteUnknownError, "Input/output error"},
        {"failed rename", Op::Rename, EIO, NSFileWriteUnknownError, "Input/output error"},
        {"read-only volume", Op::AnyChange, EROFS, NSFileWriteVolumeReadOnlyError, "the volume is read only"},
        {"no permission", Op::AnyChange, EACCES, NSFileWriteNoPermissionError, "permission to save"},
    };
    const std::string folder = freshFolder();
    const std::string path = folder + "/state.bin";
    const NSData old(100000, 'o');
    ASSERT_TRUE(writeDataToFile(old, path, true));
    for (const WriteFault& fault : faults) {
        FaultInjection injection;
        injection->inject(fault.operation, folder + "/*", fault.err);
        NSErrorPtr error;
        EXPECT_FALSE(writeDataToFile(NSData(200000, 'n'), path, true, &error)) << fault.label;
        EXPECT_GT(injection->injected(), 0) << fault.label;
        ASSERT_NE(error, nullptr) << fault.label;
        EXPECT_EQ(error->domain(), NSCocoaErrorDomain) << fault.label;
        EXPECT_EQ(error->code(), fault.code) << fault.label;
        EXPECT_NE(error->localizedDescription().find(fault.sentence), std::string::npos)
            << fault.label << ": " << error->localizedDescription();
        EXPECT_NE(error->localizedDescription().find("\u201cstate.bin\u201d"), std::string::npos) << fault.label;
        EXPECT_EQ(error->userInfo().get(NSFilePathErrorKey), Value(path)) << fault.label;
        EXPECT_EQ(readDataFromFile(path), old) << fault.label;
        EXPECT_EQ(entries(folder), std::vector<std::string>{"state.bin"}) << fault.label;
    }
    EXPECT_TRUE(writeDataToFile(NSData(3, 'n'), path, true)) << "the real file system is back";
    EXPECT_EQ(readDataFromFile(path), NSData(3, 'n'));
}

TEST(FileDataFaults, ReadErrorsAndInPlaceWritesSayWhatHappened) {
    const std::string path = freshFolder() + "/data.bin";
    ASSERT_TRUE(writeDataToFile(text("contents"), path, false));
    FaultInjection injection;
    injection->ioError(FaultyFileIO::Operation::Read, "*/data.bin");
    NSErrorPtr error;
    EXPECT_FALSE(readDataFromFile(path, &error).has_value());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSFileReadUnknownError);
    EXPECT_NE(error->localizedDescription().find("couldn\u2019t be read: Input/output error"), std::string::npos)
        << error->localizedDescription();

    injection->noSpace("*/data.bin");
    error.reset();
    EXPECT_FALSE(writeDataToFile(NSData(1000, 'x'), path, false, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), NSFileWriteOutOfSpaceError);
}

// Temporary files of writers killed in an earlier run go at the next write of the same file;
// one younger than this process may belong to a write going on, and others are not the writer's.
TEST(FileDataTemporaries, AStaleTemporaryOfTheSameFileGoesAtTheNextWrite) {
    const std::string folder = freshFolder();
    const std::vector<std::string> stale{".state.bin.tmp-a1B2c3", ".state.bin.tmp-ZZZZZZ"};
    const std::vector<std::string> kept{".other.bin.tmp-a1B2c3", ".state.bin.tmp-short", ".state.bin.backup",
                                        "notes.txt"};
    for (const auto& name : stale) {
        ASSERT_TRUE(writeDataToFile(text("partial"), folder + "/" + name, false));
        makeOld(folder + "/" + name);
    }
    for (const auto& name : kept) {
        ASSERT_TRUE(writeDataToFile(text("keep"), folder + "/" + name, false));
        makeOld(folder + "/" + name);
    }
    const std::string young = ".state.bin.tmp-Young1";
    ASSERT_TRUE(writeDataToFile(text("in progress"), folder + "/" + young, false));

    ASSERT_TRUE(writeDataToFile(text("new"), folder + "/state.bin", true));
    std::vector<std::string> expected = kept;
    expected.push_back(young);
    expected.push_back("state.bin");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(entries(folder), expected);
    EXPECT_EQ(readDataFromFile(folder + "/state.bin"), text("new"));
}
