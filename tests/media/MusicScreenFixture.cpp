// The music fixture with screens.
#include "tests/media/MusicScreenFixture.h"

#include "content/FileDownloader.h"
#include "demo/generator/DemoIcons.h"
#include "demo/generator/DemoPictures.h"
#include "media/CompositionsSource.h"
#include "media/MediaPlayerController.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIWindow.h"

#include <map>

void MusicScreenFixture::SetUp() {
    MediaFixture::SetUp();
    // The images the music screens show.
    writeIcons({"play", "paused", "r", "r_up", "r.1", "s", "s_up", "media_download", "media_cancel", "media_download_bar",
                "cb_dark_on", "cb_dark_off", "playlist"});
    Clock::setManual(400'000);
    UIApplication::sharedApplication()->reset();
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
    source_ = DB_CompositionsSource::initWithSQL(openMedia(), "author", context());
    music_.media = context();
    music_.player = MediaPlayerController::initWithSource(source_, context());
    queue_ = std::make_shared<FileDownloader>();
    queue_->setMaxDownloadingFiles(0);
    music_.downloads = queue_;
    window_ = UIWindow::make();
}

void MusicScreenFixture::TearDown() {
    for (const auto& alert : UIAlertView::visibleAlertViews()) alert->dismissWithClickedButtonIndex(0, false);
    window_.reset();
    music_ = MusicContext{};
    queue_.reset();
    source_.reset();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    UIApplication::sharedApplication()->reset();
    UIImage::clearNamedCache();
    for (const char* key : {"kMediaPlayerRewindKey", "kMediaPlayerShuffleKey", "kMediaPlayerVolumeKey",
                            "kMediaPlayerLastPlayedIndex", "InternetConnectionNeededAttention"})
        NSUserDefaults::standardUserDefaults()->removeObjectForKey(key);
    MediaFixture::TearDown();
}

std::vector<std::string> MusicScreenFixture::queued() const {
    std::vector<std::string> names;
    for (long i = 0; i < queue_->queuedFiles(); ++i) names.push_back(queue_->queuedFileAt(i));
    return names;
}

void MusicScreenFixture::writeIcons(std::initializer_list<const char*> names) {
    // Drawn once per process: the same bytes serve every test's bundle.
    static std::map<std::string, std::vector<std::uint8_t>> drawn;
    std::string error;
    for (const char* name : names) {
        auto& png = drawn[name];
        if (png.empty()) png = DemoPictures::encodePNG(DemoIcons::draw(name, 1));
        ASSERT_TRUE(DemoPictures::writeFile(bundle() + "/" + name + ".png", png, &error)) << error;
    }
    UIImage::clearNamedCache();
}

std::shared_ptr<UINavigationController> MusicScreenFixture::show(const std::shared_ptr<UIViewController>& screen) {
    auto navigation = UINavigationController::initWithRootViewController(screen);
    window_->setRootViewController(navigation);
    window_->makeKeyAndVisible();
    NSRunLoop::mainRunLoop()->runUntilIdle();
    return navigation;
}
