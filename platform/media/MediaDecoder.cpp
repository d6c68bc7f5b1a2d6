// FFmpeg behind the media stand-in: custom I/O over the byte source, the best audio stream,
// resampled to interleaved floats in a small queue the player drains.
#include "platform/media/MediaDecoder.h"

#include "platform/media/AVError.h"
#include "platform/media/MediaByteSource.h"
#include "platform/media/MediaLibraries.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>

namespace {

constexpr int kIOBufferSize = 32 * 1024;

// FFmpeg's calls, loaded before the first decoder is made: no decoder exists without them.
const FFmpegCalls& ff() { return *ffmpegLibraries(nullptr); }

std::string ffmpegText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    ff().av_strerror(code, text, sizeof text);
    return text;
}

}  // namespace

struct MediaDecoder::State {
    std::shared_ptr<MediaByteSource> source;
    std::uint64_t position = 0;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* resampler = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    std::vector<float> fifo;  // interleaved
    std::size_t fifoStart = 0;
    double skipUntil = -1;  // after a seek: samples before it are dropped
    bool flushed = false;
    NSErrorPtr readError;

    ~State() {
        ff().av_frame_free(&frame);
        ff().av_packet_free(&packet);
        ff().swr_free(&resampler);
        ff().avcodec_free_context(&codec);
        if (format) ff().avformat_close_input(&format);
        if (io) {
            ff().av_freep(&io->buffer);
            ff().avio_context_free(&io);
        }
    }

    static int readPacket(void* opaque, std::uint8_t* buffer, int size) {
        auto* self = static_cast<State*>(opaque);
        const long got = self->source->read(self->position, buffer, static_cast<std::size_t>(size));
        if (got > 0) {
            self->position += static_cast<std::uint64_t>(got);
            return static_cast<int>(got);
        }
        if (got == 0) return AVERROR_EOF;
        self->readError = self->source->error();
        if (!self->readError) self->readError = NSError::posix(EIO, "");
        return AVERROR(EIO);
    }

    static std::int64_t seek(void* opaque, std::int64_t offset, int whence) {
        auto* self = static_cast<State*>(opaque);
        const std::int64_t length = self->source->length();
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return length >= 0 ? length : AVERROR(ENOSYS);
        case SEEK_SET: break;
        case SEEK_CUR: offset += static_cast<std::int64_t>(self->position); break;
        case SEEK_END:
            if (length < 0) return AVERROR(ENOSYS);
            offset += length;
            break;
        default: return AVERROR(EINVAL);
        }
        if (offset < 0) return AVERROR(EINVAL);
        self->position = static_cast<std::uint64_t>(offset);
        return offset;
    }
};

MediaDecoder::MediaDecoder() : state_(std::make_unique<State>()) {}
MediaDecoder::~MediaDecoder() = default;

