// Parameter and user-property name tables and debug display names.
#include "analytics/core/APMNameTables.h"

#include "analytics/core/APMEventNames.h"
#include "analytics/core/APMMonitor.h"
#include "analytics/core/APMValue.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <optional>
#include <vector>

const std::map<std::string, std::string>& APMInternalParameterNamesByPublicName() {
    static const std::map<std::string, std::string>& table = *new std::map<std::string, std::string>{
        {"ad_event_id", "_aeid"},
        {"ad_unit_id", "_ai"},
        {"app_in_background", "_aib"},
        {"deferred_analytics_collection", "_dac"},
        {"engagement_time_msec", "_et"},
        {"exposure_time", "_xt"},
        {"rezavivi_conversion", "_c"},
        {"rezavivi_debug", "_dbg"},
        {"rezavivi_error", "_err"},
        {"rezavivi_error_length", "_el"},
        {"rezavivi_error_value", "_ev"},
        {"rezavivi_event_origin", "_o"},
        {"rezavivi_feature_rollouts", "_ffr"},
        {"rezavivi_previous_class", "_pc"},
        {"rezavivi_previous_id", "_pi"},
        {"rezavivi_previous_screen", "_pn"},
        {"rezavivi_realtime", "_r"},
        {"rezavivi_screen", "_sn"},
        {"rezavivi_screen_class", "_sc"},
        {"rezavivi_screen_id", "_si"},
        {"va_conversion", "_c"},
        {"va_debug", "_dbg"},
        {"va_dedupe_id", "_did"},
        {"va_error", "_err"},
        {"va_error_length", "_el"},
        {"va_error_value", "_ev"},
        {"va_event_id", "_eid"},
        {"va_event_name", "_en"},
        {"va_event_origin", "_o"},
        {"va_extra_params_ct", "_epc"},
        {"va_group_name", "_gn"},
        {"va_index", "_i"},
        {"va_list_length", "_ll"},
        {"va_previous_class", "_pc"},
        {"va_previous_id", "_pi"},
        {"va_previous_screen", "_pn"},
        {"va_realtime", "_r"},
        {"va_screen", "_sn"},
        {"va_screen_class", "_sc"},
        {"va_screen_id", "_si"},
        {"message_id", "_nmid"},
        {"message_name", "_nmn"},
        {"message_time", "_nmt"},
        {"message_tracking_id", "_nmtid"},
        {"message_type", "_nmc"},
        {"message_device_time", "_ndt"},
        {"previous_app_version", "_pv"},
        {"previous_first_open_count", "_pfo"},
        {"previous_vuv_app_id", "_pvuv"},
        {"previous_os_version", "_po"},
        {"session_id", "_sid"},
        {"session_number", "_sno"},
        {"topic", "_nt"},
        {"update_with_analytics", "_uwa"},
    };
    return table;
}

const std::map<std::string, std::string>& APMInternalUserPropertyNamesByPublicName() {
    static const std::map<std::string, std::string>& table = *new std::map<std::string, std::string>{
        {"rezavivi_last_notification", "_ln"},
        {"first_open_after_install", "_fi"},
        {"first_open_time", "_fot"},
        {"va_session_id", "_sid"},
        {"va_session_number", "_sno"},
        {"last_advertising_id_reset", "_lair"},
        {"last_deep_link_referrer", "_ldl"},
        {"lifetime_user_engagement", "_lte"},
        {"session_user_engagement", "_se"},
        {"user_id", "_id"},
    };
    return table;
}

namespace {

bool isDebugDisplayOn() {
    return APMMeasurementMonitor()->isDebugModeEnabled();
}

}  // namespace

std::string APMDisplayNameFromTable(const Value& name, const std::map<std::string, std::string>& table) {
    if (!name.isString()) return name.description();
    const std::string& text = name.string();
    if (text.empty() || table.empty()) return text;
    if (APMIsPublicName(name)) return text;
    if (!isDebugDisplayOn()) return text;
    if (!ClassRegistry::isRegistered("DUROrezurive")) return text;
    std::string found;
    for (const auto& [publicName, internalName] : table) {
        if (internalName != text) continue;
        found = publicName;
        if (publicName.rfind("rezavivi_", 0) != 0) break;
    }
    if (found.empty()) return text;
    return found + " (" + text + ")";
}

std::string APMDisplayNameForEvent(const Value& name) {
    return APMDisplayNameFromTable(name, APMInternalEventNamesByPublicName());
}

std::string APMDisplayNameForParameter(const Value& name) {
    return APMDisplayNameFromTable(name, APMInternalParameterNamesByPublicName());
}

std::string APMDisplayNameForUserProperty(const Value& name) {
    if (name.isString() && name.string().rfind("_exp_", 0) == 0) return "experiment_id (" + name.string() + ")";
    return APMDisplayNameFromTable(name, APMInternalUserPropertyNamesByPublicName());
}

std::string APMDescriptionForParameters(const Value& parameters) {
    if (!isDebugDisplayOn() || !parameters.isDictionary()) return parameters.description();
    std::vector<std::string> lines;
    for (const auto& [key, value] : parameters.dictionary()) {
        std::string valueText;
        // Events carry their failure code as an int64 value; plain numbers come from elsewhere.
        std::optional<std::int64_t> code;
        if (key == "_err") {
            if (value.type() == Value::Type::Integer) code = value.longLongValue();
            else if (auto typed = value.objectAs<APMValue>(); typed && typed->isInt64()) code = typed->int64Value();
        }
        if (code) {
            const auto& names = APMFailureCodeNames();
            auto it = names.find(*code);
            valueText = it != names.end() ? it->second + " (" + std::to_string(*code) + ")" : std::to_string(*code);
        } else {
            valueText = value.description();
        }
        lines.push_back("    " + APMDisplayNameForParameter(Value(key)) + " = " + valueText + ";\n");
    }
    std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
        return NSString::caseInsensitiveCompare(a, b) == NSOrderedAscending;
    });
    std::string out = "{\n";
    for (const auto& line : lines) out += line;
    return out + "}";
}
