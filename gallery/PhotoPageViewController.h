// The full-screen picture pager: one page per picture of a list, swiped sideways (no
// wrap-around), with the author as title, the like and author-information items beside it, a
// toolbar (menu, previous, HD, next, slideshow) and the picture's name in a strip above it. A
// single tap on a picture hides or shows all of these. The picture shown is mirrored on an
// external screen while one is connected.
#pragma once

#include "content/DataSource.h"
#include "content/OESearch.h"
#include "gallery/GalleryContext.h"
#include "platform/foundation/NSNotification.h"
#include "platform/ui/UIPageViewController.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class ImageViewController;
class NSTimer;
class PhotoviewTitleView;
class SecondWindowController;
class UIBarButtonItem;
class UIButton;
class UIColor;
class UILikesButton;
class dataSubCat;

// Posted (no object) after the controls were shown or hidden.
inline constexpr const char* kPhotoControllerControllsShowedMessage = "PhotoControllerControllsShowedMessage";
inline constexpr const char* kPhotoControllerControllsHidedMessage = "PhotoControllerControllsHidedMessage";

class PhotoPageViewController : public UIViewController,
                                public UIPageViewControllerDataSource,
                                public UIPageViewControllerDelegate {
public:
    // At `imageIndex` of `rows`; empty when the list is empty or the index lies outside it.
    // The subcategory is accepted and not kept.
    static std::shared_ptr<PhotoPageViewController> initWithImagesData(ContentRowList rows,
                                                                       const std::shared_ptr<dataSubCat>& subCat,
                                                                       std::int64_t imageIndex, GalleryContext context);
    PhotoPageViewController(ContentRowList rows, std::int64_t imageIndex, GalleryContext context);
    ~PhotoPageViewController() override;

    const ContentRowList& imagesData() const { return imagesData_; }
    // The source the rows came from, if any.
    const std::shared_ptr<DataSource>& dataSource() const { return dataSource_; }
    void setDataSource(std::shared_ptr<DataSource> source) { dataSource_ = std::move(source); }
    // Set before the view loads: no toolbar items and no strip, and the toolbar stays hidden.
    bool hideControlls() const { return hideControlls_; }
    void setHideControlls(bool hide) { hideControlls_ = hide; }
    // Whether the status bar goes with the controls on a phone.
    bool canHideStatusBar() const { return canHideStatusBar_; }
    void setCanHideStatusBar(bool can) { canHideStatusBar_ = can; }
    bool controllsHidden() const { return controllsHidden_; }
    // Set before the view loads: the slideshow starts once it has loaded.
    bool slideShow() const { return slideShow_; }
    void setSlideShow(bool slideShow) { slideShow_ = slideShow; }
    // The slideshow is running.
    bool slideShowEnabled() const { return slideShowEnabled_; }
    // Seconds a picture stays after it has appeared: the "slideshowDelay" setting + 4, read
    // when the view loads.
    std::int64_t slideShowDeleay() const { return slideShowDeleay_; }
    // The timer of the next slide, while one waits.
    const std::shared_ptr<NSTimer>& slideShowTimer() const { return slideShowTimer_; }

    // The index of the picture shown.
    std::int64_t currentImageIndex() const;
    std::shared_ptr<ImageViewController> currentImageViewController() const;
    const std::shared_ptr<UIPageViewController>& pageViewController() const { return pageViewController_; }
    const std::shared_ptr<PhotoviewTitleView>& descriptionView() const { return descriptionView_; }
    // The previous and next items (empty with fewer than two pictures).
    const std::shared_ptr<UIBarButtonItem>& prevButton() const { return prevButton_; }
    const std::shared_ptr<UIBarButtonItem>& nextButton() const { return nextButton_; }
    // The toolbar's items: the menu always; the HD and slideshow items with two pictures or more.
    const std::shared_ptr<UIBarButtonItem>& menuButton() const { return menuButton_; }
    const std::shared_ptr<UIBarButtonItem>& hdImageBarButton() const { return hdImageBarButton_; }
    const std::shared_ptr<UIBarButtonItem>& slideShowButton() const { return slideShowButton_; }
    const std::shared_ptr<UIBarButtonItem>& pauseButton() const { return pauseButton_; }
    const std::vector<std::shared_ptr<UIBarButtonItem>>& normalToolbarItems() const { return normalToolbarItems_; }
    const std::vector<std::shared_ptr<UIBarButtonItem>>& slideshowToolbarItems() const { return slideshowToolbarItems_; }
    // The like item and its button (only when the source keeps favourites), and the author's
    // information item.
    const std::shared_ptr<UILikesButton>& likesButton() const { return likesButton_; }
    const std::shared_ptr<UIBarButtonItem>& favoritesButton() const { return favoritesButton_; }
    const std::shared_ptr<UIBarButtonItem>& authorInfoButton() const { return authorInfoButton_; }
    // The like counts heard so far, by picture "index".
    const std::map<std::string, std::int64_t>& likesCount() const { return likesCount_; }
    // The external screen's mirror.
    const std::shared_ptr<SecondWindowController>& secondWindow() const { return secondWindow_; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    bool prefersStatusBarHidden() const override;
    void willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation, double duration) override;

    // Shows the picture at `index` without animation.
    void setViewControllerForIndex(std::int64_t index);
    // Hides or shows the bars, the toolbar and the strip; the pages hear of it.
    void setControlsHidden(bool hidden, bool animated);
    // The strip's place above the toolbar.
    CGRect descriptionFrame() const;

    void clickPrev();
    void clickNext();
    void closeClick();
    // Makes the current picture a favourite (and likes it) or undoes both; the count shown
    // changes at once by one.
    void favoriteClick();
    // Between the standard and the high-resolution picture, downloading the latter first when
    // it is not on the device.
    void toggleHdClick();
    // Starts or stops the slideshow.
    void slideShowClick();
    // The picture menu for the current picture.
    void clickMenu();
    // The author's information screen.
    void infoClick();

    std::shared_ptr<UIViewController> pageViewControllerViewControllerBeforeViewController(
        UIPageViewController& pager, const std::shared_ptr<UIViewController>& page) override;
    std::shared_ptr<UIViewController> pageViewControllerViewControllerAfterViewController(
        UIPageViewController& pager, const std::shared_ptr<UIViewController>& page) override;
    void pageViewControllerDidFinishAnimatingPreviousViewControllersTransitionCompleted(
        UIPageViewController& pager, bool finished, const std::vector<std::shared_ptr<UIViewController>>& previous,
        bool completed) override;

    static constexpr double kInterPageSpacing = 20;
    static constexpr double kControlsDuration = 0.3;
    // The fade-out of a picture before the slideshow turns to the next.
    static constexpr double kSlideFadeDuration = 0.3;

private:
    void constructPageViewController();
    void constructToolBar();
    void constructDescription();
    std::shared_ptr<ImageViewController> viewControllerForIndex(std::int64_t index);
    void viewControllerDidSet(const std::shared_ptr<ImageViewController>& page);
    void updateTitle(const Value::Dictionary& row);
    void updateDescription(const Value::Dictionary& row);
    void checkButtons();
    void imageTapNotification(const NSNotification& notification);
    void imageWillShowNotification(const NSNotification& notification);
    void imageDidShowNotification(const NSNotification& notification);
    void requestLikes(const Value::Dictionary& row);
    void checkFavoriteButton();
    void updateHDButton();
    void setHdButtonImage(bool hd);
    void updateImageQuality(bool hd);
    void updateExternal(const std::shared_ptr<ImageViewController>& page);
    void startSlideShowTimer();
    void stopSlideshowTimer();
    void slideshowTimerFired();
    void stopSlideshowHold();
    bool mayAddToFavorites() const;
    const Value::Dictionary& currentRow() const;
    std::shared_ptr<UIColor> backgroundColor() const;
    std::int64_t count() const { return static_cast<std::int64_t>(imagesData_->size()); }

    GalleryContext context_;
    ContentRowList imagesData_;
    std::shared_ptr<DataSource> dataSource_;
    bool hideControlls_ = false;
    bool canHideStatusBar_ = true;
    bool controllsHidden_ = false;
    bool slideShow_ = false;
    bool slideShowEnabled_ = false;
    std::int64_t slideShowDeleay_ = 4;
    std::shared_ptr<NSTimer> slideShowTimer_;
    // The slideshow's own hold on the screen lock: released when the slideshow stops, and
    // counted as released when the pager (and so the token) goes.
    std::shared_ptr<NSObject> slideshowHold_;
    std::map<std::string, std::int64_t> likesCount_;
    // Local changes of each picture's count: an answer asked for before the latest one is stale.
    std::map<std::string, std::uint64_t> likesChanges_;
    std::int64_t imageIndex_;
    std::int64_t lastSeenImageIndex_ = -1;
    std::shared_ptr<UIPageViewController> pageViewController_;
    std::shared_ptr<PhotoviewTitleView> descriptionView_;
    std::vector<std::shared_ptr<UIBarButtonItem>> normalToolbarItems_;
    std::vector<std::shared_ptr<UIBarButtonItem>> slideshowToolbarItems_;
    std::shared_ptr<UIBarButtonItem> menuButton_;
    std::shared_ptr<UIBarButtonItem> prevButton_;
    std::shared_ptr<UIBarButtonItem> hdImageBarButton_;
    std::shared_ptr<UIBarButtonItem> nextButton_;
    std::shared_ptr<UIBarButtonItem> slideShowButton_;
    std::shared_ptr<UIBarButtonItem> pauseButton_;
    std::shared_ptr<UILikesButton> likesButton_;
    std::shared_ptr<UIBarButtonItem> favoritesButton_;
    std::shared_ptr<UIBarButtonItem> authorInfoButton_;
    std::shared_ptr<SecondWindowController> secondWindow_;
};
