// The file manager against real files in the test home: results and errors of each
// operation, failures of the disk under it, the immutable mark, free space and the
// do-not-back-up mark.
#include "platform/foundation/NSFileManager.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sys/statvfs.h>
#include <sys/xattr.h>

namespace fs = std::filesystem;

namespace {

class FileManagerTest : public testing::Test {
protected:
    void SetUp() override {
        root = Sandbox::tmp() + "/" + testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { NSFileManager::setUsesExtendedAttributes(true); }

    void write(const std::string& path, const std::string& text) {
        ASSERT_TRUE(writeDataToFile(NSData(text.begin(), text.end()), path, true));
    }
    std::string read(const std::string& path) {
        const auto data = readDataFromFile(path);
        return data ? std::string(data->begin(), data->end()) : "<missing>";
    }
    static void expectCocoaError(const NSErrorPtr& error, long code, const std::string& label = "") {
        ASSERT_NE(error, nullptr) << label;
        EXPECT_EQ(error->domain(), NSCocoaErrorDomain) << label;
        EXPECT_EQ(error->code(), code) << label;
    }

    std::shared_ptr<NSFileManager> manager = NSFileManager::defaultManager();
    std::string root;
};

}  // namespace

TEST_F(FileManagerTest, ExistenceFollowsLinksAndTellsFoldersApart) {
    write(root + "/file", "x");
    fs::create_directory(root + "/folder");
    fs::create_symlink(root + "/folder", root + "/link");
    fs::create_symlink(root + "/nowhere", root + "/dangling");
    bool isDirectory = true;
    EXPECT_TRUE(manager->fileExistsAtPath(root + "/file", &isDirectory));
    EXPECT_FALSE(isDirectory);
    EXPECT_TRUE(manager->fileExistsAtPath(root + "/folder", &isDirectory));
    EXPECT_TRUE(isDirectory);
    EXPECT_TRUE(manager->fileExistsAtPath(root + "/link", &isDirectory));
    EXPECT_TRUE(isDirectory);
    EXPECT_FALSE(manager->fileExistsAtPath(root + "/dangling"));
    EXPECT_FALSE(manager->fileExistsAtPath(root + "/missing"));
    EXPECT_FALSE(manager->fileExistsAtPath(""));
}

TEST_F(FileManagerTest, CreatingFoldersWithAndWithoutIntermediates) {
    NSErrorPtr error;
    EXPECT_TRUE(manager->createDirectoryAtPath(root + "/a/b/c", true, {}, &error));
    EXPECT_TRUE(fs::is_directory(root + "/a/b/c"));
    EXPECT_TRUE(manager->createDirectoryAtPath(root + "/a/b/c", true, {}, &error)) << "existing folder is success";

    EXPECT_FALSE(manager->createDirectoryAtPath(root + "/x/y", false, {}, &error));
    expectCocoaError(error, NSFileNoSuchFileError, "missing parent");
    error.reset();
    EXPECT_FALSE(manager->createDirectoryAtPath(root + "/a", false, {}, &error));
    expectCocoaError(error, NSFileWriteFileExistsError, "existing without intermediates");
    write(root + "/plain", "x");
    error.reset();
    EXPECT_FALSE(manager->createDirectoryAtPath(root + "/plain", true, {}, &error));
    expectCocoaError(error, NSFileWriteFileExistsError, "a file in the way");

    EXPECT_TRUE(manager->createDirectoryAtPath(root + "/private", false, {{NSFilePosixPermissions, Value(0700)}}));
    EXPECT_EQ((*manager->attributesOfItemAtPath(root + "/private"))[NSFilePosixPermissions].integerValue(), 0700);
}

TEST_F(FileManagerTest, ListingIsSortedWithoutDotEntries) {
    for (const char* name : {"b.sqlite", "a.txt", "C", ".hidden", "é"}) write(root + "/" + name, "x");
    fs::create_directory(root + "/folder");
    const auto names = manager->contentsOfDirectoryAtPath(root);
    ASSERT_TRUE(names.has_value());
    EXPECT_EQ(*names, (std::vector<std::string>{".hidden", "C", "a.txt", "b.sqlite", "folder", "é"}));

    NSErrorPtr error;
    EXPECT_FALSE(manager->contentsOfDirectoryAtPath(root + "/missing", &error).has_value());
    expectCocoaError(error, NSFileReadNoSuchFileError);
    EXPECT_FALSE(manager->contentsOfDirectoryAtPath(root + "/a.txt", &error).has_value());
}

TEST_F(FileManagerTest, CopyTakesWholeTreesAndNeverOverwrites) {
    fs::create_directories(root + "/tree/sub");
    write(root + "/tree/one", "1");
    write(root + "/tree/sub/two", "2");
    NSErrorPtr error;
    ASSERT_TRUE(manager->copyItemAtPath(root + "/tree", root + "/copy", &error));
    EXPECT_EQ(read(root + "/copy/one"), "1");
    EXPECT_EQ(read(root + "/copy/sub/two"), "2");
    EXPECT_EQ(read(root + "/tree/sub/two"), "2");

    write(root + "/target", "keep me");
    EXPECT_FALSE(manager->copyItemAtPath(root + "/tree/one", root + "/target", &error));
    expectCocoaError(error, NSFileWriteFileExistsError);
    EXPECT_EQ(read(root + "/target"), "keep me");
    error.reset();
    EXPECT_FALSE(manager->copyItemAtPath(root + "/missing", root + "/elsewhere", &error));
    expectCocoaError(error, NSFileNoSuchFileError);
}

TEST_F(FileManagerTest, CopyingContentsFollowsALinkAndMakesAFileOfItsOwn) {
    write(root + "/original", "bundle bytes");
    fs::create_symlink(root + "/original", root + "/link");
    fs::create_symlink("link", root + "/link-to-link");
    NSErrorPtr error;
    // The platform's copy keeps a link a link; the contents copy never does.
    ASSERT_TRUE(manager->copyItemAtPath(root + "/link", root + "/as-link", &error));
    EXPECT_TRUE(fs::is_symlink(root + "/as-link"));
    for (const char* source : {"/link", "/link-to-link", "/original"}) {
        const std::string copy = root + "/copy" + std::string(source).substr(1);
        ASSERT_TRUE(manager->copyContentsOfItemAtPath(root + source, copy, &error)) << source;
        EXPECT_FALSE(fs::is_symlink(copy)) << source;
        EXPECT_TRUE(fs::is_regular_file(copy)) << source;
        write(copy, "written later");
        EXPECT_EQ(read(root + "/original"), "bundle bytes") << source;
    }

    fs::create_symlink(root + "/nowhere", root + "/dangling");
    EXPECT_FALSE(manager->copyContentsOfItemAtPath(root + "/dangling", root + "/copy-dangling", &error));
    expectCocoaError(error, NSFileNoSuchFileError);
    EXPECT_FALSE(fs::exists(fs::symlink_status(root + "/copy-dangling")));
    error.reset();
    EXPECT_FALSE(manager->copyContentsOfItemAtPath(root + "/link", root + "/copylink", &error));
    expectCocoaError(error, NSFileWriteFileExistsError);
}

TEST_F(FileManagerTest, MoveFailsWhenTheDestinationExistsAndLeavesBothAlone) {
    write(root + "/from", "new");
    write(root + "/to", "old");
    NSErrorPtr error;
    EXPECT_FALSE(manager->moveItemAtPath(root + "/from", root + "/to", &error));
    expectCocoaError(error, NSFileWriteFileExistsError);
    EXPECT_EQ(error->userInfo().get(NSFilePathErrorKey), Value(root + "/to"));
    EXPECT_FALSE(error->localizedDescription().empty());
    EXPECT_EQ(read(root + "/from"), "new");
    EXPECT_EQ(read(root + "/to"), "old");

    ASSERT_TRUE(manager->moveItemAtPath(root + "/from", root + "/moved", &error));
    EXPECT_EQ(read(root + "/moved"), "new");
    EXPECT_FALSE(fs::exists(root + "/from"));
    error.reset();
    EXPECT_FALSE(manager->moveItemAtPath(root + "/from", root + "/again", &error));
    expectCocoaError(error, NSFileNoSuchFileError);
}

TEST_F(FileManagerTest, RemoveIsRecursiveAndReportsMissingItems) {
    fs::create_directories(root + "/tree/a/b");
    write(root + "/tree/a/b/file", "x");
    NSErrorPtr error;
    EXPECT_TRUE(manager->removeItemAtPath(root + "/tree", &error));
    EXPECT_FALSE(fs::exists(root + "/tree"));
    EXPECT_FALSE(manager->removeItemAtPath(root + "/tree", &error));
    expectCocoaError(error, NSFileNoSuchFileError);
}

// A disk that fills up during a copy: the error says there is no space, names the copy, and no
// partial copy stays; a move across file systems that falls back on copying does the same.
TEST_F(FileManagerTest, CopyAndMoveOntoAFullDiskSayNoSpaceAndLeaveNoPartialCopy) {
    fs::create_directories(root + "/tree/sub");
    write(root + "/tree/one", std::string(200000, '1'));
    write(root + "/tree/sub/two", "2");
    FaultInjection injection;
    injection->noSpace("*/copy/sub/two");
    NSErrorPtr error;
    EXPECT_FALSE(manager->copyItemAtPath(root + "/tree", root + "/copy", &error));
    expectCocoaError(error, NSFileWriteOutOfSpaceError);
    EXPECT_EQ(error->localizedDescription(),
              "The file \u201ccopy\u201d couldn\u2019t be saved because there is no space left on the volume.");
    EXPECT_EQ(error->userInfo().get(NSFilePathErrorKey), Value(root + "/copy"));
    EXPECT_FALSE(fs::exists(root + "/copy"));

    injection->failRename(root + "/tree", EXDEV);
    error.reset();
    EXPECT_FALSE(manager->moveItemAtPath(root + "/tree", root + "/copy", &error));
    expectCocoaError(error, NSFileWriteOutOfSpaceError, "move by copying");
    EXPECT_FALSE(fs::exists(root + "/copy"));
    EXPECT_EQ(read(root + "/tree/sub/two"), "2") << "the original stays whole";

    // Reading the source failing is told as a read of the source.
    injection->clear();
    injection->ioError(FaultyFileIO::Operation::Read, "*/tree/one");
    error.reset();
    EXPECT_FALSE(manager->copyItemAtPath(root + "/tree", root + "/copy", &error));
    expectCocoaError(error, NSFileReadUnknownError, "unreadable source");
    EXPECT_EQ(error->userInfo().get(NSFilePathErrorKey), Value(root + "/tree"));
    EXPECT_FALSE(fs::exists(root + "/copy"));

    injection->clear();
    ASSERT_TRUE(manager->moveItemAtPath(root + "/tree", root + "/copy", &error));
    EXPECT_EQ(read(root + "/copy/sub/two"), "2");
}

TEST_F(FileManagerTest, AReadOnlyFolderRefusesNewFoldersRemovalsAndModes) {
    write(root + "/file", "x");
    FaultInjection injection;
    injection->readOnly(root + "/*");
    NSErrorPtr error;
    EXPECT_FALSE(manager->createDirectoryAtPath(root + "/a/b", true, {}, &error));
    expectCocoaError(error, NSFileWriteVolumeReadOnlyError, "folder");
    error.reset();
    EXPECT_FALSE(manager->removeItemAtPath(root + "/file", &error));
    expectCocoaError(error, NSFileWriteVolumeReadOnlyError, "removal");
    error.reset();
    EXPECT_FALSE(manager->setAttributes({{NSFilePosixPermissions, Value(0600)}}, root + "/file", &error));
    expectCocoaError(error, NSFileWriteVolumeReadOnlyError, "mode");
    injection->clear();
    injection->readOnly(root + "/*", EACCES);
    error.reset();
    EXPECT_FALSE(manager->createFileAtPath(root + "/new", NSData{'x'}));
    EXPECT_FALSE(manager->moveItemAtPath(root + "/file", root + "/moved", &error));
    expectCocoaError(error, NSFileWriteNoPermissionError, "move");
    EXPECT_EQ(read(root + "/file"), "x");
    EXPECT_FALSE(fs::exists(root + "/a"));
    EXPECT_FALSE(fs::exists(root + "/new"));
}

TEST_F(FileManagerTest, AttributesReportSizeDateAndType) {
    write(root + "/file", "12345");
    NSErrorPtr error;
    ASSERT_TRUE(manager->setAttributes({{NSFileModificationDate, Value(NSDate{1600000000.5})}}, root + "/file", &error));
    const auto attributes = manager->attributesOfItemAtPath(root + "/file", &error);
    ASSERT_TRUE(attributes.has_value());
    EXPECT_EQ((*attributes)[NSFileSize].unsignedLongLongValue(), 5u);
    EXPECT_STREQ((*attributes)[NSFileSize].objCType(), "Q");
    EXPECT_NEAR((*attributes)[NSFileModificationDate].date().timeIntervalSince1970, 1600000000.5, 1e-3);
    EXPECT_EQ((*attributes)[NSFileType], Value(NSFileTypeRegular));
    EXPECT_EQ((*attributes)[NSFileImmutable], Value(false));
    EXPECT_EQ((*manager->attributesOfItemAtPath(root))[NSFileType], Value(NSFileTypeDirectory));

    EXPECT_FALSE(manager->attributesOfItemAtPath(root + "/missing", &error).has_value());
    expectCocoaError(error, NSFileReadNoSuchFileError);
    error.reset();
    EXPECT_FALSE(manager->setAttributes({{NSFileImmutable, Value(true)}}, root + "/missing", &error));
    expectCocoaError(error, NSFileNoSuchFileError);
}

TEST_F(FileManagerTest, ImmutableItemsRefuseEveryChangeUntilCleared) {
    fs::create_directories(root + "/folder");
    write(root + "/folder/locked", "original");
    write(root + "/folder/free", "free");
    const std::string locked = root + "/folder/locked";
    ASSERT_TRUE(manager->setAttributes({{NSFileImmutable, Value(true)}}, locked));
    EXPECT_EQ((*manager->attributesOfItemAtPath(locked))[NSFileImmutable], Value(true));
    EXPECT_FALSE(manager->isWritableFileAtPath(locked));
    EXPECT_TRUE(manager->isWritableFileAtPath(root + "/folder/free"));

    NSErrorPtr error;
    EXPECT_FALSE(manager->removeItemAtPath(locked, &error));
    expectCocoaError(error, NSFileWriteNoPermissionError, "remove");
    error.reset();
    EXPECT_FALSE(manager->removeItemAtPath(root + "/folder", &error));
    expectCocoaError(error, NSFileWriteNoPermissionError, "remove the folder holding it");
    EXPECT_TRUE(fs::exists(root + "/folder/free")) << "nothing is removed when something inside is immutable";
    EXPECT_FALSE(manager->moveItemAtPath(locked, root + "/elsewhere", &error));
    EXPECT_FALSE(manager->createFileAtPath(locked, NSData{'x'}));
    EXPECT_FALSE(manager->setAttributes({{NSFilePosixPermissions, Value(0600)}}, locked, &error));
    EXPECT_EQ(read(locked), "original");

    // Clearing and changing in one call works, as on the platform.
    ASSERT_TRUE(manager->setAttributes({{NSFileImmutable, Value(false)}, {NSFilePosixPermissions, Value(0600)}}, locked,
                                       &error));
    EXPECT_TRUE(manager->isWritableFileAtPath(locked));
    EXPECT_TRUE(manager->removeItemAtPath(root + "/folder", &error));
    EXPECT_FALSE(fs::exists(root + "/folder"));
}

TEST_F(FileManagerTest, ImmutableFolderRefusesNewEntries) {
    fs::create_directories(root + "/sealed");
    ASSERT_TRUE(manager->setAttributes({{NSFileImmutable, Value(true)}}, root + "/sealed"));
    NSErrorPtr error;
    EXPECT_FALSE(writeDataToFile(NSData{'x'}, root + "/sealed/new", true, &error));
    EXPECT_FALSE(manager->createDirectoryAtPath(root + "/sealed/sub", false, {}, &error));
    write(root + "/outside", "x");
    EXPECT_FALSE(manager->moveItemAtPath(root + "/outside", root + "/sealed/outside", &error));
    EXPECT_FALSE(manager->copyItemAtPath(root + "/outside", root + "/sealed/outside", &error));
    EXPECT_FALSE(fs::exists(root + "/sealed/new"));
    ASSERT_TRUE(manager->setAttributes({{NSFileImmutable, Value(false)}}, root + "/sealed"));
}

TEST_F(FileManagerTest, FileSystemFreeSpaceMatchesStatvfs) {
    NSErrorPtr error;
    const auto attributes = manager->attributesOfFileSystemForPath(root, &error);
    ASSERT_TRUE(attributes.has_value());
    struct statvfs info {};
    ASSERT_EQ(::statvfs(root.c_str(), &info), 0);
    const double expectedFree = static_cast<double>(info.f_bavail) * static_cast<double>(info.f_frsize);
    const double reportedFree = (*attributes)[NSFileSystemFreeSize].doubleValue();
    EXPECT_GT(reportedFree, 0);
    EXPECT_LE(reportedFree, (*attributes)[NSFileSystemSize].doubleValue());
    // Other processes write meanwhile; a few megabytes of drift is fine.
    EXPECT_LT(std::fabs(reportedFree - expectedFree), 64.0 * 1024 * 1024);
    EXPECT_FALSE(manager->attributesOfFileSystemForPath(root + "/missing", &error).has_value());
}

TEST_F(FileManagerTest, CreateFileAndContentsRoundTrip) {
    const NSData contents{0, 1, 2, 255};
    EXPECT_TRUE(manager->createFileAtPath(root + "/made", contents));
    EXPECT_EQ(manager->contentsAtPath(root + "/made"), contents);
    EXPECT_TRUE(manager->createFileAtPath(root + "/made", NSData{'z'}));
    EXPECT_EQ(manager->contentsAtPath(root + "/made"), NSData{'z'});
    EXPECT_FALSE(manager->contentsAtPath(root + "/missing").has_value());
    EXPECT_FALSE(manager->createFileAtPath(root + "/no/folder/file", contents));
    EXPECT_FALSE(manager->isWritableFileAtPath(root + "/missing"));
}

TEST_F(FileManagerTest, BackupMarkReadsBackThroughTheExtendedAttribute) {
    write(root + "/db.sqlite", "x");
    const std::string path = root + "/db.sqlite";
    EXPECT_FALSE(manager->isExcludedFromBackup(path));
    ASSERT_TRUE(manager->setExcludedFromBackup(true, path));
    EXPECT_TRUE(manager->isExcludedFromBackup(path));
    std::uint8_t flag = 0;
    if (::getxattr(path.c_str(), kExcludedFromBackupAttribute, &flag, 1) == 1) {
        EXPECT_EQ(flag, 1);
    } else {
        // This file system takes no user attributes: the registry carried it.
        EXPECT_TRUE(fs::exists(Sandbox::library() + "/.excluded-from-backup.plist"));
    }
    ASSERT_TRUE(manager->setExcludedFromBackup(false, path));
    EXPECT_FALSE(manager->isExcludedFromBackup(path));
}

TEST_F(FileManagerTest, BackupMarkFallsBackToTheRegistryAndFollowsMovesAndRemovals) {
    NSFileManager::setUsesExtendedAttributes(false);
    fs::create_directories(root + "/folder");
    write(root + "/folder/a", "x");
    write(root + "/folder/b", "x");
    ASSERT_TRUE(manager->setExcludedFromBackup(true, root + "/folder/a"));
    EXPECT_TRUE(manager->isExcludedFromBackup(root + "/folder/a"));
    EXPECT_FALSE(manager->isExcludedFromBackup(root + "/folder/b"));
    EXPECT_TRUE(fs::exists(Sandbox::library() + "/.excluded-from-backup.plist"));

    ASSERT_TRUE(manager->moveItemAtPath(root + "/folder", root + "/renamed"));
    EXPECT_TRUE(manager->isExcludedFromBackup(root + "/renamed/a"));
    ASSERT_TRUE(manager->removeItemAtPath(root + "/renamed/a"));
    write(root + "/renamed/a", "a new file at the same path");
    EXPECT_FALSE(manager->isExcludedFromBackup(root + "/renamed/a"));

    NSErrorPtr error;
    EXPECT_FALSE(manager->setExcludedFromBackup(true, root + "/missing", &error));
    expectCocoaError(error, NSFileNoSuchFileError);
    EXPECT_FALSE(manager->isExcludedFromBackup(root + "/missing"));
}
