// The kept files' names and the moves between them.
#include "analytics/core/APMKeptFiles.h"

#include "analytics/core/APMCarriedRecord.h"
#include "analytics/core/APMMonitor.h"
#include "platform/foundation/FileError.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

namespace {

// The file and what SQLite keeps beside it, which moves and goes with it: the file last, so that
// it never stands anywhere without its log (SQLite drops a log it finds beside no file).
constexpr const char* kCompanions[] = {"-wal", "-shm", "-journal", ""};

enum class Kind { Uncarried, Earlier, Carried, Unread };
constexpr std::pair<Kind, const char*> kSuffixes[] = {
    {Kind::Uncarried, ".uncarried"}, {Kind::Earlier, ".damaged"}, {Kind::Carried, ".carried"}, {Kind::Unread, ".unread"}};

const char* suffixOf(Kind kind) {
    for (const auto& [each, suffix] : kSuffixes) {
        if (each == kind) return suffix;
    }
    return "";
}

// A name in the store's folder that belongs to a kept file: "<file><kind>", "-<n>" after it for
// n >= 2, then a companion's suffix or none.
struct KeptName {
    Kind kind = Kind::Uncarried;
    std::uint64_t number = 1;
    std::string companion;
};

std::string keptPath(const std::string& path, Kind kind, std::uint64_t number) {
    return path + suffixOf(kind) + (number == 1 ? std::string() : "-" + std::to_string(number));
}

std::optional<KeptName> parseKeptName(const std::string& file, const std::string& name) {
    if (name.size() <= file.size() || name.compare(0, file.size(), file) != 0) return std::nullopt;
    std::string_view rest(name);
    rest.remove_prefix(file.size());
    KeptName kept;
    bool known = false;
    for (const auto& [kind, suffix] : kSuffixes) {
        if (rest.substr(0, std::strlen(suffix)) != suffix) continue;
        rest.remove_prefix(std::strlen(suffix));
        kept.kind = kind;
        known = true;
        break;
    }
    if (!known) return std::nullopt;
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (rest.size() > 1 && rest[0] == '-' && digit(rest[1]) && rest[1] != '0') {
        std::uint64_t number = 0;
        std::size_t i = 1;
        // Past 18 digits a name is nobody's kept file.
        for (; i < rest.size() && digit(rest[i]); ++i) {
            if (i > 18) return std::nullopt;
            number = number * 10 + static_cast<std::uint64_t>(rest[i] - '0');
        }
        if (number < 2) return std::nullopt;
        kept.number = number;
        rest.remove_prefix(i);
    }
    if (rest.empty()) return kept;
    for (const char* companion : kCompanions) {
        if (*companion != '\0' && rest == companion) {
            kept.companion = companion;
            return kept;
        }
    }
    return std::nullopt;
}

// The kept names in the folder of `path`, with their paths.
std::vector<std::pair<std::string, KeptName>> listKept(FileIO& io, const std::string& path) {
    const std::string folder = NSString::stringByDeletingLastPathComponent(path);
    const std::string file = NSString::lastPathComponent(path);
    std::vector<std::string> names;
    std::vector<std::pair<std::string, KeptName>> kept;
    if (io.listFolder(folder, names) != 0) return kept;
    for (const std::string& name : names) {
        if (auto parsed = parseKeptName(file, name)) kept.emplace_back(folder + "/" + name, std::move(*parsed));
    }
    return kept;
}

bool exists(FileIO& io, const std::string& path) {
    struct stat info {};
    return io.status(path, false, info) == 0;
}

bool isRegularFile(FileIO& io, const std::string& path) {
    struct stat info {};
    return io.status(path, false, info) == 0 && S_ISREG(info.st_mode);
}

// Whether nothing stands at `path` nor where its companions go.
bool isFree(FileIO& io, const std::string& path) {
    for (const char* suffix : kCompanions) {
        if (exists(io, path + suffix)) return false;
    }
    return true;
}

// The first name of `kind` above those taken and above `highest`, or the bare one when it is free.
std::string freeKeptPath(FileIO& io, const std::string& path, Kind kind, std::uint64_t highest = 0) {
    for (const auto& [place, kept] : listKept(io, path)) {
        if (kept.kind == kind) highest = std::max(highest, kept.number);
    }
    const std::string bare = keptPath(path, kind, 1);
    if (highest == 0 && isFree(io, bare)) return bare;
    for (std::uint64_t number = std::max<std::uint64_t>(highest + 1, 2);; ++number) {
        if (isFree(io, keptPath(path, kind, number))) return keptPath(path, kind, number);
    }
}

// Moves the file at `from` with its companions to `to`, never over anything, in kCompanions'
// order: a moving cut short is told by a companion gone ahead. What has moved already is passed
// over, so the same call finishes a moving cut short. 0, or the errno of the rename that failed.
int moveWithCompanions(FileIO& io, const std::string& from, const std::string& to) {
    for (const char* suffix : kCompanions) {
        if (!exists(io, from + suffix)) continue;
        if (const int err = io.rename(from + suffix, to + suffix, false)) return err;
    }
    return 0;
}

// Moves a kept file to the next free name of `kind`, the folder synced; `to` its name.
int moveToKind(FileIO& io, const std::string& path, const std::string& kept, Kind kind, std::string& to) {
    to = freeKeptPath(io, path, kind);
    int err = moveWithCompanions(io, kept, to);
    if (err == 0) err = io.syncFolderOf(to);
    if (err != 0) {
        APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                              Value(fileErrorForErrno(err, kept, true)));
    }
    return err;
}

