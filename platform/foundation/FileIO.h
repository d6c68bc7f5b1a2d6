// The file and folder operations the foundation's readers and writers make, behind one small
// interface: POSIX by default, replaceable process-wide so tests can inject faults.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class FileIO {
public:
    virtual ~FileIO() = default;

    // The instance in use: the POSIX one unless a ScopedFileIO installed another. Callers keep
    // the pointer for the length of one operation, so an uninstall never pulls it from under them.
    static std::shared_ptr<FileIO> current();
    // The POSIX one, for doubles that wrap it.
    static std::shared_ptr<FileIO> posix();

    // Each returns 0 on success or an errno value.
    // Never waits for the other end of a FIFO: a FIFO or a device by the name opens at once (a
    // FIFO without a reader refuses a writer with ENXIO) and stays non-blocking; a regular file
    // or a folder blocks as the flags say.
    [[nodiscard]] virtual int open(const std::string& path, int flags, mode_t mode, int& fd) = 0;
    // Up to `size` bytes; `got` is 0 at the end of the file.
    [[nodiscard]] virtual int read(int fd, std::uint8_t* buffer, std::size_t size, std::size_t& got) = 0;
    // All `size` bytes, or an error.
    [[nodiscard]] virtual int write(int fd, const std::uint8_t* bytes, std::size_t size) = 0;
    [[nodiscard]] virtual int sync(int fd) = 0;
    [[nodiscard]] virtual int close(int fd) = 0;
    // Without `replace`, an existing destination fails with EEXIST.
    [[nodiscard]] virtual int rename(const std::string& from, const std::string& to, bool replace) = 0;
    // A file, a link or an empty folder.
    [[nodiscard]] virtual int remove(const std::string& path) = 0;
    [[nodiscard]] virtual int makeFolder(const std::string& path, mode_t mode) = 0;
    // Entry names without "." and "..", in no particular order.
    [[nodiscard]] virtual int listFolder(const std::string& path, std::vector<std::string>& names) = 0;
    [[nodiscard]] virtual int status(const std::string& path, bool followLinks, struct stat& info) = 0;
    [[nodiscard]] virtual int setMode(const std::string& path, mode_t mode) = 0;

    // Positioned reads and writes (a database's pages), leaving the file position alone.
    // Up to `size` bytes from `offset`; `got` is 0 at the end of the file.
    [[nodiscard]] virtual int readAt(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t size,
                                     std::size_t& got) = 0;
    // All `size` bytes at `offset`, or an error.
    [[nodiscard]] virtual int writeAt(int fd, std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) = 0;
    // Cuts or extends the open file to `size` bytes.
    [[nodiscard]] virtual int truncate(int fd, std::uint64_t size) = 0;
    [[nodiscard]] virtual int statusOf(int fd, struct stat& info) = 0;
    // Byte-range locks owned by the open file rather than the process: they conflict between two
    // descriptors of one process, and closing another descriptor of the file never drops them.
    // `type` is F_RDLCK, F_WRLCK or F_UNLCK; a conflicting lock held elsewhere is EAGAIN.
    [[nodiscard]] virtual int lock(int fd, short type, std::uint64_t start, std::uint64_t length) = 0;
    // Whether another open file holds a lock over the range that a lock of `type` would meet.
    [[nodiscard]] virtual int lockedElsewhere(int fd, short type, std::uint64_t start, std::uint64_t length,
                                              bool& locked) = 0;

    // The bytes this process may still write on the file system that holds `path`.
    [[nodiscard]] virtual int freeBytes(const std::string& path, std::uint64_t& bytes);

    // Every missing folder along `path`, each new one's parent synced as it is made (see
    // file_detail::makeLastingFolder); an existing folder is success, anything else ENOTDIR.
    [[nodiscard]] int makeFolders(const std::string& path, mode_t mode = 0755);
    // Syncs the folder that names `path`: a rename, a removal or a new name there outlasts a power
    // cut only once that is done. 0, or the errno of opening or syncing the folder.
    [[nodiscard]] int syncFolderOf(const std::string& path);
    // A new file named `prefix`, six random letters and digits, then `suffix`, open to write and
    // readable by its owner alone; its name goes to `path`.
    [[nodiscard]] int createUnique(const std::string& prefix, const std::string& suffix, int& fd, std::string& path);

    // What a file's own place may hold before the file is opened there: links of any kind (leading
    // anywhere or nowhere), or anything but a regular file that is no link.
    enum class Unwanted { Links, AnythingButARegularFile };
    // Makes room for a file at `path`: what is there and unwanted goes, never over another name,
    // to the first free one of "<path>.moved", "<path>.moved-2", ..., whose name is given in
    // `movedTo` ("" when nothing moved). Only the last component is judged, by what it is itself,
    // never by where it leads: the folders above may be links. 0 when the place is free, holds
    // what may stay, or cannot be looked at (the open reports that); else the rename's errno.
    [[nodiscard]] int moveAside(const std::string& path, Unwanted unwanted, std::string& movedTo);
};

// Shared by the platform's own file code.
namespace file_detail {
// Opens `path` to read when it is a regular file, looked at before the open and again once open
// (it may have been swapped in between): a FIFO, a device or a folder has no contents to read
// whole, and a FIFO's would never end. A folder fails as EISDIR, anything else not regular as
// ENOTSUP. `info` describes the open file.
[[nodiscard]] int openRegular(FileIO& io, const std::string& path, int& fd, struct stat& info);
// The folder that names `path`: "." for a bare name, "/" for a name at the root.
std::string folderOf(const std::string& path);
// Makes the folder, then syncs the folder that names it: until then a power cut may take the new
// name, and with it whatever is later written and synced inside. A parent that cannot be opened
// (one this process may write in but not read) is not a failure; a failed sync is, though the
// folder stays made.
[[nodiscard]] int makeLastingFolder(FileIO& io, const std::string& path, mode_t mode);
}  // namespace file_detail

// Installs `io` as FileIO::current() for its lifetime and puts the previous one back after.
class ScopedFileIO {
public:
    explicit ScopedFileIO(std::shared_ptr<FileIO> io);
    ~ScopedFileIO();
    ScopedFileIO(const ScopedFileIO&) = delete;
    ScopedFileIO& operator=(const ScopedFileIO&) = delete;

private:
    std::shared_ptr<FileIO> previous_;
};
