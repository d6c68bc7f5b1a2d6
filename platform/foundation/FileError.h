// File failures as the platform reports them: a code of NSCocoaErrorDomain, a sentence naming
// the file and saying what went wrong, and the errno behind it as the underlying error.
#pragma once

#include "platform/foundation/NSError.h"

#include <string>

// Codes of NSCocoaErrorDomain used for file failures.
enum : long {
    NSFileNoSuchFileError = 4,
    NSFileReadUnknownError = 256,
    NSFileReadNoPermissionError = 257,
    NSFileReadNoSuchFileError = 260,
    NSFileWriteUnknownError = 512,
    NSFileWriteNoPermissionError = 513,
    NSFileWriteFileExistsError = 516,
    NSFileWriteOutOfSpaceError = 640,
    NSFileWriteVolumeReadOnlyError = 642,
};

// The failure `err` (an errno value) of reading or writing `path`: ENOSPC is out of space,
// EROFS a read-only volume, EACCES and EPERM no permission; anything unknown keeps the
// system's text.
NSErrorPtr fileErrorForErrno(int err, const std::string& path, bool writing);
// The failure `code` on `path`, with `err` as the underlying POSIX error when it is not 0.
NSErrorPtr fileErrorWithCode(long code, const std::string& path, int err);
