// The model of the texts database: its two-level catalogue (categories, subcategories), the texts
// of a subcategory in its order, the number of texts per subcategory, the user's favourite texts
// (a table of the database itself), the new marks of categories and texts (two property lists in
// Documents, "newCats.data" and "newTexts.data") and two substring searches. Favourites of the
// texts databases of earlier releases are carried over when it is made. There is one per
// process, made over the context the engine hands in; the text screens are handed it.
//
// One lock covers every operation, so the browser's search on its own queue and the screens on
// the main thread never use the connection at once; notifications are posted after the lock is
// let go, on the thread of the operation.
#pragma once

#include "config/OEContext.h"
#include "content/SQLiteEngine.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "texts/TextCat.h"
#include "texts/TextEntry.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Posted (object none) after a favourite was added or removed, and after a text's new mark went.
inline constexpr const char* MFavoriteAdded = "MFavoriteAdded";
inline constexpr const char* MTextStatusUpdate = "MTextStatusUpdate";

class TextServer : public NSObject {
public:
    // Opens the configuration's texts database (copied from the bundle on first use), carries the
    // favourites of one earlier texts database over and reads the category marks. A file without
    // the configured tables and columns is not used. Every query of a server without a database
    // answers nothing.
    static std::shared_ptr<TextServer> initWithContext(const OEContext& context);

    // The process's one server, made once on first use (from any thread) over the context the
    // engine handed in (setSharedContext); none before, and none while that configuration names
    // no texts database.
    static std::shared_ptr<TextServer> sharedTextServer();
    static void setSharedContext(OEContext context);
    // Forgets the server and the context, as a new process would start (tests).
    static void resetSharedTextServer();
    static bool hasSharedTextServer();

    // Whether the texts database opened as one holding the configured tables and no statement
    // has met damaged pages in it since.
    bool hasDatabase() EXCLUDES(mutex_);
    // Reads what the texts browser lists first (the favourites' count, the categories and their
    // subcategories, kept as those are) and answers whether the database is still one to show:
    // a file whose header and schema open well can hold pages that only reading its rows finds
    // damaged, which would leave the browser's rows missing.
    [[nodiscard]] bool readsCatalogue() EXCLUDES(mutex_);

    // --- Catalogue ------------------------------------------------------------------------------
    // Ordered by "index"; cached.
    std::vector<TextCat> catList() EXCLUDES(mutex_);
    // In database order; cached per category name.
    std::vector<TextCat> subCatForCat(const TextCat& category) EXCLUDES(mutex_);
    // Every category's subcategories, in catalogue order; cached.
    std::vector<TextCat> allSubCats() EXCLUDES(mutex_);
    // The subcategory's texts: by "index" for sort mode 2, else by "date" when the user default
    // "sortMode" is 1, else by title ("short"); cached per subcategory.
    std::vector<TextEntry> textsForCat(const TextCat& subCategory) EXCLUDES(mutex_);
    // Drops the texts cache.
    void purgeTexts() EXCLUDES(mutex_);
    // 0 for a subcategory without texts.
    long numTextsForCat(const TextCat& subCategory) EXCLUDES(mutex_);
    // The name of the subcategory the entry's subCat text names as an index; "" when none.
    std::string getCatFor(const TextEntry& entry) EXCLUDES(mutex_);

    // --- Favourites -----------------------------------------------------------------------------
    // Stores the text's index (the table is made on the first favourite). The cached list and
    // count change only when the table did. Posts "MFavoriteAdded".
    void addTextToFavorites(const TextEntry& entry) EXCLUDES(mutex_);
    bool textInFavorites(const TextEntry& entry) EXCLUDES(mutex_);
    unsigned long favoritesCount() EXCLUDES(mutex_);
    // A copy of the favourites in the order they were added (favourites whose text is gone are
    // left out), each with the name of its subcategory.
    std::vector<TextEntry> favoritesList() EXCLUDES(mutex_);
    // Removes the favourite; caches change only when a row went. Posts "MFavoriteAdded".
    void deleteFavorite(const TextEntry& entry) EXCLUDES(mutex_);

    // --- New marks ------------------------------------------------------------------------------
    // No when the category marks were not there at start, or nothing is stored.
    bool isNewCat(const TextCat& category) EXCLUDES(mutex_);
    // Stores "not new" (only when the category marks were there at start).
    void resetCat(const TextCat& category) EXCLUDES(mutex_);
    // Yes unless "not new" is stored.
    bool isNewText(const TextEntry& entry) EXCLUDES(mutex_);
    // Stores "not new"; posts "MTextStatusUpdate" when the text was stored as new.
    void resetText(const TextEntry& entry) EXCLUDES(mutex_);

