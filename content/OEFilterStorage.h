// Keeps the filter choice of each subcategory in a property-list file in Documents, one file
// per grouping table and subcategory number.
#pragma once

#include "content/dataSubCat.h"
#include "config/FileSystem.h"
#include "platform/foundation/NSError.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class OEFilterStorage {
public:
    // Documents/filter_<table>_<index>; "" when the table name is not a plain identifier or the
    // Documents folder is unknown.
    static std::string filterPathForCatIndex(const FileSystem& files, std::int32_t index,
                                             const std::string& table = "subCat");
    // The name earlier versions used for every table, Documents/filter_<index>; still read for "subCat".
    static std::string legacyFilterPathForCatIndex(const FileSystem& files, std::int32_t index);

    // Writes the values atomically and marks the file not to be backed up.
    [[nodiscard]] static bool saveFilter(const FileSystem& files, const std::vector<std::string>& values,
                           const std::shared_ptr<dataSubCat>& subCat);
    // The stored values; none when nothing readable is stored.
    [[nodiscard]] static std::optional<std::vector<std::string>> filterForSubCat(const FileSystem& files,
                                                                   const std::shared_ptr<dataSubCat>& subCat);
    // Removes the stored filter (both names for "subCat"); false, with the file manager's
    // error, when a file that is there could not be removed (it would come back on the next read).
    [[nodiscard]] static bool removeFilterForSubCat(const FileSystem& files, const std::shared_ptr<dataSubCat>& subCat,
                                                    NSErrorPtr* error = nullptr);
};
