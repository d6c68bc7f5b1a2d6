// What the main menu asks for its content, at construction and at every reload.
#pragma once

#include "engine/OEMenuSection.h"

#include <memory>
#include <vector>

class OEMainMenuSectionsFactory {
public:
    virtual ~OEMainMenuSectionsFactory() = default;
    // The whole menu, computed anew on every call.
    virtual std::vector<std::shared_ptr<OEMenuSection>> makeItems() = 0;
};
