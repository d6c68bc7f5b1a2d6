// The download of all pictures of a source over the list downloader.
#include "gallery/AllImagesDownloader.h"

#include "content/DataSource.h"
#include "gallery/DownloadsCounter.h"
#include "gallery/FileListDownloader.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/ui/UIAlertView.h"
#include "uikit/ActivityView.h"
#include "uikit/OECoreStrings.h"

#include <set>

std::shared_ptr<AllImagesDownloader> AllImagesDownloader::initWithDataSource(
    std::shared_ptr<DataSource> source, GalleryContext context, std::shared_ptr<OEIdleTimerManager> idleManager,
    std::shared_ptr<DownloadsCounter> counter) {
    return std::make_shared<AllImagesDownloader>(std::move(source), std::move(context), std::move(idleManager),
                                                 std::move(counter));
}

AllImagesDownloader::AllImagesDownloader(std::shared_ptr<DataSource> source, GalleryContext context,
                                         std::shared_ptr<OEIdleTimerManager> idleManager,
                                         std::shared_ptr<DownloadsCounter> counter)
    : source_(std::move(source)),
      context_(std::move(context)),
      idleManager_(std::move(idleManager)),
      counter_(std::move(counter)) {}

std::vector<std::string> AllImagesDownloader::allImagesDataList() const {
    if (!source_) return {};
    // The list downloader knows a name by its first place: a picture listed under two
    // groupings is fetched once.
    std::vector<std::string> list;
    std::set<std::string> seen;
    for (auto& path : source_->allPaths())
        if (seen.insert(path).second) list.push_back(std::move(path));
    return list;
}

void AllImagesDownloader::downloadAllImages(std::function<void()> completion) {
    context = self<AllImagesDownloader>();
    ActivityView::sharedActivityView()->showActivityIndicator();
    // The overlay is drawn before the list is read.
    DispatchQueue::mainQueue()->async([weak = weakSelf<AllImagesDownloader>(), completion = std::move(completion)] {
        auto me = weak.lock();
        if (!me) return;
        auto paths = me->allImagesDataList();
        // A list its database cut short would be fetched and told done with pictures still missing
        // (with none fetched, when nothing could be read): it is said to be unreadable instead, in
        // the words of the screen that shows it.
        if (NSErrorPtr unreadable; !me->source_ || !me->source_->readsWhole(&unreadable)) {
            me->refuseUnreadableList(unreadable);
            if (completion) completion();
            me->context.reset();
            return;
        }
        auto list = FileListDownloader::initWithArray(std::move(paths), me->context_, me->idleManager_);
        list->startDownload(
            [weak, completion] {
                auto me = weak.lock();
                if (!me) return;
                ActivityView::sharedActivityView()->hideActivityIndicator();
                // What is on the device now, whatever the run got through.
                if (me->counter_) me->counter_->checkDownloadedFiles();
                DispatchQueue::mainQueue()->async([resources = me->context_.resources] {
                    if (resources) resources->postDataChanged();
                });
                if (completion) completion();
                me->context.reset();
            },
            nullptr);
    });
}

void AllImagesDownloader::refuseUnreadableList(const NSErrorPtr& why) {
    ActivityView::sharedActivityView()->hideActivityIndicator();
    Diagnostics::notef("The pictures to download cannot be listed. %s",
                       why ? why->localizedDescription().c_str() : "There is no catalogue to list them from.");
    // Without a pictures database the counted pictures are the music library's.
    const auto& config = context_.app.config;
    const bool pictures = config && config->database() && !config->database()->imagesDBName().empty();
    UIAlertView::initWithTitle("", OECannotBeOpened(OECoreString(pictures ? "GalleryMenu" : "MediaLibrary")), nullptr,
                               FileListDownloader::localized("Ok"), {})
        ->show();
}
