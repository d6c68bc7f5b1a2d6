// Whole-file reads and writes through FileIO. An atomic write goes to a temporary file in the
// same folder, is flushed to disk and then renamed over the destination, so a crash at any
// point leaves the old file or the new one, never a mixture; the temporary file a crash leaves
// is removed by a later process writing the same file.
#include "platform/foundation/FileData.h"

#include "platform/foundation/FileError.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileStamp.h"
#include "platform/foundation/NSFileManager.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <string_view>

namespace {

constexpr std::string_view kTemporaryMarker = ".tmp-";
constexpr std::string_view kEarlierPropertyListMarker = ".plist.";
constexpr std::size_t kSuffixLength = 6;  // what FileIO::createUnique adds

std::atomic<std::uint64_t> gWriteGeneration{0};

// When this process started, on the clock the kernel stamps files with: every file this process
// has touched is at least as new.
const timespec processStart = file_detail::FileStamp::now();

bool olderThanThisProcess(const struct stat& info) {
    return file_detail::FileStamp::of(info).modifiedBefore(processStart);
}

bool isAlphanumeric(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// The destination's name when `name` is a temporary file of the atomic writer, else empty.
std::string_view temporaryTarget(std::string_view name, bool earlierPropertyListNames) {
    if (name.size() < 2 + kSuffixLength || name[0] != '.') return {};
    for (const char c : name.substr(name.size() - kSuffixLength))
        if (!isAlphanumeric(c)) return {};
    const std::string_view rest = name.substr(1, name.size() - 1 - kSuffixLength);
    if (rest.size() > kTemporaryMarker.size() && rest.ends_with(kTemporaryMarker))
        return rest.substr(0, rest.size() - kTemporaryMarker.size());
    if (earlierPropertyListNames && rest.size() > kEarlierPropertyListMarker.size() &&
        rest.ends_with(kEarlierPropertyListMarker))
        return rest.substr(0, rest.size() - 1);
    return {};
}

std::string nameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Removes the stale temporaries in `folder` whose destination `accept` takes; returns the count.
template <class Accept>
std::size_t removeStale(FileIO& io, const std::string& folder, bool earlierPropertyListNames, Accept accept) {
    std::vector<std::string> names;
    if (io.listFolder(folder, names) != 0) return 0;
    std::size_t removed = 0;
    for (const std::string& name : names) {
        const std::string_view target = temporaryTarget(name, earlierPropertyListNames);
        if (target.empty() || !accept(target)) continue;
        const std::string path = folder + "/" + name;
        struct stat info {};
        if (io.status(path, false, info) != 0 || !S_ISREG(info.st_mode) || !olderThanThisProcess(info)) continue;
        if (io.remove(path) == 0) ++removed;
    }
    return removed;
}

bool fail(NSErrorPtr* error, int err, const std::string& path) {
    setError(error, fileErrorForErrno(err, path, true));
    return false;
}

// What every write begins with: it counts for fileWriteGeneration, and items marked immutable
// through the file manager refuse it as the kernel flag would.
bool mayWrite(const std::string& path, NSErrorPtr* error) {
    gWriteGeneration.fetch_add(1, std::memory_order_acq_rel);
    return !NSFileManager::defaultManager()->isImmutableOrInImmutableFolder(path) || fail(error, EPERM, path);
}

bool writeInPlace(FileIO& io, const NSData& data, const std::string& path, NSErrorPtr* error) {
    int fd = -1;
    if (const int err = io.open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644, fd)) return fail(error, err, path);
    int err = io.write(fd, data.data(), data.size());
    const int closeError = io.close(fd);
    if (!err) err = closeError;
    return err ? fail(error, err, path) : true;
}

// Without `replace`, a file already at `path` fails the write with EEXIST and stays as it was.
bool writeAtomically(FileIO& io, const NSData& data, const std::string& path, bool replace, NSErrorPtr* error) {
    const std::string folder = file_detail::folderOf(path);
    const std::string name = nameOf(path);
    removeStale(io, folder, false, [&](std::string_view target) { return target == name; });

    std::string temporary;
    int fd = -1;
    int err = io.createUnique(folder + "/." + name + std::string(kTemporaryMarker), "", fd, temporary);
    if (err) return fail(error, err, path);

    // The temporary file starts private; give it the mode of the file it replaces, else the usual one.
    struct stat existing {};
    const mode_t mode = io.status(path, true, existing) == 0 ? (existing.st_mode & 07777) : 0644;
    err = io.setMode(temporary, mode);
    if (!err) err = io.write(fd, data.data(), data.size());
    if (!err) err = io.sync(fd);
    const int closeError = io.close(fd);
    if (!err) err = closeError;
    if (!err) err = io.rename(temporary, path, replace);
    if (err) {
        // The failure to report is the one above; a temporary that will not go is swept by a later write.
        (void)io.remove(temporary);
        return fail(error, err, path);
    }
    // The rename itself is only durable once the folder is flushed; the new contents are in place
    // whether or not that works, so its failure is not the write's.
    (void)io.syncFolderOf(path);
    return true;
}

}  // namespace

