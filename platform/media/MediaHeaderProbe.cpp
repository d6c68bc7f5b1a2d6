// The MP4 box tree (moov, mvhd, trak, mdia, hdlr, mdhd, stsd and its esds) and the wave file's
// chunks (fmt, data), read in small bounded pieces. Whatever the probe is unsure of (fragmented
// movies, several audio tracks, codecs and variants whose rate or layout only decoding tells)
// it leaves to the decoder, so the figures it gives are the ones playing would give.
#include "platform/media/MediaHeaderProbe.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// However the file is made: boxes and chunks looked at, and bytes read in all. The boxes are
// looked for at fixed places of the tree, so its nesting is bounded by the code.
constexpr int kMaxItems = 1024;
constexpr std::uint64_t kMaxBytesRead = MediaHeaderProbe::kMaxBytesRead;

constexpr std::uint32_t fourCC(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3]));
}

std::uint32_t big16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0]) << 8 | p[1]; }
std::uint32_t big32(const std::uint8_t* p) { return big16(p) << 16 | big16(p + 2); }
std::uint64_t big64(const std::uint8_t* p) { return static_cast<std::uint64_t>(big32(p)) << 32 | big32(p + 4); }
std::uint32_t little16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[1]) << 8 | p[0]; }
std::uint32_t little32(const std::uint8_t* p) { return little16(p + 2) << 16 | little16(p); }

// Reads within the file and the budget; every read is of a small fixed buffer of the probe's.
class Bytes {
public:
    Bytes(std::uint64_t length, const MediaHeaderProbe::Reader& read) : length_(length), read_(read) {}

    std::uint64_t length() const { return length_; }

    // Exactly `size` bytes at `offset`, or false.
    bool at(std::uint64_t offset, std::uint8_t* out, std::size_t size) {
        if (offset > length_ || size > length_ - offset || size > kMaxBytesRead - spent_) return false;
        spent_ += size;
        std::size_t got = 0;
        while (got < size) {
            const long count = read_(offset + got, out + got, size - got);
            if (count <= 0 || static_cast<std::size_t>(count) > size - got) return false;
            got += static_cast<std::size_t>(count);
        }
        return true;
    }

    // One more box or chunk looked at; false once too many were.
    bool count() { return ++items_ <= kMaxItems; }

private:
    const std::uint64_t length_;
    const MediaHeaderProbe::Reader& read_;
    std::uint64_t spent_ = 0;
    int items_ = 0;
};

// ---- MP4 ----

struct Box {
    std::uint32_t type = 0;
    std::uint64_t payload = 0;  // where its contents start
    std::uint64_t end = 0;
    std::uint64_t size() const { return end - payload; }
};

// The box at `offset`, which must lie whole before `parentEnd`.
bool readBox(Bytes& bytes, std::uint64_t offset, std::uint64_t parentEnd, Box& box) {
    if (!bytes.count() || offset > parentEnd || parentEnd - offset < 8) return false;
    std::uint8_t header[16];
    if (!bytes.at(offset, header, 8)) return false;
    std::uint64_t size = big32(header);
    std::uint64_t headerSize = 8;
    if (size == 1) {
        if (parentEnd - offset < 16 || !bytes.at(offset + 8, header + 8, 8)) return false;
        size = big64(header + 8);
        headerSize = 16;
    } else if (size == 0) {
        size = parentEnd - offset;  // to the end of its parent
    }
    if (size < headerSize || size > parentEnd - offset) return false;
    box.type = big32(header + 4);
    box.payload = offset + headerSize;
    box.end = offset + size;
    return true;
}

// Calls `visit` with each box from `from` to `end`, stopping when it returns false (and then
// returning false). A tail too short for a box header is ignored, as demuxers do.
template <class Visit>
bool eachBox(Bytes& bytes, std::uint64_t from, std::uint64_t end, Visit&& visit) {
    for (std::uint64_t at = from; at < end && end - at >= 8;) {
        Box box;
        if (!readBox(bytes, at, end, box) || !visit(box)) return false;
        at = box.end;
    }
    return true;
}

enum class Found { Yes, No, Broken };

// The first box of `type` among the children of `parent`.
Found findBox(Bytes& bytes, const Box& parent, std::uint32_t type, Box& found) {
    bool seen = false;
    const bool whole = eachBox(bytes, parent.payload, parent.end, [&](const Box& box) {
        if (box.type != type) return true;
        found = box;
        seen = true;
        return false;
    });
    return seen ? Found::Yes : whole ? Found::No : Found::Broken;
}

