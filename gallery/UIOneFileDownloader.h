// Fetches one file to disk behind the shared activity overlay, showing the percentage as it
// arrives, and hands the file's path (or nothing) to a closure. It keeps itself alive while it
// works.
#pragma once

#include "content/HTTPrequest.h"
#include "gallery/GalleryContext.h"

#include <functional>
#include <memory>
#include <string>

class OEIdleTimerManager;

class UIOneFileDownloader : public NSObject, public HTTPrequestDelegate {
public:
    // The closure gets the path of the downloaded file, which is then its to move or remove, or
    // an empty string when nothing was downloaded (failure or cancel).
    using Completion = std::function<void(const std::string& path)>;

    // The screen lock is kept off through `idleManager` while the download runs.
    static std::shared_ptr<UIOneFileDownloader> make(GalleryContext context,
                                                     std::shared_ptr<OEIdleTimerManager> idleManager);
    UIOneFileDownloader(GalleryContext context, std::shared_ptr<OEIdleTimerManager> idleManager);

    // Nothing while a download runs.
    void downloadFile(const std::string& url, Completion completion);
    // The overlay's cancel button.
    void downloadCancelClick(const std::shared_ptr<NSObject>& sender);
    bool isDownloading() const { return running_; }
    const std::shared_ptr<HTTPrequest>& request() const { return request_; }

    void httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr& error) override;
    void httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>& request, const std::string& path) override;
    void httpRequestDataPortionAdded(const std::shared_ptr<HTTPrequest>& request, const NSData* body) override;

private:
    void showActivityView();
    void endDownload(const std::string& path);

    GalleryContext context_;
    std::shared_ptr<OEIdleTimerManager> idleManager_;
    Completion completitionHandler_;
    std::shared_ptr<HTTPrequest> request_;
    bool running_ = false;
};
