// The POSIX file operations and the process-wide slot that holds the instance in use.
#include "platform/foundation/FileIO.h"

#include "platform/foundation/ThreadAnnotations.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace {

class PosixFileIO final : public FileIO {
public:
    int open(const std::string& path, int flags, mode_t mode, int& fd) override {
        // Never waits: a FIFO by the name would hold a plain open until its other end came.
        do fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
        while (fd < 0 && errno == EINTR);
        if (fd < 0) return errno;
        if (flags & O_NONBLOCK) return 0;
        // A file or a folder blocks again, as asked; anything else stays as it is, so that
        // reading or writing it answers at once too.
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) return 0;
        const int status = ::fcntl(fd, F_GETFL);
        if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
            const int err = errno;
            ::close(fd);
            fd = -1;
            return err;
        }
        return 0;
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

    int readAt(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        for (;;) {
            const ssize_t n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
            if (n >= 0) {
                got = static_cast<std::size_t>(n);
                return 0;
            }
            if (errno != EINTR) return errno;
        }
    }

    int writeAt(int fd, std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) override {
        std::size_t written = 0;
        while (written < size) {
            const ssize_t n = ::pwrite(fd, bytes + written, size - written, static_cast<off_t>(offset + written));
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            // A disk that takes nothing more without saying why is a full one.
            if (n == 0) return ENOSPC;
            written += static_cast<std::size_t>(n);
        }
        return 0;
    }

    int truncate(int fd, std::uint64_t size) override {
        for (;;) {
            if (::ftruncate(fd, static_cast<off_t>(size)) == 0) return 0;
            if (errno != EINTR) return errno;
        }
    }

    int statusOf(int fd, struct stat& info) override { return ::fstat(fd, &info) == 0 ? 0 : errno; }

    int lock(int fd, short type, std::uint64_t start, std::uint64_t length) override {
        struct flock range = rangeOf(type, start, length);
        for (;;) {
            if (::fcntl(fd, F_OFD_SETLK, &range) == 0) return 0;
            if (errno == EINTR) continue;
            return errno == EACCES ? EAGAIN : errno;
        }
    }

    int lockedElsewhere(int fd, short type, std::uint64_t start, std::uint64_t length, bool& locked) override {
        struct flock range = rangeOf(type, start, length);
        if (::fcntl(fd, F_OFD_GETLK, &range) != 0) return errno;
        locked = range.l_type != F_UNLCK;
        return 0;
    }

private:
    static struct flock rangeOf(short type, std::uint64_t start, std::uint64_t length) {
        struct flock range {};
        range.l_type = type;
        range.l_whence = SEEK_SET;
        range.l_start = static_cast<off_t>(start);
        range.l_len = static_cast<off_t>(length);
        return range;  // l_pid stays 0, as open-file locks require
    }
};

Mutex slotMutex;

// Never destroyed: writer threads still finishing at exit may ask for it.
std::shared_ptr<FileIO>& slot() REQUIRES(slotMutex) {
    static auto* io = new std::shared_ptr<FileIO>(FileIO::posix());
    return *io;
}

}  // namespace

std::string file_detail::folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int file_detail::makeLastingFolder(FileIO& io, const std::string& path, mode_t mode) {
    if (const int err = io.makeFolder(path, mode)) return err;
    // "a/b/" names b inside a, as "a/b" does.
    const auto end = path.find_last_not_of('/');
    const int err = io.syncFolderOf(path.substr(0, end == std::string::npos ? 1 : end + 1));
    // A parent this process may write in but not read cannot be opened to be synced.
    return err == EACCES || err == EPERM ? 0 : err;
}

int file_detail::openRegular(FileIO& io, const std::string& path, int& fd, struct stat& info) {
    const auto notRegular = [&] { return S_ISDIR(info.st_mode) ? EISDIR : ENOTSUP; };
    if (const int err = io.status(path, true, info)) return err;
    if (!S_ISREG(info.st_mode)) return notRegular();
    // Left non-blocking: a regular file reads the same either way, and a file swapped in meanwhile
    // is turned away below before it is read, so the open need not make it blocking again.
    if (const int err = io.open(path, O_RDONLY | O_NONBLOCK, 0, fd)) return err;
    int err = io.statusOf(fd, info);
    if (!err && !S_ISREG(info.st_mode)) err = notRegular();
    if (err) {
        (void)io.close(fd);
        fd = -1;
    }
    return err;
}

std::shared_ptr<FileIO> FileIO::posix() {
    static const auto* io = new std::shared_ptr<FileIO>(std::make_shared<PosixFileIO>());
    return *io;
}

std::shared_ptr<FileIO> FileIO::current() {
    MutexLock lock(slotMutex);
    return slot();
}

int FileIO::freeBytes(const std::string& path, std::uint64_t& bytes) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return errno;
    bytes = static_cast<std::uint64_t>(info.f_bavail) * (info.f_frsize ? info.f_frsize : info.f_bsize);
    return 0;
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
    const int err = file_detail::makeLastingFolder(*this, path, mode);
    // Another thread or process may have made it in the meantime.
    if (err == EEXIST && status(path, true, info) == 0 && S_ISDIR(info.st_mode)) return 0;
    return err;
}

int FileIO::syncFolderOf(const std::string& path) {
    int fd = -1;
    if (const int err = open(file_detail::folderOf(path), O_RDONLY | O_DIRECTORY, 0, fd)) return err;
    const int err = sync(fd);
    (void)close(fd);
    return err;
}

int FileIO::createUnique(const std::string& prefix, const std::string& suffix, int& fd, std::string& path) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < 6; ++i) name += alphabet[generator() % (sizeof alphabet - 1)];
        name += suffix;
        err = open(name, O_WRONLY | O_CREAT | O_EXCL, 0600, fd);
        if (!err) path = std::move(name);
    }
    return err;
}

int FileIO::moveAside(const std::string& path, Unwanted unwanted, std::string& movedTo) {
    movedTo.clear();
    // No bound on the names tried: a folder holds finitely many entries, so a free one always
    // comes, and whatever needs the place is never kept out because earlier runs used names up.
    std::uint64_t attempt = 1;
    int vanished = 0;
    for (;;) {
        struct stat info {};
        if (status(path, false, info) != 0) return 0;
        const bool stays = unwanted == Unwanted::Links ? !S_ISLNK(info.st_mode) : S_ISREG(info.st_mode);
        if (stays) return 0;
        const std::string aside = path + ".moved" + (attempt == 1 ? std::string() : "-" + std::to_string(attempt));
        const int err = rename(path, aside, false);
        if (!err) {
            movedTo = aside;
            return 0;
        }
        if (err == EEXIST) {
            ++attempt;
            continue;
        }
        // Gone in the meantime (another run moved it): what is there now is judged afresh, a
        // few times, so that a rename that keeps saying so cannot hold the caller forever.
        if (err != ENOENT || ++vanished > 8) return err;
    }
}

ScopedFileIO::ScopedFileIO(std::shared_ptr<FileIO> io) {
    MutexLock lock(slotMutex);
    previous_ = std::exchange(slot(), std::move(io));
}

ScopedFileIO::~ScopedFileIO() {
    MutexLock lock(slotMutex);
    slot() = std::move(previous_);
}
