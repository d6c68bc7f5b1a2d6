// File-system operations through FileIO, with errors in the platform's Cocoa codes.
// Immutability is kept here per inode (chattr needs privileges CI lacks); the backup mark
// uses an extended attribute and falls back to a small registry file.
#include "platform/foundation/NSFileManager.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
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
Mutex immutableMutex;
Mutex backupMutex;
std::set<InodeKey>& immutableInodes() REQUIRES(immutableMutex) {
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

std::optional<struct stat> statusOf(const std::string& path, bool followLinks) {
    struct stat info {};
    if (FileIO::current()->status(path, followLinks, info) != 0) return std::nullopt;
    return info;
}

bool exists(const std::string& path) { return statusOf(path, false).has_value(); }

std::optional<InodeKey> inodeOf(const std::string& path) {
    const auto info = statusOf(path, false);
    if (!info) return std::nullopt;
    return InodeKey{info->st_dev, info->st_ino};
}

bool isImmutableItem(const std::string& path) {
    const auto key = inodeOf(path);
    if (!key) return false;
    MutexLock lock(immutableMutex);
    return immutableInodes().count(*key) != 0;
}

bool anyImmutable() {
    MutexLock lock(immutableMutex);
    return !immutableInodes().empty();
}

// The first immutable item at or below `path`, if any.
std::optional<std::string> immutableBelow(FileIO& io, const std::string& path) {
    if (isImmutableItem(path)) return path;
    struct stat info {};
    std::vector<std::string> names;
    if (io.status(path, false, info) != 0 || !S_ISDIR(info.st_mode) || io.listFolder(path, names) != 0)
        return std::nullopt;
    for (const std::string& name : names)
        if (auto found = immutableBelow(io, path + "/" + name)) return found;
    return std::nullopt;
}

std::optional<std::string> immutableWithin(const std::string& path) {
    if (!anyImmutable()) return std::nullopt;
    return immutableBelow(*FileIO::current(), path);
}

bool fileError(NSErrorPtr* error, long code, int err, const std::string& path) {
    setError(error, fileErrorWithCode(code, path, err));
    return false;
}

bool errnoError(NSErrorPtr* error, int err, const std::string& path, bool writing) {
    setError(error, fileErrorForErrno(err, path, writing));
    return false;
}

// A folder with everything in it, depth first; 0 or the first errno.
int removeTree(FileIO& io, const std::string& path) {
    struct stat info {};
    if (const int err = io.status(path, false, info)) return err;
    if (S_ISDIR(info.st_mode)) {
        std::vector<std::string> names;
        if (const int err = io.listFolder(path, names)) return err;
        for (const std::string& name : names)
            if (const int err = removeTree(io, path + "/" + name)) return err;
    }
    return io.remove(path);
}

// Where a copy stopped: the errno, and whether reading the source or writing the copy failed.
struct CopyFailure {
    int err = 0;
    bool reading = false;
};

CopyFailure copyFile(FileIO& io, const std::string& source, const std::string& destination, mode_t mode) {
    int in = -1;
    if (const int err = io.open(source, O_RDONLY, 0, in)) return {err, true};
    int out = -1;
    CopyFailure failure{io.open(destination, O_WRONLY | O_CREAT | O_EXCL, 0600, out), false};
    if (!failure.err) {
        std::vector<std::uint8_t> buffer(1 << 16);
        for (;;) {
            std::size_t got = 0;
            if (const int err = io.read(in, buffer.data(), buffer.size(), got)) {
                failure = {err, true};
                break;
            }
            if (got == 0) break;
            if (const int err = io.write(out, buffer.data(), got)) {
                failure = {err, false};
                break;
            }
        }
        // On disk before anyone renames the copy into place: a crash must not leave a short file
        // under the final name.
        if (!failure.err) failure = {io.sync(out), false};
        const int closeError = io.close(out);
        if (!failure.err && closeError) failure = {closeError, false};
        if (!failure.err) failure = {io.setMode(destination, mode), false};
    }
    // Nothing written through the source's descriptor can be lost on close.
    (void)io.close(in);
    return failure;
}

CopyFailure copyItem(FileIO& io, const std::string& source, const std::string& destination, bool followLink = false) {
    struct stat info {};
    if (const int err = io.status(source, followLink, info)) return {err, true};
    if (S_ISLNK(info.st_mode)) {
        // A link holds no data to run out of space on; it is made as it is.
        std::error_code ec;
        fs::copy_symlink(source, destination, ec);
        return {ec.value(), false};
    }
    if (S_ISDIR(info.st_mode)) {
        // Made private while it fills, then given the source's mode, which may forbid writing into it.
        if (const int err = io.makeFolder(destination, 0700)) return {err, false};
        std::vector<std::string> names;
        if (const int err = io.listFolder(source, names)) return {err, true};
        for (const std::string& name : names) {
            const CopyFailure failure = copyItem(io, source + "/" + name, destination + "/" + name);
            if (failure.err) return failure;
        }
        return {io.setMode(destination, info.st_mode & 07777), false};
    }
    if (!S_ISREG(info.st_mode)) return {ENOTSUP, true};
    return copyFile(io, source, destination, info.st_mode & 07777);
}

bool copyTree(const std::string& source, const std::string& destination, NSErrorPtr* error, bool followLink = false) {
    const auto io = FileIO::current();
    const CopyFailure failure = copyItem(*io, source, destination, followLink);
    if (!failure.err) return true;
    // No partial copy stays behind; what cannot be removed is left to the caller's next attempt,
    // which fails on it as an existing destination.
    (void)removeTree(*io, destination);
    return failure.reading ? errnoError(error, failure.err, source, false)
                           : errnoError(error, failure.err, destination, true);
}

// The registry of backup marks on file systems without user extended attributes.
std::string backupRegistryPath() { return Sandbox::library() + "/.excluded-from-backup.plist"; }

// Both with backupMutex held: it keeps a read and the write after it together.
std::set<std::string> loadBackupRegistry() REQUIRES(backupMutex) {
    std::set<std::string> paths;
    const std::string file = backupRegistryPath();
    if (!exists(file)) return paths;
    NSErrorPtr error;
    const Value list = NSPropertyListSerialization::propertyListWithContentsOfFile(file, &error);
    if (error)
        Diagnostics::notef("The backup marks in %s could not be read: %s", file.c_str(),
                           error->localizedDescription().c_str());
    for (const Value& item : list.array())
        if (item.isString()) paths.insert(item.string());
    return paths;
}

bool saveBackupRegistry(const std::set<std::string>& paths, NSErrorPtr* error) REQUIRES(backupMutex) {
    Value::Array list;
    for (const auto& path : paths) list.emplace_back(path);
    return NSPropertyListSerialization::writePropertyList(Value(std::move(list)), backupRegistryPath(),
                                                          NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0,
                                                          error);
}

// Keeps registry entries pointing at items that were moved or removed through this layer.
void updateBackupRegistry(const std::string& from, const std::string* to) {
    MutexLock lock(backupMutex);
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
    NSErrorPtr error;
    // The move or removal itself succeeded; a stale mark only costs a backup exclusion.
    if (changed && !saveBackupRegistry(updated, &error))
        Diagnostics::notef("The backup marks could not be updated after a change under %s: %s", from.c_str(),
                           error ? error->localizedDescription().c_str() : "unknown error");
}

}  // namespace

