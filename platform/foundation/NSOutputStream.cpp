// File output streams over FileIO, so a full disk or a failing write can be injected.
#include "platform/foundation/NSOutputStream.h"

#include "platform/foundation/FileError.h"
#include "platform/foundation/FileIO.h"

#include <fcntl.h>

std::shared_ptr<NSOutputStream> NSOutputStream::outputStreamToFileAtPath(const std::string& path, bool append) {
    return std::shared_ptr<NSOutputStream>(new NSOutputStream(path, append));
}

NSOutputStream::~NSOutputStream() { close(); }

void NSOutputStream::open() {
    if (status_ != NSStreamStatusNotOpen) return;
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append_ ? O_APPEND : O_TRUNC);
    const int err = FileIO::current()->open(path_, flags, 0644, fd_);
    if (err != 0) {
        fd_ = -1;
        error_ = fileErrorForErrno(err, path_, true);
        status_ = NSStreamStatusError;
        return;
    }
    status_ = NSStreamStatusOpen;
}

long NSOutputStream::write(const std::uint8_t* buffer, std::size_t length) {
    if (status_ != NSStreamStatusOpen) return -1;
    const int err = FileIO::current()->write(fd_, buffer, length);
    if (err != 0) {
        error_ = fileErrorForErrno(err, path_, true);
        status_ = NSStreamStatusError;
        return -1;
    }
    return static_cast<long>(length);
}

void NSOutputStream::close() {
    if (fd_ >= 0) {
        // Bytes already written stay written; a close failure has nothing left to report them to.
        (void)FileIO::current()->close(fd_);
        fd_ = -1;
    }
    if (status_ == NSStreamStatusOpen) status_ = NSStreamStatusClosed;
}
