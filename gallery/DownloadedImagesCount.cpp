// Counting the present pictures of the source, and the offer to download the missing ones.
#include "gallery/DownloadedImagesCount.h"

#include "content/DataSource.h"
#include "gallery/AllImagesDownloader.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ProcessSharedOver.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <cstdint>

namespace {

ProcessSharedOver<DownloadedImagesCount, GalleryContext> gCounter;

}  // namespace

std::shared_ptr<DownloadedImagesCount> DownloadedImagesCount::instance() {
    return gCounter.get([](const GalleryContext& context) { return make(context, context.idle); });
}

void DownloadedImagesCount::setSharedContext(GalleryContext context) { gCounter.hand(std::move(context)); }

void DownloadedImagesCount::resetInstance() { (void)gCounter.take(); }

bool DownloadedImagesCount::hasInstance() { return gCounter.current() != nullptr; }

std::shared_ptr<DownloadedImagesCount> DownloadedImagesCount::make(GalleryContext context,
                                                                   std::shared_ptr<OEIdleTimerManager> idleManager) {
    auto counter = std::make_shared<DownloadedImagesCount>(std::move(context), std::move(idleManager));
    NSNotificationCenter::defaultCenter()->addObserver(counter, &DownloadedImagesCount::imagesDataChanged,
                                                       kImagesDataChanged);
    NSNotificationCenter::defaultCenter()->addObserver(counter, &DownloadedImagesCount::catalogueUpdated,
                                                       kMessageDataUpdated);
    return counter;
}

DownloadedImagesCount::DownloadedImagesCount(GalleryContext context, std::shared_ptr<OEIdleTimerManager> idleManager)
    : context_(std::move(context)), idleManager_(std::move(idleManager)) {}

namespace {

std::int32_t storageType(const GalleryContext& context) {
    const auto& config = context.app.config;
    return config && config->images() ? config->images()->imageStorageType() : 0;
}

bool picturesComeAndGo(std::int32_t type) { return type == 2 || type == 3; }

}  // namespace

void DownloadedImagesCount::setup(const std::shared_ptr<DataSource>& source) {
    source_ = source;
    paths_.reset();
    const auto type = storageType(context_);
    if (type == 1) count_ = totalFiles();
    else if (picturesComeAndGo(type)) checkDownloadedFiles();
}

void DownloadedImagesCount::checkDownloadedFiles() {
    count_ = source_ && context_.resources ? static_cast<std::int64_t>(context_.resources->countPresentImages(paths())) : 0;
}

// Counting needs no order: one query of the paths, not every list loaded whole; kept, as the
// source keeps its lists, until the catalogue changes.
const std::vector<std::string>& DownloadedImagesCount::paths() const {
    if (!paths_) paths_ = source_ ? source_->allPathsInAnyOrder() : std::vector<std::string>();
    return *paths_;
}

void DownloadedImagesCount::catalogueUpdated(const NSNotification&) { paths_.reset(); }

void DownloadedImagesCount::imagesDataChanged(const NSNotification&) {
    if (source_ && picturesComeAndGo(storageType(context_))) checkDownloadedFiles();
}

std::int64_t DownloadedImagesCount::totalFiles() const {
    return static_cast<std::int64_t>(paths().size());
}

// Another screen may count a picture it fetched again; the row and the offer go once every
// picture is there, however far the count went.
bool DownloadedImagesCount::allFilesDownloaded() const { return count_ >= totalFiles(); }

bool DownloadedImagesCount::canDownloadMissing() const {
    return source_ && !allFilesDownloaded() && source_->readsWhole();
}

std::string DownloadedImagesCount::downloadMessage() const {
    long missing = 0;
    std::int64_t presentBytes = 0;
    long measured = 0;
    if (source_ && context_.resources && context_.app.fileSystem) {
        const auto files = NSFileManager::defaultManager();
        for (const auto& path : paths()) {
            const auto found = context_.app.fileSystem->findFilePath("Data/" + path);
            if (!found || !FileSystem::isSafeRelativePath(path)) {
                ++missing;
            } else if (const auto attributes = files->attributesOfItemAtPath(*found)) {
                presentBytes += attributes->get(NSFileSize).longLongValue();
                ++measured;
            }
        }
    }
    constexpr std::int64_t kMegabyte = 1024 * 1024;
    const std::int64_t estimate = measured ? presentBytes / measured * missing : 0;
    // Rounded up: a download is never announced as nothing.
    const long megabytes = static_cast<long>((estimate + kMegabyte - 1) / kMegabyte);
    return NSString::format(OECoreString(kDownloadMessageKey), missing, megabytes);
}

void DownloadedImagesCount::downloadAllImages() {
    if (!source_) return;
    AllImagesDownloader::initWithDataSource(source_, context_, idleManager_, self<DownloadedImagesCount>())
        ->downloadAllImages(nullptr);
}

void DownloadedImagesCount::showDownloadAlertFromController(const std::shared_ptr<UIViewController>& controller) {
    if (!controller || !canDownloadMissing()) return;
    showAskAlertWithTitle(controller, OECoreString("Complete"), downloadMessage(),
                          [weak = weakSelf<DownloadedImagesCount>()] {
                              if (auto me = weak.lock()) me->downloadAllImages();
                          });
}
