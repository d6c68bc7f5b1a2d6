// The queue of composition files downloaded into Documents, a few at a time, announcing
// progress and changes by notifications (on the main thread, where it is used).
#pragma once

#include "content/HTTPrequest.h"
#include "media/MediaContext.h"
#include "media/MediaDownloadQueue.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class FileDownloader : public NSObject, public HTTPrequestDelegate, public MediaDownloadQueue {
public:
    // Posted with the downloader as object whenever the progress of a download may have moved.
    static constexpr const char* kDownloadProgressChangeMessage = "DownloadProgressChangeMessage";

    enum class FileState { Unknown = 0, Queued = 1, Downloading = 2, Finished = 3 };

    static std::shared_ptr<FileDownloader> initWithContext(std::shared_ptr<const MediaContext> context);
    explicit FileDownloader(std::shared_ptr<const MediaContext> context) : context_(std::move(context)) {}
    ~FileDownloader() override;

    // A name is the track's "filepath", also its path under Documents. Queued once: a name
    // already queued or downloading is not queued again.
    void addFile(const std::string& name) override;
    void cancelFile(const std::string& name) override;
    void cancelAll() override;
    bool isFileDownloading(const std::string& name) const override;
    long downloadingFiles() const override { return static_cast<long>(current_.size()); }
    long queuedFiles() const override { return static_cast<long>(queue_.size()); }
    std::optional<std::string> fileOfNotification(const NSNotification& notification) const override;

    FileState fileState(const std::string& name) const;
    // Received over expected bytes of a running download; 0 when unknown.
    float fileProgress(const std::string& name) const;
    std::int64_t fileSize(const std::string& name) const;
    std::int64_t fileDownloadedBytes(const std::string& name) const;
    // Finished (arrived or failed) since the queue was last empty.
    long downloadedFiles() const { return static_cast<long>(downloaded_.size()); }
    long filesCount() const { return downloadedFiles() + queuedFiles() + downloadingFiles(); }
    // The i-th waiting name; the i-th running name in case-insensitive order. "" out of range.
    std::string queuedFileAt(long index) const;
    std::string downloadingFileAt(long index) const;
    int maxDownloadingFiles() const { return maxDownloadingFiles_; }
    void setMaxDownloadingFiles(int count) { maxDownloadingFiles_ = count; }

    void httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr& error) override;
    void httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>& request, const std::string& path) override;
    void httpRequestDataPortionAdded(const std::shared_ptr<HTTPrequest>& request, const NSData* data) override;

private:
    void checkQueue();
    void downloadNext();
    // The name of a running request, "" when it is no longer ours.
    std::string nameOf(const std::shared_ptr<HTTPrequest>& request) const;
    void fileDownloaded(const std::string& name);
    void postFileDownloaded(const std::optional<std::string>& name);
    void updateUIMessage();
    // The screen stays on while anything is queued or running.
    void updateIdleHold();

    std::shared_ptr<const MediaContext> context_;
    std::vector<std::string> queue_;
    std::map<std::string, std::shared_ptr<HTTPrequest>> current_;
    std::vector<std::string> downloaded_;
    int maxDownloadingFiles_ = 4;
};
