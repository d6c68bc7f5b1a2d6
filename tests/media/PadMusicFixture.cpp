// The music screens on a pad.
#include "tests/media/PadMusicFixture.h"

#include "media/OECompositionsTableViewController.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIWindow.h"

void PadMusicFixture::SetUp() {
    MusicScreenFixture::SetUp();
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    // The tiles' images.
    writeIcons({"note", "note_add", "bar_ipad"});
    window_ = UIWindow::make();
    for (const std::string& name : {CompositionsPlayList, CompositionSelectedMessage, CompositionPlayPlaylistMessage})
        observers_.push_back(NSNotificationCenter::defaultCenter()->addObserverForName(
            name, nullptr, nullptr, [this, name](const NSNotification& note) {
                posted_.push_back(name);
                lastNote_ = NSNotification::notificationWithName(note.name(), note.object(), note.userInfo());
            }));
}

void PadMusicFixture::TearDown() {
    for (const auto& o : observers_) NSNotificationCenter::defaultCenter()->removeObserver(o);
    observers_.clear();
    lastNote_.reset();
    MusicScreenFixture::TearDown();
    UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
}

void PadMusicFixture::tapOn(const std::shared_ptr<UIView>& view) {
    window_->layoutAndDisplayIfNeeded();
    window_->tap(view->superview()->convertPointToView(view->center(), nullptr));
}

void PadMusicFixture::settle(double seconds) {
    for (double step = 0; step < seconds; step += 0.05) advance(0.05);
}
