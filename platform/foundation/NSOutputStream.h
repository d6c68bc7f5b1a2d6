// A stream of bytes into a file, through the foundation's file-system interface: opened (new or
// appending), written in portions, closed; a failure is kept as the stream's error.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

enum NSStreamStatus : unsigned long {
    NSStreamStatusNotOpen = 0,
    NSStreamStatusOpen = 2,
    NSStreamStatusClosed = 6,
    NSStreamStatusError = 7,
};

class NSOutputStream : public NSObject {
public:
    // Nothing is touched until open(). With `append` an existing file keeps its bytes and the
    // stream writes after them; without, open() empties it.
    static std::shared_ptr<NSOutputStream> outputStreamToFileAtPath(const std::string& path, bool append);
    ~NSOutputStream() override;

    // The file is created when missing; a failure leaves the stream in the error status.
    void open();
    // The count written (all of `length`), or -1 with streamError() set.
    long write(const std::uint8_t* buffer, std::size_t length);
    void close();

    NSStreamStatus streamStatus() const { return status_; }
    const NSErrorPtr& streamError() const { return error_; }

private:
    NSOutputStream(std::string path, bool append) : path_(std::move(path)), append_(append) {}

    const std::string path_;
    const bool append_;
    int fd_ = -1;
    NSStreamStatus status_ = NSStreamStatusNotOpen;
    NSErrorPtr error_;
};
