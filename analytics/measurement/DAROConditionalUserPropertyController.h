// The conditional user properties' controller under the public front's name; it adds nothing.
#pragma once

#include "analytics/audience/APMConditionalUserPropertyController.h"

class DAROConditionalUserPropertyController : public APMConditionalUserPropertyController {
public:
    using APMConditionalUserPropertyController::APMConditionalUserPropertyController;
};
