// One page of the full-screen pager: one picture in a zooming view, read from the device off
// the main thread (standard or high resolution) or downloaded into Documents "Data" when it is
// missing, with a spinner while it waits and a fade-in when it arrives. It tells the pager of
// single taps and of the picture's appearance through the default notification centre.
#pragma once

#include "content/HTTPrequest.h"
#include "gallery/GalleryContext.h"
#include "platform/foundation/NSNotification.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UIViewController.h"

#include <cstdint>
#include <functional>
#include <memory>

class ImageScrollView;
class UIActivityIndicatorView;
class UIImage;
class UITapGestureRecognizer;

// Posted by a page (object: the page) when its picture is in place, and when it has faded in.
inline constexpr const char* kImageViewControllerImageWillShow = "ImageViewControllerImageWillShow";
inline constexpr const char* kImageViewControllerImageDidShow = "ImageViewControllerImageDidShow";
// Posted by a page (object: the page) on a single tap.
inline constexpr const char* kTapImageViewGotSingleTap = "TapImageViewGotSingleTap";
// Heard by every page: user info "style" 1 (white spinner) or 2 (gray spinner).
inline constexpr const char* kImageViewControllerChangeLoadIndicatorStyleMessage =
    "ImageViewControllerChangeLoadIndicatorStyleMessage";

class ImageViewController : public UIViewController, public HTTPrequestDelegate {
public:
    // The row's "imagePath" names the picture.
    static std::shared_ptr<ImageViewController> initWithImageData(Value::Dictionary row, GalleryContext context);
    ImageViewController(Value::Dictionary row, GalleryContext context);
    ~ImageViewController() override;

    const Value::Dictionary& imageData() const { return imageData_; }
    // The position of the picture in the pager's list.
    std::int64_t index() const { return index_; }
    void setIndex(std::int64_t index) { index_ = index; }
    // Zooming and panning allowed; turning it off zooms back to the fit.
    bool scrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool enabled);
    // The high-resolution picture is wanted (and shown once it is loaded). A change fades the
    // page out and, when that fade has ended, reads the other resolution and fades it in.
    bool hdImage() const { return hdImage_; }
    void setHdImage(bool hd);
    // The spinner's style: 1 white, 2 gray.
    std::int64_t loadActivityStyle() const { return loadActivityStyle_; }
    void setLoadActivityStyle(std::int64_t style);

    const std::shared_ptr<ImageScrollView>& scrollView() const { return scrollView_; }
    // The picture shown, or none.
    std::shared_ptr<UIImage> image() const;
    // The spinner while it is shown.
    const std::shared_ptr<UIActivityIndicatorView>& loadIndicator() const { return loadIndicator_; }
    // The download of a missing picture while it runs.
    const std::shared_ptr<HTTPrequest>& downloadRequest() const { return downloadRequest_; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    void tapClick(const std::shared_ptr<UITapGestureRecognizer>& recognizer);
    void doubleTapClick(const std::shared_ptr<UITapGestureRecognizer>& recognizer);

    void httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr& error) override;
    void httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>& request, const std::string& path) override;

    // The bundle picture shown when the picture can be neither read nor downloaded.
    static constexpr const char* kOfflineImageName = "offline";

private:
    // What follows when neither resolution can be read and decoded. After a download: Discard
    // when it could not be put in place, Refuse when it was (its copy on the server is no picture
    // that can be shown; one over the pixel cap is not fetched again).
    enum class WhenMissing { Nothing, Download, Discard, Refuse };
    // What the page shows of its picture: the full-size picture the holder gave it, that picture
    // let go while its copy at the screen's size is made, or that copy (anything else counts as
    // neither).
    enum class PictureShown { Neither, Whole, WholeLetGo, ScreenCopy };

    // Takes the full-size picture (FullSizePictureHolder): the page that held it lets go, then
    // the picture in the wanted resolution (falling back to the standard one) is read and decoded
    // on the holder's queue and put in place on the main queue; when there is none, the page
    // empties and `whenMissing` follows. The wanted resolution travels with the work, so nothing
    // off the main thread reads the page's state.
    void displayImage(bool hd, WhenMissing whenMissing);
    // The full-size picture was taken by another reading: a page still on screen shows a copy at
    // the screen's size until it has gone, made off the main thread while it shows the picture
    // whole (what it gives the holder to make it); one faded out or off screen shows nothing.
    std::function<std::function<void()>()> letGoOfPicture();
    // Shows `image` (or nothing) as what `shown` says it is.
    void showPicture(const std::shared_ptr<UIImage>& image, PictureShown shown);
    // The page gives the full-size picture back, if it still holds it.
    void releasePicture();
    void pictureInPlace(const std::shared_ptr<UIImage>& image, bool wantedHD, bool shownHD);
    // Counts the downloaded picture and announces the change ("ImagesDataChanged").
    void pictureDownloaded();
    void startDownload();
    void setOfflineImage();
    void showDownloadIndicator();
    void hideDownloadIndictor();
    void changeIndicatorStyle(const NSNotification& notification);
    std::string imagePath() const { return imageData_.get("imagePath").stringValue(); }

    GalleryContext context_;
    Value::Dictionary imageData_;
    std::int64_t index_ = 0;
    bool scrollEnabled_ = true;
    bool hdImage_ = false;
    std::int64_t loadActivityStyle_ = 2;
    bool alreadyShowed_ = false;
    // From viewWillAppear until it has gone: to viewDidDisappear when it turns away, to
    // viewWillDisappear when it goes at once.
    bool onScreen_ = false;
    PictureShown shown_ = PictureShown::Neither;
    std::shared_ptr<UIView> backgroundView_;
    std::shared_ptr<ImageScrollView> scrollView_;
    std::shared_ptr<UIActivityIndicatorView> loadIndicator_;
    std::shared_ptr<HTTPrequest> downloadRequest_;
    // The page's taking of the full-size picture (FullSizePictureHolder), 0 when it holds none.
    std::uint64_t pictureTicket_ = 0;
    // Counts the takings of the picture and what ends showing it: a copy made for an earlier
    // letting go is not put in place.
    std::uint64_t pictureChange_ = 0;
    // Counts the changes of resolution (and the page's departures, which end them): a fade-out
    // or a read begun for an earlier one does nothing.
    std::uint64_t resolutionChange_ = 0;
};
