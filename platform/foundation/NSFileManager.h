// File-system operations with the platform's results and errors, plus the two marks the
// kernel cannot keep for us here: immutability and the do-not-back-up flag.
#pragma once

#include "platform/foundation/FileError.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// Attribute keys and values.
inline constexpr const char* NSFileSize = "NSFileSize";
inline constexpr const char* NSFileModificationDate = "NSFileModificationDate";
inline constexpr const char* NSFileImmutable = "NSFileImmutable";
inline constexpr const char* NSFilePosixPermissions = "NSFilePosixPermissions";
inline constexpr const char* NSFileType = "NSFileType";
inline constexpr const char* NSFileTypeRegular = "NSFileTypeRegular";
inline constexpr const char* NSFileTypeDirectory = "NSFileTypeDirectory";
inline constexpr const char* NSFileTypeSymbolicLink = "NSFileTypeSymbolicLink";
inline constexpr const char* NSFileTypeUnknown = "NSFileTypeUnknown";
inline constexpr const char* NSFileSystemSize = "NSFileSystemSize";
inline constexpr const char* NSFileSystemFreeSize = "NSFileSystemFreeSize";
inline constexpr const char* NSFileSystemNodes = "NSFileSystemNodes";
inline constexpr const char* NSFileSystemFreeNodes = "NSFileSystemFreeNodes";

// The extended attribute that carries the do-not-back-up mark where the file system allows it.
inline constexpr const char* kExcludedFromBackupAttribute = "user.com.apple.MobileBackup";

class NSFileManager : public NSObject {
public:
    static std::shared_ptr<NSFileManager> defaultManager();

    // Follows symbolic links, as the platform does.
    bool fileExistsAtPath(const std::string& path) const;
    bool fileExistsAtPath(const std::string& path, bool* isDirectory) const;
    // Writable by this process and not marked immutable.
    bool isWritableFileAtPath(const std::string& path) const;

    // Without intermediates the parent must exist and the path must not; with them an
    // existing folder is success.
    [[nodiscard]] bool createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                                             const Value::Dictionary& attributes = {}, NSErrorPtr* error = nullptr);
    // Entry names (no "." or ".."), sorted.
    [[nodiscard]] std::optional<std::vector<std::string>> contentsOfDirectoryAtPath(const std::string& path,
                                                                                    NSErrorPtr* error = nullptr) const;
    // Both fail with NSFileWriteFileExistsError when the destination exists.
    // Copying a file onto a full disk fails with NSFileWriteOutOfSpaceError naming the destination,
    // and leaves no partial copy.
    [[nodiscard]] bool copyItemAtPath(const std::string& source, const std::string& destination,
                                      NSErrorPtr* error = nullptr);
    // Our own addition: as copyItemAtPath, but a source that is a symbolic link is followed and
    // what it leads to is copied, so the copy is always an item of its own (a regular file for a
    // file), never a link that writes would go through.
    [[nodiscard]] bool copyContentsOfItemAtPath(const std::string& source, const std::string& destination,
                                                NSErrorPtr* error = nullptr);
    [[nodiscard]] bool moveItemAtPath(const std::string& source, const std::string& destination,
                                      NSErrorPtr* error = nullptr);
    // Files and whole folders; nothing is removed when anything inside is immutable.
    [[nodiscard]] bool removeItemAtPath(const std::string& path, NSErrorPtr* error = nullptr);

    // NSFileSize, NSFileModificationDate, NSFileType, NSFilePosixPermissions, NSFileImmutable.
    [[nodiscard]] std::optional<Value::Dictionary> attributesOfItemAtPath(const std::string& path,
                                                                          NSErrorPtr* error = nullptr) const;
    // Honours NSFileImmutable, NSFilePosixPermissions and NSFileModificationDate; an immutable
    // item accepts no change but the clearing of its immutability.
    [[nodiscard]] bool setAttributes(const Value::Dictionary& attributes, const std::string& path,
                                     NSErrorPtr* error = nullptr);
    // NSFileSystemSize, NSFileSystemFreeSize (space available to this process), the node counts.
    [[nodiscard]] std::optional<Value::Dictionary> attributesOfFileSystemForPath(const std::string& path,
                                                                                 NSErrorPtr* error = nullptr) const;

    // Writes atomically, replacing a file already there, then applies the attributes.
    [[nodiscard]] bool createFileAtPath(const std::string& path, const NSData& contents,
                                        const Value::Dictionary& attributes = {});
    [[nodiscard]] std::optional<NSData> contentsAtPath(const std::string& path) const;

    // The do-not-back-up mark: an extended attribute where the file system takes one, else
    // a registry kept under the home's Library. Reading sees either.
    [[nodiscard]] bool setExcludedFromBackup(bool excluded, const std::string& path, NSErrorPtr* error = nullptr);
    bool isExcludedFromBackup(const std::string& path) const;
    // Tests turn extended attributes off to exercise the registry on any file system.
    static void setUsesExtendedAttributes(bool uses);

    // True when the item, or the folder holding it, is marked immutable: writes through this
    // layer (FileData, property lists, defaults) refuse such paths.
    bool isImmutableOrInImmutableFolder(const std::string& path) const;
};
