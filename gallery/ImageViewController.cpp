// The picture page: reading, decoding and fading the picture in, downloading a missing one,
// the spinner, and the taps.
#include "gallery/ImageViewController.h"

#include "gallery/FullSizePictureHolder.h"
#include "gallery/ImageLoader.h"
#include "gallery/ImageScrollView.h"
#include "gallery/ResourceLoader.h"
#include "platform/dispatch/DispatchCancellation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIPanGestureRecognizer.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UITapGestureRecognizer.h"
#include "uikit/UIViewToast.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr double kFadeDuration = 0.2;

bool hasImageError(const NSErrorPtr& error, UIImageError code) {
    return error && error->domain() == UIImageErrorDomain && error->code() == code;
}

// The picture at `relative`, decoded here at its full size (unless it is kept whole already), or,
// when its header says that it does not decode whole within the bound on a decode's memory, at the
// screen's size or the largest size below it that the bound allows (the decoder's own scales): such
// a picture is sound, only too costly to decode whole (memory, not damage), and its file is neither
// replaced nor removed. The file is read once and only the size shown is decoded, apart from the
// queue when that takes long. None when it is missing, refused (why in `refusal`), does not decode,
// or is no longer wanted.
std::shared_ptr<UIImage> readPicture(const ResourceLoader& resources, const std::string& relative, int screenPixels,
                                     NSErrorPtr* refusal, const FullSizePictureHolder::Apart& apart) {
    auto image = resources.loadShownImageFrom(relative, screenPixels, refusal);
    if (image && !image->decodesApart(apart.queue, apart.cancellation)) {
        if (image->isReduced() || apart.cancellation->isCancelled()) return nullptr;
        // Whole, its one scan came out longer than its header let expect: that is remembered, and
        // the file now comes at a size that decodes; bytes that do not decode come whole again, and
        // stay missing.
        image = resources.loadShownImageFrom(relative, screenPixels, refusal);
        if (!image || !image->isReduced() || !image->decodesApart(apart.queue, apart.cancellation)) return nullptr;
    }
    if (image && image->isReduced())
        Diagnostics::notef("The picture %s is shown reduced, at %d x %d pixels.", relative.c_str(), image->pixelWidth(),
                           image->pixelHeight());
    return image;
}

// What reading a page's picture found beside it: written by the read, read where its picture is
// shown, which the queues order after it.
struct PictureRead {
    // The high-resolution picture is the one read.
    bool hd = false;
    // The standard picture's file reads as a picture over the pixel cap by its header.
    bool overPixelCap = false;
};
}  // namespace

std::shared_ptr<ImageViewController> ImageViewController::initWithImageData(Value::Dictionary row,
                                                                            GalleryContext context) {
    auto page = std::make_shared<ImageViewController>(std::move(row), std::move(context));
    NSNotificationCenter::defaultCenter()->addObserver(page, &ImageViewController::changeIndicatorStyle,
                                                       kImageViewControllerChangeLoadIndicatorStyleMessage);
    return page;
}

ImageViewController::ImageViewController(Value::Dictionary row, GalleryContext context)
    : context_(std::move(context)), imageData_(std::move(row)) {}

ImageViewController::~ImageViewController() {
    NSNotificationCenter::defaultCenter()->removeObserver(this);
    if (downloadRequest_) downloadRequest_->cancel();
    // A page that goes without leaving the screen first takes its picture with it.
    releasePicture();
}

std::shared_ptr<UIImage> ImageViewController::image() const { return scrollView_ ? scrollView_->image() : nullptr; }

void ImageViewController::changeIndicatorStyle(const NSNotification& notification) {
    setLoadActivityStyle(notification.userInfo().get("style").integerValue());
}

void ImageViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    alreadyShowed_ = false;
    const CGRect bounds = view()->bounds();
    backgroundView_ = UIView::initWithFrame(bounds);
    backgroundView_->setBackgroundColor(UIColor::clearColor());
    backgroundView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    view()->addSubview(backgroundView_);

    scrollView_ = ImageScrollView::initWithFrame(bounds);
    scrollView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    scrollView_->setAutoresizesSubviews(true);
    scrollView_->setAlpha(0);
    scrollView_->setUserInteractionEnabled(scrollEnabled_);
    view()->addSubview(scrollView_);

    auto self = this->self<ImageViewController>();
    auto doubleTap = UITapGestureRecognizer::initWithTarget(self, &ImageViewController::doubleTapClick);
    doubleTap->setNumberOfTapsRequired(2);
    doubleTap->requireGestureRecognizerToFail(scrollView_->panGestureRecognizer());
    view()->addGestureRecognizer(doubleTap);
    auto singleTap = UITapGestureRecognizer::initWithTarget(self, &ImageViewController::tapClick);
    singleTap->requireGestureRecognizerToFail(doubleTap);
    view()->addGestureRecognizer(singleTap);
    // The page is the picture a person taps (the bars come and go) or zooms into.
    setAccessibilityTraits(*view(), UIAccessibilityTraitImage);
}

void ImageViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    onScreen_ = true;
    // A page turning back after giving its picture up shows the copy (or the picture whole, while
    // the copy is made) until its picture is read again.
    if ((!image() || shown_ == PictureShown::ScreenCopy || shown_ == PictureShown::WholeLetGo) && !alreadyShowed_) {
        alreadyShowed_ = true;
        showDownloadIndicator();
        displayImage(hdImage_, WhenMissing::Download);
    } else {
        hideDownloadIndictor();
    }
}

void ImageViewController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    if (!animated) onScreen_ = false;
}

void ImageViewController::viewDidDisappear(bool animated) {
    UIViewController::viewDidDisappear(animated);
    // A page that comes back reads its standard picture again; none is held off screen.
    onScreen_ = false;
    showPicture(nullptr, PictureShown::Neither);
    releasePicture();
    alreadyShowed_ = false;
    hdImage_ = false;
    // A change of resolution still fading shows nothing once the page has gone.
    ++resolutionChange_;
}

void ImageViewController::releasePicture() {
    if (context_.resources && pictureTicket_) context_.resources->fullSizePictures()->release(pictureTicket_);
    pictureTicket_ = 0;
}

std::function<std::function<void()>()> ImageViewController::letGoOfPicture() {
    // Another page (or this one, for its other resolution) has taken the full-size picture: this
    // page reads its picture again when it next appears.
    pictureTicket_ = 0;
    alreadyShowed_ = false;
    if (shown_ != PictureShown::Whole) return nullptr;
    // Faded out (for its other resolution) or off screen, it shows nothing.
    if (!onScreen_ || scrollView_->alpha() <= 0) {
        showPicture(nullptr, PictureShown::Neither);
        return nullptr;
    }
    // Still in sight (turning away as the next page reads its picture), the page goes on showing
    // the picture whole while a copy fitted to the screen is made of it off the main thread, then
    // shows that copy, unless it has taken the picture again or stopped showing it meanwhile.
    auto picture = image();
    const CGSize size = picture->size();
    const CGSize bounds = scrollView_->bounds().size;
    const double fit = std::min(bounds.width / size.width, bounds.height / size.height);
    const int maxPixelSize = UIImage::pixelSizeForPoints(std::max(size.width, size.height) * fit);
    const std::uint64_t change = ++pictureChange_;
    shown_ = PictureShown::WholeLetGo;
    auto weak = weakSelf<ImageViewController>();
    return [weak, picture = std::move(picture), maxPixelSize, change]() -> std::function<void()> {
        auto copy = UIImage::reducedImageWithImage(picture, maxPixelSize);
        // Holding the picture: the holder frees it with this step, off the main thread.
        return [weak, copy = std::move(copy), change, picture] {
            auto self = weak.lock();
            if (!self || self->pictureChange_ != change || self->shown_ != PictureShown::WholeLetGo) return;
            if (copy) {
                self->scrollView_->showCopyInPlace(copy);
                self->shown_ = PictureShown::ScreenCopy;
            } else {
                self->showPicture(nullptr, PictureShown::Neither);
            }
        };
    };
}

