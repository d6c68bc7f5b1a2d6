// The one error shape of the measurement side, the one-line out-argument fillers, and the
// monitor contexts that errors carry into the health sample.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

inline constexpr const char* APMErrorDomain = "com.vizudi.vuv.measurement.ErrorDomain";
inline constexpr const char* APMMonitorContextKey = "APMMonitorContext";

// The codes of the measurement domain.
enum APMErrorCode : long {
    APMErrorInvalidArgument = 1,     // a missing, empty or malformed argument
    APMErrorFailedPrecondition = 2,  // a state that forbids the operation, or stored data that cannot be used
    APMErrorStorage = 3,             // SQLite failed, or a record cannot be turned into its row or back
};

// An error of the measurement domain; an empty description or context is left out of the user info.
NSErrorPtr apm_errorWithCode(std::int64_t code, const std::string& description);
NSErrorPtr apm_errorWithCode(std::int64_t code, const std::string& description, const std::string& monitorContext);

// Each filler stores a new error only when `error` is not null.
void APMSetError(NSErrorPtr* error, std::int64_t code, const std::string& description);
void APMSetErrorWithContext(NSErrorPtr* error, std::int64_t code, const std::string& description,
                            const std::string& monitorContext);
// Returns the flag; stores an error when it is false. The checks run on every row and call,
// so the description is copied only into an error.
[[nodiscard]] bool APMCheckSuccess(bool flag, NSErrorPtr* error, std::int64_t code, std::string_view description);
// True for a non-null value; stores an error otherwise.
[[nodiscard]] bool APMCheckNotNil(const Value& object, NSErrorPtr* error, std::int64_t code,
                                  std::string_view description);
template <class T>
[[nodiscard]] bool APMCheckNotNil(const std::shared_ptr<T>& object, NSErrorPtr* error, std::int64_t code,
                                  std::string_view description) {
    return APMCheckSuccess(object != nullptr, error, code, description);
}
[[nodiscard]] bool APMCheckNotNull(const void* pointer, NSErrorPtr* error, std::int64_t code,
                                   std::string_view description);
[[nodiscard]] bool APMCheckNonZero(std::int64_t value, NSErrorPtr* error, std::int64_t code,
                                   std::string_view description);

// The non-empty monitor contexts of the measurement errors among one log call's contexts,
// in order, joined with commas.
std::string APMMonitorContextFromContexts(const Value::Array& contexts);
