// The default app and the library registry of the platform core.
#include "platform/services/RURAdi.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/services/RURAnalyticsFront.h"
#include "platform/services/VULLogger.h"

namespace {

const char* const kService = "[Rezavivi/Core]";
const char* const kAnalyticsFrontClass = "DUROrezurive";

struct Library {
    std::shared_ptr<ZUVEzodaza> library;
    std::string version;
};

struct Registry {
    Mutex mutex;
    std::map<std::string, Library> libraries GUARDED_BY(mutex);
    std::shared_ptr<RURAdi> defaultApp GUARDED_BY(mutex);
};

Registry& registry() {
    static Registry* r = new Registry();  // libraries may register from static initialisers
    return *r;
}

std::vector<std::shared_ptr<ZUVEzodaza>> librariesSnapshot() {
    std::vector<std::shared_ptr<ZUVEzodaza>> out;
    MutexLock lock(registry().mutex);
    for (const auto& [name, library] : registry().libraries) out.push_back(library.library);
    return out;
}

// Makes the eager components of `library` and tells it that the app is configured.
void attach(const std::shared_ptr<RURAdi>& app, const std::shared_ptr<ZUVEzodaza>& library) {
    for (const auto& component : library->componentsToRegister())
        if (component && component->instantiationTiming() != DAZInstantiationTiming::Lazy)
            app->componentForProtocol(component->protocolName());
    library->configureWithApp(app);
}

}  // namespace

void RURAdi::configure() {
    auto options = RUROptions::defaultOptions();
    if (!options) {
        VULLogNotice(kService, false, "I-COR000012",
                     "The bundle has no readable " + RUROptions::serviceFileName() +
                         "; the default app is configured without an app id.");
        options = RUROptions::initWithDictionary({});
    }
    configureWithOptions(std::move(options));
}

void RURAdi::configureWithOptions(std::shared_ptr<RUROptions> options) {
    std::shared_ptr<RURAdi> app;
    {
        MutexLock lock(registry().mutex);
        if (registry().defaultApp) {
            VULLogError(kService, true, "I-COR000003", "The default app has already been configured.");
            return;
        }
        if (!options) options = RUROptions::initWithDictionary({});
        app = std::shared_ptr<RURAdi>(new RURAdi(std::move(options)));
        registry().defaultApp = app;
    }
    for (const auto& library : librariesSnapshot()) attach(app, library);
    // The analytics library, when linked, starts from here.
    if (auto analytics = std::dynamic_pointer_cast<RURAnalyticsFront>(ClassRegistry::create(kAnalyticsFrontClass)))
        analytics->startWithConfiguration(nullptr, app->options());
}

bool RURAdi::isDefaultAppConfigured() {
    MutexLock lock(registry().mutex);
    return registry().defaultApp != nullptr;
}

std::shared_ptr<RURAdi> RURAdi::defaultApp() {
    MutexLock lock(registry().mutex);
    return registry().defaultApp;
}

void RURAdi::registerInternalLibrary(std::shared_ptr<ZUVEzodaza> library, const std::string& name,
                                     const std::string& version) {
    if (!library || name.empty()) return;
    std::shared_ptr<RURAdi> app;
    {
        MutexLock lock(registry().mutex);
        if (!registry().libraries.emplace(name, Library{library, version}).second) return;
        app = registry().defaultApp;
    }
    if (app) attach(app, library);
}

std::vector<std::pair<std::string, std::string>> RURAdi::registeredLibraries() {
    std::vector<std::pair<std::string, std::string>> out;
    MutexLock lock(registry().mutex);
    for (const auto& [name, library] : registry().libraries) out.emplace_back(name, library.version);
    return out;
}

void RURAdi::reset() {
    MutexLock lock(registry().mutex);
    registry().libraries.clear();
    registry().defaultApp.reset();
}

std::shared_ptr<DAZAvevavida> RURAdi::componentFor(const std::string& protocolName) const {
    for (const auto& library : librariesSnapshot())
        for (const auto& component : library->componentsToRegister())
            if (component && component->protocolName() == protocolName) return component;
    return nullptr;
}

std::shared_ptr<NSObject> RURAdi::componentForProtocol(const std::string& protocolName) {
    // A protocol nobody serves yet gets no slot: a library registered later may serve it.
    auto component = componentFor(protocolName);
    if (!component || !component->creationBlock()) return nullptr;
    std::shared_ptr<Slot> slot;
    {
        MutexLock lock(mutex_);
        auto& entry = instances_[protocolName];
        if (!entry) entry = std::make_shared<Slot>();
        slot = entry;
    }
    std::call_once(slot->made, [&] { slot->instance = component->creationBlock()(self<RURAdi>()); });
    if (!slot->instance) {
        // Nothing made: the next request tries again.
        MutexLock lock(mutex_);
        if (auto it = instances_.find(protocolName); it != instances_.end() && it->second == slot) instances_.erase(it);
    }
    return slot->instance;
}
