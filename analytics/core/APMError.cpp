// Measurement errors and their out-argument fillers.
#include "analytics/core/APMError.h"

NSErrorPtr apm_errorWithCode(std::int64_t code, const std::string& description) {
    return apm_errorWithCode(code, description, std::string());
}

NSErrorPtr apm_errorWithCode(std::int64_t code, const std::string& description, const std::string& monitorContext) {
    Value::Dictionary info;
    if (!description.empty()) info.set(NSLocalizedDescriptionKey, description);
    if (!monitorContext.empty()) info.set(APMMonitorContextKey, monitorContext);
    return NSError::errorWithDomain(APMErrorDomain, static_cast<long>(code), info);
}

void APMSetError(NSErrorPtr* error, std::int64_t code, const std::string& description) {
    if (error) *error = apm_errorWithCode(code, description);
}

void APMSetErrorWithContext(NSErrorPtr* error, std::int64_t code, const std::string& description,
                            const std::string& monitorContext) {
    if (error) *error = apm_errorWithCode(code, description, monitorContext);
}

bool APMCheckSuccess(bool flag, NSErrorPtr* error, std::int64_t code, std::string_view description) {
    if (!flag) APMSetError(error, code, std::string(description));
    return flag;
}

bool APMCheckNotNil(const Value& object, NSErrorPtr* error, std::int64_t code, std::string_view description) {
    return APMCheckSuccess(!object.isNull(), error, code, description);
}

bool APMCheckNotNull(const void* pointer, NSErrorPtr* error, std::int64_t code, std::string_view description) {
    return APMCheckSuccess(pointer != nullptr, error, code, description);
}

bool APMCheckNonZero(std::int64_t value, NSErrorPtr* error, std::int64_t code, std::string_view description) {
    return APMCheckSuccess(value != 0, error, code, description);
}

std::string APMMonitorContextFromContexts(const Value::Array& contexts) {
    std::string joined;
    for (const Value& context : contexts) {
        auto error = context.objectAs<NSError>();
        if (!error || error->domain() != APMErrorDomain) continue;
        const Value& monitorContext = error->userInfo().get(APMMonitorContextKey);
        if (!monitorContext.isString() || monitorContext.string().empty()) continue;
        if (!joined.empty()) joined += ",";
        joined += monitorContext.string();
    }
    return joined;
}
