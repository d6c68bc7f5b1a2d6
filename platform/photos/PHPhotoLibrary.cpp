// The photo library's permission, its prompt, and saving pictures into the home's library folder.
#include "platform/photos/PHPhotoLibrary.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/FileError.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/net/NSURL.h"
#include "platform/photos/PHAssetChangeRequest.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIImage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>

namespace {

constexpr const char* kErrorDomain = "PHPhotosErrorDomain";
constexpr long kAccessUserDeniedCode = 3311;
constexpr long kSaveFailedCode = -1;

class Prompt;

struct LibraryState {
    Mutex mutex;
    PHAuthorizationStatus status GUARDED_BY(mutex) = PHAuthorizationStatus::NotDetermined;
    std::optional<PHAuthorizationStatus> promptAnswer GUARDED_BY(mutex);
    NSErrorPtr failNext GUARDED_BY(mutex);
    // The prompt on screen and the handlers waiting for its answer.
    std::shared_ptr<Prompt> prompt GUARDED_BY(mutex);
    std::vector<PHPhotoLibrary::AuthorizationHandler> waiting GUARDED_BY(mutex);
    // Bumped by reset, so a prompt of an earlier test answers nobody.
    std::uint64_t generation GUARDED_BY(mutex) = 0;
};

LibraryState& state() {
    static auto* s = new LibraryState;  // never destroyed: background answers may outlive main
    return *s;
}

// The creation requests of the change running on this thread.
thread_local std::vector<std::shared_ptr<PHAssetChangeRequest>>* pendingRequests = nullptr;

void answer(std::vector<PHPhotoLibrary::AuthorizationHandler> handlers, PHAuthorizationStatus status) {
    if (handlers.empty()) return;
    DispatchQueue::globalQueue()->async([handlers = std::move(handlers), status] {
        for (const auto& handler : handlers)
            if (handler) handler(status);
    });
}

// The permission prompt: its answer becomes the status and goes to every waiting handler.
class Prompt : public NSObject, public UIAlertViewDelegate {
public:
    explicit Prompt(std::uint64_t generation) : generation_(generation) {}

    void show() {
        auto displayName = NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleDisplayName").stringValue();
        if (displayName.empty()) displayName = NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleName").stringValue();
        alert_ = UIAlertView::initWithTitle(
            "Allow \u201c" + displayName + "\u201d to add to your photos?", "", self<Prompt>(),
            PHPhotoLibrary::kDontAllowTitle, {PHPhotoLibrary::kAllowTitle});
        alert_->show();
    }
    void dismiss() {
        if (alert_ && alert_->isVisible()) alert_->dismissWithClickedButtonIndex(alert_->cancelButtonIndex(), false);
    }

