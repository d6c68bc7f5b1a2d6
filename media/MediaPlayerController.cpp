// The music engine: lists, modes, persistence and moving on at the end of a track.
#include "media/MediaPlayerController.h"

#include "media/CompositionsSource.h"
#include "media/MediaPlayerItem.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/media/AVAudioSession.h"

#include <algorithm>
#include <cmath>

namespace {

const char* const kRewindKey = "kMediaPlayerRewindKey";
const char* const kShuffleKey = "kMediaPlayerShuffleKey";
const char* const kVolumeKey = "kMediaPlayerVolumeKey";
const char* const kLastPlayedKey = "kMediaPlayerLastPlayedIndex";

std::shared_ptr<NSUserDefaults> defaults() { return NSUserDefaults::standardUserDefaults(); }

void synchronize() {
    if (!defaults()->synchronize()) Diagnostics::note("The player's settings could not be written.");
}

}  // namespace

std::shared_ptr<MediaPlayerController> MediaPlayerController::initWithSource(
    std::shared_ptr<CompositionsSource> source, std::shared_ptr<const MediaContext> context) {
    auto controller =
        std::shared_ptr<MediaPlayerController>(new MediaPlayerController(std::move(source), std::move(context)));
    controller->setup();
    return controller;
}

void MediaPlayerController::setup() {
    auto session = AVAudioSession::sharedInstance();
    NSErrorPtr error;
    if (!session->setCategory(AVAudioSessionCategoryPlayback, &error))
        Diagnostics::notef("Audiosession Error: %s", error ? error->description().c_str() : "");
    error = nullptr;
    if (!session->setActive(true, &error))
        Diagnostics::notef("Audiosession Error: %s", error ? error->description().c_str() : "");

    rewind_ = static_cast<std::int32_t>(defaults()->integerForKey(kRewindKey));
    shuffle_ = defaults()->boolForKey(kShuffleKey);
    mediaPlayer_ = MediaPlayer::make(context_);
    mediaPlayer_->setDelegate(std::static_pointer_cast<MediaPlayerController>(shared_from_this()));
    if (defaults()->objectForKey(kVolumeKey).isNull()) {
        defaults()->setFloat(1.0f, kVolumeKey);
        synchronize();
    }
    mediaPlayer_->setVolume(defaults()->floatForKey(kVolumeKey));
    fillList();
}

std::string MediaPlayerController::listPath() const { return context_->files().documentsPathForFile(kLastPlayedListFile); }

MediaItems MediaPlayerController::loadLastList(bool* readable) const {
    MediaItems list;
    const Value saved = NSPropertyListSerialization::propertyListWithContentsOfFile(listPath());
    *readable = saved.isArray();
    if (!saved.isArray()) return list;
    for (const auto& row : saved.array()) {
        if (!row.isDictionary()) continue;
        list.push_back(MediaPlayerItem::mediaPlayerItemWithDictionary(row.dictionary(), context_));
    }
    return list;
}

void MediaPlayerController::saveList(const MediaItems& list) const {
    Value::Array rows;
    for (const auto& item : list) {
        // Every value as text, as the database layer gave it.
        Value::Dictionary row;
        for (const auto& entry : item->data()) row.set(entry.first, Value(entry.second.stringValue()));
        rows.push_back(Value(row));
    }
    NSErrorPtr error;
    const std::string path = listPath();
    if (!NSPropertyListSerialization::writePropertyList(Value(rows), path,
                                                        NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0, &error)) {
        Diagnostics::notef("The last play list could not be saved: %s",
                           error ? error->localizedDescription().c_str() : "");
        return;
    }
    (void)FileSystem::setNoBackupAttribute(path);
}

void MediaPlayerController::fillList() {
    bool readable = false;
    MediaItems list = loadLastList(&readable);
    if (readable) {
        // The list just read is the one on file: written again, it would cost a launch a file
        // write and two flushes to disk for the same contents.
        useList(list, 0);
    } else {
        if (!compositionsSource_) return;
        list = compositionsSource_->allCompositions();
        setSource(list, 0);
    }
    if (!mediaSource_) return;
    const std::string last = defaults()->stringForKey(kLastPlayedKey);
    if (!last.empty()) {
        for (std::int64_t i = 0; i < mediaSource_->itemsCount(); ++i) {
            auto item = mediaSource_->itemAt(i);
            if (item && item->path() == last) {
                mediaSource_->setCurrentItem(item);
                break;
            }
        }
    }
    (void)mediaPlayer_->setItem(currentMediaItem());
    checkItemIndex();
}

void MediaPlayerController::setSource(const MediaItems& list, std::int32_t index) {
    saveList(list);
    useList(list, index);
}

void MediaPlayerController::useList(const MediaItems& list, std::int32_t index) {
    shuffleSource_ = nullptr;
    mediaSource_ = nullptr;
    originalSource_ = nullptr;
    // An empty list (a database without tracks) leaves no list at all.
    if (list.empty()) {
        checkItemIndex();
        return;
    }
    originalSource_ = ArrayMediaSource::initWithArray(list);
    const auto at = std::clamp<std::int32_t>(index, 0, static_cast<std::int32_t>(list.size()) - 1);
    originalSource_->setCurrentItem(list[static_cast<std::size_t>(at)]);
    if (shuffle_) {
        shuffleSource_ = MediaSource_Shuffle::initWithSource(originalSource_);
        mediaSource_ = shuffleSource_;
    } else {
        mediaSource_ = originalSource_;
    }
    checkItemIndex();
}

