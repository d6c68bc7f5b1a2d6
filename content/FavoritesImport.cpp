// Copying favourites out of an old database file, attached to the current one.
#include "content/FavoritesImport.h"

#include "config/FileSystem.h"
#include "config/OESQLIdentifier.h"
#include "content/ContentError.h"
#include "content/ContentLog.h"
#include "content/SQLiteEngine.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSString.h"

#include <sqlite3.h>

namespace {
// The code of a statement's failure as the import reports it.
OEContentErrorCode importFailureCode(const NSErrorPtr& failure) {
    return failure && failure->code() == OEContentErrorBusy ? OEContentErrorBusy : OEContentErrorStatement;
}
}  // namespace

namespace FavoritesImport {

bool importFromDocuments(SQLiteEngine& sql, const FileSystem& fileSystem, const std::string& fileName,
                         const std::string& currentDatabase, const std::string& column, NSErrorPtr* error) {
    // `cause` is the engine's own sentence, when there is one.
    auto fail = [&](OEContentErrorCode code, const std::string& why, const NSErrorPtr& cause = nullptr) {
        std::string sentence = NSString::format("The old favourites file %@ %@.", fileName, why);
        if (cause) sentence += " " + cause->localizedDescription();
        setError(error, contentError(code, sentence));
        return false;
    };
    if (fileName == currentDatabase) return fail(OEContentErrorNoSuchFile, "is the current database itself");
    const auto found = fileSystem.safeDocumentsPathForFile(fileName, false);
    if (!found || !NSFileManager::defaultManager()->fileExistsAtPath(*found))
        return fail(OEContentErrorNoSuchFile, "is not in Documents");
    const std::string& path = *found;
    const auto quotedColumn = OESQLIdentifier::quoted(column);
    if (!quotedColumn) return fail(OEContentErrorStatement, "names no plain favourites column");
    const std::string& quoted = *quotedColumn;
    // Refused quietly by the engine: the one sentence about it is the import's.
    NSErrorPtr failure;
    if (!sql.attachDatabase(path, "old", &failure))
        return fail(importFailureCode(failure), "could not be attached", failure);

    // Nothing is written into a file whose pages do not all read, and nothing is taken from one:
    // both stay as they are, the old one keeping favourites the current one cannot take. Only the
    // import is refused: damage that no screen reads does not close the current file to them.
    // Reading every page of both is paid only by a launch that finds an old file.
    std::string damage;
    bool checked = true;
    for (const char* schema : {"main", "old"}) {
        NSErrorPtr found;
        if (sql.readsEveryPage(schema, &found)) continue;
        checked = false;
        if (found && found->code() == OEContentErrorDamaged) damage += " " + found->localizedDescription();
        else failure = found;
    }

    bool copied = false;
    bool hadFavorites = false;
    if (checked &&
        sql.prepareRequest("select 1 from old.sqlite_master where type = 'table' and name = 'favorites'", {}, &failure)) {
        const int rc = sql.step(&failure);
        sql.endRequest();
        if (rc == SQLITE_DONE) {
            copied = true;  // an old file without favourites has nothing to carry over
        } else if (rc == SQLITE_ROW) {
            hadFavorites = true;
            copied = sql.runInTransaction(
                {
                    "create table if not exists favorites (" + quoted + " integer primary key)",
                    "insert or ignore into favorites(" + quoted + ") select " + quoted + " from old.favorites",
                },
                &failure);
        }
    }
    // Detached whatever happened above. A file that could not be detached is not deleted, and
    // the failure goes to the caller: the connection must not keep it attached unseen.
    NSErrorPtr detachFailure;
    if (!sql.detachDatabase("old", &detachFailure)) {
        setError(error, detachFailure);
        return false;
    }
    if (!damage.empty()) {
        setError(error, contentError(OEContentErrorDamaged,
                                     NSString::format("The old favourites file %@ is not imported.%@", fileName, damage)));
        return false;
    }
    if (!copied) return fail(importFailureCode(failure), "could not be copied", failure);
    NSErrorPtr removal;
    if (!NSFileManager::defaultManager()->removeItemAtPath(path, &removal)) {
        std::string outcome;
        if (hadFavorites) {
            // The favourites are in. Left as it is, the file would bring back at the next start any
            // favourite the user removes in the meantime, so its own favourites are emptied instead
            // and a later start finds nothing to add, only the file to delete.
            bool emptied = sql.attachDatabase(path, "old");
            if (emptied) {
                emptied = sql.execRequest("delete from old.favorites");
                sql.endRequest();
                emptied = sql.detachDatabase("old") && emptied;
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

}  // namespace FavoritesImport
