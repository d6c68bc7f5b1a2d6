// The header probe against FFmpeg's own figures for what the player plays from the device (AAC in
// MP4 files, PCM in wave files), what it leaves to the decoder, and damaged, cut and hostile
// headers: each fails cleanly, reading only inside the file and within a small budget.
#include "demo/generator/DemoAudio.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/Sandbox.h"
#include "platform/media/MediaByteSource.h"
#include "platform/media/MediaDecoder.h"
#include "platform/media/MediaHeaderProbe.h"
#include "platform/net/NSURL.h"
#include "tests/fixtures/DemoBundle.h"
#include "tests/platform/media/MediaTestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fileBytes(const std::string& path) {
    const auto data = readDataFromFile(path);
    EXPECT_TRUE(data) << path;
    return data ? Bytes(data->begin(), data->end()) : Bytes();
}

// A file's bytes as the probe reads them, with what it asked for.
struct Reads {
    std::uint64_t asked = 0;
    bool outside = false;  // a read starting past the end
};

std::optional<MediaDecoder::Info> probe(const Bytes& bytes, Reads* reads = nullptr) {
    return MediaHeaderProbe::probe(bytes.size(), [&](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) -> long {
        if (reads) {
            reads->asked += size;
            reads->outside = reads->outside || offset >= bytes.size();
        }
        if (offset >= bytes.size()) return 0;
        const std::size_t count = std::min<std::size_t>(size, bytes.size() - offset);
        std::memcpy(buffer, bytes.data() + offset, count);
        return static_cast<long>(count);
    });
}

std::optional<MediaDecoder::Info> decoded(const std::string& path) {
    NSErrorPtr error;
    auto source = MediaByteSource::open(*NSURL::fileURLWithPath(path), &error);
    if (!source) return std::nullopt;
    auto decoder = MediaDecoder::open(source, &error);
    EXPECT_TRUE(decoder) << path << ": " << (error ? error->localizedDescription() : "");
    if (!decoder) return std::nullopt;
    return decoder->info();
}

std::string written(const std::string& name, const Bytes& bytes) {
    const std::string path = Sandbox::tmp() + "/" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return path;
}

void putLittle(Bytes& bytes, std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putBig(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * (3 - i)));
}

std::uint32_t big(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

// Where the box of `type` starts (its size field), searching from `from`; npos when none.
std::size_t boxAt(const Bytes& bytes, const char* type, std::size_t from = 0) {
    const auto at = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), type, type + 4);
    return at == bytes.end() || at - bytes.begin() < 4 ? std::string::npos : static_cast<std::size_t>(at - bytes.begin()) - 4;
}

