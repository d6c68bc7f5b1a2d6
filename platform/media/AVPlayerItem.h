// One asset's playback state: it loads the asset on a worker queue (the header read first, from a
// local file or with a few range requests for a stream, then the container probed by the
// decoder), knows which part is loaded, and plays into an
// output sink (MediaAudioSink: the machine's sound device, or a silent output that consumes
// decoded samples on the platform clock, block by block), applying the audio mix's gain. Its
// current time is what the output has played. A player (AVPlayer) is its face: rate, seeking and
// the observers.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/media/CMTime.h"
#include "platform/media/MediaAudioSink.h"
#include "platform/media/MediaByteSource.h"
#include "platform/media/MediaDecoder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class AVAsset;
class AVAudioMix;
class AVPlayer;
class DispatchQueue;
class MediaRangeReader;

// Posted on the main queue with the item as object, once each time playback reaches its end.
inline const std::string AVPlayerItemDidPlayToEndTimeNotification = "AVPlayerItemDidPlayToEndTimeNotification";

enum class AVPlayerItemStatus : long { Unknown = 0, ReadyToPlay = 1, Failed = 2 };

// What the output was handed in one block, for tests and measurements.
struct AVAudioOutputBlock {
    double start = 0;          // media seconds
    std::int64_t frames = 0;
    int channels = 0;
    float gain = 1.0f;         // applied to the block
    float peak = 0;            // of the samples after the gain
    float rms = 0;
};

class AVPlayerItem : public NSObject {
public:
    // Media time the silent output consumes per block.
    static constexpr double kOutputBlockSeconds = MediaAudioSink::kSilentBlockSeconds;

    // Empty for an empty asset. A local file's header is read on a worker queue once the item is
    // given to a player or its duration is asked for; a stream's, with range requests (or from
    // the start of a server's whole answer, up to a bound), once it is given to a player
    // (MediaRangeReader). Either makes it ready with its duration and track when the header is
    // one MediaHeaderProbe knows; a stream has nothing loaded then. A stream whose server cannot
    // be reached, or answers with an error, fails then. The decoder (and with it the media
    // libraries, and a stream's whole body) opens on the worker only once the item is first to
    // play, or, for a header that could not tell or a stream not given to a player, once its
    // duration is first asked for: an item set and never played decodes nothing, and one whose
    // header could not tell waits for its play, loading nothing.
    static std::shared_ptr<AVPlayerItem> playerItemWithAsset(std::shared_ptr<AVAsset> asset);
    // The same, a stream's bytes kept within `limits` instead of the usual ones.
    static std::shared_ptr<AVPlayerItem> playerItemWithAsset(std::shared_ptr<AVAsset> asset,
                                                             const MediaByteLimits& limits);
    static std::shared_ptr<AVPlayerItem> playerItemWithURL(std::shared_ptr<class NSURL> url);
    ~AVPlayerItem() override;

    const std::shared_ptr<AVAsset>& asset() const { return asset_; }
    // Unknown until ready (from the header or the decoder).
    AVPlayerItemStatus status() const;
    NSErrorPtr error() const;
    // Whether it is fetching what it needs to be ready: its header, or its body once asked to
    // play. False once ready or failed, and while it waits for a play after a header that could
    // not tell its length.
    bool isLoading() const;
    // Invalid until ready; asking makes it ready (from the header when it can).
    CMTime duration();
    CMTime currentTime() const;
    // What can be played without waiting: a local file's whole length once ready; a stream's
    // part from its start to the last packet received (growing while it loads); none before.
    std::vector<CMTimeRange> loadedTimeRanges() const;
    bool isPlaybackBufferEmpty() const;

    std::shared_ptr<AVAudioMix> audioMix() const;
    // Takes effect from the next output block on; none means every track at gain 1.
    void setAudioMix(std::shared_ptr<AVAudioMix> mix);

    // Frames handed to the output so far, and a tap called on the decoding thread with each
    // block (empty: none).
    std::int64_t outputFrames() const;
    // Whether the output is the machine's sound device (false until the item first plays).
    bool playsOnDevice() const;
    void setOutputTap(std::function<void(const AVAudioOutputBlock&)> tap);

