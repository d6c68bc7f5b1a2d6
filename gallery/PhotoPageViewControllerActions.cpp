// The pager's actions: likes and favourites, the high-resolution picture, the slideshow, the
// menu, the author's information and the external screen's mirror.
#include "gallery/PhotoPageViewController.h"

#include "config/OEConfig.h"
#include "gallery/ImageInfo.h"
#include "gallery/ImageLoader.h"
#include "gallery/ImageMenu.h"
#include "gallery/ImageViewController.h"
#include "content/PictureURL.h"
#include "gallery/SecondWindowController.h"
#include "gallery/UIInfoView.h"
#include "gallery/UILikesButton.h"
#include "gallery/UIOneFileDownloader.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSTimer.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <cmath>

const Value::Dictionary& PhotoPageViewController::currentRow() const {
    return (*imagesData_)[static_cast<std::size_t>(currentImageIndex())];
}

bool PhotoPageViewController::mayAddToFavorites() const { return dataSource_ && dataSource_->mayAddToFavorites(); }

// --- Likes and favourites ---------------------------------------------------------------------

void PhotoPageViewController::requestLikes(const Value::Dictionary& row) {
    if (!row.contains("index") || !context_.likes) return;
    const std::string index = row.get("index").stringValue();
    // The answer comes on the network's queue; the count is kept and shown on the main queue.
    std::weak_ptr<PhotoPageViewController> weak = self<PhotoPageViewController>();
    const std::uint64_t changes = likesChanges_[index];
    context_.likes->getLikesForIdentifier(row.get("index").integerValue(), [weak, index, changes](long count,
                                                                                               const NSErrorPtr& error) {
        if (error) return;
        DispatchQueue::mainQueue()->async([weak, index, changes, count] {
            auto me = weak.lock();
            // A like or unlike made since the question was asked is newer than this answer.
            if (!me || me->likesChanges_[index] != changes) return;
            me->likesCount_[index] = count;
            me->checkFavoriteButton();
        });
    });
}

void PhotoPageViewController::checkFavoriteButton() {
    if (imagesData_->empty() || !mayAddToFavorites() || !likesButton_) return;
    const auto& row = currentRow();
    likesButton_->setLiked(dataSource_->inFavorites(row));
    const auto known = likesCount_.find(row.get("index").stringValue());
    likesButton_->setLikesCount(known == likesCount_.end() ? 0 : known->second);
    if (favoritesButton_) favoritesButton_->setWidth(likesButton_->frame().size.width);
}

void PhotoPageViewController::favoriteClick() {
    if (!mayAddToFavorites()) return;
    const auto row = currentRow();
    const std::string index = row.get("index").stringValue();
    const Value::Array identifiers{Value(index)};
    std::int64_t delta = 0;
    NSErrorPtr error;
    if (dataSource_->inFavorites(row)) {
        if (!dataSource_->deleteFromFavorites(row, &error)) {
            Diagnostics::notef("The picture %s could not be taken out of the favourites: %s", index.c_str(),
                               error ? error->localizedDescription().c_str() : "");
            return;
        }
        if (context_.likes) context_.likes->deleteLikesForIdentifiers(identifiers, nullptr);
        delta = -1;
    } else {
        if (!dataSource_->addToFavorites(row, &error)) {
            Diagnostics::notef("The picture %s could not be added to the favourites: %s", index.c_str(),
                               error ? error->localizedDescription().c_str() : "");
            return;
        }
        if (context_.likes) context_.likes->postLikesForIdentifiers(identifiers, nullptr);
        delta = 1;
    }
    // The server's count replaces this one at the next page change; answers asked for before
    // this change do not.
    ++likesChanges_[index];
    const auto known = likesCount_.find(index);
    likesCount_[index] = std::max<std::int64_t>((known == likesCount_.end() ? 0 : known->second) + delta, 0);
    checkFavoriteButton();
}

// --- The high-resolution picture --------------------------------------------------------------

