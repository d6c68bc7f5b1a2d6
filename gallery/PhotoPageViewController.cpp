// The pager: its pages, the page change, the toolbar, the strip and the controls' visibility.
#include "gallery/PhotoPageViewController.h"

#include "gallery/ImageInfo.h"
#include "gallery/ImageViewController.h"
#include "gallery/PhotoviewTitleView.h"
#include "gallery/ResourceLoader.h"
#include "gallery/SecondWindowController.h"
#include "gallery/UILikesButton.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSTimer.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UIWindow.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"
#include "uikit/UIViewToast.h"

std::shared_ptr<PhotoPageViewController> PhotoPageViewController::initWithImagesData(
    ContentRowList rows, const std::shared_ptr<dataSubCat>&, std::int64_t imageIndex, GalleryContext context) {
    // A pager always shows a picture: none is built over an empty list.
    if (!rows || rows->empty() || imageIndex < 0 || imageIndex >= static_cast<std::int64_t>(rows->size())) return nullptr;
    return std::make_shared<PhotoPageViewController>(std::move(rows), imageIndex, std::move(context));
}

PhotoPageViewController::PhotoPageViewController(ContentRowList rows, std::int64_t imageIndex, GalleryContext context)
    : context_(std::move(context)), imagesData_(std::move(rows)), imageIndex_(imageIndex) {
    // The pictures fill the screen; the bars float over them.
    setEdgesForExtendedLayout(UIRectEdgeAll);
}

PhotoPageViewController::~PhotoPageViewController() {
    NSNotificationCenter::defaultCenter()->removeObserver(this);
    // The slideshow's hold on the screen lock goes with its token, released as the pager goes.
    if (slideShowTimer_) slideShowTimer_->invalidate();
}

std::shared_ptr<UIColor> PhotoPageViewController::backgroundColor() const {
    const auto& config = context_.app.config;
    if (!config || !config->color()) return UIColor::groupTableViewBackgroundColor();
    const auto c = config->color()->backgroundColor();
    return UIColor::colorWithRed(c.red, c.green, c.blue, c.alpha);
}

void PhotoPageViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    likesCount_.clear();
    view()->setBackgroundColor(backgroundColor());
    constructPageViewController();
    constructToolBar();
    setToolbarItems(normalToolbarItems_);
    if (!hideControlls_) constructDescription();

    auto self = this->self<PhotoPageViewController>();
    std::weak_ptr<PhotoPageViewController> weak = self;
    if (!hideControlls_) {
        if (mayAddToFavorites()) {
            likesButton_ = UILikesButton::initWithFrame(CGRectZero);
            likesButton_->sizeToFit();
            likesButton_->addTarget(
                self,
                [weak](const std::shared_ptr<NSObject>&) {
                    if (auto me = weak.lock()) me->favoriteClick();
                },
                UIControlEventTouchUpInside);
            favoritesButton_ = UIBarButtonItem::initWithCustomView(likesButton_);
        }
        authorInfoButton_ = customBarButtonItemWithImageName(self, "i", [weak](const std::shared_ptr<NSObject>&) {
            if (auto me = weak.lock()) me->infoClick();
        });
    }
    setViewControllerForIndex(imageIndex_);
    checkFavoriteButton();

    auto nav = navigationController();
    if (nav && nav->viewControllers().size() == 1 && nav->viewControllers().front() == self) {
        navigationItem()->setHidesBackButton(true);
        navigationItem()->setLeftBarButtonItem(
            makeCloseButtonWithTitle(self, OECoreString("Back"), [weak](const std::shared_ptr<NSObject>&) {
                if (auto me = weak.lock()) me->closeClick();
            }));
    }
    navigationItem()->setBackBarButtonItem(UIBarButtonItemCommon::makeBackButton());
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(self, &PhotoPageViewController::imageTapNotification, kTapImageViewGotSingleTap);
    center->addObserver(self, &PhotoPageViewController::imageDidShowNotification, kImageViewControllerImageDidShow);
    center->addObserver(self, &PhotoPageViewController::imageWillShowNotification, kImageViewControllerImageWillShow);
    secondWindow_ = SecondWindowController::make();
    slideShowDeleay_ = NSUserDefaults::standardUserDefaults()->integerForKey("slideshowDelay") + 4;
    if (slideShow_) slideShowClick();
}

