// Classes looked up by name at run time (the platform's NSClassFromString): a class exists
// only once something registers it, so optional outside classes are absent by default.
#pragma once

#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class ClassRegistry {
public:
    using Factory = std::function<std::shared_ptr<NSObject>()>;

    // Registers (or replaces) the class `name`; the factory makes an instance, or returns
    // the class's shared instance for classes used through one.
    static void registerClass(const std::string& name, Factory factory);
    static void unregisterClass(const std::string& name);

    static bool isRegistered(const std::string& name);
    // The factory of `name`; an empty function when the class is absent.
    static Factory lookup(const std::string& name);
    // An instance made by the factory of `name`; empty when the class is absent.
    static std::shared_ptr<NSObject> create(const std::string& name);
    // The registered names, sorted.
    static std::vector<std::string> registeredNames();
};
