// The device stand-in: host-chosen values, readable from any thread.
#include "platform/ui/UIDevice.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/FileError.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIScreen.h"

#include <cstdio>

std::shared_ptr<UIDevice> UIDevice::currentDevice() {
    static auto* device = new std::shared_ptr<UIDevice>(new UIDevice);  // never destroyed
    return *device;
}

void UIDevice::applyProfile(UIUserInterfaceIdiom idiom) {
    auto device = currentDevice();
    {
        MutexLock lock(device->mutex_);
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
    MutexLock lock(mutex_);
    return canReportIdiom_ ? idiom_ : UIUserInterfaceIdiom::Unspecified;
}

bool UIDevice::canReportUserInterfaceIdiom() const {
    MutexLock lock(mutex_);
    return canReportIdiom_;
}

void UIDevice::setCanReportUserInterfaceIdiom(bool can) {
    MutexLock lock(mutex_);
    canReportIdiom_ = can;
}

void UIDevice::setUserInterfaceIdiom(UIUserInterfaceIdiom idiom) {
    MutexLock lock(mutex_);
    idiom_ = idiom;
}

std::string UIDevice::systemVersion() const {
    {
        MutexLock lock(mutex_);
        if (!systemVersion_.empty()) return systemVersion_;
    }
    const NSOperatingSystemVersion v = NSProcessInfo::processInfo()->operatingSystemVersion();
    std::string out = std::to_string(v.majorVersion) + "." + std::to_string(v.minorVersion);
    if (v.patchVersion != 0) out += "." + std::to_string(v.patchVersion);
    return out;
}

std::string UIDevice::identifierForVendorPath() { return Sandbox::home() + "/Device/identifierForVendor"; }

namespace {

// The identifier kept at `path`, or a new one written there. Whatever cannot be read or kept is
// said on standard error: a run that quietly made a new identifier at every launch would look
// like a new device each time.
std::shared_ptr<NSUUID> keptIdentifierForVendor(const std::string& path) {
    NSErrorPtr error;
    if (auto stored = readDataFromFile(path, &error)) {
        std::string text(stored->begin(), stored->end());
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
        if (auto identifier = NSUUID::initWithUUIDString(text)) return identifier;
        std::fprintf(stderr, "The identifier for vendor in %s is not an identifier; a new one replaces it.\n",
                     path.c_str());
    } else if (!error || error->code() != NSFileReadNoSuchFileError) {
        // Unreadable is not absent: the file stays for a later launch that can read it.
        std::fprintf(stderr, "The identifier for vendor in %s cannot be read (%s); this run uses a new one.\n",
                     path.c_str(), error ? error->localizedDescription().c_str() : "unknown error");
        return NSUUID::UUID();
    }
    auto identifier = NSUUID::UUID();
    const std::string text = identifier->UUIDString() + "\n";
    error.reset();
    const std::string folder = path.substr(0, path.rfind('/'));
    const int folderError = FileIO::current()->makeFolders(folder);
    if (folderError != 0) error = fileErrorForErrno(folderError, folder, true);
    if (folderError != 0 || !writeDataToFile(NSData(text.begin(), text.end()), path, true, &error)) {
        std::fprintf(stderr,
                     "The identifier for vendor cannot be kept in %s (%s); the next launch will make another one.\n",
                     path.c_str(), error ? error->localizedDescription().c_str() : "unknown error");
    }
    return identifier;
}

}  // namespace

std::shared_ptr<NSUUID> UIDevice::identifierForVendor() const {
    const std::string home = Sandbox::home();
    MutexLock lock(mutex_);
    if (!vendorIdentifierKnown_ || vendorIdentifierHome_ != home) {
        vendorIdentifier_ = keptIdentifierForVendor(identifierForVendorPath());
        vendorIdentifierHome_ = home;
        vendorIdentifierKnown_ = true;
    }
    return vendorIdentifier_;
}

void UIDevice::setIdentifierForVendor(std::shared_ptr<NSUUID> identifier) {
    const std::string home = Sandbox::home();
    MutexLock lock(mutex_);
    vendorIdentifier_ = std::move(identifier);
    vendorIdentifierHome_ = home;
    vendorIdentifierKnown_ = true;
}

void UIDevice::setSystemVersion(const std::string& version) {
    MutexLock lock(mutex_);
    systemVersion_ = version;
}

std::string UIDevice::model() const {
    MutexLock lock(mutex_);
    return idiom_ == UIUserInterfaceIdiom::Pad ? "iPad" : "iPhone";
}

UIDeviceOrientation UIDevice::orientation() const {
    MutexLock lock(mutex_);
    return orientation_;
}

void UIDevice::setOrientation(UIDeviceOrientation orientation) {
    bool post = false;
    {
        MutexLock lock(mutex_);
        if (orientation_ == orientation) return;
        orientation_ = orientation;
        post = generating_ > 0;
    }
    if (post)
        NSNotificationCenter::defaultCenter()->postNotificationName(UIDeviceOrientationDidChangeNotification,
                                                                    shared_from_this());
}

void UIDevice::beginGeneratingDeviceOrientationNotifications() {
    MutexLock lock(mutex_);
    ++generating_;
}

void UIDevice::endGeneratingDeviceOrientationNotifications() {
    MutexLock lock(mutex_);
    if (generating_ > 0) --generating_;
}

