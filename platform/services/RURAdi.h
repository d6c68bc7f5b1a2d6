// The analytics platform core: configures the default app from the service property list and
// keeps the registry of libraries and their components, which the measurement side joins.
#pragma once

#include "platform/foundation/ThreadAnnotations.h"
#include "platform/services/DAZAvevavida.h"
#include "platform/services/RUROptions.h"
#include "platform/services/ZUVEzodaza.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The core's version and the logger tag it hands to the analytics side.
inline const std::string RURRezaviviVersion = "9.0.0";
inline const std::string kZUDEvazodAnalytics = "[Rezavivi/Analytics]";

class RURAdi : public NSObject {
public:
    // Configures the default app once with the default options (the service property list
    // when the bundle has one), makes the eager components, tells every registered library
    // and starts the analytics front when a class "DUROrezurive" is registered
    // (RURAnalyticsFront). A second call is refused with a logged line.
    static void configure();
    static void configureWithOptions(std::shared_ptr<RUROptions> options);
    static bool isDefaultAppConfigured();
    // Empty until configured.
    static std::shared_ptr<RURAdi> defaultApp();

    // Libraries register before or after configuration; one registered late is told at once.
    // A second registration under the same name is ignored.
    static void registerInternalLibrary(std::shared_ptr<ZUVEzodaza> library, const std::string& name,
                                        const std::string& version);
    // Name and version of each registered library, by name.
    static std::vector<std::pair<std::string, std::string>> registeredLibraries();

    // Forgets the default app and the libraries, as a new process starts (tests).
    static void reset();

    const std::string& name() const { return name_; }  // "__RUR_DEFAULT"
    const std::shared_ptr<RUROptions>& options() const { return options_; }

    // The instance serving `protocolName`: made on the first request unless made eagerly;
    // empty when no registered component serves it.
    std::shared_ptr<NSObject> componentForProtocol(const std::string& protocolName);

private:
    RURAdi(std::shared_ptr<RUROptions> options) : name_("__RUR_DEFAULT"), options_(std::move(options)) {}
    std::shared_ptr<DAZAvevavida> componentFor(const std::string& protocolName) const;

    const std::string name_;
    const std::shared_ptr<RUROptions> options_;
    // One per protocol asked for: the instance is made once even when several threads ask at
    // the same time, and a creation closure may ask for its dependencies meanwhile.
    struct Slot {
        std::once_flag made;
        std::shared_ptr<NSObject> instance;
    };
    // Components are asked for from any thread; the lock covers the table only, never a
    // creation closure.
    Mutex mutex_;
    std::map<std::string, std::shared_ptr<Slot>> instances_ GUARDED_BY(mutex_);
};
