// The photo library: the permission standing, asked once with a prompt the person answers (or
// the host scripted), answers always on a background thread; changes that save all their
// pictures into the home's library folder or none, and fail without permission or when the
// host made them fail.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSThread.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/FileError.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/NSURL.h"
#include "platform/photos/PHAssetChangeRequest.h"
#include "platform/photos/PHPhotoLibrary.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIImage.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <utility>

namespace {

std::shared_ptr<UIImage> picture(int width, int height, std::uint8_t shade) {
    return UIImage::imageWithPixels(std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * 4), shade), width,
                                    height, 1);
}

// What an answer brought, and whether it came on the main thread.
struct Heard {
    std::mutex mutex;
    std::vector<PHAuthorizationStatus> statuses;
    std::atomic<int> onMain{0};
    std::atomic<int> count{0};
    void hear(PHAuthorizationStatus status) {
        if (NSThread::isMainThread()) ++onMain;
        std::lock_guard lock(mutex);
        statuses.push_back(status);
        ++count;
    }
};

class PhotoLibraryTest : public testing::Test {
protected:
    void SetUp() override { Clock::setManual(100); }
    void TearDown() override {
        settle();
        PHPhotoLibrary::reset();
        Clock::setReal();
    }
    static void settle() {
        Clock::advance(0);
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    static bool waitFor(const std::function<bool()>& done) { return NSRunLoop::mainRunLoop()->runUntil(done, 10); }

    // Not a local of the test: an answer's pool thread may still be inside hear() when a wait
    // for its count ends, and TearDown's settle waits for it before this goes.
    Heard heard;

    // Saves the pictures in one change and answers (success, error domain and code).
    static std::tuple<bool, std::string, long> change(const std::vector<std::shared_ptr<UIImage>>& pictures) {
        return change([pictures] {
            for (const auto& p : pictures) (void)PHAssetChangeRequest::creationRequestForAssetFromImage(p);
        });
    }
    // The same for picture files.
    static std::tuple<bool, std::string, long> change(const std::vector<std::string>& files) {
        return change([files] {
            for (const auto& f : files) (void)PHAssetChangeRequest::creationRequestForAssetFromImageAtFileURL(NSURL::fileURLWithPath(f));
        });
    }
    static std::tuple<bool, std::string, long> change(std::function<void()> requests) {
        std::atomic<bool> finished{false};
        bool ok = false;
        NSErrorPtr failure;
        PHPhotoLibrary::sharedPhotoLibrary()->performChanges(
            std::move(requests),
            [&](bool success, const NSErrorPtr& error) {
                ok = success;
                failure = error;
                finished = true;
            });
        EXPECT_TRUE(waitFor([&] { return finished.load(); }));
        return {ok, failure ? failure->domain() : "", failure ? failure->code() : 0};
    }
};

}  // namespace

TEST_F(PhotoLibraryTest, ANotDeterminedPermissionIsAskedOnceAndTheAnswerGoesToEveryWaitingHandler) {
    EXPECT_EQ(PHPhotoLibrary::authorizationStatus(), PHAuthorizationStatus::NotDetermined);
    PHPhotoLibrary::requestAuthorization([&](PHAuthorizationStatus s) { heard.hear(s); });
    PHPhotoLibrary::requestAuthorization([&](PHAuthorizationStatus s) { heard.hear(s); });
    settle();
    // One prompt for both, on the main thread, with the application's name.
    ASSERT_EQ(UIAlertView::visibleAlertViews().size(), 1u);
    auto prompt = UIAlertView::visibleAlertViews().front();
    EXPECT_TRUE(PHPhotoLibrary::isPromptShowing());
    EXPECT_EQ(prompt->buttonTitleAtIndex(prompt->cancelButtonIndex()), PHPhotoLibrary::kDontAllowTitle);
    EXPECT_EQ(heard.count.load(), 0);

    ASSERT_TRUE(prompt->tapButtonAtIndex(prompt->firstOtherButtonIndex()));  // Allow
    ASSERT_TRUE(waitFor([&] { return heard.count.load() == 2; }));
    EXPECT_EQ(heard.statuses, (std::vector<PHAuthorizationStatus>{PHAuthorizationStatus::Authorized,
                                                                   PHAuthorizationStatus::Authorized}));
    EXPECT_EQ(heard.onMain.load(), 0);
    EXPECT_FALSE(PHPhotoLibrary::isPromptShowing());
    EXPECT_EQ(PHPhotoLibrary::authorizationStatus(), PHAuthorizationStatus::Authorized);

    // Decided once: later requests answer at once, without a prompt.
    PHPhotoLibrary::requestAuthorization([&](PHAuthorizationStatus s) { heard.hear(s); });
    ASSERT_TRUE(waitFor([&] { return heard.count.load() == 3; }));
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
}

