// File-system operations over POSIX calls, with errors in the platform's Cocoa codes.
// Immutability is kept here per inode (chattr needs privileges CI lacks); the backup mark
// uses an extended attribute and falls back to a small registry file.
#include "platform/foundation/NSFileManager.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace {

using InodeKey = std::pair<dev_t, ino_t>;

// Separate locks: saving the backup registry goes through the write path, which asks about immutability.
std::mutex immutableMutex;
std::mutex backupMutex;
std::set<InodeKey>& immutableInodes() {
    static auto* inodes = new std::set<InodeKey>;  // never destroyed: see defaultManager()
    return *inodes;
}
std::atomic<bool> usesExtendedAttributes{true};

std::string normalized(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    if (ec) absolute = path;
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

std::string parentOf(const std::string& path) {
    const std::string full = normalized(path);
    const auto slash = full.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return full.substr(0, slash);
}

bool isUnder(const std::string& path, const std::string& folder) {
    return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                              (folder == "/" || path[folder.size()] == '/'));
}

std::optional<InodeKey> inodeOf(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return InodeKey{info.st_dev, info.st_ino};
}

bool isImmutableItem(const std::string& path) {
    const auto key = inodeOf(path);
    if (!key) return false;
    std::lock_guard lock(immutableMutex);
    return immutableInodes().count(*key) != 0;
}

bool anyImmutable() {
    std::lock_guard lock(immutableMutex);
    return !immutableInodes().empty();
}

// The first immutable item at or below `path`, if any.
std::optional<std::string> immutableWithin(const std::string& path) {
    if (!anyImmutable()) return std::nullopt;
    if (isImmutableItem(path)) return path;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(path, ec))) return std::nullopt;
    for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (isImmutableItem(it->path().string())) return it->path().string();
    }
    return std::nullopt;
}

long cocoaCodeForErrno(int err, bool writing) {
    switch (err) {
    case ENOENT: return writing ? NSFileNoSuchFileError : NSFileReadNoSuchFileError;
    case EEXIST:
    case ENOTEMPTY: return NSFileWriteFileExistsError;
    case EACCES:
    case EPERM: return writing ? NSFileWriteNoPermissionError : NSFileReadNoPermissionError;
    case ENOSPC:
    case EDQUOT: return NSFileWriteOutOfSpaceError;
    case EROFS: return NSFileWriteVolumeReadOnlyError;
    default: return writing ? NSFileWriteUnknownError : NSFileReadUnknownError;
    }
}

std::string describe(long code, const std::string& path) {
    const std::string name = "\u201c" + fs::path(path).filename().string() + "\u201d";
    switch (code) {
    case NSFileNoSuchFileError:
    case NSFileReadNoSuchFileError: return "The file " + name + " couldn\u2019t be opened because there is no such file.";
    case NSFileWriteFileExistsError: return "The file " + name + " couldn\u2019t be saved because a file with the same name already exists.";
    case NSFileWriteNoPermissionError: return "You don\u2019t have permission to save the file " + name + ".";
    case NSFileReadNoPermissionError: return "The file " + name + " couldn\u2019t be opened because you don\u2019t have permission to view it.";
    case NSFileWriteOutOfSpaceError: return "The file " + name + " couldn\u2019t be saved because there isn\u2019t enough space.";
    case NSFileWriteVolumeReadOnlyError: return "The file " + name + " couldn\u2019t be saved because the volume is read only.";
    default: return "The file " + name + " couldn\u2019t be accessed.";
    }
}

bool fileError(NSErrorPtr* error, long code, int err, const std::string& path) {
    if (!error) return false;
    Value::Dictionary info{{NSFilePathErrorKey, path}, {NSLocalizedDescriptionKey, describe(code, path)}};
    if (err) info.set(NSUnderlyingErrorKey, Value(NSError::posix(err, path)));
    *error = NSError::errorWithDomain(NSCocoaErrorDomain, code, info);
    return false;
}

