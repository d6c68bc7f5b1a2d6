// The process-wide queue that downloads composition files into the Documents folder, at most
// four at a time, first in first out, telling the screens of progress and changes by
// notifications. A file is named by its relative path ("bach/air.m4a"), which is also where it
// goes under Documents. The screen lock stays off while anything waits or runs.
#pragma once

#include "config/OEContext.h"
#include "content/HTTPrequest.h"
#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class FileDownloader : public NSObject, public HTTPrequestDelegate {
public:
    // Object: the downloader.
    static constexpr const char* kDownloadProgressChangeMessage = "DownloadProgressChangeMessage";
    // Object: none.
    static constexpr const char* kQueueChangedMessage = "QueueChangedMessage";
    // Object: the downloader (none after cancelAll); the file's name under kFileKey in the user
    // info. A file that failed also carries kFailedKey (true) and kErrorKey (what went wrong).
    static constexpr const char* kFileDownloadedMessage = "FileDownloadedMessage";
    static constexpr const char* kFileKey = "file";
    static constexpr const char* kFailedKey = "failed";
    static constexpr const char* kErrorKey = "error";

    enum FileState : long { Unknown = 0, Queued = 1, Downloading = 2, Finished = 3 };

    // Takes (true) or releases (false) the downloader's hold on the screen lock; the engine
    // hands in its idle-timer manager's.
    using IdleTimerHold = std::function<void(bool disabled, const std::shared_ptr<NSObject>& holder)>;

    // The shared downloader, made on first use.
    static std::shared_ptr<FileDownloader> sharedDownloader();
    // Cancels everything and forgets the shared downloader, as a new process would (tests).
    static void resetSharedDownloader();
    static bool hasSharedDownloader();

    // The configuration (the compositions address and the media format) and file locations.
    void setContext(OEContext context) { context_ = std::move(context); }
    void setIdleTimerHold(IdleTimerHold hold) { idleTimerHold_ = std::move(hold); }

    // Queues the file (a file already queued or running is not queued twice) and starts what fits.
    void addFile(const std::string& fileName);
    // Takes the file out of the queue, or stops its download; then "FileDownloadedMessage".
    void cancelFile(const std::string& fileName);
    // Empties the queue and stops every download.
    void cancelAll();

    // Queued or downloading.
    bool isFileDownloading(const std::string& fileName) const;
    FileState fileState(const std::string& fileName) const;
    // Bytes received over the expected length of a running download; 0 otherwise.
    float fileProgress(const std::string& fileName) const;
    std::int64_t fileSize(const std::string& fileName) const;
    std::int64_t fileDownloadedBytes(const std::string& fileName) const;
    // The progress of the last running file in name order.
    float firstProgress() const;
    // Whether the file's last download failed (it is not on the device); cleared when it is added again.
    bool didFileFail(const std::string& fileName) const;

    long queuedFiles() const { return static_cast<long>(queue_.size()); }
    long downloadingFiles() const { return static_cast<long>(currentDownloaders_.size()); }
    long downloadedFiles() const { return static_cast<long>(downloadedFiles_.size()); }
    // The files whose download failed.
    long canceledFiles() const { return static_cast<long>(stoppedFiles_.size()); }
    long filesCount() const { return downloadedFiles() + queuedFiles() + downloadingFiles(); }
    // "" outside the list.
    std::string queuedFileAt(long index) const;
    // Among the running files in case-insensitive order; "" outside the list.
    std::string downloadingFileAt(long index) const;

    long maxDownloadingFiles() const { return maxDownloadingFiles_; }
    void setMaxDownloadingFiles(long count) { maxDownloadingFiles_ = count; }
    const std::string& serverUrl() const { return serverUrl_; }
    void setServerUrl(std::string url) { serverUrl_ = std::move(url); }

    // The file's address: the compositions format with the media format and the encoded name;
    // none when the configuration lacks either or the name would leave its folder.
    std::optional<std::string> fileURL(const std::string& fileName) const;

    void httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr& error) override;
    void httpRequestDataLoaded(const std::shared_ptr<HTTPrequest>& request, const NSData& data) override;
    void httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>& request, const std::string& path) override;
    void httpRequestDataPortionAdded(const std::shared_ptr<HTTPrequest>& request, const NSData* data) override;

    ~FileDownloader() override;

private:
    void checkQueue();
    void downloadNext();
    void clearDownloader();
    void updateUIMessage();
    // The file is in place: counted as downloaded, told, the next one started.
    void fileDownloaded(const std::string& fileName);
    // The file is not on the device: listed as failed, told, the next one started.
    void fileFailed(const std::string& fileName, const std::string& reason);
    void postFileMessage(const std::string& fileName, Value::Dictionary info = {});
    void releaseHoldWhenIdle();
    std::string nameOf(const std::shared_ptr<HTTPrequest>& request) const;

    std::vector<std::string> queue_;
    std::map<std::string, std::shared_ptr<HTTPrequest>> currentDownloaders_;
    std::vector<std::string> downloadedFiles_;
    std::vector<std::string> stoppedFiles_;
    long maxDownloadingFiles_ = 4;
    std::string serverUrl_;
    OEContext context_;
    IdleTimerHold idleTimerHold_;
    bool holding_ = false;
};