    std::string description() const override;

private:
    friend class AVPlayer;
    explicit AVPlayerItem(std::shared_ptr<AVAsset> asset);

    // Reads the header once, on the queue; `wanted`: the item is to be ready even when the header
    // cannot tell (the decoder is opened then).
    void prepare(bool wanted);
    // `failure`: the server cannot serve the stream.
    void probed(std::optional<MediaDecoder::Info> info, NSErrorPtr failure);
    // Opens the decoder once; later calls do nothing.
    void load();
    void startLoading();
    void loaded(std::shared_ptr<MediaByteSource> source, std::unique_ptr<MediaDecoder> decoder, NSErrorPtr error);
    void sourceProgressed();
    // The player's controls; the item tells the player what changed.
    void attach(const std::shared_ptr<AVPlayer>& player);
    float rate() const;
    void setRate(float rate);
    void seek(CMTime time);

    double playableLocked() const REQUIRES(mutex_);
    std::int64_t durationFramesLocked() const REQUIRES(mutex_);
    // A run of the output from the current position; its end, which keeps what was played.
    void startOutputLocked() REQUIRES(mutex_);
    void stopOutputLocked() REQUIRES(mutex_);
    // On the queue, in order with decoding.
    void seekDecoderLocked(double seconds) REQUIRES(mutex_);
    void render(std::uint64_t generation);
    void fail(NSErrorPtr error);

    const std::shared_ptr<AVAsset> asset_;
    const std::shared_ptr<DispatchQueue> queue_;  // loading and decoding, in order

    mutable Mutex mutex_;
    std::weak_ptr<AVPlayer> player_ GUARDED_BY(mutex_);
    MediaByteLimits limits_;
    bool probeStarted_ GUARDED_BY(mutex_) = false;
    bool probing_ GUARDED_BY(mutex_) = false;
    bool readyWanted_ GUARDED_BY(mutex_) = false;  // asked for while probing
    std::shared_ptr<MediaRangeReader> headerReader_ GUARDED_BY(mutex_);  // a stream's, while probing
    bool loadStarted_ GUARDED_BY(mutex_) = false;
    bool loading_ GUARDED_BY(mutex_) = false;
    std::shared_ptr<MediaByteSource> source_ GUARDED_BY(mutex_);
    std::unique_ptr<MediaDecoder> decoder_;  // used on the queue only, once loaded
    std::unique_ptr<MediaAudioSink> sink_ GUARDED_BY(mutex_);  // once loaded
    AVPlayerItemStatus status_ GUARDED_BY(mutex_) = AVPlayerItemStatus::Unknown;
    NSErrorPtr error_ GUARDED_BY(mutex_);
    double duration_ GUARDED_BY(mutex_) = 0;
    int sampleRate_ GUARDED_BY(mutex_) = 0;
    int channels_ GUARDED_BY(mutex_) = 0;
    int trackID_ GUARDED_BY(mutex_) = 0;
    double playable_ GUARDED_BY(mutex_) = 0;  // seconds from the start
    std::int64_t position_ GUARDED_BY(mutex_) = 0;  // frames
    float rate_ GUARDED_BY(mutex_) = 0;
    // Bumped by every rate change and seek: a block scheduled before it does nothing.
    std::uint64_t generation_ GUARDED_BY(mutex_) = 0;
    bool outputRunning_ GUARDED_BY(mutex_) = false;
    std::int64_t anchorFrames_ GUARDED_BY(mutex_) = 0;  // the position where the output's run began
    std::int64_t written_ GUARDED_BY(mutex_) = 0;       // frames handed to the output in this run
    std::int64_t outputFrames_ GUARDED_BY(mutex_) = 0;
    std::shared_ptr<AVAudioMix> mix_ GUARDED_BY(mutex_);
    std::function<void(const AVAudioOutputBlock&)> tap_ GUARDED_BY(mutex_);
    std::vector<float> buffer_;  // the queue's
};