bool errnoError(NSErrorPtr* error, int err, const std::string& path, bool writing) {
    return fileError(error, cocoaCodeForErrno(err, writing), err, path);
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The registry of backup marks on file systems without user extended attributes.
std::string backupRegistryPath() { return Sandbox::library() + "/.excluded-from-backup.plist"; }

std::set<std::string> loadBackupRegistry() {
    std::set<std::string> paths;
    const std::string file = backupRegistryPath();
    if (!exists(file)) return paths;
    const Value list = NSPropertyListSerialization::propertyListWithContentsOfFile(file);
    for (const Value& item : list.array())
        if (item.isString()) paths.insert(item.string());
    return paths;
}

bool saveBackupRegistry(const std::set<std::string>& paths, NSErrorPtr* error) {
    Value::Array list;
    for (const auto& path : paths) list.emplace_back(path);
    return NSPropertyListSerialization::writePropertyList(Value(std::move(list)), backupRegistryPath(),
                                                          NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0,
                                                          error);
}

// Keeps registry entries pointing at items that were moved or removed through this layer.
void updateBackupRegistry(const std::string& from, const std::string* to) {
    std::lock_guard lock(backupMutex);
    std::set<std::string> paths = loadBackupRegistry();
    std::set<std::string> updated;
    bool changed = false;
    for (const auto& path : paths) {
        if (!isUnder(path, from)) {
            updated.insert(path);
            continue;
        }
        changed = true;
        if (to) updated.insert(*to + path.substr(from.size()));
    }
    if (changed) saveBackupRegistry(updated, nullptr);
}

bool copyRecursively(const std::string& source, const std::string& destination, NSErrorPtr* error) {
    std::error_code ec;
    fs::copy(source, destination, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove_all(destination, ignored);
        return errnoError(error, ec.value(), destination, true);
    }
    return true;
}

}  // namespace

std::shared_ptr<NSFileManager> NSFileManager::defaultManager() {
    // Never destroyed, so work still running at exit can reach it.
    static const auto* shared = new std::shared_ptr<NSFileManager>(std::make_shared<NSFileManager>());
    return *shared;
}

bool NSFileManager::fileExistsAtPath(const std::string& path) const { return fileExistsAtPath(path, nullptr); }

bool NSFileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) const {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return false;
    if (isDirectory) *isDirectory = S_ISDIR(info.st_mode);
    return true;
}

bool NSFileManager::isWritableFileAtPath(const std::string& path) const {
    return !path.empty() && ::access(path.c_str(), W_OK) == 0 && !isImmutableItem(path);
}

bool NSFileManager::isImmutableOrInImmutableFolder(const std::string& path) const {
    if (!anyImmutable()) return false;
    return isImmutableItem(path) || isImmutableItem(parentOf(path));
}

bool NSFileManager::createDirectoryAtPath(const std::string& path, bool withIntermediateDirectories,
                                          const Value::Dictionary& attributes, NSErrorPtr* error) {
    if (path.empty()) return fileError(error, NSFileNoSuchFileError, ENOENT, path);
    bool isDirectory = false;
    if (fileExistsAtPath(path, &isDirectory)) {
        if (isDirectory && withIntermediateDirectories) return true;
        return fileError(error, NSFileWriteFileExistsError, EEXIST, path);
    }
    if (isImmutableOrInImmutableFolder(path)) return errnoError(error, EPERM, path, true);
    if (withIntermediateDirectories) {
        std::error_code ec;
        fs::create_directories(path, ec);
        if (ec) return errnoError(error, ec.value(), path, true);
    } else if (::mkdir(path.c_str(), 0755) != 0) {
        return errnoError(error, errno, path, true);
    }
    return attributes.empty() || setAttributes(attributes, path, error);
}

