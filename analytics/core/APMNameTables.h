// Public-to-internal tables of parameter and user-property names, and the debug display
// texts that show an internal name as "public (internal)".
#pragma once

#include "platform/foundation/Value.h"

#include <map>
#include <string>

// 54 entries; the "rezavivi_" and "va_" forms of a parameter share its internal name.
const std::map<std::string, std::string>& APMInternalParameterNamesByPublicName();
// 10 entries.
const std::map<std::string, std::string>& APMInternalUserPropertyNamesByPublicName();

// In debug mode, with the public interface class present, an internal name found in the table
// shows as "public (internal)", preferring a public name not beginning with "rezavivi_".
// Otherwise the name itself; a non-string gives its description.
std::string APMDisplayNameFromTable(const Value& name, const std::map<std::string, std::string>& table);
std::string APMDisplayNameForEvent(const Value& name);
std::string APMDisplayNameForParameter(const Value& name);
// Names beginning "_exp_" show as "experiment_id (<name>)" always.
std::string APMDisplayNameForUserProperty(const Value& name);
// In debug mode a dictionary prints as sorted "    name = value;" lines inside braces, with
// failure codes of "_err" named; anything else prints its description.
std::string APMDescriptionForParameters(const Value& parameters);
