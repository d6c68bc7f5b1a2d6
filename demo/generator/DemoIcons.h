// The interface images the application asks the bundle for by name (bar buttons, main-menu
// rows, slider parts, button background), drawn as anti-aliased shapes with transparency.
#pragma once

#include "demo/generator/DemoPictures.h"

#include <string>
#include <utility>
#include <vector>

class DemoIcons {
public:
    // Every name as the application asks for it ("menu", "br280x50.png", ...).
    static const std::vector<std::string>& names();
    // The size in points (width, height); {0, 0} for a name that is not an icon.
    static std::pair<int, int> pointSize(const std::string& name);
    // The icon at `scale` pixels per point; an empty image for an unknown name or a scale below 1.
    static DemoPictures::ImageRGBA draw(const std::string& name, int scale);
    // Every icon as "<stem>.png" and "<stem>@2x.png" in `folder`, where the named-image lookup
    // finds them; false with a sentence in `error` when a file could not be written.
    static bool writeIcons(const std::string& folder, std::string* error);
};
