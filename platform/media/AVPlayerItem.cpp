// Loading on a worker queue, the loaded part of a stream, and playing into the output sink: the
// item decodes what the sink wants and counts as played what the sink says it played.
#include "platform/media/AVPlayerItem.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/media/AVAsset.h"
#include "platform/media/AVAudioMix.h"
#include "platform/media/AVError.h"
#include "platform/media/AVPlayer.h"
#include "platform/media/MediaAudioSink.h"
#include "platform/media/MediaByteSource.h"
#include "platform/media/MediaDecoder.h"
#include "platform/media/MediaHeaderProbe.h"
#include "platform/media/MediaRangeReader.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>

std::shared_ptr<AVPlayerItem> AVPlayerItem::playerItemWithAsset(std::shared_ptr<AVAsset> asset) {
    return playerItemWithAsset(std::move(asset), MediaByteLimits());
}

std::shared_ptr<AVPlayerItem> AVPlayerItem::playerItemWithAsset(std::shared_ptr<AVAsset> asset,
                                                                const MediaByteLimits& limits) {
    if (!asset) return nullptr;
    auto item = std::shared_ptr<AVPlayerItem>(new AVPlayerItem(std::move(asset)));
    item->limits_ = limits;
    return item;
}

std::shared_ptr<AVPlayerItem> AVPlayerItem::playerItemWithURL(std::shared_ptr<NSURL> url) {
    return playerItemWithAsset(AVAsset::assetWithURL(std::move(url)));
}

AVPlayerItem::AVPlayerItem(std::shared_ptr<AVAsset> asset)
    : asset_(std::move(asset)), queue_(DispatchQueue::create("AVPlayerItem")) {}

AVPlayerItem::~AVPlayerItem() {
    // Wakes a load still waiting for a stream's bytes, and a header read waiting for its answer.
    if (source_) source_->close();
    if (headerReader_) headerReader_->cancel();
}

void AVPlayerItem::prepare(bool wanted) {
    enum class Next { Nothing, Probe, Load } next = Next::Nothing;
    std::shared_ptr<MediaRangeReader> reader;
    std::shared_ptr<AVPlayer> player;  // to tell it the item loads
    {
        MutexLock lock(mutex_);
        if (status_ != AVPlayerItemStatus::Unknown || loadStarted_) return;
        const bool file = asset_->URL()->isFileURL();
        if (probing_) {
            readyWanted_ = readyWanted_ || wanted;
        } else if (!probeStarted_ && (file || (!wanted && (reader = MediaRangeReader::make(asset_->URL()))))) {
            probeStarted_ = probing_ = true;
            readyWanted_ = wanted;
            headerReader_ = reader;
            next = Next::Probe;
            loading_ = true;
            player = player_.lock();
        } else if (wanted) {
            next = Next::Load;
        }
    }
    if (player) player->itemChanged("currentItem.loading", false);
    if (next == Next::Load) load();
    if (next != Next::Probe) return;
    std::weak_ptr<AVPlayerItem> weak = std::static_pointer_cast<AVPlayerItem>(shared_from_this());
    // A file of its own for the header, closed at once: an item that is never played keeps none
    // open. A stream's header comes in a few pieces of its own, not from the stream's body.
    queue_->async([weak, url = asset_->URL(), reader] {
        std::optional<MediaDecoder::Info> info;
        NSErrorPtr failure;
        if (reader) {
            const std::int64_t length = reader->open();
            if (length > 0)
                info = MediaHeaderProbe::probe(static_cast<std::uint64_t>(length),
                                               [&](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
                                                   return reader->read(offset, buffer, size);
                                               });
            // Whatever of the answer is left is let go: the body is not asked for before a play.
            reader->cancel();
            if (!info) failure = reader->failure();
        } else if (auto source = MediaByteSource::open(*url, nullptr)) {
            info = MediaHeaderProbe::probe(static_cast<std::uint64_t>(std::max<std::int64_t>(0, source->length())),
                                           [&](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
                                               return source->read(offset, buffer, size);
                                           });
            source->close();
        }
        if (auto self = weak.lock()) self->probed(std::move(info), std::move(failure));
    });
}

