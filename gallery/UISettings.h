// The gallery's settings screen: the double-tap zoom, the slideshow delay, the full-screen
// hints, and the deletion of the downloaded pictures. Each control writes its user-defaults
// key at once; the picture screens read the keys when they need them.
#pragma once

#include "gallery/GalleryContext.h"
#include "platform/ui/UIViewController.h"

#include <memory>
#include <string>
#include <vector>

class UIButton;
class UILabel;
class UISegmentedControl;
class UISlider;
class UISwitch;

// User-defaults keys of the settings.
inline constexpr const char* kZoomKey = "zoom";
inline constexpr const char* kSlideshowDelayKey = "slideshowDelay";
inline constexpr const char* kFullScreenHintsEnabledKey = "fullScreenHintsEnabled";
// The "Settings" text beside the hints switch.
inline constexpr const char* kFullScreenHintsCaptionKey = "Show names in full screen";

class UISettings : public UIViewController {
public:
    // The screen with its controls laid out as the "Settings" layout has them.
    static std::shared_ptr<UISettings> initWithNibName(const std::string& nibName, GalleryContext context);
    explicit UISettings(GalleryContext context) : context_(std::move(context)) {}

    std::shared_ptr<UISegmentedControl> zoom() const { return zoom_.lock(); }
    std::shared_ptr<UISlider> slideshowDelay() const { return slideshowDelay_.lock(); }
    std::shared_ptr<UILabel> slideshowDelayLabel() const { return slideshowDelayLabel_.lock(); }
    std::shared_ptr<UISwitch> fullScreenHintsEnabled() const { return fullScreenHintsEnabled_.lock(); }
    std::shared_ptr<UIButton> deleteHdButton() const { return deleteHdButton_.lock(); }

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    // Every orientation on a pad, portrait elsewhere.
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override;

    void doneClick();
    void zoomChange(const std::shared_ptr<NSObject>& sender);
    // Stores the slider's value truncated toward zero; the label shows it plus 4 seconds.
    void slideshowDelayChange(const std::shared_ptr<NSObject>& sender);
    void fullScreenHintsEnabledChanged(const std::shared_ptr<NSObject>& sender);
    // Asks first; the confirmation deletes the downloaded pictures behind the activity overlay.
    void deleteHdClick(const std::shared_ptr<NSObject>& sender);
    // The image path of every picture of the images database.
    std::vector<std::string> allImagesDataList() const;

    // The zoom choices: one, two or three device pixels per picture pixel on a double tap.
    static const std::vector<std::string>& zoomSegments();
    static constexpr float kSlideshowDelayMaximum = 10;

private:
    void deleteDownloadedPictures();

    GalleryContext context_;
    std::weak_ptr<UISegmentedControl> zoom_;
    std::weak_ptr<UISlider> slideshowDelay_;
    std::weak_ptr<UILabel> slideshowDelayLabel_;
    std::weak_ptr<UISwitch> fullScreenHintsEnabled_;
    std::weak_ptr<UIButton> deleteHdButton_;
};
