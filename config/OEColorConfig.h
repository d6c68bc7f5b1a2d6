// The colour part of the configuration: settings text, settings segments and screen background.
#pragma once

#include "platform/foundation/NSObject.h"

#include <memory>

class OEColorConfig : public NSObject {
public:
    // Components in 0...1; the interface layer turns them into its colour objects.
    struct Color {
        double red = 0;
        double green = 0;
        double blue = 0;
        double alpha = 1;
        bool operator==(const Color&) const = default;
        static Color black() { return {0, 0, 0, 1}; }
        static Color darkGray() { return {1.0 / 3, 1.0 / 3, 1.0 / 3, 1}; }
        // The platform's grouped-table background (light appearance).
        static Color groupTableViewBackground() { return {242.0 / 255, 242.0 / 255, 247.0 / 255, 1}; }
    };

    static std::shared_ptr<OEColorConfig> initWithSettingsColor(Color settingsColor, Color settingsSegmentColor,
                                                                Color backgroundColor);

    Color settingsColor() const { return settingsColor_; }
    void setSettingsColor(Color c) { settingsColor_ = c; }
    Color settingsSegmentColor() const { return settingsSegmentColor_; }
    void setSettingsSegmentColor(Color c) { settingsSegmentColor_ = c; }
    Color backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(Color c) { backgroundColor_ = c; }

private:
    Color settingsColor_;
    Color settingsSegmentColor_;
    Color backgroundColor_;
};
