// The screens of the device: the main one with the profile chosen at start (phone or pad size
// and scale, turned with the interface orientation) and external screens that come and go.
#pragma once

#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/ui/CGGeometry.h"

#include <memory>
#include <string>
#include <vector>

inline const std::string UIScreenDidConnectNotification = "UIScreenDidConnectNotification";
inline const std::string UIScreenDidDisconnectNotification = "UIScreenDidDisconnectNotification";

// The light or dark appearance the person chose for the system.
enum class UIUserInterfaceStyle : int { Unspecified = 0, Light = 1, Dark = 2 };

class UIScreen : public NSObject {
public:
    static std::shared_ptr<UIScreen> mainScreen();
    // The main screen first, then connected external screens in connection order.
    static std::vector<std::shared_ptr<UIScreen>> screens();

    // An external screen of the given portrait size and scale (not yet connected).
    static std::shared_ptr<UIScreen> make(CGSize size, CGFloat scale);
    // Adds or removes an external screen, posting the connect or disconnect notification with
    // the screen as object on the default centre. Connecting the main screen, connecting a
    // screen twice or disconnecting one that is not connected does nothing.
    static void connectScreen(const std::shared_ptr<UIScreen>& screen);
    static void disconnectScreen(const std::shared_ptr<UIScreen>& screen);

    // The two profiles: phone 375 x 667 and pad 768 x 1024 points, both at scale 2.
    static CGSize phoneSize() { return {375, 667}; }
    static CGSize padSize() { return {768, 1024}; }

    // In points; width and height are swapped while the screen is turned to landscape.
    CGRect bounds() const;
    CGFloat scale() const;
    bool isLandscape() const;

    // Device profile, chosen at start by the simulator or a test.
    void setPortraitSize(CGSize size);
    void setScale(CGFloat scale);
    // Called by the application when the interface turns.
    void setLandscape(bool landscape);
    // The screen's trait: light unless the host chose dark.
    UIUserInterfaceStyle userInterfaceStyle() const;
    void setUserInterfaceStyle(UIUserInterfaceStyle style);

private:
    UIScreen(CGSize size, CGFloat scale);

    mutable Mutex mutex_;
    CGSize portraitSize_ GUARDED_BY(mutex_);
    CGFloat scale_ GUARDED_BY(mutex_);
    bool landscape_ GUARDED_BY(mutex_) = false;
    UIUserInterfaceStyle style_ GUARDED_BY(mutex_) = UIUserInterfaceStyle::Light;
};
