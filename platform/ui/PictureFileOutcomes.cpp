// The outcomes of picture files, by path and state.
#include "platform/ui/PictureFileOutcomes.h"

#include <utility>

namespace ui_detail {

PictureFileOutcomes& PictureFileOutcomes::shared() {
    // Never destroyed: a picture may be read on a worker while the process exits.
    static auto* outcomes = new PictureFileOutcomes;
    return *outcomes;
}

std::optional<PictureFileOutcome> PictureFileOutcomes::find(const std::string& path,
                                                            const file_detail::FileStamp& identity) const {
    MutexLock lock(mutex_);
    const auto found = files_.find(path);
    if (found == files_.end() || !(found->second.identity == identity)) return std::nullopt;
    return found->second.outcome;
}

void PictureFileOutcomes::remember(const std::string& path, const file_detail::FileStamp& identity,
                                   PictureFileOutcome outcome) {
    MutexLock lock(mutex_);
    if (files_.size() >= kCapacity && !files_.contains(path)) files_.clear();
    files_.insert_or_assign(path, Entry{identity, std::move(outcome)});
}

std::size_t PictureFileOutcomes::count() const {
    MutexLock lock(mutex_);
    return files_.size();
}

void PictureFileOutcomes::clear() {
    MutexLock lock(mutex_);
    files_.clear();
}

}  // namespace ui_detail
