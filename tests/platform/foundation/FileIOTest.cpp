// Making room for a file: what is in its place is judged by what it is itself, never by where a
// link leads, and goes aside under a free name without replacing anything; the folders above
// the place may be links. New folders outlast a power cut.
#include "platform/foundation/FileIO.h"

#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/PowerCutFileIO.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;
using Unwanted = FileIO::Unwanted;

std::string textOf(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class FileIOMoveAside : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(folder);
        fs::create_directories(elsewhere);
        std::ofstream(elsewhere + "/text.txt") << "a person's text";
    }

    // The place's moving aside through the file system in use; its new name, "" for none.
    std::string moveAside(Unwanted unwanted, int expectedError = 0) {
        std::string movedTo = "unchanged";
        EXPECT_EQ(FileIO::current()->moveAside(place, unwanted, movedTo), expectedError);
        return movedTo;
    }

    const std::string folder = Sandbox::tmp() + "/files";
    const std::string elsewhere = Sandbox::tmp() + "/elsewhere";
    const std::string place = folder + "/the.file";
};

TEST_F(FileIOMoveAside, ALinkGoesAsideWhereverItLeadsAndWhatItLeadsToIsUntouched) {
    const struct {
        const char* what;
        std::function<void()> make;
    } links[] = {
        {"a link to a file", [&] { fs::create_symlink(elsewhere + "/text.txt", place); }},
        {"a link to nothing", [&] { fs::create_symlink(elsewhere + "/missing.txt", place); }},
        {"a link to a folder", [&] { fs::create_directory_symlink(elsewhere, place); }},
        {"a link to a link", [&] { fs::create_symlink(folder + "/the.file.moved", place); }},
    };
    const std::string names[] = {place + ".moved", place + ".moved-2", place + ".moved-3", place + ".moved-4"};
    for (Unwanted unwanted : {Unwanted::Links, Unwanted::AnythingButARegularFile}) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        int n = 0;
        for (const auto& link : links) {
            SCOPED_TRACE(link.what);
            link.make();
            // Each takes the next free name; none replaces one taken before.
            EXPECT_EQ(moveAside(unwanted), names[n]);
            EXPECT_TRUE(fs::is_symlink(names[n]));
            EXPECT_FALSE(fs::exists(fs::symlink_status(place)));
            ++n;
        }
        EXPECT_EQ(fs::read_symlink(names[0]), elsewhere + "/text.txt");
        EXPECT_EQ(fs::read_symlink(names[3]), folder + "/the.file.moved");
    }
    // Nothing was made or changed where the links led.
    EXPECT_EQ(textOf(elsewhere + "/text.txt"), "a person's text");
    EXPECT_FALSE(fs::exists(elsewhere + "/missing.txt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1);
}

TEST_F(FileIOMoveAside, WhatIsNoLinkStaysOrGoesAsTheCallerSays) {
    // A file, or nothing, is never in the way.
    EXPECT_EQ(moveAside(Unwanted::AnythingButARegularFile), "");
    std::ofstream(place) << "the file";
    EXPECT_EQ(moveAside(Unwanted::AnythingButARegularFile), "");
    EXPECT_EQ(moveAside(Unwanted::Links), "");
    EXPECT_EQ(textOf(place), "the file");
    fs::remove(place);

    const struct {
        const char* what;
        std::function<void()> make;
    } things[] = {
        {"a folder", [&] { fs::create_directories(place + "/inside"); }},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(place.c_str(), 0600), 0); }},
    };
    for (const auto& thing : things) {
        SCOPED_TRACE(thing.what);
        thing.make();
        // Only links are unwanted: it stays.
        EXPECT_EQ(moveAside(Unwanted::Links), "");
        EXPECT_TRUE(fs::exists(fs::symlink_status(place)));
        const std::string aside = moveAside(Unwanted::AnythingButARegularFile);
        EXPECT_EQ(aside.rfind(place + ".moved", 0), 0u) << aside;
        EXPECT_FALSE(fs::exists(fs::symlink_status(place)));
    }
    EXPECT_TRUE(fs::is_directory(place + ".moved/inside"));
    EXPECT_TRUE(fs::is_fifo(place + ".moved-2"));
}

