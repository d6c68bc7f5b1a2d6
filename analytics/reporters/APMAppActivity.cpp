// The application's activity as the screen-view reporter answers it.
#include "analytics/reporters/APMAppActivity.h"

#include <mutex>

namespace {

std::mutex gAppActiveMutex;
std::function<bool()> gAppActiveProvider;

}  // namespace

bool APMIsAppActive() {
    std::function<bool()> provider;
    {
        std::lock_guard<std::mutex> lock(gAppActiveMutex);
        provider = gAppActiveProvider;
    }
    return provider ? provider() : false;
}

void APMSetAppActiveProvider(std::function<bool()> provider) {
    std::lock_guard<std::mutex> lock(gAppActiveMutex);
    gAppActiveProvider = std::move(provider);
}
