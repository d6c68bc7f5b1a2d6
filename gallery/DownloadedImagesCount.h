// The count of the pictures of a source that are on the device, against their total: whether
// the download offer and the menu's download row are still needed, and the offer itself.
#pragma once

#include "gallery/DownloadsCounter.h"
#include "gallery/GalleryContext.h"
#include "platform/foundation/NSNotification.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class OEIdleTimerManager;

class DownloadedImagesCount : public NSObject, public DownloadsCounter {
public:
    // The process's one counter, made once on first use over the context the engine handed in
    // (setSharedContext, with its idle-timer manager); none before. It is used on the main thread.
    static std::shared_ptr<DownloadedImagesCount> instance();
    // What the counter is made over: the engine's context at start-up.
    static void setSharedContext(GalleryContext context);
    // Forgets the counter and the context, as a new process would start (tests).
    static void resetInstance();
    static bool hasInstance();
    // A counter of its own (tests). It counts again whenever the downloaded pictures change
    // ("ImagesDataChanged"), so a deletion or a download by any screen is followed.
    static std::shared_ptr<DownloadedImagesCount> make(GalleryContext context,
                                                       std::shared_ptr<OEIdleTimerManager> idleManager);
    DownloadedImagesCount(GalleryContext context, std::shared_ptr<OEIdleTimerManager> idleManager);

    // By the configuration's storage type: 1 (every picture installed) counts them all, 2 and 3
    // (pictures downloaded into "Data") count those present, any other leaves the count.
    void setup(const std::shared_ptr<DataSource>& source) override;
    // The count := the pictures of the source found as "Data/<path>".
    void checkDownloadedFiles() override;
    std::int64_t totalFiles() const;
    std::int64_t downloadedCount() const { return count_; }
    // At least as many present as there are pictures.
    bool allFilesDownloaded() const override;
    // Missing pictures, and the source's lists read whole.
    bool canDownloadMissing() const override;
    // One more picture arrived.
    void fileDownloaded() override { ++count_; }

    // Every missing picture of the source given to setup, behind the overlay.
    void downloadAllImages() override;
    // "Complete", the message, Cancel: accepting downloads every missing picture. Nothing is
    // asked unless canDownloadMissing.
    void showDownloadAlertFromController(const std::shared_ptr<UIViewController>& controller) override;
    // How many pictures are missing and about how many megabytes they make, estimated from the
    // pictures already present.
    std::string downloadMessage() const;
    static constexpr const char* kDownloadMessageKey = "Download the %ld missing pictures (about %ld MB)?";

private:
    void imagesDataChanged(const NSNotification& notification);
    void catalogueUpdated(const NSNotification& notification);
    // The source's picture paths, in any order.
    const std::vector<std::string>& paths() const;

    GalleryContext context_;
    std::shared_ptr<OEIdleTimerManager> idleManager_;
    std::shared_ptr<DataSource> source_;
    std::int64_t count_ = 0;
    mutable std::optional<std::vector<std::string>> paths_;
};
