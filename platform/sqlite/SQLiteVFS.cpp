// SQLite's named files through FileIO. Each file is a descriptor of the file system in use (the
// one installed when it was opened serves it to its close); its locks are open-file locks on that
// descriptor, so two connections of one process exclude each other as two processes do, and
// they meet the process-owned locks of connections on SQLite's own unix layer too. The shared
// memory of write-ahead logging is left to the unix layer, on a second handle of the database
// opened when a connection first maps it. Nameless temporary files (sorts, statement journals)
// are the unix layer's alone: they never hold a committed row.
#include "platform/sqlite/SQLiteVFS.h"

#include "platform/foundation/FileIO.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <string>

namespace {

constexpr const char* kName = "fileio";

// SQLite's lock bytes, as every layer of it places them.
constexpr std::uint64_t kPendingByte = 0x40000000;
constexpr std::uint64_t kReservedByte = kPendingByte + 1;
constexpr std::uint64_t kSharedFirst = kPendingByte + 2;
constexpr std::uint64_t kSharedSize = 510;

sqlite3_vfs* unixLayer = nullptr;

struct File {
    sqlite3_file base;  // first: SQLite sees this
    std::shared_ptr<FileIO> io;
    std::string path;
    const char* sqliteName = nullptr;  // SQLite's own pointer, which carries the URI parameters
    int fd = -1;
    int openFlags = 0;
    int lockLevel = SQLITE_LOCK_NONE;
    // A new journal or log: its folder is flushed with its first sync, so the name lasts too.
    bool syncFolder = false;
    // The unix layer's handle of the same database, for the shared memory only.
    sqlite3_file* shm = nullptr;
    // A damaged file kept aside (SQLiteKeptFileURI), and its log.
    bool kept = false;
    bool keptLog = false;
    // The page size and reserve its reader found, 0 when it gave none.
    int keptPageSize = 0;
    int keptReserve = 0;
    // A file of passing use and its journal (SQLiteFileIOURI), never synced.
    bool disposable = false;
};

File& fileOf(sqlite3_file* file) { return *reinterpret_cast<File*>(file); }

// Flushes the folder that names `path`. Like the unix layer, a folder that cannot be opened is
// not a failure: the file's own data was flushed.
int syncFolderOf(FileIO& io, const std::string& path) {
    int folder = -1;
    if (io.open(file_detail::folderOf(path), O_RDONLY | O_DIRECTORY, 0, folder) != 0) return 0;
    const int err = io.sync(folder);
    (void)io.close(folder);
    return err;
}

int lockFailure(int err, int ioError) {
    return err == EAGAIN || err == EACCES || err == EBUSY || err == EINTR ? SQLITE_BUSY : ioError;
}

int xClose(sqlite3_file* file) {
    File& f = fileOf(file);
    int rc = SQLITE_OK;
    if (f.shm) {
        (void)f.shm->pMethods->xShmUnmap(f.shm, 0);
        (void)f.shm->pMethods->xClose(f.shm);
        sqlite3_free(f.shm);
    }
    // Closing the descriptor drops its locks with it.
    if (f.fd >= 0 && f.io->close(f.fd) != 0) rc = SQLITE_IOERR_CLOSE;
    f.~File();
    return rc;
}

// The header's file format versions (1 rollback journal, 2 write-ahead log), as a kept file's
// reader takes them: anything else is damage, and the log beside the file, if any, is read. A
// file of a log with no log beside it reads as one of a journal: SQLite would make an empty log
// and its shared memory beside a kept file that it only reads.
void takeFormatVersions(File& f, std::uint8_t* header) {
    constexpr int kWrite = 18;
    constexpr int kRead = 19;
    if (header[kWrite] == 1 && header[kRead] == 1) return;
    struct stat info {};
    const bool log = f.io->status(f.path + "-wal", false, info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
    header[kWrite] = header[kRead] = log ? 2 : 1;
}

// The header's magic, page size, reserve, payload fractions and schema format, where they are not
// those its reader found or SQLite knows: without them SQLite reads no page of the file.
void takePageSize(File& f, std::uint8_t* header, std::size_t size) {
    static const char kMagic[] = "SQLite format 3";
    std::memcpy(header, kMagic, sizeof kMagic);
    // SQLite reads the two bytes big-endian, 1 standing for 65536.
    header[16] = static_cast<std::uint8_t>((f.keptPageSize >> 8) & 0xff);
    header[17] = static_cast<std::uint8_t>(f.keptPageSize >> 16);
    header[20] = static_cast<std::uint8_t>(f.keptReserve);
    header[21] = 64;
    header[22] = 32;
    header[23] = 32;
    if (size >= 48 && header[47] > 4) {
        std::memset(header + 44, 0, 3);
        header[47] = 4;
    }
}

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

// The first page as a kept file's log holds it, read alone (its frame's page, not the frame as
// the log's recovery reads it, checksum and all): a size in its header that the file and its log
// cannot hold, or one its counter no longer vouches for (SQLite then takes the log's word, which a
// damaged commit can make a billion pages), becomes the pages they hold at the most.
void takeFirstPageSize(File& f, std::uint8_t* page, std::size_t size, std::uint64_t offset) {
    constexpr std::uint64_t kLogHeader = 32;
    constexpr std::uint64_t kFrameHeader = 24;
    std::uint8_t header[kLogHeader];
    std::size_t got = 0;
    if (size < 100 || offset < kLogHeader + kFrameHeader || f.io->readAt(f.fd, 0, header, kLogHeader, got) != 0 ||
        got != kLogHeader || bigEndian32(header + 8) != size) {
        return;
    }
    const std::uint64_t frame = size + kFrameHeader;
    if ((offset - kLogHeader) % frame != kFrameHeader) return;
    std::uint8_t number[4];
    if (f.io->readAt(f.fd, offset - kFrameHeader, number, 4, got) != 0 || got != 4 || bigEndian32(number) != 1) return;
    struct stat log {};
    struct stat file {};
    if (f.io->statusOf(f.fd, log) != 0 || f.io->status(sqlite3_filename_database(f.sqliteName), true, file) != 0) return;
    const std::uint64_t held = static_cast<std::uint64_t>(file.st_size) / size +
                               (static_cast<std::uint64_t>(log.st_size) > kLogHeader ? (log.st_size - kLogHeader) / frame : 0);
    const bool vouched = std::memcmp(page + 24, page + 92, 4) == 0;
    if (vouched && bigEndian32(page + 28) <= held) return;
    const auto pages = static_cast<std::uint32_t>(std::min<std::uint64_t>(held, UINT32_MAX));
    for (int i = 0; i < 4; ++i) page[28 + i] = static_cast<std::uint8_t>(pages >> (24 - 8 * i));
    std::memcpy(page + 92, page + 24, 4);
}

int xRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    File& f = fileOf(file);
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    const auto wanted = static_cast<std::size_t>(amount);
    while (done < wanted) {
        std::size_t got = 0;
        if (f.io->readAt(f.fd, static_cast<std::uint64_t>(offset) + done, out + done, wanted - done, got) != 0) {
            return SQLITE_IOERR_READ;
        }
        if (got == 0) break;
        done += got;
    }
    if (f.kept && offset == 0 && done >= 24 && f.keptPageSize > 0) takePageSize(f, out, done);
    if (f.kept && offset == 0 && done >= 20) takeFormatVersions(f, out);
    if (f.keptLog && done == wanted) takeFirstPageSize(f, out, wanted, static_cast<std::uint64_t>(offset));
    if (done == wanted) return SQLITE_OK;
    // SQLite relies on the rest being zero.
    std::memset(out + done, 0, wanted - done);
    return SQLITE_IOERR_SHORT_READ;
}

int xWrite(sqlite3_file* file, const void* bytes, int amount, sqlite3_int64 offset) {
    File& f = fileOf(file);
    const int err = f.io->writeAt(f.fd, static_cast<std::uint64_t>(offset), static_cast<const std::uint8_t*>(bytes),
                                  static_cast<std::size_t>(amount));
    if (!err) return SQLITE_OK;
    return err == ENOSPC || err == EDQUOT ? SQLITE_FULL : SQLITE_IOERR_WRITE;
}

int xTruncate(sqlite3_file* file, sqlite3_int64 size) {
    File& f = fileOf(file);
    return f.io->truncate(f.fd, static_cast<std::uint64_t>(size)) == 0 ? SQLITE_OK : SQLITE_IOERR_TRUNCATE;
}

int xSync(sqlite3_file* file, int) {
    File& f = fileOf(file);
    if (f.disposable) return SQLITE_OK;
    if (f.io->sync(f.fd) != 0) return SQLITE_IOERR_FSYNC;
    if (f.syncFolder) {
        if (syncFolderOf(*f.io, f.path) != 0) return SQLITE_IOERR_DIR_FSYNC;
        f.syncFolder = false;
    }
    return SQLITE_OK;
}

int xFileSize(sqlite3_file* file, sqlite3_int64* size) {
    File& f = fileOf(file);
    struct stat info {};
    if (f.io->statusOf(f.fd, info) != 0) return SQLITE_IOERR_FSTAT;
    *size = info.st_size;
    return SQLITE_OK;
}

// SHARED reads the shared range, taken through a read of the pending byte so that a writer
// waiting for EXCLUSIVE keeps new readers out; RESERVED writes the reserved byte; EXCLUSIVE
// writes the pending byte (PENDING, kept when the rest is busy), then the shared range.
int xLock(sqlite3_file* file, int level) {
    File& f = fileOf(file);
    if (f.lockLevel >= level) return SQLITE_OK;
    FileIO& io = *f.io;
    if (level == SQLITE_LOCK_SHARED) {
        if (const int err = io.lock(f.fd, F_RDLCK, kPendingByte, 1)) return lockFailure(err, SQLITE_IOERR_LOCK);
        const int err = io.lock(f.fd, F_RDLCK, kSharedFirst, kSharedSize);
        if (io.lock(f.fd, F_UNLCK, kPendingByte, 1) != 0 && !err) {
            (void)io.lock(f.fd, F_UNLCK, kSharedFirst, kSharedSize);
            return SQLITE_IOERR_UNLOCK;
        }
        if (err) return lockFailure(err, SQLITE_IOERR_RDLOCK);
        f.lockLevel = SQLITE_LOCK_SHARED;
        return SQLITE_OK;
    }
    if (level == SQLITE_LOCK_RESERVED) {
        if (const int err = io.lock(f.fd, F_WRLCK, kReservedByte, 1)) return lockFailure(err, SQLITE_IOERR_LOCK);
        f.lockLevel = SQLITE_LOCK_RESERVED;
        return SQLITE_OK;
    }
    if (f.lockLevel < SQLITE_LOCK_PENDING) {
        if (const int err = io.lock(f.fd, F_WRLCK, kPendingByte, 1)) return lockFailure(err, SQLITE_IOERR_LOCK);
        f.lockLevel = SQLITE_LOCK_PENDING;
    }
    if (level == SQLITE_LOCK_PENDING) return SQLITE_OK;
    if (const int err = io.lock(f.fd, F_WRLCK, kSharedFirst, kSharedSize)) return lockFailure(err, SQLITE_IOERR_LOCK);
    f.lockLevel = SQLITE_LOCK_EXCLUSIVE;
    return SQLITE_OK;
}

int xUnlock(sqlite3_file* file, int level) {
    File& f = fileOf(file);
    if (f.lockLevel <= level) return SQLITE_OK;
    FileIO& io = *f.io;
    if (level == SQLITE_LOCK_SHARED) {
        if (f.lockLevel == SQLITE_LOCK_EXCLUSIVE && io.lock(f.fd, F_RDLCK, kSharedFirst, kSharedSize) != 0)
            return SQLITE_IOERR_RDLOCK;
        // The pending and reserved bytes side by side.
        if (io.lock(f.fd, F_UNLCK, kPendingByte, 2) != 0) return SQLITE_IOERR_UNLOCK;
    } else if (io.lock(f.fd, F_UNLCK, 0, 0) != 0) {
        return SQLITE_IOERR_UNLOCK;
    }
    f.lockLevel = level;
    return SQLITE_OK;
}

int xCheckReservedLock(sqlite3_file* file, int* reserved) {
    File& f = fileOf(file);
    if (f.lockLevel >= SQLITE_LOCK_RESERVED) {
        *reserved = 1;
        return SQLITE_OK;
    }
    bool locked = false;
    if (f.io->lockedElsewhere(f.fd, F_WRLCK, kReservedByte, 1, locked) != 0) return SQLITE_IOERR_CHECKRESERVEDLOCK;
    *reserved = locked ? 1 : 0;
    return SQLITE_OK;
}

int xFileControl(sqlite3_file*, int, void*) { return SQLITE_NOTFOUND; }

int xSectorSize(sqlite3_file*) { return 4096; }

int xDeviceCharacteristics(sqlite3_file*) { return SQLITE_IOCAP_POWERSAFE_OVERWRITE; }

// The unix layer's handle of the database, opened on first use.
int sharedMemoryHandle(File& f, sqlite3_file*& handle) {
    if (!f.shm) {
        auto* made = static_cast<sqlite3_file*>(sqlite3_malloc(unixLayer->szOsFile));
        if (!made) return SQLITE_NOMEM;
        std::memset(made, 0, static_cast<std::size_t>(unixLayer->szOsFile));
        const int access = f.openFlags & SQLITE_OPEN_READONLY ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
        int out = 0;
        const int rc = unixLayer->xOpen(unixLayer, f.sqliteName, made,
                                        SQLITE_OPEN_MAIN_DB | access | (f.openFlags & SQLITE_OPEN_NOFOLLOW), &out);
        if (rc != SQLITE_OK) {
            if (made->pMethods) (void)made->pMethods->xClose(made);
            sqlite3_free(made);
            return rc;
        }
        f.shm = made;
    }
    handle = f.shm;
    return SQLITE_OK;
}

int xShmMap(sqlite3_file* file, int page, int pageSize, int extend, void volatile** memory) {
    sqlite3_file* handle = nullptr;
    if (const int rc = sharedMemoryHandle(fileOf(file), handle)) return rc;
    return handle->pMethods->xShmMap(handle, page, pageSize, extend, memory);
}

int xShmLock(sqlite3_file* file, int offset, int count, int flags) {
    sqlite3_file* handle = fileOf(file).shm;
    // SQLite locks only what it has mapped.
    return handle ? handle->pMethods->xShmLock(handle, offset, count, flags) : SQLITE_IOERR_SHMLOCK;
}

void xShmBarrier(sqlite3_file* file) {
    if (sqlite3_file* handle = fileOf(file).shm) handle->pMethods->xShmBarrier(handle);
    else std::atomic_thread_fence(std::memory_order_seq_cst);
}

int xShmUnmap(sqlite3_file* file, int deleteFlag) {
    sqlite3_file* handle = fileOf(file).shm;
    return handle ? handle->pMethods->xShmUnmap(handle, deleteFlag) : SQLITE_OK;
}

const sqlite3_io_methods methods = {
    2,  // with shared memory, without memory mapping
    xClose, xRead, xWrite, xTruncate, xSync, xFileSize, xLock, xUnlock, xCheckReservedLock, xFileControl,
    xSectorSize, xDeviceCharacteristics, xShmMap, xShmLock, xShmBarrier, xShmUnmap,
    nullptr, nullptr,
};

// A journal or log is made with the mode of its database, as the unix layer makes it.
mode_t modeFor(FileIO& io, const char* name, int flags) {
    if (!(flags & (SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_WAL))) return 0644;
    struct stat info {};
    if (io.status(sqlite3_filename_database(name), true, info) != 0) return 0644;
    return info.st_mode & 0777;
}

int xOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    if (!name) return unixLayer->xOpen(unixLayer, name, file, flags, outFlags);
    auto io = FileIO::current();
    int posixFlags = flags & SQLITE_OPEN_READWRITE ? O_RDWR : O_RDONLY;
    if (flags & SQLITE_OPEN_CREATE) posixFlags |= O_CREAT;
    if (flags & SQLITE_OPEN_EXCLUSIVE) posixFlags |= O_EXCL;
    // A journal or log is SQLite's own file beside its database: a link in its place is never
    // written through (it would overwrite whatever it leads to, or make a file there), as the
    // unix layer never opens shared memory through one. The database itself is opened through a
    // link only when its opener allows it.
    const bool mainDatabase = flags & SQLITE_OPEN_MAIN_DB;
    if (!mainDatabase || (flags & SQLITE_OPEN_NOFOLLOW)) posixFlags |= O_NOFOLLOW;
    int fd = -1;
    int err = io->open(name, posixFlags, modeFor(*io, name, flags), fd);
    // A file that cannot be written is still read, as the unix layer does.
    if (err && err != EISDIR && err != ELOOP && (flags & SQLITE_OPEN_READWRITE)) {
        if (io->open(name, O_RDONLY | (posixFlags & O_NOFOLLOW), 0, fd) == 0) {
            err = 0;
            flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
        }
    }
    if (err) return SQLITE_CANTOPEN;
    // A database or a journal is a regular file: a FIFO or a device by its name (opened without
    // waiting) has no pages to read.
    struct stat info {};
    if (io->statusOf(fd, info) != 0 || !S_ISREG(info.st_mode)) {
        (void)io->close(fd);
        return SQLITE_CANTOPEN;
    }
    // Gone from the folder at once; the descriptor keeps it until the close.
    if (flags & SQLITE_OPEN_DELETEONCLOSE) (void)io->remove(name);
    File* f = new (file) File{};
    f->io = std::move(io);
    f->path = name;
    f->sqliteName = name;
    f->fd = fd;
    f->openFlags = flags;
    f->disposable = sqlite3_uri_boolean(name, "disposable", 0);
    f->keptLog = (flags & SQLITE_OPEN_WAL) && sqlite3_uri_boolean(name, "kept", 0);
    if (mainDatabase && (flags & SQLITE_OPEN_READONLY) && sqlite3_uri_boolean(name, "kept", 0)) {
        f->kept = true;
        const auto pageSize = sqlite3_uri_int64(name, "page_size", 0);
        const auto reserve = sqlite3_uri_int64(name, "reserve", 0);
        // Sizes SQLite takes, leaving a usable page it can read.
        if (pageSize >= 512 && pageSize <= 65536 && (pageSize & (pageSize - 1)) == 0 && reserve >= 0 &&
            reserve <= 255 && pageSize - reserve >= 480) {
            f->keptPageSize = static_cast<int>(pageSize);
            f->keptReserve = static_cast<int>(reserve);
        }
    }
    f->syncFolder =
        (flags & SQLITE_OPEN_CREATE) && (flags & (SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_SUPER_JOURNAL | SQLITE_OPEN_WAL));
    f->base.pMethods = &methods;
    if (outFlags) *outFlags = flags;
    return SQLITE_OK;
}

