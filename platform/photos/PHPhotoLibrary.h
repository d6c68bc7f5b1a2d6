// The photo library: the person's permission to add to it, and changes that add pictures.
// Pictures saved here are kept in a folder of the home ("Media/DCIM"), one file per picture in the
// order saved: a picture file's own bytes as they are (IMG_0001.JPG or .PNG by its kind), a picture
// in memory as PNG. Each is numbered after the last one there (IMG_10000 after IMG_9999) and never
// takes the place of a picture already kept. The host (a test, the simulator) sets the permission as the device's settings
// would, answers the permission prompt, and can make the next change fail.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DispatchQueue;

enum class PHAuthorizationStatus : int {
    NotDetermined = 0,
    Restricted = 1,
    Denied = 2,
    Authorized = 3,
    Limited = 4,
};

class PHPhotoLibrary : public NSObject {
public:
    using AuthorizationHandler = std::function<void(PHAuthorizationStatus status)>;
    using ChangeCompletion = std::function<void(bool success, const NSErrorPtr& error)>;

    static PHAuthorizationStatus authorizationStatus();
    // While the status is not determined, the person is asked once: a prompt ("Don't Allow",
    // "Allow") shows on the main thread, unless the host scripted the answer. Otherwise the
    // status stands. The handler always runs on a background queue, never inside this call.
    static void requestAuthorization(AuthorizationHandler handler);

    static std::shared_ptr<PHPhotoLibrary> sharedPhotoLibrary();

    // Runs `changes` on the library's own serial queue; the creation requests it makes
    // (PHAssetChangeRequest) are then saved all together or not at all, and `completion` runs
    // on that queue. Without permission to add, nothing is saved and the change fails.
    void performChanges(std::function<void()> changes, ChangeCompletion completion);

    // --- The host's side -----------------------------------------------------------------
    // As if changed in the device's settings.
    static void setAuthorizationStatus(PHAuthorizationStatus status);
    // The prompt's answer, given without showing it; none shows the prompt.
    static void setPromptAnswer(std::optional<PHAuthorizationStatus> answer);
    // Whether the prompt is showing now.
    static bool isPromptShowing();
    // The next change fails with this error (saving nothing).
    static void failNextChange(const NSErrorPtr& error);
    // Where saved pictures are kept, and the files there in the order saved (by number).
    static std::string folder();
    static std::vector<std::string> savedPictures();
    // Not determined, no scripted answer or failure, nothing pending (tests).
    static void reset();
    // A line for the process-state check: the status and what the host scripted.
    static std::string stateDescription();

    // The prompt's texts.
    static constexpr const char* kDontAllowTitle = "Don't Allow";
    static constexpr const char* kAllowTitle = "Allow";

    PHPhotoLibrary();

private:
    std::shared_ptr<DispatchQueue> queue_;
};
