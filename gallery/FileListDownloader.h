// Fetches a list of pictures one after another into Documents "Data" behind the shared activity
// overlay, with a cancel button, a running "Loading n/m" message and a Retry question when the
// server stops answering; its closing alert tells how many pictures could not be saved, and
// why. It keeps itself alive while it runs.
#pragma once

#include "content/HTTPrequest.h"
#include "gallery/GalleryContext.h"
#include "platform/ui/UIAlertView.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class OEIdleTimerManager;

class FileListDownloader : public NSObject, public HTTPrequestDelegate, public UIAlertViewDelegate {
public:
    // `list`: picture paths relative to "Data", each at most once. The screen lock is kept off
    // through `idleManager` while the run is open.
    static std::shared_ptr<FileListDownloader> initWithArray(std::vector<std::string> list, GalleryContext context,
                                                             std::shared_ptr<OEIdleTimerManager> idleManager);
    FileListDownloader(std::vector<std::string> list, GalleryContext context,
                       std::shared_ptr<OEIdleTimerManager> idleManager);

    // Starts the run. `fileDownloaded` is called after each picture saved, with the path of the
    // Documents folder "Data" it was saved into; `completion` is
    // called once when the run ends, however it ends. Nothing while a run is open.
    void startDownload(std::function<void()> completion, std::function<void(const std::string&)> fileDownloaded);
    // The overlay's cancel button: stops the run without a word.
    void downloadCancelClick(const std::shared_ptr<NSObject>& sender);
    bool isRunning() const { return running_; }

    const std::vector<std::string>& list() const { return list_; }
    // The name being fetched or last dealt with; empty before the first.
    std::optional<std::string> curItem() const;
    // The running request, while one runs.
    const std::shared_ptr<HTTPrequest>& request() const { return request_; }

    void httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr& error) override;
    void httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>& request, const std::string& path) override;
    void alertViewDidDismissWithButtonIndex(UIAlertView& alertView, long buttonIndex) override;

    // Texts of the "FileDownloader" table.
    static std::string localized(const std::string& key);

private:
    void downloadNextItem();
    void startLoadItem(std::size_t index);
    // Moves the downloaded file into place; false (noted as not saved) when it is not on the
    // device afterwards.
    bool savePicture(const std::string& name, const std::string& downloaded);
    // A picture that came but could not be written: in the log, and counted with its reason for
    // the closing alert.
    void notSaved(const std::string& name, const NSErrorPtr& error);
    // The run's end: "All images downloaded", or how many pictures were not saved and why.
    void showAllDOwnloadedAlert();
    void endLoading();

    std::vector<std::string> list_;
    GalleryContext context_;
    std::shared_ptr<OEIdleTimerManager> idleManager_;
    std::optional<std::size_t> current_;
    std::shared_ptr<HTTPrequest> request_;
    std::function<void()> completitionBlock_;
    std::function<void(const std::string&)> fileDownloadedBlock_;
    bool running_ = false;
    // The Retry question is up: the run waits for the user.
    bool askingRetry_ = false;
    // Pictures of this run that came but could not be written, and the reasons, each once.
    std::size_t notSaved_ = 0;
    std::vector<std::string> notSavedReasons_;
};