std::unique_ptr<MediaDecoder> MediaDecoder::open(std::shared_ptr<MediaByteSource> source, NSErrorPtr* error) {
    if (!ffmpegLibraries(error)) return nullptr;
    // Failures travel as errors; FFmpeg's own complaints about a bad file stay off the log.
    static const bool quiet = [] {
        ff().av_log_set_level(AV_LOG_FATAL);
        return true;
    }();
    (void)quiet;
    std::unique_ptr<MediaDecoder> decoder(new MediaDecoder());
    State& s = *decoder->state_;
    s.source = std::move(source);
    auto fail = [&](long code, const std::string& text) {
        NSErrorPtr underlying = s.readError ? s.readError : s.source->error();
        setError(error, makeAVError(underlying ? AVErrorContentIsUnavailable : code, text, underlying));
        return nullptr;
    };

    auto* buffer = static_cast<std::uint8_t*>(ff().av_malloc(kIOBufferSize));
    s.io = ff().avio_alloc_context(buffer, kIOBufferSize, 0, &s, &State::readPacket, nullptr, &State::seek);
    s.format = ff().avformat_alloc_context();
    if (!s.io || !s.format) return fail(AVErrorUnknown, "Out of memory");
    s.format->pb = s.io;
    s.format->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (int rc = ff().avformat_open_input(&s.format, nullptr, nullptr, nullptr); rc < 0) {
        s.format = nullptr;  // freed by the failed open
        return fail(AVErrorFileFormatNotRecognized, "Cannot open the media: " + ffmpegText(rc));
    }
    if (int rc = ff().avformat_find_stream_info(s.format, nullptr); rc < 0)
        return fail(AVErrorFileFormatNotRecognized, "Cannot read the media's streams: " + ffmpegText(rc));

    for (unsigned i = 0; i < s.format->nb_streams; ++i)
        if (s.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            decoder->info_.audioTrackIDs.push_back(static_cast<int>(i) + 1);
    const AVCodec* codec = nullptr;
    s.stream = ff().av_find_best_stream(s.format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (s.stream < 0 || !codec) return fail(AVErrorFileFormatNotRecognized, "The media has no audio");
    AVStream* stream = s.format->streams[s.stream];
    s.codec = ff().avcodec_alloc_context3(codec);
    if (!s.codec || ff().avcodec_parameters_to_context(s.codec, stream->codecpar) < 0 ||
        ff().avcodec_open2(s.codec, codec, nullptr) < 0)
        return fail(AVErrorDecodeFailed, "Cannot open the audio decoder");
    if (s.codec->sample_rate <= 0 || s.codec->ch_layout.nb_channels <= 0)
        return fail(AVErrorDecodeFailed, "The audio has no sample rate or channels");
    if (ff().swr_alloc_set_opts2(&s.resampler, &s.codec->ch_layout, AV_SAMPLE_FMT_FLT, s.codec->sample_rate,
                            &s.codec->ch_layout, s.codec->sample_fmt, s.codec->sample_rate, 0, nullptr) < 0 ||
        ff().swr_init(s.resampler) < 0)
        return fail(AVErrorDecodeFailed, "Cannot convert the audio samples");
    s.packet = ff().av_packet_alloc();
    s.frame = ff().av_frame_alloc();
    if (!s.packet || !s.frame) return fail(AVErrorUnknown, "Out of memory");

    Info& info = decoder->info_;
    info.sampleRate = s.codec->sample_rate;
    info.channels = s.codec->ch_layout.nb_channels;
    info.trackID = s.stream + 1;
    if (s.format->duration != AV_NOPTS_VALUE && s.format->duration > 0) {
        info.duration = static_cast<double>(s.format->duration) / AV_TIME_BASE;
    } else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        info.duration = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    }
    info.estimated = s.format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
    decoder->length_ = s.source->length();

    // The packet index (complete for indexed containers once the header is read), so that the
    // playable part of a loading stream follows its bytes.
    const int entries = ff().avformat_index_get_entries_count(stream);
    std::uint64_t furthest = 0;
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = ff().avformat_index_get_entry(stream, i);
        if (!entry || entry->pos < 0) continue;
        furthest = std::max(furthest, static_cast<std::uint64_t>(entry->pos) + static_cast<std::uint64_t>(entry->size));
        decoder->packetEnds_.push_back(furthest);
        decoder->packetStarts_.push_back(std::max(0.0, static_cast<double>(entry->timestamp) * av_q2d(stream->time_base)));
    }
    // A container without an index of its own (a wave file, a bare stream) gets one built from
    // the packets read so far: it says nothing about the bytes past the probe.
    decoder->indexCoversAll_ = !decoder->packetStarts_.empty() && !(s.format->iformat->flags & AVFMT_GENERIC_INDEX) &&
                               decoder->packetStarts_.back() >= info.duration - 1.0;
    // Decoding starts from the first packet, wherever probing left the reading position.
    decoder->seek(0);
    return decoder;
}

double MediaDecoder::playableEnd(std::uint64_t received, bool complete) const {
    if (complete) return info_.duration;
    double indexed = 0.0;
    if (!packetEnds_.empty()) {
        const auto whole = static_cast<std::size_t>(
            std::upper_bound(packetEnds_.begin(), packetEnds_.end(), received) - packetEnds_.begin());
        if (whole < packetEnds_.size()) {
            // A packet counts once the next one has arrived too, as the decoder may look one ahead.
            return whole >= 2 ? std::min(info_.duration, packetStarts_[whole - 1]) : 0.0;
        }
        if (indexCoversAll_) return info_.duration;
        indexed = std::min(info_.duration, packetStarts_.back());
    }
    // Past the index, or none: in proportion to the bytes, one second short for safety.
    if (length_ > 0 && info_.duration > 0)
        return std::max(indexed, info_.duration * static_cast<double>(received) / static_cast<double>(length_) - 1.0);
    return indexed;
}

std::size_t MediaDecoder::fifoFrames() const {
    const State& s = *state_;
    return info_.channels ? (s.fifo.size() - s.fifoStart) / static_cast<std::size_t>(info_.channels) : 0;
}