// Removes the regular files among the kept names of `path` that `which` takes: companions first,
// each file last, so that a removal cut short never leaves a companion alone, which would read as
// a moving cut short. Anything else at a kept name was moved aside as it was found, or could not
// be: it is nobody's copy to delete.
void removeKept(FileIO& io, const std::string& path, const std::function<bool(const std::string&, const KeptName&)>& which) {
    auto kept = listKept(io, path);
    std::erase_if(kept, [&](const auto& entry) { return !which(entry.first, entry.second) || !isRegularFile(io, entry.first); });
    std::stable_partition(kept.begin(), kept.end(), [](const auto& entry) { return !entry.second.companion.empty(); });
    for (const auto& [file, name] : kept) {
        if (const int err = io.remove(file)) {
            APMMeasurementMonitor()->logWithLevel(1, 34019, "Failed to delete database. Error",
                                                  Value(fileErrorForErrno(err, file, true)));
        }
    }
}

}  // namespace

APMKeptFiles::APMKeptFiles(std::string path) : path_(std::move(path)) {}

void APMKeptFiles::sayWaiting(const NSErrorPtr& why) {
    APMMeasurementMonitor()->logWithLevel(1, 34026, "Kept the database file as it is for the next opening. Error",
                                          why ? Value(why) : Value());
}

int APMKeptFiles::moveAsideWhatIsNoFile(const std::string& place) {
    std::string aside;
    if (const int err = FileIO::current()->moveAside(place, FileIO::Unwanted::AnythingButARegularFile, aside)) return err;
    if (!aside.empty()) {
        APMMeasurementMonitor()->logWithLevel(4, 34024, "Moved what was not a database file out of its place. From, to",
                                              Value(place), Value(aside));
    }
    return 0;
}

int APMKeptFiles::removeWithCompanions(const std::string& path) {
    const auto io = FileIO::current();
    int first = 0;
    for (const char* suffix : kCompanions) {
        const std::string file = path + suffix;
        if (!exists(*io, file)) continue;
        if (const int err = io->remove(file); err != 0 && err != ENOENT && first == 0) first = err;
    }
    return first;
}

