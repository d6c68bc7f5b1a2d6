// The settings screen: its layout, the keys its controls write and the deletion of the
// downloaded pictures.
#include "gallery/UISettings.h"

#include "content/List_DataSource.h"
#include "content/Loader.h"
#include "content/dbEntry.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIAlertAction.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISlider.h"
#include "platform/ui/UISwitch.h"
#include "uikit/ActivityView.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

std::string settingsString(const std::string& key) { return NSLocalizedStringFromTable(key, "Settings"); }

void store(const std::function<void(NSUserDefaults&)>& write) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    write(*defaults);
    if (!defaults->synchronize()) Diagnostics::note("The settings could not be written; they hold for this run.");
}

}  // namespace

std::shared_ptr<UISettings> UISettings::initWithNibName(const std::string&, GalleryContext context) {
    return std::make_shared<UISettings>(std::move(context));
}

const std::vector<std::string>& UISettings::zoomSegments() {
    static const std::vector<std::string> segments = {"1x", "2x", "3x"};
    return segments;
}

void UISettings::loadView() {
    UIViewController::loadView();
    // The "Settings" layout: a column of controls under the navigation bar, as wide as the view.
    const CGFloat width = view()->bounds().size.width;
    const CGFloat margin = 20;
    const CGFloat inner = width - 2 * margin;
    auto flexible = UIViewAutoresizingFlexibleWidth;

    auto zoom = UISegmentedControl::initWithItems(zoomSegments());
    zoom->setFrame(CGRectMake(margin, 84, inner, 32));
    zoom->setAutoresizingMask(flexible);
    zoom->addTarget(self<UISettings>(), &UISettings::zoomChange, UIControlEventValueChanged);

    auto label = UILabel::initWithFrame(CGRectMake(margin, 136, inner, 24));
    label->setAutoresizingMask(flexible);

    auto slider = UISlider::initWithFrame(CGRectMake(margin, 164, inner, 31));
    slider->setMinimumValue(0);
    slider->setMaximumValue(kSlideshowDelayMaximum);
    slider->setAutoresizingMask(flexible);
    slider->addTarget(self<UISettings>(), &UISettings::slideshowDelayChange, UIControlEventValueChanged);

    auto hints = UISwitch::initWithFrame(CGRectMake(margin, 215, 51, 31));
    hints->addTarget(self<UISettings>(), &UISettings::fullScreenHintsEnabledChanged, UIControlEventValueChanged);
    // The switch's caption, beside it: two lines centred on the switch, so that a narrow phone
    // shows it whole.
    auto hintsCaption = UILabel::initWithFrame(CGRectMake(margin + 51 + 12, 215 + 31 / 2.0 - 22, inner - 51 - 12, 44));
    hintsCaption->setAutoresizingMask(flexible);
    hintsCaption->setNumberOfLines(2);
    hintsCaption->setText(settingsString(kFullScreenHintsCaptionKey));

    auto button = UIButton::buttonWithType(UIButtonTypeSystem);
    button->setFrame(CGRectMake(margin, 276, inner, 44));
    button->setAutoresizingMask(flexible);
    button->setTitle(settingsString("Delete"), UIControlStateNormal);
    button->addTarget(self<UISettings>(), &UISettings::deleteHdClick, UIControlEventTouchUpInside);

    for (const std::shared_ptr<UIView>& control : std::vector<std::shared_ptr<UIView>>{zoom, label, slider, hints, hintsCaption, button})
        view()->addSubview(control);
    zoom_ = zoom;
    slideshowDelayLabel_ = label;
    slideshowDelay_ = slider;
    fullScreenHintsEnabled_ = hints;
    deleteHdButton_ = button;
}

