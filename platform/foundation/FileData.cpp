// Whole-file reads and writes. An atomic write goes to a temporary file in the same folder,
// is flushed to disk and then renamed over the destination, so a crash at any point leaves
// the old file or the new one, never a mixture.
#include "platform/foundation/FileData.h"

#include "platform/foundation/NSFileManager.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool writeAll(int fd, const NSData& data) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

std::string parentFolder(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool fail(NSErrorPtr* error, int err, const std::string& path) {
    setError(error, NSError::posix(err, path));
    return false;
}

bool writeInPlace(const NSData& data, const std::string& path, NSErrorPtr* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail(error, errno, path);
    if (!writeAll(fd, data)) {
        const int err = errno;
        ::close(fd);
        return fail(error, err, path);
    }
    if (::close(fd) != 0) return fail(error, errno, path);
    return true;
}

bool writeAtomically(const NSData& data, const std::string& path, NSErrorPtr* error) {
    const std::string folder = parentFolder(path);
    const auto slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "/." + name + ".XXXXXX";
    std::vector<char> tempPath(pattern.begin(), pattern.end());
    tempPath.push_back('\0');

    const int fd = ::mkstemp(tempPath.data());
    if (fd < 0) return fail(error, errno, path);
    auto abandon = [&](int err) {
        ::close(fd);
        ::unlink(tempPath.data());
        return fail(error, err, path);
    };

    // mkstemp makes the file private; keep the mode of the file being replaced, else the usual one.
    struct stat existing {};
    const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0644;
    if (::fchmod(fd, mode) != 0) return abandon(errno);
    if (!writeAll(fd, data)) return abandon(errno);
    if (::fsync(fd) != 0) return abandon(errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tempPath.data());
        return fail(error, err, path);
    }
    if (::rename(tempPath.data(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tempPath.data());
        return fail(error, err, path);
    }
    // The rename itself is only durable once the folder is flushed; failing here changes nothing.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

}  // namespace

std::optional<NSData> readDataFromFile(const std::string& path, NSErrorPtr* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setError(error, NSError::posix(errno, path));
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        const int err = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd);
        setError(error, NSError::posix(err, path));
        return std::nullopt;
    }
    NSData data;
    if (info.st_size > 0) data.reserve(static_cast<std::size_t>(info.st_size));
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            setError(error, NSError::posix(err, path));
            return std::nullopt;
        }
        data.insert(data.end(), buffer, buffer + n);
    }
    ::close(fd);
    return data;
}

bool writeDataToFile(const NSData& data, const std::string& path, bool atomically, NSErrorPtr* error) {
    // Items marked immutable through the file manager refuse writes as the kernel flag would.
    if (NSFileManager::defaultManager()->isImmutableOrInImmutableFolder(path)) return fail(error, EPERM, path);
    return atomically ? writeAtomically(data, path, error) : writeInPlace(data, path, error);
}
