// Compositions for the player's tests.
#include "tests/platform/media/MediaTestFiles.h"

#include "demo/generator/DemoAudio.h"
#include "demo/generator/DemoPictures.h"
#include "tests/fixtures/DemoBundle.h"
#include "tests/fixtures/WaveFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// The file at `from` again at `to`, its movie header saying it lasts `milliseconds` (its header
// counts in thousandths of a second, as FFmpeg's muxer writes it).
bool writeDeclaringDuration(const std::string& from, const std::string& to, std::uint32_t milliseconds,
                            std::string* error) {
    std::ifstream in(from, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string tag = "mvhd";
    const auto at = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
    // Version 0: version and flags, creation and modification times, the time scale, the duration.
    if (at == bytes.end() || at + 24 > bytes.end() || *(at + 4) != 0) {
        if (error) *error = from + " has no version 0 movie header";
        return false;
    }
    const auto scale = at + 16;
    if (scale[0] != 0 || scale[1] != 0 || scale[2] != 0x03 || scale[3] != 0xE8) {
        if (error) *error = from + " does not count in thousandths";
        return false;
    }
    for (int i = 0; i < 4; ++i) at[20 + i] = static_cast<std::uint8_t>(milliseconds >> (8 * (3 - i)));
    return DemoPictures::writeFile(to, bytes, error);
}

std::uint32_t big32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

// Moves back by `shift` every chunk offset in the boxes from `from` to `end` (the movie's tree).
bool shiftChunkOffsets(std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t end, std::uint32_t shift) {
    for (std::size_t at = from; at + 8 <= end;) {
        const std::size_t size = big32(bytes, at);
        if (size < 8 || at + size > end) return false;
        const std::string type(bytes.begin() + static_cast<std::ptrdiff_t>(at + 4),
                               bytes.begin() + static_cast<std::ptrdiff_t>(at + 8));
        if (type == "trak" || type == "mdia" || type == "minf" || type == "stbl") {
            if (!shiftChunkOffsets(bytes, at + 8, at + size, shift)) return false;
        } else if (type == "co64") {
            return false;
        } else if (type == "stco") {
            const std::uint32_t count = big32(bytes, at + 12);
            if (16 + std::size_t{count} * 4 > size) return false;
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::size_t entry = at + 16 + std::size_t{i} * 4;
                const std::uint32_t offset = big32(bytes, entry) - shift;
                for (int b = 0; b < 4; ++b) bytes[entry + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(offset >> (8 * (3 - b)));
            }
        }
        at += size;
    }
    return true;
}

// The file at `from` again at `to`, its movie box moved from before the audio to the file's end.
bool writeIndexLast(const std::string& from, const std::string& to, std::string* error) {
    std::ifstream in(from, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::uint8_t> others, movie;
    bool beforeAudio = false;
    for (std::size_t at = 0; at + 8 <= bytes.size();) {
        const std::size_t size = big32(bytes, at);
        if (size < 8 || at + size > bytes.size()) break;
        const std::string type(bytes.begin() + static_cast<std::ptrdiff_t>(at + 4),
                               bytes.begin() + static_cast<std::ptrdiff_t>(at + 8));
        auto& into = type == "moov" ? movie : others;
        if (type == "mdat") beforeAudio = beforeAudio || !movie.empty();
        into.insert(into.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
    }
    if (!beforeAudio || others.size() + movie.size() != bytes.size() ||
        !shiftChunkOffsets(movie, 8, movie.size(), static_cast<std::uint32_t>(movie.size()))) {
        if (error) *error = from + " has no movie box before its audio whose chunk offsets can be moved";
        return false;
    }
    others.insert(others.end(), movie.begin(), movie.end());
    return DemoPictures::writeFile(to, others, error);
}

struct Files {
    std::string folder, phrases, steady, longPhrases, longIndexLast, longWave, huge, notAudio;
};

// Encoded once per test run: each test is a process of its own under ctest.
const Files& files() {
    static const Files made = [] {
        Files f;
        std::string error;
        f.folder = DemoBundle::sharedFolder(
            "media-server",
            [](const std::string& folder, std::string* error) {
                const std::string media = folder + "/data/ostrelmedia/m4a/";
                const std::string text = "This is a list of songs, not a song.\n";
                return DemoAudio::writeM4A(media + "phrases.m4a", {3.0, 7, 44100, 2, 0}, error) &&
                       DemoAudio::writeM4A(media + "steady tone.m4a", {3.0, 1, 44100, 2, 0.5f}, error) &&
                       DemoAudio::writeM4A(media + "long.m4a", {20.0, 9, 44100, 2, 0}, error) &&
                       writeIndexLast(media + "long.m4a", media + "long-index-last.m4a", error) &&
                       DemoPictures::writeFile(media + "long.wav",
                                               waveFileBytes(DemoAudio::synthesise({20.0, 9, 44100, 2, 0}), 44100, 2),
                                               error) &&
                       writeDeclaringDuration(media + "phrases.m4a", media + "huge.m4a", 1'000'000'000, error) &&
                       DemoPictures::writeFile(media + "not_audio.m4a",
                                               std::vector<std::uint8_t>(text.begin(), text.end()), error);
            },
            &error);
        if (f.folder.empty()) ADD_FAILURE() << error;
        const std::string media = f.folder + "/data/ostrelmedia/m4a/";
        f.phrases = media + "phrases.m4a";
        f.steady = media + "steady tone.m4a";
        f.longPhrases = media + "long.m4a";
        f.longIndexLast = media + "long-index-last.m4a";
        f.longWave = media + "long.wav";
        f.huge = media + "huge.m4a";
        f.notAudio = media + "not_audio.m4a";
        return f;
    }();
    return made;
}

}  // namespace

const std::string& MediaTestFiles::phrases() { return files().phrases; }
const std::string& MediaTestFiles::steadyTone() { return files().steady; }
const std::string& MediaTestFiles::longPhrases() { return files().longPhrases; }
const std::string& MediaTestFiles::longIndexLast() { return files().longIndexLast; }
const std::string& MediaTestFiles::longWave() { return files().longWave; }
const std::string& MediaTestFiles::hugeDeclaredDuration() { return files().huge; }
const std::string& MediaTestFiles::notAudio() { return files().notAudio; }
const std::string& MediaTestFiles::serverFolder() { return files().folder; }

std::string MediaTestFiles::serverPath(const std::string& file) {
    return "/data/ostrelmedia/m4a/" + std::filesystem::path(file).filename().string();
}

std::unique_ptr<ContentServer> MediaTestFiles::startServer() {
    ContentServer::Options options;
    options.folder = serverFolder();
    options.fixtures = "";
    std::string error;
    auto server = ContentServer::start(options, &error);
    if (!server) ADD_FAILURE() << error;
    return server;
}
