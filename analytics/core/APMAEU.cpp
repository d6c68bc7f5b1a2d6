// The installation: device, extension, simulator, store receipt and install source.
#include "analytics/core/APMAEU.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/services/VULAppEnvironmentUtil.h"
#include "platform/ui/UIApplication.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

constexpr std::uint32_t kMachMagic32 = 0xfeedface;
constexpr std::uint32_t kMachMagic64 = 0xfeedfacf;
constexpr std::uint32_t kMachExecute = 0x2;
constexpr std::uint32_t kEncryptionInfo32 = 33;
constexpr std::uint32_t kEncryptionInfo64 = 44;

std::uint32_t readWord(const NSData& bytes, std::size_t offset) {
    std::uint32_t word = 0;
    std::memcpy(&word, bytes.data() + offset, sizeof word);
    return word;
}

bool isMachOExecutable(const NSData& image) {
    if (image.size() < 28) return false;
    const std::uint32_t magic = readWord(image, 0);
    return (magic == kMachMagic32 || magic == kMachMagic64) && readWord(image, 12) == kMachExecute;
}

// The images of this process: its executable's first bytes, where a Mach-O header and its
// load commands would be.
class ProcessImageInfo : public APMImageInfo {
public:
    std::vector<NSData> loadedImageHeaders() const override {
        std::ifstream file("/proc/self/exe", std::ios::binary);
        if (!file) return {};
        std::vector<char> head(64 * 1024);
        file.read(head.data(), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<std::size_t>(file.gcount()));
        return {NSData(head.begin(), head.end())};
    }
};

Mutex gImageMutex;
std::shared_ptr<APMImageInfo> gImageInfo GUARDED_BY(gImageMutex);
std::optional<bool> gEncrypted GUARDED_BY(gImageMutex);

}  // namespace

std::string APMAEU::deviceModel() { return VULAppEnvironmentUtil::deviceModel(); }

std::string APMAEU::systemVersion() { return VULAppEnvironmentUtil::systemVersion(); }

bool APMAEU::isAEX() {
    auto bundle = NSBundle::mainBundle();
    return bundle && NSString::hasSuffix(bundle->bundlePath(), ".appex");
}

std::shared_ptr<UIApplication> APMAEU::sharedApplication() {
    return isAEX() ? nullptr : UIApplication::sharedApplication();
}

bool APMAEU::isNOD() {
    const std::string model = deviceModel();
    return model == "x86_64" || model == "i386";
}

std::optional<std::string> APMAEU::appStoreRURL() {
    auto bundle = NSBundle::mainBundle();
    if (bundle) {
        const Value check = bundle->objectForInfoDictionaryKey("RezaviviAppStoreReceiptURLCheckEnabled");
        if (check.isNumber() && !check.boolValue()) return std::nullopt;
    }
    const std::string folder = NSString::stringByAppendingPathComponent(Sandbox::home(), "StoreKit");
    const std::string sandboxReceipt = NSString::stringByAppendingPathComponent(folder, "sandboxReceipt");
    if (NSFileManager::defaultManager()->fileExistsAtPath(sandboxReceipt)) return sandboxReceipt;
    return NSString::stringByAppendingPathComponent(folder, "receipt");
}

bool APMAEU::isASRS() {
    auto url = appStoreRURL();
    return url && NSString::lastPathComponent(*url) == "sandboxReceipt";
}

bool APMAEU::mainImageEncryptionFlag(const std::vector<NSData>& images) {
    auto image = std::find_if(images.begin(), images.end(), isMachOExecutable);
    if (image == images.end()) return false;
    const bool is64 = readWord(*image, 0) == kMachMagic64;
    const std::uint32_t commandCount = readWord(*image, 16);
    const std::uint32_t wanted = is64 ? kEncryptionInfo64 : kEncryptionInfo32;
    std::size_t offset = is64 ? 32 : 28;
    for (std::uint32_t i = 0; i < commandCount; ++i) {
        if (offset + 8 > image->size()) return false;
        const std::uint32_t command = readWord(*image, offset);
        const std::uint32_t size = readWord(*image, offset + 4);
        if (command == wanted) {
            if (offset + 20 > image->size()) return false;
            return readWord(*image, offset + 16) != 0;  // the crypt id, fifth word
        }
        if (size < 8) return false;  // a malformed command would loop in place
        offset += size;
    }
    return false;
}

bool APMAEU::isMainImageEncrypted() {
    MutexLock lock(gImageMutex);
    if (!gEncrypted) {
        const std::shared_ptr<APMImageInfo> source = gImageInfo ? gImageInfo : std::make_shared<ProcessImageInfo>();
        gEncrypted = mainImageEncryptionFlag(source->loadedImageHeaders());
    }
    return *gEncrypted;
}

void APMAEU::setImageInfo(std::shared_ptr<APMImageInfo> imageInfo) {
    MutexLock lock(gImageMutex);
    gImageInfo = std::move(imageInfo);
    gEncrypted.reset();
}

bool APMAEU::isFAS() {
    if (isNOD() || isASRS()) return false;
    auto bundle = NSBundle::mainBundle();
    if (!bundle) return false;
    bool isDirectory = false;
    const std::string scInfo = NSString::stringByAppendingPathComponent(bundle->bundlePath(), "SC_Info");
    if (NSFileManager::defaultManager()->fileExistsAtPath(scInfo, &isDirectory) && isDirectory) return true;
    return isMainImageEncrypted() && bundle->pathForResource("embedded", "mobileprovision").empty();
}
