// File locations and moves of the measurement engine.
#include "analytics/core/APMFileLocations.h"

#include "analytics/core/APMError.h"
#include "analytics/core/APMMonitor.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSSearchPath.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"

namespace {

std::string lastUserFolder(NSSearchPathDirectory directory, std::int64_t code, const char* message) {
    auto folders = NSSearchPathForDirectoriesInDomains(directory, NSUserDomainMask, true);
    if (folders.empty()) {
        APMMeasurementMonitor()->logWithLevel(2, code, message);
        return {};
    }
    return NSString::stringByExpandingTildeInPath(folders.back());
}

}  // namespace

bool APMExcludePathFromBackup(const std::string& path, NSErrorPtr* error) {
    return NSFileManager::defaultManager()->setExcludedFromBackup(true, path, error);
}

std::string APMPreferencesPlistPath(const std::string& name) {
    if (name.empty()) return {};
    const std::string library =
        lastUserFolder(NSLibraryDirectory, 19000, "NSSearchPath for Library directory is empty");
    if (library.empty()) return {};
    return NSString::stringByAppendingPathComponent(NSString::stringByAppendingPathComponent(library, "Preferences"),
                                                    name + ".plist");
}

std::string APMApplicationSupportPath(const std::string& name) {
    if (name.empty()) return {};
    const std::string support = lastUserFolder(NSApplicationSupportDirectory, 19001,
                                               "NSSearchPath for ApplicationSupport directory is empty");
    if (support.empty()) return {};
    std::string path = NSString::stringByAppendingPathComponent(support, "Vizudi");
    path = NSString::stringByAppendingPathComponent(path, "Measurement");
    return NSString::stringByAppendingPathComponent(path, name);
}

std::string APMApplicationSupportPlistPath(const std::string& name) {
    if (name.empty()) return {};
    if (NSString::pathExtension(name) == "plist") return APMApplicationSupportPath(name);
    return APMApplicationSupportPath(name + ".plist");
}

bool APMDeleteFileAtPath(const std::string& path, NSErrorPtr* error) {
    if (path.empty()) {
        APMSetError(error, APMErrorInvalidArgument, "Received empty path for deleting file");
        return false;
    }
    return NSFileManager::defaultManager()->removeItemAtPath(path, error);
}

bool APMMoveFile(const std::string& sourcePath, const std::string& destinationPath, bool overwrite) {
    if (sourcePath.empty() || destinationPath.empty()) return false;
    auto fileManager = NSFileManager::defaultManager();
    bool sourceIsDirectory = false;
    if (!fileManager->fileExistsAtPath(sourcePath, &sourceIsDirectory)) return true;
    if (sourceIsDirectory) return false;
    bool destinationIsDirectory = false;
    if (fileManager->fileExistsAtPath(destinationPath, &destinationIsDirectory)) {
        if (destinationIsDirectory) return false;
        if (!overwrite) return fileManager->removeItemAtPath(sourcePath);
        if (!fileManager->removeItemAtPath(destinationPath)) return false;
    }
    const std::string parent = NSString::stringByDeletingLastPathComponent(destinationPath);
    if (!parent.empty() && !fileManager->createDirectoryAtPath(parent, true)) return false;
    return fileManager->moveItemAtPath(sourcePath, destinationPath);
}

bool APMMoveSuitePlistToApplicationSupport(const std::string& suiteName) {
    if (suiteName.empty()) return false;
    const bool moved = APMMoveFile(APMPreferencesPlistPath(suiteName), APMApplicationSupportPlistPath(suiteName), false);
    if (moved) NSUserDefaults::standardUserDefaults()->removePersistentDomainForName(suiteName);
    return moved;
}

bool APMMoveSuitePlistToPreferences(const std::string& suiteName) {
    if (suiteName.empty()) return false;
    const std::string source = APMApplicationSupportPlistPath(suiteName);
    Value contents;
    if (!source.empty() && NSFileManager::defaultManager()->fileExistsAtPath(source)) {
        contents = NSPropertyListSerialization::propertyListWithContentsOfFile(source);
    }
    const bool moved = APMMoveFile(source, APMPreferencesPlistPath(suiteName), true);
    if (contents.isDictionary()) {
        NSUserDefaults::standardUserDefaults()->removePersistentDomainForName(suiteName);
        auto suite = NSUserDefaults::initWithSuiteName(suiteName);
        if (suite) {
            // Values read from a property list are property-list values: none is refused.
            for (const auto& [key, value] : contents.dictionary()) (void)suite->setObject(value, key);
            // The domain removal deleted the moved file: write the values back now. A failed write
            // keeps them pending in the defaults, which write them with the next change.
            (void)suite->synchronize();
        }
    }
    return moved;
}
