// The music screens' handed-in services.
#include "media/MusicContext.h"

#include "media/CompositionsSource.h"
#include "platform/foundation/NSNotification.h"
#include "platform/ui/UIColor.h"

bool MusicContext::isMediaDataUpdate(const NSNotification& notification) {
    return std::dynamic_pointer_cast<CompositionsSource>(notification.object()) != nullptr;
}

std::shared_ptr<UIColor> MusicContext::backgroundColor() const {
    const auto& config = media ? media->app.config : nullptr;
    const auto c = config && config->color() ? config->color()->backgroundColor()
                                             : OEColorConfig::Color::groupTableViewBackground();
    return UIColor::colorWithRed(c.red, c.green, c.blue, c.alpha);
}
