// The picture menu against the demo content server: the high-resolution file downloaded into
// the photo album with access refused, first asked, granted, and failing to save (the
// downloaded file never stays behind); the request by e-mail with every value encoded and only
// a plausible address sent; sharing the standard picture with its full name; saving a picture
// already on the device. Why a save failed goes to the diagnostics log, never to the terminal.
#include "gallery/ImageMenu.h"

#include "config/AppInfo.h"
#include "config/OEConfigFactory.h"
#include "gallery/FileListDownloader.h"
#include "gallery/FullSizePictureHolder.h"
#include "gallery/ImageInfo.h"
#include "gallery/ImageLoader.h"
#include "gallery/ResourceLoader.h"
#include "gallery/PhotoAlbumSaver.h"
#include "gallery/UIRequestHD.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/photos/PHPhotoLibrary.h"
#include "platform/ui/UIActivityViewController.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIToolbar.h"
#include "platform/ui/UIWindow.h"
#include "tests/gallery/GalleryFixture.h"
#include "uikit/ActivityView.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OEIdleTimerManager.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <functional>

namespace {

using testing::HasSubstr;

class ImageMenuTest : public GalleryFixture {
protected:
    void SetUp() override {
        GalleryFixture::SetUp();
        Clock::setManual(10'000);
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        server_ = startContentServer();
        ASSERT_TRUE(server_);
        context_ = galleryContext();
        context_.app.config->setUrlFormat(
            OEConfigFactory::defaultFactory()->makeURLFormatConfigWithHost(server_->host(), "gallery"));
        context_.idle = OEIdleTimerManager::make();
        owner_ = UIViewController::make();
        nav_ = UINavigationController::initWithRootViewController(owner_);
        window_ = UIWindow::make();
        window_->setRootViewController(nav_);
        window_->makeKeyAndVisible();
        settle();
        row_ = pictureWithHD();
    }
    void TearDown() override {
        Diagnostics::logToStandardError();
        ActivityView::sharedActivityView()->hideActivityIndicator();
        window_.reset();
        nav_.reset();
        owner_.reset();
        settle();
        PHPhotoLibrary::reset();
        NSUserDefaults::standardUserDefaults()->removeObjectForKey(UIRequestHD::kRequestEmailKey);
        UIApplication::sharedApplication()->reset();
        Clock::setReal();
        server_.reset();
        GalleryFixture::TearDown();
    }

    // A picture on the device whose high-resolution file the server has.
    Value::Dictionary pictureWithHD() {
        auto source = catalogue();
        for (const auto& row : *source->list(source->subCatList(source->catList()->front())->front()))
            if (exists(bundle() + "/Data/" + row.get("imagePath").stringValue()) && row.get("has_hd_iphone").stringValue() == "1")
                return row;
        ADD_FAILURE() << "no picture with a high-resolution file";
        return {};
    }
    std::shared_ptr<ImageMenu> menu() {
        auto made = ImageMenu::imageMenuForImageData(row_, context_);
        made->setOwnerViewController(owner_);
        return made;
    }
    std::shared_ptr<UIAlertController> presentedAlert() const {
        return std::dynamic_pointer_cast<UIAlertController>(topController());
    }
    std::shared_ptr<UIViewController> topController() const {
        auto top = std::static_pointer_cast<UIViewController>(nav_);
        while (top->presentedViewController()) top = top->presentedViewController();
        return top == nav_ ? nullptr : top;
    }
    bool waitFor(const std::function<bool()>& done) {
        const bool ok = NSRunLoop::mainRunLoop()->runUntil(done, kNetworkWait);
        pass(1);
        return ok;
    }
    // The files the downloads left in Caches.
    static std::size_t cachedFiles() {
        std::size_t n = 0;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(Sandbox::caches(), ignored))
            if (entry.is_regular_file() && entry.path().extension() == ".tmp") ++n;
        return n;
    }
    std::vector<LoopbackServer::Request> requestsTo(const std::string& path) const {
        std::vector<LoopbackServer::Request> out;
        for (const auto& request : server_->requests())
            if (request.path == path) out.push_back(request);
        return out;
    }
    // Chooses the sheet's action with this title.
    void choose(const std::shared_ptr<ImageMenu>& menu, const std::string& title) {
        menu->show();
        settle();
        auto sheet = presentedAlert();
        ASSERT_TRUE(sheet);
        ASSERT_TRUE(sheet->tapActionWithTitle(title));
        settle();
    }
    // Diagnostics into the home's log from now on, as the simulator has them; its path.
    static std::string logIntoHome() {
        const std::string path = Sandbox::home() + "/diagnostics.log";
        NSErrorPtr error;
        EXPECT_TRUE(Diagnostics::logToFile(path, false, &error)) << (error ? error->description() : "");
        return path;
    }
    std::string downloadTitle() const {
        return NSString::format(OECoreString("Download HD (%@)"), row_.get("resolution").stringValue());
    }