void ImageViewController::showPicture(const std::shared_ptr<UIImage>& image, PictureShown shown) {
    if (scrollView_) scrollView_->setImage(image);
    shown_ = shown;
    ++pictureChange_;
}

void ImageViewController::displayImage(bool hd, WhenMissing whenMissing) {
    // Neither block holds the page or its row: the page may go while the file is read.
    auto weak = weakSelf<ImageViewController>();
    auto resources = context_.resources;
    const std::string path = imagePath();
    const std::uint64_t change = resolutionChange_;
    auto found = std::make_shared<PictureRead>();
    const CGSize bounds = scrollView_ ? scrollView_->bounds().size : CGSize{};
    const int screenPixels = UIImage::pixelSizeForPoints(std::max(bounds.width, bounds.height));
    // The page zooms by the picture's pixels: its picture is the one read whole, after the one
    // held before it has been let go.
    auto read = [resources, path, hd, found, screenPixels](const FullSizePictureHolder::Apart& apart) -> std::shared_ptr<UIImage> {
        std::shared_ptr<UIImage> image;
        NSErrorPtr refusal;
        if (hd && !path.empty()) {
            image = readPicture(*resources, ImageLoader::hdImagePath(path), screenPixels, &refusal, apart);
            found->hd = image != nullptr;
        }
        if (!image && !path.empty() && !apart.cancellation->isCancelled()) {
            image = readPicture(*resources, ImageLoader::imagePath(path), screenPixels, &refusal, apart);
            found->overPixelCap = hasImageError(refusal, UIImageErrorOverPixelCap);
        }
        return image;
    };
    auto letGo = [weak]() -> FullSizePictureHolder::Keep {
        auto self = weak.lock();
        return self ? self->letGoOfPicture() : nullptr;
    };
    auto shown = [weak, hd, found, whenMissing, change](const std::shared_ptr<UIImage>& image) {
        auto self = weak.lock();
        if (!self) return;
        // Read for a change of resolution that a later one has overtaken: that one is fading the
        // page out and reads again when it has.
        if (whenMissing == WhenMissing::Nothing && change != self->resolutionChange_) return;
        if (image) {
            // A download that is in place and decodes is one more picture on the device.
            if (whenMissing == WhenMissing::Discard || whenMissing == WhenMissing::Refuse) self->pictureDownloaded();
            self->pictureInPlace(image, hd, found->hd);
            return;
        }
        self->showPicture(nullptr, PictureShown::Neither);
        switch (whenMissing) {
            case WhenMissing::Nothing: break;
            case WhenMissing::Download: self->startDownload(); break;
            case WhenMissing::Discard:
            case WhenMissing::Refuse: {
                // A download that is no picture stays neither on the device nor counted.
                const std::string relative = ImageLoader::imagePath(self->imagePath());
                // It arrived whole and was in place, and is over the cap: fetching it again would
                // bring a picture that is refused again. Anything else (a server's page instead of
                // the picture, a body spoilt on the way) is asked for again at the next appearance.
                if (whenMissing == WhenMissing::Refuse && found->overPixelCap &&
                    self->context_.resources->markServedCopyRefused(relative))
                    Diagnostics::notef("The copy of %s from the server cannot be shown; it is removed and not "
                                       "fetched again while the application runs.",
                                       relative.c_str());
                if (auto file = self->context_.app.fileSystem->safeDocumentsPathForFile(relative, false)) {
                    auto files = NSFileManager::defaultManager();
                    if (files->fileExistsAtPath(*file) && !files->removeItemAtPath(*file))
                        Diagnostics::notef("The downloaded picture %s does not decode and could not be removed.",
                                           file->c_str());
                    self->context_.app.fileSystem->writableFileChanged(relative);
                }
                self->setOfflineImage();
                break;
            }
        }
    };
    // Taken again while its copy is being made, the page goes on showing the picture whole: the
    // copy is not put in place, and the read gives the picture still kept.
    ++pictureChange_;
    if (shown_ == PictureShown::WholeLetGo) shown_ = PictureShown::Whole;
    pictureTicket_ = resources->fullSizePictures()->take(std::move(read), std::move(letGo), std::move(shown));
}

