// The texts database: catalogue, texts, counts, favourites, marks and searches.
#include "texts/TextServer.h"

#include "config/FileSystem.h"
#include "config/OEConfig.h"
#include "config/OESQLIdentifier.h"
#include "content/ContentError.h"
#include "content/ContentLog.h"
#include "content/ContentSQL.h"
#include "content/FavoritesImport.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/NSRegularExpression.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/ProcessSharedOver.h"

#include <cstdlib>

class SCOPED_CAPABILITY TextServer::Session {
public:
    explicit Session(const TextServer& server) ACQUIRE(server.mutex_) : server_(server), lock_(server.mutex_) {}
    ~Session() RELEASE() {
        server_.mutex_.assertHeld();
        if (server_.sql_) server_.sql_->detachFromSequence();
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

private:
    const TextServer& server_;
    MutexLock lock_;
};

namespace {

void post(const char* name) { NSNotificationCenter::defaultCenter()->postNotificationName(name, nullptr); }

std::string markKey(std::int32_t index) { return NSString::format("%d", index); }

std::optional<std::map<std::string, bool>> readMarks(const std::string& path) {
    if (path.empty() || !NSFileManager::defaultManager()->fileExistsAtPath(path)) return std::nullopt;
    const Value stored = NSPropertyListSerialization::propertyListWithContentsOfFile(path);
    if (!stored.isDictionary()) return std::nullopt;
    std::map<std::string, bool> marks;
    for (const auto& [key, value] : stored.dictionary()) marks[key] = value.boolValue();
    return marks;
}

ProcessSharedOver<TextServer, OEContext> gServer;

}  // namespace

std::shared_ptr<TextServer> TextServer::sharedTextServer() {
    return gServer.get([](const OEContext& context) -> std::shared_ptr<TextServer> {
        const auto& database = context.config ? context.config->database() : nullptr;
        if (!database || database->textDBName().empty()) return nullptr;
        return initWithContext(context);
    });
}

void TextServer::setSharedContext(OEContext context) { gServer.hand(std::move(context)); }

void TextServer::resetSharedTextServer() { (void)gServer.take(); }

bool TextServer::hasSharedTextServer() { return gServer.current() != nullptr; }

std::shared_ptr<TextServer> TextServer::initWithContext(const OEContext& context) {
    auto server = std::make_shared<TextServer>();
    bool opened = false;
    {
        MutexLock lock(server->mutex_);
        server->context_ = context;
        opened = server->open(context);
        // The category marks exist only when their file was there at start.
        server->catMarks_ = readMarks(server->documentsPath(kCatsMarksFile));
    }
    if (opened) server->importOldFavorites();
    return server;
}

bool TextServer::open(const OEContext& context) {
    const auto& database = context.config ? context.config->database() : nullptr;
    if (!database || !context.fileSystem || database->textDBName().empty()) return false;
    databaseName_ = database->textDBName();
    const auto& cats = database->catTableConfig();
    const auto& subs = database->subcatTableConfig();
    const auto& texts = database->textsTableConfig();
    if (!cats || !subs || !texts || !cats->bigCatIndex() || !cats->bigCatName() || !subs->subCatIndex() ||
        !subs->subCatName() || !subs->subCatBigCat() || !texts->textsIndex() || !texts->textsCat() ||
        !texts->textsShort() || !texts->textsText() || !texts->textsWC()) {
        ContentLog::log("The texts database's table layout is incomplete in the configuration.");
        return false;
    }
    Names n;
    bool plain = true;
    auto quote = [&plain](const std::string& name) {
        const auto quoted = OESQLIdentifier::quoted(name);
        plain = plain && quoted.has_value();
        return quoted.value_or("");
    };
    n.cats = quote(cats->categoriesTable());
    n.catIndex = quote(cats->bigCatIndex()->key());
    n.catName = quote(cats->bigCatName()->key());
    n.catIndexAt = cats->bigCatIndex()->index();
    n.catNameAt = cats->bigCatName()->index();
    n.subCats = quote(subs->subcatTableName());
    n.subIndex = quote(subs->subCatIndex()->key());
    n.subName = quote(subs->subCatName()->key());
    n.subBigCat = quote(subs->subCatBigCat()->key());
    n.subIndexAt = subs->subCatIndex()->index();
    n.subNameAt = subs->subCatName()->index();
    n.texts = quote(texts->textsTableName());
    n.textIndex = quote(texts->textsIndex()->key());
    n.textCat = quote(texts->textsCat()->key());
    n.textShort = quote(texts->textsShort()->key());
    n.textText = quote(texts->textsText()->key());
    n.textIndexAt = texts->textsIndex()->index();
    n.textCatAt = texts->textsCat()->index();
    n.textWCAt = texts->textsWC()->index();
    n.textTextAt = texts->textsText()->index();
    n.textShortAt = texts->textsShort()->index();
    if (!plain) {
        ContentLog::log("A table or column name of the texts database is not a plain identifier.");
        return false;
    }
    names_ = n;
    // The statements below name these; a file without them is no texts database.
    const std::vector<SQLiteEngine::ExpectedTable> expected{
        {cats->categoriesTable(), {cats->bigCatIndex()->key(), cats->bigCatName()->key()}},
        {subs->subcatTableName(), {subs->subCatIndex()->key(), subs->subCatName()->key(), subs->subCatBigCat()->key()}},
        {texts->textsTableName(),
         {texts->textsIndex()->key(), texts->textsCat()->key(), texts->textsShort()->key(), texts->textsText()->key()}},
    };
    sql_ = SQLiteEngine::init(databaseName_, *context.fileSystem, expected);
    if (sql_) sql_->detachFromSequence();
    return sql_ != nullptr;
}

bool TextServer::hasDatabase() {
    Session session(*this);
    return sql_ && !sql_->isDamaged();
}

bool TextServer::readsCatalogue() {
    (void)favoritesCount();
    Session session(*this);
    if (!sql_) return false;
    for (const auto& category : catListLocked()) (void)subCatForCatLocked(category);
    return !sql_->isDamaged();
}

std::string TextServer::documentsPath(const std::string& file) const {
    return context_.fileSystem ? context_.fileSystem->documentsPathForFile(file) : std::string();
}

TextEntry TextServer::entryFromRow() const {
    const Names& n = *names_;
    TextEntry entry;
    entry.shortText = sql_->getString(n.textShortAt).value_or("");
    entry.fullText = sql_->getString(n.textTextAt).value_or("");
    entry.wordCount = sql_->getInt(n.textWCAt);
    entry.index = sql_->getInt(n.textIndexAt);
    entry.date = sql_->getString(5).value_or("");
    entry.textWithoutTags = sql_->getString(6).value_or("");
    return entry;
}

// --- Catalogue ---------------------------------------------------------------------------------------

std::vector<TextCat> TextServer::catList() {
    Session session(*this);
    return catListLocked();
}

std::vector<TextCat> TextServer::catListLocked() {
    if (catList_) return *catList_;
    std::vector<TextCat> list;
    if (sql_ && sql_->prepareRequest(NSString::format("select * from %@ order by \"index\"", names_->cats))) {
        while (sql_->nextRow()) {
            TextCat cat;
            cat.catIndex = sql_->getInt64(names_->catIndexAt);
            cat.catName = sql_->getString(names_->catNameAt).value_or("");
            list.push_back(std::move(cat));
        }
        sql_->endRequest();
    }
    // A database that cannot be read is asked again next time.
    if (sql_) catList_ = list;
    return list;
}

std::vector<TextCat> TextServer::subCatForCat(const TextCat& category) {
    Session session(*this);
    return subCatForCatLocked(category);
}

std::vector<TextCat> TextServer::subCatForCatLocked(const TextCat& category) {
    if (auto it = subCats_.find(category.catName); it != subCats_.end()) return it->second;
    std::vector<TextCat> list;
    if (!sql_) return list;
    if (sql_->prepareRequest(NSString::format("select * from %@ where %@=?", names_->subCats, names_->subBigCat),
                             {Value(category.catIndex)})) {
        while (sql_->nextRow()) {
            TextCat sub;
            sub.catIndex = sql_->getInt64(0);
            sub.catName = sql_->getString(1).value_or("");
            sub.catDescription = sql_->getString(4).value_or("");
            sub.sort = sql_->getInt(3);
            list.push_back(std::move(sub));
        }
        sql_->endRequest();
    }
    subCats_[category.catName] = list;
    return list;
}

std::vector<TextCat> TextServer::allSubCats() {
    Session session(*this);
    if (allSubCats_) return *allSubCats_;
    std::vector<TextCat> all;
    for (const auto& category : catListLocked()) {
        auto subs = subCatForCatLocked(category);
        all.insert(all.end(), subs.begin(), subs.end());
    }
    if (sql_) allSubCats_ = all;
    return all;
}

std::vector<TextEntry> TextServer::textsForCat(const TextCat& subCategory) {
    Session session(*this);
    const std::string key = subCategory.catName + NSString::format("_%ld", static_cast<long>(subCategory.catIndex));
    if (auto it = texts_.find(key); it != texts_.end()) return it->second;
    std::vector<TextEntry> list;
    if (!sql_) return list;
    std::string order;
    if (subCategory.sort == 2) order = "order by \"index\"";
    else if (NSUserDefaults::standardUserDefaults()->integerForKey(kSortModeKey) == 1) order = "order by \"date\" ASC";
    else order = "order by \"short\" ASC";
    if (sql_->prepareRequest(NSString::format("select * from %@ where %@=? %@", names_->texts, names_->textCat, order),
                             {Value(subCategory.catIndex)})) {
        while (sql_->nextRow()) {
            TextEntry entry = entryFromRow();
            entry.subCat = subCategory.catName;
            list.push_back(std::move(entry));
        }
        sql_->endRequest();
    }
    texts_[key] = list;
    return list;
}

void TextServer::purgeTexts() {
    Session session(*this);
    texts_.clear();
}

long TextServer::numTextsForCat(const TextCat& subCategory) {
    Session session(*this);
    if (!sql_) return 0;
    if (!counts_) {
        const Names& n = *names_;
        std::map<std::string, long> counts;
        const std::string sql = NSString::format(
            "SELECT %@.%@,%@.%@,COUNT(%@.%@) FROM %@,%@ where %@.%@=%@.%@ GROUP BY %@.%@", n.subCats, n.subIndex,
            n.subCats, n.subName, n.texts, n.textIndex, n.subCats, n.texts, n.subCats, n.subIndex, n.texts, n.textCat,
            n.subCats, n.subIndex);
        if (sql_->prepareRequest(sql)) {
            while (sql_->nextRow())
                counts[NSString::format("%@_%ld", sql_->getString(1).value_or(""), static_cast<long>(sql_->getInt64(0)))] =
                    sql_->getInt64(2);
            sql_->endRequest();
        }
        counts_ = std::move(counts);
    }
    const auto it =
        counts_->find(NSString::format("%@_%ld", subCategory.catName, static_cast<long>(subCategory.catIndex)));
    return it == counts_->end() ? 0 : it->second;
}

std::string TextServer::getCatFor(const TextEntry& entry) {
    Session session(*this);
    if (!sql_) return "";
    std::string name;
    if (sql_->prepareRequest(NSString::format("select %@ from %@ where %@=?", names_->subName, names_->subCats,
                                              names_->subIndex),
                             {Value(entry.subCat)})) {
        if (sql_->nextRow()) name = sql_->getString(0).value_or("");
        sql_->endRequest();
    }
    return name;
}

// --- Favourites --------------------------------------------------------------------------------------

bool TextServer::inFavoritesLocked(std::int32_t index) {
    if (!sql_ || !sql_->tableExists("favorites")) return false;
    bool found = false;
    if (sql_->prepareRequest("select * from favorites where idx=?", {Value(static_cast<std::int64_t>(index))})) {
        found = sql_->nextRow();
        sql_->endRequest();
    }
    return found;
}

bool TextServer::textInFavorites(const TextEntry& entry) {
    Session session(*this);
    return inFavoritesLocked(entry.index);
}

void TextServer::addTextToFavorites(const TextEntry& entry) {
    {
        Session session(*this);
        if (sql_ && !inFavoritesLocked(entry.index)) {
            // The first favourite makes the table.
            if (!sql_->tableExists("favorites")) {
                (void)sql_->execRequest("create table favorites (idx integer primary key)");
                sql_->endRequest();
            }
            const bool added =
                sql_->execRequest("insert into favorites values (?)", {Value(static_cast<std::int64_t>(entry.index))});
            sql_->endRequest();
            // The cached list and count follow only a row that really went in.
            if (added) {
                if (favoritesList_) favoritesList_ = favoritesListLocked();
                else if (favoritesCount_ >= 0) ++favoritesCount_;
            }
        }
    }
    post(MFavoriteAdded);
}

unsigned long TextServer::favoritesCount() {
    Session session(*this);
    if (favoritesList_) return favoritesList_->size();
    if (favoritesCount_ >= 0) return static_cast<unsigned long>(favoritesCount_);
    favoritesCount_ = 0;
    if (sql_ && sql_->tableExists("favorites") && sql_->prepareRequest("select count(idx) from favorites")) {
        if (sql_->nextRow()) favoritesCount_ = sql_->getInt64(0);
        sql_->endRequest();
    }
    return static_cast<unsigned long>(favoritesCount_);
}

std::vector<TextEntry> TextServer::favoritesList() {
    Session session(*this);
    if (!favoritesList_) favoritesList_ = favoritesListLocked();
    return *favoritesList_;
}

std::vector<TextEntry> TextServer::favoritesListLocked() {
    std::vector<TextEntry> list;
    if (!sql_ || !sql_->tableExists("favorites")) return list;
    std::vector<std::int64_t> indexes;
    if (sql_->prepareRequest("select * from favorites")) {
        while (sql_->nextRow()) indexes.push_back(sql_->getInt64(0));
        sql_->endRequest();
    }
    const Names& n = *names_;
    for (const auto index : indexes) {
        bool found = false;
        TextEntry entry;
        std::int64_t category = 0;
        if (sql_->prepareRequest(NSString::format("select * from %@ where %@=?", n.texts, n.textIndex), {Value(index)})) {
            found = sql_->nextRow();
            if (found) {
                entry = entryFromRow();
                category = sql_->getInt64(n.textCatAt);
            }
            sql_->endRequest();
        }
        // A favourite whose text is no longer in the database is not listed.
        if (!found) continue;
        if (sql_->prepareRequest(NSString::format("select %@ from %@ where %@=?", n.subName, n.subCats, n.subIndex),
                                 {Value(category)})) {
            if (sql_->nextRow()) entry.subCat = sql_->getString(0).value_or("");
            sql_->endRequest();
        }
        list.push_back(std::move(entry));
    }
    return list;
}

void TextServer::deleteFavorite(const TextEntry& entry) {
    {
        Session session(*this);
        if (sql_ && inFavoritesLocked(entry.index)) {
            const bool deleted = sql_->execRequest("delete from favorites where idx = ?",
                                                   {Value(static_cast<std::int64_t>(entry.index))});
            sql_->endRequest();
            if (deleted && !inFavoritesLocked(entry.index)) {
                if (favoritesList_) {
                    auto& list = *favoritesList_;
                    const auto it = std::find_if(list.begin(), list.end(),
                                                 [&](const TextEntry& e) { return e.index == entry.index; });
                    if (it != list.end()) list.erase(it);
                } else if (favoritesCount_ > 0) {
                    --favoritesCount_;
                }
            }
        }
    }
    post(MFavoriteAdded);
}

// --- New marks ---------------------------------------------------------------------------------------

void TextServer::writeMarks(const std::string& file, const std::map<std::string, bool>& marks) const {
    const std::string path = documentsPath(file);
    if (path.empty()) return;
    Value::Dictionary dictionary;
    for (const auto& [key, value] : marks) dictionary.set(key, Value(value));
    NSErrorPtr error;
    // A failed write leaves the marks in memory as they are.
    if (!NSPropertyListSerialization::writePropertyList(Value(std::move(dictionary)), path,
                                                        NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0, &error)) {
        ContentLog::log(NSString::format("The marks %@ could not be written. %@", file,
                                         error ? error->localizedDescription() : std::string("Unknown error.")));
        return;
    }
    (void)FileSystem::setNoBackupAttribute(path);
}

bool TextServer::isNewCat(const TextCat& category) {
    Session session(*this);
    if (!catMarks_) return false;
    const auto it = catMarks_->find(category.catName);
    return it != catMarks_->end() && it->second;
}

void TextServer::resetCat(const TextCat& category) {
    Session session(*this);
    if (!catMarks_) return;
    (*catMarks_)[category.catName] = false;
    writeMarks(kCatsMarksFile, *catMarks_);
}

std::map<std::string, bool>& TextServer::textMarksLocked() {
    if (!textMarks_) textMarks_ = readMarks(documentsPath(kTextsMarksFile)).value_or(std::map<std::string, bool>{});
    return *textMarks_;
}

bool TextServer::isNewText(const TextEntry& entry) {
    Session session(*this);
    const auto& marks = textMarksLocked();
    const auto it = marks.find(markKey(entry.index));
    return it == marks.end() || it->second;
}

void TextServer::resetText(const TextEntry& entry) {
    bool wasNew = false;
    {
        Session session(*this);
        auto& marks = textMarksLocked();
        const std::string key = markKey(entry.index);
        const auto it = marks.find(key);
        wasNew = it != marks.end() && it->second;
        marks[key] = false;
        writeMarks(kTextsMarksFile, marks);
    }
    if (wasNew) post(MTextStatusUpdate);
}

// --- Search ------------------------------------------------------------------------------------------

void TextServer::handeSearch(const std::string& text) { search(text, false); }

void TextServer::handeSearchContent(const std::string& text) { search(text, true); }

void TextServer::search(const std::string& text, bool content) {
    if (text.empty()) return;
    Session session(*this);
    searchResult_.clear();
    if (!sql_) return;
    const Names& n = *names_;
    const std::string sql = NSString::format(
        "select %@.*,%@.%@ from %@,%@ where %@.%@ LIKE ? ESCAPE '\\' AND %@.%@=%@.%@", n.texts, n.subCats, n.subName,
        n.texts, n.subCats, n.texts, content ? n.textText : n.textShort, n.subCats, n.subIndex, n.texts, n.textCat);
    if (!sql_->prepareRequest(sql, {Value(ContentSQL::likeContainsPattern(text))})) return;
    while (sql_->nextRow()) {
        TextEntry entry = entryFromRow();
        // The subcategory's name comes last, whatever the texts table holds before it.
        entry.subCat = sql_->getString(sql_->columnCount() - 1).value_or("");
        searchResult_.push_back(std::move(entry));
    }
    sql_->endRequest();
}

std::vector<TextEntry> TextServer::searchResult() {
    Session session(*this);
    return searchResult_;
}

// --- Favourites of earlier databases ---------------------------------------------------------------

void TextServer::importOldFavorites() {
    std::string documents;
    std::string current;
    {
        Session session(*this);
        if (!sql_ || !context_.fileSystem) return;
        documents = context_.fileSystem->documentsFolder();
        current = databaseName_;
    }
    if (documents.empty()) return;
    const auto names = NSFileManager::defaultManager()->contentsOfDirectoryAtPath(documents);
    if (!names) return;
    auto pattern = NSRegularExpression::regularExpressionWithPattern("^texts.*\\.sqlite$", 0);
    for (const auto& name : *names) {
        if (name == current || pattern->rangeOfFirstMatchInString(name).location == NSNotFound) continue;
        NSErrorPtr error;
        if (importOldFavoritesFrom(name, &error)) break;
        // The file stays for a later start; the next one may be imported now.
        ContentLog::log(NSString::format("%@ The file is kept.", error ? error->localizedDescription() : name));
    }
}

bool TextServer::importOldFavoritesFrom(const std::string& fileName, NSErrorPtr* error) {
    bool imported = false;
    {
        Session session(*this);
        if (!sql_ || !context_.fileSystem) {
            setError(error, contentError(OEContentErrorNotOpen, "The texts database is not open."));
            return false;
        }
        imported = FavoritesImport::importFromDocuments(*sql_, *context_.fileSystem, fileName, databaseName_, "idx", error);
        if (imported) {
            favoritesList_.reset();
            favoritesCount_ = -1;
        }
    }
    return imported;
}

void TextServer::fixBaseImportFavorites(const std::string& fileName) {
    Session session(*this);
    if (!sql_ || !context_.fileSystem) return;
    const auto path = context_.fileSystem->safeDocumentsPathForFile(fileName, false);
    auto manager = NSFileManager::defaultManager();
    if (!path || fileName == databaseName_ || !manager->fileExistsAtPath(*path)) return;
    auto other = SQLiteEngine::initWithPath(*path);
    if (!other) return;
    std::vector<std::int64_t> indexes;
    // A file without favourites has nothing to lose.
    const bool hasFavorites = other->tableExists("favorites");
    bool read = !hasFavorites || other->prepareRequest("select * from favorites");
    if (hasFavorites && read) {
        while (other->nextRow()) indexes.push_back(other->getInt64(0));
        other->endRequest();
    }
    other.reset();
    (void)sql_->execRequest("create table if not exists favorites (idx integer primary key)");
    sql_->endRequest();
    bool all = read;
    for (const auto index : indexes) {
        all = sql_->execRequest("insert or ignore into favorites values (?)", {Value(index)}) && all;
        sql_->endRequest();
    }
    favoritesList_.reset();
    favoritesCount_ = -1;
    // What could not be carried over stays in its file.
    if (!all) return;
    for (const std::string& file : {*path, documentsPath(kCatsMarksFile), documentsPath(kTextsMarksFile)})
        if (!file.empty() && manager->fileExistsAtPath(file)) (void)manager->removeItemAtPath(file);
    catMarks_.reset();
    textMarks_.reset();
}
