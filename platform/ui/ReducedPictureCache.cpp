// The reduced pictures kept, by file and size, in the order they were last used.
#include "platform/ui/ReducedPictureCache.h"

#include "platform/foundation/FileIO.h"
#include "platform/ui/UIImage.h"

namespace ui_detail {
ReducedPictureCache& ReducedPictureCache::shared() {
    // Never destroyed: a picture may be decoded on a worker while the process exits.
    static auto* cache = new ReducedPictureCache;
    return *cache;
}

std::shared_ptr<UIImage> ReducedPictureCache::find(const std::string& path, int maxPixelSize) {
    const Lookup key{path, maxPixelSize};
    file_detail::FileStamp kept;
    {
        MutexLock lock(mutex_);
        const auto entry = entries_.find(key);
        if (entry == entries_.end()) return nullptr;
        kept = entry->second.identity;
    }
    struct stat info {};
    const bool unchanged = FileIO::current()->status(path, true, info) == 0 &&
                           file_detail::FileStamp::settled(info, file_detail::FileStamp::now()) ==
                               std::optional<file_detail::FileStamp>(kept);
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

void ReducedPictureCache::keep(const std::string& path, int maxPixelSize, const file_detail::FileStamp& identity,
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
