// Saving a picture to the photo album: asking for access, the overlay while it saves, a hold on
// the screen lock meanwhile, and the alert that explains a refused access.
#pragma once

#include "gallery/GalleryContext.h"

#include <functional>
#include <memory>
#include <string>

class UIAlertController;
class UIImage;
class UIViewController;

class PhotoAlbumSaver {
public:
    enum class Result { Saved, Failed, Denied };
    using Completion = std::function<void(Result result)>;

    // The error alert naming the application, with the way to allow access.
    static std::shared_ptr<UIAlertController> deniedAccessAlert();
    // YES at once when access was given before; otherwise asks and answers YES only for
    // full access. The block runs on the thread of the answer.
    static void authorize(std::function<void(bool granted)> block);
    // On the main queue once access is known: refused, `controller` presents the denied-access
    // alert; given, the picture is saved behind the overlay with the screen kept awake through
    // `idle`. The completion (if any) runs on the main queue in every outcome, after the
    // overlay is gone, so a caller can always clean up.
    static void saveImage(const std::shared_ptr<UIImage>& image, const std::shared_ptr<UIViewController>& controller,
                          const std::shared_ptr<OEIdleTimerManager>& idle, Completion completion);
    // The same for a picture file, whose own bytes the album keeps as they are. It is first decoded
    // small off the main thread: a file whose body does not decode fails without asking for access.
    static void saveImageFrom(const std::string& path, const std::shared_ptr<UIViewController>& controller,
                              const std::shared_ptr<OEIdleTimerManager>& idle, Completion completion);

    // The "Core" key of the denied-access text (two spaces after "go"), formatted with the
    // application's display name.
    static constexpr const char* kDeniedAccessKey =
        "Access to your photos gallery is denied. To allow this, go  Your Device->Settings->Privacy->Photos and switch "
        "'ON' in front of %@";

private:
    // Asks for access, then makes the change that `creation` describes, as saveImage says.
    static void save(std::function<void()> creation, const std::shared_ptr<UIViewController>& controller,
                     const std::shared_ptr<OEIdleTimerManager>& idle, Completion completion);
};