void UISettings::viewDidLoad() {
    UIViewController::viewDidLoad();
    navigationItem()->setTitle(settingsString("Settings"));
    std::weak_ptr<UISettings> weakSelf = self<UISettings>();
    navigationItem()->setLeftBarButtonItem(makeDoneButton(self<UISettings>(), [weakSelf](const std::shared_ptr<NSObject>&) {
        if (auto me = weakSelf.lock()) me->doneClick();
    }));
    const auto& config = context_.app.config;
    const auto color = config && config->color() ? config->color()->backgroundColor()
                                                 : OEColorConfig::Color::groupTableViewBackground();
    view()->setBackgroundColor(UIColor::colorWithRed(color.red, color.green, color.blue, color.alpha));

    auto defaults = NSUserDefaults::standardUserDefaults();
    if (auto control = zoom()) control->setSelectedSegmentIndex(static_cast<int>(defaults->integerForKey(kZoomKey)));
    if (auto slider = slideshowDelay()) slider->setValue(static_cast<float>(defaults->integerForKey(kSlideshowDelayKey)));
    if (auto hints = fullScreenHintsEnabled()) hints->setOn(defaults->boolForKey(kFullScreenHintsEnabledKey));
    slideshowDelayChange(slideshowDelay());
}

void UISettings::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(true, animated);
    if (auto button = deleteHdButton()) button->setHidden(false);
}

UIInterfaceOrientationMask UISettings::supportedInterfaceOrientations() const {
    const auto device = UIDevice::currentDevice();
    if (device->canReportUserInterfaceIdiom() && device->userInterfaceIdiom() == UIUserInterfaceIdiom::Pad)
        return UIInterfaceOrientationMaskPortrait | UIInterfaceOrientationMaskPortraitUpsideDown |
               UIInterfaceOrientationMaskLandscape;
    return UIInterfaceOrientationMaskPortrait;
}

void UISettings::doneClick() { dismissViewControllerAnimated(true, nullptr); }

void UISettings::zoomChange(const std::shared_ptr<NSObject>& sender) {
    auto control = std::dynamic_pointer_cast<UISegmentedControl>(sender);
    if (!control) return;
    store([&](NSUserDefaults& defaults) { defaults.setInteger(control->selectedSegmentIndex(), kZoomKey); });
}

void UISettings::slideshowDelayChange(const std::shared_ptr<NSObject>& sender) {
    auto slider = std::dynamic_pointer_cast<UISlider>(sender);
    if (!slider) return;
    const long delay = static_cast<long>(std::trunc(slider->value()));
    store([&](NSUserDefaults& defaults) { defaults.setInteger(delay, kSlideshowDelayKey); });
    if (auto label = slideshowDelayLabel())
        label->setText(NSString::format(settingsString("Slide show delay: %d"), delay + 4));
}

void UISettings::fullScreenHintsEnabledChanged(const std::shared_ptr<NSObject>& sender) {
    auto hints = std::dynamic_pointer_cast<UISwitch>(sender);
    if (!hints) return;
    store([&](NSUserDefaults& defaults) { defaults.setBool(hints->isOn(), kFullScreenHintsEnabledKey); });
}

void UISettings::deleteHdClick(const std::shared_ptr<NSObject>&) {
    std::weak_ptr<UISettings> weakSelf = self<UISettings>();
    auto action = UIAlertAction::actionWithTitle(settingsString("Delete"), UIAlertActionStyle::Destructive,
                                                 [weakSelf](const std::shared_ptr<UIAlertAction>&) {
                                                     if (auto me = weakSelf.lock()) me->deleteDownloadedPictures();
                                                 });
    showAskAlertWithMessage(self<UISettings>(), settingsString("Are you sure?"), action);
}

void UISettings::deleteDownloadedPictures() {
    ActivityView::sharedActivityView()->showActivityIndicator();
    // On the next turn, so the overlay is drawn before the files go.
    auto resources = context_.resources;
    DispatchQueue::mainQueue()->async([resources] {
        if (resources) resources->removeLoadedData();
        ActivityView::sharedActivityView()->hideActivityIndicator();
    });
}

std::vector<std::string> UISettings::allImagesDataList() const {
    const auto& app = context_.app;
    auto loader = Loader::loaderWithDBEntry(dbEntry::defaultEntry(app.config ? app.config->database() : nullptr), app);
    return List_DataSource::initWithLoader(loader)->allPaths();
}
