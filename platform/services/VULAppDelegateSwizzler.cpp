// The app-delegate proxy over the application's hook points.
#include "platform/services/VULAppDelegateSwizzler.h"

#include "platform/foundation/NSBundle.h"
#include "platform/ui/UIApplication.h"

bool VULAppDelegateSwizzler::isAppDelegateProxyEnabled() {
    const Value value = NSBundle::mainBundle()->objectForInfoDictionaryKey(kProxyEnabledPlistKey);
    return !(value.isNumber() || value.isBool()) || value.boolValue();
}

void VULAppDelegateSwizzler::proxyOriginalDelegate() {
    if (!isAppDelegateProxyEnabled()) return;
    if (auto application = UIApplication::sharedApplication()) application->installDelegateProxy();
}

void VULAppDelegateSwizzler::registerAppDelegateInterceptor(const std::shared_ptr<UIApplicationDelegate>& interceptor) {
    if (auto application = UIApplication::sharedApplication()) application->addDelegateInterceptor(interceptor);
}