TEST_F(PhotoLibraryTest, ARefusalOrAScriptedAnswerDecidesAndTheSettingsCanChangeIt) {
    PHPhotoLibrary::requestAuthorization([&](PHAuthorizationStatus s) { heard.hear(s); });
    settle();
    ASSERT_EQ(UIAlertView::visibleAlertViews().size(), 1u);
    auto prompt = UIAlertView::visibleAlertViews().front();
    ASSERT_TRUE(prompt->tapButtonAtIndex(prompt->cancelButtonIndex()));
    ASSERT_TRUE(waitFor([&] { return heard.count.load() == 1; }));
    EXPECT_EQ(heard.statuses.back(), PHAuthorizationStatus::Denied);
    EXPECT_EQ(PHPhotoLibrary::authorizationStatus(), PHAuthorizationStatus::Denied);

    // A scripted answer is given without a prompt while the status is open.
    PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus::NotDetermined);
    PHPhotoLibrary::setPromptAnswer(PHAuthorizationStatus::Limited);
    PHPhotoLibrary::requestAuthorization([&](PHAuthorizationStatus s) { heard.hear(s); });
    ASSERT_TRUE(waitFor([&] { return heard.count.load() == 2; }));
    EXPECT_EQ(heard.statuses.back(), PHAuthorizationStatus::Limited);
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());

    // A prompt left unanswered goes with a reset and answers nobody.
    PHPhotoLibrary::reset();
    PHPhotoLibrary::requestAuthorization([&](PHAuthorizationStatus s) { heard.hear(s); });
    settle();
    ASSERT_EQ(UIAlertView::visibleAlertViews().size(), 1u);
    PHPhotoLibrary::reset();
    settle();
    EXPECT_TRUE(UIAlertView::visibleAlertViews().empty());
    EXPECT_EQ(heard.count.load(), 2);
    EXPECT_EQ(PHPhotoLibrary::stateDescription(), "status 0");
}

TEST_F(PhotoLibraryTest, AChangeSavesItsPicturesInOrderIntoTheHomesLibraryFolder) {
    PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus::Authorized);
    EXPECT_EQ(PHPhotoLibrary::folder(), Sandbox::home() + "/Media/DCIM");
    EXPECT_TRUE(PHPhotoLibrary::savedPictures().empty());

    const auto [ok, domain, code] = change({picture(6, 4, 10), picture(3, 5, 200)});
    EXPECT_TRUE(ok) << domain << " " << code;
    auto saved = PHPhotoLibrary::savedPictures();
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0], PHPhotoLibrary::folder() + "/IMG_0001.PNG");
    auto first = UIImage::imageWithContentsOfFile(saved[0]);
    auto second = UIImage::imageWithContentsOfFile(saved[1]);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->pixelWidth(), 6);
    EXPECT_EQ(second->pixelHeight(), 5);
    EXPECT_EQ(second->rgbaPixels()[0], 200);

    // Numbers go on after the last one.
    EXPECT_TRUE(std::get<0>(change({picture(2, 2, 50)})));
    saved = PHPhotoLibrary::savedPictures();
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[2], PHPhotoLibrary::folder() + "/IMG_0003.PNG");
}

