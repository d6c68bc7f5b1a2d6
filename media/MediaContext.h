// What the music library is handed by the engine instead of reaching for process-wide holders:
// the run's configuration, localisations and file locations, the keeper of the screen lock, and
// the probe that says whether a track can be streamed.
#pragma once

#include "config/OEContext.h"

#include <functional>
#include <memory>
#include <string>

class OEIdleTimerManager;

struct MediaContext {
    OEContext app;
    // Takes and releases the player's hold on the screen lock; empty: nothing is held.
    std::shared_ptr<OEIdleTimerManager> idle;
    // Whether the content server can be reached; empty: the platform's reachability of its host.
    std::function<bool()> reachable;

    const OELocalizations& localizations() const { return *app.localizations; }
    const FileSystem& files() const { return *app.fileSystem; }
    bool isNetworkReachable() const;
    // The compositions URL format's host ("http://host:port"), "" when there is none.
    std::string serverHost() const;
};
