// Names a content database: its file name (in Documents and in the bundle) and a display name.
#include "content/dbEntry.h"

#include "platform/foundation/NSString.h"

std::shared_ptr<dbEntry> dbEntry::initWithPath(const std::string& path, const std::string& name) {
    auto entry = std::make_shared<dbEntry>();
    entry->dbPath_ = path;
    entry->dbName_ = name;
    return entry;
}

std::shared_ptr<dbEntry> dbEntry::defaultEntry(const std::shared_ptr<OEDBConfig>& db) {
    return initWithPath(db ? db->imagesDBName() : std::string(), db ? db->defaultDBName() : std::string());
}

std::shared_ptr<dbEntry> dbEntry::articlesEntry(const std::shared_ptr<OEDBConfig>& db) {
    return initWithPath(db ? db->articlesDBName() : std::string(), "Articles");
}

std::string dbEntry::description() const {
    return NSString::format("<dbEntry: %@ (%@)>", dbPath_, dbName_);
}