void PhotoPageViewController::updateHDButton() {
    if (!hdImageBarButton_) return;
    auto page = currentImageViewController();
    if (!page) return;
    auto device = UIDevice::currentDevice();
    const bool phone = !device->canReportUserInterfaceIdiom() || device->userInterfaceIdiom() == UIUserInterfaceIdiom::Phone;
    const long has = page->imageData().get(phone ? "has_hd_iphone" : "has_hd_ipad").integerValue();
    if (auto button = hdImageBarButton_->customView()) button->setHidden(has < 1);
    setHdButtonImage(page->image() ? page->hdImage() : false);
}

void PhotoPageViewController::setHdButtonImage(bool hd) {
    auto button = std::dynamic_pointer_cast<UIButton>(hdImageBarButton_ ? hdImageBarButton_->customView() : nullptr);
    if (!button) return;
    auto image = UIImage::imageNamed(hd ? "button_hd_up" : "button_hd");
    button->setImage(image, UIControlStateNormal);
    button->setImage(image, UIControlStateHighlighted);
    // Lit while the HD picture shows.
    setAccessibilityToggle(*button, hd);
}

void PhotoPageViewController::toggleHdClick() {
    auto page = currentImageViewController();
    if (!page) return;
    if (page->hdImage()) {
        updateImageQuality(false);
        return;
    }
    const auto row = page->imageData();
    if (ImageLoader::hdImageExists(row, context_)) {
        updateImageQuality(true);
        return;
    }
    const auto& config = context_.app.config;
    const auto url = pictureURLWithFormat(config && config->urlFormat() ? config->urlFormat()->download() : std::string(),
                                          row.get("imagePath").stringValue());
    if (!url) return;
    std::weak_ptr<PhotoPageViewController> weak = self<PhotoPageViewController>();
    auto fileSystem = context_.app.fileSystem;
    const std::string relative = ImageLoader::hdImagePath(row);
    UIOneFileDownloader::make(context_, context_.idle)->downloadFile(*url, [weak, fileSystem, relative](const std::string& path) {
        if (path.empty()) return;
        auto files = NSFileManager::defaultManager();
        const auto destination = fileSystem ? fileSystem->safeDocumentsPathForFile(relative, true) : std::nullopt;
        NSErrorPtr error;
        if (!destination) {
            Diagnostics::notef("There is no place for the high-resolution picture %s.", relative.c_str());
        } else if ((files->fileExistsAtPath(*destination) && !files->removeItemAtPath(*destination, &error)) ||
                   !files->moveItemAtPath(path, *destination, &error)) {
            // The old file may be gone even so.
            fileSystem->writableFileChanged(relative);
            Diagnostics::notef("The high-resolution picture could not be put at %s: %s", destination->c_str(),
                               error ? error->localizedDescription().c_str() : "");
        } else {
            fileSystem->writableFileChanged(relative);
            if (!FileSystem::setNoBackupAttribute(*destination))
                Diagnostics::notef("The high-resolution picture %s could not be kept out of backups.",
                                   destination->c_str());
            if (auto me = weak.lock()) me->updateImageQuality(true);
            return;
        }
        // Whatever was downloaded and not put in place goes.
        if (files->fileExistsAtPath(path) && !files->removeItemAtPath(path))
            Diagnostics::notef("%s stays behind.", path.c_str());
    });
}

void PhotoPageViewController::updateImageQuality(bool hd) {
    auto page = currentImageViewController();
    if (!page) return;
    page->setHdImage(hd);
    if (hd && !controllsHidden_) setControlsHidden(true, true);
}

// --- The slideshow ----------------------------------------------------------------------------

void PhotoPageViewController::slideShowClick() {
    slideShowEnabled_ = !slideShowEnabled_;
    auto page = currentImageViewController();
    if (slideShowEnabled_) {
        setControlsHidden(true, true);
        if (page && page->image()) startSlideShowTimer();
        // The screen stays on while the pictures change by themselves.
        slideshowHold_ = std::make_shared<NSObject>();
        if (context_.idle) context_.idle->setIdleTimerDisabled(true, slideshowHold_);
    } else {
        setControlsHidden(false, true);
        stopSlideshowTimer();
        stopSlideshowHold();
    }
    if (page) page->setScrollEnabled(!slideShowEnabled_);
}

void PhotoPageViewController::stopSlideshowHold() {
    if (slideshowHold_ && context_.idle) context_.idle->setIdleTimerDisabled(false, slideshowHold_);
    slideshowHold_.reset();
}