void ImageViewController::pictureDownloaded() {
    if (context_.downloads) context_.downloads->fileDownloaded();
    if (context_.resources) context_.resources->postDataChanged();
}

void ImageViewController::pictureInPlace(const std::shared_ptr<UIImage>& image, bool wantedHD, bool shownHD) {
    // A wanted high-resolution picture that is missing reads as not wanted from now on, unless
    // the wish changed meanwhile.
    if (wantedHD && !shownHD && hdImage_) hdImage_ = false;
    showPicture(image, PictureShown::Whole);
    auto weak = weakSelf<ImageViewController>();
    DispatchQueue::mainQueue()->async([weak] {
        auto self = weak.lock();
        if (!self) return;
        self->hideDownloadIndictor();
        NSNotificationCenter::defaultCenter()->postNotificationName(kImageViewControllerImageWillShow, self);
        if (self->scrollView_->alpha() >= 1) return;
        // From wherever a fade-out got to: the picture in place takes over at once.
        UIView::animateWithDuration(
            kFadeDuration, 0, UIViewAnimationOptionBeginFromCurrentState,
            [weak] {
                if (auto me = weak.lock()) me->scrollView_->setAlpha(1);
            },
            [weak](bool) {
                if (auto me = weak.lock())
                    NSNotificationCenter::defaultCenter()->postNotificationName(kImageViewControllerImageDidShow, me);
            });
    });
}

void ImageViewController::startDownload() {
    if (downloadRequest_) return;
    const std::string path = imagePath();
    const auto& config = context_.app.config;
    const std::string format = config && config->urlFormat() ? config->urlFormat()->images() : std::string();
    const auto slot = format.find("%@");
    // A picture with no name, a name that would leave "Data", no address, or a served copy that
    // could not be shown: nothing to fetch.
    if (!FileSystem::isSafeRelativePath(path) || slot == std::string::npos ||
        (context_.resources && context_.resources->isServedCopyRefused(ImageLoader::imagePath(path)))) {
        hideDownloadIndictor();
        setOfflineImage();
        return;
    }
    showDownloadIndicator();
    std::string url = format;
    url.replace(slot, 2, stringByAddingPercentEncodingWithAllowedCharacters(path, URLAllowedCharacterSet::URLPathAllowed()));
    downloadRequest_ = HTTPrequest::make(context_.app.fileSystem);
    downloadRequest_->setDelegate(self<ImageViewController>());
    downloadRequest_->setDownloadToFile(true);
    // To disk as it arrives, and no longer than a picture can be.
    downloadRequest_->setMaximumBodyLength(UIImage::kMaxEncodedLength);
    downloadRequest_->sendRequest(url);
}