int xDelete(sqlite3_vfs*, const char* name, int syncDirectory) {
    auto io = FileIO::current();
    const int err = io->remove(name);
    if (err == ENOENT) return SQLITE_IOERR_DELETE_NOENT;
    if (err) return SQLITE_IOERR_DELETE;
    if (syncDirectory && syncFolderOf(*io, name) != 0) return SQLITE_IOERR_DIR_FSYNC;
    return SQLITE_OK;
}

// A look that fails is an error, never a missing file: a hot journal that cannot be seen
// would leave a half-written transaction in place.
int xAccess(sqlite3_vfs*, const char* name, int flags, int* result) {
    struct stat info {};
    const int err = FileIO::current()->status(name, true, info);
    if (err == ENOENT || err == ENOTDIR) {
        *result = 0;
        return SQLITE_OK;
    }
    if (err) return SQLITE_IOERR_ACCESS;
    if (flags == SQLITE_ACCESS_EXISTS) {
        *result = !S_ISREG(info.st_mode) || info.st_size > 0;
        return SQLITE_OK;
    }
    // Permissions, not the disk: the unix layer's answer.
    return unixLayer->xAccess(unixLayer, name, flags, result);
}

// The unix layer's full name, with every link along it followed. It says it followed one, which
// makes an opener that forbids links fail, only when the file's own place is a link: the folders
// above it (a home kept elsewhere and linked) may be links whoever opens.
int xFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    const int rc = unixLayer->xFullPathname(unixLayer, name, size, out);
    if (rc != SQLITE_OK_SYMLINK) return rc;
    struct stat info {};
    const bool linkInPlace = FileIO::current()->status(name, false, info) == 0 && S_ISLNK(info.st_mode);
    return linkInPlace ? SQLITE_OK_SYMLINK : SQLITE_OK;
}
void* xDlOpen(sqlite3_vfs*, const char* name) { return unixLayer->xDlOpen(unixLayer, name); }
void xDlError(sqlite3_vfs*, int size, char* message) { unixLayer->xDlError(unixLayer, size, message); }
void (*xDlSym(sqlite3_vfs*, void* library, const char* symbol))(void) {
    return unixLayer->xDlSym(unixLayer, library, symbol);
}
void xDlClose(sqlite3_vfs*, void* library) { unixLayer->xDlClose(unixLayer, library); }
int xRandomness(sqlite3_vfs*, int size, char* out) { return unixLayer->xRandomness(unixLayer, size, out); }
int xSleep(sqlite3_vfs*, int microseconds) { return unixLayer->xSleep(unixLayer, microseconds); }
int xCurrentTime(sqlite3_vfs*, double* now) { return unixLayer->xCurrentTime(unixLayer, now); }
int xGetLastError(sqlite3_vfs*, int size, char* out) { return unixLayer->xGetLastError(unixLayer, size, out); }
int xCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* now) { return unixLayer->xCurrentTimeInt64(unixLayer, now); }

}  // namespace