// A picture file is kept as its own bytes, never decoded, under its kind's extension whatever its
// name; a file that is no picture fails the change.
TEST_F(PhotoLibraryTest, APictureFileIsKeptAsItsOwnBytesUnderItsKindsExtension) {
    PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus::Authorized);
    const std::string jpeg = Sandbox::tmp() + "/photo.jpeg", png = Sandbox::tmp() + "/drawing.jpg",
                      text = Sandbox::tmp() + "/notes.png";
    const NSData jpegBytes = UIImageJPEGRepresentation(picture(8, 6, 90), 0.9);
    const NSData pngBytes = UIImagePNGRepresentation(picture(5, 7, 30));
    ASSERT_TRUE(writeDataToFile(jpegBytes, jpeg, true));
    ASSERT_TRUE(writeDataToFile(pngBytes, png, true));
    ASSERT_TRUE(writeDataToFile(NSData{'n', 'o', 't', 'e', 's'}, text, true));

    const std::uint64_t decoded = UIImage::decodedPictureCount();
    const auto [ok, domain, code] = change(std::vector<std::string>{jpeg, png});
    EXPECT_TRUE(ok) << domain << " " << code;
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded);
    const auto saved = PHPhotoLibrary::savedPictures();
    ASSERT_EQ(saved, (std::vector<std::string>{PHPhotoLibrary::folder() + "/IMG_0001.JPG",
                                               PHPhotoLibrary::folder() + "/IMG_0002.PNG"}));
    EXPECT_EQ(readDataFromFile(saved[0]), jpegBytes);
    EXPECT_EQ(readDataFromFile(saved[1]), pngBytes);

    // All or nothing: a file that is no picture, or none, fails the change.
    for (const auto& bad : {text, Sandbox::tmp() + "/missing.jpg"})
        EXPECT_FALSE(std::get<0>(change(std::vector<std::string>{jpeg, bad}))) << bad;
    EXPECT_EQ(PHPhotoLibrary::savedPictures().size(), 2u);
    // Numbers go on across the kinds.
    EXPECT_TRUE(std::get<0>(change({picture(2, 2, 50)})));
    EXPECT_EQ(PHPhotoLibrary::savedPictures().back(), PHPhotoLibrary::folder() + "/IMG_0003.PNG");
}

TEST_F(PhotoLibraryTest, WithoutPermissionOrWhenMadeToFailAChangeSavesNothing) {
    for (auto status : {PHAuthorizationStatus::NotDetermined, PHAuthorizationStatus::Denied,
                        PHAuthorizationStatus::Restricted}) {
        PHPhotoLibrary::setAuthorizationStatus(status);
        const auto [ok, domain, code] = change({picture(2, 2, 1)});
        EXPECT_FALSE(ok);
        EXPECT_EQ(domain, "PHPhotosErrorDomain");
        EXPECT_EQ(code, 3311);
    }
    EXPECT_TRUE(PHPhotoLibrary::savedPictures().empty());

    PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus::Authorized);
    PHPhotoLibrary::failNextChange(NSError::errorWithDomain("Test", 7));
    const auto [ok, domain, code] = change({picture(2, 2, 1), picture(2, 2, 2)});
    EXPECT_FALSE(ok);
    EXPECT_EQ(domain, "Test");
    EXPECT_EQ(code, 7);
    EXPECT_TRUE(PHPhotoLibrary::savedPictures().empty());
    // Only the next one.
    EXPECT_TRUE(std::get<0>(change({picture(2, 2, 1)})));
    EXPECT_EQ(PHPhotoLibrary::savedPictures().size(), 1u);
}

