// Short compositions for the demo content and the tests: phrases of notes synthesised from a
// seed, encoded as AAC in an MP4 container with FFmpeg's own encoder, the index first so the
// file plays while it loads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class DemoAudio {
public:
    struct Piece {
        double seconds = 4.0;
        std::uint32_t seed = 1;
        int sampleRate = 44100;
        int channels = 2;
        // Every sample at this level instead of phrases (gain measurements); 0 for phrases.
        float steadyLevel = 0;
    };

    // Interleaved float samples in [-1, 1].
    static std::vector<float> synthesise(const Piece& piece);
    // Encodes into a ".m4a" file, creating the parent folders; false with a sentence in `error`.
    static bool writeM4A(const std::string& path, const Piece& piece, std::string* error = nullptr);
    // A ".m4a" display time for a length in seconds: "m:ss".
    static std::string displayTime(double seconds);
};
