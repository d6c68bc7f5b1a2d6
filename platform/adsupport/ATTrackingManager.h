// Whether the user allowed this application to track them, as the host sets it. Applications
// reach the class by name ("ATTrackingManager"); the registered object answers for the class.
#pragma once

#include "platform/foundation/NSObject.h"

enum ATTrackingManagerAuthorizationStatus : unsigned long {
    ATTrackingManagerAuthorizationStatusNotDetermined = 0,
    ATTrackingManagerAuthorizationStatusRestricted = 1,
    ATTrackingManagerAuthorizationStatusDenied = 2,
    ATTrackingManagerAuthorizationStatusAuthorized = 3,
};

class ATTrackingManager : public NSObject {
public:
    // The object that stands for the class.
    static std::shared_ptr<ATTrackingManager> classObject();

    // Not determined until the host sets a status; any value can be set, as a later system
    // could report one this code does not know.
    unsigned long trackingAuthorizationStatus() const;
    static void setTrackingAuthorizationStatus(unsigned long status);
};
