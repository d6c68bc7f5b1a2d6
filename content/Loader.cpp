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

namespace {
// The code of a statement's failure as the import reports it.
OEContentErrorCode codeOf(const NSErrorPtr& failure) {
    return failure && failure->code() == OEContentErrorBusy ? OEContentErrorBusy : OEContentErrorStatement;
}
}  // namespace

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
    // Made here, used wherever the loader goes next.
    if (loader->sql_) loader->sql_->detachFromSequence();
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
        NSErrorPtr error;
        if (!importOldFavorites(name, &error)) {
            // The file stays, so the next start tries again; the insert skips what is there.
            ContentLog::log(NSString::format("%@ The file is kept.", error->localizedDescription()));
        }
    }
}

bool Loader::importOldFavorites(const std::string& fileName, NSErrorPtr* error) {
    // `cause` is the engine's own sentence, when there is one.
    auto fail = [&](OEContentErrorCode code, const std::string& why, const NSErrorPtr& cause = nullptr) {
        std::string sentence = NSString::format("The old favourites file %@ %@.", fileName, why);
        if (cause) sentence += " " + cause->localizedDescription();
        setError(error, contentError(code, sentence));
        return false;
    };
    if (!sql_ || !dbConfig_) return fail(OEContentErrorNotOpen, "has no open images database to go into");
    if (fileName == dbConfig_->imagesDBName()) return fail(OEContentErrorNoSuchFile, "is the images database itself");
    const auto path = fileSystem().safeDocumentsPathForFile(fileName, false);
    auto manager = NSFileManager::defaultManager();
    if (!path || !manager->fileExistsAtPath(*path)) return fail(OEContentErrorNoSuchFile, "is not in Documents");

    // The path is bound, never formatted into the statement: any character may be in the name.
    NSErrorPtr failure;
    const bool attached = sql_->execRequest("attach database ? as old", {Value(*path)}, &failure);
    sql_->endRequest();
    if (!attached) return fail(codeOf(failure), "could not be attached", failure);

    bool copied = false;
    bool hadFavorites = false;
    if (sql_->prepareRequest("select 1 from old.sqlite_master where type = 'table' and name = 'favorites'", {},
                             &failure)) {
        const int rc = sql_->step(&failure);
        sql_->endRequest();
        if (rc == SQLITE_DONE) {
            copied = true;  // an old file without favourites has nothing to carry over
        } else if (rc == SQLITE_ROW) {
            hadFavorites = true;
            copied = sql_->runInTransaction(
                {
                    "create table if not exists favorites (\"index\" integer primary key)",
                    "insert or ignore into favorites(\"index\") select \"index\" from old.favorites",
                },
                &failure);
        }
    }
    // Detached whatever happened above. A file that could not be detached is not deleted, and
    // the failure goes to the caller: the connection must not keep it attached unseen.
    NSErrorPtr detachFailure;
    if (!sql_->detachDatabase("old", &detachFailure)) {
        setError(error, detachFailure);
        return false;
    }
    if (!copied) return fail(codeOf(failure), "could not be copied", failure);
    NSErrorPtr removal;
    if (!manager->removeItemAtPath(*path, &removal)) {
        std::string outcome;
        if (hadFavorites) {
            // The favourites are in. Left as it is, the file would bring back at the next start any
            // favourite the user removes in the meantime, so its own favourites are emptied instead
            // and a later start finds nothing to add, only the file to delete.
            bool emptied = sql_->execRequest("attach database ? as old", {Value(*path)});
            sql_->endRequest();
            if (emptied) {
                emptied = sql_->execRequest("delete from old.favorites");
                sql_->endRequest();
                emptied = sql_->detachDatabase("old") && emptied;
            }
            outcome = emptied ? " Its favourites were emptied, so they are not imported again."
                              : " Its favourites are imported again at the next start.";
        }
        ContentLog::log(NSString::format("The old favourites file %@ was imported but could not be deleted. %@%@",
                                         fileName,
                                         removal ? removal->localizedDescription() : std::string("Unknown error."),
                                         outcome));
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
    // The favourites upload at every start asks before the first favourite made the table.
    if (!sql_->tableExists(table)) return values;
    if (!sql_->prepareRequest(NSString::format("select %@ from %@", *quotedField, *quotedTable))) return values;
    while (sql_->nextRow()) values.push_back(sql_->getString(0).value_or(""));
    return values;
}
