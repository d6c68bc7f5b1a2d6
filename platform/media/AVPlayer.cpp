// The player's controls and its observers.
#include "platform/media/AVPlayer.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/media/AVPlayerItem.h"

#include <algorithm>

struct AVPlayer::TimeRegistration : NSObject {
    CMTime interval;
    std::shared_ptr<DispatchQueue> queue;
    TimeObserver block;
    // Under the player's lock. Whole intervals passed and not yet told, next to upTo; one
    // delivery at a time is queued for them, which queues the next as it runs.
    bool live = true;
    std::int64_t next = 0;
    std::int64_t upTo = -1;
    bool delivering = false;
};

struct AVPlayer::KeyRegistration : NSObject {
    std::string keyPath;
    KeyValueObserver observer;
    bool live = true;  // under the player's lock
};

std::shared_ptr<AVPlayer> AVPlayer::playerWithPlayerItem(std::shared_ptr<AVPlayerItem> item) {
    if (!item) return nullptr;
    auto player = std::shared_ptr<AVPlayer>(new AVPlayer(item));
    item->attach(player);
    return player;
}

AVPlayer::~AVPlayer() { item_->setRate(0); }

AVPlayerStatus AVPlayer::status() const { return static_cast<AVPlayerStatus>(item_->status()); }
NSErrorPtr AVPlayer::error() const { return item_->error(); }
float AVPlayer::rate() const { return item_->rate(); }
void AVPlayer::setRate(float rate) { item_->setRate(rate); }
CMTime AVPlayer::currentTime() const { return item_->currentTime(); }
void AVPlayer::seekToTime(CMTime time) { item_->seek(time); }

std::shared_ptr<NSObject> AVPlayer::addPeriodicTimeObserverForInterval(CMTime interval,
                                                                       std::shared_ptr<DispatchQueue> queue,
                                                                       TimeObserver block) {
    if (!interval.isValid() || interval.value <= 0 || !block) return nullptr;
    auto registration = std::make_shared<TimeRegistration>();
    registration->interval = interval;
    registration->queue = queue ? std::move(queue) : DispatchQueue::mainQueue();
    registration->block = std::move(block);
    MutexLock lock(mutex_);
    timeObservers_.push_back(registration);
    return registration;
}

void AVPlayer::removeTimeObserver(const std::shared_ptr<NSObject>& token) {
    MutexLock lock(mutex_);
    auto it = std::find(timeObservers_.begin(), timeObservers_.end(), token);
    if (it == timeObservers_.end()) return;
    (*it)->live = false;
    timeObservers_.erase(it);
}

std::shared_ptr<NSObject> AVPlayer::addObserver(const std::string& keyPath, unsigned options,
                                                KeyValueObserver observer) {
    if (keyPath != "status" && keyPath != "rate" && keyPath != "currentItem.loadedTimeRanges" &&
        keyPath != "currentItem.loading")
        return nullptr;
    if (!observer) return nullptr;
    auto registration = std::make_shared<KeyRegistration>();
    registration->keyPath = keyPath;
    registration->observer = observer;
    {
        MutexLock lock(mutex_);
        keyObservers_.push_back(registration);
    }
    if (options & NSKeyValueObservingOptionInitial) observer(keyPath);
    return registration;
}

void AVPlayer::removeObserver(const std::shared_ptr<NSObject>& token) {
    MutexLock lock(mutex_);
    auto it = std::find(keyObservers_.begin(), keyObservers_.end(), token);
    if (it == keyObservers_.end()) return;
    (*it)->live = false;
    keyObservers_.erase(it);
}

void AVPlayer::itemChanged(const std::string& keyPath, bool onCaller) {
    std::vector<std::shared_ptr<KeyRegistration>> observers;
    {
        MutexLock lock(mutex_);
        for (const auto& registration : keyObservers_)
            if (registration->keyPath == keyPath) observers.push_back(registration);
    }
    if (observers.empty()) return;
    std::weak_ptr<AVPlayer> weak = std::static_pointer_cast<AVPlayer>(shared_from_this());
    auto deliver = [weak, observers, keyPath] {
        auto self = weak.lock();
        if (!self) return;
        for (const auto& registration : observers) {
            {
                MutexLock lock(self->mutex_);
                if (!registration->live) continue;
            }
            registration->observer(keyPath);
        }
    };
    if (onCaller)
        deliver();
    else
        DispatchQueue::mainQueue()->async(deliver);
}

void AVPlayer::deliverTime(const std::shared_ptr<TimeRegistration>& registration, CMTime time) {
    std::weak_ptr<AVPlayer> weak = std::static_pointer_cast<AVPlayer>(shared_from_this());
    registration->queue->async([weak, registration, time] {
        auto self = weak.lock();
        if (!self) return;
        {
            MutexLock lock(self->mutex_);
            if (!registration->live) return;
        }
        registration->block(time);
    });
}

void AVPlayer::timeAdvanced(std::int64_t from, std::int64_t to, int sampleRate) {
    if (to <= from || sampleRate <= 0) return;
    std::vector<std::shared_ptr<TimeRegistration>> start;
    {
        MutexLock lock(mutex_);
        for (const auto& registration : timeObservers_) {
            // Whole intervals k x value / timescale seconds, in frames: k x value x rate / timescale.
            const __int128 step = static_cast<__int128>(registration->interval.value) * sampleRate;
            const __int128 scale = registration->interval.timescale;
            const auto first = static_cast<std::int64_t>(static_cast<__int128>(from) * scale / step) + 1;
            const auto last = static_cast<std::int64_t>(static_cast<__int128>(to) * scale / step);
            if (last < first) continue;
            if (registration->next > registration->upTo) {
                registration->next = first;
                registration->upTo = last;
            } else {
                registration->upTo = std::max(registration->upTo, last);
            }
            if (!registration->delivering) {
                registration->delivering = true;
                start.push_back(registration);
            }
        }
    }
    for (const auto& registration : start) deliverNextInterval(registration);
}

// Tells the next whole interval due, then queues the one after it, if any: the intervals are
// told as they come up, and however many passed at once, one delivery waits at a time.
void AVPlayer::deliverNextInterval(const std::shared_ptr<TimeRegistration>& registration) {
    std::weak_ptr<AVPlayer> weak = std::static_pointer_cast<AVPlayer>(shared_from_this());
    registration->queue->async([weak, registration] {
        auto self = weak.lock();
        if (!self) return;
        std::int64_t k = 0;
        {
            MutexLock lock(self->mutex_);
            if (!registration->live || registration->next > registration->upTo) {
                registration->delivering = false;
                return;
            }
            k = registration->next++;
        }
        registration->block(CMTimeMake(k * registration->interval.value, registration->interval.timescale));
        {
            MutexLock lock(self->mutex_);
            if (!registration->live || registration->next > registration->upTo) {
                registration->delivering = false;
                return;
            }
        }
        self->deliverNextInterval(registration);
    });
}

void AVPlayer::jumped() {
    std::vector<std::shared_ptr<TimeRegistration>> observers;
    {
        MutexLock lock(mutex_);
        observers = timeObservers_;
        // The time is told once from where it jumped to; intervals passed before are not told after it.
        for (const auto& registration : observers) registration->upTo = registration->next - 1;
    }
    const CMTime now = currentTime();
    for (const auto& registration : observers) deliverTime(registration, now);
}