TEST_F(PhotoLibraryTest, AFullDiskPartWayLeavesNoneOfTheChangesPictures) {
    PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus::Authorized);
    auto faulty = std::make_shared<FaultyFileIO>();
    // The second picture's file meets a full disk.
    faulty->inject(FaultyFileIO::Operation::Write, "*IMG_0002*", ENOSPC);
    {
        ScopedFileIO scoped(faulty);
        const auto [ok, domain, code] = change({picture(4, 4, 9), picture(4, 4, 8), picture(4, 4, 7)});
        EXPECT_FALSE(ok);
        EXPECT_EQ(domain, NSCocoaErrorDomain);
        EXPECT_EQ(code, NSFileWriteOutOfSpaceError);
    }
    EXPECT_GE(faulty->injected(), 1);
    EXPECT_TRUE(PHPhotoLibrary::savedPictures().empty());
}

namespace {

// The file system as another process saving into the album sees it: right after the library lists
// the folder, that process takes the next number.
class RacingSaver : public FaultyFileIO {
public:
    explicit RacingSaver(std::string taken) : taken_(std::move(taken)) {}
    int listFolder(const std::string& path, std::vector<std::string>& names) override {
        const int err = FaultyFileIO::listFolder(path, names);
        if (!err && !std::exchange(done_, true)) {
            EXPECT_TRUE(writeDataToFile(NSData{'t', 'h', 'e', 'i', 'r', 's'}, taken_, true));
        }
        return err;
    }

private:
    const std::string taken_;
    bool done_ = false;
};

}  // namespace

TEST_F(PhotoLibraryTest, NumbersGoPastIMG9999AndNoSaveTakesAPicturesPlace) {
    PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus::Authorized);
    const std::string folder = PHPhotoLibrary::folder();
    ASSERT_EQ(FileIO::current()->makeFolders(folder), 0);
    const NSData last = UIImageJPEGRepresentation(picture(3, 3, 70), 0.9);
    ASSERT_TRUE(writeDataToFile(last, folder + "/IMG_9999.JPG", true));

    // Each save after IMG_9999 gets a number of its own, in the order saved.
    EXPECT_TRUE(std::get<0>(change({picture(4, 4, 1)})));
    EXPECT_TRUE(std::get<0>(change({picture(5, 5, 2)})));
    auto saved = PHPhotoLibrary::savedPictures();
    ASSERT_EQ(saved, (std::vector<std::string>{folder + "/IMG_9999.JPG", folder + "/IMG_10000.PNG",
                                               folder + "/IMG_10001.PNG"}));
    EXPECT_EQ(readDataFromFile(saved[0]), last);
    auto first = UIImage::imageWithContentsOfFile(saved[1]);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->pixelWidth(), 4);

    // A picture saved elsewhere under the number this change was to take keeps it: this one takes
    // the next free one.
    auto racing = std::make_shared<RacingSaver>(folder + "/IMG_10002.PNG");
    {
        ScopedFileIO scoped(racing);
        const auto [ok, domain, code] = change({picture(6, 6, 3)});
        EXPECT_TRUE(ok) << domain << " " << code;
    }
    saved = PHPhotoLibrary::savedPictures();
    ASSERT_EQ(saved.size(), 5u);
    EXPECT_EQ(readDataFromFile(folder + "/IMG_10002.PNG"), (NSData{'t', 'h', 'e', 'i', 'r', 's'}));
    EXPECT_EQ(saved.back(), folder + "/IMG_10003.PNG");
    auto ours = UIImage::imageWithContentsOfFile(saved.back());
    ASSERT_TRUE(ours);
    EXPECT_EQ(ours->pixelWidth(), 6);

    // A folder that cannot be listed is saved into by no number at all.
    auto unlisted = std::make_shared<FaultyFileIO>();
    unlisted->ioError(FaultyFileIO::Operation::List, folder);
    {
        ScopedFileIO scoped(unlisted);
        EXPECT_FALSE(std::get<0>(change({picture(2, 2, 4)})));
    }
    EXPECT_GE(unlisted->injected(), 1);
    EXPECT_EQ(PHPhotoLibrary::savedPictures().size(), 5u);
}
