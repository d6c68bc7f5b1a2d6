// Questions about the installation: device, extension, simulator, test store, and whether
// the application was installed from the App Store (which switches debugging aids off).
#pragma once

#include <optional>
#include <string>

class APMAEU {
public:
    static std::string deviceModel();
    static std::string systemVersion();
    // The main bundle's path ends with ".appex".
    static bool isAEX();
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
    // The main executable carries a 64-bit (command 44) or 32-bit (command 33) encryption
    // command with a non-zero crypt id. Computed once.
    static bool isMainImageEncrypted();
};