    // --- Search ---------------------------------------------------------------------------------
    // Titles, and whole texts, that contain the string (case-insensitive for ASCII letters); the
    // string is bound, so any character is searched for as it is. An empty string changes nothing.
    void handeSearch(const std::string& text) EXCLUDES(mutex_);
    void handeSearchContent(const std::string& text) EXCLUDES(mutex_);
    // The results of the last search.
    std::vector<TextEntry> searchResult() EXCLUDES(mutex_);

    // --- Favourites of earlier databases ----------------------------------------------------------
    // Imports the favourites of the first "texts*.sqlite" in Documents (other than the current
    // database) that can be imported; one per start. A file that fails stays for a later start.
    void importOldFavorites() EXCLUDES(mutex_);
    // Imports one such file's favourites, deleting it once they are in; false, keeping it, when
    // they could not be copied.
    [[nodiscard]] bool importOldFavoritesFrom(const std::string& fileName, NSErrorPtr* error = nullptr) EXCLUDES(mutex_);
    // Adds the favourites of Documents/<fileName> to these, then deletes that file and both mark
    // files and forgets the marks. Nothing happens when the file is not there; the file stays when
    // its favourites could not all be added.
    void fixBaseImportFavorites(const std::string& fileName) EXCLUDES(mutex_);

    static constexpr const char* kCatsMarksFile = "newCats.data";
    static constexpr const char* kTextsMarksFile = "newTexts.data";
    static constexpr const char* kSortModeKey = "sortMode";

    TextServer() = default;

private:
    // Holds the lock for one operation and hands the connection back afterwards, so that the next
    // operation may come from another thread.
    class Session;

    bool open(const OEContext& context) REQUIRES(mutex_);
    std::vector<TextCat> catListLocked() REQUIRES(mutex_);
    std::vector<TextCat> subCatForCatLocked(const TextCat& category) REQUIRES(mutex_);
    std::vector<TextEntry> favoritesListLocked() REQUIRES(mutex_);
    bool inFavoritesLocked(std::int32_t index) REQUIRES(mutex_);
    void search(const std::string& text, bool content) EXCLUDES(mutex_);
    TextEntry entryFromRow() const REQUIRES(mutex_);
    std::map<std::string, bool>& textMarksLocked() REQUIRES(mutex_);
    void writeMarks(const std::string& file, const std::map<std::string, bool>& marks) const REQUIRES(mutex_);
    std::string documentsPath(const std::string& file) const REQUIRES(mutex_);
    // Quoted names from the configuration; empty when one is not a plain identifier.
    struct Names {
        std::string cats, catIndex, catName;
        int catIndexAt = 0, catNameAt = 1;
        std::string subCats, subIndex, subName, subBigCat;
        int subIndexAt = 0, subNameAt = 1;
        std::string texts, textIndex, textCat, textShort, textText;
        int textIndexAt = 0, textCatAt = 1, textWCAt = 2, textTextAt = 3, textShortAt = 4;
    };

    mutable Mutex mutex_;
    OEContext context_ GUARDED_BY(mutex_);
    std::shared_ptr<SQLiteEngine> sql_ GUARDED_BY(mutex_);
    std::string databaseName_ GUARDED_BY(mutex_);
    std::optional<Names> names_ GUARDED_BY(mutex_);
    std::optional<std::vector<TextCat>> catList_ GUARDED_BY(mutex_);
    std::map<std::string, std::vector<TextCat>> subCats_ GUARDED_BY(mutex_);
    std::map<std::string, std::vector<TextEntry>> texts_ GUARDED_BY(mutex_);
    std::optional<std::vector<TextEntry>> favoritesList_ GUARDED_BY(mutex_);
    long favoritesCount_ GUARDED_BY(mutex_) = -1;
    std::optional<std::vector<TextCat>> allSubCats_ GUARDED_BY(mutex_);
    std::optional<std::map<std::string, bool>> catMarks_ GUARDED_BY(mutex_);
    std::optional<std::map<std::string, bool>> textMarks_ GUARDED_BY(mutex_);
    std::optional<std::map<std::string, long>> counts_ GUARDED_BY(mutex_);
    std::vector<TextEntry> searchResult_ GUARDED_BY(mutex_);
};
