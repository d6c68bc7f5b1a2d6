// The composition download queue.
#include "media/FileDownloader.h"

#include "media/MediaPlayerItem.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/net/NSURL.h"
#include "uikit/OEIdleTimerManager.h"

#include <algorithm>
#include <cstdio>
#include <strings.h>

std::shared_ptr<FileDownloader> FileDownloader::initWithContext(std::shared_ptr<const MediaContext> context) {
    return std::make_shared<FileDownloader>(std::move(context));
}

FileDownloader::~FileDownloader() {
    for (auto& [name, request] : current_) request->cancel();
}

void FileDownloader::addFile(const std::string& name) {
    // Twice in the queue would download it twice and count it twice.
    if (isFileDownloading(name)) return;
    queue_.push_back(name);
    updateIdleHold();
    checkQueue();
}

void FileDownloader::cancelFile(const std::string& name) {
    const auto queued = std::remove(queue_.begin(), queue_.end(), name);
    if (queued != queue_.end()) {
        queue_.erase(queued, queue_.end());
    } else if (auto running = current_.find(name); running != current_.end()) {
        running->second->cancel();
        current_.erase(running);
    }
    checkQueue();
    postFileDownloaded(name);
    updateIdleHold();
}

void FileDownloader::cancelAll() {
    queue_.clear();
    while (!current_.empty()) {
        auto running = current_.begin();
        auto request = running->second;
        current_.erase(running);
        request->cancel();
    }
    updateUIMessage();
    postFileDownloaded(std::nullopt);
    NSNotificationCenter::defaultCenter()->postNotificationName(kQueueChangedMessage, nullptr);
    updateIdleHold();
}

bool FileDownloader::isFileDownloading(const std::string& name) const {
    const auto state = fileState(name);
    return state == FileState::Queued || state == FileState::Downloading;
}

std::optional<std::string> FileDownloader::fileOfNotification(const NSNotification& notification) const {
    const Value& file = notification.userInfo().get("file");
    if (file.isNull()) return std::nullopt;
    return file.stringValue();
}

FileDownloader::FileState FileDownloader::fileState(const std::string& name) const {
    if (std::find(queue_.begin(), queue_.end(), name) != queue_.end()) return FileState::Queued;
    if (current_.count(name)) return FileState::Downloading;
    if (std::find(downloaded_.begin(), downloaded_.end(), name) != downloaded_.end()) return FileState::Finished;
    return FileState::Unknown;
}

float FileDownloader::fileProgress(const std::string& name) const {
    const auto size = fileSize(name);
    return size >= 1 ? static_cast<float>(static_cast<double>(fileDownloadedBytes(name)) / static_cast<double>(size))
                     : 0.0f;
}

std::int64_t FileDownloader::fileSize(const std::string& name) const {
    const auto running = current_.find(name);
    return running == current_.end() ? 0 : running->second->expectedContentLength();
}

std::int64_t FileDownloader::fileDownloadedBytes(const std::string& name) const {
    const auto running = current_.find(name);
    return running == current_.end() ? 0 : running->second->downloadedBytes();
}

std::string FileDownloader::queuedFileAt(long index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= queue_.size()) return "";
    return queue_[static_cast<std::size_t>(index)];
}

std::string FileDownloader::downloadingFileAt(long index) const {
    std::vector<std::string> names;
    for (const auto& [name, request] : current_) names.push_back(name);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return ::strcasecmp(a.c_str(), b.c_str()) < 0; });
    if (index < 0 || static_cast<std::size_t>(index) >= names.size()) return "";
    return names[static_cast<std::size_t>(index)];
}

void FileDownloader::checkQueue() {
    // Every free place is filled: a cancelled download frees one as a finished one does.
    while (!queue_.empty() && static_cast<int>(current_.size()) < maxDownloadingFiles_) downloadNext();
    if (queue_.empty() && current_.empty()) downloaded_.clear();
    updateUIMessage();
    NSNotificationCenter::defaultCenter()->postNotificationName(kQueueChangedMessage, nullptr);
}

void FileDownloader::downloadNext() {
    if (queue_.empty() || static_cast<int>(current_.size()) >= maxDownloadingFiles_) return;
    const std::string name = queue_.front();
    queue_.erase(queue_.begin());
    const auto url = MediaPlayerItem::remoteURL(name, *context_);
    auto request = HTTPrequest::make(context_->app.fileSystem);
    current_[name] = request;
    if (!url) {
        // No address for it (an unsafe path, no URL format): it fails as a download would.
        Diagnostics::notef("No address to download %s from.", name.c_str());
        current_.erase(name);
        downloaded_.push_back(name);
        postFileDownloaded(name);
        return;
    }
    request->setDownloadToFile(true);
    request->setUserData(Value(name));
    request->setDelegate(std::static_pointer_cast<FileDownloader>(shared_from_this()));
    request->sendRequest(url->absoluteString());
}

std::string FileDownloader::nameOf(const std::shared_ptr<HTTPrequest>& request) const {
    if (!request) return "";
    const std::string name = request->userData().stringValue();
    const auto running = current_.find(name);
    return running != current_.end() && running->second == request ? name : "";
}

void FileDownloader::httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>& request,
                                               const std::string& downloaded) {
    const std::string name = nameOf(request);
    if (name.empty()) {
        if (!NSFileManager::defaultManager()->removeItemAtPath(downloaded))
            std::fprintf(stderr, "%s stays behind.\n", downloaded.c_str());
        return;
    }
    const auto& files = context_->app.fileSystem;
    const auto path = files ? files->safeDocumentsPathForFile(name, true) : std::nullopt;
    // Replaces a copy already there in one step: a player never finds half a file.
    const int err = path ? FileIO::current()->rename(downloaded, *path, true) : -1;
    if (err != 0) {
        Diagnostics::notef("The download of %s could not be put in place.", name.c_str());
        if (!NSFileManager::defaultManager()->removeItemAtPath(downloaded))
            std::fprintf(stderr, "%s stays behind.\n", downloaded.c_str());
    } else if (!FileSystem::setNoBackupAttribute(*path)) {
        Diagnostics::notef("The composition %s could not be kept out of backups.", path->c_str());
    }
    fileDownloaded(name);
}

void FileDownloader::httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr& error) {
    const std::string name = nameOf(request);
    if (name.empty()) return;
    Diagnostics::notef("The download of %s failed%s%s.", name.c_str(), error ? ": " : "",
                       error ? error->localizedDescription().c_str() : "");
    // A failed file counts as finished, and frees its place.
    fileDownloaded(name);
}

void FileDownloader::httpRequestDataPortionAdded(const std::shared_ptr<HTTPrequest>&, const NSData*) {
    updateUIMessage();
}

void FileDownloader::fileDownloaded(const std::string& name) {
    current_.erase(name);
    downloaded_.push_back(name);
    checkQueue();
    postFileDownloaded(name);
    updateIdleHold();
}

void FileDownloader::postFileDownloaded(const std::optional<std::string>& name) {
    Value::Dictionary info;
    if (name) info.set("file", Value(*name));
    NSNotificationCenter::defaultCenter()->postNotificationName(kFileDownloadedMessage, nullptr, info);
}

void FileDownloader::updateUIMessage() {
    NSNotificationCenter::defaultCenter()->postNotificationName(kDownloadProgressChangeMessage,
                                                                std::static_pointer_cast<NSObject>(shared_from_this()));
}

void FileDownloader::updateIdleHold() {
    if (context_->idle)
        context_->idle->setIdleTimerDisabled(!queue_.empty() || !current_.empty(),
                                             std::static_pointer_cast<NSObject>(shared_from_this()));
}
