// Binds a database entry to its own engine (connection); over the images database it also
// carries the user's favourites over from old images database files left in Documents.
#include "content/Loader.h"

#include "content/ContentLog.h"
#include "config/OESQLIdentifier.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSRegularExpression.h"
#include "platform/foundation/NSString.h"

#include <mutex>
#include <set>

#include <sqlite3.h>

std::shared_ptr<Loader> Loader::loaderWithDBEntry(const std::shared_ptr<dbEntry>& entry, const OEContext& context) {
    return initWithDBEntry(entry, context);
}

std::shared_ptr<Loader> Loader::initWithDBEntry(const std::shared_ptr<dbEntry>& entry, const OEContext& context) {
    auto loader = std::make_shared<Loader>();
    loader->context_ = context;
    loader->dbConfig_ = context.config ? context.config->database() : nullptr;
    loader->entry_ = entry ? entry : dbEntry::initWithPath("", "");
    if (!loader->entry_->dbPath().empty()) {
        loader->sql_ = SQLiteEngine::init(loader->entry_->dbPath(), *context.fileSystem);
    }
    if (loader->sql_ && loader->dbConfig_ && loader->entry_->dbPath() == loader->dbConfig_->imagesDBName()) {
        loader->importOldFavoritesOnce();
    }
    return loader;
}

void Loader::importOldFavoritesOnce() {
    // One import per images database file per process, whichever thread gets here first;
    // the others wait here until it is over, so no two threads attach or delete the same file.
    static std::mutex mutex;
    static std::set<std::string> done;
    std::lock_guard guard(mutex);
    if (!done.insert(sql_->path()).second) return;

    const std::string documents = fileSystem().documentsFolder();
    if (documents.empty()) return;
    const auto names = NSFileManager::defaultManager()->contentsOfDirectoryAtPath(documents);
    if (!names) return;
    auto pattern = NSRegularExpression::regularExpressionWithPattern("^images.*\\.sqlite$", 0);
    for (const auto& name : *names) {
        if (name == dbConfig_->imagesDBName()) continue;
        if (pattern->rangeOfFirstMatchInString(name).location == NSNotFound) continue;
        importOldFavorites(name);
    }
}

bool Loader::importOldFavorites(const std::string& fileName) {
    if (!sql_ || !dbConfig_ || fileName == dbConfig_->imagesDBName()) return false;
    const auto path = fileSystem().safeDocumentsPathForFile(fileName, false);
    auto manager = NSFileManager::defaultManager();
    if (!path || !manager->fileExistsAtPath(*path)) return false;

    auto guard = sql_->lock();
    // The path is bound, never formatted into the statement: any character may be in the name.
    if (!sql_->execRequest("attach database ? as old", {Value(*path)})) {
        sql_->endRequest();
        ContentLog::log(NSString::format("The old favourites file %@ could not be attached; it is kept.", fileName));
        return false;
    }
    sql_->endRequest();

    bool copied = false;
    if (sql_->prepareRequest("select 1 from old.sqlite_master where type = 'table' and name = 'favorites'")) {
        const int rc = sql_->step();
        sql_->endRequest();
        if (rc == SQLITE_DONE) {
            copied = true;  // an old file without favourites has nothing to carry over
        } else if (rc == SQLITE_ROW) {
            copied = sql_->runInTransaction({
                "create table if not exists favorites (\"index\" integer primary key)",
                "insert or ignore into favorites(\"index\") select \"index\" from old.favorites",
            });
        }
    }
    sql_->execRequest("detach database old");
    sql_->endRequest();

    if (!copied) {
        ContentLog::log(NSString::format("The favourites of the old file %@ could not be copied; the file is kept.", fileName));
        return false;
    }
    NSErrorPtr error;
    if (!manager->removeItemAtPath(*path, &error)) {
        ContentLog::log(NSString::format("The old favourites file %@ was imported but could not be deleted.", fileName));
    }
    return true;
}

std::vector<std::string> Loader::objectfFromTable(const std::string& table, const std::string& field) {
    std::vector<std::string> values;
    if (!sql_) return values;
    const auto quotedTable = OESQLIdentifier::quoted(table);
    const auto quotedField = OESQLIdentifier::quoted(field);
    if (!quotedTable || !quotedField) {
        ContentLog::log(NSString::format("The table or column name \"%@\".\"%@\" is not a plain identifier.", table, field));
        return values;
    }
    auto guard = sql_->lock();
    // The favourites upload at every start asks before the first favourite made the table.
    if (!sql_->tableExists(table)) return values;
    if (!sql_->prepareRequest(NSString::format("select %@ from %@", *quotedField, *quotedTable))) return values;
    while (sql_->nextRow()) values.push_back(sql_->getString(0).value_or(""));
    return values;
}
