// The music engine the application talks to: the current play list (in order, or shuffled),
// the repeat mode, the volume and the position figures the screens show. It keeps the last list
// and track across launches, moves on when a track ends, and announces changes by notifications.
#pragma once

#include "media/MediaContext.h"
#include "media/MediaPlayer.h"
#include "media/MediaSource.h"

#include <cstdint>
#include <memory>
#include <string>

class ArrayMediaSource;
class CompositionsSource;
class MediaSource_Shuffle;

inline const std::string MediaPlayerPostionChangedNotification = "MediaPlayerPostionChangedNotification";
inline const std::string MediaPlayerPlayStoppedNotification = "MediaPlayerPlayStoppedNotification";

class MediaPlayerController : public NSObject, public MediaPlayerDelegate {
public:
    // Over a catalogue (whose tracks are the list of a first launch), or none.
    static std::shared_ptr<MediaPlayerController> initWithSource(std::shared_ptr<CompositionsSource> source,
                                                                 std::shared_ptr<const MediaContext> context);
    static std::shared_ptr<MediaPlayerController> make(std::shared_ptr<const MediaContext> context) {
        return initWithSource(nullptr, std::move(context));
    }

    // 0 no repeat, 1 repeat the list, 2 repeat the track; kept in the defaults.
    std::int32_t rewind() const { return rewind_; }
    void setRewind(std::int32_t rewind);
    bool shuffle() const { return shuffle_; }
    void setShuffle(bool shuffle);
    float volume() const;
    void setVolume(float volume);
    // The played fraction of the track; setting it seeks to that many whole seconds.
    float position() const { return position_; }
    void setPosition(float position);
    float currentTime() const { return currentTime_; }
    float remainingTime() const { return remainingTime_; }
    // 1-based place of the current track, and the number of tracks.
    std::int64_t curItem() const { return curItem_; }
    std::int64_t itemsCount() const { return itemsCount_; }
    std::shared_ptr<MediaPlayerItem> currentMediaItem() const;
    bool isPlaying() const { return mediaPlayer_->isPlaying(); }
    const std::shared_ptr<CompositionsSource>& compositionsSource() const { return compositionsSource_; }
    void setCompositionsSource(std::shared_ptr<CompositionsSource> source) { compositionsSource_ = std::move(source); }
    const std::shared_ptr<MediaPlayer>& mediaPlayer() const { return mediaPlayer_; }
    const std::shared_ptr<MediaSource>& mediaSource() const { return mediaSource_; }
    const std::shared_ptr<ArrayMediaSource>& originalSource() const { return originalSource_; }

    // A toggle: pauses or resumes a loaded track, otherwise starts the current one.
    void play();
    void stop();
    // The next (previous) track, wrapping at the ends; it plays when a track was playing.
    void next();
    void prev();
    void playList(const MediaItems& list) { playList(list, 0); }
    // The list becomes the current one, positioned at `index` (clamped into it), and starts.
    void playList(const MediaItems& list, std::int32_t index);
    void setPlayList(const MediaItems& list) { setPlayList(list, 0); }
    void setPlayList(const MediaItems& list, std::int32_t index);
    void setSource(const MediaItems& list, std::int32_t index);
    // Forgets the saved list and takes every track of the catalogue.
    void updateList();
    void checkItemIndex();

    // The player's reports.
    void mediaPlayerDidEndPlay(MediaPlayer& player) override;
    void mediaPlayerTimeChangedTo(MediaPlayer& player, CMTime time) override;
    void mediaPlayerItemSet(MediaPlayer& player, const std::shared_ptr<MediaPlayerItem>& item) override;

    // The name of the saved list in Documents.
    static constexpr const char* kLastPlayedListFile = "lastPlayedList";

private:
    MediaPlayerController(std::shared_ptr<CompositionsSource> source, std::shared_ptr<const MediaContext> context)
        : context_(std::move(context)), compositionsSource_(std::move(source)) {}
    void setup();
    void fillList();
    // setSource without saving the list.
    void useList(const MediaItems& list, std::int32_t index);
    MediaItems loadLastList(bool* readable) const;
    void saveList(const MediaItems& list) const;
    std::string listPath() const;

    const std::shared_ptr<const MediaContext> context_;
    std::shared_ptr<CompositionsSource> compositionsSource_;
    std::shared_ptr<MediaPlayer> mediaPlayer_;
    std::shared_ptr<MediaSource> mediaSource_;
    std::shared_ptr<ArrayMediaSource> originalSource_;
    std::shared_ptr<MediaSource_Shuffle> shuffleSource_;
    bool shuffle_ = false;
    std::int32_t rewind_ = 0;
    float position_ = 0;
    float currentTime_ = 0;
    float remainingTime_ = 0;
    std::int64_t curItem_ = 0;
    std::int64_t itemsCount_ = 0;
};
