// The two error domains of the event-editing runtime and their codes. Errors carry the code
// alone (no user info); the platform's regular-expression errors pass through unchanged.
#pragma once

#include "platform/foundation/NSError.h"

inline constexpr const char* kAPMPErrorDomain = "com.vizudi.vuv.measurement.pixie.ErrorDomain";
inline constexpr const char* kAPMPEditingErrorDomain = "com.vizudi.vuv.measurement.pixie.editing.ErrorDomain";

enum APMPErrorCode : long {
    APMPErrorUndeclaredAssignment = 2,
    APMPErrorNoBooleanConversion = 3,
    APMPErrorNoNumberConversion = 4,
    APMPErrorNoStringConversion = 5,
    APMPErrorPropertyOfNothing = 6,
    APMPErrorMethodOfNothing = 7,
    APMPErrorEmptyReduce = 8,
    APMPErrorArgumentCount = 9,
    // Also: a string longer than the runtime allows, a value nested too deep or holding itself
    // where a plain object is made of it.
    APMPErrorArgumentKind = 10,
    // Also: an array longer than the runtime allows.
    APMPErrorInvalidArrayLength = 11,
    // Also: an entity tree nested deeper than the runtime converts.
    APMPErrorEntityType = 12,
    APMPErrorUnconvertibleObject = 13,
    APMPErrorStatementWithoutName = 14,
    APMPErrorModuleCreatorFailed = 15,
    APMPErrorNotIterable = 16,
    APMPErrorUnknownMethod = 17,
    // A run's budget is spent: its instructions, or one of the bounds that keep a program from
    // exhausting the worker queue's stack, memory or time (call depth, live memory, regular
    // expression work, created events, log lines).
    APMPErrorBudgetSpent = 18,
};

enum APMPEditingErrorCode : long {
    APMPEditingErrorMissingType = 2,
    APMPEditingErrorUnknownRuleType = 3,
    APMPEditingErrorTooManyCallbacks = 4,
    APMPEditingErrorControlAtTopLevel = 5,
    APMPEditingErrorActivityNotMap = 6,
    APMPEditingErrorActivityNotFunction = 7,
};

inline NSErrorPtr APMPError(long code) { return NSError::errorWithDomain(kAPMPErrorDomain, code); }
inline NSErrorPtr APMPEditingError(long code) { return NSError::errorWithDomain(kAPMPEditingErrorDomain, code); }
