// The recorded registrations.
#include "platform/store/SKAdNetwork.h"

#include <atomic>

namespace {

std::atomic<std::size_t> gRegistrations{0};

}  // namespace

void SKAdNetwork::registerAppForAdNetworkAttribution() { ++gRegistrations; }

std::size_t SKAdNetwork::registrationCount() { return gRegistrations.load(); }
