// The picture menu's sheet and its three offers.
#include "gallery/ImageMenu.h"

#include "gallery/ImageInfo.h"
#include "gallery/ImageLoader.h"
#include "gallery/PhotoAlbumSaver.h"
#include "content/PictureURL.h"
#include "gallery/UIOneFileDownloader.h"
#include "gallery/UIRequestHD.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UIActivityViewController.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIPopoverPresentationController.h"
#include "platform/ui/UIToolbar.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIAlertActionDefault.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

namespace {

bool isPad() { return UIDevice::currentDevice()->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad; }

// On the pad, sheets point at the owner's first toolbar item (the menu button).
void anchorOnPad(const std::shared_ptr<UIViewController>& presented, const std::shared_ptr<UIViewController>& owner) {
    if (!isPad()) return;
    presented->setModalPresentationStyle(UIModalPresentationStyle::Popover);
    auto nav = owner->navigationController();
    if (!nav || nav->toolbar()->items().empty()) return;
    presented->popoverPresentationController()->setBarButtonItem(nav->toolbar()->items().front());
}

}  // namespace

std::shared_ptr<ImageMenu> ImageMenu::imageMenuForImageData(Value::Dictionary row, GalleryContext context) {
    return std::make_shared<ImageMenu>(std::move(row), std::move(context));
}

ImageMenu::ImageMenu(Value::Dictionary row, GalleryContext context)
    : imageData_(std::move(row)), context_(std::move(context)) {}

void ImageMenu::show() {
    auto owner = owner_.lock();
    if (!owner) return;
    const std::string resolution = imageData_.get("resolution").stringValue();
    auto sheet = UIAlertController::alertControllerWithTitle("", "", UIAlertControllerStyle::ActionSheet);
    // Each action holds the menu: it lives while its sheet is up.
    auto self = this->self<ImageMenu>();
    sheet->addAction(UIAlertAction::actionWithTitle(NSString::format(OECoreString("Download HD (%@)"), resolution),
                                                    UIAlertActionStyle::Default,
                                                    [self](const auto&) { self->downloadHdToPhotoalbum(); }));
    sheet->addAction(UIAlertAction::actionWithTitle(NSString::format(OECoreString("Get HD (%@)"), resolution),
                                                    UIAlertActionStyle::Default,
                                                    [self](const auto&) { self->requestHdImage(); }));
    sheet->addAction(UIAlertAction::actionWithTitle(OECoreString("Share"), UIAlertActionStyle::Default,
                                                    [self](const auto&) { self->share(); }));
    sheet->addAction(UIAlertActionDefault::cancel());
    anchorOnPad(sheet, owner);
    sheet_ = sheet;
    owner->presentViewController(sheet, true, nullptr);
}

void ImageMenu::downloadHdToPhotoalbum() {
    const auto& config = context_.app.config;
    const auto url = pictureURLWithFormat(config && config->urlFormat() ? config->urlFormat()->download() : std::string(),
                                          imageData_.get("imagePath").stringValue());
    if (!url) {
        completeMessage(true, OECoreString("Error saving"));
        return;
    }
    auto self = this->self<ImageMenu>();
    if (context_.idle) context_.idle->setIdleTimerDisabled(true, self);
    // The completion holds the menu until it has run.
    UIOneFileDownloader::make(context_, context_.idle)->downloadFile(*url, [self](const std::string& path) {
        if (self->context_.idle) self->context_.idle->setIdleTimerDisabled(false, self);
        if (!path.empty()) self->savetoPhotoAlbumImageAtPath(path, true);
    });
}

void ImageMenu::savetoPhotoAlbumImageAtPath(const std::string& path, bool removeOriginal) {
    // The menu is kept while its save runs, so that the outcome can be told.
    context = self<ImageMenu>();
    std::weak_ptr<ImageMenu> weak = self<ImageMenu>();
    PhotoAlbumSaver::saveImageFrom(
        path, owner_.lock(), context_.idle, [weak, path, removeOriginal](PhotoAlbumSaver::Result result) {
            if (auto me = weak.lock()) {
                // A refused access has its own alert.
                if (result != PhotoAlbumSaver::Result::Denied)
                    me->completeMessage(result != PhotoAlbumSaver::Result::Saved, OECoreString("Error saving"));
                me->context.reset();
            }
            // The downloaded file goes whatever happened: saved, failed or refused.
            NSErrorPtr error;
            if (removeOriginal && NSFileManager::defaultManager()->fileExistsAtPath(path) &&
                !NSFileManager::defaultManager()->removeItemAtPath(path, &error))
                Diagnostics::notef("The downloaded picture %s could not be removed: %s", path.c_str(),
                                   error ? error->localizedDescription().c_str() : "");
        });
}

void ImageMenu::saveImageToPhotoAlbum() {
    const auto& fileSystem = context_.app.fileSystem;
    if (!fileSystem) return;
    std::optional<std::string> path;
    if (useHd_ && ImageLoader::hdImageExists(imageData_, context_)) path = fileSystem->findFilePath(ImageLoader::hdImagePath(imageData_));
    if (!path && FileSystem::isSafeRelativePath(ImageLoader::imagePath(imageData_)))
        path = fileSystem->findFilePath(ImageLoader::imagePath(imageData_));
    if (!path) {
        completeMessage(true, OECoreString("Error saving"));
        return;
    }
    savetoPhotoAlbumImageAtPath(*path, false);
}

void ImageMenu::completeMessage(bool error, const std::string& errorText) {
    auto owner = owner_.lock();
    if (!owner) return;
    if (error) showErrorAlertWithMessage(owner, errorText);
    else showNotificationAlertWithWithTitle(owner, "", OECoreString("Complete"));
}

void ImageMenu::requestHdImage() {
    auto owner = owner_.lock();
    if (!owner) return;
    auto request = UIRequestHD::initWithImageData(imageData_, context_);
    auto nav = UINavigationController::initWithRootViewController(request);
    if (isPad()) nav->setModalPresentationStyle(UIModalPresentationStyle::FormSheet);
    owner->presentViewController(nav, true, nullptr);
}

void ImageMenu::share() {
    auto owner = owner_.lock();
    if (!owner) return;
    auto picture = ImageLoader(imageData_, context_).standartQualityImage();
    if (!picture) return;
    auto sheet = UIActivityViewController::initWithActivityItems(
        {picture, ImageInfo(context_.localizations(), imageData_).fullName()});
    anchorOnPad(sheet, owner);
    owner->presentViewController(sheet, true, nullptr);
}
