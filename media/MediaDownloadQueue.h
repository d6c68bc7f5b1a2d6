// What the music screens need of the download queue of composition files: the engine hands in
// the application's queue. File names are tracks' "filepath" values; a finished, failed or
// cancelled file is announced with kFileDownloadedMessage, every change of the queue with
// kQueueChangedMessage.
#pragma once

#include <optional>
#include <string>

class NSNotification;

class MediaDownloadQueue {
public:
    static constexpr const char* kFileDownloadedMessage = "FileDownloadedMessage";
    static constexpr const char* kQueueChangedMessage = "QueueChangedMessage";

    virtual ~MediaDownloadQueue() = default;
    virtual void addFile(const std::string& name) = 0;
    virtual void cancelFile(const std::string& name) = 0;
    virtual void cancelAll() = 0;
    // Queued or downloading.
    virtual bool isFileDownloading(const std::string& name) const = 0;
    virtual long downloadingFiles() const = 0;
    virtual long queuedFiles() const = 0;
    // The file a kFileDownloadedMessage is about; none when it is about every file (all cancelled).
    virtual std::optional<std::string> fileOfNotification(const NSNotification& notification) const = 0;
};