std::shared_ptr<MediaPlayerItem> MediaPlayerController::currentMediaItem() const {
    return mediaSource_ ? mediaSource_->currentItem() : nullptr;
}

void MediaPlayerController::setRewind(std::int32_t rewind) {
    rewind_ = rewind;
    defaults()->setInteger(rewind, kRewindKey);
    synchronize();
}

void MediaPlayerController::setShuffle(bool shuffle) {
    shuffle_ = shuffle;
    if (originalSource_) {
        if (shuffle) {
            shuffleSource_ = MediaSource_Shuffle::initWithSource(originalSource_);
            mediaSource_ = shuffleSource_;
        } else {
            // Releasing the shuffled copy hands its current track back to the list.
            mediaSource_ = nullptr;
            shuffleSource_ = nullptr;
            mediaSource_ = originalSource_;
        }
    }
    defaults()->setBool(shuffle, kShuffleKey);
    synchronize();
}

float MediaPlayerController::volume() const { return defaults()->floatForKey(kVolumeKey); }

void MediaPlayerController::setVolume(float volume) {
    defaults()->setFloat(volume, kVolumeKey);
    synchronize();
    mediaPlayer_->setVolume(volume);
}

void MediaPlayerController::setPosition(float position) {
    position_ = position;
    const double duration = CMTimeGetSeconds(mediaPlayer_->getDuration());
    mediaPlayer_->seek(CMTimeMake(static_cast<std::int64_t>(position * duration), 1));
}

void MediaPlayerController::play() {
    if (mediaPlayer_->isReady())
        mediaPlayer_->pause();
    else if (auto item = currentMediaItem())
        mediaPlayer_->playItem(item);
    checkItemIndex();
}

void MediaPlayerController::stop() {
    mediaPlayer_->stop();
    position_ = 0;
}

void MediaPlayerController::next() {
    if (!mediaSource_) return;
    if (!mediaSource_->processNextItem()) mediaSource_->setCurrentItem(mediaSource_->itemAt(0));
    const bool wasPlaying = mediaPlayer_->isPlaying();
    checkItemIndex();
    if (wasPlaying)
        mediaPlayer_->playItem(currentMediaItem());
    else
        (void)mediaPlayer_->setItem(currentMediaItem());
}

void MediaPlayerController::prev() {
    if (!mediaSource_) return;
    if (!mediaSource_->processPrevItem()) mediaSource_->setCurrentItem(mediaSource_->itemAt(mediaSource_->itemsCount() - 1));
    const bool wasPlaying = mediaPlayer_->isPlaying();
    checkItemIndex();
    if (wasPlaying)
        mediaPlayer_->playItem(currentMediaItem());
    else
        (void)mediaPlayer_->setItem(currentMediaItem());
}

void MediaPlayerController::playList(const MediaItems& list, std::int32_t index) {
    setPlayList(list, index);
    checkItemIndex();
    if (mediaSource_) mediaPlayer_->pause();
}

void MediaPlayerController::setPlayList(const MediaItems& list, std::int32_t index) {
    setSource(list, index);
    if (mediaSource_) (void)mediaPlayer_->setItem(currentMediaItem());
}

void MediaPlayerController::updateList() {
    (void)FileIO::current()->remove(listPath());
    fillList();
}

void MediaPlayerController::checkItemIndex() {
    curItem_ = mediaSource_ ? mediaSource_->currentItemIndex() + 1 : 0;
    itemsCount_ = mediaSource_ ? mediaSource_->itemsCount() : 0;
}

void MediaPlayerController::mediaPlayerDidEndPlay(MediaPlayer& player) {
    if (!mediaSource_) return;
    if (rewind_ == 2) {
        player.playItem(currentMediaItem());
        return;
    }
    if (auto next = mediaSource_->processNextItem()) {
        checkItemIndex();
        player.playItem(next);
        return;
    }
    mediaSource_->setCurrentItem(mediaSource_->itemAt(0));
    checkItemIndex();
    (void)player.setItem(currentMediaItem());
    if (rewind_ == 1)
        player.pause();
    else
        NSNotificationCenter::defaultCenter()->postNotificationName(MediaPlayerPlayStoppedNotification,
                                                                    shared_from_this());
}

void MediaPlayerController::mediaPlayerTimeChangedTo(MediaPlayer& player, CMTime time) {
    const auto duration = static_cast<float>(CMTimeGetSeconds(player.getDuration()));
    if (duration > 0) {
        const auto t = static_cast<float>(CMTimeGetSeconds(time));
        position_ = t / duration;
        currentTime_ = t;
        remainingTime_ = duration - t;
    } else {
        position_ = currentTime_ = remainingTime_ = 0;
    }
    NSNotificationCenter::defaultCenter()->postNotificationName(MediaPlayerPostionChangedNotification, shared_from_this());
}

void MediaPlayerController::mediaPlayerItemSet(MediaPlayer& player, const std::shared_ptr<MediaPlayerItem>& item) {
    NSNotificationCenter::defaultCenter()->postNotificationName(MediaPlayerItemChangedNotification, item);
    position_ = currentTime_ = 0;
    const double duration = CMTimeGetSeconds(player.getDuration());
    remainingTime_ = std::isnan(duration) ? 0 : static_cast<float>(duration);
    (void)defaults()->setObject(Value(item ? item->path() : std::string()), kLastPlayedKey);
}
