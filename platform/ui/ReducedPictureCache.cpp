// The reduced pictures kept, by file and size, in the order they were last used.
#include "platform/ui/ReducedPictureCache.h"

#include "platform/foundation/FileIO.h"
#include "platform/ui/UIImage.h"

namespace ui_detail {
namespace {
bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}
bool same(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }
}  // namespace

std::optional<FileIdentity> FileIdentity::of(const struct stat& info, timespec readBegan) {
    if (!before(info.st_mtim, readBegan)) return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

timespec FileIdentity::now() {
    // The kernel stamps files from its coarse clock (or later, never earlier).
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}

bool FileIdentity::operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size && same(modified, other.modified) &&
           same(changed, other.changed);
}

ReducedPictureCache& ReducedPictureCache::shared() {
    // Never destroyed: a picture may be decoded on a worker while the process exits.
    static auto* cache = new ReducedPictureCache;
    return *cache;
}

std::shared_ptr<UIImage> ReducedPictureCache::find(const std::string& path, int maxPixelSize) {
    const Lookup key{path, maxPixelSize};
    FileIdentity kept;
    {
        MutexLock lock(mutex_);
        const auto entry = entries_.find(key);
        if (entry == entries_.end()) return nullptr;
        kept = entry->second.identity;
    }
    struct stat info {};
    const bool unchanged = FileIO::current()->status(path, true, info) == 0 &&
                           FileIdentity::of(info, FileIdentity::now()) == std::optional<FileIdentity>(kept);
    MutexLock lock(mutex_);
    const auto entry = entries_.find(key);
    if (entry == entries_.end() || !(entry->second.identity == kept)) return nullptr;
    if (!unchanged) {
        forget(entry);
        return nullptr;
    }
    uses_.splice(uses_.begin(), uses_, entry->second.use);
    return entry->second.image;
}

void ReducedPictureCache::keep(const std::string& path, int maxPixelSize, const FileIdentity& identity,
                               std::shared_ptr<UIImage> image) {
    const std::uint64_t bytes = static_cast<std::uint64_t>(image->pixelWidth()) * static_cast<std::uint64_t>(image->pixelHeight()) * 4;
    // One picture never takes the room of many.
    if (bytes > kCapacity / 8) return;
    Key key{path, maxPixelSize};
    MutexLock lock(mutex_);
    if (const auto old = entries_.find(key); old != entries_.end()) forget(old);
    while (bytes_ + bytes > kCapacity && !uses_.empty()) forget(entries_.find(uses_.back()));
    uses_.push_front(key);
    entries_.emplace(std::move(key), Entry{identity, std::move(image), bytes, uses_.begin()});
    bytes_ += bytes;
}

std::size_t ReducedPictureCache::count() const {
    MutexLock lock(mutex_);
    return entries_.size();
}

void ReducedPictureCache::clear() {
    MutexLock lock(mutex_);
    entries_.clear();
    uses_.clear();
    bytes_ = 0;
}

void ReducedPictureCache::forget(Entries::iterator entry) {
    bytes_ -= entry->second.bytes;
    uses_.erase(entry->second.use);
    entries_.erase(entry);
}

}  // namespace ui_detail