// A wave file of silence: `tag` 1 (integer PCM) or 3 (floating point), or the extensible form
// around `tag` when `extensible`.
Bytes waveFile(std::uint32_t tag, std::uint32_t bits, std::uint32_t channels, std::uint32_t rate, std::uint32_t frames,
               bool extensible = false) {
    const std::uint32_t block = channels * bits / 8, data = block * frames, format = extensible ? 40 : 16;
    Bytes bytes(12 + 8 + format + 8 + data, 0);
    std::memcpy(bytes.data(), "RIFF", 4);
    putLittle(bytes, 4, static_cast<std::uint32_t>(bytes.size() - 8), 4);
    std::memcpy(bytes.data() + 8, "WAVEfmt ", 8);
    putLittle(bytes, 16, format, 4);
    putLittle(bytes, 20, extensible ? 0xFFFE : tag, 2);
    putLittle(bytes, 22, channels, 2);
    putLittle(bytes, 24, rate, 4);
    putLittle(bytes, 28, rate * block, 4);
    putLittle(bytes, 32, block, 2);
    putLittle(bytes, 34, bits, 2);
    if (extensible) {
        static const std::uint8_t kSuffix[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                               0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        putLittle(bytes, 36, 22, 2);
        putLittle(bytes, 38, bits, 2);
        putLittle(bytes, 40, (1u << channels) - 1, 4);
        putLittle(bytes, 44, tag, 2);
        std::memcpy(bytes.data() + 46, kSuffix, sizeof kSuffix);
    }
    std::memcpy(bytes.data() + 20 + format, "data", 4);
    putLittle(bytes, 24 + format, data, 4);
    return bytes;
}

// Compositions at other rates and channel counts, encoded once per test run.
struct Variants {
    std::string mono48k, stereo32k, stereo22k;
};

const Variants& variants() {
    static const Variants made = [] {
        std::string error;
        const std::string folder = DemoBundle::sharedFolder(
            "media-probe",
            [](const std::string& folder, std::string* error) {
                return DemoAudio::writeM4A(folder + "/mono48k.m4a", {1.5, 3, 48000, 1, 0}, error) &&
                       DemoAudio::writeM4A(folder + "/stereo32k.m4a", {2.3, 4, 32000, 2, 0}, error) &&
                       DemoAudio::writeM4A(folder + "/stereo22k.m4a", {1.0, 5, 22050, 2, 0}, error);
            },
            &error);
        if (folder.empty()) ADD_FAILURE() << error;
        return Variants{folder + "/mono48k.m4a", folder + "/stereo32k.m4a", folder + "/stereo22k.m4a"};
    }();
    return made;
}

TEST(MediaHeaderProbeTest, TheFiguresAreTheDecodersForCompositionsAndWaveFiles) {
    std::vector<std::string> files = {MediaTestFiles::phrases(),     MediaTestFiles::steadyTone(),
                                      MediaTestFiles::longPhrases(), MediaTestFiles::longWave(),
                                      MediaTestFiles::hugeDeclaredDuration(), variants().mono48k,
                                      variants().stereo32k};
    // A movie header that says less than its track holds: the movie's length is the one told.
    Bytes shorter = fileBytes(MediaTestFiles::phrases());
    const std::size_t mvhd = boxAt(shorter, "mvhd");
    ASSERT_NE(mvhd, std::string::npos);
    putBig(shorter, mvhd + 8 + 16, big(shorter, mvhd + 8 + 12) * 5 / 4);
    files.push_back(written("shorter.m4a", shorter));
    files.push_back(written("u8.wav", waveFile(1, 8, 1, 22050, 22050 * 2 + 7)));
    files.push_back(written("s24.wav", waveFile(1, 24, 2, 48000, 48000 + 1)));
    files.push_back(written("f32.wav", waveFile(3, 32, 2, 44100, 30000)));
    files.push_back(written("f64.wav", waveFile(3, 64, 1, 8000, 12345)));
    files.push_back(written("extensible.wav", waveFile(1, 16, 6, 44100, 44100 / 3, true)));
    for (const auto& file : files) {
        SCOPED_TRACE(file);
        const auto header = probe(fileBytes(file));
        const auto decoder = decoded(file);
        ASSERT_TRUE(header);
        ASSERT_TRUE(decoder);
        EXPECT_DOUBLE_EQ(header->duration, decoder->duration);
        EXPECT_EQ(header->estimated, decoder->estimated);
        EXPECT_EQ(header->sampleRate, decoder->sampleRate);
        EXPECT_EQ(header->channels, decoder->channels);
        EXPECT_EQ(header->trackID, decoder->trackID);
        EXPECT_EQ(header->audioTrackIDs, decoder->audioTrackIDs);
    }
    EXPECT_NEAR(probe(fileBytes(variants().stereo32k))->duration, 2.3, 0.05);
    EXPECT_DOUBLE_EQ(probe(shorter)->duration, 1.25);
    EXPECT_GT(probe(fileBytes(MediaTestFiles::hugeDeclaredDuration()))->duration, 999'000.0);
}

// What the header cannot settle is the decoder's: a rate the stream may double, several audio
// tracks, a fragmented movie, a movie without a length, a wave file written as it streamed or
// in another coding, and files that are neither.
TEST(MediaHeaderProbeTest, WhatOnlyTheDecoderCanTellIsLeftToIt) {
    EXPECT_FALSE(probe(fileBytes(variants().stereo22k)));
    EXPECT_TRUE(decoded(variants().stereo22k));

    const Bytes m4a = fileBytes(MediaTestFiles::phrases());
    const std::size_t moov = boxAt(m4a, "moov"), trak = boxAt(m4a, "trak");
    ASSERT_NE(moov, std::string::npos);
    ASSERT_NE(trak, std::string::npos);
    ASSERT_TRUE(probe(m4a));
    // A second audio track, and a movie extended by fragments: each inserted at the movie's end.
    auto inserted = [&](const Bytes& box) {
        Bytes bytes = m4a;
        const std::size_t end = moov + big(m4a, moov);
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(end), box.begin(), box.end());
        putBig(bytes, moov, big(m4a, moov) + static_cast<std::uint32_t>(box.size()));
        return bytes;
    };
    const Bytes track(m4a.begin() + static_cast<std::ptrdiff_t>(trak),
                      m4a.begin() + static_cast<std::ptrdiff_t>(trak + big(m4a, trak)));
    EXPECT_FALSE(probe(inserted(track)));
    EXPECT_FALSE(probe(inserted({0, 0, 0, 8, 'm', 'v', 'e', 'x'})));
    // A movie header without a length, or with one too short to count in microseconds.
    Bytes lengthless = m4a;
    putBig(lengthless, boxAt(m4a, "mvhd") + 8 + 16, 0);
    EXPECT_FALSE(probe(lengthless));
    putBig(lengthless, boxAt(m4a, "mvhd") + 8 + 12, 0x7FFFFFFF);
    putBig(lengthless, boxAt(m4a, "mvhd") + 8 + 16, 1);
    EXPECT_FALSE(probe(lengthless));

    Bytes wave = waveFile(1, 16, 2, 44100, 4410);
    const std::size_t dataSize = wave.size() - 4410 * 4 - 4;
    for (std::uint32_t size : {0u, 0xFFFFFFFFu}) {
        putLittle(wave, dataSize, size, 4);
        EXPECT_FALSE(probe(wave)) << size;
    }
    EXPECT_FALSE(probe(waveFile(2, 4, 2, 44100, 100))) << "ADPCM";
    EXPECT_FALSE(probe(waveFile(1, 12, 2, 44100, 100))) << "12-bit";
    const std::string text = "This is a list of songs, not a song.\n";
    EXPECT_FALSE(probe(Bytes(text.begin(), text.end())));
    EXPECT_FALSE(probe(Bytes()));
    EXPECT_FALSE(probe(fileBytes(MediaTestFiles::notAudio())));
}

// Cut anywhere, every size field of the header set to what cannot be, a descriptor's length
// running past its box, a pile of empty boxes before the movie, reads that fail: no figures, or
// the figures of the whole file when what is left still holds the header, never a read outside
// the file, and no more than the budget read.
TEST(MediaHeaderProbeTest, DamagedCutAndHugeHeadersFailWithinTheFileAndItsBudget) {
    const Bytes m4a = fileBytes(MediaTestFiles::phrases());
    const auto whole = probe(m4a);
    ASSERT_TRUE(whole);
    const std::size_t moov = boxAt(m4a, "moov");
    const std::size_t moovEnd = moov + big(m4a, moov);
    auto expectWholeOrNothing = [&](const Bytes& bytes, const std::string& what) {
        Reads reads;
        const auto figures = probe(bytes, &reads);
        EXPECT_FALSE(reads.outside) << what;
        EXPECT_LE(reads.asked, 64u * 1024) << what;
        if (figures) {
            EXPECT_EQ(figures->duration, whole->duration) << what;
            EXPECT_EQ(figures->sampleRate, whole->sampleRate) << what;
            EXPECT_EQ(figures->channels, whole->channels) << what;
        }
        return figures.has_value();
    };
    for (std::size_t cut = 0; cut < moovEnd + 64; ++cut) {
        const bool read = expectWholeOrNothing(Bytes(m4a.begin(), m4a.begin() + static_cast<std::ptrdiff_t>(cut)),
                                               "cut at " + std::to_string(cut));
        EXPECT_EQ(read, cut >= moovEnd) << cut;
    }
    // Every box header inside the movie box, each size in turn impossible.
    std::vector<std::size_t> boxes = {0, moov};
    for (const char* type : {"mvhd", "trak", "tkhd", "mdia", "mdhd", "hdlr", "minf", "stbl", "stsd", "mp4a", "esds"}) {
        const std::size_t at = boxAt(m4a, type, moov);
        ASSERT_NE(at, std::string::npos) << type;
        boxes.push_back(at);
    }
    for (const std::size_t at : boxes) {
        for (const std::uint32_t size : {0xFFFFFFFFu, 0x7FFFFFFFu, 7u, 1u, big(m4a, at) + 1, big(m4a, at) - 1}) {
            Bytes bytes = m4a;
            putBig(bytes, at, size);
            expectWholeOrNothing(bytes, "box at " + std::to_string(at) + " of size " + std::to_string(size));
        }
        // A 64-bit size past any file.
        Bytes bytes = m4a;
        putBig(bytes, at, 1);
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at + 8), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0});
        EXPECT_FALSE(expectWholeOrNothing(bytes, "huge box at " + std::to_string(at)));
    }
    // The stream descriptor's length, and the sample descriptions' count, past their box.
    Bytes descriptor = m4a;
    const std::size_t esds = boxAt(m4a, "esds");
    ASSERT_EQ(descriptor[esds + 12], 0x03);
    for (std::size_t i = 0; i < 4; ++i) descriptor[esds + 13 + i] = i < 3 ? 0xFF : 0x7F;
    EXPECT_FALSE(expectWholeOrNothing(descriptor, "descriptor length"));
    Bytes descriptions = m4a;
    putBig(descriptions, boxAt(m4a, "stsd") + 12, 0x7FFFFFFF);
    EXPECT_FALSE(expectWholeOrNothing(descriptions, "descriptions"));

    // A hundred thousand empty boxes before the movie: the probe stops counting.
    Bytes padded(m4a.begin(), m4a.begin() + static_cast<std::ptrdiff_t>(big(m4a, 0)));
    for (int i = 0; i < 100'000; ++i) padded.insert(padded.end(), {0, 0, 0, 8, 'f', 'r', 'e', 'e'});
    padded.insert(padded.end(), m4a.begin() + static_cast<std::ptrdiff_t>(big(m4a, 0)), m4a.end());
    EXPECT_FALSE(expectWholeOrNothing(padded, "empty boxes"));

    // Reads that fail, or hand back more than was asked for.
    for (const long answer : {-1L, 1L << 20}) {
        EXPECT_FALSE(MediaHeaderProbe::probe(m4a.size(), [&](std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
            if (offset < 64) std::memcpy(buffer, m4a.data() + offset, std::min<std::size_t>(size, 64 - offset));
            return offset < 64 ? static_cast<long>(std::min<std::size_t>(size, 64 - offset)) : answer;
        })) << answer;
    }

    // Wave files whose chunks say more than they hold, or formats that cannot be.
    const Bytes wave = waveFile(1, 16, 2, 44100, 4410);
    ASSERT_TRUE(probe(wave));
    auto damaged = [&](std::size_t at, std::uint32_t value, int size) {
        Bytes bytes = wave;
        putLittle(bytes, at, value, size);
        Reads reads;
        const bool read = probe(bytes, &reads).has_value();
        EXPECT_FALSE(reads.outside);
        return read;
    };
    EXPECT_FALSE(damaged(16, 0xFFFFFFF0u, 4)) << "a format chunk past the file";
    EXPECT_FALSE(damaged(40, 4410 * 4 + 1, 4)) << "samples past the file";
    EXPECT_FALSE(damaged(22, 0, 2)) << "no channels";
    EXPECT_FALSE(damaged(24, 0, 4)) << "no rate";
    EXPECT_FALSE(damaged(32, 0, 2)) << "no block";
    EXPECT_FALSE(damaged(32, 3, 2)) << "a block that is no frame";
    EXPECT_FALSE(probe(waveFile(1, 16, 2, 44100, 0))) << "no samples";
    Bytes partial = waveFile(1, 32, 2, 48000, 1);
    putLittle(partial, 40, 5, 4);
    EXPECT_FALSE(probe(partial)) << "less than a frame";
    for (std::size_t cut = 0; cut < 44; ++cut)
        EXPECT_FALSE(probe(Bytes(wave.begin(), wave.begin() + static_cast<std::ptrdiff_t>(cut)))) << cut;
    // A chunk between the format and the samples that says it is longer than the file.
    Bytes listed(wave.begin(), wave.begin() + 36);
    listed.insert(listed.end(), {'L', 'I', 'S', 'T', 0xF0, 0xFF, 0xFF, 0xFF});
    listed.insert(listed.end(), wave.begin() + 36, wave.end());
    EXPECT_FALSE(probe(listed));
}

}  // namespace
