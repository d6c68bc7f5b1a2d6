// A read-only view of the identity for sibling libraries: app ids, app instance id, an ad event
// id counter, the library version and the data collection origin. It reads the running
// engine's identity when there is one, else the shared identity.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class APMIdentity;

class APMIdentifiers : public NSObject {
public:
    using IdentityProvider = std::function<std::shared_ptr<APMIdentity>()>;

    static std::shared_ptr<APMIdentifiers> sharedInstance();
    // `sharedIdentity` answers when the engine has none (APMIdentity::sharedInstance by default).
    static std::shared_ptr<APMIdentifiers> make(IdentityProvider sharedIdentity = nullptr);

    // The engine installs the reader of its identity (empty while it has none).
    void setEngineIdentityProvider(IdentityProvider provider);

    // Each logs its own code when the identity has no value.
    std::optional<std::string> vizudiAppID();
    std::optional<std::string> appInstanceID();
    // The VUV app id when not empty, else the ZeViv one.
    std::optional<std::string> analyticsAppID();
    // The next value of a counter seeded once at random, as decimal text.
    std::string adEventID();
    std::string libraryVersion() const;

    std::string origin() const;
    // An empty origin logs 37004 and keeps the old one.
    void setOrigin(const std::string& origin);

private:
    // The engine's identity when it has one, and whether it came from the engine.
    std::pair<std::shared_ptr<APMIdentity>, bool> currentIdentity() const;

    IdentityProvider sharedIdentity_;
    mutable Mutex mutex_;
    IdentityProvider engineIdentity_ GUARDED_BY(mutex_);
    std::string origin_ GUARDED_BY(mutex_);
};