    std::unique_ptr<ContentServer> server_;
    GalleryContext context_;
    std::shared_ptr<UIViewController> owner_;
    std::shared_ptr<UINavigationController> nav_;
    std::shared_ptr<UIWindow> window_;
    Value::Dictionary row_;
};

}  // namespace

TEST_F(ImageMenuTest, WithPhotoAccessRefusedTheDeniedAlertShowsAndTheDownloadedFileGoes) {
    PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus::Denied);
    choose(menu(), downloadTitle());
    ASSERT_TRUE(waitFor([&] { return presentedAlert() != nullptr; }));
    auto alert = presentedAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), NSString::format(OECoreString(PhotoAlbumSaver::kDeniedAccessKey), AppInfo::displayName()));
    EXPECT_NE(alert->message().find(AppInfo::displayName()), std::string::npos);
    EXPECT_EQ(requestsTo("/data/gallery/" + row_.get("imagePath").stringValue()).size(), 1u);
    EXPECT_TRUE(PHPhotoLibrary::savedPictures().empty());
    EXPECT_EQ(cachedFiles(), 0u);
    EXPECT_FALSE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    EXPECT_EQ(context_.idle->holderCount(), 0u);
}

// The album keeps the downloaded file as it came: the one picture decoded for the save is the
// small one that tells its body decodes.
TEST_F(ImageMenuTest, FirstAskedAndGrantedTheHDPictureIsSavedAndTheMenuSaysSo) {
    const std::uint64_t decoded = UIImage::decodedPictureCount();
    choose(menu(), downloadTitle());
    // The platform asks the person.
    ASSERT_TRUE(waitFor([] { return !UIAlertView::visibleAlertViews().empty(); }));
    auto prompt = UIAlertView::visibleAlertViews().front();
    EXPECT_TRUE(PHPhotoLibrary::isPromptShowing());
    ASSERT_TRUE(prompt->tapButtonAtIndex(prompt->firstOtherButtonIndex()));
    ASSERT_TRUE(waitFor([&] { return presentedAlert() != nullptr; }));

    const auto saved = PHPhotoLibrary::savedPictures();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(UIImage::decodedPictureCount(), decoded + 1);
    EXPECT_EQ(bytesOf(saved.front()), bytesOf(serverFolder() + "/data/gallery/" + row_.get("imagePath").stringValue()));
    auto picture = UIImage::imageWithContentsOfFile(saved.front());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->pixelWidth(), kDemoHDPictureWidth);
    auto done = presentedAlert();
    EXPECT_EQ(done->title(), "");
    EXPECT_EQ(done->message(), OECoreString("Complete"));
    EXPECT_EQ(cachedFiles(), 0u);
    EXPECT_FALSE(UIApplication::sharedApplication()->isIdleTimerDisabled());
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());
}

TEST_F(ImageMenuTest, AFailedSaveSaysSoAndStillRemovesTheDownloadedFile) {
    PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus::Authorized);
    PHPhotoLibrary::failNextChange(NSError::errorWithDomain("PHPhotosErrorDomain", -1));
    const std::string log = logIntoHome();
    testing::internal::CaptureStderr();
    choose(menu(), downloadTitle());
    const bool alerted = waitFor([&] { return presentedAlert() != nullptr; });
    const std::string terminal = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(alerted);
    EXPECT_EQ(presentedAlert()->message(), OECoreString("Error saving"));
    EXPECT_THAT(bytesOf(log), HasSubstr("The picture could not be saved to the photo album: "));
    EXPECT_THAT(terminal, testing::Not(HasSubstr("photo album"))) << terminal;
    EXPECT_TRUE(PHPhotoLibrary::savedPictures().empty());
    EXPECT_EQ(cachedFiles(), 0u);
    EXPECT_EQ(context_.idle->holderCount(), 0u);
}

