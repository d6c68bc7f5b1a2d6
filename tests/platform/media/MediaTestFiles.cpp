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

struct Files {
    std::string folder, phrases, steady, longPhrases, longWave, huge, notAudio;
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
