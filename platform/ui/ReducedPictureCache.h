// Pictures taken reduced from files, kept once decoded when decoding them cost far more than they
// hold (a large picture shown as a thumbnail), so that a cell shown again does not decode its file
// again. Kept by file and reduced size, and given out only while the file is still the one they
// were decoded from.
#pragma once

#include "platform/foundation/FileStamp.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

class UIImage;

namespace ui_detail {

class ReducedPictureCache {
public:
    // The most pixel bytes kept, process-wide; the pictures used longest ago go first.
    static constexpr std::uint64_t kCapacity = 16ull * 1024 * 1024;

    static ReducedPictureCache& shared();

    // The picture kept for the file at `path` reduced to `maxPixelSize`, when the file there is still
    // in the state it was decoded from (looked at only when one is kept); else none.
    std::shared_ptr<UIImage> find(const std::string& path, int maxPixelSize) EXCLUDES(mutex_);
    // Keeps the decoded `image` of the file at `path`, in state `identity`, reduced to `maxPixelSize`.
    void keep(const std::string& path, int maxPixelSize, const file_detail::FileStamp& identity,
              std::shared_ptr<UIImage> image) EXCLUDES(mutex_);
    // How many pictures are kept, and letting all of them go: for the tests' check that none
    // outlives the test that decoded it.
    std::size_t count() const EXCLUDES(mutex_);
    void clear() EXCLUDES(mutex_);

private:
    using Key = std::pair<std::string, int>;
    // Looked up by a path it does not copy.
    struct KeyOrder {
        using is_transparent = void;
        template <class A, class B>
        bool operator()(const A& a, const B& b) const {
            const std::string_view x = a.first, y = b.first;
            return x < y || (x == y && a.second < b.second);
        }
    };
    using Lookup = std::pair<std::string_view, int>;
    struct Entry {
        file_detail::FileStamp identity;
        std::shared_ptr<UIImage> image;
        std::uint64_t bytes = 0;
        std::list<Key>::iterator use;
    };
    using Entries = std::map<Key, Entry, KeyOrder>;
    void forget(Entries::iterator entry) REQUIRES(mutex_);

    mutable Mutex mutex_;
    Entries entries_ GUARDED_BY(mutex_);
    // Most recently used first.
    std::list<Key> uses_ GUARDED_BY(mutex_);
    std::uint64_t bytes_ GUARDED_BY(mutex_) = 0;
};

}  // namespace ui_detail
