// Plays one item: rate (0 or 1), seeking, the current time, periodic time observers and
// key-value observation of "status", "rate", "currentItem.loadedTimeRanges" and
// "currentItem.loading". What the item's worker changes reaches observers on the main queue;
// what a caller changes (rate, seek) is told at once, on the caller's thread.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/media/CMTime.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class AVPlayerItem;
class DispatchQueue;

enum class AVPlayerStatus : long { Unknown = 0, ReadyToPlay = 1, Failed = 2 };

enum NSKeyValueObservingOptions : unsigned {
    NSKeyValueObservingOptionNew = 0x01,
    NSKeyValueObservingOptionOld = 0x02,
    NSKeyValueObservingOptionInitial = 0x04,
};

class AVPlayer : public NSObject {
public:
    using TimeObserver = std::function<void(CMTime time)>;
    using KeyValueObserver = std::function<void(const std::string& keyPath)>;

    // Empty without an item.
    static std::shared_ptr<AVPlayer> playerWithPlayerItem(std::shared_ptr<AVPlayerItem> item);
    // Stops the item's playback.
    ~AVPlayer() override;

    // Ready once the item is; failed when it failed.
    AVPlayerStatus status() const;
    NSErrorPtr error() const;
    const std::shared_ptr<AVPlayerItem>& currentItem() const { return item_; }

    // 0 or 1 (any positive rate plays at 1). Playing waits for readiness; at the end of the
    // loaded part of a stream the player sets the rate to 0 itself and does not resume.
    float rate() const;
    void setRate(float rate);
    void play() { setRate(1.0f); }
    void pause() { setRate(0.0f); }
    CMTime currentTime() const;
    // Clamped to the item's length.
    void seekToTime(CMTime time);

    // Calls `block` on `queue` (the main queue when empty) at every whole `interval` of media
    // time passed while playing, and once after every jump (a seek, a change of rate, the end).
    // The intervals are told one after another as they come due, one call waiting at a time,
    // however far the time moved. The token keeps the registration; the block must not hold the
    // player strongly.
    std::shared_ptr<NSObject> addPeriodicTimeObserverForInterval(CMTime interval, std::shared_ptr<DispatchQueue> queue,
                                                                 TimeObserver block);
    // Stops it, including calls already queued.
    void removeTimeObserver(const std::shared_ptr<NSObject>& token);

    // Observes "status", "rate", "currentItem.loadedTimeRanges" or "currentItem.loading" (the
    // item's isLoading, told while its status is unknown: ready or failed, "status" tells):
    // `observer` gets the key path after each change (read the value from the player). With the
    // initial option it is also called once inside this call. Empty token for any other key path.
    std::shared_ptr<NSObject> addObserver(const std::string& keyPath, unsigned options, KeyValueObserver observer);
    void removeObserver(const std::shared_ptr<NSObject>& token);

private:
    friend class AVPlayerItem;
    explicit AVPlayer(std::shared_ptr<AVPlayerItem> item) : item_(std::move(item)) {}

    struct TimeRegistration;
    struct KeyRegistration;

    // From the item, on its worker (or the caller of a control).
    void itemChanged(const std::string& keyPath, bool onCaller);
    void timeAdvanced(std::int64_t from, std::int64_t to, int sampleRate);
    void jumped();
    void deliverTime(const std::shared_ptr<TimeRegistration>& registration, CMTime time);
    void deliverNextInterval(const std::shared_ptr<TimeRegistration>& registration);

    const std::shared_ptr<AVPlayerItem> item_;
    mutable Mutex mutex_;
    std::vector<std::shared_ptr<TimeRegistration>> timeObservers_ GUARDED_BY(mutex_);
    std::vector<std::shared_ptr<KeyRegistration>> keyObservers_ GUARDED_BY(mutex_);
};