void AVPlayerItem::probed(std::optional<MediaDecoder::Info> info, NSErrorPtr failure) {
    // On the queue, before any decoder's outcome: nothing else has changed the status.
    if (info)
        asset_->setLoaded(CMTimeMakeWithSeconds(info->duration, 600), false,
                          {AVAssetTrack::make(info->trackID, AVMediaTypeAudio)});
    const bool stream = !asset_->URL()->isFileURL();
    bool load = false, failed = false, waits = false;
    std::shared_ptr<AVPlayer> player;  // to tell it the item is ready, or waits
    {
        MutexLock lock(mutex_);
        probing_ = false;
        headerReader_ = nullptr;
        if (!info) {
            // A play that came meanwhile loads the body, which tells. Otherwise a server that
            // cannot serve the stream fails it now; what only the body can tell (a server that
            // ignores ranges, a header past what was read, a format the probe does not know) is
            // the decoder's to read, when the item is wanted ready, else at its first play: the
            // item waits for it, loading nothing.
            if (!loadStarted_) {
                failed = failure != nullptr;
                load = !failed && readyWanted_;
                waits = !failed && !load;
                if (waits) {
                    loading_ = false;
                    player = player_.lock();
                }
            }
        } else if (status_ == AVPlayerItemStatus::Unknown) {
            duration_ = info->duration;
            sampleRate_ = info->sampleRate;
            channels_ = info->channels;
            trackID_ = info->trackID;
            status_ = AVPlayerItemStatus::ReadyToPlay;
            loading_ = false;
            // A local file is all here; a stream's body is not asked for before it plays.
            playable_ = stream ? 0 : duration_;
            player = player_.lock();
        }
        readyWanted_ = false;
    }
    if (load) this->load();
    if (failed) fail(makeAVError(AVErrorContentIsUnavailable, "Cannot open the media", failure));
    if (player && waits) player->itemChanged("currentItem.loading", false);
    if (player && !waits) {
        player->itemChanged("status", false);
        player->itemChanged("currentItem.loadedTimeRanges", false);
    }
}

void AVPlayerItem::load() {
    std::shared_ptr<MediaRangeReader> reader;
    std::shared_ptr<AVPlayer> player;  // to tell it the item loads again
    {
        MutexLock lock(mutex_);
        if (loadStarted_) return;
        loadStarted_ = true;
        reader = std::move(headerReader_);
        if (status_ == AVPlayerItemStatus::Unknown && !loading_) {
            loading_ = true;
            player = player_.lock();
        }
    }
    // The stream's own body brings the header now: its pieces are not waited for.
    if (reader) reader->cancel();
    if (player) player->itemChanged("currentItem.loading", false);
    startLoading();
}

void AVPlayerItem::startLoading() {
    NSErrorPtr error;
    auto source = MediaByteSource::open(*asset_->URL(), &error, limits_);
    if (!source) {
        // What lies where the file belongs and is no regular file (a FIFO, a device, a folder) is
        // no media; any other failure leaves the media unknown.
        const bool noFile = error && error->domain() == NSPOSIXErrorDomain &&
                            (error->code() == ENOTSUP || error->code() == EISDIR);
        auto failure = makeAVError(noFile ? AVErrorFileFormatNotRecognized : AVErrorContentIsUnavailable,
                                   "Cannot open the media", error);
        // Reported as a change from the worker, as every other outcome of loading.
        std::weak_ptr<AVPlayerItem> weak = std::static_pointer_cast<AVPlayerItem>(shared_from_this());
        queue_->async([weak, failure] {
            if (auto self = weak.lock()) self->loaded(nullptr, nullptr, failure);
        });
        return;
    }
    {
        MutexLock lock(mutex_);
        source_ = source;
    }
    std::weak_ptr<AVPlayerItem> weak = std::static_pointer_cast<AVPlayerItem>(shared_from_this());
    // The network thread reports while it holds its transfer: the item is looked at on its own
    // queue instead, so that its last release never happens there (closing the source then
    // would call back into the transfer). One look is pending at a time.
    auto pending = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<DispatchQueue> queue = queue_;
    source->setProgressHandler([weak, queue, pending] {
        if (pending->exchange(true)) return;
        auto target = queue.lock();
        if (!target) return;
        target->async([weak, pending] {
            pending->store(false);
            if (auto self = weak.lock()) self->sourceProgressed();
        });
    });
    // The load holds the source, not the item: dropping the item closes the source, which ends
    // a load that waits for bytes.
    queue_->async([weak, source] {
        NSErrorPtr failure;
        auto decoder = MediaDecoder::open(source, &failure);
        if (auto self = weak.lock()) self->loaded(source, std::move(decoder), failure);
    });
}

