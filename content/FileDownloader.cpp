// The download queue: starting what fits, the finished and failed files, the notifications.
#include "content/FileDownloader.h"

#include "content/PictureURL.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ProcessShared.h"

#include <algorithm>

namespace {

ProcessShared<FileDownloader> gDownloader;

std::shared_ptr<NSNotificationCenter> downloadCenter() { return NSNotificationCenter::defaultCenter(); }

}  // namespace

std::shared_ptr<FileDownloader> FileDownloader::sharedDownloader() { return gDownloader.get(); }

void FileDownloader::resetSharedDownloader() {
    auto old = gDownloader.take();
    if (!old) return;
    old->queue_.clear();
    for (auto& [name, request] : old->currentDownloaders_) request->cancel();
    old->currentDownloaders_.clear();
    old->releaseHoldWhenIdle();
}

bool FileDownloader::hasSharedDownloader() { return gDownloader.current() != nullptr; }

FileDownloader::~FileDownloader() {
    for (auto& [name, request] : currentDownloaders_) request->cancel();
}

// --- Adding and cancelling -----------------------------------------------------------------------

void FileDownloader::addFile(const std::string& fileName) {
    if (!holding_ && idleTimerHold_) idleTimerHold_(true, shared_from_this());
    holding_ = true;
    std::erase(stoppedFiles_, fileName);
    // One download per file: a second would write the same file and lose track of the first.
    if (std::find(queue_.begin(), queue_.end(), fileName) == queue_.end() && !currentDownloaders_.count(fileName))
        queue_.push_back(fileName);
    checkQueue();
}

void FileDownloader::cancelFile(const std::string& fileName) {
    if (std::find(queue_.begin(), queue_.end(), fileName) != queue_.end()) {
        std::erase(queue_, fileName);
    } else if (auto running = currentDownloaders_.find(fileName); running != currentDownloaders_.end()) {
        running->second->cancel();
        currentDownloaders_.erase(running);
    }
    checkQueue();
    postFileMessage(fileName);
}

void FileDownloader::cancelAll() {
    while (!queue_.empty()) queue_.pop_back();
    while (!currentDownloaders_.empty()) {
        auto first = currentDownloaders_.begin();
        first->second->cancel();
        currentDownloaders_.erase(first);
    }
    releaseHoldWhenIdle();
    updateUIMessage();
    downloadCenter()->postNotificationName(kFileDownloadedMessage, nullptr);
    downloadCenter()->postNotificationName(kQueueChangedMessage, nullptr);
}

// --- Questions -----------------------------------------------------------------------------------

bool FileDownloader::isFileDownloading(const std::string& fileName) const {
    const FileState state = fileState(fileName);
    return state == Queued || state == Downloading;
}

FileDownloader::FileState FileDownloader::fileState(const std::string& fileName) const {
    if (std::find(queue_.begin(), queue_.end(), fileName) != queue_.end()) return Queued;
    if (currentDownloaders_.count(fileName)) return Downloading;
    if (std::find(downloadedFiles_.begin(), downloadedFiles_.end(), fileName) != downloadedFiles_.end()) return Finished;
    return Unknown;
}

float FileDownloader::fileProgress(const std::string& fileName) const {
    const std::int64_t size = fileSize(fileName);
    if (size < 1) return 0;
    return static_cast<float>(fileDownloadedBytes(fileName)) / static_cast<float>(size);
}

std::int64_t FileDownloader::fileSize(const std::string& fileName) const {
    auto running = currentDownloaders_.find(fileName);
    return running == currentDownloaders_.end() ? 0 : running->second->expectedContentLength();
}

std::int64_t FileDownloader::fileDownloadedBytes(const std::string& fileName) const {
    auto running = currentDownloaders_.find(fileName);
    return running == currentDownloaders_.end() ? 0 : running->second->downloadedBytes();
}

float FileDownloader::firstProgress() const {
    return currentDownloaders_.empty() ? 0 : fileProgress(currentDownloaders_.rbegin()->first);
}

bool FileDownloader::didFileFail(const std::string& fileName) const {
    return std::find(stoppedFiles_.begin(), stoppedFiles_.end(), fileName) != stoppedFiles_.end();
}

std::string FileDownloader::queuedFileAt(long index) const {
    if (index < 0 || index >= queuedFiles()) return "";
    return queue_[static_cast<std::size_t>(index)];
}

std::string FileDownloader::downloadingFileAt(long index) const {
    if (index < 0 || index >= downloadingFiles()) return "";
    std::vector<std::string> names;
    for (const auto& [name, request] : currentDownloaders_) names.push_back(name);
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return NSString::caseInsensitiveCompare(a, b) < 0;
    });
    return names[static_cast<std::size_t>(index)];
}

std::optional<std::string> FileDownloader::fileURL(const std::string& fileName) const {
    const auto& config = context_.config;
    if (!config || !config->urlFormat() || !config->media()) return std::nullopt;
    const auto format = config->media()->mediaFormat();
    std::string url = config->urlFormat()->compositions();
    const auto slot = url.find("%@");
    if (!format || slot == std::string::npos) return std::nullopt;
    url.replace(slot, 2, *format);
    return pictureURLWithFormat(url, fileName);
}