void PhotoPageViewController::constructPageViewController() {
    pageViewController_ = UIPageViewController::initWithTransitionStyle(
        UIPageViewControllerTransitionStyle::Scroll, UIPageViewControllerNavigationOrientation::Horizontal,
        {{UIPageViewControllerOptionInterPageSpacingKey, Value(kInterPageSpacing)}});
    auto self = this->self<PhotoPageViewController>();
    pageViewController_->setDataSource(self);
    pageViewController_->setDelegate(self);
    addChildViewController(pageViewController_);
    auto pages = pageViewController_->view();
    pages->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    pages->setFrame(view()->bounds());
    view()->insertSubview(pages, 0);
    pageViewController_->didMoveToParentViewController(self);
}

void PhotoPageViewController::constructToolBar() {
    normalToolbarItems_.clear();
    slideshowToolbarItems_.clear();
    if (hideControlls_) return;
    auto self = this->self<PhotoPageViewController>();
    std::weak_ptr<PhotoPageViewController> weak = self;
    auto item = [&](const char* image, void (PhotoPageViewController::*action)()) {
        return customBarButtonItemWithImageName(self, image, [weak, action](const std::shared_ptr<NSObject>&) {
            if (auto me = weak.lock()) ((*me).*action)();
        });
    };
    auto flex = [] { return UIBarButtonItemCommon::makeFlexButton(); };
    menuButton_ = item("action", &PhotoPageViewController::clickMenu);
    // It shows the share picture but opens a menu: Download HD, Get HD and Share.
    if (auto button = menuButton_->customView()) setAccessibilityLabel(*button, "menu");
    // Always made, so the page checks have a button to show or hide.
    hdImageBarButton_ = item("button_hd", &PhotoPageViewController::toggleHdClick);
    if (count() < 2) {
        normalToolbarItems_ = {menuButton_, flex()};
        return;
    }
    prevButton_ = item("back", &PhotoPageViewController::clickPrev);
    nextButton_ = item("forward", &PhotoPageViewController::clickNext);
    slideShowButton_ = item("slide", &PhotoPageViewController::slideShowClick);
    pauseButton_ = item("pause_slide", &PhotoPageViewController::slideShowClick);
    normalToolbarItems_ = {menuButton_, flex(), prevButton_, flex(), hdImageBarButton_, flex(),
                           nextButton_, flex(), slideShowButton_};
    slideshowToolbarItems_ = {flex(), pauseButton_};
}

CGRect PhotoPageViewController::descriptionFrame() const {
    const CGRect b = viewIfLoaded() ? viewIfLoaded()->bounds() : CGRectZero;
    CGFloat toolbarHeight = 0;
    if (auto nav = navigationController()) toolbarHeight = nav->toolbar()->frame().size.height;
    CGFloat bottomInset = 0;
    if (auto window = UIApplication::sharedApplication()->keyWindow()) bottomInset = window->safeAreaInsets().bottom;
    return CGRectMake(0, b.size.height - toolbarHeight - bottomInset - PhotoviewTitleView::kHeight, b.size.width,
                      PhotoviewTitleView::kHeight);
}

void PhotoPageViewController::constructDescription() {
    descriptionView_ = PhotoviewTitleView::initWithFrame(descriptionFrame(), context_);
    descriptionView_->setNavigationController(navigationController());
    descriptionView_->setBackgroundColor(view()->backgroundColor());
    descriptionView_->setTitleFont(UIFont::systemFontOfSize(13));
    descriptionView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleTopMargin);
    view()->addSubview(descriptionView_);
    updateDescription((*imagesData_)[static_cast<std::size_t>(imageIndex_)]);
}

void PhotoPageViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (auto nav = navigationController()) nav->setToolbarHidden(hideControlls_, animated);
    // A fresh page each time: its picture is read again.
    setViewControllerForIndex(imageIndex_);
}

std::int64_t PhotoPageViewController::currentImageIndex() const {
    auto page = currentImageViewController();
    return page ? page->index() : imageIndex_;
}

