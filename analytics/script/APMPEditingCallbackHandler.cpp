#include "analytics/script/APMPEditingCallbackHandler.h"

#include "analytics/script/APMPErrors.h"

bool APMPEditingCallbackHandler::registerWithPriority(std::int64_t priority, APMPRuntimeValue callback,
                                                      const std::string& ruleType, NSErrorPtr& error) {
    if (editCallbacks_.size() + createCallbacks_.size() >= kMaxCallbacks) {
        error = APMPEditingError(APMPEditingErrorTooManyCallbacks);
        return false;
    }
    std::map<std::int64_t, APMPRuntimeValue>* callbacks = nullptr;
    if (ruleType == "create") callbacks = &createCallbacks_;
    else if (ruleType == "edit") callbacks = &editCallbacks_;
    if (!callbacks) {
        error = APMPEditingError(APMPEditingErrorUnknownRuleType);
        return false;
    }
    // Held as 64-bit numbers: one past the highest 32-bit priority does not overflow.
    if (callbacks->contains(priority)) priority = callbacks->rbegin()->first + 1;
    callbacks->emplace(priority, std::move(callback));
    return true;
}
