// The audio player over the platform player.
#include "media/MediaPlayer.h"

#include "media/MediaPlayerItem.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/media/AVAsset.h"
#include "platform/media/AVAudioMix.h"
#include "platform/media/AVError.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/AVPlayerItem.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/ui/UIAlertView.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OEIdleTimerManager.h"

std::shared_ptr<MediaPlayer> MediaPlayer::make(std::shared_ptr<const MediaContext> context) {
    return std::shared_ptr<MediaPlayer>(new MediaPlayer(std::move(context)));
}

MediaPlayer::~MediaPlayer() { stopPlaying(); }

void MediaPlayer::setIdleHold(bool hold) {
    // Only changes are passed on: a player that holds nothing (one destroyed as the process
    // exits) asks nothing of the keeper.
    if (hold == holdingIdle_ || !context_->idle) return;
    holdingIdle_ = hold;
    context_->idle->setIdleTimerDisabled(hold, idleHolder_);
}

bool MediaPlayer::mayStream() const {
    if (!context_->isNetworkReachable()) return false;
    return !NSUserDefaults::standardUserDefaults()->boolForKey("Media_SkipNotDownloaded");
}

namespace {

// The failure and what lies beneath it, for the log.
std::string reasonOf(const NSErrorPtr& error) {
    if (!error) return "no reason given";
    std::string reason = error->localizedDescription();
    const auto underlying = error->userInfo()[NSUnderlyingErrorKey].objectAs<NSError>();
    if (underlying) reason += " (" + underlying->localizedDescription() + ")";
    return reason;
}

// What the alert says of a track that cannot be played: why, where the failure or one beneath
// it tells (its server could not be reached, or what was read is no music the player knows);
// otherwise only that it cannot.
std::string cannotPlayMessage(const NSErrorPtr& failure) {
    for (NSErrorPtr error = failure; error; error = error->userInfo()[NSUnderlyingErrorKey].objectAs<NSError>()) {
        if (error->domain() == NSURLErrorDomain && NSURLErrorIsUnreachable(error->code()))
            return OECoreString("The music server cannot be reached.");
        if (error->domain() == AVFoundationErrorDomain && error->code() == AVErrorFileFormatNotRecognized)
            return OECoreString("This file is not music that can be played.");
    }
    return OECoreString("This composition cannot be played.");
}

}  // namespace

bool MediaPlayer::setItem(const std::shared_ptr<MediaPlayerItem>& item) {
    stopPlaying();
    failure_ = nullptr;
    if (!item) return false;
    if (currentItem_) currentItem_->setBuffering(false);
    currentItem_ = item;
    const bool local = item->exists();
    // A streamed track shows as loading from now until the platform has its header (or gives up
    // on it); a refused one loads nothing, so it does not.
    const bool refused = !local && !mayStream();
    if (!local && !refused) item->setBuffering(true);
    if (auto d = delegate()) d->mediaPlayerItemSet(*this, item);
    Diagnostics::notef("Setting item: %s", item->rawValue("filepath").c_str());
    if (refused) return false;
    auto url = item->itemUrl();
    auto asset = url ? AVURLAsset::URLAssetWithURL(url) : nullptr;
    auto playerItem = AVPlayerItem::playerItemWithAsset(asset);
    if (!playerItem) {
        item->setBuffering(false);
        return false;
    }
    auto player = AVPlayer::playerWithPlayerItem(playerItem);
    player_ = player;
    std::weak_ptr<MediaPlayer> weak = std::static_pointer_cast<MediaPlayer>(shared_from_this());
    const unsigned options = NSKeyValueObservingOptionNew | NSKeyValueObservingOptionInitial;
    statusObservation_ = player->addObserver("status", options, [weak](const std::string&) {
        if (auto self = weak.lock()) self->statusChanged();
    });
    // The initial report of a track that failed already has dropped the player.
    if (player_ != player) {
        player->removeObserver(statusObservation_);
        statusObservation_ = nullptr;
        return false;
    }
    rangesObservation_ = player_->addObserver("currentItem.loadedTimeRanges", options, [weak](const std::string&) {
        if (auto self = weak.lock()) self->loadedRangesChanged();
    });
    loadingObservation_ = player_->addObserver("currentItem.loading", NSKeyValueObservingOptionNew,
                                               [weak](const std::string&) {
                                                   if (auto self = weak.lock()) self->loadingChanged();
                                               });
    endObserver_ = NSNotificationCenter::defaultCenter()->addObserverForName(
        AVPlayerItemDidPlayToEndTimeNotification, playerItem, nullptr, [weak](const NSNotification&) {
            if (auto self = weak.lock()) self->didEndPlayItem();
        });
    return true;
}

void MediaPlayer::playItem(const std::shared_ptr<MediaPlayerItem>& item) {
    (void)setItem(item);
    startPlay();
}

void MediaPlayer::startPlay() {
    if (currentItem_ && !currentItem_->exists() && !context_->isNetworkReachable()) {
        UIAlertView::initWithTitle(OECoreString("No Internet"), OECoreString("Check your internetsettings"), nullptr,
                                   OECoreString("Ok"), {})
            ->show();
        currentItem_->setBuffering(false);
        NSNotificationCenter::defaultCenter()->postNotificationName(MediaPlayerItemChangedNotification, currentItem_);
        return;
    }
    if (failure_ && !player_) {
        tellCannotPlay();
        return;
    }
    // Without a player (a refused track) nothing plays, so the screen is not kept awake.
    if (player_) {
        setIdleHold(true);
        player_->play();
    }
    isPaused_ = false;
    if (auto d = delegate()) d->mediaPlayerTimeChangedTo(*this, kCMTimeZero);
}