const char* SQLiteFileIOVFSName() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (sqlite3_initialize() != SQLITE_OK) return;
        unixLayer = sqlite3_vfs_find("unix");
        if (!unixLayer) return;
        static sqlite3_vfs vfs = {
            2,
            std::max(static_cast<int>(sizeof(File)), unixLayer->szOsFile),
            unixLayer->mxPathname,
            nullptr,
            kName,
            nullptr,
            xOpen, xDelete, xAccess, xFullPathname, xDlOpen, xDlError, xDlSym, xDlClose, xRandomness, xSleep,
            xCurrentTime, xGetLastError, xCurrentTimeInt64,
            nullptr, nullptr, nullptr,
        };
        (void)sqlite3_vfs_register(&vfs, 0);
    });
    return kName;
}

std::string SQLiteFileIOURI(const std::string& path, bool disposable) {
    // The characters a URI's path would take for its own.
    std::string uri = "file:";
    for (const char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            static const char digits[] = "0123456789ABCDEF";
            uri += '%';
            uri += digits[static_cast<unsigned char>(c) >> 4];
            uri += digits[static_cast<unsigned char>(c) & 0xf];
        } else {
            uri += c;
        }
    }
    return uri + "?vfs=" + SQLiteFileIOVFSName() + (disposable ? "&disposable=1" : "");
}

std::string SQLiteKeptFileURI(const std::string& path, int pageSize, int reserve) {
    std::string uri = SQLiteFileIOURI(path) + "&mode=ro&kept=1";
    if (pageSize > 0) uri += "&page_size=" + std::to_string(pageSize) + "&reserve=" + std::to_string(reserve);
    return uri;
}
