// What tells one state of a file from another, and when that can be trusted: the kernel stamps
// files from a coarse clock, so two writes within one of its ticks may leave the same stamp.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>

// Shared by the platform's readers and writers of files.
namespace file_detail {

struct FileStamp {
    // A file put in another's place (a download's, a whole write's) has another inode; one written
    // in place another length or modification time; one whose modification time was set back
    // another change time.
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static FileStamp of(const struct stat& info);
    // The stamp of the file at `path` (through links); none when there is no file to look at.
    static std::optional<FileStamp> ofFile(const std::string& path);
    // The stamp of the file whose status `info` is, read after the instant `readBegan` (of now()),
    // when it tells that state from every later one: none when the file was modified within the
    // clock's tick the read began in, as a write of the same length later in that tick would
    // leave the same stamp.
    static std::optional<FileStamp> settled(const struct stat& info, timespec readBegan);
    // The clock the kernel stamps files from, which is never ahead of their stamps: a file
    // modified after this instant is stamped with it or later.
    static timespec now();

    // Whether the file was last modified before `instant` (of now()).
    bool modifiedBefore(timespec instant) const;
    bool operator==(const FileStamp& other) const;
};

}  // namespace file_detail
