// Downloads every picture of a source that is not on the device yet, one after another behind
// the activity overlay, then counts the present pictures again and announces the change. It
// keeps itself alive while it works.
#pragma once

#include "gallery/GalleryContext.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class DataSource;
class DownloadsCounter;
class OEIdleTimerManager;

class AllImagesDownloader : public NSObject {
public:
    // `counter` is recounted when the run ends; it may be empty.
    static std::shared_ptr<AllImagesDownloader> initWithDataSource(std::shared_ptr<DataSource> source,
                                                                   GalleryContext context,
                                                                   std::shared_ptr<OEIdleTimerManager> idleManager,
                                                                   std::shared_ptr<DownloadsCounter> counter);
    AllImagesDownloader(std::shared_ptr<DataSource> source, GalleryContext context,
                        std::shared_ptr<OEIdleTimerManager> idleManager, std::shared_ptr<DownloadsCounter> counter);

    // The source's picture paths, each once, in order.
    std::vector<std::string> allImagesDataList() const;
    // Shows the overlay at once and starts the list download on the next turn of the main
    // queue. When it ends, however it ends: overlay hidden, count redone, "ImagesDataChanged"
    // posted on a later turn, then `completion` (may be empty). A list the source could not read
    // whole (its database cannot be opened, or damaged pages cut it short) is not downloaded:
    // the overlay goes, an alert says that the gallery cannot be opened, and `completion` is
    // called, with nothing counted or announced.
    void downloadAllImages(std::function<void()> completion);

private:
    void refuseUnreadableList(const NSErrorPtr& why);

    std::shared_ptr<DataSource> source_;
    GalleryContext context_;
    std::shared_ptr<OEIdleTimerManager> idleManager_;
    std::shared_ptr<DownloadsCounter> counter_;
};