// Reads a small buffer front to back; every step checks what is left.
class Cursor {
public:
    Cursor(const std::uint8_t* p, std::size_t size) : p_(p), size_(size) {}
    std::size_t left() const { return size_ - at_; }
    const std::uint8_t* here() const { return p_ + at_; }
    bool skip(std::size_t count) {
        if (count > left()) return false;
        at_ += count;
        return true;
    }
    bool byte(std::uint8_t& value) {
        if (left() < 1) return false;
        value = p_[at_++];
        return true;
    }
    // A descriptor of `tag` with its length (up to four bytes of seven bits), within what is
    // left: the cursor then covers its contents alone.
    bool descriptor(std::uint8_t tag, Cursor& contents) {
        std::uint8_t found = 0;
        if (!byte(found) || found != tag) return false;
        std::size_t length = 0;
        for (int i = 0;; ++i) {
            std::uint8_t part = 0;
            if (i == 4 || !byte(part)) return false;
            length = length << 7 | (part & 0x7Fu);
            if (!(part & 0x80)) break;
        }
        if (length > left()) return false;
        contents = Cursor(here(), length);
        at_ += length;
        return true;
    }

private:
    const std::uint8_t* p_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class Bits {
public:
    Bits(const std::uint8_t* p, std::size_t size) : p_(p), size_(size) {}
    bool take(int count, std::uint32_t& value) {
        value = 0;
        for (int i = 0; i < count; ++i) {
            if (at_ >= size_ * 8) return false;
            value = value << 1 | ((p_[at_ / 8] >> (7 - at_ % 8)) & 1u);
            ++at_;
        }
        return true;
    }

private:
    const std::uint8_t* p_;
    std::size_t size_;
    std::size_t at_ = 0;
};

struct AudioFormat {
    int sampleRate = 0;
    int channels = 0;
};

// The AAC low-complexity configuration of an "esds" box. Other object types, a rate low enough
// for the stream to carry spectral band replication the header need not announce (doubling the
// rate the decoder gives), and layouts given by a program element: the decoder tells those.
bool readAACConfiguration(Bytes& bytes, const Box& esds, AudioFormat& format) {
    std::array<std::uint8_t, 128> buffer{};
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(esds.size(), buffer.size()));
    if (size < 4 || !bytes.at(esds.payload, buffer.data(), size)) return false;
    Cursor box(buffer.data(), size);
    Cursor stream(nullptr, 0), config(nullptr, 0), specific(nullptr, 0);
    std::uint8_t flags = 0, objectTypeIndication = 0;
    // The elementary stream descriptor (its id, flags and what they announce), the decoder
    // configuration (MPEG-4 audio), then the audio's own configuration.
    if (!box.skip(4) || !box.descriptor(0x03, stream) || !stream.skip(2) || !stream.byte(flags)) return false;
    if ((flags & 0x80) && !stream.skip(2)) return false;
    if (flags & 0x40) {
        std::uint8_t url = 0;
        if (!stream.byte(url) || !stream.skip(url)) return false;
    }
    if ((flags & 0x20) && !stream.skip(2)) return false;
    if (!stream.descriptor(0x04, config) || !config.byte(objectTypeIndication) || objectTypeIndication != 0x40 ||
        !config.skip(12) || !config.descriptor(0x05, specific) || specific.left() < 2)
        return false;

    static constexpr int kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                     22050, 16000, 12000, 11025, 8000,  7350};
    static constexpr int kChannels[] = {0, 1, 2, 3, 4, 5, 6, 8};
    Bits bits(specific.here(), specific.left());
    std::uint32_t objectType = 0, rateIndex = 0, channelConfiguration = 0;
    if (!bits.take(5, objectType) || objectType != 2 || !bits.take(4, rateIndex)) return false;
    std::uint32_t rate = 0;
    if (rateIndex == 15) {
        if (!bits.take(24, rate)) return false;
    } else if (rateIndex < std::size(kRates)) {
        rate = static_cast<std::uint32_t>(kRates[rateIndex]);
    } else {
        return false;
    }
    if (!bits.take(4, channelConfiguration) || channelConfiguration == 0 || channelConfiguration >= std::size(kChannels))
        return false;
    if (rate <= 24000 || rate > 96000) return false;
    format.sampleRate = static_cast<int>(rate);
    format.channels = kChannels[channelConfiguration];
    return true;
}

