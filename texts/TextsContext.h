// What the text, article and famous-post screens are handed: the picture screens' context (for
// the pager and the thumbnails), the texts database model, and how to show a screen modally over
// the top-most one (full screen when asked), which the engine provides.
#pragma once

#include "gallery/GalleryContext.h"
#include "texts/TextServer.h"

#include <functional>
#include <memory>

class UIViewController;

struct TextsContext {
    using ShowController = std::function<void(const std::shared_ptr<UIViewController>& controller, bool fullscreen)>;

    GalleryContext gallery;
    // Empty where no texts database is configured.
    std::shared_ptr<TextServer> textServer;
    ShowController showController;

    const OEContext& app() const { return gallery.app; }
};
