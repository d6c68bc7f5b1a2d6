// An exception caught at a boundary of the measurement side (worker queue, stores), kept as
// a log context: its name (the C++ type), reason and any call-stack lines it carries.
#pragma once

#include "platform/foundation/NSObject.h"

#include <exception>
#include <memory>
#include <string>
#include <vector>

class APMCaughtException : public NSObject {
public:
    // Call-stack lines use the platform's "index module address symbol + offset" shape.
    [[nodiscard]] static std::shared_ptr<APMCaughtException> initWithName(
        const std::string& name, const std::string& reason, std::vector<std::string> callStackSymbols = {});
    // From the exception being handled (or any stored one): std::exception gives its type and
    // what(); anything else is named "unknown exception".
    [[nodiscard]] static std::shared_ptr<APMCaughtException> fromExceptionPtr(const std::exception_ptr& exception);

    const std::string& name() const { return name_; }
    const std::string& reason() const { return reason_; }
    const std::vector<std::string>& callStackSymbols() const { return callStackSymbols_; }

    // "<name>: <reason>", or the name alone without a reason.
    std::string description() const override;

private:
    std::string name_;
    std::string reason_;
    std::vector<std::string> callStackSymbols_;
};
