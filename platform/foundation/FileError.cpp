// The Cocoa codes and sentences of file failures.
#include "platform/foundation/FileError.h"

#include <cerrno>
#include <cstring>

namespace {

long codeForErrno(int err, bool writing) {
    switch (err) {
    case ENOENT: return writing ? NSFileNoSuchFileError : NSFileReadNoSuchFileError;
    case EEXIST:
    case ENOTEMPTY: return NSFileWriteFileExistsError;
    case EACCES:
    case EPERM: return writing ? NSFileWriteNoPermissionError : NSFileReadNoPermissionError;
    case ENOSPC:
    case EDQUOT: return NSFileWriteOutOfSpaceError;
    case EROFS: return NSFileWriteVolumeReadOnlyError;
    default: return writing ? NSFileWriteUnknownError : NSFileReadUnknownError;
    }
}

std::string systemText(int err) {
    char buffer[256];
    // The GNU strerror_r may return a static string instead of filling the buffer.
    return strerror_r(err, buffer, sizeof buffer);
}

std::string sentence(long code, const std::string& path, int err) {
    const auto slash = path.find_last_of('/');
    const std::string name = "\u201c" + (slash == std::string::npos ? path : path.substr(slash + 1)) + "\u201d";
    switch (code) {
    case NSFileNoSuchFileError:
    case NSFileReadNoSuchFileError: return "The file " + name + " couldn\u2019t be opened because there is no such file.";
    case NSFileWriteFileExistsError:
        return "The file " + name + " couldn\u2019t be saved because a file with the same name already exists.";
    case NSFileWriteNoPermissionError: return "You don\u2019t have permission to save the file " + name + ".";
    case NSFileReadNoPermissionError:
        return "The file " + name + " couldn\u2019t be opened because you don\u2019t have permission to view it.";
    case NSFileWriteOutOfSpaceError:
        return "The file " + name + " couldn\u2019t be saved because there is no space left on the volume.";
    case NSFileWriteVolumeReadOnlyError:
        return "The file " + name + " couldn\u2019t be saved because the volume is read only.";
    case NSFileWriteUnknownError:
        return "The file " + name + " couldn\u2019t be saved" + (err ? ": " + systemText(err) + "." : ".");
    default: return "The file " + name + " couldn\u2019t be read" + (err ? ": " + systemText(err) + "." : ".");
    }
}

}  // namespace

NSErrorPtr fileErrorWithCode(long code, const std::string& path, int err) {
    Value::Dictionary info{{NSFilePathErrorKey, path}, {NSLocalizedDescriptionKey, sentence(code, path, err)}};
    if (err) info.set(NSUnderlyingErrorKey, Value(NSError::posix(err, path)));
    return NSError::errorWithDomain(NSCocoaErrorDomain, code, info);
}

NSErrorPtr fileErrorForErrno(int err, const std::string& path, bool writing) {
    return fileErrorWithCode(codeForErrno(err, writing), path, err);
}
