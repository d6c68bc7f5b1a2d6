// What a library registered with the platform core offers: its components, and the call it
// gets once the default app is configured (where the analytics front starts).
#pragma once

#include "platform/services/DAZAvevavida.h"

#include <memory>
#include <vector>

class RURAdi;

class ZUVEzodaza {
public:
    virtual ~ZUVEzodaza() = default;
    virtual std::vector<std::shared_ptr<DAZAvevavida>> componentsToRegister() const = 0;
    virtual void configureWithApp(const std::shared_ptr<RURAdi>& /*app*/) {}
};
