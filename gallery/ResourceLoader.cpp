// Picture lookup across the storage areas and the viewed-pictures property list.
#include "gallery/ResourceLoader.h"

#include "content/ContentLog.h"
#include "content/DataSource.h"
#include "gallery/FullSizePictureHolder.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileError.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/ProcessShared.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"

#include <atomic>
#include <cstdio>

namespace {

constexpr const char* kLandscapeSuffix = "_land";
constexpr const char* kDeviceSuffix = "";
// How many found picture files a loader remembers before it starts afresh.
constexpr std::size_t kKnownPathsLimit = 4096;
// Moves on whenever pictures are announced changed or removed, by any loader: where a picture
// was found may then no longer be where it is found first.
std::atomic<std::uint64_t> gPicturesGeneration{0};

ProcessShared<ResourceLoader> gLoader;

}  // namespace

std::shared_ptr<ResourceLoader> ResourceLoader::sharedResourceLoader() {
    return gLoader.get([] { return make(FileSystem::sharedFileSystem()); });
}

void ResourceLoader::resetSharedResourceLoader() { (void)gLoader.take(); }

bool ResourceLoader::hasSharedResourceLoader() { return gLoader.current() != nullptr; }

std::shared_ptr<ResourceLoader> ResourceLoader::make(std::shared_ptr<FileSystem> fileSystem) {
    return std::make_shared<ResourceLoader>(std::move(fileSystem));
}

ResourceLoader::ResourceLoader(std::shared_ptr<FileSystem> fileSystem)
    : fileSystem_(std::move(fileSystem)), fullSizePictures_(FullSizePictureHolder::make()) {
    // The paged grid reads the device orientation when it lays out.
    UIDevice::currentDevice()->beginGeneratingDeviceOrientationNotifications();
}

// The device's notifications are counted: each loader takes back the interest it registered.
ResourceLoader::~ResourceLoader() { UIDevice::currentDevice()->endGeneratingDeviceOrientationNotifications(); }

