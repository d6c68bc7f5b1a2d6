// Plays one track at a time through the platform player: from its file when it is on the
// device, streamed from the content server otherwise (refused when the network is down or the
// user skips tracks that are not downloaded). It resumes a stream once enough has loaded,
// applies its own volume, keeps the screen awake while playing and reports to one delegate.
#pragma once

#include "media/MediaContext.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/media/CMTime.h"

#include <memory>

class AVPlayer;
class MediaPlayer;
class MediaPlayerItem;

class MediaPlayerDelegate {
public:
    virtual ~MediaPlayerDelegate() = default;
    virtual void mediaPlayerDidEndPlay(MediaPlayer&) {}
    virtual void mediaPlayerTimeChangedTo(MediaPlayer&, CMTime) {}
    virtual void mediaPlayerItemSet(MediaPlayer&, const std::shared_ptr<MediaPlayerItem>&) {}
    // Declared by the protocol; the player never sends it.
    virtual void mediaPlayerDidStartPlay(MediaPlayer&) {}
};

class MediaPlayer : public NSObject {
public:
    // Volume 1, paused.
    static std::shared_ptr<MediaPlayer> make(std::shared_ptr<const MediaContext> context);
    ~MediaPlayer() override;

    void setDelegate(const std::shared_ptr<MediaPlayerDelegate>& delegate) { delegate_ = delegate; }
    const std::shared_ptr<MediaPlayerItem>& currentItem() const { return currentItem_; }
    bool isPaused() const { return isPaused_; }
    bool isReady() const { return player_ != nullptr; }
    bool isPlaying() const { return player_ && !isPaused_; }
    float volume() const { return volume_; }
    // Applied at once to the playing track.
    void setVolume(float volume);
    CMTime duration() const { return getDuration(); }
    // The item's duration once the platform player is ready, else zero.
    CMTime getDuration() const;
    // What keeps the screen awake while the player plays (its hold in the idle-timer manager).
    const std::shared_ptr<NSObject>& idleHolder() const { return idleHolder_; }
    // The platform player of the current track (none before one, after stop and for a refused track).
    const std::shared_ptr<AVPlayer>& player() const { return player_; }

    // Why the current track cannot be played (its file or stream is no audio, or could not be
    // loaded); none while it can. The failure is logged; a track asked to play shows an alert,
    // which says why where the failure tells.
    const NSErrorPtr& failure() const { return failure_; }

    // Makes a player for the track (loaded, not started); false for none and for a refused track.
    [[nodiscard]] bool setItem(const std::shared_ptr<MediaPlayerItem>& item);
    // setItem, then startPlay, whatever setItem answered.
    void playItem(const std::shared_ptr<MediaPlayerItem>& item);
    void startPlay();
    // A toggle: pauses what plays; otherwise starts (also a stalled stream).
    void pause();
    void stop() { stopPlaying(); }
    // Releases the screen lock, every observation of the player, and the player.
    void stopPlaying();
    void seek(CMTime time);

private:
    explicit MediaPlayer(std::shared_ptr<const MediaContext> context) : context_(std::move(context)) {}
    std::shared_ptr<MediaPlayerDelegate> delegate() const { return delegate_.lock(); }
    void setIdleHold(bool hold);
    void statusChanged();
    void loadedRangesChanged();
    void loadingChanged();
    void addTimeObserver();
    void applyVolume();
    void didEndPlayItem();
    // The alert for a track that cannot be played; the screens hear the item changed.
    void tellCannotPlay();
    // Whether the track's stream may be asked for: the network is up and the user does not skip
    // tracks that are not downloaded.
    bool mayStream() const;

    const std::shared_ptr<const MediaContext> context_;
    std::weak_ptr<MediaPlayerDelegate> delegate_;
    std::shared_ptr<MediaPlayerItem> currentItem_;
    std::shared_ptr<AVPlayer> player_;
    NSErrorPtr failure_;
    std::shared_ptr<NSObject> statusObservation_;
    std::shared_ptr<NSObject> rangesObservation_;
    std::shared_ptr<NSObject> loadingObservation_;
    std::shared_ptr<NSObject> timeObserver_;
    std::shared_ptr<NSObject> endObserver_;
    bool isPaused_ = true;
    float volume_ = 1.0f;
    // Holds the screen lock for the player, so that the player can let go as it is destroyed.
    const std::shared_ptr<NSObject> idleHolder_ = std::make_shared<NSObject>();
    bool holdingIdle_ = false;
};