void PhotoPageViewController::startSlideShowTimer() {
    if (count() < 2) return;
    if (slideShowTimer_) slideShowTimer_->invalidate();
    std::weak_ptr<PhotoPageViewController> weak = self<PhotoPageViewController>();
    slideShowTimer_ = NSTimer::scheduledTimerWithTimeInterval(static_cast<double>(slideShowDeleay_), false,
                                                              [weak](const std::shared_ptr<NSTimer>&) {
                                                                  if (auto me = weak.lock()) me->slideshowTimerFired();
                                                              });
}

void PhotoPageViewController::stopSlideshowTimer() {
    if (slideShowTimer_ && slideShowTimer_->isValid()) slideShowTimer_->invalidate();
    slideShowTimer_.reset();
}

void PhotoPageViewController::slideshowTimerFired() {
    stopSlideshowTimer();
    auto page = currentImageViewController();
    if (!page) return;
    const std::int64_t next = page->index() + 1 < count() ? page->index() + 1 : 0;
    std::weak_ptr<PhotoPageViewController> weak = self<PhotoPageViewController>();
    std::weak_ptr<ImageViewController> weakPage = page;
    UIView::animateWithDuration(
        kSlideFadeDuration,
        [weakPage] {
            if (auto fading = weakPage.lock()) fading->view()->setAlpha(0);
        },
        [weak, next](bool) {
            if (auto me = weak.lock()) me->setViewControllerForIndex(next);
        });
}

// --- Notifications from the pages -------------------------------------------------------------

void PhotoPageViewController::imageWillShowNotification(const NSNotification& notification) {
    auto sender = std::dynamic_pointer_cast<ImageViewController>(notification.object());
    auto page = currentImageViewController();
    if (sender && page && sender->index() == page->index()) updateHDButton();
}

void PhotoPageViewController::imageDidShowNotification(const NSNotification& notification) {
    auto sender = std::dynamic_pointer_cast<ImageViewController>(notification.object());
    auto page = currentImageViewController();
    if (!sender || !page || sender->index() != page->index()) return;
    updateExternal(sender);
    if (slideShowEnabled_) startSlideShowTimer();
}

// --- Menu, information, external screen -------------------------------------------------------

void PhotoPageViewController::clickMenu() {
    auto page = currentImageViewController();
    if (!page) return;
    auto menu = ImageMenu::imageMenuForImageData(page->imageData(), context_);
    menu->setOwnerViewController(self<PhotoPageViewController>());
    menu->setUseHd(page->hdImage());
    menu->show();
}

void PhotoPageViewController::infoClick() {
    auto nav = navigationController();
    if (!nav) return;
    const ImageInfo info(context_.localizations(), currentRow());
    UIInfoView::presentInfo(nav, context_, info.author(), info.authorDescription());
}

void PhotoPageViewController::updateExternal(const std::shared_ptr<ImageViewController>& page) {
    if (!secondWindow_ || !page) return;
    auto picture = page->image();
    if (!picture) return;
    // The tag is the index + 1, so that 0 means no picture.
    const int tag = static_cast<int>(page->index()) + 1;
    auto current = secondWindow_->currentView();
    if (current && current->tag() == tag) return;
    // The page's picture is the one held whole; a larger one than the external screen shows is
    // read again at that size for it, so that the page can let its picture go.
    const auto window = secondWindow_->secondWindow();
    const auto screen = window ? window->screen() : nullptr;
    if (screen) {
        const CGSize size = screen->bounds().size;
        const int shown = static_cast<int>(std::ceil(std::max(size.width, size.height) * std::max<CGFloat>(1, screen->scale())));
        if (std::max(picture->pixelWidth(), picture->pixelHeight()) > shown && !picture->name().empty())
            if (auto reduced = UIImage::reducedImageWithContentsOfFile(picture->name(), shown)) picture = reduced;
    }
    auto mirror = UIImageView::initWithImage(picture);
    mirror->setTag(tag);
    mirror->setContentMode(UIViewContentModeScaleAspectFit);
    secondWindow_->displayView(mirror);
}
