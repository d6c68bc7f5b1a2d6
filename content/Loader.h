// Binds a database entry to its own engine (connection); over the images database it also
// carries the user's favourites over from old images database files left in Documents.
#pragma once

#include "content/SQLiteEngine.h"
#include "content/dbEntry.h"
#include "config/OEContext.h"

#include <memory>
#include <string>
#include <vector>

class Loader : public NSObject {
public:
    static std::shared_ptr<Loader> loaderWithDBEntry(const std::shared_ptr<dbEntry>& entry, const OEContext& context);
    // Opens the entry's database in the context's Documents folder; the context's images and
    // articles databases only when they hold what the catalogue's and the articles' statements
    // name. Over the images database the first loader of the process (per file) imports the
    // favourites of every other "images*.sqlite" file there, while later loaders, on whatever
    // thread, wait for that import to end and skip it. The context's members must all be set;
    // the data sources over this loader read their localisations and file locations from it.
    static std::shared_ptr<Loader> initWithDBEntry(const std::shared_ptr<dbEntry>& entry, const OEContext& context);

    // The engine; empty when the database could not be opened. It lives on the sequence that
    // uses it first after the loader was made: a thread or queue of its own makes its own loader.
    const std::shared_ptr<SQLiteEngine>& sql() const { return sql_; }
    const std::shared_ptr<dbEntry>& entry() const { return entry_; }
    const OEContext& appContext() const { return context_; }
    const std::shared_ptr<OEDBConfig>& dbConfig() const { return dbConfig_; }
    const OELocalizations& localizations() const { return *context_.localizations; }
    const FileSystem& fileSystem() const { return *context_.fileSystem; }

    // Every value of one column of one table, in SQLite's order; empty on failure or when a
    // name is not a plain identifier.
    [[nodiscard]] std::vector<std::string> objectfFromTable(const std::string& table, const std::string& field);

    // Copies the favourites of Documents/<fileName> into this database in one transaction and
    // deletes that file only when the copy succeeded and the file was detached again (a file
    // without favourites has nothing to lose and is deleted too). A copied file that will not be
    // deleted is logged and has its favourites emptied, so that a later import does not bring back
    // favourites removed in the meantime; that still answers true. False, keeping the file, on any
    // failure, with an error of OEContentErrorDomain: OEContentErrorNotOpen, OEContentErrorNoSuchFile
    // (absent, or the images database itself, or not a plain name), OEContentErrorStatement (it
    // could not be attached or read), OEContentErrorBusy, OEContentErrorDetach,
    // OEContentErrorDamaged (either file has damaged pages; neither is changed, and the screens go
    // on reading the current one as they would without the old file).
    [[nodiscard]] bool importOldFavorites(const std::string& fileName, NSErrorPtr* error = nullptr);

private:
    void importOldFavoritesOnce();

    std::shared_ptr<dbEntry> entry_;
    OEContext context_;
    std::shared_ptr<SQLiteEngine> sql_;
    std::shared_ptr<OEDBConfig> dbConfig_;
};
