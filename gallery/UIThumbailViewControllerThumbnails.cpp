// The thumbnail pipeline and the signs over thumbnails: the file on the device first, else the
// content server's thumbnail, asked for once at a time and kept in Caches "Data" only when it is a
// picture.
#include "gallery/UIThumbailViewController.h"

#include "gallery/GalleryCellText.h"
#include "gallery/ImageLoader.h"
#include "content/PictureURL.h"
#include "gallery/UIInfoView.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/SequenceChecker.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSStringFormat.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSMutableURLRequest.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLSession.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "uikit/UIButtonCommon.h"
#include "uikit/UIViewToast.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <vector>

namespace {

// The image view's slot naming the load it waits for; a later configuration replaces it.
const char kThumbnailLoadKey = 0;
std::atomic<std::int64_t> gNextLoad{1};
// Marks the spinner of a load, so the next load of the view takes it away.
constexpr long kLoadSpinnerTag = 0x7468756d;

bool isSuccess(const std::shared_ptr<NSHTTPURLResponse>& response) {
    return response && response->statusCode() >= 200 && response->statusCode() < 300;
}

// The thumbnail fetches under way, by their address, with the loads that wait for each: a
// thumbnail that two views show at once (the grid and the list reload together) is asked for
// once. On the main thread alone.
struct ThumbnailFetches {
    struct Waiting {
        std::weak_ptr<UIImageView> view;
        std::shared_ptr<UIView> spinner;
        std::int64_t load = 0;
    };
    SequenceChecker sequence{"the thumbnail fetches"};
    std::map<std::string, std::vector<Waiting>> underWay;

    static ThumbnailFetches& shared() {
        // Never destroyed: a fetch may end while the process exits.
        static auto* fetches = new ThumbnailFetches;
        return *fetches;
    }
};

// Moves the downloaded thumbnail at `downloaded` to Caches "<relative>", where the next lookup
// finds it, in place of whatever is there.
void keepThumbnail(const std::string& downloaded, const std::string& relative, FileSystem& fileSystem) {
    auto files = NSFileManager::defaultManager();
    NSErrorPtr error;
    const auto path = fileSystem.safeCachesPathForFile(relative, true);
    bool kept = false;
    if (path) {
        if (!files->fileExistsAtPath(*path) || files->removeItemAtPath(*path, &error))
            kept = files->moveItemAtPath(downloaded, *path, &error);
        fileSystem.writableFileChanged(relative);
    }
    if (kept) {
        (void)FileSystem::setNoBackupAttribute(*path);
        return;
    }
    Diagnostics::notef("The thumbnail %s could not be kept in Caches: %s", relative.c_str(),
                       error ? error->localizedDescription().c_str() : "no place for it");
}

}  // namespace

int UIThumbailViewController::thumbnailPixelSize() { return UIImage::pixelSizeForPoints(kThumbnailPoints); }

std::string UIThumbailViewController::thumbnailPath(const std::string& imagePath) {
    return GalleryCellText::replacingCaseInsensitive(imagePath, ".jpg", "_thumb.jpg");
}

