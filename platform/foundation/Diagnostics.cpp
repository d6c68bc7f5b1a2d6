// The diagnostics destination: a log file through the file-system interface, or standard error.
#include "platform/foundation/Diagnostics.h"

#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <fcntl.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Destination {
    Mutex mutex;
    std::shared_ptr<FileIO> io GUARDED_BY(mutex);  // the file system the log was opened through
    int fd GUARDED_BY(mutex) = -1;
    std::string path GUARDED_BY(mutex);
    bool echo GUARDED_BY(mutex) = false;
};

Destination& destination() {
    static auto* d = new Destination;  // diagnostics may come while exit handlers run
    return *d;
}

void toStandardError(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void closeLocked(Destination& d) REQUIRES(d.mutex) {
    if (d.fd >= 0) (void)d.io->close(d.fd);
    d.fd = -1;
    d.io.reset();
    d.path.clear();
    d.echo = false;
}

void write(std::string_view sentence, bool person) {
    std::string line(sentence);
    if (line.empty() || line.back() != '\n') line += '\n';
    Destination& d = destination();
    MutexLock lock(d.mutex);
    if (d.fd >= 0) {
        const int err = d.io->write(d.fd, reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
        if (err != 0) {
            // A log that cannot be written loses nothing more: standard error takes over.
            toStandardError("The log file " + d.path + " could not be written (" + std::strerror(err) +
                            "); diagnostics go to standard error from now on.\n");
            closeLocked(d);
            toStandardError(line);
            return;
        }
        if (!person && !d.echo) return;
    }
    toStandardError(line);
}

std::string formatted(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0) return {};
    std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<std::size_t>(n));
}

}  // namespace

namespace Diagnostics {

void note(std::string_view sentence) { write(sentence, false); }

void notef(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = formatted(format, args);
    va_end(args);
    write(text, false);
}

void tell(std::string_view sentence) { write(sentence, true); }

void tellf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = formatted(format, args);
    va_end(args);
    write(text, true);
}

bool logToFile(const std::string& path, bool echo, NSErrorPtr* error) {
    auto io = FileIO::current();
    const std::string folder = NSString::stringByDeletingLastPathComponent(path);
    int err = folder.empty() ? 0 : io->makeFolders(folder);
    // A link where the log belongs would have it written wherever the link leads, a file made
    // there if it leads nowhere: it goes aside, and the log is made in its own folder. A FIFO
    // stays (a reader may be waiting on it), and so does anything else no link.
    std::string aside;
    if (err == 0) err = io->moveAside(path, FileIO::Unwanted::Links, aside);
    int fd = -1;
    if (err == 0) err = io->open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644, fd);
    if (err != 0) {
        setError(error, NSError::posix(err, path));
        return false;
    }
    {
        Destination& d = destination();
        MutexLock lock(d.mutex);
        closeLocked(d);
        d.io = std::move(io);
        d.fd = fd;
        d.path = path;
        d.echo = echo;
    }
    if (!aside.empty()) notef("The link where the log belongs was moved to %s; the log is kept here.", aside.c_str());
    return true;
}

void logToStandardError() {
    Destination& d = destination();
    MutexLock lock(d.mutex);
    closeLocked(d);
}

std::string logPath() {
    Destination& d = destination();
    MutexLock lock(d.mutex);
    return d.path;
}

}  // namespace Diagnostics