// A download cut short behind a sound header is no picture to keep.
TEST_F(ImageMenuTest, AnHDFileWhoseBodyIsCutShortSaysSoAndLeavesTheAlbumAsItWas) {
    PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus::Authorized);
    const std::string path = "/data/gallery/" + row_.get("imagePath").stringValue();
    const std::string whole = bytesOf(serverFolder() + path);
    const std::string cut = whole.substr(0, whole.size() * 6 / 10);
    ASSERT_TRUE(UIImage::imageWithData(NSData(cut.begin(), cut.end())));
    server_->serve(path, LoopbackServer::Response::make(200, cut, "image/jpeg"));

    const std::string log = logIntoHome();
    testing::internal::CaptureStderr();
    choose(menu(), downloadTitle());
    const bool alerted = waitFor([&] { return presentedAlert() != nullptr; });
    const std::string terminal = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(alerted);
    EXPECT_EQ(presentedAlert()->message(), OECoreString("Error saving"));
    // The file's place is named in the log alone.
    EXPECT_THAT(bytesOf(log), HasSubstr(" is no picture: nothing was saved to the photo album."));
    EXPECT_THAT(terminal, testing::Not(HasSubstr("is no picture"))) << terminal;
    EXPECT_EQ(requestsTo(path).size(), 1u);
    EXPECT_TRUE(PHPhotoLibrary::savedPictures().empty());
    EXPECT_EQ(cachedFiles(), 0u);
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());
    EXPECT_EQ(context_.idle->holderCount(), 0u);
}

TEST_F(ImageMenuTest, AFailedDownloadSavesNothingAndLeavesNoFile) {
    PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus::Authorized);
    server_->setFault("/data/gallery/" + row_.get("imagePath").stringValue(), LoopbackServer::Fault::withStatus(500));
    choose(menu(), downloadTitle());
    ASSERT_TRUE(waitFor([] { return !UIAlertView::visibleAlertViews().empty(); }));
    EXPECT_EQ(UIAlertView::visibleAlertViews().front()->message(), FileListDownloader::localized("Error downloading"));
    UIAlertView::visibleAlertViews().front()->tapButtonAtIndex(0);
    settle();
    EXPECT_FALSE(presentedAlert());
    EXPECT_TRUE(PHPhotoLibrary::savedPictures().empty());
    EXPECT_EQ(cachedFiles(), 0u);
    EXPECT_EQ(context_.idle->holderCount(), 0u);
}

TEST_F(ImageMenuTest, ThePictureOnTheDeviceIsSavedAndKept) {
    PHPhotoLibrary::setAuthorizationStatus(PHAuthorizationStatus::Authorized);
    auto saving = menu();
    saving->saveImageToPhotoAlbum();
    ASSERT_TRUE(waitFor([&] { return presentedAlert() != nullptr; }));
    ASSERT_EQ(PHPhotoLibrary::savedPictures().size(), 1u);
    EXPECT_EQ(bytesOf(PHPhotoLibrary::savedPictures().front()), bytesOf(bundle() + "/Data/" + row_.get("imagePath").stringValue()));
    EXPECT_TRUE(exists(bundle() + "/Data/" + row_.get("imagePath").stringValue()));
}