void AVPlayerItem::loaded(std::shared_ptr<MediaByteSource> source, std::unique_ptr<MediaDecoder> decoder,
                          NSErrorPtr error) {
    if (!decoder) {
        fail(error ? error : makeAVError(AVErrorUnknown, "Cannot open the media"));
        return;
    }
    const auto& info = decoder->info();
    // Ready from the header already (on this queue, so this cannot change below): its length and
    // track stay as told, and the decoder brings what playing needs.
    bool probed = false;
    {
        MutexLock lock(mutex_);
        probed = status_ == AVPlayerItemStatus::ReadyToPlay;
    }
    if (!probed) {
        std::vector<std::shared_ptr<AVAssetTrack>> tracks;
        for (int id : info.audioTrackIDs) tracks.push_back(AVAssetTrack::make(id, AVMediaTypeAudio));
        asset_->setLoaded(CMTimeMakeWithSeconds(info.duration, 600), info.estimated, std::move(tracks));
    }
    // Opening a device can take a while: not under the lock.
    auto sink = MediaAudioSink::make(queue_, info.sampleRate, info.channels);
    std::shared_ptr<AVPlayer> player;
    {
        MutexLock lock(mutex_);
        decoder_ = std::move(decoder);
        sink_ = std::move(sink);
        if (probed) {
            // A place sought before the decoder opened, counted in the decoder's frames.
            if (sampleRate_ != info.sampleRate)
                position_ = static_cast<std::int64_t>(std::llround(static_cast<double>(position_) * info.sampleRate /
                                                                   sampleRate_));
            sampleRate_ = info.sampleRate;
            channels_ = info.channels;
            if (position_ > 0) decoder_->seek(static_cast<double>(position_) / sampleRate_);
        } else {
            duration_ = info.duration;
            sampleRate_ = info.sampleRate;
            channels_ = info.channels;
            trackID_ = info.trackID;
            status_ = AVPlayerItemStatus::ReadyToPlay;
            loading_ = false;
            playable_ = decoder_->playableEnd(source->received(), source->isComplete());
            player = player_.lock();
        }
        if (rate_ > 0) startOutputLocked();
    }
    if (player) {
        player->itemChanged("status", false);
        player->itemChanged("currentItem.loadedTimeRanges", false);
    }
    // The bound may have been passed while the container was probed.
    sourceProgressed();
}

void AVPlayerItem::sourceProgressed() {
    std::shared_ptr<AVPlayer> player;
    NSErrorPtr overBound;
    {
        MutexLock lock(mutex_);
        if (status_ != AVPlayerItemStatus::ReadyToPlay || !decoder_ || !source_) return;
        // A stream longer than a stream may be is no composition: it fails now, rather than
        // after playing the part that came.
        const NSErrorPtr error = source_->error();
        if (error && error->domain() == NSURLErrorDomain && error->code() == NSURLErrorDataLengthExceedsMaximum) {
            overBound = error;
        } else {
            const double playable = decoder_->playableEnd(source_->received(), source_->isComplete());
            if (playable == playable_) return;
            playable_ = playable;
            player = player_.lock();
        }
    }
    if (overBound) {
        fail(makeAVError(AVErrorContentIsUnavailable, "The media is longer than a stream may be", overBound));
        return;
    }
    if (player) player->itemChanged("currentItem.loadedTimeRanges", false);
}