namespace {

// Reads the open file to its end, straight into the data, which is sized by the file's length
// when that is known; closes it.
std::optional<NSData> readOpened(FileIO& io, int fd, const std::string& path, std::size_t expected,
                                 NSErrorPtr* error) {
    NSData data(expected);
    std::size_t filled = 0;
    std::uint8_t spill[65536];
    for (;;) {
        // Past the expected length (a file that grew, or one of unknown length) in pieces.
        const bool inData = filled < data.size();
        std::uint8_t* into = inData ? data.data() + filled : spill;
        const std::size_t room = inData ? data.size() - filled : sizeof spill;
        std::size_t got = 0;
        if (const int err = io.read(fd, into, room, got)) {
            // A read-only descriptor has nothing to lose on close.
            (void)io.close(fd);
            setError(error, fileErrorForErrno(err, path, false));
            return std::nullopt;
        }
        if (got == 0) break;
        if (!inData) data.insert(data.end(), spill, spill + got);
        filled += got;
    }
    (void)io.close(fd);
    data.resize(filled);
    return data;
}

}  // namespace

std::optional<NSData> readDataFromFile(const std::string& path, NSErrorPtr* error) {
    const auto io = FileIO::current();
    int fd = -1;
    struct stat info {};
    if (const int err = file_detail::openRegular(*io, path, fd, info)) {
        setError(error, fileErrorForErrno(err, path, false));
        return std::nullopt;
    }
    return readOpened(*io, fd, path, static_cast<std::size_t>(info.st_size), error);
}

std::optional<NSData> readRegularFile(const std::string& path, std::uint64_t maxLength, std::uint64_t* length,
                                      struct stat* status) {
    if (length) *length = 0;
    const auto io = FileIO::current();
    int fd = -1;
    struct stat info {};
    if (file_detail::openRegular(*io, path, fd, info) != 0) return std::nullopt;
    if (status) *status = info;
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (length) *length = size;
    if (size > maxLength) {
        (void)io->close(fd);
        return std::nullopt;
    }
    auto data = readOpened(*io, fd, path, static_cast<std::size_t>(size), nullptr);
    // Grown past the bound while it was read: refused as well.
    if (data && data->size() > maxLength) {
        if (length) *length = data->size();
        return std::nullopt;
    }
    return data;
}

std::uint64_t fileWriteGeneration() { return gWriteGeneration.load(std::memory_order_acquire); }

bool writeDataToFile(const NSData& data, const std::string& path, bool atomically, NSErrorPtr* error) {
    if (!mayWrite(path, error)) return false;
    const auto io = FileIO::current();
    return atomically ? writeAtomically(*io, data, path, true, error) : writeInPlace(*io, data, path, error);
}

bool file_detail::writeDataToNewFile(const NSData& data, const std::string& path, NSErrorPtr* error) {
    return mayWrite(path, error) && writeAtomically(*FileIO::current(), data, path, false, error);
}

std::size_t removeStaleTemporaryFiles(const std::string& folder, bool earlierPropertyListNames) {
    return removeStale(*FileIO::current(), folder, earlierPropertyListNames, [](std::string_view) { return true; });
}