TEST_F(ImageMenuTest, TheRequestByEMailEncodesEveryValueAndSendsOnlyAPlausibleAddress) {
    // A picture whose author and name would break the query if they went in as they are.
    row_.set("author_name", Value("Smith & Sons"));
    row_.set("author_name_en", Value("Smith & Sons"));
    row_.set("name", Value("A=B; dir_name=../../etc?"));
    row_.set("name_en", Value("A=B; dir_name=../../etc?"));
    choose(menu(), NSString::format(OECoreString("Get HD (%@)"), row_.get("resolution").stringValue()));
    auto form = std::dynamic_pointer_cast<UINavigationController>(topController());
    ASSERT_TRUE(form);
    auto request = std::dynamic_pointer_cast<UIRequestHD>(form->topViewController());
    ASSERT_TRUE(request);
    EXPECT_EQ(request->emailField()->placeholder(), OECoreString("Enter Email Address"));
    EXPECT_TRUE(request->emailField()->isFirstResponder());
    EXPECT_EQ(request->emailField()->text(), "");

    // Not plausible: nothing goes to the server, the form says what it wants.
    for (const char* address : {"", "nobody", "two@at@example.org", "@example.org", "me@", "me @example.org",
                                "me@example.org\r\nX: y"}) {
        request->emailField()->setText(address);
        request->navigationItem()->rightBarButtonItem()->simulateTap();
        settle();
        auto alert = presentedAlert();
        ASSERT_TRUE(alert) << address;
        EXPECT_EQ(alert->message(), OECoreString("Enter Email Address")) << address;
        ASSERT_TRUE(alert->tapActionAtIndex(0));
        settle();
    }
    EXPECT_TRUE(requestsTo("/ostrelEngine/getFile.php").empty());

    // A plausible one with characters that would add parameters: each value stays one value.
    const std::string address = "me+art&dir_name=x@example.org";
    request->emailField()->setText(address);
    request->navigationItem()->rightBarButtonItem()->simulateTap();
    ASSERT_TRUE(request->request());
    EXPECT_TRUE(ActivityView::sharedActivityView()->isShown());
    ASSERT_TRUE(waitFor([&] { return !request->request(); }));
    EXPECT_FALSE(form->presentingViewController());
    const auto sent = requestsTo("/ostrelEngine/getFile.php");
    ASSERT_EQ(sent.size(), 1u);
    const std::string query = sent.front().query;
    EXPECT_EQ(query, "mail_to=me%2Bart%26dir_name%3Dx%40example.org&fname=" + row_.get("imagePath").stringValue() +
                         "&dir_name=gallery&show_fname=Smith%20%26%20Sons%20-%20A%3DB%3B%20dir_name%3D..%2F..%2Fetc%3F")
        << query;
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->stringForKey(UIRequestHD::kRequestEmailKey), address);
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());

    // The next form starts with the address used last.
    auto again = UIRequestHD::initWithImageData(row_, context_);
    again->loadViewIfNeeded();
    EXPECT_EQ(again->emailField()->text(), address);
}

TEST_F(ImageMenuTest, ARefusedRequestShowsTheErrorAndKeepsTheForm) {
    auto request = UIRequestHD::initWithImageData(row_, context_);
    auto form = UINavigationController::initWithRootViewController(request);
    owner_->presentViewController(form, false, nullptr);
    settle();
    // The server has no such file.
    row_.set("imagePath", Value("no-such-picture.jpg"));
    request->setImageData(row_);
    request->emailField()->setText("me@example.org");
    EXPECT_TRUE(request->textFieldShouldReturn(request->emailField()));
    ASSERT_TRUE(waitFor([&] { return presentedAlert() != nullptr; }));
    EXPECT_EQ(presentedAlert()->title(), OECoreString("Error"));
    EXPECT_TRUE(form->presentingViewController());
    EXPECT_FALSE(ActivityView::sharedActivityView()->isShown());
    // An empty field does not send.
    request->emailField()->setText("");
    EXPECT_FALSE(request->textFieldShouldReturn(request->emailField()));
}

// Sharing offers the picture a page holds whole when it holds the standard one, that very picture
// rather than a second copy.
TEST_F(ImageMenuTest, ShareOffersTheStandardPictureWithItsFullName) {
    choose(menu(), OECoreString("Share"));
    auto sheet = std::dynamic_pointer_cast<UIActivityViewController>(topController());
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->activityItems().size(), 2u);
    const auto* picture = std::get_if<std::shared_ptr<UIImage>>(&sheet->activityItems()[0]);
    ASSERT_TRUE(picture && *picture);
    EXPECT_EQ((*picture)->pixelWidth(), kDemoPictureWidth);
    EXPECT_EQ(std::get<std::string>(sheet->activityItems()[1]), ImageInfo(locale(), row_).fullName());
    sheet->close();
    pass(1);
    EXPECT_FALSE(topController());

    // A page holds the standard picture whole.
    const auto& holder = context_.resources->fullSizePictures();
    const auto resources = context_.resources;
    const std::string standard = ImageLoader::imagePath(row_);
    (void)holder->take([resources, standard](const FullSizePictureHolder::Apart&) {
        auto whole = resources->loadImageFrom(standard);
        return whole && whole->decodes() ? whole : nullptr;
    }, nullptr, [](const std::shared_ptr<UIImage>&) {});
    ASSERT_TRUE(waitFor([&] { return holder->heldPicture() != nullptr; }));
    choose(menu(), OECoreString("Share"));
    sheet = std::dynamic_pointer_cast<UIActivityViewController>(topController());
    ASSERT_TRUE(sheet);
    EXPECT_EQ(std::get<std::shared_ptr<UIImage>>(sheet->activityItems()[0]), holder->heldPicture());
    sheet->close();
    pass(1);

    // A picture not on the device is not shared.
    row_.set("imagePath", Value("no-such-picture.jpg"));
    choose(menu(), OECoreString("Share"));
    EXPECT_FALSE(topController());
}

