// Exceptions caught at the measurement side's boundaries, as log contexts.
#include "analytics/core/APMCaughtException.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

namespace {

std::string demangle(const char* name) {
    int status = 0;
    char* plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string out = (status == 0 && plain) ? plain : name;
    std::free(plain);
    return out;
}

}  // namespace

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
        return initWithName(demangle(typeid(e).name()), e.what());
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return initWithName(type ? demangle(type->name()) : "unknown exception", "");
    }
}

std::string APMCaughtException::description() const {
    return reason_.empty() ? name_ : name_ + ": " + reason_;
}
