// The list download: one picture at a time to a file of its own, skipping those on the device,
// each put in place only when it is a picture and the move succeeded.
#include "gallery/FileListDownloader.h"

#include "gallery/ImageLoader.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileError.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PercentEncoding.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIImage.h"
#include "uikit/ActivityView.h"
#include "uikit/OEIdleTimerManager.h"

#include <algorithm>

namespace {

const char* const kErrorDomain = "FileListDownloader";
enum FileListDownloaderError : long { kNotAPicture = 1, kNoAddress = 2 };

NSErrorPtr downloadError(FileListDownloaderError code, const std::string& description) {
    return NSError::errorWithDomain(kErrorDomain, code, {{NSLocalizedDescriptionKey, Value(description)}});
}

// Why a picture was not saved, in words of the "FileDownloader" table: what the person can do
// something about is named, anything else is a file that could not be written.
std::string reasonNotSaved(const NSErrorPtr& error) {
    const long code = error && error->domain() == NSCocoaErrorDomain ? error->code() : 0;
    switch (code) {
        case NSFileWriteOutOfSpaceError: return FileListDownloader::localized("no space left");
        case NSFileWriteVolumeReadOnlyError: return FileListDownloader::localized("read only");
        case NSFileWriteNoPermissionError: return FileListDownloader::localized("no permission");
        default: return FileListDownloader::localized("not written");
    }
}

// Moves `file` to `destination`, replacing a file already there (one that did not decode).
bool putFileInPlace(const std::string& file, const std::string& destination, NSErrorPtr* error) {
    auto files = NSFileManager::defaultManager();
    if (files->fileExistsAtPath(destination) && !files->removeItemAtPath(destination, error)) return false;
    return files->moveItemAtPath(file, destination, error);
}

}  // namespace

std::string FileListDownloader::localized(const std::string& key) {
    return NSBundle::mainBundle()->localizedStringForKey(key, "", "FileDownloader");
}

std::shared_ptr<FileListDownloader> FileListDownloader::initWithArray(std::vector<std::string> list,
                                                                      GalleryContext context,
                                                                      std::shared_ptr<OEIdleTimerManager> idleManager) {
    return std::make_shared<FileListDownloader>(std::move(list), std::move(context), std::move(idleManager));
}

FileListDownloader::FileListDownloader(std::vector<std::string> list, GalleryContext context,
                                       std::shared_ptr<OEIdleTimerManager> idleManager)
    : list_(std::move(list)), context_(std::move(context)), idleManager_(std::move(idleManager)) {}

std::optional<std::string> FileListDownloader::curItem() const {
    if (!current_ || *current_ >= list_.size()) return std::nullopt;
    return list_[*current_];
}

void FileListDownloader::startDownload(std::function<void()> completion,
                                       std::function<void(const std::string&)> fileDownloaded) {
    if (running_) return;
    running_ = true;
    completitionBlock_ = std::move(completion);
    fileDownloadedBlock_ = std::move(fileDownloaded);
    context = self<FileListDownloader>();
    if (idleManager_) idleManager_->setIdleTimerDisabled(true, self<FileListDownloader>());

    auto overlay = ActivityView::sharedActivityView();
    // The caller may have put the overlay up already; it then gets the message.
    if (overlay->isShown()) overlay->setMessageForActivityIndicator(localized("Loading..."));
    else overlay->showActivityIndicatorWithMessage(localized("Loading..."));
    if (auto cancel = overlay->addCancelButton())
        cancel->addTarget(self<FileListDownloader>(), &FileListDownloader::downloadCancelClick, UIControlEventTouchUpInside);

    current_.reset();
    notSaved_ = 0;
    notSavedReasons_.clear();
    downloadNextItem();
}

void FileListDownloader::downloadNextItem() {
    while (running_) {
        const std::size_t next = current_ ? *current_ + 1 : 0;
        if (next >= list_.size()) {
            current_ = list_.size();
            showAllDOwnloadedAlert();
            return;
        }
        current_ = next;
        const auto resources = context_.resources;
        if (resources && resources->fileExistsInCaches("Data/" + list_[next])) continue;
        startLoadItem(next);
        return;
    }
}

void FileListDownloader::startLoadItem(std::size_t index) {
    const std::string& name = list_[index];
    const auto& config = context_.app.config;
    const std::string format = config && config->urlFormat() ? config->urlFormat()->images() : std::string();
    const auto slot = format.find("%@");
    if (!FileSystem::isSafeRelativePath(name) || slot == std::string::npos) {
        // Told like any failed request, on a later turn.
        auto weak = weakSelf<FileListDownloader>();
        DispatchQueue::mainQueue()->async([weak, name] {
            auto me = weak.lock();
            if (!me || !me->running_) return;
            me->httpRequestError(nullptr, downloadError(kNoAddress, "No address for " + name));
        });
        return;
    }
    std::string url = format;
    url.replace(slot, 2, stringByAddingPercentEncodingWithAllowedCharacters(name, URLAllowedCharacterSet::URLPathAllowed()));
    // Each picture goes to disk as it arrives, and may be no longer than a picture can be.
    request_ = HTTPrequest::make(context_.app.fileSystem);
    request_->setDelegate(self<FileListDownloader>());
    request_->setDownloadToFile(true);
    request_->setMaximumBodyLength(UIImage::kMaxEncodedLength);
    request_->sendRequest(url);
}