void APMKeptFiles::resume() const {
    const auto io = FileIO::current();
    // Never followed: it would stop every carry, or have one read or write elsewhere.
    std::vector<std::string> places{carryingPath(), recordPath()};
    for (const auto& [place, kept] : listKept(*io, path_)) places.push_back(place);
    for (const std::string& place : places) {
        if (const int err = moveAsideWhatIsNoFile(place)) {
            APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                                  Value(fileErrorForErrno(err, place, true)));
        }
    }
    // Setting aside cut short: the file is still here, some of its companions went ahead to the
    // name it was taking, where no file stands yet.
    std::set<std::uint64_t> uncarried;
    for (const auto& [place, kept] : listKept(*io, path_)) {
        if (kept.kind == Kind::Uncarried) uncarried.insert(kept.number);
    }
    for (const std::uint64_t number : uncarried) {
        const std::string aside = keptPath(path_, Kind::Uncarried, number);
        if (exists(*io, aside) || !isRegularFile(*io, path_)) continue;
        bool goneAhead = false;
        bool clash = false;
        for (const char* suffix : kCompanions) {
            if (*suffix == '\0' || !exists(*io, aside + suffix)) continue;
            goneAhead = true;
            clash = clash || exists(*io, path_ + suffix);
        }
        if (!goneAhead || clash) continue;
        int err = moveWithCompanions(*io, path_, aside);
        if (err == 0) err = io->syncFolderOf(aside);
        if (err != 0) {
            APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                                  Value(fileErrorForErrno(err, path_, true)));
        }
        // The file moves to one name at a time.
        break;
    }
}

std::vector<std::string> APMKeptFiles::waiting() const {
    const auto io = FileIO::current();
    std::vector<std::pair<std::pair<int, std::uint64_t>, std::string>> found;
    for (const auto& [place, kept] : listKept(*io, path_)) {
        if (!kept.companion.empty() || (kept.kind != Kind::Earlier && kept.kind != Kind::Uncarried)) continue;
        if (!isRegularFile(*io, place)) continue;
        found.push_back({{kept.kind == Kind::Earlier ? 0 : 1, kept.number}, place});
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& [order, place] : found) paths.push_back(std::move(place));
    return paths;
}

int APMKeptFiles::setAside(std::string& aside) const {
    const auto io = FileIO::current();
    // Never a name the record still knows a file by: the new file would take on its attempts.
    std::uint64_t named = 0;
    const std::string file = NSString::lastPathComponent(path_);
    for (const std::string& name : APMCarriedRecord(recordPath()).names()) {
        if (const auto parsed = parseKeptName(file, name); parsed && parsed->kind == Kind::Uncarried) {
            named = std::max(named, parsed->number);
        }
    }
    aside = freeKeptPath(*io, path_, Kind::Uncarried, named);
    int err = moveWithCompanions(*io, path_, aside);
    // Undone when it cannot be finished, so that the file stays as it was.
    if (err != 0) (void)moveWithCompanions(*io, aside, path_);
    else err = io->syncFolderOf(path_);
    if (err != 0) {
        APMMeasurementMonitor()->logWithLevel(1, 34027, "Failed to move a database file aside or back. Error",
                                              Value(fileErrorForErrno(err, path_, true)));
    }
    return err;
}

int APMKeptFiles::nameCarried(const std::string& kept) const {
    const auto io = FileIO::current();
    // The older copies first, where they can go: one that stays keeps nothing from use, and this
    // one takes the next free name.
    removeKept(*io, path_, [](const std::string&, const KeptName& name) { return name.kind == Kind::Carried; });
    std::uint64_t bytes = 0;
    for (const char* suffix : kCompanions) {
        struct stat info {};
        if (io->status(kept + suffix, false, info) == 0) bytes += static_cast<std::uint64_t>(info.st_size);
    }
    if (bytes > kCarriedCopyBytes) {
        const int err = removeWithCompanions(kept);
        if (err == 0) (void)io->syncFolderOf(kept);
        return err;
    }
    std::string carried;
    return moveToKind(*io, path_, kept, Kind::Carried, carried);
}

int APMKeptFiles::nameUnread(const std::string& kept, std::string& to) const {
    return moveToKind(*FileIO::current(), path_, kept, Kind::Unread, to);
}

void APMKeptFiles::removeAll() const {
    const auto io = FileIO::current();
    removeKept(*io, path_, [](const std::string&, const KeptName&) { return true; });
    (void)removeWithCompanions(carryingPath());
    if (isRegularFile(*io, recordPath())) (void)io->remove(recordPath());
}
