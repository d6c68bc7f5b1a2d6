// Interface texts of the "Core" string table, looked up with an empty default value so that a
// key without a translation shows as itself.
#pragma once

#include <string>

std::string OECoreString(const std::string& key);
