// The single-file download behind the overlay.
#include "gallery/UIOneFileDownloader.h"

#include "gallery/FileListDownloader.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIButton.h"
#include "uikit/ActivityView.h"
#include "uikit/OEIdleTimerManager.h"

std::shared_ptr<UIOneFileDownloader> UIOneFileDownloader::make(GalleryContext context,
                                                               std::shared_ptr<OEIdleTimerManager> idleManager) {
    return std::make_shared<UIOneFileDownloader>(std::move(context), std::move(idleManager));
}

UIOneFileDownloader::UIOneFileDownloader(GalleryContext context, std::shared_ptr<OEIdleTimerManager> idleManager)
    : context_(std::move(context)), idleManager_(std::move(idleManager)) {}

void UIOneFileDownloader::downloadFile(const std::string& url, Completion completion) {
    if (running_) return;
    running_ = true;
    completitionHandler_ = std::move(completion);
    context = self<UIOneFileDownloader>();
    if (idleManager_) idleManager_->setIdleTimerDisabled(true, self<UIOneFileDownloader>());
    showActivityView();
    request_ = HTTPrequest::make(context_.app.fileSystem);
    request_->setDelegate(self<UIOneFileDownloader>());
    request_->setDownloadToFile(true);
    request_->sendRequest(url);
}

void UIOneFileDownloader::showActivityView() {
    auto overlay = ActivityView::sharedActivityView();
    overlay->showActivityIndicatorWithMessage(FileListDownloader::localized("Downloading..."));
    if (auto cancel = overlay->addCancelButton())
        cancel->addTarget(self<UIOneFileDownloader>(), &UIOneFileDownloader::downloadCancelClick, UIControlEventTouchUpInside);
}

void UIOneFileDownloader::downloadCancelClick(const std::shared_ptr<NSObject>&) {
    if (!running_) return;
    // The request removes the file it had begun.
    if (request_) request_->cancel();
    endDownload("");
}

void UIOneFileDownloader::httpRequestDataPortionAdded(const std::shared_ptr<HTTPrequest>& request, const NSData*) {
    if (!running_ || request != request_) return;
    const auto expected = request->expectedContentLength();
    if (expected < 1) return;
    const int percent = static_cast<int>(request->downloadedBytes() * 100 / expected);
    ActivityView::sharedActivityView()->setMessageForActivityIndicator(
        NSString::format(FileListDownloader::localized("Downloading: %d%%"), percent));
}

void UIOneFileDownloader::httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>& request, const std::string& path) {
    if (!running_ || request != request_) return;
    endDownload(path);
}

void UIOneFileDownloader::httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr&) {
    if (!running_ || request != request_) return;
    UIAlertView::initWithTitle("", FileListDownloader::localized("Error downloading"), nullptr,
                               FileListDownloader::localized("Ok"), {})
        ->show();
    endDownload("");
}

void UIOneFileDownloader::endDownload(const std::string& path) {
    if (!running_) return;
    running_ = false;
    auto keep = self<UIOneFileDownloader>();
    ActivityView::sharedActivityView()->hideActivityIndicator();
    auto completion = std::move(completitionHandler_);
    completitionHandler_ = nullptr;
    if (completion) completion(path);
    request_.reset();
    if (idleManager_) idleManager_->setIdleTimerDisabled(false, keep);
    context.reset();
}
