// The device stand-in: host-chosen values, readable from any thread.
#include "platform/ui/UIDevice.h"

#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/ui/UIScreen.h"

std::shared_ptr<UIDevice> UIDevice::currentDevice() {
    static auto* device = new std::shared_ptr<UIDevice>(new UIDevice);  // never destroyed
    return *device;
}

void UIDevice::applyProfile(UIUserInterfaceIdiom idiom) {
    auto device = currentDevice();
    {
        std::lock_guard lock(device->mutex_);
        device->idiom_ = idiom == UIUserInterfaceIdiom::Pad ? UIUserInterfaceIdiom::Pad : UIUserInterfaceIdiom::Phone;
        device->canReportIdiom_ = true;
        device->orientation_ = UIDeviceOrientation::Portrait;
    }
    auto screen = UIScreen::mainScreen();
    screen->setPortraitSize(idiom == UIUserInterfaceIdiom::Pad ? UIScreen::padSize() : UIScreen::phoneSize());
    screen->setScale(2.0);
    screen->setLandscape(false);
    screen->setUserInterfaceStyle(UIUserInterfaceStyle::Light);
}

UIUserInterfaceIdiom UIDevice::userInterfaceIdiom() const {
    std::lock_guard lock(mutex_);
    return canReportIdiom_ ? idiom_ : UIUserInterfaceIdiom::Unspecified;
}

bool UIDevice::canReportUserInterfaceIdiom() const {
    std::lock_guard lock(mutex_);
    return canReportIdiom_;
}

void UIDevice::setCanReportUserInterfaceIdiom(bool can) {
    std::lock_guard lock(mutex_);
    canReportIdiom_ = can;
}

void UIDevice::setUserInterfaceIdiom(UIUserInterfaceIdiom idiom) {
    std::lock_guard lock(mutex_);
    idiom_ = idiom;
}

std::string UIDevice::systemVersion() const {
    {
        std::lock_guard lock(mutex_);
        if (!systemVersion_.empty()) return systemVersion_;
    }
    const NSOperatingSystemVersion v = NSProcessInfo::processInfo()->operatingSystemVersion();
    std::string out = std::to_string(v.majorVersion) + "." + std::to_string(v.minorVersion);
    if (v.patchVersion != 0) out += "." + std::to_string(v.patchVersion);
    return out;
}

std::shared_ptr<NSUUID> UIDevice::identifierForVendor() const {
    std::lock_guard lock(mutex_);
    if (!vendorIdentifierMade_) {
        vendorIdentifier_ = NSUUID::UUID();
        vendorIdentifierMade_ = true;
    }
    return vendorIdentifier_;
}

void UIDevice::setIdentifierForVendor(std::shared_ptr<NSUUID> identifier) {
    std::lock_guard lock(mutex_);
    vendorIdentifier_ = std::move(identifier);
    vendorIdentifierMade_ = true;
}

void UIDevice::setSystemVersion(const std::string& version) {
    std::lock_guard lock(mutex_);
    systemVersion_ = version;
}

std::string UIDevice::model() const {
    std::lock_guard lock(mutex_);
    return idiom_ == UIUserInterfaceIdiom::Pad ? "iPad" : "iPhone";
}

UIDeviceOrientation UIDevice::orientation() const {
    std::lock_guard lock(mutex_);
    return orientation_;
}

void UIDevice::setOrientation(UIDeviceOrientation orientation) {
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        if (orientation_ == orientation) return;
        orientation_ = orientation;
        post = generating_ > 0;
    }
    if (post)
        NSNotificationCenter::defaultCenter()->postNotificationName(UIDeviceOrientationDidChangeNotification,
                                                                    shared_from_this());
}

void UIDevice::beginGeneratingDeviceOrientationNotifications() {
    std::lock_guard lock(mutex_);
    ++generating_;
}

void UIDevice::endGeneratingDeviceOrientationNotifications() {
    std::lock_guard lock(mutex_);
    if (generating_ > 0) --generating_;
}

bool UIDevice::isGeneratingDeviceOrientationNotifications() const {
    std::lock_guard lock(mutex_);
    return generating_ > 0;
}
