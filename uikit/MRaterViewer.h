// The rating prompt's banner: 44 points (plus the window's bottom safe area) sliding in below
// the presenting controller's view, which shrinks to make room. It asks whether the user likes
// the application, then either asks for a rating or what the user dislikes, and reports the
// answer as a state through its close block: 1 rated, 2 declined to rate, 3 wrote to support,
// 4 declined to write. It also composes the feedback mail to the maker.
#pragma once

#include "platform/messageui/MFMailComposeViewController.h"
#include "uikit/MRaterView.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class UIImageView;
class UIViewController;

// The rater's side: the question on the first screen. An empty answer keeps the default.
class MRaterViewerDataSource {
public:
    virtual ~MRaterViewerDataSource() = default;
    virtual std::string raterTitleForFirstScreen() { return ""; }
};

class MRaterViewer : public NSObject, public MFMailComposeViewControllerDelegate {
public:
    using CloseBlock = std::function<void(std::uint64_t state)>;

    // The 320 x 44 banner with its grey background and tiled background image.
    static std::shared_ptr<MRaterViewer> make();
    ~MRaterViewer() override;

    bool isPresenting() const { return isPresenting_; }
    const std::string& appID() const { return appID_; }
    void setAppID(std::string appID) { appID_ = std::move(appID); }
    void setCloseBlock(CloseBlock block) { closeBlock_ = std::move(block); }
    // Held weakly.
    void setDataSource(const std::shared_ptr<MRaterViewerDataSource>& dataSource) { dataSource_ = dataSource; }
    const std::shared_ptr<UIView>& viewerView() const { return viewerView_; }
    const std::shared_ptr<MRaterView>& currentView() const { return currentView_; }
    const std::shared_ptr<UIImageView>& backgroundImageView() const { return backgroundImageView_; }
    // The controller given to presentInController, or the root controller when there is none.
    std::shared_ptr<UIViewController> presentingController() const;
    std::shared_ptr<UIView> rootView() const;
    // The banner has a superview.
    bool isOnScreen() const;

    // Slides the banner in below `controller`'s view, which shrinks by the banner's height (0.5 s
    // after 1 s). Keeps the view at that height while the banner is up, whatever resets it to
    // the window's height. Nothing for no controller, or while the banner is up or sliding.
    void presentInController(const std::shared_ptr<UIViewController>& controller, bool animated);
    // The same over the key window's root controller, 44 points high, without watching its size.
    void present(bool animated);
    // Slides the banner out and gives the view its height back; stops watching the view.
    void close(bool animated);
    // close, then the close block with the state.
    void closeWithState(std::uint64_t state);

    void showFirstScreen();
    void showEnjoyScreen();
    void showNotEnjoyScreen();
    // Fades the current screen out and `view` in (0.3 s each).
    void showView(const std::shared_ptr<MRaterView>& view);
    std::shared_ptr<MRaterView> firstScreen();
    std::shared_ptr<MRaterView> enjoyScreen();
    std::shared_ptr<MRaterView> notEnjoyScreen();
    std::shared_ptr<MRaterView> raterViewWithTitle(const std::string& title, const std::string& leftButtonTitle,
                                                   const std::string& rightButtonTitle, MRaterView::Block leftButtonBlock,
                                                   MRaterView::Block rightButtonBlock);

    // Answers 1 and opens the store page through the rater.
    void rateApp();
    // With a mail account: the feedback mail, then answers 3. Without: the "Mail not configured"
    // alert, and the banner stays.
    void askForSupport();
    void showMailComposer();
    void mailNotConfiguredAlert();
    void showAlertWithTitle(const std::string& title, const std::string& message);
    void mailComposeControllerDidFinishWithResult(const std::shared_ptr<MFMailComposeViewController>& controller,
                                                  MFMailComposeResult result, const NSErrorPtr& error) override;
    // The feedback mail's subject: "Support <name> (version <short> (<build>), <model> <system>)".
    std::string supportSubject() const;

    // Watching the presenting view's frame: at most one watch, on one view, at a time.
    void registerKVO();
    void unregisterKVO();
    bool isObservingFrame() const { return observedToken_ != 0; }
    // Shrinks the view again when something gave it the window's full height while the
    // banner is up and still.
    void checkFrame();

    // The localised display name, else the Info.plist's.
    static std::string appName();
    // The texts of the banner's screens, from the "MRaterLocalized" table.
    static std::string localized(const std::string& key);

    static constexpr double kBannerHeight = 44;

private:
    void placeBelowRoot(const std::shared_ptr<UIView>& root, CGFloat height, bool animated, bool watchFrame);

    bool isPresenting_ = false;
    std::string appID_;
    CloseBlock closeBlock_;
    std::weak_ptr<MRaterViewerDataSource> dataSource_;
    std::shared_ptr<UIView> viewerView_;
    std::shared_ptr<MRaterView> currentView_;
    std::shared_ptr<UIImageView> backgroundImageView_;
    std::weak_ptr<UIViewController> presentingController_;
    std::weak_ptr<UIView> observedView_;
    std::uint64_t observedToken_ = 0;
};