std::string ResourceLoader::appendToPath(const std::string& name, const std::string& suffix) {
    const auto dot = name.find('.');
    if (dot == std::string::npos) return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

std::string ResourceLoader::orientationPath(const std::string& name, UIInterfaceOrientation orientation) {
    return appendToPath(name, UIInterfaceOrientationIsLandscape(orientation) ? kLandscapeSuffix : "");
}

std::string ResourceLoader::deviceSpecificPath(const std::string& name) { return appendToPath(name, kDeviceSuffix); }

std::shared_ptr<UIImage> ResourceLoader::loadOrientationImage(const std::string& name,
                                                              UIInterfaceOrientation orientation) const {
    return UIImage::imageNamed(orientationPath(name, orientation));
}

std::shared_ptr<UIImage> ResourceLoader::loadImage(const std::string& name, UIInterfaceOrientation orientation) const {
    return UIImage::imageNamed(deviceSpecificPath(orientationPath(name, orientation)));
}

std::shared_ptr<UIImage> ResourceLoader::loadImage(const std::string& name) const {
    return loadImage(name, currentOrientation());
}

std::optional<std::string> ResourceLoader::picturePath(const std::string& relativePath) const {
    // Paths come from the content databases: nothing outside the storage areas is read.
    if (!FileSystem::isSafeRelativePath(relativePath)) return std::nullopt;
    return fileSystem_->findFilePath(relativePath);
}

std::shared_ptr<UIImage> ResourceLoader::loadImageFrom(const std::string& relativePath) const {
    return loadFound(relativePath,
                     [](const std::string& path, NSErrorPtr* error) { return UIImage::imageWithContentsOfFile(path, error); });
}

std::shared_ptr<UIImage> ResourceLoader::loadWholeImageFrom(const std::string& relativePath) const {
    auto image = loadImageFrom(relativePath);
    if (!image) return nullptr;
    auto kept = fullSizePictures_->samePictureKept(*image);
    return kept ? kept : image;
}

std::shared_ptr<UIImage> ResourceLoader::loadImageFrom(const std::string& relativePath, int maxPixelSize) const {
    return loadFound(relativePath, [maxPixelSize](const std::string& path, NSErrorPtr* error) {
        return UIImage::reducedImageWithContentsOfFile(path, maxPixelSize, error);
    });
}

std::shared_ptr<UIImage> ResourceLoader::loadShownImageFrom(const std::string& relativePath, int maxPixelSize,
                                                            NSErrorPtr* error) const {
    auto image = loadFound(
        relativePath,
        [maxPixelSize](const std::string& path, NSErrorPtr* why) {
            return UIImage::imageWithinBoundWithContentsOfFile(path, maxPixelSize, why);
        },
        error);
    if (!image || image->isReduced()) return image;
    auto kept = fullSizePictures_->samePictureKept(*image);
    return kept ? kept : image;
}

std::shared_ptr<UIImage> ResourceLoader::loadLargestImageFrom(const std::string& relativePath, int maxPixelSize) const {
    return loadFound(relativePath, [maxPixelSize](const std::string& path, NSErrorPtr* error) {
        return UIImage::largestReducedImageWithContentsOfFile(path, maxPixelSize, error);
    });
}

// A screen shows the same pictures again and again (a thumbnail per cell as it scrolls): the
// file found last time is read straight away, and only when that fails are the four places
// looked through again.
std::shared_ptr<UIImage> ResourceLoader::loadFound(const std::string& relativePath, const PictureLoad& load,
                                                  NSErrorPtr* refusal) const {
    if (refusal) refusal->reset();
    if (!FileSystem::isSafeRelativePath(relativePath)) return nullptr;
    std::optional<std::string> known;
    {
        MutexLock lock(knownMutex_);
        const std::uint64_t generation = gPicturesGeneration.load(std::memory_order_acquire);
        if (knownGeneration_ != generation || knownPaths_.size() >= kKnownPathsLimit) {
            knownPaths_.clear();
            knownGeneration_ = generation;
        }
        if (auto it = knownPaths_.find(relativePath); it != knownPaths_.end()) known = it->second;
    }
    NSErrorPtr error;
    if (known) {
        if (auto image = load(*known, &error)) return image;
    }
    auto path = picturePath(relativePath);
    if (!path) return nullptr;
    error.reset();
    auto image = load(*path, &error);
    if (!image && error) {
        logUnshowable(*path, error);
        // The bundle is looked in first and never changes: a picture it holds that cannot be
        // shown (over the pixel cap) would otherwise hide the good copy downloaded for it.
        if (*path == fileSystem_->bundlePathForFile(relativePath)) {
            if (auto writable = fileSystem_->findFilePathInWritableLocation(relativePath)) {
                path = std::move(writable);
                error.reset();
                image = load(*path, &error);
                if (!image && error) logUnshowable(*path, error);
            }
        }
    }
    if (refusal) *refusal = image ? nullptr : error;
    MutexLock lock(knownMutex_);
    if (image) knownPaths_[relativePath] = *path;
    else knownPaths_.erase(relativePath);
    return image;
}

void ResourceLoader::logUnshowable(const std::string& path, const NSErrorPtr& error) const {
    const auto attributes = NSFileManager::defaultManager()->attributesOfItemAtPath(path);
    const Value identity = attributes ? Value(Value::Array{attributes->get(NSFileSize), attributes->get(NSFileModificationDate)})
                                      : Value();
    {
        MutexLock lock(knownMutex_);
        if (unshowable_.size() >= kKnownPathsLimit) unshowable_.clear();
        auto [it, added] = unshowable_.try_emplace(path, identity);
        if (!added && it->second == identity) return;
        it->second = identity;
    }
    Diagnostics::notef("The file %s is not a picture that can be shown. %s", path.c_str(),
                       error->localizedDescription().c_str());
}

bool ResourceLoader::fileExistsInCaches(const std::string& relativePath) const {
    if (!FileSystem::isSafeRelativePath(relativePath)) return false;
    return fileSystem_->findFilePath(relativePath).has_value();
}

std::size_t ResourceLoader::countPresentImages(const std::vector<std::string>& paths) const {
    std::vector<std::string> names;
    names.reserve(paths.size());
    for (const auto& path : paths) {
        std::string name = "Data/" + path;
        if (FileSystem::isSafeRelativePath(name)) names.push_back(std::move(name));
    }
    return fileSystem_->countFound(names);
}

bool ResourceLoader::allImagesExists(const std::vector<std::string>& paths) const {
    return countPresentImages(paths) == paths.size();
}

void ResourceLoader::deleteFileFromCashes(const std::string& relativePath) const {
    if (!FileSystem::isSafeRelativePath(relativePath)) return;
    gPicturesGeneration.fetch_add(1, std::memory_order_acq_rel);
    const auto manager = NSFileManager::defaultManager();
    for (const auto& path : {fileSystem_->documentsPathForFile(relativePath), fileSystem_->cachesPathForFile(relativePath)}) {
        if (!path.empty() && manager->fileExistsAtPath(path)) {
            NSErrorPtr error;
            if (!manager->removeItemAtPath(path, &error))
                Diagnostics::note(error->localizedDescription());
            fileSystem_->writableFileChanged(relativePath);
            return;
        }
    }
}

bool ResourceLoader::markServedCopyRefused(const std::string& relativePath) const {
    MutexLock lock(refusedMutex_);
    // Bounded like the other memories: past the limit a picture is at worst fetched once more.
    if (refusedServedCopies_.size() >= kKnownPathsLimit) refusedServedCopies_.clear();
    return refusedServedCopies_.insert(relativePath).second;
}

bool ResourceLoader::isServedCopyRefused(const std::string& relativePath) const {
    MutexLock lock(refusedMutex_);
    return refusedServedCopies_.count(relativePath) != 0;
}

std::string ResourceLoader::storePath() const {
    return fileSystem_->documentsPathForFile(kViewedImagesFile);
}

bool ResourceLoader::loadStore() {
    // Only this loader writes the store, and it holds the marks in memory from its first write
    // on: a store found absent stays absent until then, and a screen asking about every cell
    // does not look for it again each time.
    if (storeAbsent_) return false;
    const std::string path = storePath();
    if (path.empty()) return false;
    // Read first rather than asking whether the file exists: only a file that is surely absent
    // may be seeded and written.
    NSErrorPtr error;
    const Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(path, &error);
    if (error && error->code() == NSFileReadNoSuchFileError) {
        storeAbsent_ = true;
        return false;
    }
    if (error && error->code() != NSPropertyListReadCorruptError) {
        // There but not readable (a failing disk, no permission): the marks in it may come back,
        // so this run keeps its marks in memory and leaves the file alone.
        ContentLog::log("The viewed pictures could not be read; new marks are kept in memory only and the file is "
                        "left as it is. " + error->localizedDescription());
        storeUnreadable_ = true;
        newImages_ = Value::Dictionary();
        return true;
    }
    // Read whole but not a property list of marks: nothing in it can be kept, the next write
    // replaces it.
    newImages_ = plist.isDictionary() ? plist.dictionary() : Value::Dictionary();
    return true;
}

void ResourceLoader::writeStore() const {
    const std::string path = storePath();
    if (path.empty() || !newImages_ || storeUnreadable_) return;
    // The write is atomic, so a failed one leaves the previous file as it was. The marks stay in
    // memory either way, and the next write saves them all.
    NSErrorPtr error;
    if (!NSPropertyListSerialization::writePropertyList(Value(*newImages_), path,
                                                        NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0,
                                                        &error)) {
        ContentLog::log("The viewed pictures could not be written; they are kept in memory until the next write. " +
                        (error ? error->localizedDescription() : std::string("Unknown error.")));
        return;
    }
    if (!FileSystem::setNoBackupAttribute(path)) {
        ContentLog::log("The viewed pictures file could not be marked to stay out of backups.");
    }
}

void ResourceLoader::resetNewImages(const std::shared_ptr<DataSource>& source) {
    if (newImages_) return;
    if (loadStore()) return;
    newImages_ = Value::Dictionary();
    if (source) {
        for (const auto& path : source->allPathsInAnyOrder()) resetNewImage(path, false);
    }
    writeStore();
}

bool ResourceLoader::isNewImage(const std::string& path) {
    if (!newImages_ && !loadStore()) return true;
    const Value* viewed = newImages_->find(path);
    return !viewed || !viewed->boolValue();
}

void ResourceLoader::resetNewImage(const std::string& path, bool store) {
    if (path.empty()) return;
    if (!newImages_ && !loadStore()) newImages_ = Value::Dictionary();
    newImages_->set(path, Value(true));
    if (store) writeStore();
}

UIInterfaceOrientation ResourceLoader::currentOrientation() const {
    auto application = UIApplication::sharedApplication();
    return application ? application->statusBarOrientation() : UIInterfaceOrientation::Portrait;
}

void ResourceLoader::postDataChanged() const {
    gPicturesGeneration.fetch_add(1, std::memory_order_acq_rel);
    NSNotificationCenter::defaultCenter()->postNotificationName(kImagesDataChanged, nullptr);
}

void ResourceLoader::removeLoadedData() const {
    const std::string documents = fileSystem_->documentsFolder();
    NSErrorPtr error;
    if (!documents.empty() && NSFileManager::defaultManager()->fileExistsAtPath(documents + "/Data") &&
        !NSFileManager::defaultManager()->removeItemAtPath(documents + "/Data", &error))
        Diagnostics::notef("The loaded pictures could not all be removed: %s", error->localizedDescription().c_str());
    fileSystem_->writableFilesChanged();
    postDataChanged();
}
