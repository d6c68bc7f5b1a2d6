// The device the application runs on: interface idiom, system version, model and physical
// orientation, all chosen by the host (simulator or test) rather than read from the machine.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/NSUUID.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <memory>
#include <string>

enum class UIUserInterfaceIdiom : int { Unspecified = -1, Phone = 0, Pad = 1 };

enum class UIDeviceOrientation : int {
    Unknown = 0,
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeLeft = 3,
    LandscapeRight = 4,
    FaceUp = 5,
    FaceDown = 6,
};

inline bool UIDeviceOrientationIsLandscape(UIDeviceOrientation o) {
    return o == UIDeviceOrientation::LandscapeLeft || o == UIDeviceOrientation::LandscapeRight;
}

inline const std::string UIDeviceOrientationDidChangeNotification = "UIDeviceOrientationDidChangeNotification";

class UIDevice : public NSObject {
public:
    static std::shared_ptr<UIDevice> currentDevice();

    // Phone or pad: idiom, model and the main screen's size and scale together; the orientation
    // goes back to portrait and the idiom becomes reportable again.
    static void applyProfile(UIUserInterfaceIdiom idiom);

    UIUserInterfaceIdiom userInterfaceIdiom() const;
    // Callers ask before reading the idiom, as very old systems could not answer; a test can
    // switch the answer off, and then the idiom reads as Unspecified.
    bool canReportUserInterfaceIdiom() const;
    void setCanReportUserInterfaceIdiom(bool can);
    void setUserInterfaceIdiom(UIUserInterfaceIdiom idiom);

    // "15.0" by default, from the process's operating-system version.
    std::string systemVersion() const;
    void setSystemVersion(const std::string& version);
    // "iPhone" or "iPad" after the profile.
    std::string model() const;
    std::string localizedModel() const { return model(); }
    std::string name() const { return model(); }

    // The identifier the device keeps for this application's vendor: random, made at the first
    // read in a home and kept in that home (Device/identifierForVendor), so every launch on the
    // same home reads the same one. When it cannot be kept, the run says so on standard error and
    // uses the one it made. The host may set one for the current home; none after setting none
    // (as while the device is locked).
    std::shared_ptr<NSUUID> identifierForVendor() const;
    void setIdentifierForVendor(std::shared_ptr<NSUUID> identifier);
    // Where the identifier of the current home is kept.
    static std::string identifierForVendorPath();

    UIDeviceOrientation orientation() const;
    // Posts the did-change notification (object: the device) when the orientation changes
    // while notifications are being generated.
    void setOrientation(UIDeviceOrientation orientation);
    void beginGeneratingDeviceOrientationNotifications();
    void endGeneratingDeviceOrientationNotifications();

private:
    UIDevice() = default;

    mutable Mutex mutex_;
    UIUserInterfaceIdiom idiom_ GUARDED_BY(mutex_) = UIUserInterfaceIdiom::Phone;
    bool canReportIdiom_ GUARDED_BY(mutex_) = true;
    std::string systemVersion_ GUARDED_BY(mutex_);
    UIDeviceOrientation orientation_ GUARDED_BY(mutex_) = UIDeviceOrientation::Portrait;
    int generating_ GUARDED_BY(mutex_) = 0;
    // The home the identifier below belongs to; another home reads its own.
    mutable std::string vendorIdentifierHome_ GUARDED_BY(mutex_);
    mutable bool vendorIdentifierKnown_ GUARDED_BY(mutex_) = false;
    mutable std::shared_ptr<NSUUID> vendorIdentifier_ GUARDED_BY(mutex_);
};