std::shared_ptr<ImageViewController> PhotoPageViewController::currentImageViewController() const {
    if (!pageViewController_) return nullptr;
    const auto pages = pageViewController_->viewControllers();
    return pages.empty() ? nullptr : std::dynamic_pointer_cast<ImageViewController>(pages.front());
}

std::shared_ptr<ImageViewController> PhotoPageViewController::viewControllerForIndex(std::int64_t index) {
    auto page = ImageViewController::initWithImageData((*imagesData_)[static_cast<std::size_t>(index)], context_);
    page->setIndex(index);
    page->setScrollEnabled(!slideShowEnabled_);
    page->setLoadActivityStyle(controllsHidden_ ? 1 : 2);
    return page;
}

void PhotoPageViewController::setViewControllerForIndex(std::int64_t index) {
    if (index < 0 || index >= count()) return;
    auto page = viewControllerForIndex(index);
    pageViewController_->setViewControllers({page}, UIPageViewControllerNavigationDirection::Forward, false, nullptr);
    viewControllerDidSet(page);
}

std::shared_ptr<UIViewController> PhotoPageViewController::pageViewControllerViewControllerAfterViewController(
    UIPageViewController&, const std::shared_ptr<UIViewController>& page) {
    auto current = std::dynamic_pointer_cast<ImageViewController>(page);
    if (slideShowEnabled_ || !current || current->index() >= count() - 1) return nullptr;
    return viewControllerForIndex(current->index() + 1);
}

std::shared_ptr<UIViewController> PhotoPageViewController::pageViewControllerViewControllerBeforeViewController(
    UIPageViewController&, const std::shared_ptr<UIViewController>& page) {
    auto current = std::dynamic_pointer_cast<ImageViewController>(page);
    if (slideShowEnabled_ || !current || current->index() < 1) return nullptr;
    return viewControllerForIndex(current->index() - 1);
}

void PhotoPageViewController::pageViewControllerDidFinishAnimatingPreviousViewControllersTransitionCompleted(
    UIPageViewController&, bool finished, const std::vector<std::shared_ptr<UIViewController>>&, bool) {
    // After an abandoned swipe this is the old page again: it is refreshed, with no toast.
    if (!finished) return;
    if (auto page = currentImageViewController()) viewControllerDidSet(page);
}

void PhotoPageViewController::viewControllerDidSet(const std::shared_ptr<ImageViewController>& page) {
    const auto& row = (*imagesData_)[static_cast<std::size_t>(page->index())];
    requestLikes(row);
    updateTitle(row);
    updateDescription(row);
    checkButtons();
    updateExternal(page);
    imageIndex_ = page->index();

    // Marked seen on a later turn of the main run loop.
    const std::string imagePath = row.get("imagePath").stringValue();
    auto resources = context_.resources;
    NSRunLoop::mainRunLoop()->post([resources, imagePath] { resources->resetNewImage(imagePath); });

    // With the controls away, the picture's full name shows for a moment on each new picture.
    if (NSUserDefaults::standardUserDefaults()->boolForKey("fullScreenHintsEnabled") && controllsHidden_ &&
        !slideShowEnabled_ && lastSeenImageIndex_ != imageIndex_)
        makeToast(page->view(), ImageInfo(context_.localizations(), row).fullName());
    lastSeenImageIndex_ = imageIndex_;
}

void PhotoPageViewController::updateTitle(const Value::Dictionary& row) {
    const ImageInfo info(context_.localizations(), row);
    setTitle(info.author());
    if (hideControlls_) return;
    // The like item is the outermost; the author's item only when there is something to read.
    std::vector<std::shared_ptr<UIBarButtonItem>> items;
    if (favoritesButton_) items.push_back(favoritesButton_);
    if (authorInfoButton_ && !info.authorDescription().empty()) items.push_back(authorInfoButton_);
    navigationItem()->setRightBarButtonItems(items);
}

void PhotoPageViewController::updateDescription(const Value::Dictionary& row) {
    if (!descriptionView_) return;
    const ImageInfo info(context_.localizations(), row);
    descriptionView_->updateTitle(info.name(), info.imageDescription());
    view()->bringSubviewToFront(descriptionView_);
}

