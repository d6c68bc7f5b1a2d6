// The full-screen picture pager: one page per picture of a list, swiped sideways (no
// wrap-around), with the author as title, previous and next buttons in the toolbar and the
// picture's name in a strip above it. A single tap on a picture hides or shows all of these.
#pragma once

#include "content/DataSource.h"
#include "content/OESearch.h"
#include "gallery/GalleryContext.h"
#include "platform/foundation/NSNotification.h"
#include "platform/ui/UIPageViewController.h"

#include <cstdint>
#include <memory>
#include <vector>

class ImageViewController;
class PhotoviewTitleView;
class UIBarButtonItem;
class UIColor;
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

    // The index of the picture shown.
    std::int64_t currentImageIndex() const;
    std::shared_ptr<ImageViewController> currentImageViewController() const;
    const std::shared_ptr<UIPageViewController>& pageViewController() const { return pageViewController_; }
    const std::shared_ptr<PhotoviewTitleView>& descriptionView() const { return descriptionView_; }
    // The previous and next items (empty with fewer than two pictures).
    const std::shared_ptr<UIBarButtonItem>& prevButton() const { return prevButton_; }
    const std::shared_ptr<UIBarButtonItem>& nextButton() const { return nextButton_; }

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

    std::shared_ptr<UIViewController> pageViewControllerViewControllerBeforeViewController(
        UIPageViewController& pager, const std::shared_ptr<UIViewController>& page) override;
    std::shared_ptr<UIViewController> pageViewControllerViewControllerAfterViewController(
        UIPageViewController& pager, const std::shared_ptr<UIViewController>& page) override;
    void pageViewControllerDidFinishAnimatingPreviousViewControllersTransitionCompleted(
        UIPageViewController& pager, bool finished, const std::vector<std::shared_ptr<UIViewController>>& previous,
        bool completed) override;

    static constexpr double kInterPageSpacing = 20;
    static constexpr double kControlsDuration = 0.3;

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
    std::shared_ptr<UIColor> backgroundColor() const;
    std::int64_t count() const { return static_cast<std::int64_t>(imagesData_->size()); }

    GalleryContext context_;
    ContentRowList imagesData_;
    std::shared_ptr<DataSource> dataSource_;
    bool hideControlls_ = false;
    bool canHideStatusBar_ = true;
    bool controllsHidden_ = false;
    std::int64_t imageIndex_;
    std::int64_t lastSeenImageIndex_ = -1;
    std::shared_ptr<UIPageViewController> pageViewController_;
    std::shared_ptr<PhotoviewTitleView> descriptionView_;
    std::vector<std::shared_ptr<UIBarButtonItem>> normalToolbarItems_;
    std::shared_ptr<UIBarButtonItem> prevButton_;
    std::shared_ptr<UIBarButtonItem> nextButton_;
};
