// What the layers below the engine are handed instead of reaching for process-wide holders:
// the configuration, the localisation of content fields and the file locations of one run.
// The engine makes it once at start-up; tests make their own.
#pragma once

#include "config/FileSystem.h"
#include "config/OEConfig.h"
#include "config/OELocalizations.h"

#include <memory>

struct OEContext {
    std::shared_ptr<OEConfig> config;
    std::shared_ptr<OELocalizations> localizations;
    std::shared_ptr<FileSystem> fileSystem;

    // The localisations over the configuration's locale part and its name field key, and the
    // process's file locator.
    static OEContext withConfig(std::shared_ptr<OEConfig> config);
};
