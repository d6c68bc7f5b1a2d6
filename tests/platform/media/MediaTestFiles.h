// Compositions for the player's tests, encoded once per process into a shared folder, and a
// content server serving them under "/data/ostrelmedia/m4a/".
#pragma once

#include "demo/server/ContentServer.h"

#include <memory>
#include <string>

class MediaTestFiles {
public:
    // 3 s of phrases, 44.1 kHz stereo.
    static const std::string& phrases();
    // 3 s of a steady tone at half scale (gain measurements).
    static const std::string& steadyTone();
    // 20 s of phrases, so a throttled stream loads well behind playback.
    static const std::string& longPhrases();
    // The same 20 s with the index after the audio (as muxers write it unless told otherwise).
    static const std::string& longIndexLast();
    // The same length as 16-bit PCM in a wave file (3.5 MB): a container without an index.
    static const std::string& longWave();
    // The 3 s of phrases in a file whose header says it lasts a million seconds.
    static const std::string& hugeDeclaredDuration();
    // A JPEG-less text file named like a composition.
    static const std::string& notAudio();
    // The folder the files above are in, laid out as the content server serves them.
    static const std::string& serverFolder();
    // The server path of one of the files above: "/data/ostrelmedia/m4a/<name>".
    static std::string serverPath(const std::string& file);

    static std::unique_ptr<ContentServer> startServer();
};
