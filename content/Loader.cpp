// Binds a database entry to its own engine (connection); over the images database it also
// carries the user's favourites over from old images database files left in Documents.
#include "content/Loader.h"

#include "content/ContentLog.h"
#include "content/FavoritesImport.h"
#include "config/OESQLIdentifier.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSRegularExpression.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <set>

namespace {

// What the catalogue's statements name in the pictures database; language columns are looked
// up where they are used.
const std::vector<SQLiteEngine::ExpectedTable>& picturesTables() {
    static const std::vector<SQLiteEngine::ExpectedTable> tables{
        {"bigCat", {"index"}},
        {"subCat", {"index", "bigCat", "date"}},
        {"images", {"index", "subCat", "author", "imagePath"}},
        {"author", {"index", "name"}},
    };
    return tables;
}

// What the articles list reads of each article in the articles database.
const std::vector<SQLiteEngine::ExpectedTable>& articlesTables() {
    static const std::vector<SQLiteEngine::ExpectedTable> tables{{"articles", {"id", "image_id", "language"}}};
    return tables;
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
    const std::string& path = loader->entry_->dbPath();
    const bool pictures = loader->dbConfig_ && path == loader->dbConfig_->imagesDBName();
    const bool articles = loader->dbConfig_ && !pictures && path == loader->dbConfig_->articlesDBName();
    if (!path.empty()) {
        loader->sql_ = SQLiteEngine::init(path, *context.fileSystem,
                                          pictures   ? picturesTables()
                                          : articles ? articlesTables()
                                                     : std::vector<SQLiteEngine::ExpectedTable>{});
    }
    if (loader->sql_ && pictures) loader->importOldFavoritesOnce();
    // Made here, used wherever the loader goes next.
    if (loader->sql_) loader->sql_->detachFromSequence();
    return loader;
}

void Loader::importOldFavoritesOnce() {
    // One import per images database file per process, whichever thread gets here first;
    // the others wait here until it is over, so no two threads attach or delete the same file.
    static Mutex mutex;
    static std::set<std::string> done GUARDED_BY(mutex);
    MutexLock guard(mutex);
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
    if (!sql_ || !dbConfig_) {
        setError(error, contentError(OEContentErrorNotOpen,
                                     NSString::format("The old favourites file %@ has no open images database to go into.",
                                                      fileName)));
        return false;
    }
    return FavoritesImport::importFromDocuments(*sql_, fileSystem(), fileName, dbConfig_->imagesDBName(), "index", error);
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
