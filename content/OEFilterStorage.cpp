// Keeps the filter choice of each subcategory in a property-list file in Documents, one file
// per grouping table and subcategory number.
#include "content/OEFilterStorage.h"

#include "content/ContentLog.h"
#include "config/OESQLIdentifier.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSString.h"

namespace {

// A record made without a table belongs to "subCat", as a plainly made record does.
std::string tableOf(const std::shared_ptr<dataSubCat>& subCat) {
    return subCat->catTable().empty() ? std::string("subCat") : subCat->catTable();
}

std::optional<std::vector<std::string>> readValues(const std::string& path) {
    if (path.empty() || !NSFileManager::defaultManager()->fileExistsAtPath(path)) return std::nullopt;
    const Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(path);
    if (!plist.isArray()) return std::nullopt;
    std::vector<std::string> values;
    for (const auto& value : plist.array()) {
        if (value.isString()) values.push_back(value.string());
    }
    return values;
}

// A filter file that is there and will not go is told: the filter it holds would come back.
void removeFilterFile(const std::string& path) {
    auto manager = NSFileManager::defaultManager();
    NSErrorPtr error;
    if (!path.empty() && manager->fileExistsAtPath(path) && !manager->removeItemAtPath(path, &error))
        ContentLog::log(NSString::format("A filter file stays: %@", error->localizedDescription()));
}

}  // namespace

std::string OEFilterStorage::filterPathForCatIndex(const FileSystem& files, std::int32_t index, const std::string& table) {
    if (!OESQLIdentifier::isPlain(table)) return "";
    return files.safeDocumentsPathForFile(NSString::format("filter_%@_%d", table, index), true).value_or("");
}

std::string OEFilterStorage::legacyFilterPathForCatIndex(const FileSystem& files, std::int32_t index) {
    return files.safeDocumentsPathForFile(NSString::format("filter_%d", index), true).value_or("");
}

bool OEFilterStorage::saveFilter(const FileSystem& files, const std::vector<std::string>& values,
                                 const std::shared_ptr<dataSubCat>& subCat) {
    if (!subCat) return false;
    const std::string table = tableOf(subCat);
    const std::string path = filterPathForCatIndex(files, subCat->index(), table);
    if (path.empty()) return false;
    Value::Array array;
    for (const auto& value : values) array.emplace_back(value);
    if (!NSPropertyListSerialization::writePropertyList(Value(array), path,
                                                        NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0)) {
        ContentLog::log(NSString::format("The filter of %@ %d could not be saved.", table, subCat->index()));
        return false;
    }
    if (!FileSystem::setNoBackupAttribute(path)) {
        ContentLog::log(NSString::format("The filter of %@ %d could not be marked to stay out of backups.", table,
                                         subCat->index()));
    }
    // The old file would otherwise come back once this one is removed.
    if (table == "subCat") removeFilterFile(legacyFilterPathForCatIndex(files, subCat->index()));
    return true;
}

std::optional<std::vector<std::string>> OEFilterStorage::filterForSubCat(const FileSystem& files,
                                                                         const std::shared_ptr<dataSubCat>& subCat) {
    if (!subCat) return std::nullopt;
    const std::string table = tableOf(subCat);
    if (auto values = readValues(filterPathForCatIndex(files, subCat->index(), table))) return values;
    if (table == "subCat") return readValues(legacyFilterPathForCatIndex(files, subCat->index()));
    return std::nullopt;
}

bool OEFilterStorage::removeFilterForSubCat(const FileSystem& files, const std::shared_ptr<dataSubCat>& subCat,
                                            NSErrorPtr* error) {
    if (!subCat) return true;
    const std::string table = tableOf(subCat);
    std::vector<std::string> paths = {filterPathForCatIndex(files, subCat->index(), table)};
    if (table == "subCat") paths.push_back(legacyFilterPathForCatIndex(files, subCat->index()));
    auto manager = NSFileManager::defaultManager();
    for (const auto& path : paths) {
        if (path.empty() || !manager->fileExistsAtPath(path)) continue;
        if (!manager->removeItemAtPath(path, error)) {
            ContentLog::log(NSString::format("The filter of %@ %d could not be removed.", table, subCat->index()));
            return false;
        }
    }
    return true;
}
