// The home folder's lock: flock on a file in it, so it belongs to the open file and ends with
// the process, and a run killed outright leaves nothing to clean up.
#include "simulator/SimHomeClaim.h"

#include "platform/foundation/FileIO.h"
#include "platform/foundation/Sandbox.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const char* const kChooseAnother = "; choose another with --home DIR (or APP_HOME=DIR).";

NSErrorPtr failure(SimHomeClaim::Code code, const std::string& sentence) {
    return NSError::errorWithDomain(SimHomeClaim::kErrorDomain, code, {{NSLocalizedDescriptionKey, Value(sentence)}});
}

NSErrorPtr unusable(const std::string& home, int err) {
    return failure(SimHomeClaim::Unusable, "The home " + home + " cannot be used: " + std::strerror(err) + kChooseAnother);
}

// The holder's process id as it wrote it, or "" when it has not yet.
std::string holderOf(int fd) {
    char text[32] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    std::string pid = n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string();
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
    return !pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos ? pid : std::string();
}

}  // namespace

std::unique_ptr<SimHomeClaim> SimHomeClaim::claim(const std::string& path, NSErrorPtr* error) {
    const std::string home = Sandbox::absolutePath(path);
    if (const int err = FileIO::current()->makeFolders(home)) {
        setError(error, unusable(home, err));
        return nullptr;
    }
    const std::string lockPath = home + "/" + kLockFileName;
    // A link in the lock's place would have the holder's id written wherever it leads (a file
    // made there when it leads nowhere): it goes aside, and the lock is made in the home.
    std::string aside;
    if (const int err = FileIO::current()->moveAside(lockPath, FileIO::Unwanted::Links, aside)) {
        setError(error, unusable(home, err));
        return nullptr;
    }
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        setError(error, unusable(home, errno));
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        const std::string holder = err == EWOULDBLOCK ? holderOf(fd) : std::string();
        ::close(fd);
        if (err != EWOULDBLOCK) {
            setError(error, unusable(home, err));
            return nullptr;
        }
        setError(error, failure(InUse, "The home " + home + " is in use by another run" +
                                           (holder.empty() ? std::string() : " (process " + holder + ")") +
                                           kChooseAnother));
        return nullptr;
    }
    // Who holds it, for the run that is refused; the lock does not depend on it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    const ssize_t written = ::ftruncate(fd, 0) == 0 ? ::pwrite(fd, pid.data(), pid.size(), 0) : -1;
    if (written != static_cast<ssize_t>(pid.size())) {
        const int err = written < 0 ? errno : ENOSPC;
        ::close(fd);
        setError(error, unusable(home, err));
        return nullptr;
    }
    return std::unique_ptr<SimHomeClaim>(new SimHomeClaim(fd, std::move(aside)));
}

SimHomeClaim::~SimHomeClaim() { ::close(fd_); }
