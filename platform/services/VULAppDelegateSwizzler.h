// The utility library's app-delegate proxy: libraries that want to hear what the system hands
// the application (opened URLs, continued activities, background session events) without the
// delegate's help register an interceptor; the proxy is placed on the application's hook points.
#pragma once

#include <memory>

class UIApplicationDelegate;

class VULAppDelegateSwizzler {
public:
    // Info.plist key that switches the proxy off when it holds a false value.
    static constexpr const char* kProxyEnabledPlistKey = "VizudiAppDelegateProxyEnabled";

    static bool isAppDelegateProxyEnabled();
    // Places the proxy around the application's delegate (once; nothing while it is switched off).
    static void proxyOriginalDelegate();
    // The interceptor hears every forwarded call from then on.
    static void registerAppDelegateInterceptor(const std::shared_ptr<UIApplicationDelegate>& interceptor);
};
