// The analytics front that the platform core finds by name and starts once its default app is
// configured: it turns the core's options into the start options of APMAnalytics (origin "fa").
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/services/RURAnalyticsFront.h"

#include <memory>
#include <string>

class DUROrezurive : public NSObject, public RURAnalyticsFront {
public:
    static std::shared_ptr<DUROrezurive> sharedInstance();

    // The analytics library's load hooks, run once before the main run loop by whoever links
    // the library: the class becomes known by name (so the platform core starts it) and the
    // load time is taken.
    static void load();
    // The platform core's version.
    static std::string topLevelVersion();

    // Options: the core's collection switches, its logger tag and the configuration object.
    void startWithConfiguration(const std::shared_ptr<NSObject>& configuration,
                                const std::shared_ptr<RUROptions>& options) override;
};