// The one sample description of an audio track: AAC ("mp4a"), its configuration in "esds"
// (directly inside, or in the "wave" box of older files).
bool readSampleDescription(Bytes& bytes, const Box& stsd, AudioFormat& format) {
    std::uint8_t header[8];
    if (stsd.size() < 8 || !bytes.at(stsd.payload, header, 8) || big32(header + 4) != 1) return false;
    Box entry;
    if (!readBox(bytes, stsd.payload + 8, stsd.end, entry) || entry.type != fourCC("mp4a")) return false;
    // The sound sample description: reserved and reference index, then version, ... rate.
    std::uint8_t fields[28];
    if (entry.size() < sizeof fields || !bytes.at(entry.payload, fields, sizeof fields)) return false;
    const std::uint32_t version = big16(fields + 8);
    std::uint64_t children = entry.payload + sizeof fields;
    if (version == 1) {
        children += 16;
    } else if (version != 0) {
        return false;
    }
    if (children > entry.end) return false;
    Box inner{entry.type, children, entry.end};
    Box esds, wave;
    if (findBox(bytes, inner, fourCC("esds"), esds) == Found::Yes) return readAACConfiguration(bytes, esds, format);
    return findBox(bytes, inner, fourCC("wave"), wave) == Found::Yes &&
           findBox(bytes, wave, fourCC("esds"), esds) == Found::Yes && readAACConfiguration(bytes, esds, format);
}

struct Movie {
    std::uint64_t duration = 0;
    std::uint32_t timescale = 0;
    bool header = false;
    bool fragmented = false;
    int tracks = 0;  // every track, in order: the decoder numbers its streams so
    int audioTracks = 0;
    int audioTrackID = 0;
    AudioFormat format;
    bool knownAudio = false;
};

bool readMovieHeader(Bytes& bytes, const Box& mvhd, Movie& movie) {
    std::uint8_t fields[32];
    if (mvhd.size() < 4 || !bytes.at(mvhd.payload, fields, 4)) return false;
    const std::size_t need = fields[0] == 1 ? 32 : 20;
    if (fields[0] > 1 || mvhd.size() < need || !bytes.at(mvhd.payload + 4, fields + 4, need - 4)) return false;
    if (fields[0] == 1) {
        movie.timescale = big32(fields + 20);
        movie.duration = big64(fields + 24);
        // All ones: unknown.
        if (movie.duration == ~std::uint64_t{0}) movie.duration = 0;
    } else {
        movie.timescale = big32(fields + 12);
        movie.duration = big32(fields + 16);
        if (movie.duration == 0xFFFFFFFFu) movie.duration = 0;
    }
    movie.header = true;
    return true;
}

// One track: its handler says whether it is audio; an audio track's description is read. False
// for a track that cannot be read.
bool readTrack(Bytes& bytes, const Box& trak, Movie& movie) {
    ++movie.tracks;
    Box mdia, hdlr;
    Found found = findBox(bytes, trak, fourCC("mdia"), mdia);
    if (found == Found::Yes) found = findBox(bytes, mdia, fourCC("hdlr"), hdlr);
    if (found != Found::Yes) return found == Found::No;  // a track without media: not audio
    std::uint8_t handler[12];
    if (hdlr.size() < sizeof handler || !bytes.at(hdlr.payload, handler, sizeof handler)) return false;
    if (big32(handler + 8) != fourCC("soun")) return true;
    if (++movie.audioTracks > 1) return true;
    movie.audioTrackID = movie.tracks;
    Box mdhd, minf, stbl, stsd;
    std::uint8_t version[4];
    // A media header the decoder reads (versions 0 and 1), and the sample description.
    movie.knownAudio = findBox(bytes, mdia, fourCC("mdhd"), mdhd) == Found::Yes && mdhd.size() >= 4 &&
                       bytes.at(mdhd.payload, version, 4) && version[0] <= 1 &&
                       findBox(bytes, mdia, fourCC("minf"), minf) == Found::Yes &&
                       findBox(bytes, minf, fourCC("stbl"), stbl) == Found::Yes &&
                       findBox(bytes, stbl, fourCC("stsd"), stsd) == Found::Yes &&
                       readSampleDescription(bytes, stsd, movie.format);
    return true;
}