std::shared_ptr<NSFileManager> NSFileManager::defaultManager() {
    // Never destroyed, so work still running at exit can reach it.
    static const auto* shared = new std::shared_ptr<NSFileManager>(std::make_shared<NSFileManager>());
    return *shared;
}

bool NSFileManager::fileExistsAtPath(const std::string& path) const { return fileExistsAtPath(path, nullptr); }

bool NSFileManager::fileExistsAtPath(const std::string& path, bool* isDirectory) const {
    if (path.empty()) return false;
    const auto info = statusOf(path, true);
    if (!info) return false;
    if (isDirectory) *isDirectory = S_ISDIR(info->st_mode);
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
    const auto io = FileIO::current();
    const int err = withIntermediateDirectories ? io->makeFolders(path, 0755)
                                                : file_detail::makeLastingFolder(*io, path, 0755);
    if (err) return errnoError(error, err, path, true);
    return attributes.empty() || setAttributes(attributes, path, error);
}

std::optional<std::vector<std::string>> NSFileManager::contentsOfDirectoryAtPath(const std::string& path,
                                                                                 NSErrorPtr* error) const {
    std::vector<std::string> names;
    if (const int err = FileIO::current()->listFolder(path, names)) {
        errnoError(error, err, path, false);
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool NSFileManager::copyItemAtPath(const std::string& source, const std::string& destination, NSErrorPtr* error) {
    if (!exists(source)) return fileError(error, NSFileNoSuchFileError, ENOENT, source);
    if (exists(destination)) return fileError(error, NSFileWriteFileExistsError, EEXIST, destination);
    if (isImmutableItem(parentOf(destination))) return errnoError(error, EPERM, destination, true);
    return copyTree(source, destination, error);
}

bool NSFileManager::copyContentsOfItemAtPath(const std::string& source, const std::string& destination,
                                             NSErrorPtr* error) {
    if (!statusOf(source, true)) return fileError(error, NSFileNoSuchFileError, ENOENT, source);
    if (exists(destination)) return fileError(error, NSFileWriteFileExistsError, EEXIST, destination);
    if (isImmutableItem(parentOf(destination))) return errnoError(error, EPERM, destination, true);
    return copyTree(source, destination, error, true);
}

bool NSFileManager::moveItemAtPath(const std::string& source, const std::string& destination, NSErrorPtr* error) {
    if (!exists(source)) return fileError(error, NSFileNoSuchFileError, ENOENT, source);
    if (exists(destination)) return fileError(error, NSFileWriteFileExistsError, EEXIST, destination);
    if (isImmutableOrInImmutableFolder(source) || isImmutableItem(parentOf(destination)))
        return errnoError(error, EPERM, source, true);

    // No-replace rename closes the gap between the check above and the move.
    const auto io = FileIO::current();
    if (const int err = io->rename(source, destination, false)) {
        if (err == EEXIST) return fileError(error, NSFileWriteFileExistsError, EEXIST, destination);
        if (err != EXDEV) return errnoError(error, err, source, true);
        // Another file system: copy, then remove the original.
        if (!copyTree(source, destination, error)) return false;
        if (const int removeError = removeTree(*io, source)) return errnoError(error, removeError, source, true);
    }
    const std::string from = normalized(source), to = normalized(destination);
    updateBackupRegistry(from, &to);
    return true;
}

bool NSFileManager::removeItemAtPath(const std::string& path, NSErrorPtr* error) {
    if (path.empty() || !exists(path)) return fileError(error, NSFileNoSuchFileError, ENOENT, path);
    if (isImmutableItem(parentOf(path))) return errnoError(error, EPERM, path, true);
    if (const auto locked = immutableWithin(path)) return errnoError(error, EPERM, *locked, true);
    if (const int err = removeTree(*FileIO::current(), path)) return errnoError(error, err, path, true);
    updateBackupRegistry(normalized(path), nullptr);
    return true;
}

std::optional<Value::Dictionary> NSFileManager::attributesOfItemAtPath(const std::string& path,
                                                                       NSErrorPtr* error) const {
    struct stat info {};
    if (const int err = FileIO::current()->status(path, false, info)) {
        errnoError(error, err, path, false);
        return std::nullopt;
    }
    const char* type = S_ISREG(info.st_mode)   ? NSFileTypeRegular
                       : S_ISDIR(info.st_mode) ? NSFileTypeDirectory
                       : S_ISLNK(info.st_mode) ? NSFileTypeSymbolicLink
                                               : NSFileTypeUnknown;
    const double modified = static_cast<double>(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec / 1e9;
    bool immutable = false;
    {
        MutexLock lock(immutableMutex);
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
        MutexLock lock(immutableMutex);
        immutableInodes().erase(*key);
    }
    const bool otherChanges = attributes.contains(NSFilePosixPermissions) || attributes.contains(NSFileModificationDate);
    if (otherChanges && isImmutableItem(path)) return errnoError(error, EPERM, path, true);
    if (const Value* permissions = attributes.find(NSFilePosixPermissions)) {
        const auto mode = static_cast<mode_t>(permissions->integerValue() & 07777);
        if (const int err = FileIO::current()->setMode(path, mode)) return errnoError(error, err, path, true);
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
        MutexLock lock(immutableMutex);
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
    MutexLock lock(backupMutex);
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
    MutexLock lock(backupMutex);
    return loadBackupRegistry().count(normalized(path)) != 0;
}

void NSFileManager::setUsesExtendedAttributes(bool uses) { usesExtendedAttributes.store(uses); }
