// The application's activity as the screen-view reporter answers it.
#include "analytics/reporters/APMAppActivity.h"

#include "platform/foundation/ThreadAnnotations.h"

namespace {

Mutex gAppActiveMutex;
std::function<bool()> gAppActiveProvider GUARDED_BY(gAppActiveMutex);

}  // namespace

bool APMIsAppActive() {
    std::function<bool()> provider;
    {
        MutexLock lock(gAppActiveMutex);
        provider = gAppActiveProvider;
    }
    return provider ? provider() : false;
}

void APMSetAppActiveProvider(std::function<bool()> provider) {
    MutexLock lock(gAppActiveMutex);
    gAppActiveProvider = std::move(provider);
}
