// Screens and their event parameters.
#include "analytics/reporters/APMScreen.h"

#include "analytics/core/APMDataTypeValidator.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMValue.h"

namespace {

bool isValidScreenText(const std::optional<std::string>& text, std::int64_t* failureCode = nullptr) {
    return text && APMDataTypeValidator::isValidScreenParameterValue(Value(*text), failureCode);
}

}  // namespace

std::shared_ptr<APMScreen> APMScreen::initWithName(std::optional<std::string> name, std::optional<std::string> className,
                                                   std::int64_t instanceID) {
    return std::make_shared<APMScreen>(std::move(name), std::move(className), instanceID);
}

std::shared_ptr<APMScreen> APMScreen::copy() const { return initWithName(name_, className_, instanceID_); }

Value::Dictionary APMScreenParametersForScreen(const std::shared_ptr<APMScreen>& screen) {
    Value::Dictionary parameters;
    if (!screen) return parameters;
    parameters.set("_si", Value(APMValue::initWithInt64(screen->instanceID())));
    const auto& className = screen->screenClassName();
    if (!className || className->empty()) {
        APMMeasurementMonitor()->logWithLevel(3, 31014, "Screen class name is empty");
    } else {
        std::int64_t failure = 0;
        if (!isValidScreenText(className, &failure)) {
            APMMeasurementMonitor()->logWithLevel(3, 31015, "Screen class name is invalid. Error code",
                                                  Value(static_cast<long long>(failure)));
            return parameters;
        }
        parameters.set("_sc", Value(APMValue::initWithString(Value(*className))));
    }
    if (isValidScreenText(screen->name())) parameters.set("_sn", Value(APMValue::initWithString(Value(*screen->name()))));
    return parameters;
}

Value::Dictionary APMPreviousScreenParametersForScreen(const std::shared_ptr<APMScreen>& screen) {
    Value::Dictionary parameters;
    if (!screen) return parameters;
    parameters.set("_pi", Value(APMValue::initWithInt64(screen->instanceID())));
    if (isValidScreenText(screen->screenClassName())) {
        parameters.set("_pc", Value(APMValue::initWithString(Value(*screen->screenClassName()))));
    }
    if (isValidScreenText(screen->name())) parameters.set("_pn", Value(APMValue::initWithString(Value(*screen->name()))));
    return parameters;
}
