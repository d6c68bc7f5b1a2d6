// Access to the photo album and saving into it.
#include "gallery/PhotoAlbumSaver.h"

#include "config/AppInfo.h"
#include "gallery/ImageLoader.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSString.h"
#include "platform/net/NSURL.h"
#include "platform/photos/PHAssetChangeRequest.h"
#include "platform/photos/PHPhotoLibrary.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIImage.h"
#include "uikit/ActivityView.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIAlertControllerFactory.h"

std::shared_ptr<UIAlertController> PhotoAlbumSaver::deniedAccessAlert() {
    return UIAlertControllerFactory::errorAlertWithMessage(
        NSString::format(OECoreString(kDeniedAccessKey), AppInfo::displayName()));
}

void PhotoAlbumSaver::authorize(std::function<void(bool granted)> block) {
    if (PHPhotoLibrary::authorizationStatus() == PHAuthorizationStatus::Authorized) {
        if (block) block(true);
        return;
    }
    PHPhotoLibrary::requestAuthorization([block = std::move(block)](PHAuthorizationStatus status) {
        if (block) block(status == PHAuthorizationStatus::Authorized);
    });
}

void PhotoAlbumSaver::saveImage(const std::shared_ptr<UIImage>& image, const std::shared_ptr<UIViewController>& controller,
                                const std::shared_ptr<OEIdleTimerManager>& idle, Completion completion) {
    save([image] { (void)PHAssetChangeRequest::creationRequestForAssetFromImage(image); }, controller, idle,
         std::move(completion));
}

void PhotoAlbumSaver::saveImageFrom(const std::string& path, const std::shared_ptr<UIViewController>& controller,
                                    const std::shared_ptr<OEIdleTimerManager>& idle, Completion completion) {
    // The album keeps the file's own bytes, so its whole body must decode; found out off the main
    // thread.
    std::weak_ptr<UIViewController> weakController = controller;
    DispatchQueue::globalQueue()->async([path, weakController, idle, completion = std::move(completion)]() mutable {
        auto url = NSURL::fileURLWithPath(path);
        const bool decodes = url && ImageLoader::pictureFileDecodes(path);
        DispatchQueue::mainQueue()->async([path, url = std::move(url), decodes, weakController, idle,
                                           completion = std::move(completion)]() mutable {
            if (!decodes) {
                // The alert tells the person; where the file lay is for the log alone.
                Diagnostics::notef("%s is no picture: nothing was saved to the photo album.", path.c_str());
                if (completion) completion(Result::Failed);
                return;
            }
            save([url] { (void)PHAssetChangeRequest::creationRequestForAssetFromImageAtFileURL(url); },
                 weakController.lock(), idle, std::move(completion));
        });
    });
}

void PhotoAlbumSaver::save(std::function<void()> creation, const std::shared_ptr<UIViewController>& controller,
                           const std::shared_ptr<OEIdleTimerManager>& idle, Completion completion) {
    std::weak_ptr<UIViewController> weakController = controller;
    authorize([creation = std::move(creation), weakController, idle, completion = std::move(completion)](bool granted) mutable {
        DispatchQueue::mainQueue()->async([creation = std::move(creation), weakController, idle, granted,
                                           completion = std::move(completion)] {
            if (!granted) {
                if (auto owner = weakController.lock()) owner->presentViewController(deniedAccessAlert(), true, nullptr);
                if (completion) completion(Result::Denied);
                return;
            }
            // The hold belongs to this save alone, so another holder's release cannot end it.
            auto token = std::make_shared<NSObject>();
            if (idle) idle->setIdleTimerDisabled(true, token);
            ActivityView::sharedActivityView()->showActivityIndicatorWithMessage(OECoreString("SavingToPhotoalbum"));
            PHPhotoLibrary::sharedPhotoLibrary()->performChanges(
                creation, [token, idle, completion](bool success, const NSErrorPtr& error) {
                    if (!success)
                        Diagnostics::notef("The picture could not be saved to the photo album: %s",
                                           error ? error->localizedDescription().c_str() : "no reason given");
                    DispatchQueue::mainQueue()->async([token, idle, completion, success] {
                        ActivityView::sharedActivityView()->hideActivityIndicator();
                        if (idle) idle->setIdleTimerDisabled(false, token);
                        if (completion) completion(success ? Result::Saved : Result::Failed);
                    });
                });
        });
    });
}
