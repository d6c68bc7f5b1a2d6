// What the music screens are handed by the engine: the library's services, the one player
// controller, the download queue, and the engine's forwarding of a media-data replacement to
// the player screen.
#pragma once

#include "media/MediaContext.h"

#include <functional>
#include <memory>
#include <string>

class FileDownloader;
class MediaPlayerController;
class NSNotification;
class UIColor;

// Posted with a CompositionsSource as object when the media data were replaced. A post with any
// other object (the picture favourites' announcement) is no change of the music.
inline const std::string kMediaDataUpdated = "MessageDataUpdated";

struct MusicContext {
    std::shared_ptr<const MediaContext> media;
    std::shared_ptr<MediaPlayerController> player;
    // Empty: tracks cannot be downloaded (their rows offer no download).
    std::shared_ptr<FileDownloader> downloads;
    // The list of the queue's downloads, pushed from the catalogue's download badge; empty: the
    // badge is not offered.
    std::function<std::shared_ptr<class UIViewController>(const std::shared_ptr<class CompositionsSource>&)>
        makeDownloadsScreen;
    // The engine's forwarding of the update phases to its player screen (nothing when empty).
    std::function<void()> beforeUpdate;
    std::function<void()> afterUpdate;

    // The configured background of every music screen.
    std::shared_ptr<UIColor> backgroundColor() const;
    // Whether a "MessageDataUpdated" announces new media data.
    static bool isMediaDataUpdate(const NSNotification& notification);
};
