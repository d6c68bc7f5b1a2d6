// Pictures of the screen: the visible windows' view trees drawn with cairo into a PNG,
// one pixel per point (backgrounds, borders, rounded corners, images by content mode, text).
#pragma once

#include <string>

class SimRenderer {
public:
    // False (with `error` set) when the file cannot be written.
    static bool writePNG(const std::string& path, std::string& error);
    // Frees the font and drawing caches the libraries keep for the whole process; called once
    // at exit, so leak checkers see only our own allocations.
    static void releaseCaches();
};
