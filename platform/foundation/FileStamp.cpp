// File stamps, compared whole, and the coarse clock they are taken on.
#include "platform/foundation/FileStamp.h"

#include "platform/foundation/FileIO.h"

namespace file_detail {

FileStamp FileStamp::of(const struct stat& info) {
    return FileStamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

std::optional<FileStamp> FileStamp::ofFile(const std::string& path) {
    struct stat info {};
    if (FileIO::current()->status(path, true, info) != 0) return std::nullopt;
    return of(info);
}

std::optional<FileStamp> FileStamp::settled(const struct stat& info, timespec readBegan) {
    const FileStamp stamp = of(info);
    if (!stamp.modifiedBefore(readBegan)) return std::nullopt;
    return stamp;
}

timespec FileStamp::now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}

bool FileStamp::modifiedBefore(timespec instant) const {
    return modified.tv_sec < instant.tv_sec || (modified.tv_sec == instant.tv_sec && modified.tv_nsec < instant.tv_nsec);
}

bool FileStamp::operator==(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

}  // namespace file_detail
