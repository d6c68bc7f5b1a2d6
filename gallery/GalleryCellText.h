// Small text helpers shared by the gallery's table layouts: localised row values and the
// phone test of the cell fonts.
#pragma once

#include "config/OELocalizations.h"
#include "platform/foundation/Value.h"

#include <string>

namespace GalleryCellText {
std::string localizedName(const OELocalizations& locale, const Value::Dictionary& row);
std::string localizedDescription(const OELocalizations& locale, const Value::Dictionary& row);
std::string localizedAuthor(const OELocalizations& locale, const Value::Dictionary& row);
// The phone idiom, or a device that cannot tell its idiom.
bool isPhone();
// Every occurrence of `from` (compared without letter case) replaced by `to`.
std::string replacingCaseInsensitive(const std::string& text, const std::string& from, const std::string& to);
}  // namespace GalleryCellText
