// Pages side by side: one page at a time, the neighbours asked of the data source as a person
// swipes (a pan across the view, or swipe() from a test), the delegate told when a turn ends.
#pragma once

#include "platform/foundation/Value.h"
#include "platform/ui/UIViewController.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class UIPageViewController;
class UIPanGestureRecognizer;

enum class UIPageViewControllerTransitionStyle : int { PageCurl = 0, Scroll = 1 };
enum class UIPageViewControllerNavigationOrientation : int { Horizontal = 0, Vertical = 1 };
enum class UIPageViewControllerNavigationDirection : int { Forward = 0, Reverse = 1 };

inline const std::string UIPageViewControllerOptionInterPageSpacingKey = "UIPageViewControllerOptionInterPageSpacingKey";

class UIPageViewControllerDataSource {
public:
    virtual ~UIPageViewControllerDataSource() = default;
    // The page before (after) `page`, or none at the end.
    virtual std::shared_ptr<UIViewController> pageViewControllerViewControllerBeforeViewController(
        UIPageViewController& pager, const std::shared_ptr<UIViewController>& page) = 0;
    virtual std::shared_ptr<UIViewController> pageViewControllerViewControllerAfterViewController(
        UIPageViewController& pager, const std::shared_ptr<UIViewController>& page) = 0;
};

class UIPageViewControllerDelegate {
public:
    virtual ~UIPageViewControllerDelegate() = default;
    virtual void pageViewControllerWillTransitionToViewControllers(UIPageViewController&,
                                                                   const std::vector<std::shared_ptr<UIViewController>>&) {}
    // `completed` is false when the person let go before the page turned.
    virtual void pageViewControllerDidFinishAnimatingPreviousViewControllersTransitionCompleted(
        UIPageViewController&, bool /*finished*/, const std::vector<std::shared_ptr<UIViewController>>& /*previous*/,
        bool /*completed*/) {}
};

class UIPageViewController : public UIViewController {
public:
    using Completion = std::function<void(bool finished)>;

    static std::shared_ptr<UIPageViewController> initWithTransitionStyle(
        UIPageViewControllerTransitionStyle style, UIPageViewControllerNavigationOrientation orientation,
        const Value::Dictionary& options = {});
    UIPageViewController(UIPageViewControllerTransitionStyle style, UIPageViewControllerNavigationOrientation orientation,
                         CGFloat interPageSpacing);

    CGFloat interPageSpacing() const { return spacing_; }

    std::shared_ptr<UIPageViewControllerDataSource> dataSource() const { return dataSource_.lock(); }
    void setDataSource(const std::shared_ptr<UIPageViewControllerDataSource>& source) { dataSource_ = source; }
    std::shared_ptr<UIPageViewControllerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<UIPageViewControllerDelegate>& delegate) { delegate_ = delegate; }

    // The page shown (a one-element list, or empty before the first is set).
    std::vector<std::shared_ptr<UIViewController>> viewControllers() const;
    // Shows the first of `pages` (the others are ignored, as in the scroll style). The
    // completion runs on a later turn of the main run loop, after the turn's clock time when
    // animated. The delegate is not told: only a person's swipe tells it.
    void setViewControllers(const std::vector<std::shared_ptr<UIViewController>>& pages,
                            UIPageViewControllerNavigationDirection direction, bool animated, Completion completion);

    // A person's swipe to the next (forward) or previous page; with `complete` false the page
    // starts to turn and falls back. The turn ends after its clock time. False (nothing
    // happens) when the data source has no page that way or a turn is under way.
    bool swipe(bool forward, bool complete = true);
    static double turnDuration() { return 0.35; }

    void loadView() override;
    void viewDidLoad() override;
    std::vector<std::shared_ptr<UIViewController>> childrenForAppearance() const override;

private:
    void show(const std::shared_ptr<UIViewController>& page);
    void drop(const std::shared_ptr<UIViewController>& page);
    void handlePan(const std::shared_ptr<UIPanGestureRecognizer>& pan);

    UIPageViewControllerNavigationOrientation orientation_;
    CGFloat spacing_;
    std::weak_ptr<UIPageViewControllerDataSource> dataSource_;
    std::weak_ptr<UIPageViewControllerDelegate> delegate_;
    std::shared_ptr<UIViewController> current_;
    bool turning_ = false;
};