TEST_F(FileIOMoveAside, OnlyThePlaceItselfIsJudgedTheFoldersAboveMayBeLinks) {
    const std::string linkedFolder = Sandbox::tmp() + "/linked";
    fs::create_directory_symlink(folder, linkedFolder);
    std::ofstream(place) << "the file";
    std::string movedTo;
    EXPECT_EQ(FileIO::current()->moveAside(linkedFolder + "/the.file", Unwanted::AnythingButARegularFile, movedTo), 0);
    EXPECT_EQ(movedTo, "");
    EXPECT_EQ(textOf(place), "the file");

    fs::remove(place);
    fs::create_symlink(elsewhere + "/text.txt", place);
    EXPECT_EQ(FileIO::current()->moveAside(linkedFolder + "/the.file", Unwanted::Links, movedTo), 0);
    EXPECT_EQ(movedTo, linkedFolder + "/the.file.moved");
    EXPECT_TRUE(fs::is_symlink(place + ".moved"));
}

TEST_F(FileIOMoveAside, AMoveTheFileSystemRefusesIsItsErrorAndLeavesEverythingInPlace) {
    fs::create_symlink(elsewhere + "/missing.txt", place);
    FaultInjection faults;
    faults->failRename("*/files/the.file*", EACCES);
    EXPECT_EQ(moveAside(Unwanted::Links, EACCES), "");
    EXPECT_GT(faults->injected(), 0);
    EXPECT_TRUE(fs::is_symlink(place));
    EXPECT_FALSE(fs::exists(fs::symlink_status(place + ".moved")));
}

// Each folder made, alone or with its intermediates, is named on the disk once made: what a
// power cut leaves holds it and the file synced inside, though nothing synced the folders above.
TEST(FileIOFolders, NewFoldersOutlastAPowerCutWithTheFileSyncedInThem) {
    const std::string disk = Sandbox::tmp() + "/disk";
    fs::create_directories(disk);
    PowerCutRecording recording(disk);
    auto io = FileIO::current();
    ASSERT_EQ(io->makeFolders(disk + "/a/b/c"), 0);
    ASSERT_EQ(file_detail::makeLastingFolder(*io, disk + "/a/b/c/alone/", 0755), 0);
    // As a writer would: the file's bytes, then its name.
    for (const std::string& path : {disk + "/a/b/c/file", disk + "/a/b/c/alone/file"}) {
        int fd = -1;
        ASSERT_EQ(io->open(path, O_WRONLY | O_CREAT, 0644, fd), 0);
        EXPECT_EQ(io->write(fd, reinterpret_cast<const std::uint8_t*>(path.data()), path.size()), 0);
        EXPECT_EQ(io->sync(fd), 0);
        EXPECT_EQ(io->close(fd), 0);
        EXPECT_EQ(io->syncFolderOf(path), 0);
    }

    const std::string image = Sandbox::tmp() + "/after-the-cut";
    ASSERT_EQ(recording->writeImage(image), 0);
    std::map<std::string, std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(image)) {
        left[fs::relative(entry.path(), image).string()] = entry.is_directory() ? "/" : textOf(entry.path());
    }
    const std::map<std::string, std::string> expected = {
        {"a", "/"}, {"a/b", "/"}, {"a/b/c", "/"}, {"a/b/c/alone", "/"},
        {"a/b/c/file", disk + "/a/b/c/file"}, {"a/b/c/alone/file", disk + "/a/b/c/alone/file"}};
    EXPECT_EQ(left, expected);
}

// A folder whose name could not be synced is not said to be made, though it stays; the next
// making finds it there.
TEST(FileIOFolders, AFailedSyncOfTheFolderAboveIsTheMakingsError) {
    const std::string above = Sandbox::tmp() + "/above";
    fs::create_directories(above);
    FaultInjection faults;
    faults->ioError(FaultyFileIO::Operation::Sync, above);
    EXPECT_EQ(FileIO::current()->makeFolders(above + "/new"), EIO);
    EXPECT_GT(faults->injected(), 0);
    EXPECT_TRUE(fs::is_directory(above + "/new"));
    EXPECT_EQ(FileIO::current()->makeFolders(above + "/new"), 0);
}

}  // namespace