void AVPlayerItem::fail(NSErrorPtr error) {
    std::shared_ptr<AVPlayer> player;
    {
        MutexLock lock(mutex_);
        if (status_ == AVPlayerItemStatus::Failed) return;
        stopOutputLocked();
        status_ = AVPlayerItemStatus::Failed;
        loading_ = false;
        error_ = std::move(error);
        rate_ = 0;
        ++generation_;
        player = player_.lock();
    }
    if (player) player->itemChanged("status", false);
}

AVPlayerItemStatus AVPlayerItem::status() const {
    MutexLock lock(mutex_);
    return status_;
}

NSErrorPtr AVPlayerItem::error() const {
    MutexLock lock(mutex_);
    return error_;
}

bool AVPlayerItem::isLoading() const {
    MutexLock lock(mutex_);
    return loading_;
}

CMTime AVPlayerItem::duration() {
    prepare(true);
    MutexLock lock(mutex_);
    if (status_ != AVPlayerItemStatus::ReadyToPlay) return kCMTimeInvalid;
    return CMTimeMakeWithSeconds(duration_, 600);
}

CMTime AVPlayerItem::currentTime() const {
    MutexLock lock(mutex_);
    if (sampleRate_ <= 0) return kCMTimeZero;
    return CMTimeMake(position_, sampleRate_);
}

double AVPlayerItem::playableLocked() const { return std::min(playable_, duration_); }

std::int64_t AVPlayerItem::durationFramesLocked() const {
    return static_cast<std::int64_t>(std::llround(duration_ * sampleRate_));
}

std::vector<CMTimeRange> AVPlayerItem::loadedTimeRanges() const {
    MutexLock lock(mutex_);
    if (status_ != AVPlayerItemStatus::ReadyToPlay || playableLocked() <= 0) return {};
    return {CMTimeRangeMake(kCMTimeZero, CMTimeMakeWithSeconds(playableLocked(), 600))};
}

bool AVPlayerItem::isPlaybackBufferEmpty() const {
    MutexLock lock(mutex_);
    if (status_ != AVPlayerItemStatus::ReadyToPlay) return true;
    return static_cast<double>(position_) / sampleRate_ >= playableLocked() && playableLocked() < duration_;
}

std::shared_ptr<AVAudioMix> AVPlayerItem::audioMix() const {
    MutexLock lock(mutex_);
    return mix_;
}

void AVPlayerItem::setAudioMix(std::shared_ptr<AVAudioMix> mix) {
    MutexLock lock(mutex_);
    mix_ = std::move(mix);
}

std::int64_t AVPlayerItem::outputFrames() const {
    MutexLock lock(mutex_);
    return outputFrames_;
}

bool AVPlayerItem::playsOnDevice() const {
    MutexLock lock(mutex_);
    return sink_ && sink_->isDevice();
}

void AVPlayerItem::setOutputTap(std::function<void(const AVAudioOutputBlock&)> tap) {
    MutexLock lock(mutex_);
    tap_ = std::move(tap);
}

void AVPlayerItem::attach(const std::shared_ptr<AVPlayer>& player) {
    {
        MutexLock lock(mutex_);
        player_ = player;
    }
    // As on a phone, an item given to a player gets ready by itself when its header tells enough.
    // Made on the main thread, it starts on the main queue's next turn: whoever made the player
    // observes it first, so no change of the header read can come before its observers.
    if (!NSThread::isMainThread()) {
        prepare(false);
        return;
    }
    std::weak_ptr<AVPlayerItem> weak = std::static_pointer_cast<AVPlayerItem>(shared_from_this());
    DispatchQueue::mainQueue()->async([weak] {
        if (auto self = weak.lock()) self->prepare(false);
    });
}

float AVPlayerItem::rate() const {
    MutexLock lock(mutex_);
    return rate_;
}

