// Compositions for the player's tests.
#include "tests/platform/media/MediaTestFiles.h"

#include "demo/generator/DemoAudio.h"
#include "demo/generator/DemoPictures.h"
#include "tests/fixtures/TestFolders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

namespace {

struct Files {
    std::string folder, phrases, steady, longPhrases, notAudio;
};

const Files& files() {
    static const Files made = [] {
        Files f;
        f.folder = TestFolders::shared() + "/media-server";
        const std::string media = f.folder + "/data/ostrelmedia/m4a/";
        std::string error;
        f.phrases = media + "phrases.m4a";
        f.steady = media + "steady tone.m4a";
        f.longPhrases = media + "long.m4a";
        f.notAudio = media + "not_audio.m4a";
        bool ok = DemoAudio::writeM4A(f.phrases, {3.0, 7, 44100, 2, 0}, &error) &&
                  DemoAudio::writeM4A(f.steady, {3.0, 1, 44100, 2, 0.5f}, &error) &&
                  DemoAudio::writeM4A(f.longPhrases, {20.0, 9, 44100, 2, 0}, &error);
        const std::string text = "This is a list of songs, not a song.\n";
        ok = ok && DemoPictures::writeFile(f.notAudio, std::vector<std::uint8_t>(text.begin(), text.end()), &error);
        if (!ok) ADD_FAILURE() << error;
        return f;
    }();
    return made;
}

}  // namespace

const std::string& MediaTestFiles::phrases() { return files().phrases; }
const std::string& MediaTestFiles::steadyTone() { return files().steady; }
const std::string& MediaTestFiles::longPhrases() { return files().longPhrases; }
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
