// Exceptions caught at the measurement side's boundaries, as log contexts.
#include "analytics/core/APMCaughtException.h"
#include "platform/foundation/TypeName.h"

#include <cxxabi.h>

#include <typeinfo>

std::shared_ptr<APMCaughtException> APMCaughtException::initWithName(const std::string& name,
                                                                      const std::string& reason,
                                                                      std::vector<std::string> callStackSymbols) {
    auto exception = std::make_shared<APMCaughtException>();
    exception->name_ = name;
    exception->reason_ = reason;
    exception->callStackSymbols_ = std::move(callStackSymbols);
    return exception;
}

std::shared_ptr<APMCaughtException> APMCaughtException::fromExceptionPtr(const std::exception_ptr& exception) {
    if (!exception) return initWithName("unknown exception", "");
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception& e) {
        return initWithName(readableTypeName(typeid(e).name()), e.what());
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return initWithName(type ? readableTypeName(type->name()) : "unknown exception", "");
    }
}

std::string APMCaughtException::description() const {
    return reason_.empty() ? name_ : name_ + ": " + reason_;
}
