// Screens: a profile of sizes and scale guarded for reads from any thread.
#include "platform/ui/UIScreen.h"

#include "platform/foundation/NSNotificationCenter.h"

#include <algorithm>

namespace {

Mutex screensMutex;

std::vector<std::shared_ptr<UIScreen>>& externalScreens() REQUIRES(screensMutex) {
    static auto* list = new std::vector<std::shared_ptr<UIScreen>>;  // never destroyed
    return *list;
}

}  // namespace

UIScreen::UIScreen(CGSize size, CGFloat scale) : portraitSize_(size), scale_(scale) {}

std::shared_ptr<UIScreen> UIScreen::mainScreen() {
    static auto* screen = new std::shared_ptr<UIScreen>(new UIScreen(phoneSize(), 2.0));  // never destroyed
    return *screen;
}

std::shared_ptr<UIScreen> UIScreen::make(CGSize size, CGFloat scale) {
    return std::shared_ptr<UIScreen>(new UIScreen(size, scale));
}

std::vector<std::shared_ptr<UIScreen>> UIScreen::screens() {
    std::vector<std::shared_ptr<UIScreen>> out{mainScreen()};
    MutexLock lock(screensMutex);
    out.insert(out.end(), externalScreens().begin(), externalScreens().end());
    return out;
}

void UIScreen::connectScreen(const std::shared_ptr<UIScreen>& screen) {
    if (!screen || screen == mainScreen()) return;
    {
        MutexLock lock(screensMutex);
        auto& list = externalScreens();
        if (std::find(list.begin(), list.end(), screen) != list.end()) return;
        list.push_back(screen);
    }
    NSNotificationCenter::defaultCenter()->postNotificationName(UIScreenDidConnectNotification, screen);
}

void UIScreen::disconnectScreen(const std::shared_ptr<UIScreen>& screen) {
    {
        MutexLock lock(screensMutex);
        auto& list = externalScreens();
        const auto it = std::find(list.begin(), list.end(), screen);
        if (it == list.end()) return;
        list.erase(it);
    }
    NSNotificationCenter::defaultCenter()->postNotificationName(UIScreenDidDisconnectNotification, screen);
}

CGRect UIScreen::bounds() const {
    MutexLock lock(mutex_);
    if (landscape_) return {{0, 0}, {portraitSize_.height, portraitSize_.width}};
    return {{0, 0}, portraitSize_};
}

CGFloat UIScreen::scale() const {
    MutexLock lock(mutex_);
    return scale_;
}

bool UIScreen::isLandscape() const {
    MutexLock lock(mutex_);
    return landscape_;
}

void UIScreen::setPortraitSize(CGSize size) {
    MutexLock lock(mutex_);
    portraitSize_ = size;
}

void UIScreen::setScale(CGFloat scale) {
    MutexLock lock(mutex_);
    if (scale > 0) scale_ = scale;
}

void UIScreen::setLandscape(bool landscape) {
    MutexLock lock(mutex_);
    landscape_ = landscape;
}

UIUserInterfaceStyle UIScreen::userInterfaceStyle() const {
    MutexLock lock(mutex_);
    return style_;
}

void UIScreen::setUserInterfaceStyle(UIUserInterfaceStyle style) {
    MutexLock lock(mutex_);
    style_ = style;
}