std::optional<std::vector<std::string>> NSFileManager::contentsOfDirectoryAtPath(const std::string& path,
                                                                                 NSErrorPtr* error) const {
    DIR* dir = ::opendir(path.c_str());
    if (!dir) {
        errnoError(error, errno, path, false);
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool NSFileManager::copyItemAtPath(const std::string& source, const std::string& destination, NSErrorPtr* error) {
    if (!exists(source)) return fileError(error, NSFileNoSuchFileError, ENOENT, source);
    if (exists(destination)) return fileError(error, NSFileWriteFileExistsError, EEXIST, destination);
    if (isImmutableItem(parentOf(destination))) return errnoError(error, EPERM, destination, true);
    return copyRecursively(source, destination, error);
}

bool NSFileManager::moveItemAtPath(const std::string& source, const std::string& destination, NSErrorPtr* error) {
    if (!exists(source)) return fileError(error, NSFileNoSuchFileError, ENOENT, source);
    if (exists(destination)) return fileError(error, NSFileWriteFileExistsError, EEXIST, destination);
    if (isImmutableOrInImmutableFolder(source) || isImmutableItem(parentOf(destination)))
        return errnoError(error, EPERM, source, true);

    // No-replace rename closes the gap between the check above and the move.
    int rc = ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) rc = ::rename(source.c_str(), destination.c_str());
    if (rc != 0) {
        const int err = errno;
        if (err == EEXIST) return fileError(error, NSFileWriteFileExistsError, EEXIST, destination);
        if (err != EXDEV) return errnoError(error, err, source, true);
        // Another file system: copy, then remove the original.
        if (!copyRecursively(source, destination, error)) return false;
        std::error_code ec;
        fs::remove_all(source, ec);
        if (ec) return errnoError(error, ec.value(), source, true);
    }
    const std::string from = normalized(source), to = normalized(destination);
    updateBackupRegistry(from, &to);
    return true;
}

bool NSFileManager::removeItemAtPath(const std::string& path, NSErrorPtr* error) {
    if (path.empty() || !exists(path)) return fileError(error, NSFileNoSuchFileError, ENOENT, path);
    if (isImmutableItem(parentOf(path))) return errnoError(error, EPERM, path, true);
    if (const auto locked = immutableWithin(path)) return errnoError(error, EPERM, *locked, true);
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) return errnoError(error, ec.value(), path, true);
    updateBackupRegistry(normalized(path), nullptr);
    return true;
}

std::optional<Value::Dictionary> NSFileManager::attributesOfItemAtPath(const std::string& path,
                                                                       NSErrorPtr* error) const {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        errnoError(error, errno, path, false);
        return std::nullopt;
    }
    const char* type = S_ISREG(info.st_mode)   ? NSFileTypeRegular
                       : S_ISDIR(info.st_mode) ? NSFileTypeDirectory
                       : S_ISLNK(info.st_mode) ? NSFileTypeSymbolicLink
                                               : NSFileTypeUnknown;
    const double modified = static_cast<double>(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec / 1e9;
    bool immutable = false;
    {
        std::lock_guard lock(immutableMutex);
        immutable = immutableInodes().count({info.st_dev, info.st_ino}) != 0;
    }
    return Value::Dictionary{
        {NSFileSize, Value(static_cast<unsigned long long>(info.st_size))},
        {NSFileModificationDate, Value(NSDate{modified})},
        {NSFileType, Value(type)},
        {NSFilePosixPermissions, Value(static_cast<long>(info.st_mode & 07777))},
        {NSFileImmutable, Value(immutable)},
    };
}

