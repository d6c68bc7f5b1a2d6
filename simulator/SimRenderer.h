// Pictures of the screen: the visible windows' view trees drawn with cairo into a PNG or JPEG,
// one pixel per point (backgrounds, borders, rounded corners, images by content mode, text,
// what views draw themselves (bar buttons, text views, table accessories, buttons' backgrounds
// and information signs, spinners), and the controls not yet drawing themselves: segments,
// sliders, switches, search bars and fields' boxes).
#pragma once

#include "platform/ui/CGGeometry.h"

#include <memory>
#include <string>
#include <vector>

class NSObject;

// One control or text the picture shows, where it shows it (screen points).
struct SimDrawnElement {
    // "bar button" (an alert's), "segment", "slider", "switch", "search bar", "text", "field"
    // (its text or placeholder), "drawing" (what a view drew itself), or "line" (a line of text,
    // where its glyphs went).
    std::string kind;
    CGRect frame;
    std::string text;  // its caption, if it has one
};

class SimRenderer {
public:
    // Writes the picture in the format its name asks for (.png, or .jpg / .jpeg); false (with
    // `error` set) for any other name or when the file cannot be written. `drawn`, when given,
    // receives what the picture shows. Of the alerts up, the picture shows one over the dimmed
    // screen: `listedInFront` (the one the text screen last listed in front) while it is up,
    // else the one in front now.
    static bool write(const std::string& path, std::string& error, std::vector<SimDrawnElement>* drawn = nullptr,
                      const std::shared_ptr<NSObject>& listedInFront = nullptr);
    // A PNG whatever the name.
    static bool writePNG(const std::string& path, std::string& error, std::vector<SimDrawnElement>* drawn = nullptr,
                         const std::shared_ptr<NSObject>& listedInFront = nullptr);
    // Frees the font and drawing caches the libraries keep for the whole process; called once
    // at exit, so leak checkers see only our own allocations.
    static void releaseCaches();
};
