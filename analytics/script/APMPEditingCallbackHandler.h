// The callbacks the rules registered, edit and create apart, each kind run in ascending order
// of priority. Priorities are the registering function's ToUint32 numbers; a priority already
// taken becomes one past the highest so far, so equal priorities run in registration order.
#pragma once

#include "analytics/script/APMPRuntimeValue.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class APMPEditingCallbackHandler {
public:
    // Callbacks of both kinds together.
    static constexpr std::size_t kMaxCallbacks = 1000;

    // Editing error 4 past kMaxCallbacks, 3 for a rule type other than "edit" or "create".
    [[nodiscard]] bool registerWithPriority(std::int64_t priority, APMPRuntimeValue callback, const std::string& ruleType,
                                            NSErrorPtr& error);

    // By ascending priority.
    const std::map<std::int64_t, APMPRuntimeValue>& editCallbacks() const { return editCallbacks_; }
    const std::map<std::int64_t, APMPRuntimeValue>& createCallbacks() const { return createCallbacks_; }

private:
    std::map<std::int64_t, APMPRuntimeValue> editCallbacks_;
    std::map<std::int64_t, APMPRuntimeValue> createCallbacks_;
};