TEST_F(ImageMenuTest, OnAPadTheSheetsPopOverFromTheMenuButtonWithTheirTitlesWhole) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    window_.reset();
    settle();
    owner_ = UIViewController::make();
    nav_ = UINavigationController::initWithRootViewController(owner_);
    window_ = UIWindow::make();
    window_->setRootViewController(nav_);
    window_->makeKeyAndVisible();
    auto button = UIBarButtonItem::initWithTitle("menu", UIBarButtonItemStylePlain, nullptr, nullptr);
    owner_->setToolbarItems({button, UIBarButtonItem::flexibleSpaceItem()});
    nav_->setToolbarHidden(false, false);
    settle();
    window_->layoutIfNeeded();
    const auto toolbar = nav_->toolbar();
    ASSERT_FALSE(toolbar->itemFrames().empty());
    const CGRect anchor = toolbar->convertRectToView(toolbar->itemFrames()[0], window_);
    const CGRect screen = window_->bounds();

    // Above its button at the bottom, pointing at it, inside the screen.
    auto besideTheButton = [&](const CGRect& frame) {
        EXPECT_LE(CGRectGetMaxY(frame), CGRectGetMinY(anchor));
        EXPECT_GE(CGRectGetMaxY(frame), CGRectGetMinY(anchor) - 20) << "next to it";
        EXPECT_LE(frame.origin.x, CGRectGetMidX(anchor));
        EXPECT_GE(CGRectGetMaxX(frame), CGRectGetMidX(anchor));
        EXPECT_GE(frame.origin.x, 0);
        EXPECT_LE(CGRectGetMaxX(frame), screen.size.width);
        EXPECT_LT(frame.size.width, screen.size.width / 2) << "a popover, not a sheet across the screen";
    };
    auto shown = menu();
    shown->show();
    settle();
    auto sheet = presentedAlert();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->modalPresentationStyle(), UIModalPresentationStyle::Popover);
    window_->layoutIfNeeded();
    besideTheButton(sheet->view()->frame());
    // Every action's button spans the popover and has room for its whole title.
    std::vector<std::string> titles;
    std::function<void(const std::shared_ptr<UIView>&)> walk = [&](const std::shared_ptr<UIView>& view) {
        if (auto action = std::dynamic_pointer_cast<UIButton>(view)) {
            const CGRect frame = action->convertRectToView(action->bounds(), sheet->view());
            EXPECT_GE(frame.origin.x, 0);
            EXPECT_LE(CGRectGetMaxX(frame), sheet->view()->bounds().size.width + 0.5);
            EXPECT_GE(frame.size.width, sheet->view()->bounds().size.width - 0.5);
            EXPECT_LE(action->titleLabel()->sizeThatFits(CGSizeMake(10000, 44)).width, frame.size.width)
                << action->currentTitle();
            titles.push_back(action->currentTitle());
            return;
        }
        for (const auto& child : view->subviews()) walk(child);
    };
    walk(sheet->view());
    EXPECT_EQ(titles, (std::vector<std::string>{downloadTitle(),
                                                NSString::format(OECoreString("Get HD (%@)"), row_.get("resolution").stringValue()),
                                                OECoreString("Share"), OECoreString("Cancel")}));

    ASSERT_TRUE(sheet->tapActionWithTitle(OECoreString("Share")));
    settle();
    auto share = std::dynamic_pointer_cast<UIActivityViewController>(topController());
    ASSERT_TRUE(share);
    EXPECT_EQ(share->modalPresentationStyle(), UIModalPresentationStyle::Popover);
    window_->layoutIfNeeded();
    besideTheButton(share->view()->frame());
    share->close();
    pass(1);
    EXPECT_FALSE(topController());
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
}