void UIThumbailViewController::loadThumbnailForImageView(const std::shared_ptr<UIImageView>& imageView,
                                                         const Value::Dictionary& image, const GalleryContext& context) {
    if (!imageView) return;
    const std::int64_t load = gNextLoad.fetch_add(1);
    imageView->setAssociatedValue(&kThumbnailLoadKey, Value(static_cast<long long>(load)));
    const auto subviews = imageView->subviews();
    for (const auto& subview : subviews)
        if (subview->tag() == kLoadSpinnerTag) subview->removeFromSuperview();

    const std::string thumbnail = thumbnailPath(image.get("imagePath").stringValue());
    // A value of the database names a file inside "Data" or none at all.
    if (!FileSystem::isSafeRelativePath(thumbnail)) {
        imageView->setImage(nullptr);
        return;
    }
    const std::string relative = "Data/" + thumbnail;
    const int pixelSize = thumbnailPixelSize();
    const auto& resources = context.resources;
    auto picture = resources ? resources->loadImageFrom(relative, pixelSize) : nullptr;
    // Set at once: a reused view drops the picture of the row it showed before.
    imageView->setImage(picture);
    if (picture || (resources && resources->isServedCopyRefused(relative))) return;
    const auto& config = context.app.config;
    const auto& fileSystem = context.app.fileSystem;
    if (!config || !config->urlFormat() || config->urlFormat()->thumbs().empty() || !fileSystem) return;
    auto url = NSURL::URLWithString(NSString::format(config->urlFormat()->thumbs(), encodedPicturePath(thumbnail)));
    if (!url) return;

    auto spinner = showGrayActivityIndicator(imageView, true);
    spinner->setTag(kLoadSpinnerTag);
    auto& fetches = ThumbnailFetches::shared();
    OSTREL_CHECK_SEQUENCE(fetches.sequence);
    const std::string address = url->absoluteString();
    auto& waiting = fetches.underWay[address];
    waiting.push_back({imageView, spinner, load});
    if (waiting.size() > 1) return;
    auto request = NSMutableURLRequest::requestWithURL(url);
    // To a file as it arrives: a server may send a whole picture for its thumbnail.
    request->setMaximumBodyLength(kThumbnailMaxBytes);
    auto task = NSURLSession::sharedSession()->downloadTaskWithRequest(
        request, [relative, fileSystem, resources, pixelSize, address](
                     const std::shared_ptr<NSURL>& location, const std::shared_ptr<NSHTTPURLResponse>& response,
                     const NSErrorPtr& error) {
            // On the session's queue: only a picture the server meant to send is kept. What is
            // said of a thumbnail that did not come, is refused or does not decode names where it
            // came from.
            std::shared_ptr<UIImage> fetched;
            if (error || !location) {
                Diagnostics::notef("The thumbnail %s could not be downloaded: %s", address.c_str(),
                                   error ? error->localizedDescription().c_str() : "nothing came.");
            } else if (!isSuccess(response)) {
                Diagnostics::notef("The thumbnail %s could not be downloaded: the server answered with status %ld.",
                                   address.c_str(), response ? static_cast<long>(response->statusCode()) : 0L);
            } else {
                NSErrorPtr refusal;
                auto decoded = UIImage::reducedImageWithContentsOfFile(location->path(), pixelSize, address, &refusal);
                if (decoded && decoded->decodes()) {
                    fetched = decoded;
                    keepThumbnail(location->path(), relative, *fileSystem);
                } else if (refusal) {
                    // Over the cap it would only be refused again; anything else may be mended.
                    const bool notAgain = refusal->code() == UIImageErrorOverPixelCap && resources &&
                                          resources->markServedCopyRefused(relative);
                    Diagnostics::notef("The thumbnail %s is not a picture that can be shown. %s%s", address.c_str(),
                                       refusal->localizedDescription().c_str(),
                                       notAgain ? " It is not fetched again while the application runs." : "");
                }
            }
            DispatchQueue::mainQueue()->async([address, fetched] {
                auto& fetches = ThumbnailFetches::shared();
                OSTREL_CHECK_SEQUENCE(fetches.sequence);
                const auto found = fetches.underWay.find(address);
                if (found == fetches.underWay.end()) return;
                const std::vector<ThumbnailFetches::Waiting> waiting = std::move(found->second);
                fetches.underWay.erase(found);
                for (const auto& load : waiting) {
                    auto view = load.view.lock();
                    // A view configured for another row since then keeps what it shows now.
                    if (!view || view->associatedValue(&kThumbnailLoadKey).longLongValue() != load.load) continue;
                    view->setImage(fetched);
                    load.spinner->removeFromSuperview();
                }
            });
        });
    task->resume();
}

std::shared_ptr<UIImageView> UIThumbailViewController::addImageSign(const std::string& imageName,
                                                                    const std::shared_ptr<UIView>& view) {
    auto image = UIImage::imageNamed(imageName);
    auto sign = UIImageView::initWithFrame({{0, 0}, image ? image->size() : CGSize{0, 0}});
    sign->setImage(image);
    view->addSubview(sign);
    return sign;
}

CGRect UIThumbailViewController::newSignFrameIn(const std::shared_ptr<UIView>& container, CGRect originalRect) {
    const CGFloat height = container->frame().size.height;
    return {{3, height - originalRect.size.height - 3}, originalRect.size};
}

