// Synthesised phrases encoded as AAC in MP4: a seed picks a key and a melody of notes, each
// with a soft attack and release, over a quiet drone.
#include "demo/generator/DemoAudio.h"


extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

constexpr double kPi = 3.14159265358979323846;

// A small deterministic generator (the same bytes on every machine).
struct Random {
    std::uint32_t state;
    std::uint32_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

bool audioFailure(std::string* error, const std::string& text, int code = 0) {
    if (error) {
        *error = text;
        if (code) {
            char detail[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(code, detail, sizeof detail);
            *error += std::string(": ") + detail;
        }
        *error += ".";
    }
    return false;
}

}  // namespace

std::vector<float> DemoAudio::synthesise(const Piece& piece) {
    const auto frames = static_cast<std::size_t>(std::llround(piece.seconds * piece.sampleRate));
    const auto channels = static_cast<std::size_t>(std::max(1, piece.channels));
    std::vector<float> samples(frames * channels, 0.0f);
    if (piece.steadyLevel > 0) {
        for (std::size_t i = 0; i < frames; ++i)
            for (std::size_t c = 0; c < channels; ++c)
                samples[i * channels + c] = piece.steadyLevel *
                    static_cast<float>(std::sin(2 * kPi * 440.0 * static_cast<double>(i) / piece.sampleRate));
        return samples;
    }
    Random random{piece.seed * 2654435761u + 12345u};
    // A major or minor scale on a root between A3 and G#4.
    const double root = 220.0 * std::pow(2.0, static_cast<double>(random.next() % 12) / 12.0);
    static const int major[] = {0, 2, 4, 5, 7, 9, 11, 12};
    static const int minor[] = {0, 2, 3, 5, 7, 8, 10, 12};
    const int* scale = random.next() % 2 ? major : minor;
    const double beat = 0.25 + 0.05 * static_cast<double>(random.next() % 4);
    std::size_t start = 0;
    while (start < frames) {
        // A phrase of four to eight notes, then a short rest.
        const int notes = 4 + static_cast<int>(random.next() % 5);
        for (int n = 0; n < notes && start < frames; ++n) {
            const int degree = scale[random.next() % 8];
            const double frequency = root * std::pow(2.0, degree / 12.0);
            const double length = beat * (1 + random.next() % 2);
            const auto count = std::min(frames - start, static_cast<std::size_t>(length * piece.sampleRate));
            for (std::size_t i = 0; i < count; ++i) {
                const double t = static_cast<double>(i) / piece.sampleRate;
                const double attack = std::min(1.0, t / 0.02);
                const double release = std::min(1.0, (static_cast<double>(count - i) / piece.sampleRate) / 0.08);
                const double tone = std::sin(2 * kPi * frequency * t) + 0.3 * std::sin(4 * kPi * frequency * t);
                const double value = 0.35 * attack * release * tone;
                for (std::size_t c = 0; c < channels; ++c)
                    samples[(start + i) * channels + c] += static_cast<float>(value * (c == 0 ? 1.0 : 0.85));
            }
            start += count;
        }
        start += static_cast<std::size_t>(beat * piece.sampleRate);
    }
    // The drone under it all.
    for (std::size_t i = 0; i < frames; ++i) {
        const double value = 0.05 * std::sin(2 * kPi * root / 2 * static_cast<double>(i) / piece.sampleRate);
        for (std::size_t c = 0; c < channels; ++c) samples[i * channels + c] += static_cast<float>(value);
    }
    return samples;
}

bool DemoAudio::writeM4A(const std::string& path, const Piece& piece, std::string* error) {
    av_log_set_level(AV_LOG_ERROR);
    const std::vector<float> samples = synthesise(piece);
    const int channels = std::max(1, piece.channels);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    // Written beside the target and renamed over it: the index is moved to the front in a second
    // pass over the file, which a reader must not see half done.
    const std::string partial = path + ".part";

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) return audioFailure(error, "No AAC encoder");
    AVFormatContext* format = nullptr;
    if (int rc = avformat_alloc_output_context2(&format, nullptr, "mp4", nullptr); rc < 0 || !format)
        return audioFailure(error, "Cannot make an MP4 muxer", rc);
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> formatOwner(format, [](AVFormatContext* f) {
        if (f->pb) avio_closep(&f->pb);
        avformat_free_context(f);
    });
    AVCodecContext* encoder = avcodec_alloc_context3(codec);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> encoderOwner(encoder, [](AVCodecContext* c) {
        avcodec_free_context(&c);
    });
    encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
    encoder->sample_rate = piece.sampleRate;
    av_channel_layout_default(&encoder->ch_layout, channels);
    encoder->bit_rate = 64000 * channels;
    encoder->time_base = AVRational{1, piece.sampleRate};
    if (format->oformat->flags & AVFMT_GLOBALHEADER) encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(encoder, codec, nullptr); rc < 0)
        return audioFailure(error, "Cannot open the AAC encoder", rc);

    AVStream* stream = avformat_new_stream(format, nullptr);
    stream->time_base = encoder->time_base;
    avcodec_parameters_from_context(stream->codecpar, encoder);
    if (int rc = avio_open(&format->pb, partial.c_str(), AVIO_FLAG_WRITE); rc < 0)
        return audioFailure(error, "Cannot create " + partial, rc);
    format->url = av_strdup(partial.c_str());
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    const int header = avformat_write_header(format, &options);
    av_dict_free(&options);
    if (header < 0) return audioFailure(error, "Cannot write the MP4 header", header);

    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frameOwner(frame, [](AVFrame* f) { av_frame_free(&f); });
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packetOwner(packet, [](AVPacket* p) { av_packet_free(&p); });
    const int frameSize = encoder->frame_size > 0 ? encoder->frame_size : 1024;
    const std::size_t total = samples.size() / static_cast<std::size_t>(channels);
    auto drain = [&]() -> int {
        for (;;) {
            int rc = avcodec_receive_packet(encoder, packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return 0;
            if (rc < 0) return rc;
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            rc = av_interleaved_write_frame(format, packet);
            if (rc < 0) return rc;
        }
    };
    for (std::size_t at = 0; at < total; at += static_cast<std::size_t>(frameSize)) {
        const int count = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(frameSize), total - at));
        frame->nb_samples = count;
        frame->format = encoder->sample_fmt;
        frame->sample_rate = encoder->sample_rate;
        av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout);
        if (int rc = av_frame_get_buffer(frame, 0); rc < 0)
            return audioFailure(error, "Cannot make an audio frame", rc);
        for (int c = 0; c < channels; ++c) {
            auto* plane = reinterpret_cast<float*>(frame->data[c]);
            for (int i = 0; i < count; ++i)
                plane[i] = samples[(at + static_cast<std::size_t>(i)) * static_cast<std::size_t>(channels) +
                                   static_cast<std::size_t>(c)];
        }
        frame->pts = static_cast<std::int64_t>(at);
        int rc = avcodec_send_frame(encoder, frame);
        av_frame_unref(frame);
        if (rc < 0 || (rc = drain()) < 0) return audioFailure(error, "Cannot encode the audio", rc);
    }
    avcodec_send_frame(encoder, nullptr);
    if (int rc = drain(); rc < 0) return audioFailure(error, "Cannot encode the audio", rc);
    if (int rc = av_write_trailer(format); rc < 0)
        return audioFailure(error, "Cannot finish the MP4 file", rc);
    avio_closep(&format->pb);
    std::filesystem::rename(partial, path, ec);
    if (ec) return audioFailure(error, "Cannot rename " + partial + ": " + ec.message());
    return true;
}

std::string DemoAudio::displayTime(double seconds) {
    const long whole = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}
