// What the picture screens and their table layouts are handed: the run's configuration,
// localisations and file locations, its picture service and its likes client.
#pragma once

#include "config/OEContext.h"
#include "content/OELikesManager.h"
#include "gallery/ResourceLoader.h"

#include <memory>

struct GalleryContext {
    OEContext app;
    std::shared_ptr<ResourceLoader> resources;
    // Empty before start-up: the most liked pictures then cannot be asked for.
    std::shared_ptr<OELikesManager> likes;

    const OELocalizations& localizations() const { return *app.localizations; }
};
