// Questions about the installation: device, extension, simulator, test store, and whether
// the application was installed from the App Store (which switches debugging aids off).
#pragma once

#include "platform/foundation/Value.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class UIApplication;

// Where the install-source test finds the images the process has loaded: each one's Mach-O
// header followed by its load commands, in load order.
class APMImageInfo {
public:
    virtual ~APMImageInfo() = default;
    virtual std::vector<NSData> loadedImageHeaders() const = 0;
};

class APMAEU {
public:
    static std::string deviceModel();
    static std::string systemVersion();
    // The main bundle's path ends with ".appex".
    static bool isAEX();
    // The application object; none inside an application extension, which has none to use.
    static std::shared_ptr<UIApplication> sharedApplication();
    // A simulator: the device model is "x86_64" or "i386".
    static bool isNOD();
    // The store receipt's path ("<home>/StoreKit/sandboxReceipt" when a test-store receipt is
    // there, else "<home>/StoreKit/receipt"); nothing when Info.plist
    // "RezaviviAppStoreReceiptURLCheckEnabled" is a false number.
    static std::optional<std::string> appStoreRURL();
    // The receipt is a test-store one.
    static bool isASRS();
    // Installed from the App Store: not a simulator, not a test store, and either an
    // "SC_Info" folder in the bundle or an encrypted main image without an embedded profile.
    static bool isFAS();

    // The first executable image's encryption command (44 in a 64-bit image, 33 in a 32-bit
    // one, found within the header's command count) has a non-zero crypt id. Images that are
    // not Mach-O executables, and commands running past the bytes, count as none.
    static bool mainImageEncryptionFlag(const std::vector<NSData>& images);
    // The flag of the loaded images, computed once per image source.
    static bool isMainImageEncrypted();
    // Replaces the image source; empty restores the process's own (here only its executable,
    // an ELF file, which never carries the command).
    static void setImageInfo(std::shared_ptr<APMImageInfo> imageInfo);
};