void AVPlayerItem::setRate(float rate) {
    const float wanted = rate > 0 ? 1.0f : 0.0f;
    std::shared_ptr<AVPlayer> player;
    {
        MutexLock lock(mutex_);
        if (wanted == rate_ || status_ == AVPlayerItemStatus::Failed) return;
        rate_ = wanted;
        ++generation_;
        if (status_ == AVPlayerItemStatus::ReadyToPlay) {
            if (rate_ > 0)
                startOutputLocked();
            else
                stopOutputLocked();
        }
        player = player_.lock();
    }
    if (player) {
        player->itemChanged("rate", true);
        player->jumped();
    }
    // Playing is what needs the media: it loads now, and plays once ready.
    if (wanted > 0) load();
}

void AVPlayerItem::seek(CMTime time) {
    std::shared_ptr<AVPlayer> player;
    {
        MutexLock lock(mutex_);
        if (status_ != AVPlayerItemStatus::ReadyToPlay) return;
        const double seconds = std::clamp(std::isnan(CMTimeGetSeconds(time)) ? 0.0 : CMTimeGetSeconds(time), 0.0,
                                          duration_);
        // What the output holds and has not played belongs to the old place: dropped.
        if (sink_) sink_->end();
        outputRunning_ = false;
        position_ = std::min(static_cast<std::int64_t>(std::llround(seconds * sampleRate_)), durationFramesLocked());
        ++generation_;
        seekDecoderLocked(seconds);
        if (rate_ > 0) startOutputLocked();
        player = player_.lock();
    }
    if (player) player->jumped();
}

void AVPlayerItem::seekDecoderLocked(double seconds) {
    std::weak_ptr<AVPlayerItem> weak = std::static_pointer_cast<AVPlayerItem>(shared_from_this());
    queue_->async([weak, seconds] {
        if (auto self = weak.lock())
            if (self->decoder_) self->decoder_->seek(seconds);
    });
}

void AVPlayerItem::startOutputLocked() {
    if (!sink_) return;
    anchorFrames_ = position_;
    written_ = 0;
    std::weak_ptr<AVPlayerItem> weak = std::static_pointer_cast<AVPlayerItem>(shared_from_this());
    const std::uint64_t generation = generation_;
    auto wake = [weak, generation] {
        if (auto self = weak.lock()) self->render(generation);
    };
    NSErrorPtr error;
    if (!sink_->begin(wake, &error)) {
        // A device that went away or is taken: the music goes on, silently.
        MediaAudioSink::deviceFailed(error);
        sink_ = MediaAudioSink::makeSilent(queue_, sampleRate_, channels_);
        (void)sink_->begin(wake, nullptr);
    }
    outputRunning_ = true;
    sink_->wakeWhenWanted();
}

void AVPlayerItem::stopOutputLocked() {
    if (!sink_ || !outputRunning_) return;
    const std::int64_t played = sink_->framesPlayed();
    sink_->end();
    outputRunning_ = false;
    const std::int64_t reached = std::min(anchorFrames_ + played, durationFramesLocked());
    // The decoder ran ahead by what the output held unplayed: it goes back to where playing stopped.
    if (played < written_) seekDecoderLocked(static_cast<double>(reached) / sampleRate_);
    position_ = reached;
}