void PhotoPageViewController::checkButtons() {
    if (count() >= 2 && prevButton_ && nextButton_) {
        const std::int64_t index = currentImageIndex();
        prevButton_->setEnabled(index != 0);
        nextButton_->setEnabled(index != count() - 1);
    }
    updateHDButton();
    checkFavoriteButton();
}

void PhotoPageViewController::setControlsHidden(bool hidden, bool animated) {
    controllsHidden_ = hidden;
    auto center = NSNotificationCenter::defaultCenter();
    center->postNotificationName(kImageViewControllerChangeLoadIndicatorStyleMessage, self<PhotoPageViewController>(),
                                 {{"style", Value(static_cast<std::int64_t>(hidden ? 1 : 2))}});
    setNeedsStatusBarAppearanceUpdate();
    if (auto nav = navigationController()) {
        nav->setNavigationBarHidden(hidden, animated);
        nav->setToolbarHidden(hidden, animated);
    }
    const double duration = animated ? kControlsDuration : 0;
    std::weak_ptr<PhotoPageViewController> weak = self<PhotoPageViewController>();
    if (!hidden) {
        UIView::animateWithDuration(
            duration,
            [weak] {
                auto me = weak.lock();
                if (!me) return;
                me->pageViewController_->view()->setBackgroundColor(me->backgroundColor());
                if (me->descriptionView_) {
                    me->descriptionView_->setAlpha(1);
                    me->descriptionView_->setFrame(me->descriptionFrame());
                }
            },
            [weak](bool) {
                if (auto me = weak.lock())
                    if (me->descriptionView_) me->descriptionView_->setUserInteractionEnabled(true);
            });
        DispatchQueue::mainQueue()->async([weak] {
            if (auto me = weak.lock())
                me->setToolbarItems(me->slideShowEnabled_ ? me->slideshowToolbarItems_ : me->normalToolbarItems_, true);
        });
        center->postNotificationName(kPhotoControllerControllsShowedMessage, nullptr);
        return;
    }
    if (descriptionView_) descriptionView_->setUserInteractionEnabled(false);
    UIView::animateWithDuration(duration, [weak] {
        auto me = weak.lock();
        if (!me) return;
        me->pageViewController_->view()->setBackgroundColor(UIColor::blackColor());
        if (me->descriptionView_) {
            me->descriptionView_->setAlpha(0);
            CGRect frame = me->descriptionView_->frame();
            frame.origin.y = me->view()->bounds().size.height;
            me->descriptionView_->setFrame(frame);
        }
    });
    center->postNotificationName(kPhotoControllerControllsHidedMessage, nullptr);
}

void PhotoPageViewController::imageTapNotification(const NSNotification& notification) {
    setControlsHidden(!controllsHidden_, true);
    auto page = std::dynamic_pointer_cast<ImageViewController>(notification.object());
    if (page && page->isViewLoaded())
        if (auto toast = page->view()->viewWithTag(kUIToastTag)) toast->removeFromSuperview();
}

bool PhotoPageViewController::prefersStatusBarHidden() const {
    // On the pad the status bar stays; on the phone (or when the idiom is unknown) it goes
    // with the controls.
    auto device = UIDevice::currentDevice();
    if (device->canReportUserInterfaceIdiom() && device->userInterfaceIdiom() != UIUserInterfaceIdiom::Phone) return false;
    return canHideStatusBar_ && controllsHidden_;
}

void PhotoPageViewController::willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation,
                                                                        double duration) {
    UIViewController::willAnimateRotationToInterfaceOrientation(orientation, duration);
    if (!descriptionView_) return;
    CGRect frame = descriptionFrame();
    if (controllsHidden_) frame.origin.y = view()->bounds().size.height;
    descriptionView_->setFrame(frame);
}

void PhotoPageViewController::clickPrev() {
    if (auto page = currentImageViewController()) setViewControllerForIndex(page->index() - 1);
}

void PhotoPageViewController::clickNext() {
    if (auto page = currentImageViewController()) setViewControllerForIndex(page->index() + 1);
}

void PhotoPageViewController::closeClick() {
    if (auto nav = navigationController()) nav->dismissViewControllerAnimated(true, nullptr);
}
