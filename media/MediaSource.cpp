// Play lists in order and shuffled.
#include "media/MediaSource.h"

#include "media/MediaPlayerItem.h"
#include "platform/foundation/Clock.h"

#include <algorithm>
#include <cstdlib>

std::shared_ptr<ArrayMediaSource> ArrayMediaSource::initWithArray(MediaItems items) {
    auto source = std::shared_ptr<ArrayMediaSource>(new ArrayMediaSource());
    source->items_ = std::move(items);
    if (!source->items_.empty()) {
        source->currentItem_ = source->items_.front();
        source->index_ = 0;
    }
    return source;
}

void ArrayMediaSource::setCurrentItem(std::shared_ptr<MediaPlayerItem> item) {
    MediaSource::setCurrentItem(std::move(item));
    checkSource();
}

void ArrayMediaSource::checkSource() {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i] == currentItem_) {
            index_ = static_cast<std::int32_t>(i);
            return;
        }
    }
}

std::shared_ptr<MediaPlayerItem> ArrayMediaSource::processNextItem() {
    if (index_ < 0 || index_ >= static_cast<std::int32_t>(items_.size()) - 1) return nullptr;
    ++index_;
    currentItem_ = items_[static_cast<std::size_t>(index_)];
    return currentItem_;
}

std::shared_ptr<MediaPlayerItem> ArrayMediaSource::processPrevItem() {
    if (index_ < 1 || index_ > static_cast<std::int32_t>(items_.size())) return nullptr;
    --index_;
    currentItem_ = items_[static_cast<std::size_t>(index_)];
    return currentItem_;
}

std::shared_ptr<MediaPlayerItem> ArrayMediaSource::itemAt(std::int64_t index) const {
    if (index < 0 || index >= static_cast<std::int64_t>(items_.size())) return nullptr;
    return items_[static_cast<std::size_t>(index)];
}

std::shared_ptr<MediaSource_Shuffle> MediaSource_Shuffle::initWithSource(std::shared_ptr<MediaSource> source) {
    auto shuffle = std::shared_ptr<MediaSource_Shuffle>(new MediaSource_Shuffle());
    if (!source) return shuffle;
    MediaItems work;
    for (std::int64_t i = 0; i < source->itemsCount(); ++i)
        if (auto item = source->itemAt(i)) work.push_back(item);
    const auto current = source->currentItem();
    if (current) {
        shuffle->items_.push_back(current);
        work.erase(std::remove(work.begin(), work.end(), current), work.end());
    }
    std::srand(static_cast<unsigned>(static_cast<long long>(Clock::now())));
    while (!work.empty()) {
        const std::size_t pick = static_cast<std::size_t>(std::rand()) % work.size();
        shuffle->items_.push_back(work[pick]);
        work.erase(work.begin() + static_cast<std::ptrdiff_t>(pick));
    }
    if (!shuffle->items_.empty()) {
        shuffle->currentItem_ = shuffle->items_.front();
        shuffle->index_ = 0;
    }
    shuffle->oldSource_ = std::move(source);
    return shuffle;
}

MediaSource_Shuffle::~MediaSource_Shuffle() {
    if (!oldSource_ || !currentItem_) return;
    oldSource_->setCurrentItem(currentItem_);
    oldSource_->checkSource();
}
