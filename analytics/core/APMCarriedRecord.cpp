// The salvage's record, as lines of "<fact> <identity>".
#include "analytics/core/APMCarriedRecord.h"

#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSString.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

namespace {

constexpr std::pair<APMCarriedRecord::Fact, const char*> kWords[] = {
    {APMCarriedRecord::Fact::Carried, "carried"},
    {APMCarriedRecord::Fact::FailedToRead, "failed-to-read"},
    {APMCarriedRecord::Fact::ReadFailed, "read-failed"},
    {APMCarriedRecord::Fact::GaveUp, "gave-up"},
};

}  // namespace

APMCarriedRecord::APMCarriedRecord(std::string path) : path_(std::move(path)) {
    const auto io = FileIO::current();
    int fd = -1;
    struct stat info {};
    if (file_detail::openRegular(*io, path_, fd, info) != 0) return;
    std::string text;
    std::uint8_t buffer[4096];
    for (;;) {
        std::size_t got = 0;
        if (io->read(fd, buffer, sizeof buffer, got) != 0 || got == 0) break;
        text.append(reinterpret_cast<const char*>(buffer), got);
    }
    (void)io->close(fd);
    tornEnd_ = !text.empty() && text.back() != '\n';
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        const std::size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        for (const auto& [fact, word] : kWords) {
            if (line.compare(0, space, word) == 0) facts_.emplace_back(fact, line.substr(space + 1));
        }
    }
}

std::optional<std::string> APMCarriedRecord::identityOf(const std::string& keptPath) {
    const auto io = FileIO::current();
    struct stat info {};
    if (io->status(keptPath, false, info) != 0) return std::nullopt;
    const std::string name = " " + NSString::lastPathComponent(keptPath);
    // One that cannot be read now is known by its name and size, so that failed openings count.
    const std::string unread = std::to_string(info.st_size) + ":unread" + name;
    int fd = -1;
    if (file_detail::openRegular(*io, keptPath, fd, info) != 0) return unread;
    // FNV-1a over the first bytes: the header and the schema, which differ from file to file.
    std::uint64_t hash = 1469598103934665603ull;
    std::uint8_t buffer[4096];
    bool failed = false;
    for (std::size_t read = 0; read < (64u << 10);) {
        std::size_t got = 0;
        if (io->read(fd, buffer, sizeof buffer, got) != 0) failed = true;
        if (failed || got == 0) break;
        for (std::size_t i = 0; i < got; ++i) hash = (hash ^ buffer[i]) * 1099511628211ull;
        read += got;
    }
    (void)io->close(fd);
    return failed ? unread : std::to_string(info.st_size) + ":" + std::to_string(hash) + name;
}

int APMCarriedRecord::count(Fact fact, const std::string& identity) const {
    return static_cast<int>(std::count(facts_.begin(), facts_.end(), std::pair(fact, identity)));
}

int APMCarriedRecord::note(Fact fact, const std::string& identity) {
    const auto io = FileIO::current();
    struct stat info {};
    const bool made = io->status(path_, false, info) != 0;
    int fd = -1;
    if (const int err = io->open(path_, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0644, fd)) return err;
    // A line torn by a power cut ends before this one starts.
    std::string line = tornEnd_ ? "\n" : "";
    for (const auto& [each, word] : kWords) {
        if (each == fact) line += std::string(word) + " " + identity + "\n";
    }
    int err = io->write(fd, reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
    if (err == 0) err = io->sync(fd);
    if (const int closed = io->close(fd); err == 0) err = closed;
    if (err == 0 && made) err = io->syncFolderOf(path_);
    if (err == 0) {
        facts_.emplace_back(fact, identity);
        tornEnd_ = false;
    }
    return err;
}

void APMCarriedRecord::remove() {
    const auto io = FileIO::current();
    struct stat info {};
    if (io->status(path_, false, info) == 0 && S_ISREG(info.st_mode) && io->remove(path_) == 0) {
        (void)io->syncFolderOf(path_);
    }
    facts_.clear();
}
