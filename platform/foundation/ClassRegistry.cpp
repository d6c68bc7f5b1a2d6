// The name-to-factory table behind ClassRegistry.
#include "platform/foundation/ClassRegistry.h"

#include "platform/foundation/ThreadAnnotations.h"

#include <map>

namespace {

Mutex registryMutex;

std::map<std::string, ClassRegistry::Factory>& registry() REQUIRES(registryMutex) {
    static auto* classes = new std::map<std::string, ClassRegistry::Factory>;  // never destroyed
    return *classes;
}

}  // namespace

void ClassRegistry::registerClass(const std::string& name, Factory factory) {
    if (!factory) return;
    MutexLock lock(registryMutex);
    registry()[name] = std::move(factory);
}

void ClassRegistry::unregisterClass(const std::string& name) {
    MutexLock lock(registryMutex);
    registry().erase(name);
}

bool ClassRegistry::isRegistered(const std::string& name) {
    MutexLock lock(registryMutex);
    return registry().count(name) != 0;
}

ClassRegistry::Factory ClassRegistry::lookup(const std::string& name) {
    MutexLock lock(registryMutex);
    const auto found = registry().find(name);
    return found == registry().end() ? Factory{} : found->second;
}

std::shared_ptr<NSObject> ClassRegistry::create(const std::string& name) {
    // Called outside the lock: a factory may itself look classes up.
    const Factory factory = lookup(name);
    return factory ? factory() : nullptr;
}

std::vector<std::string> ClassRegistry::registeredNames() {
    MutexLock lock(registryMutex);
    std::vector<std::string> names;
    for (const auto& entry : registry()) names.push_back(entry.first);
    return names;
}