// --- The queue -----------------------------------------------------------------------------------

void FileDownloader::checkQueue() {
    if (!queue_.empty()) downloadNext();
    else clearDownloader();
    releaseHoldWhenIdle();
    updateUIMessage();
    downloadCenter()->postNotificationName(kQueueChangedMessage, nullptr);
}

void FileDownloader::downloadNext() {
    while (!queue_.empty() && downloadingFiles() < maxDownloadingFiles_) {
        const std::string name = queue_.front();
        queue_.erase(queue_.begin());
        const auto url = fileURL(name);
        if (!url) {
            fileFailed(name, "The file has no address on the server.");
            return;
        }
        auto request = HTTPrequest::make(context_.fileSystem ? context_.fileSystem : FileSystem::sharedFileSystem());
        request->setDownloadToFile(true);
        request->setDelegate(self<FileDownloader>());
        request->setUserData(Value(name));
        currentDownloaders_[name] = request;
        request->sendRequest(*url);
        // One per call, as the queue refills one at a time when a download ends.
        return;
    }
}

void FileDownloader::clearDownloader() {
    if (currentDownloaders_.empty()) downloadedFiles_.clear();
}

void FileDownloader::updateUIMessage() { downloadCenter()->postNotificationName(kDownloadProgressChangeMessage, shared_from_this()); }

void FileDownloader::releaseHoldWhenIdle() {
    if (!holding_ || !queue_.empty() || !currentDownloaders_.empty()) return;
    holding_ = false;
    if (idleTimerHold_) idleTimerHold_(false, shared_from_this());
}

std::string FileDownloader::nameOf(const std::shared_ptr<HTTPrequest>& request) const {
    return request ? request->userData().stringValue() : "";
}

void FileDownloader::fileDownloaded(const std::string& fileName) {
    currentDownloaders_.erase(fileName);
    downloadedFiles_.push_back(fileName);
    checkQueue();
    postFileMessage(fileName);
}

void FileDownloader::postFileMessage(const std::string& fileName, Value::Dictionary info) {
    info.set(kFileKey, Value(fileName));
    downloadCenter()->postNotificationName(kFileDownloadedMessage, shared_from_this(), info);
}

void FileDownloader::fileFailed(const std::string& fileName, const std::string& reason) {
    currentDownloaders_.erase(fileName);
    if (!didFileFail(fileName)) stoppedFiles_.push_back(fileName);
    checkQueue();
    Value::Dictionary info;
    info.set(kFailedKey, Value(true));
    info.set(kErrorKey, Value(reason));
    postFileMessage(fileName, std::move(info));
}

// --- The requests' side --------------------------------------------------------------------------

void FileDownloader::httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>& request, const std::string& path) {
    const std::string name = nameOf(request);
    if (!currentDownloaders_.count(name)) return;
    auto files = NSFileManager::defaultManager();
    const auto destination = context_.fileSystem ? context_.fileSystem->safeDocumentsPathForFile(name) : std::nullopt;
    NSErrorPtr error;
    // A file of that name already there is an older copy: the new one replaces it.
    if (destination && files->fileExistsAtPath(*destination)) (void)files->removeItemAtPath(*destination);
    const bool placed = destination && files->moveItemAtPath(path, *destination, &error);
    if (destination) context_.fileSystem->writableFileChanged(name);
    if (!placed) {
        (void)files->removeItemAtPath(path);
        fileFailed(name, error ? error->localizedDescription() : "The file cannot be put in the Documents folder.");
        return;
    }
    // A file without the mark is still a whole file; the next backup only takes it along.
    (void)FileSystem::setNoBackupAttribute(*destination);
    fileDownloaded(name);
}

void FileDownloader::httpRequestDataLoaded(const std::shared_ptr<HTTPrequest>& request, const NSData& data) {
    const std::string name = nameOf(request);
    if (!currentDownloaders_.count(name)) return;
    const auto destination = context_.fileSystem ? context_.fileSystem->safeDocumentsPathForFile(name) : std::nullopt;
    NSErrorPtr error;
    const bool written = destination && writeDataToFile(data, *destination, true, &error);
    if (destination) context_.fileSystem->writableFileChanged(name);
    if (!written) {
        fileFailed(name, error ? error->localizedDescription() : "The file cannot be put in the Documents folder.");
        return;
    }
    (void)FileSystem::setNoBackupAttribute(*destination);
    fileDownloaded(name);
}

void FileDownloader::httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr& error) {
    const std::string name = nameOf(request);
    if (!currentDownloaders_.count(name)) return;
    fileFailed(name, error ? error->localizedDescription() : "The server did not answer in time.");
}

void FileDownloader::httpRequestDataPortionAdded(const std::shared_ptr<HTTPrequest>&, const NSData*) { updateUIMessage(); }
