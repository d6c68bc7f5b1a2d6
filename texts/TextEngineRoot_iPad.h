// The texts browser on a pad: the always-visible master of a split view whose detail side shows
// the list of the chosen subcategory.
#pragma once

#include "texts/TextEngineRoot.h"

#include <memory>

class TextEngineRoot_iPad : public TextEngineRoot {
public:
    static std::shared_ptr<TextEngineRoot_iPad> initWithContext(TextsContext context);
    using TextEngineRoot::TextEngineRoot;

    // The browser stays visible in every orientation.
    bool splitViewControllerShouldHideViewController() const { return false; }
};