void ImageViewController::httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>& request,
                                                    const std::string& temporaryPath) {
    if (request != downloadRequest_) return;
    downloadRequest_.reset();
    hideDownloadIndictor();
    auto files = NSFileManager::defaultManager();
    const auto destination = context_.app.fileSystem->safeDocumentsPathForFile(ImageLoader::imagePath(imagePath()), true);
    NSErrorPtr error;
    bool inPlace = false;
    if (!destination) {
        Diagnostics::notef("The folder for the downloaded picture %s could not be made.", imagePath().c_str());
        if (!files->removeItemAtPath(temporaryPath)) Diagnostics::notef("%s stays behind.", temporaryPath.c_str());
    } else {
        // A file already there (one that did not decode) gives way to the new one.
        if (files->fileExistsAtPath(*destination) && !files->removeItemAtPath(*destination, &error))
            Diagnostics::notef("The old picture %s could not be removed: %s", destination->c_str(),
                               error ? error->localizedDescription().c_str() : "");
        if (!files->moveItemAtPath(temporaryPath, *destination, &error)) {
            Diagnostics::notef("The downloaded picture could not be moved to %s: %s", destination->c_str(),
                               error ? error->localizedDescription().c_str() : "");
            if (!files->removeItemAtPath(temporaryPath)) Diagnostics::notef("%s stays behind.", temporaryPath.c_str());
        } else {
            inPlace = true;
            if (!FileSystem::setNoBackupAttribute(*destination))
                Diagnostics::notef("The downloaded picture %s could not be kept out of backups.", destination->c_str());
        }
        context_.app.fileSystem->writableFileChanged(ImageLoader::imagePath(imagePath()));
    }
    // What decides is whether the picture is now in place and decodes.
    scrollView_->setAlpha(0);
    displayImage(false, inPlace ? WhenMissing::Refuse : WhenMissing::Discard);
}

void ImageViewController::httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr& error) {
    if (request != downloadRequest_) return;
    downloadRequest_.reset();
    Diagnostics::notef("The picture %s could not be downloaded: %s", ImageLoader::imagePath(imagePath()).c_str(),
                       error ? error->localizedDescription().c_str()
                             : "the server did not answer in time, or its address is not one.");
    hideDownloadIndictor();
    setOfflineImage();
}

void ImageViewController::setOfflineImage() {
    showPicture(UIImage::imageNamed(kOfflineImageName), PictureShown::Neither);
    scrollView_->setAlpha(1);
    scrollView_->setScrollEnabled(false);
}

void ImageViewController::showDownloadIndicator() {
    hideDownloadIndictor();
    loadIndicator_ = showActivityIndicatorWithStyle(
        backgroundView_, static_cast<UIActivityIndicatorViewStyle>(loadActivityStyle_), true);
}

void ImageViewController::hideDownloadIndictor() {
    if (!loadIndicator_) return;
    loadIndicator_->removeFromSuperview();
    loadIndicator_.reset();
}

void ImageViewController::setLoadActivityStyle(std::int64_t style) {
    loadActivityStyle_ = style;
    if (loadIndicator_) loadIndicator_->setActivityIndicatorViewStyle(static_cast<UIActivityIndicatorViewStyle>(style));
}

void ImageViewController::setScrollEnabled(bool enabled) {
    scrollEnabled_ = enabled;
    if (!scrollView_) return;
    scrollView_->setUserInteractionEnabled(enabled);
    if (!enabled) scrollView_->zoomToStart();
}

void ImageViewController::setHdImage(bool hd) {
    if (hd == hdImage_) return;
    hdImage_ = hd;
    if (!scrollView_) return;
    // The page fades out; once it has, the resolution wanted then is read and fades in. A
    // change made while an earlier one fades leaves only the last to read.
    const std::uint64_t change = ++resolutionChange_;
    auto weak = weakSelf<ImageViewController>();
    UIView::animateWithDuration(
        kFadeDuration,
        [weak] {
            if (auto self = weak.lock()) self->scrollView_->setAlpha(0);
        },
        [weak, change](bool) {
            auto self = weak.lock();
            if (!self || change != self->resolutionChange_) return;
            self->displayImage(self->hdImage_, WhenMissing::Nothing);
        });
}

void ImageViewController::tapClick(const std::shared_ptr<UITapGestureRecognizer>& recognizer) {
    if (!recognizer || recognizer->state() != UIGestureRecognizerState::Ended) return;
    NSNotificationCenter::defaultCenter()->postNotificationName(kTapImageViewGotSingleTap, self<ImageViewController>());
}

void ImageViewController::doubleTapClick(const std::shared_ptr<UITapGestureRecognizer>& recognizer) {
    if (!scrollEnabled_ || !recognizer || recognizer->state() != UIGestureRecognizerState::Ended) return;
    scrollView_->doubleClick(recognizer->locationInView(view()));
}
