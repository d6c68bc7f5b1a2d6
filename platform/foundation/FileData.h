// Whole-file reads and writes; an atomic write leaves either the old file or the new one.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

#include <optional>
#include <string>

std::optional<NSData> readDataFromFile(const std::string& path, NSErrorPtr* error = nullptr);
bool writeDataToFile(const NSData& data, const std::string& path, bool atomically, NSErrorPtr* error = nullptr);
