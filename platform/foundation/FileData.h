// Whole-file reads and writes; an atomic write leaves either the old file or the new one.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>

// Failures are file errors of NSCocoaErrorDomain (FileError.h) naming `path`. Only a regular
// file is read: a folder fails as EISDIR, a FIFO or a device as ENOTSUP, without waiting.
[[nodiscard]] std::optional<NSData> readDataFromFile(const std::string& path, NSErrorPtr* error = nullptr);
// A regular file's bytes when it has at most `maxLength` of them; empty when it cannot be read,
// is not a regular file or is longer (then `length`, when given, says how long it is). `status`,
// when given, gets the open file's status, which tells this state of the file from a later one.
[[nodiscard]] std::optional<NSData> readRegularFile(const std::string& path, std::uint64_t maxLength,
                                                    std::uint64_t* length = nullptr, struct stat* status = nullptr);
[[nodiscard]] bool writeDataToFile(const NSData& data, const std::string& path, bool atomically,
                                   NSErrorPtr* error = nullptr);
// Moves on with every writeDataToFile (and writeDataToNewFile), written or not: a remembered "no
// such file" is out of date once it moved.
std::uint64_t fileWriteGeneration();

// Removes the temporary files that atomic writes into `folder` left when their process died:
// files of the writer's naming (".<name>.tmp-XXXXXX") last changed before this process started.
// With `earlierPropertyListNames` also the ".<name>.plist.XXXXXX" of earlier versions, for
// folders that hold nothing but property lists. Returns how many were removed.
std::size_t removeStaleTemporaryFiles(const std::string& folder, bool earlierPropertyListNames = false);

namespace file_detail {
// An atomic write that never takes another file's place: a file already at `path` fails it with
// NSFileWriteFileExistsError and is left as it was.
[[nodiscard]] bool writeDataToNewFile(const NSData& data, const std::string& path, NSErrorPtr* error = nullptr);
}  // namespace file_detail