bool NSFileManager::setAttributes(const Value::Dictionary& attributes, const std::string& path, NSErrorPtr* error) {
    const auto key = inodeOf(path);
    if (!key) return fileError(error, NSFileNoSuchFileError, ENOENT, path);
    const Value* immutable = attributes.find(NSFileImmutable);

    // Clearing comes first so the same call may then change the item; setting comes last.
    if (immutable && !immutable->boolValue()) {
        std::lock_guard lock(immutableMutex);
        immutableInodes().erase(*key);
    }
    const bool otherChanges = attributes.contains(NSFilePosixPermissions) || attributes.contains(NSFileModificationDate);
    if (otherChanges && isImmutableItem(path)) return errnoError(error, EPERM, path, true);
    if (const Value* permissions = attributes.find(NSFilePosixPermissions)) {
        if (::chmod(path.c_str(), static_cast<mode_t>(permissions->integerValue() & 07777)) != 0)
            return errnoError(error, errno, path, true);
    }
    if (const Value* modified = attributes.find(NSFileModificationDate)) {
        const double seconds = modified->isDate() ? modified->date().timeIntervalSince1970 : modified->doubleValue();
        timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(std::floor(seconds));
        times[1].tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
        if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            return errnoError(error, errno, path, true);
    }
    if (immutable && immutable->boolValue()) {
        std::lock_guard lock(immutableMutex);
        immutableInodes().insert(*key);
    }
    return true;
}

std::optional<Value::Dictionary> NSFileManager::attributesOfFileSystemForPath(const std::string& path,
                                                                              NSErrorPtr* error) const {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) {
        errnoError(error, errno, path, false);
        return std::nullopt;
    }
    const auto unit = static_cast<unsigned long long>(info.f_frsize ? info.f_frsize : info.f_bsize);
    return Value::Dictionary{
        {NSFileSystemSize, Value(static_cast<unsigned long long>(info.f_blocks) * unit)},
        {NSFileSystemFreeSize, Value(static_cast<unsigned long long>(info.f_bavail) * unit)},
        {NSFileSystemNodes, Value(static_cast<unsigned long long>(info.f_files))},
        {NSFileSystemFreeNodes, Value(static_cast<unsigned long long>(info.f_favail))},
    };
}

bool NSFileManager::createFileAtPath(const std::string& path, const NSData& contents,
                                     const Value::Dictionary& attributes) {
    if (!writeDataToFile(contents, path, true)) return false;
    return attributes.empty() || setAttributes(attributes, path);
}

std::optional<NSData> NSFileManager::contentsAtPath(const std::string& path) const { return readDataFromFile(path); }

bool NSFileManager::setExcludedFromBackup(bool excluded, const std::string& path, NSErrorPtr* error) {
    if (!exists(path)) return fileError(error, NSFileNoSuchFileError, ENOENT, path);
    if (usesExtendedAttributes.load()) {
        const std::uint8_t flag = 1;
        const int rc = excluded ? ::setxattr(path.c_str(), kExcludedFromBackupAttribute, &flag, 1, 0)
                                : ::removexattr(path.c_str(), kExcludedFromBackupAttribute);
        if (rc == 0 || (!excluded && errno == ENODATA)) {
            if (!excluded) updateBackupRegistry(normalized(path), nullptr);
            return true;
        }
        if (errno != ENOTSUP && errno != EPERM && errno != EACCES)
            return errnoError(error, errno, path, true);
    }
    const std::string key = normalized(path);
    std::lock_guard lock(backupMutex);
    std::set<std::string> paths = loadBackupRegistry();
    const bool changed = excluded ? paths.insert(key).second : paths.erase(key) != 0;
    return !changed || saveBackupRegistry(paths, error);
}

bool NSFileManager::isExcludedFromBackup(const std::string& path) const {
    if (!exists(path)) return false;
    if (usesExtendedAttributes.load()) {
        std::uint8_t flag = 0;
        const ssize_t n = ::getxattr(path.c_str(), kExcludedFromBackupAttribute, &flag, 1);
        if (n > 0) return flag != 0;
    }
    std::lock_guard lock(backupMutex);
    return loadBackupRegistry().count(normalized(path)) != 0;
}

void NSFileManager::setUsesExtendedAttributes(bool uses) { usesExtendedAttributes.store(uses); }