void MediaPlayer::pause() {
    isPaused_ = !isPaused_;
    if (player_ && player_->rate() > 0) {
        setIdleHold(false);
        player_->pause();
    } else {
        startPlay();
    }
}

void MediaPlayer::stopPlaying() {
    setIdleHold(false);
    // Nothing plays any more: a track loaded next is not shown as playing until it starts.
    isPaused_ = true;
    if (!player_) return;
    player_->removeObserver(statusObservation_);
    player_->removeObserver(rangesObservation_);
    player_->removeObserver(loadingObservation_);
    if (timeObserver_) player_->removeTimeObserver(timeObserver_);
    if (endObserver_) NSNotificationCenter::defaultCenter()->removeObserver(endObserver_);
    statusObservation_ = rangesObservation_ = loadingObservation_ = timeObserver_ = endObserver_ = nullptr;
    player_->pause();
    player_ = nullptr;
}

void MediaPlayer::seek(CMTime time) {
    if (player_) player_->seekToTime(time);
}

void MediaPlayer::setVolume(float volume) {
    volume_ = volume;
    applyVolume();
}

CMTime MediaPlayer::getDuration() const {
    if (!player_ || player_->status() != AVPlayerStatus::ReadyToPlay) return kCMTimeZero;
    const auto& asset = player_->currentItem()->asset();
    return asset ? asset->duration() : kCMTimeZero;
}

void MediaPlayer::statusChanged() {
    if (!player_) return;
    const auto status = player_->status();
    Diagnostics::notef("PlayerSatus: %ld", static_cast<long>(status));
    if (status == AVPlayerStatus::ReadyToPlay) {
        applyVolume();
        addTimeObserver();
        if (currentItem_ && currentItem_->buffering()) {
            currentItem_->setBuffering(false);
            if (auto d = delegate()) d->mediaPlayerItemSet(*this, currentItem_);
        }
    } else if (status == AVPlayerStatus::Failed) {
        failure_ = player_->error();
        Diagnostics::notef("The composition %s cannot be played: %s.",
                           currentItem_ ? currentItem_->rawValue("filepath").c_str() : "", reasonOf(failure_).c_str());
        const bool wasLoading = currentItem_ && currentItem_->buffering();
        if (currentItem_) currentItem_->setBuffering(false);
        // A track that was asked to play says so now; one only made ready says so when asked,
        // and the screens stop showing it as loading.
        const bool wanted = !isPaused_;
        stopPlaying();
        if (wanted)
            tellCannotPlay();
        else if (wasLoading)
            NSNotificationCenter::defaultCenter()->postNotificationName(MediaPlayerItemChangedNotification,
                                                                        currentItem_);
    }
    if (auto d = delegate()) d->mediaPlayerTimeChangedTo(*this, kCMTimeZero);
}

void MediaPlayer::loadingChanged() {
    // A streamed track shows as loading while the platform loads it: not while it waits for a
    // play, its header read without its length, and again once the play loads it.
    if (!player_ || !currentItem_ || currentItem_->exists() || player_->status() != AVPlayerStatus::Unknown) return;
    const bool loading = player_->currentItem()->isLoading();
    if (loading == currentItem_->buffering()) return;
    currentItem_->setBuffering(loading);
    NSNotificationCenter::defaultCenter()->postNotificationName(MediaPlayerItemChangedNotification, currentItem_);
}

void MediaPlayer::tellCannotPlay() {
    UIAlertView::initWithTitle(OECoreString("Cannot play"), cannotPlayMessage(failure_), nullptr, OECoreString("Ok"), {})
        ->show();
    NSNotificationCenter::defaultCenter()->postNotificationName(MediaPlayerItemChangedNotification, currentItem_);
}

void MediaPlayer::loadedRangesChanged() {
    if (!player_ || player_->rate() != 0.0f || isPaused_) return;
    const float position = static_cast<float>(CMTimeGetSeconds(player_->currentTime()));
    const float duration = static_cast<float>(CMTimeGetSeconds(getDuration()));
    for (const auto& range : player_->currentItem()->loadedTimeRanges()) {
        const float start = static_cast<float>(CMTimeGetSeconds(range.start));
        const float end = start + static_cast<float>(CMTimeGetSeconds(range.duration));
        if (position < start) continue;
        if (end - position > 5.0f || end >= duration) {
            player_->setRate(1.0f);
            return;
        }
    }
}

void MediaPlayer::addTimeObserver() {
    // One observer at a time: a second ready report replaces it instead of adding another.
    if (timeObserver_) player_->removeTimeObserver(timeObserver_);
    std::weak_ptr<MediaPlayer> weak = std::static_pointer_cast<MediaPlayer>(shared_from_this());
    timeObserver_ = player_->addPeriodicTimeObserverForInterval(CMTimeMake(1, 1), DispatchQueue::mainQueue(),
                                                                [weak](CMTime time) {
                                                                    auto self = weak.lock();
                                                                    if (!self) return;
                                                                    if (auto d = self->delegate())
                                                                        d->mediaPlayerTimeChangedTo(*self, time);
                                                                });
}

void MediaPlayer::applyVolume() {
    if (!player_) return;
    const auto& item = player_->currentItem();
    std::vector<std::shared_ptr<AVAudioMixInputParameters>> parameters;
    for (const auto& track : item->asset()->tracksWithMediaType(AVMediaTypeAudio)) {
        auto input = AVMutableAudioMixInputParameters::audioMixInputParameters();
        input->setVolume(volume_, kCMTimeZero);
        input->setTrackID(track->trackID());
        parameters.push_back(input);
    }
    auto mix = AVMutableAudioMix::audioMix();
    mix->setInputParameters(std::move(parameters));
    item->setAudioMix(mix);
}

void MediaPlayer::didEndPlayItem() {
    if (auto d = delegate()) d->mediaPlayerDidEndPlay(*this);
}
