// The tracking-authorisation stand-in: one process-wide status.
#include "platform/adsupport/ATTrackingManager.h"

#include <atomic>
#include <memory>

namespace {

std::atomic<unsigned long> gStatus{ATTrackingManagerAuthorizationStatusNotDetermined};

}  // namespace

std::shared_ptr<ATTrackingManager> ATTrackingManager::classObject() {
    static auto* object = new std::shared_ptr<ATTrackingManager>(std::make_shared<ATTrackingManager>());
    return *object;
}

unsigned long ATTrackingManager::trackingAuthorizationStatus() const { return gStatus.load(); }

void ATTrackingManager::setTrackingAuthorizationStatus(unsigned long status) { gStatus.store(status); }