std::optional<MediaDecoder::Info> probeMP4(Bytes& bytes) {
    Box first;
    if (!readBox(bytes, 0, bytes.length(), first) || first.type != fourCC("ftyp")) return std::nullopt;
    // The movie box, wherever it is among the top-level boxes; the first one counts.
    const Box rest{0, first.end, bytes.length()};
    Box moov;
    if (findBox(bytes, rest, fourCC("moov"), moov) != Found::Yes) return std::nullopt;
    Movie movie;
    const bool read = eachBox(bytes, moov.payload, moov.end, [&](const Box& box) {
        // A second movie header would replace the first for the decoder: too odd to guess at.
        if (box.type == fourCC("mvhd")) return !movie.header && readMovieHeader(bytes, box, movie);
        if (box.type == fourCC("mvex")) movie.fragmented = true;
        if (box.type == fourCC("trak")) return readTrack(bytes, box, movie);
        return true;
    });
    // A fragmented movie's length is in its fragments; several audio tracks leave the decoder to
    // choose; figures the decoder reads as signed and negative make it guess.
    if (!read || !movie.header || movie.fragmented || movie.audioTracks != 1 || !movie.knownAudio ||
        movie.timescale == 0 || movie.timescale > INT32_MAX || movie.duration == 0 || movie.duration > INT64_MAX)
        return std::nullopt;
    MediaDecoder::Info info;
    // In whole microseconds, rounded, as the decoder's demuxer gives the movie's length.
    const auto micros = (static_cast<unsigned __int128>(movie.duration) * 1'000'000 + movie.timescale / 2) /
                        movie.timescale;
    // A length that rounds to nothing is none.
    if (micros == 0 || micros > static_cast<unsigned __int128>(INT64_MAX)) return std::nullopt;
    info.duration = static_cast<double>(static_cast<std::int64_t>(micros)) / 1e6;
    info.sampleRate = movie.format.sampleRate;
    info.channels = movie.format.channels;
    info.trackID = movie.audioTrackID;
    info.audioTrackIDs = {movie.audioTrackID};
    return info;
}

// ---- Wave ----

// Integer PCM of 8 to 32 bits or floating point of 32 or 64, plain or in the extensible form,
// one whole frame per block, and a data chunk the file holds whole.
std::optional<MediaDecoder::Info> probeWave(Bytes& bytes) {
    std::uint8_t header[12];
    if (!bytes.at(0, header, sizeof header) || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0)
        return std::nullopt;
    std::uint32_t tag = 0, channels = 0, rate = 0, block = 0, bits = 0;
    bool format = false;
    for (std::uint64_t at = sizeof header; at < bytes.length() && bytes.length() - at >= 8;) {
        std::uint8_t chunk[8];
        if (!bytes.count() || !bytes.at(at, chunk, sizeof chunk)) return std::nullopt;
        const std::uint64_t size = little32(chunk + 4);
        const std::uint64_t body = at + sizeof chunk;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            std::uint8_t fields[40] = {};
            if (format || size < 16 || size > bytes.length() - body) return std::nullopt;
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof fields));
            if (!bytes.at(body, fields, take)) return std::nullopt;
            tag = little16(fields);
            channels = little16(fields + 2);
            rate = little32(fields + 4);
            block = little16(fields + 12);
            bits = little16(fields + 14);
            if (tag == 0xFFFE) {
                // The sub-format's first two bytes are the plain tag; the rest is the fixed suffix.
                static constexpr std::uint8_t kSuffix[] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                                           0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
                if (take < 40 || little16(fields + 16) < 22 || std::memcmp(fields + 26, kSuffix, sizeof kSuffix) != 0)
                    return std::nullopt;
                tag = little16(fields + 24);
            }
            format = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            // The samples, which must follow the format and be in the file whole: a length of
            // zero or all ones (a file written as it streamed), or longer than the file, is the
            // decoder's to read.
            if (!format || size == 0 || size == 0xFFFFFFFFu || size > bytes.length() - body) return std::nullopt;
            const bool integer = tag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
            const bool floating = tag == 3 && (bits == 32 || bits == 64);
            if (!(integer || floating) || channels == 0 || channels > 8 || rate == 0 || rate > 768000 ||
                block != channels * bits / 8)
                return std::nullopt;
            const std::uint64_t frames = size / block;
            const std::uint64_t micros = (frames * 1'000'000 + rate / 2) / rate;
            if (micros == 0) return std::nullopt;  // not a whole frame, or too short to count
            MediaDecoder::Info info;
            info.duration = static_cast<double>(micros) / 1e6;
            info.sampleRate = static_cast<int>(rate);
            info.channels = static_cast<int>(channels);
            info.trackID = 1;
            info.audioTrackIDs = {1};
            return info;
        }
        // Chunks are padded to an even length.
        const std::uint64_t next = body + size + (size & 1);
        if (next <= at) return std::nullopt;
        at = next;
    }
    return std::nullopt;
}

}  // namespace

std::optional<MediaDecoder::Info> MediaHeaderProbe::probe(std::uint64_t length, const Reader& read) {
    if (!read) return std::nullopt;
    std::uint8_t start[12];
    {
        Bytes bytes(length, read);
        if (!bytes.at(0, start, sizeof start)) return std::nullopt;
    }
    // Each format with a budget of its own.
    Bytes bytes(length, read);
    if (std::memcmp(start, "RIFF", 4) == 0) return probeWave(bytes);
    if (std::memcmp(start + 4, "ftyp", 4) == 0) return probeMP4(bytes);
    return std::nullopt;
}
