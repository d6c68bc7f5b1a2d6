// What became of picture files taken before, remembered while each stays in the state it was read
// in: one refused for what it is (bytes of another kind, a picture over the pixel cap) is refused
// again at once, at any size, rather than read again only for that; one whose whole decode met the
// bound on a decode's memory although its header let it be tried (the one scan a picture of several
// scans is rewritten to came out longer than its own scans) is not tried whole again.
#pragma once

#include "platform/foundation/FileStamp.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace ui_detail {

struct PictureFileOutcome {
    // UIImageErrorNotAPicture or UIImageErrorOverPixelCap, refused at every size, with why (a
    // sentence's predicate); UIImageErrorTooCostlyWhole, whose whole decode met the bound.
    long code = 0;
    std::string why;
};

class PictureFileOutcomes {
public:
    // The most files remembered; past it the memory starts afresh, and a file is at worst read
    // once more.
    static constexpr std::size_t kCapacity = 1024;

    static PictureFileOutcomes& shared();

    // What became of the file at `path` while it was in state `identity`, if it is remembered.
    std::optional<PictureFileOutcome> find(const std::string& path, const file_detail::FileStamp& identity) const
        EXCLUDES(mutex_);
    void remember(const std::string& path, const file_detail::FileStamp& identity, PictureFileOutcome outcome)
        EXCLUDES(mutex_);
    // How many files are remembered, and forgetting them: for the tests' check that none outlives
    // the test that read it.
    std::size_t count() const EXCLUDES(mutex_);
    void clear() EXCLUDES(mutex_);

private:
    struct Entry {
        file_detail::FileStamp identity;
        PictureFileOutcome outcome;
    };
    mutable Mutex mutex_;
    std::map<std::string, Entry> files_ GUARDED_BY(mutex_);
};

}  // namespace ui_detail
