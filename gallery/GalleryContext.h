// What the picture screens and their table layouts are handed: the run's configuration,
// localisations and file locations, its picture service, its likes client, the count of present
// pictures and the keeper of the screen lock.
#pragma once

#include "config/OEContext.h"
#include "content/OELikesManager.h"
#include "gallery/DownloadsCounter.h"
#include "gallery/ResourceLoader.h"
#include "uikit/OEIdleTimerManager.h"

#include <memory>

class OEIdleTimerManager;

struct GalleryContext {
    OEContext app;
    std::shared_ptr<ResourceLoader> resources;
    // Empty before start-up: the most liked pictures then cannot be asked for.
    std::shared_ptr<OELikesManager> likes;
    // Told of every picture a screen fetched; empty when nothing counts them.
    std::shared_ptr<DownloadsCounter> downloads;
    // Takes and releases holds on the screen lock; empty before start-up (nothing is held then).
    std::shared_ptr<OEIdleTimerManager> idle;

    const OELocalizations& localizations() const { return *app.localizations; }
};
