// What the picture screens and their table layouts are handed: the run's configuration,
// localisations and file locations, and its picture service.
#pragma once

#include "config/OEContext.h"
#include "gallery/ResourceLoader.h"

#include <memory>

struct GalleryContext {
    OEContext app;
    std::shared_ptr<ResourceLoader> resources;

    const OELocalizations& localizations() const { return *app.localizations; }
};