bool MediaDecoder::decodeMore(NSErrorPtr* error) {
    State& s = *state_;
    auto drainFrames = [&]() -> bool {
        for (;;) {
            const int rc = ff().avcodec_receive_frame(s.codec, s.frame);
            if (rc == AVERROR(EAGAIN)) return true;
            if (rc == AVERROR_EOF) {
                ended_ = true;
                return true;
            }
            if (rc < 0) {
                setError(error, makeAVError(AVErrorDecodeFailed, "Cannot decode the audio: " + ffmpegText(rc)));
                ended_ = true;
                return false;
            }
            const int count = s.frame->nb_samples;
            std::vector<float> converted(static_cast<std::size_t>(count) * static_cast<std::size_t>(info_.channels));
            auto* out = reinterpret_cast<std::uint8_t*>(converted.data());
            const int got = ff().swr_convert(s.resampler, &out, count, const_cast<const std::uint8_t**>(s.frame->extended_data),
                                        count);
            std::size_t drop = 0;
            if (s.skipUntil >= 0 && s.frame->best_effort_timestamp != AV_NOPTS_VALUE) {
                const double start = static_cast<double>(s.frame->best_effort_timestamp) *
                                     av_q2d(s.format->streams[s.stream]->time_base);
                if (start < s.skipUntil)
                    drop = static_cast<std::size_t>(std::llround((s.skipUntil - start) * info_.sampleRate));
                else
                    s.skipUntil = -1;
            }
            ff().av_frame_unref(s.frame);
            if (got <= 0) continue;
            const std::size_t have = static_cast<std::size_t>(got);
            if (drop >= have) continue;
            s.skipUntil = -1;
            const std::size_t channels = static_cast<std::size_t>(info_.channels);
            // Compact the queue now and then instead of shifting it on every read.
            if (s.fifoStart > 0 && s.fifoStart >= s.fifo.size() / 2) {
                s.fifo.erase(s.fifo.begin(), s.fifo.begin() + static_cast<std::ptrdiff_t>(s.fifoStart));
                s.fifoStart = 0;
            }
            s.fifo.insert(s.fifo.end(), converted.begin() + static_cast<std::ptrdiff_t>(drop * channels),
                          converted.begin() + static_cast<std::ptrdiff_t>(have * channels));
        }
    };

    if (s.flushed) return drainFrames() && !ended_;
    const int rc = ff().av_read_frame(s.format, s.packet);
    // After a read that failed, FFmpeg may say the file ended: that is the failure, not the end.
    if (!s.readError && (rc == AVERROR_EOF || (rc < 0 && s.source->isComplete()))) {
        s.flushed = true;
        ff().avcodec_send_packet(s.codec, nullptr);
        return drainFrames();
    }
    if (rc < 0) {
        NSErrorPtr underlying = s.readError ? s.readError : s.source->error();
        setError(error, makeAVError(underlying ? AVErrorContentIsUnavailable : AVErrorDecodeFailed,
                                    "Cannot read the media: " + ffmpegText(rc), underlying));
        ended_ = true;
        return false;
    }
    if (s.packet->stream_index == s.stream) {
        const int sent = ff().avcodec_send_packet(s.codec, s.packet);
        ff().av_packet_unref(s.packet);
        // A damaged packet is skipped, as players do; the next one decodes again.
        if (sent < 0 && sent != AVERROR(EAGAIN)) return true;
        return drainFrames();
    }
    ff().av_packet_unref(s.packet);
    return true;
}

std::size_t MediaDecoder::render(float* out, std::size_t frames, NSErrorPtr* error) {
    State& s = *state_;
    while (fifoFrames() < frames && !ended_)
        if (!decodeMore(error)) break;
    const std::size_t count = std::min(frames, fifoFrames());
    const std::size_t floats = count * static_cast<std::size_t>(info_.channels);
    std::memcpy(out, s.fifo.data() + s.fifoStart, floats * sizeof(float));
    s.fifoStart += floats;
    return count;
}

void MediaDecoder::seek(double seconds) {
    State& s = *state_;
    AVStream* stream = s.format->streams[s.stream];
    const auto target = static_cast<std::int64_t>(std::floor(std::max(0.0, seconds) / av_q2d(stream->time_base)));
    if (ff().av_seek_frame(s.format, s.stream, target, AVSEEK_FLAG_BACKWARD) < 0)
        (void)ff().av_seek_frame(s.format, s.stream, 0, AVSEEK_FLAG_BACKWARD);
    ff().avcodec_flush_buffers(s.codec);
    // The bytes read from now on say whether they can be read.
    s.readError = nullptr;
    s.fifo.clear();
    s.fifoStart = 0;
    s.flushed = false;
    ended_ = false;
    s.skipUntil = seconds > 0 ? seconds : -1;
}
