// The salvage's record, as lines of "<fact> <key>", or "carried <identity>[ <key>]".
#include "analytics/core/APMCarriedRecord.h"

#include "platform/foundation/Digest.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSString.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

namespace {

constexpr std::pair<APMCarriedRecord::Fact, const char*> kWords[] = {
    {APMCarriedRecord::Fact::Reading, "reading"},
    {APMCarriedRecord::Fact::Spared, "spared"},
    {APMCarriedRecord::Fact::Carried, "carried"},
    {APMCarriedRecord::Fact::GaveUp, "gave-up"},
};

// How far an earlier version hashed a kept file's first bytes.
constexpr std::uint64_t kEarlierBytes = 64u << 10;

// The bytes of the file at `path` into `digest`, and their count and the hash an earlier version
// took of the first of them into `read`; 0, or the errno of the open or read that failed.
struct Whole {
    std::uint64_t bytes = 0;
    // FNV-1a.
    std::uint64_t earlier = 1469598103934665603ull;
};
int readWhole(FileIO& io, const std::string& path, Digest::SHA256& digest, Whole& read) {
    int fd = -1;
    struct stat info {};
    if (const int err = file_detail::openRegular(io, path, fd, info)) return err;
    std::vector<std::uint8_t> buffer(256u << 10);
    int err = 0;
    for (;;) {
        std::size_t got = 0;
        if ((err = io.read(fd, buffer.data(), buffer.size(), got)) != 0 || got == 0) break;
        digest.update(buffer.data(), got);
        for (std::size_t i = 0; i < got && read.bytes + i < kEarlierBytes; ++i) {
            read.earlier = (read.earlier ^ buffer[i]) * 1099511628211ull;
        }
        read.bytes += got;
    }
    (void)io.close(fd);
    return err;
}

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
        std::string rest = line.substr(space + 1);
        for (const auto& [fact, word] : kWords) {
            if (line.compare(0, space, word) != 0) continue;
            if (fact != Fact::Carried) {
                lines_.push_back({fact, std::move(rest), {}});
                break;
            }
            // An earlier version's identity holds its name after a space, and no key follows.
            const std::size_t after = rest.find(' ');
            const std::string first = rest.substr(0, after);
            if (after == std::string::npos || first.find(':') != std::string::npos) {
                lines_.push_back({fact, {}, std::move(rest)});
            } else {
                lines_.push_back({fact, rest.substr(after + 1), first});
            }
            break;
        }
    }
}

std::optional<std::string> APMCarriedRecord::keyOf(const std::string& keptPath) {
    struct stat info {};
    if (FileIO::current()->status(keptPath, false, info) != 0) return std::nullopt;
    return std::to_string(info.st_size) + " " + NSString::lastPathComponent(keptPath);
}

int APMCarriedRecord::identityOf(const std::string& keptPath, Identity& identity) {
    const auto io = FileIO::current();
    Digest::SHA256 file;
    Whole whole;
    if (const int err = readWhole(*io, keptPath, file, whole)) return err;
    identity.text = Digest::hexString(file.finish());
    identity.earlier =
        std::to_string(whole.bytes) + ":" + std::to_string(whole.earlier) + " " + NSString::lastPathComponent(keptPath);
    // The log's bytes are the file's rows as much as its own: each one there, by its name and size.
    // An empty one holds nothing.
    Digest::SHA256 log;
    bool logged = false;
    for (const char* suffix : {"-wal", "-journal"}) {
        struct stat info {};
        if (io->status(keptPath + suffix, false, info) != 0 || info.st_size == 0) continue;
        logged = true;
        const std::string label = std::string(suffix) + " " + std::to_string(info.st_size) + "\n";
        log.update(reinterpret_cast<const std::uint8_t*>(label.data()), label.size());
        Whole ignored;
        if (const int err = readWhole(*io, keptPath + suffix, log, ignored); err != 0 && err != ENOENT) return err;
    }
    if (logged) identity.text += "+" + Digest::hexString(log.finish());
    return 0;
}

bool APMCarriedRecord::isCarried(const Identity& identity, const std::set<std::string>& carried) {
    if (carried.count(identity.text) > 0 || carried.count(identity.earlier) > 0) return true;
    if (identity.text.find('+') != std::string::npos) return false;
    const auto withLog = carried.lower_bound(identity.text + "+");
    return withLog != carried.end() && withLog->compare(0, identity.text.size() + 1, identity.text + "+") == 0;
}

int APMCarriedRecord::attempts(const std::string& key) const {
    int count = 0;
    for (const Line& line : lines_) {
        if (line.key != key) continue;
        if (line.fact == Fact::Reading) ++count;
        else if (line.fact != Fact::GaveUp) --count;
    }
    return std::max(count, 0);
}

bool APMCarriedRecord::gaveUp(const std::string& key) const {
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const Line& line) { return line.fact == Fact::GaveUp && line.key == key; });
}

std::set<std::string> APMCarriedRecord::carried() const {
    std::set<std::string> identities;
    for (const Line& line : lines_) {
        if (line.fact == Fact::Carried) identities.insert(line.identity);
    }
    return identities;
}

std::set<std::string> APMCarriedRecord::names() const {
    std::set<std::string> names;
    for (const Line& line : lines_) {
        const std::size_t space = line.key.find(' ');
        if (space != std::string::npos) names.insert(line.key.substr(space + 1));
    }
    return names;
}

int APMCarriedRecord::note(Fact fact, const std::string& key, const std::string& identity) {
    std::string text;
    for (const auto& [each, word] : kWords) {
        if (each == fact) text = word;
    }
    if (fact == Fact::Carried) text += " " + identity;
    if (!key.empty()) text += " " + key;
    const int err = append(text + "\n");
    if (err == 0) lines_.push_back({fact, key, fact == Fact::Carried ? identity : std::string()});
    return err;
}

int APMCarriedRecord::noteCarried(const std::vector<std::string>& identities) {
    const auto held = carried();
    for (const std::string& identity : identities) {
        if (held.count(identity) > 0 || identity.empty()) continue;
        if (const int err = note(Fact::Carried, {}, identity)) return err;
    }
    return 0;
}

int APMCarriedRecord::append(const std::string& text) {
    const auto io = FileIO::current();
    struct stat info {};
    const bool made = io->status(path_, false, info) != 0;
    int fd = -1;
    if (const int err = io->open(path_, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW, 0644, fd)) return err;
    // A line torn by a power cut ends before this one starts.
    const std::string line = (tornEnd_ ? "\n" : "") + text;
    int err = io->write(fd, reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
    if (err == 0) err = io->sync(fd);
    if (const int closed = io->close(fd); err == 0) err = closed;
    if (err == 0 && made) err = io->syncFolderOf(path_);
    if (err == 0) tornEnd_ = false;
    return err;
}

void APMCarriedRecord::remove() {
    const auto io = FileIO::current();
    struct stat info {};
    if (io->status(path_, false, info) == 0 && S_ISREG(info.st_mode) && io->remove(path_) == 0) {
        (void)io->syncFolderOf(path_);
    }
    lines_.clear();
}