    void alertViewClickedButtonAtIndex(UIAlertView& alert, long index) override {
        const auto status =
            index == alert.cancelButtonIndex() ? PHAuthorizationStatus::Denied : PHAuthorizationStatus::Authorized;
        std::vector<PHPhotoLibrary::AuthorizationHandler> handlers;
        {
            auto& s = state();
            MutexLock lock(s.mutex);
            if (s.generation != generation_ || s.prompt.get() != this) return;
            s.status = status;
            handlers.swap(s.waiting);
        }
        answer(std::move(handlers), status);
    }
    void alertViewDidDismissWithButtonIndex(UIAlertView&, long) override {
        auto keep = self<Prompt>();
        auto& s = state();
        MutexLock lock(s.mutex);
        if (s.prompt.get() == this) s.prompt.reset();
    }

private:
    const std::uint64_t generation_;
    std::shared_ptr<UIAlertView> alert_;
};

std::string pictureName(long long number, const char* extension) {
    return NSString::format("IMG_%04lld.%s", number, extension);
}

// The number of a saved picture's name ("IMG_", four digits or more, ".PNG" or ".JPG"); none for
// any other name. Past IMG_9999 the names grow longer.
std::optional<long long> pictureNumber(const std::string& name) {
    constexpr std::size_t kPrefix = 4, kExtension = 4, kMostDigits = 18;
    if (name.size() < kPrefix + 4 + kExtension || name.size() > kPrefix + kMostDigits + kExtension ||
        name.rfind("IMG_", 0) != 0)
        return std::nullopt;
    const std::size_t digitsEnd = name.size() - kExtension;
    if (name.compare(digitsEnd, kExtension, ".PNG") != 0 && name.compare(digitsEnd, kExtension, ".JPG") != 0)
        return std::nullopt;
    long long number = 0;
    for (std::size_t i = kPrefix; i < digitsEnd; ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

// The saved pictures' names, in the order saved (by number, so IMG_10000 comes after IMG_9999);
// 0 or the listing's errno.
int listPictures(std::vector<std::pair<long long, std::string>>& pictures) {
    std::vector<std::string> names;
    if (const int err = FileIO::current()->listFolder(PHPhotoLibrary::folder(), names)) return err;
    for (auto& name : names)
        if (const auto number = pictureNumber(name)) pictures.emplace_back(*number, std::move(name));
    std::sort(pictures.begin(), pictures.end());
    return 0;
}

// A creation request joins the change running on this thread.
std::shared_ptr<PHAssetChangeRequest> pending(std::shared_ptr<PHAssetChangeRequest> request) {
    if (!pendingRequests) {
        std::fprintf(stderr, "PHAssetChangeRequest may only be made inside a photo-library change block.\n");
        std::abort();
    }
    pendingRequests->push_back(request);
    return request;
}

bool mayAdd(PHAuthorizationStatus status) {
    return status == PHAuthorizationStatus::Authorized || status == PHAuthorizationStatus::Limited;
}

NSErrorPtr saveFailure(const std::string& why) {
    return NSError::errorWithDomain(kErrorDomain, kSaveFailedCode, {{NSLocalizedDescriptionKey, Value(why)}});
}

// What the library keeps of a request, with the extension of its kind: a file's own bytes as they
// are (never decoded), a picture in memory as PNG. Empty, with `error`, when there is nothing to keep.
NSData bytesToKeep(const PHAssetChangeRequest& request, const char*& extension, NSErrorPtr& error) {
    extension = "PNG";
    if (!request.fileURL()) {
        NSData bytes = request.image() ? UIImagePNGRepresentation(request.image()) : NSData();
        if (bytes.empty()) error = saveFailure("The picture has no pixels.");
        return bytes;
    }
    if (!request.fileURL()->isFileURL()) {
        error = saveFailure(request.fileURL()->absoluteString() + " names no file.");
        return {};
    }
    const std::string& path = request.fileURL()->path();
    // The header alone says whether the file is a picture; its bytes are read again to be kept,
    // so that they are never held twice.
    NSErrorPtr notAPicture;
    if (!UIImage::imageWithContentsOfFile(path, &notAPicture)) {
        error = notAPicture ? notAPicture : saveFailure("There is no picture at " + path + ".");
        return {};
    }
    auto bytes = readDataFromFile(path, &error);
    if (!bytes) return {};
    static constexpr std::uint8_t kPNGSignature[] = {0x89, 'P', 'N', 'G'};
    if (bytes->size() < sizeof kPNGSignature || !std::equal(std::begin(kPNGSignature), std::end(kPNGSignature), bytes->begin()))
        extension = "JPG";
    return std::move(*bytes);
}

// Writes `bytes` as a new picture numbered `number` or, when that name is taken (a save of another
// process, a picture put there by hand), the next free number: never over a picture already kept.
// `number` is then the one written, and `path` its file.
NSErrorPtr writeNewPicture(const NSData& bytes, const char* extension, long long& number, std::string& path) {
    // Only a file there takes a name; the bound stops a file system that calls every name taken.
    constexpr int kMostTries = 100'000;
    for (int tries = 0; tries < kMostTries; ++tries, ++number) {
        path = PHPhotoLibrary::folder() + "/" + pictureName(number, extension);
        NSErrorPtr error;
        if (file_detail::writeDataToNewFile(bytes, path, &error)) return nullptr;
        if (!error || error->domain() != NSCocoaErrorDomain || error->code() != NSFileWriteFileExistsError) return error;
    }
    return saveFailure("Every picture name the library tried was taken.");
}

// Writes the pictures as new files; on any failure removes those written and answers the error.
NSErrorPtr save(const std::vector<std::shared_ptr<PHAssetChangeRequest>>& requests) {
    const std::string folder = PHPhotoLibrary::folder();
    if (const int err = FileIO::current()->makeFolders(folder); err != 0) return NSError::posix(err, folder);
    // Unlisted, the pictures there are unknown: numbering from 1 would try every name they hold.
    std::vector<std::pair<long long, std::string>> existing;
    if (const int err = listPictures(existing)) return NSError::posix(err, folder);
    long long next = existing.empty() ? 1 : existing.back().first + 1;
    std::vector<std::string> written;
    for (const auto& request : requests) {
        NSErrorPtr error;
        const char* extension = nullptr;
        const NSData bytes = bytesToKeep(*request, extension, error);
        std::string path;
        if (bytes.empty()) {
            if (!error) error = saveFailure("The picture has no bytes.");
        } else if (error = writeNewPicture(bytes, extension, next, path); !error) {
            written.push_back(path);
            ++next;
            continue;
        }
        for (const auto& done : written)
            if (FileIO::current()->remove(done) != 0) std::fprintf(stderr, "The photo library could not remove %s.\n", done.c_str());
        return error;
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<PHAssetChangeRequest> PHAssetChangeRequest::creationRequestForAssetFromImage(
    const std::shared_ptr<UIImage>& image) {
    return pending(std::make_shared<PHAssetChangeRequest>(image));
}

std::shared_ptr<PHAssetChangeRequest> PHAssetChangeRequest::creationRequestForAssetFromImageAtFileURL(
    const std::shared_ptr<NSURL>& fileURL) {
    return pending(std::make_shared<PHAssetChangeRequest>(fileURL));
}

PHPhotoLibrary::PHPhotoLibrary() : queue_(DispatchQueue::create("photos.library.changes")) {}

std::shared_ptr<PHPhotoLibrary> PHPhotoLibrary::sharedPhotoLibrary() {
    static auto* library = new std::shared_ptr<PHPhotoLibrary>(std::make_shared<PHPhotoLibrary>());  // never destroyed
    return *library;
}

PHAuthorizationStatus PHPhotoLibrary::authorizationStatus() {
    auto& s = state();
    MutexLock lock(s.mutex);
    return s.status;
}

void PHPhotoLibrary::requestAuthorization(AuthorizationHandler handler) {
    auto& s = state();
    MutexLock lock(s.mutex);
    if (s.status != PHAuthorizationStatus::NotDetermined) {
        const auto status = s.status;
        lock.unlock();
        answer({std::move(handler)}, status);
        return;
    }
    if (s.promptAnswer) {
        s.status = *s.promptAnswer;
        const auto status = s.status;
        lock.unlock();
        answer({std::move(handler)}, status);
        return;
    }
    s.waiting.push_back(std::move(handler));
    if (s.prompt) return;  // already asking: the one answer goes to every handler
    s.prompt = std::make_shared<Prompt>(s.generation);
    std::weak_ptr<Prompt> prompt = s.prompt;
    lock.unlock();
    NSRunLoop::mainRunLoop()->post([prompt] {
        if (auto shown = prompt.lock()) shown->show();
    });
}

void PHPhotoLibrary::performChanges(std::function<void()> changes, ChangeCompletion completion) {
    queue_->async([changes = std::move(changes), completion = std::move(completion)] {
        std::vector<std::shared_ptr<PHAssetChangeRequest>> requests;
        pendingRequests = &requests;
        if (changes) changes();
        pendingRequests = nullptr;

        NSErrorPtr error;
        {
            auto& s = state();
            MutexLock lock(s.mutex);
            if (!mayAdd(s.status)) {
                error = NSError::errorWithDomain(kErrorDomain, kAccessUserDeniedCode,
                                                 {{NSLocalizedDescriptionKey, Value("The person has not allowed access to the photos.")}});
            } else if (s.failNext) {
                error = s.failNext;
                s.failNext.reset();
            }
        }
        if (!error) error = save(requests);
        if (completion) completion(!error, error);
    });
}

void PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus status) {
    auto& s = state();
    MutexLock lock(s.mutex);
    s.status = status;
}

void PHPhotoLibrary::setPromptAnswer(std::optional<PHAuthorizationStatus> answer) {
    auto& s = state();
    MutexLock lock(s.mutex);
    s.promptAnswer = answer;
}

bool PHPhotoLibrary::isPromptShowing() {
    auto& s = state();
    MutexLock lock(s.mutex);
    return s.prompt != nullptr;
}

void PHPhotoLibrary::failNextChange(const NSErrorPtr& error) {
    auto& s = state();
    MutexLock lock(s.mutex);
    s.failNext = error;
}

std::string PHPhotoLibrary::folder() { return Sandbox::home() + "/Media/DCIM"; }

std::vector<std::string> PHPhotoLibrary::savedPictures() {
    std::vector<std::pair<long long, std::string>> pictures;
    if (listPictures(pictures) != 0) return {};
    std::vector<std::string> paths;
    for (const auto& picture : pictures) paths.push_back(folder() + "/" + picture.second);
    return paths;
}

void PHPhotoLibrary::reset() {
    std::shared_ptr<Prompt> prompt;
    {
        auto& s = state();
        MutexLock lock(s.mutex);
        s.status = PHAuthorizationStatus::NotDetermined;
        s.promptAnswer.reset();
        s.failNext.reset();
        s.waiting.clear();
        ++s.generation;
        prompt.swap(s.prompt);
    }
    if (prompt) prompt->dismiss();
}

std::string PHPhotoLibrary::stateDescription() {
    auto& s = state();
    MutexLock lock(s.mutex);
    std::string text = "status " + std::to_string(static_cast<int>(s.status));
    if (s.promptAnswer) text += ", prompt answered " + std::to_string(static_cast<int>(*s.promptAnswer));
    if (s.failNext) text += ", next change fails";
    if (s.prompt) text += ", prompt showing";
    if (!s.waiting.empty()) text += ", " + std::to_string(s.waiting.size()) + " waiting";
    return text;
}
