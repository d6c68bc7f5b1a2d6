// Play lists: the abstract source with a current item, an array with a position, and a
// shuffled copy of another source that hands its current track back when it goes.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>
#include <vector>

class MediaPlayerItem;
using MediaItems = std::vector<std::shared_ptr<MediaPlayerItem>>;

class MediaSource : public NSObject {
public:
    const std::shared_ptr<MediaPlayerItem>& currentItem() const { return currentItem_; }
    virtual std::int32_t currentItemIndex() const { return -1; }
    virtual void setCurrentItem(std::shared_ptr<MediaPlayerItem> item) { currentItem_ = std::move(item); }
    virtual std::shared_ptr<MediaPlayerItem> processNextItem() { return nullptr; }
    virtual std::shared_ptr<MediaPlayerItem> processPrevItem() { return nullptr; }
    virtual std::int64_t itemsCount() const { return 0; }
    // None outside the list.
    virtual std::shared_ptr<MediaPlayerItem> itemAt(std::int64_t index) const {
        (void)index;
        return nullptr;
    }
    virtual void checkSource() {}

protected:
    MediaSource() = default;
    std::shared_ptr<MediaPlayerItem> currentItem_;
};

class ArrayMediaSource : public MediaSource {
public:
    // The first item is current (none, at position -1, for an empty list).
    static std::shared_ptr<ArrayMediaSource> initWithArray(MediaItems items);

    const MediaItems& itemsList() const { return items_; }
    std::int32_t currentItemIndex() const override { return index_; }
    // Stores the item, then takes the position of that very object when the list holds it.
    void setCurrentItem(std::shared_ptr<MediaPlayerItem> item) override;
    std::shared_ptr<MediaPlayerItem> processNextItem() override;
    std::shared_ptr<MediaPlayerItem> processPrevItem() override;
    std::int64_t itemsCount() const override { return static_cast<std::int64_t>(items_.size()); }
    std::shared_ptr<MediaPlayerItem> itemAt(std::int64_t index) const override;
    void checkSource() override;

protected:
    ArrayMediaSource() = default;
    MediaItems items_;
    std::int32_t index_ = -1;
};

class MediaSource_Shuffle : public ArrayMediaSource {
public:
    // The other source's items in a random order (the C library generator seeded with the
    // clock's whole seconds), its current item first.
    static std::shared_ptr<MediaSource_Shuffle> initWithSource(std::shared_ptr<MediaSource> source);
    // The old source resumes at the track this one reached.
    ~MediaSource_Shuffle() override;

    const std::shared_ptr<MediaSource>& oldSource() const { return oldSource_; }

private:
    MediaSource_Shuffle() = default;
    std::shared_ptr<MediaSource> oldSource_;
};
