// Where the measurement engine keeps its files (Library/Preferences and Application
// Support/Vizudi/Measurement), backup exclusion, and the moves of the settings file.
#pragma once

#include "platform/foundation/NSError.h"

#include <string>

// Marks the item not to be backed up; false with the file system's error when that fails.
[[nodiscard]] bool APMExcludePathFromBackup(const std::string& path, NSErrorPtr* error);
// "<Library>/Preferences/<name>.plist"; empty for an empty name or a missing Library folder.
[[nodiscard]] std::string APMPreferencesPlistPath(const std::string& name);
// "<Application Support>/Vizudi/Measurement/<name>"; empty for an empty name or a missing folder.
[[nodiscard]] std::string APMApplicationSupportPath(const std::string& name);
// As above with ".plist" added unless the name's extension already is "plist".
[[nodiscard]] std::string APMApplicationSupportPlistPath(const std::string& name);
// Removes the item; an empty path fails with code 1.
[[nodiscard]] bool APMDeleteFileAtPath(const std::string& path, NSErrorPtr* error);
// Moves a file. A missing source is success; a folder at either end fails. An existing
// destination file is kept (and the source deleted) unless `overwrite` is set.
[[nodiscard]] bool APMMoveFile(const std::string& sourcePath, const std::string& destinationPath, bool overwrite);
// Preferences -> Application Support without overwrite; on success the suite's domain is
// dropped from the standard user defaults so no stale copy is served.
[[nodiscard]] bool APMMoveSuitePlistToApplicationSupport(const std::string& suiteName);
// Application Support -> Preferences with overwrite; the values read from the file are set
// again in the suite's user defaults so they are visible at once.
[[nodiscard]] bool APMMoveSuitePlistToPreferences(const std::string& suiteName);
