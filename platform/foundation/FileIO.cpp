// The POSIX file operations and the process-wide slot that holds the instance in use.
#include "platform/foundation/FileIO.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <utility>

namespace {

class PosixFileIO final : public FileIO {
public:
    int open(const std::string& path, int flags, mode_t mode, int& fd) override {
        do fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
        while (fd < 0 && errno == EINTR);
        return fd < 0 ? errno : 0;
    }

    int read(int fd, std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        for (;;) {
            const ssize_t n = ::read(fd, buffer, size);
            if (n >= 0) {
                got = static_cast<std::size_t>(n);
                return 0;
            }
            if (errno != EINTR) return errno;
        }
    }

    int write(int fd, const std::uint8_t* bytes, std::size_t size) override {
        std::size_t written = 0;
        while (written < size) {
            const ssize_t n = ::write(fd, bytes + written, size - written);
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            written += static_cast<std::size_t>(n);
        }
        return 0;
    }

    int sync(int fd) override { return ::fsync(fd) == 0 ? 0 : errno; }

    int close(int fd) override { return ::close(fd) == 0 ? 0 : errno; }

    int rename(const std::string& from, const std::string& to, bool replace) override {
        if (replace) return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
        if (errno != EINVAL && errno != ENOSYS) return errno;
        // File systems without the no-replace flag: check, then rename (a small window remains).
        struct stat info {};
        if (::lstat(to.c_str(), &info) == 0) return EEXIST;
        return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
    }

    int remove(const std::string& path) override { return ::remove(path.c_str()) == 0 ? 0 : errno; }

    int makeFolder(const std::string& path, mode_t mode) override {
        return ::mkdir(path.c_str(), mode) == 0 ? 0 : errno;
    }

    int listFolder(const std::string& path, std::vector<std::string>& names) override {
        DIR* dir = ::opendir(path.c_str());
        if (!dir) return errno;
        names.clear();
        errno = 0;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        const int err = errno;
        ::closedir(dir);
        return err;
    }

    int status(const std::string& path, bool followLinks, struct stat& info) override {
        const int rc = followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
        return rc == 0 ? 0 : errno;
    }

    int setMode(const std::string& path, mode_t mode) override {
        return ::chmod(path.c_str(), mode) == 0 ? 0 : errno;
    }
};

std::mutex slotMutex;

// Never destroyed: writer threads still finishing at exit may ask for it.
std::shared_ptr<FileIO>& slot() {
    static auto* io = new std::shared_ptr<FileIO>(FileIO::posix());
    return *io;
}

}  // namespace

std::shared_ptr<FileIO> FileIO::posix() {
    static const auto* io = new std::shared_ptr<FileIO>(std::make_shared<PosixFileIO>());
    return *io;
}

std::shared_ptr<FileIO> FileIO::current() {
    std::lock_guard lock(slotMutex);
    return slot();
}

int FileIO::makeFolders(const std::string& path, mode_t mode) {
    if (path.empty()) return ENOENT;
    struct stat info {};
    if (status(path, true, info) == 0) return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    const auto slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        const int err = makeFolders(path.substr(0, slash), mode);
        if (err) return err;
    }
    const int err = makeFolder(path, mode);
    // Another thread or process may have made it in the meantime.
    if (err == EEXIST && status(path, true, info) == 0 && S_ISDIR(info.st_mode)) return 0;
    return err;
}

ScopedFileIO::ScopedFileIO(std::shared_ptr<FileIO> io) {
    std::lock_guard lock(slotMutex);
    previous_ = std::exchange(slot(), std::move(io));
}

ScopedFileIO::~ScopedFileIO() {
    std::lock_guard lock(slotMutex);
    slot() = std::move(previous_);
}