bool FileListDownloader::savePicture(const std::string& name, const std::string& downloaded) {
    const auto& fileSystem = context_.app.fileSystem;
    const auto path = fileSystem ? fileSystem->safeDocumentsPathForFile("Data/" + name, true) : std::nullopt;
    NSErrorPtr error;
    const bool placed = path && putFileInPlace(downloaded, *path, &error);
    // Announced either way: a failed move may still have taken the old file away.
    if (path) fileSystem->writableFileChanged("Data/" + name);
    if (!placed) {
        notSaved(name, error);
        return false;
    }
    if (!FileSystem::setNoBackupAttribute(*path))
        Diagnostics::notef("The picture %s could not be kept out of backups.", path->c_str());
    return true;
}

void FileListDownloader::httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>& request,
                                                   const std::string& downloaded) {
    // The file is ours from here on: whatever happens, it does not stay in Caches.
    struct Removal {
        const std::string& path;
        ~Removal() {
            auto files = NSFileManager::defaultManager();
            if (files->fileExistsAtPath(path) && !files->removeItemAtPath(path))
                Diagnostics::notef("%s stays behind.", path.c_str());
        }
    } removal{downloaded};
    if (!running_ || request != request_) return;
    request_.reset();
    const std::string name = list_[*current_];
    // A page in place of a picture (a portal, an error page sent with 200) is a failed download.
    if (!ImageLoader::pictureFileDecodes(downloaded)) {
        httpRequestError(nullptr, downloadError(kNotAPicture, "The server did not send a picture for " + name));
        return;
    }
    if (savePicture(name, downloaded)) {
        // Told the folder the pictures go to, whichever picture it was.
        if (fileDownloadedBlock_) fileDownloadedBlock_(context_.app.fileSystem->documentsFolder() + "/Data");
        if (!running_) return;
        ActivityView::sharedActivityView()->setMessageForActivityIndicator(NSString::format(
            localized("Loading %ld/%ld"), static_cast<long>(*current_ + 1), static_cast<long>(list_.size())));
    }
    downloadNextItem();
}

void FileListDownloader::httpRequestError(const std::shared_ptr<HTTPrequest>& request, const NSErrorPtr& error) {
    if (!running_ || (request && request != request_)) return;
    request_.reset();
    // The download file could not be written (a full disk): as for a picture that cannot be
    // saved, the run goes on.
    if (request && error && error->domain() == NSCocoaErrorDomain) {
        notSaved(list_[*current_], error);
        downloadNextItem();
        return;
    }
    std::string message = localized("Error downloading");
    if (error) {
        endLoading();
        message += ": " + error->localizedDescription();
        UIAlertView::initWithTitle("", message, nullptr, localized("Ok"), {})->show();
        return;
    }
    // The server stopped answering: the user decides, and the run waits for the answer.
    message += ": " + localized("timeout");
    askingRetry_ = true;
    UIAlertView::initWithTitle("", message, self<FileListDownloader>(), localized("Cancel"), {localized("Retry")})->show();
}

void FileListDownloader::alertViewDidDismissWithButtonIndex(UIAlertView& alertView, long buttonIndex) {
    if (!askingRetry_) return;
    askingRetry_ = false;
    if (!running_) return;
    if (buttonIndex == alertView.cancelButtonIndex()) endLoading();
    else startLoadItem(*current_);
}

void FileListDownloader::downloadCancelClick(const std::shared_ptr<NSObject>&) {
    if (!running_) return;
    if (request_) request_->cancel();
    request_.reset();
    endLoading();
}

void FileListDownloader::notSaved(const std::string& name, const NSErrorPtr& error) {
    Diagnostics::notef("File not saved: %s (%s)", name.c_str(),
                       error ? error->localizedDescription().c_str() : "no folder for it");
    ++notSaved_;
    const std::string reason = reasonNotSaved(error);
    if (std::find(notSavedReasons_.begin(), notSavedReasons_.end(), reason) == notSavedReasons_.end())
        notSavedReasons_.push_back(reason);
}

void FileListDownloader::showAllDOwnloadedAlert() {
    std::string message = localized("All images downloaded");
    // A run that went to its end without saving everything says so, and why.
    if (notSaved_ > 0) {
        std::string reasons;
        for (const auto& reason : notSavedReasons_) reasons += (reasons.empty() ? "" : "; ") + reason;
        message = NSString::format(localized("%ld of %ld images not saved: %@"), static_cast<long>(notSaved_),
                                   static_cast<long>(list_.size()), reasons);
    }
    UIAlertView::initWithTitle("", message, nullptr, localized("Ok"), {})->show();
    endLoading();
}

void FileListDownloader::endLoading() {
    if (!running_) return;
    running_ = false;
    auto keep = self<FileListDownloader>();
    if (idleManager_) idleManager_->setIdleTimerDisabled(false, keep);
    ActivityView::sharedActivityView()->hideActivityIndicator();
    auto completion = std::move(completitionBlock_);
    completitionBlock_ = nullptr;
    fileDownloadedBlock_ = nullptr;
    if (completion) completion();
    context.reset();
}