CGRect UIThumbailViewController::hdSignFrameIn(const std::shared_ptr<UIView>& container, CGRect originalRect) {
    const CGFloat width = container->frame().size.width;
    return {{width - originalRect.size.width - 5, 5}, originalRect.size};
}

bool UIThumbailViewController::hdImageExists(const Value::Dictionary& image, const GalleryContext& context) {
    return ImageLoader::hdImageExists(image, context);
}

void UIThumbailViewController::configureThumbImageView(const std::shared_ptr<UIImageView>& imageView,
                                                       const Value::Dictionary& image, std::size_t index) {
    const auto subviews = imageView->subviews();
    for (const auto& subview : subviews) subview->removeFromSuperview();
    loadThumbnailForImageView(imageView, image, context_);
    addNewItemSignTo(imageView, image);
    addHdSignTo(imageView, image);
    if (selectedMode_ == kModeList) addInfoButtonTo(imageView, image, index);
}

bool UIThumbailViewController::needInfoButton(const Value::Dictionary& image) const {
    return !context_.localizations().localizedDescriptionFieldValue(image).empty();
}

void UIThumbailViewController::addInfoButtonTo(const std::shared_ptr<UIImageView>& imageView,
                                               const Value::Dictionary& image, std::size_t index) {
    if (!needInfoButton(image)) return;
    std::weak_ptr<UIThumbailViewController> weakSelf = self<UIThumbailViewController>();
    auto button = UIButtonCommon::makeCustomButtonWithImage(
        "info_picture", self<UIThumbailViewController>(), [weakSelf](const std::shared_ptr<NSObject>& sender) {
            auto me = weakSelf.lock();
            if (auto tapped = std::dynamic_pointer_cast<UIButton>(sender); me && tapped) me->infoButtonClicked(tapped);
        });
    button->setTag(static_cast<int>(index));
    imageView->addSubview(button);
    imageView->bringSubviewToFront(button);
    imageView->setUserInteractionEnabled(true);
}

void UIThumbailViewController::infoButtonClicked(const std::shared_ptr<UIButton>& button) {
    if (!button || button->tag() < 0 || static_cast<std::size_t>(button->tag()) >= images().size()) return;
    const Value::Dictionary& image = images()[static_cast<std::size_t>(button->tag())];
    auto info = UIInfoView::initWithContext(context_);
    info->setAuthor(imageText(image, " - "));
    info->setText(context_.localizations().localizedDescriptionFieldValue(image));
    if (auto navigation = navigationController()) navigation->pushViewController(info, true);
}

bool UIThumbailViewController::needNewItemSign(const Value::Dictionary& image) {
    return !image.get("inapp").stringValue().empty() && context_.resources &&
           context_.resources->isNewImage(image.get("imagePath").stringValue());
}

void UIThumbailViewController::addNewItemSignTo(const std::shared_ptr<UIImageView>& imageView,
                                                const Value::Dictionary& image) {
    if (!needNewItemSign(image)) return;
    auto sign = addImageSign("new_item", imageView);
    sign->setAutoresizingMask(UIViewAutoresizingFlexibleRightMargin | UIViewAutoresizingFlexibleTopMargin);
    sign->setFrame(newSignFrameIn(imageView, sign->frame()));
}

void UIThumbailViewController::addHdSignTo(const std::shared_ptr<UIImageView>& imageView,
                                           const Value::Dictionary& image) {
    if (!hdImageExists(image, context_)) return;
    auto sign = addImageSign("hd", imageView);
    sign->setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin);
    sign->setFrame(hdSignFrameIn(imageView, sign->frame()));
}

std::string UIThumbailViewController::imageText(const Value::Dictionary& image, const std::string& separator) const {
    std::string author = textForField(context_.localizations().authorNameFieldKey(), image);
    const std::string name = textForField(context_.localizations().nameFieldKey(), image);
    std::string text;
    if (!author.empty()) {
        if (author.back() == '.') author.pop_back();
        text = author + separator;
    }
    if (!name.empty()) text += name;
    return text;
}

std::string UIThumbailViewController::textForField(const std::string& field, const Value::Dictionary& image) const {
    return context_.localizations().localizedValueFor(field, image);
}