void AVPlayerItem::render(std::uint64_t generation) {
    std::int64_t before = 0, from = 0, want = 0, limit = 0;
    bool stall = false;
    int channels = 0, sampleRate = 0, trackID = 0;
    std::shared_ptr<AVAudioMix> mix;
    std::function<void(const AVAudioOutputBlock&)> tap;
    {
        MutexLock lock(mutex_);
        if (generation != generation_ || rate_ <= 0 || status_ != AVPlayerItemStatus::ReadyToPlay || !outputRunning_)
            return;
        sampleRate = sampleRate_;
        channels = channels_;
        trackID = trackID_;
        limit = durationFramesLocked();
        before = position_;
        // Decoding runs ahead of what was played by what the output holds.
        from = anchorFrames_ + written_;
        want = decoder_->atEnd() ? 0 : std::max<std::int64_t>(0, std::min(sink_->framesWanted(), limit - from));
        const bool complete = source_ && source_->isComplete();
        if (!complete) {
            const auto playable = static_cast<std::int64_t>(std::floor(playableLocked() * sampleRate));
            if (from + want > playable) {
                want = std::max<std::int64_t>(0, playable - from);
                stall = true;
            }
        }
        mix = mix_;
        tap = tap_;
    }

    // Decoding and the gain, without the lock: the queue is the decoder's only user.
    NSErrorPtr error;
    std::int64_t got = 0;
    const float gain = mix ? mix->gainForTrack(trackID, CMTimeMake(from, sampleRate)) : 1.0f;
    if (want > 0) {
        buffer_.resize(static_cast<std::size_t>(want) * static_cast<std::size_t>(channels));
        got = static_cast<std::int64_t>(decoder_->render(buffer_.data(), static_cast<std::size_t>(want), &error));
        float peak = 0;
        double sum = 0;
        const std::size_t count = static_cast<std::size_t>(got) * static_cast<std::size_t>(channels);
        for (std::size_t i = 0; i < count; ++i) {
            const float sample = buffer_[i] * gain;
            buffer_[i] = sample;
            peak = std::max(peak, std::fabs(sample));
            sum += static_cast<double>(sample) * sample;
        }
        if (tap && got > 0)
            tap(AVAudioOutputBlock{static_cast<double>(from) / sampleRate, got, channels, gain, peak,
                                   static_cast<float>(std::sqrt(sum / static_cast<double>(count)))});
    }

    bool ended = false, stalled = false;
    NSErrorPtr failure;
    std::shared_ptr<AVPlayer> player;
    std::int64_t after = 0;
    {
        MutexLock lock(mutex_);
        // A seek or a change of rate while decoding: that block is not played.
        if (generation != generation_) return;
        if (got > 0) sink_->write(buffer_.data(), got);
        written_ += got;
        outputFrames_ += got;
        position_ = std::min(anchorFrames_ + sink_->framesPlayed(), limit);
        // The item ends, or waits for a stream's bytes, once the output has played all it was given.
        const bool drained = anchorFrames_ + written_ <= position_;
        const NSErrorPtr stopped = source_ && !source_->isComplete() ? source_->error() : nullptr;
        if (stopped && (error || (decoder_->atEnd() && anchorFrames_ + written_ < limit))) {
            // Bytes that never came end no composition: the decoder ran out of them.
            failure = makeAVError(AVErrorContentIsUnavailable, "The media stopped loading", stopped);
        } else if (decoder_->atEnd() || anchorFrames_ + written_ >= limit) {
            ended = drained;
        } else if (got < want) {
            failure = error ? error : makeAVError(AVErrorDecodeFailed, "The audio ended early");
        } else if (stall && drained) {
            stalled = true;
            // A stream that stopped loading cannot go on: past its last byte it has failed.
            if (source_ && source_->error() && position_ >= static_cast<std::int64_t>(playableLocked() * sampleRate))
                failure = makeAVError(AVErrorContentIsUnavailable, "The media stopped loading", source_->error());
        }
        if (ended || stalled || failure) {
            stopOutputLocked();
            after = position_;
            // Media shorter than it said it was ends at its length: a jump, not time played.
            if (ended) position_ = limit;
            rate_ = 0;
            ++generation_;
        } else {
            sink_->wakeWhenWanted();
            after = position_;
        }
        player = player_.lock();
    }
    if (player) player->timeAdvanced(before, after, sampleRate);
    if (failure) {
        fail(failure);
        return;
    }
    if ((ended || stalled) && player) {
        player->itemChanged("rate", false);
        player->jumped();
    }
    if (ended) {
        std::weak_ptr<AVPlayerItem> weak = std::static_pointer_cast<AVPlayerItem>(shared_from_this());
        DispatchQueue::mainQueue()->async([weak] {
            if (auto self = weak.lock())
                NSNotificationCenter::defaultCenter()->postNotificationName(AVPlayerItemDidPlayToEndTimeNotification, self);
        });
    }
}

std::string AVPlayerItem::description() const { return "<AVPlayerItem: " + asset_->URL()->absoluteString() + ">"; }
