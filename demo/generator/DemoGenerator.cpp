// The demo bundle: copied Info.plist and string tables, generated databases and pictures.
#include "demo/generator/DemoGenerator.h"

#include "demo/generator/DemoAudio.h"
#include "demo/generator/DemoCatalogue.h"
#include "demo/generator/DemoIcons.h"
#include "demo/generator/DemoPictures.h"
#include "platform/foundation/NSPropertyListSerialization.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#ifndef OSTREL_DEMO_SOURCE_BUNDLE
#define OSTREL_DEMO_SOURCE_BUNDLE "demo/bundle"
#endif

namespace fs = std::filesystem;

namespace {

void fail(std::string* error, const std::string& sentence) {
    if (error) *error = sentence;
}

// One database being written: statements run inside a single transaction.
class Writer {
public:
    bool open(const std::string& path, std::string* error) {
        std::error_code ec;
        fs::remove(path, ec);
        fs::remove(path + "-journal", ec);
        if (fs::path(path).has_parent_path()) fs::create_directories(fs::path(path).parent_path(), ec);
        sqlite3* raw = nullptr;
        if (sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            fail(error, "Could not create the database " + path + ": " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
            sqlite3_close(raw);
            return false;
        }
        db_.reset(raw);
        path_ = path;
        error_ = error;
        return exec("BEGIN");
    }

    bool exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            fail(error_, "Could not write " + path_ + " (" + (message ? message : "unknown error") + ") at: " + sql);
            sqlite3_free(message);
            ok_ = false;
            return false;
        }
        return true;
    }

    // Inserts one row; values are bound, never formatted into the statement.
    struct Cell {
        enum Kind { Null, Integer, Text } kind = Null;
        long long integer = 0;
        std::string text;
        Cell() = default;
        Cell(int v) : kind(Integer), integer(v) {}
        Cell(long long v) : kind(Integer), integer(v) {}
        Cell(const char* v) : kind(v ? Text : Null), text(v ? v : "") {}
        Cell(std::string v) : kind(Text), text(std::move(v)) {}
    };

    bool insert(const std::string& table, const std::vector<std::string>& columns, const std::vector<Cell>& cells) {
        if (!ok_) return false;
        std::string& sql = statements_[table];
        if (sql.empty()) {
            sql = "INSERT INTO \"" + table + "\" (";
            for (std::size_t i = 0; i < columns.size(); ++i) sql += (i ? ", \"" : "\"") + columns[i] + "\"";
            sql += ") VALUES (";
            for (std::size_t i = 0; i < columns.size(); ++i) sql += i ? ", ?" : "?";
            sql += ")";
        }
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            fail(error_, "Could not write " + path_ + " (" + sqlite3_errmsg(db_.get()) + ") at: " + sql);
            ok_ = false;
            return false;
        }
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const int at = static_cast<int>(i + 1);
            switch (cells[i].kind) {
                case Cell::Null: sqlite3_bind_null(statement, at); break;
                case Cell::Integer: sqlite3_bind_int64(statement, at, cells[i].integer); break;
                case Cell::Text:
                    sqlite3_bind_text(statement, at, cells[i].text.data(), static_cast<int>(cells[i].text.size()),
                                      SQLITE_TRANSIENT);
                    break;
            }
        }
        const int rc = sqlite3_step(statement);
        sqlite3_finalize(statement);
        if (rc != SQLITE_DONE) {
            fail(error_, "Could not write " + path_ + " (" + sqlite3_errmsg(db_.get()) + ") into " + table);
            ok_ = false;
        }
        return ok_;
    }

    bool finish() {
        if (!ok_) {
            exec("ROLLBACK");
            return false;
        }
        return exec("COMMIT");
    }

private:
    struct Closer {
        void operator()(sqlite3* db) const { sqlite3_close(db); }
    };
    std::unique_ptr<sqlite3, Closer> db_;
    std::string path_;
    std::string* error_ = nullptr;
    bool ok_ = true;
    std::map<std::string, std::string> statements_;
};

using Cell = Writer::Cell;

// "name", "name_en", ... "name_tr": the base column first, then one per language.
std::vector<std::string> languageColumns(const std::string& base) {
    std::vector<std::string> columns{base};
    for (const auto& language : DemoCatalogue::languages()) columns.push_back(base + "_" + language);
    return columns;
}

std::string columnDefinitions(const std::vector<std::string>& columns, const char* type = "TEXT") {
    std::string sql;
    for (const auto& column : columns) sql += ", \"" + column + "\" " + type;
    return sql;
}

// Values of the language columns; a missing translation is NULL when `nullWhenMissing`, else "".
void appendTexts(std::vector<Cell>& cells, const DemoText& text, bool nullWhenMissing = false) {
    auto push = [&](const std::string& value) {
        if (value.empty() && nullWhenMissing) cells.emplace_back();
        else cells.emplace_back(value);
    };
    push(text.in("ru"));
    for (const auto& language : DemoCatalogue::languages()) push(text.in(language));
}

void append(std::vector<std::string>& to, const std::vector<std::string>& more) { to.insert(to.end(), more.begin(), more.end()); }

std::string format(const char* pattern, const std::string& a, int b) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, pattern, a.c_str(), b);
    return buffer;
}

const DemoPainter& painterOf(const DemoPainting& painting) {
    return DemoCatalogue::painters().at(static_cast<std::size_t>(painting.painter - 1));
}

// Descriptions: our English sentence, and a short line in Russian, French and German.
DemoText paintingDescription(const DemoPainting& painting, std::vector<std::string>& storage) {
    const DemoPainter& painter = painterOf(painting);
    storage.push_back(format("Картина написана в %2$d году. Автор — %1$s.", painter.name.in("ru"), painting.year));
    storage.push_back(format("Œuvre de %s, %d.", painter.name.in("fr").empty() ? painter.name.in("en") : painter.name.in("fr"),
                             painting.year));
    storage.push_back(format("Gemalt von %s, %d.", painter.name.in("de"), painting.year));
    const std::size_t n = storage.size();
    DemoText text;
    text.ru = storage[n - 3].c_str();
    text.en = painting.aboutEn;
    text.fr = storage[n - 2].c_str();
    text.de = storage[n - 1].c_str();
    return text;
}

// The "date" of a group: the span of years of its paintings.
std::string yearSpan(int group, int (*groupOf)(const DemoPainting&)) {
    int first = 0, last = 0;
    for (const auto& painting : DemoCatalogue::paintings()) {
        if (groupOf(painting) != group) continue;
        if (!first || painting.year < first) first = painting.year;
        if (painting.year > last) last = painting.year;
    }
    if (!first) return "";
    return first == last ? std::to_string(first) : std::to_string(first) + "–" + std::to_string(last);
}

bool writeGroupTable(Writer& db, const char* table, const std::vector<DemoGroup>& groups,
                     int (*groupOf)(const DemoPainting&)) {
    std::vector<std::string> columns{"index", "bigCat"};
    append(columns, languageColumns("name"));
    append(columns, languageColumns("description"));
    columns.push_back("date");
    columns.push_back("filePath");
    if (!db.exec(std::string("CREATE TABLE \"") + table + "\" (\"index\" INTEGER PRIMARY KEY, \"bigCat\" INTEGER" +
                 columnDefinitions(languageColumns("name")) + columnDefinitions(languageColumns("description")) +
                 ", \"date\" TEXT, \"filePath\" TEXT)"))
        return false;
    for (const auto& group : groups) {
        std::vector<Cell> cells{group.index, group.bigCat};
        appendTexts(cells, group.name);
        DemoText description;
        description.ru = group.descriptionEn;  // no Russian text was written: the base column carries the English one
        description.en = group.descriptionEn;
        appendTexts(cells, description, /*nullWhenMissing=*/group.descriptionEn == nullptr);
        cells.emplace_back(yearSpan(group.index, groupOf));
        cells.emplace_back(group.filePath);
        if (!db.insert(table, columns, cells)) return false;
    }
    return true;
}

std::vector<std::string> imageColumns() {
    std::vector<std::string> columns{"index", "subCat", "subCat2", "author", "imagePath"};
    append(columns, languageColumns("name"));
    append(columns, languageColumns("description"));
    append(columns, {"has_hd_ipad", "has_hd_iphone", "resolution", "inapp"});
    return columns;
}

bool createImagesTable(Writer& db) {
    return db.exec("CREATE TABLE \"images\" (\"index\" INTEGER PRIMARY KEY, \"subCat\" INTEGER, \"subCat2\" INTEGER, "
                   "\"author\" INTEGER, \"imagePath\" TEXT" +
                   columnDefinitions(languageColumns("name")) + columnDefinitions(languageColumns("description")) +
                   ", \"has_hd_ipad\" TEXT, \"has_hd_iphone\" TEXT, \"resolution\" TEXT, \"inapp\" TEXT)");
}

// The "has_hd_ipad" and "has_hd_iphone" flags; the server has a high-resolution file for every
// painting with either.
bool hasHDForPad(const DemoPainting& painting) { return painting.index % 3 != 0; }
bool hasHDForPhone(const DemoPainting& painting) { return painting.index % 4 != 0; }
bool hasHD(const DemoPainting& painting) { return hasHDForPad(painting) || hasHDForPhone(painting); }

// The "resolution" the picture menu offers: the pixel size of the largest file there is of the
// picture, its high-resolution file where the server has one.
std::string resolutionText(bool highResolution) {
    const int width = highResolution ? kDemoHDPictureWidth : kDemoPictureWidth;
    const int height = highResolution ? kDemoHDPictureHeight : kDemoPictureHeight;
    return std::to_string(width) + "x" + std::to_string(height);
}

// The composition of a composer's k-th picture (from 0).
std::uint32_t composerPictureSeed(const DemoComposer& composer, std::uint32_t k) {
    return 4000u + static_cast<std::uint32_t>(composer.index) * 10 + k;
}

// A painting's picture at a size and its thumbnail, encoded as the picture's extension says.
struct PaintingFiles {
    std::vector<std::uint8_t> picture;
    std::vector<std::uint8_t> thumbnail;
};

bool isPNG(const DemoPainting& painting) { return DemoCatalogue::thumbnailPathOf(painting).empty(); }

PaintingFiles paintingFiles(const DemoPainting& painting) {
    const auto image =
        DemoPictures::compose(static_cast<std::uint32_t>(painting.index), kDemoPictureWidth, kDemoPictureHeight);
    const auto small = DemoPictures::shrink(image, kDemoThumbnailWidth, kDemoThumbnailHeight);
    if (isPNG(painting)) return {DemoPictures::encodePNG(image), DemoPictures::encodePNG(small)};
    return {DemoPictures::encodeJPEG(image), DemoPictures::encodeJPEG(small)};
}

// The painting's high-resolution file: its picture drawn larger, the same shapes in the same places.
std::vector<std::uint8_t> highResolutionFile(const DemoPainting& painting) {
    const double scale = static_cast<double>(kDemoHDPictureWidth) / kDemoPictureWidth;
    const auto image =
        DemoPictures::compose(static_cast<std::uint32_t>(painting.index), kDemoPictureWidth, kDemoPictureHeight, scale);
    return isPNG(painting) ? DemoPictures::encodePNG(image) : DemoPictures::encodeJPEG(image);
}

}  // namespace

std::string DemoGenerator::defaultSourceBundle() { return OSTREL_DEMO_SOURCE_BUNDLE; }

bool DemoGenerator::writeImagesDatabase(const std::string& path, const Options& options, std::string* error) {
    Writer db;
    if (!db.open(path, error)) return false;

    db.exec("CREATE TABLE \"bigCat\" (\"index\" INTEGER PRIMARY KEY, \"name\" TEXT)");
    int index = 1;
    for (const auto& name : DemoCatalogue::bigCats()) db.insert("bigCat", {"index", "name"}, {index++, name.en});

    writeGroupTable(db, "subCat", DemoCatalogue::genreGroups(), &DemoCatalogue::genreGroupOf);
    writeGroupTable(db, "subCat2", DemoCatalogue::painterGroups(), &DemoCatalogue::painterGroupOf);

    std::vector<std::string> authorColumns{"index"};
    append(authorColumns, languageColumns("name"));
    append(authorColumns, languageColumns("description"));
    append(authorColumns, {"bigCat", "filePath"});
    db.exec("CREATE TABLE \"author\" (\"index\" INTEGER PRIMARY KEY" + columnDefinitions(languageColumns("name")) +
            columnDefinitions(languageColumns("description")) + ", \"bigCat\" INTEGER, \"filePath\" TEXT)");
    for (const auto& painter : DemoCatalogue::painters()) {
        std::vector<Cell> cells{painter.index};
        appendTexts(cells, painter.name);
        DemoText bio;
        bio.ru = painter.bioRu;
        bio.en = painter.bioEn;
        appendTexts(cells, bio);
        cells.emplace_back(1);
        cells.emplace_back(DemoCatalogue::painterPictureOf(painter));
        db.insert("author", authorColumns, cells);
    }

    createImagesTable(db);
    const auto columns = imageColumns();
    std::vector<std::string> storage;
    for (const auto& painting : DemoCatalogue::paintings()) {
        std::vector<Cell> cells{painting.index, DemoCatalogue::genreGroupOf(painting),
                                DemoCatalogue::painterGroupOf(painting), painting.painter,
                                DemoCatalogue::imagePathOf(painting)};
        appendTexts(cells, painting.title);
        appendTexts(cells, paintingDescription(painting, storage));
        cells.emplace_back(std::string(hasHDForPad(painting) ? "1" : "0"));
        cells.emplace_back(std::string(hasHDForPhone(painting) ? "1" : "0"));
        cells.emplace_back(resolutionText(hasHD(painting)));
        cells.emplace_back(std::string(painting.index % 10 == 1 ? "1" : ""));
        db.insert("images", columns, cells);
    }
    // Synthetic rows for large catalogues: spread over the groups and painters that have paintings.
    const auto& paintings = DemoCatalogue::paintings();
    for (int i = 0; i < options.syntheticPictures; ++i) {
        const DemoPainting& model = paintings[static_cast<std::size_t>(i) % paintings.size()];
        const int pictureIndex = static_cast<int>(paintings.size()) + 1 + i;
        char path[32];
        std::snprintf(path, sizeof path, "s%07d.jpg", pictureIndex);
        const std::string title = "Study No. " + std::to_string(i + 1);
        DemoText name;
        name.ru = title.c_str();
        name.en = title.c_str();
        std::vector<Cell> cells{pictureIndex, DemoCatalogue::genreGroupOf(model), DemoCatalogue::painterGroupOf(model),
                                model.painter, std::string(path)};
        appendTexts(cells, name);
        appendTexts(cells, DemoText{});
        cells.emplace_back(std::string("0"));
        cells.emplace_back(std::string("0"));
        cells.emplace_back(resolutionText(false));
        cells.emplace_back(std::string());
        db.insert("images", columns, cells);
    }

    if (options.favoritesTable) {
        db.exec("CREATE TABLE favorites (\"index\" integer primary key)");
        for (int favourite : options.favorites) db.insert("favorites", {"index"}, {favourite});
    }
    return db.finish();
}

bool DemoGenerator::writeMediaDatabase(const std::string& path, std::string* error) {
    Writer db;
    if (!db.open(path, error)) return false;

    std::vector<std::string> compositionColumns{"index"};
    append(compositionColumns, languageColumns("name"));
    append(compositionColumns, {"author", "genres", "countries", "filepath", "time"});
    db.exec("CREATE TABLE \"compositions\" (\"index\" INTEGER PRIMARY KEY" + columnDefinitions(languageColumns("name")) +
            ", \"author\" INTEGER, \"genres\" INTEGER, \"countries\" INTEGER, \"filepath\" TEXT, \"time\" TEXT)");
    for (const auto& c : DemoCatalogue::compositions()) {
        std::vector<Cell> cells{c.index};
        appendTexts(cells, c.name);
        cells.emplace_back(c.composer);
        cells.emplace_back(c.genre);
        cells.emplace_back(c.country);
        cells.emplace_back(c.filepath);
        cells.emplace_back(DemoAudio::displayTime(DemoCatalogue::compositionSeconds(c)));
        db.insert("compositions", compositionColumns, cells);
    }

    std::vector<std::string> authorColumns{"index"};
    append(authorColumns, languageColumns("name"));
    append(authorColumns, languageColumns("description"));
    append(authorColumns, {"imagePath", "bigCat"});
    db.exec("CREATE TABLE \"author\" (\"index\" INTEGER PRIMARY KEY" + columnDefinitions(languageColumns("name")) +
            columnDefinitions(languageColumns("description")) + ", \"imagePath\" TEXT, \"bigCat\" INTEGER)");
    for (const auto& composer : DemoCatalogue::composers()) {
        std::vector<Cell> cells{composer.index};
        appendTexts(cells, composer.name);
        DemoText bio;
        bio.en = composer.bioEn;
        appendTexts(cells, bio);
        const auto pictures = DemoCatalogue::composerPicturesOf(composer);
        cells.emplace_back(pictures.empty() ? std::string() : "Data/" + pictures.front());
        cells.emplace_back(1);
        db.insert("author", authorColumns, cells);
    }

    std::vector<std::string> groupColumns{"index"};
    append(groupColumns, languageColumns("name"));
    groupColumns.push_back("imagePath");
    for (const char* table : {"genres", "countries"}) {
        db.exec(std::string("CREATE TABLE \"") + table + "\" (\"index\" INTEGER PRIMARY KEY" +
                columnDefinitions(languageColumns("name")) + ", \"imagePath\" TEXT)");
        const bool genres = std::string(table) == "genres";
        const auto& rows = genres ? DemoCatalogue::musicGenres() : DemoCatalogue::countries();
        int index = 1;
        for (const auto& name : rows) {
            std::vector<Cell> cells{index};
            appendTexts(cells, name);
            // Countries have no pictures: their rows show the packaged note image.
            cells.emplace_back(genres ? "Data/music/genre_" + std::to_string(index) + ".jpg" : std::string());
            db.insert(table, groupColumns, cells);
            ++index;
        }
    }

    // Pictures shown while a composer's music plays.
    createImagesTable(db);
    const auto columns = imageColumns();
    int pictureIndex = 1;
    for (const auto& composer : DemoCatalogue::composers()) {
        int k = 1;
        for (const auto& picture : DemoCatalogue::composerPicturesOf(composer)) {
            const std::string en = "Study for " + std::string(composer.name.en) + ", " + std::to_string(k);
            const std::string ru = "Этюд: " + std::string(composer.name.ru) + ", " + std::to_string(k);
            DemoText name;
            name.ru = ru.c_str();
            name.en = en.c_str();
            std::vector<Cell> cells{pictureIndex, Cell(), Cell(), composer.index, picture};
            appendTexts(cells, name);
            appendTexts(cells, DemoText{});
            cells.emplace_back(std::string("0"));
            cells.emplace_back(std::string("0"));
            cells.emplace_back(std::string("1600x1200"));
            cells.emplace_back(std::string());
            db.insert("images", columns, cells);
            ++pictureIndex;
            ++k;
        }
    }
    return db.finish();
}

bool DemoGenerator::writeTextsDatabase(const std::string& path, std::string* error) {
    Writer db;
    if (!db.open(path, error)) return false;
    // Column order matters: the texts reader reads these rows by position.
    db.exec("CREATE TABLE \"bigCat\" (\"index\" INTEGER PRIMARY KEY, \"name\" TEXT)");
    db.exec("CREATE TABLE \"subCat\" (\"index\" INTEGER PRIMARY KEY, \"name\" TEXT, \"bigCat\" INTEGER, \"sort\" INTEGER, "
            "\"description\" TEXT)");
    db.exec("CREATE TABLE \"texts\" (\"index\" INTEGER PRIMARY KEY, \"cat\" INTEGER, \"wc\" INTEGER, \"text\" TEXT, "
            "\"short\" TEXT, \"date\" TEXT, \"plain\" TEXT)");
    int index = 1;
    for (const auto& name : DemoCatalogue::textCategories()) db.insert("bigCat", {"index", "name"}, {index++, name.en});
    for (const auto& group : DemoCatalogue::textGroups())
        db.insert("subCat", {"index", "name", "bigCat", "sort", "description"},
                  {group.index, group.name, group.bigCat, group.sort, group.description});
    for (const auto& text : DemoCatalogue::texts()) {
        // Picture links name their painting by title; the reader follows them by index.
        std::string html = text.html;
        for (std::size_t at = html.find("imageLink_{"); at != std::string::npos; at = html.find("imageLink_{", at)) {
            const std::size_t open = at + std::strlen("imageLink_"), close = html.find('}', open);
            if (close == std::string::npos) break;
            const std::string title = html.substr(open + 1, close - open - 1);
            int index = 0;
            for (const auto& painting : DemoCatalogue::paintings())
                if (painting.title.en && title == painting.title.en) index = painting.index;
            html.replace(open, close - open + 1, std::to_string(index));
        }
        // The plain text drops the markup; the word count is of that text.
        std::string plain;
        bool inTag = false;
        for (const char* c = html.c_str(); *c; ++c) {
            if (*c == '<') {
                inTag = true;
                if (!plain.empty() && plain.back() != ' ' && std::string(c).rfind("<p>", 0) == 0) plain += ' ';
            } else if (*c == '>') inTag = false;
            else if (!inTag) plain += *c;
        }
        while (!plain.empty() && plain.back() == ' ') plain.pop_back();
        int words = 0;
        std::istringstream in(plain);
        for (std::string word; in >> word;) ++words;
        db.insert("texts", {"index", "cat", "wc", "text", "short", "date", "plain"},
                  {text.index, text.subCat, words, html, text.title, text.date, plain});
    }
    return db.finish();
}

bool DemoGenerator::writeArticlesDatabase(const std::string& path, std::string* error) {
    Writer db;
    if (!db.open(path, error)) return false;
    db.exec("CREATE TABLE \"articles\" (\"id\" TEXT, \"image_id\" INTEGER, \"language\" TEXT)");
    for (const auto& article : DemoCatalogue::articles())
        db.insert("articles", {"id", "image_id", "language"}, {article.id, article.imageId, article.language});
    return db.finish();
}

bool DemoGenerator::writePictures(const std::string& folder, std::string* error) {
    const std::string data = folder + "/Data";
    auto jpeg = [&](const std::string& path, std::uint32_t seed, int width, int height, bool withThumbnail,
                    const std::string& thumbnailPath) {
        const auto image = DemoPictures::compose(seed, width, height);
        if (!DemoPictures::writeFile(path, DemoPictures::encodeJPEG(image), error)) return false;
        if (!withThumbnail) return true;
        const auto small = DemoPictures::shrink(image, kDemoThumbnailWidth, kDemoThumbnailHeight);
        return DemoPictures::writeFile(thumbnailPath, DemoPictures::encodeJPEG(small), error);
    };

    for (const auto& painting : DemoCatalogue::paintings()) {
        if (DemoCatalogue::isOnServerOnly(painting)) continue;
        const PaintingFiles files = paintingFiles(painting);
        if (!DemoPictures::writeFile(data + "/" + DemoCatalogue::imagePathOf(painting), files.picture, error))
            return false;
        // The PNG picture is its own thumbnail in the bundle.
        const std::string thumbnail = DemoCatalogue::thumbnailPathOf(painting);
        if (!thumbnail.empty() && !DemoPictures::writeFile(data + "/" + thumbnail, files.thumbnail, error)) return false;
    }
    // Group and painter pictures for the browser's rows.
    for (const auto& group : DemoCatalogue::genreGroups()) {
        if (!jpeg(data + "/cats/" + group.filePath + ".jpg", 1000u + static_cast<std::uint32_t>(group.index),
                  kDemoGroupPictureWidth, kDemoGroupPictureHeight, false, ""))
            return false;
    }
    // The painter grouping's rows and the painter list share these.
    for (const auto& painter : DemoCatalogue::painters()) {
        if (!jpeg(data + "/cats/" + DemoCatalogue::painterPictureOf(painter) + ".jpg", 3000u + static_cast<std::uint32_t>(painter.index),
                  kDemoGroupPictureWidth, kDemoGroupPictureHeight, false, ""))
            return false;
    }
    for (const auto& composer : DemoCatalogue::composers()) {
        std::uint32_t k = 0;
        for (const auto& picture : DemoCatalogue::composerPicturesOf(composer)) {
            const std::string thumbnail = picture.substr(0, picture.size() - 4) + "_thumb.jpg";
            if (!jpeg(data + "/" + picture, composerPictureSeed(composer, k++),
                      kDemoPictureWidth, kDemoPictureHeight, true, data + "/" + thumbnail))
                return false;
        }
    }
    for (std::size_t i = 1; i <= DemoCatalogue::musicGenres().size(); ++i) {
        if (!jpeg(data + "/music/genre_" + std::to_string(i) + ".jpg", 5000u + static_cast<std::uint32_t>(i),
                  kDemoGroupPictureWidth, kDemoGroupPictureHeight, false, ""))
            return false;
    }
    return true;
}

bool DemoGenerator::writeBundle(const std::string& folder, const Options& options, std::string* error) {
    const std::string source = options.sourceBundle.empty() ? defaultSourceBundle() : options.sourceBundle;
    std::error_code ec;
    if (!fs::is_regular_file(source + "/Info.plist", ec)) {
        fail(error, "The source bundle " + source + " has no Info.plist.");
        return false;
    }
    fs::create_directories(folder, ec);
    if (ec) {
        fail(error, "Could not create " + folder + ": " + ec.message() + ".");
        return false;
    }
    // The property lists (Info.plist, the analytics service's) and every .lproj folder,
    // replacing what an earlier run left.
    std::vector<fs::path> plists, tables;
    for (const auto& entry : fs::directory_iterator(source, ec)) {
        if (entry.is_directory() && entry.path().extension() == ".lproj") tables.push_back(entry.path());
        else if (entry.is_regular_file() && entry.path().extension() == ".plist") plists.push_back(entry.path());
    }
    for (const auto& plist : plists) {
        fs::copy_file(plist, fs::path(folder) / plist.filename(), fs::copy_options::overwrite_existing, ec);
        if (ec) {
            fail(error, "Could not copy " + plist.filename().string() + " into " + folder + ": " + ec.message() + ".");
            return false;
        }
    }
    for (const auto& lproj : tables) {
        const fs::path target = fs::path(folder) / lproj.filename();
        fs::remove_all(target, ec);
        fs::copy(lproj, target, fs::copy_options::recursive, ec);
        if (ec) {
            fail(error, "Could not copy " + lproj.string() + " into " + folder + ": " + ec.message() + ".");
            return false;
        }
    }
    return writeImagesDatabase(folder + "/" + kImagesDatabase, options, error) &&
           writeMediaDatabase(folder + "/" + kMediaDatabase, error) &&
           writeTextsDatabase(folder + "/" + kTextsDatabase, error) &&
           writeArticlesDatabase(folder + "/" + kArticlesDatabase, error) &&
           DemoIcons::writeIcons(folder, error) &&
           (!options.writePictures || (writePictures(folder, error) && writeCompositions(folder, true, error)));
}

namespace {

using Json = nlohmann::ordered_json;

// The painting of an English title, for the fixtures' famous posts and likes.
int paintingTitled(const char* english) {
    for (const auto& painting : DemoCatalogue::paintings())
        if (painting.title.en && std::strcmp(painting.title.en, english) == 0) return painting.index;
    return 0;
}

bool writeText(const std::string& path, const std::string& text, std::string* error) {
    return DemoPictures::writeFile(path, std::vector<std::uint8_t>(text.begin(), text.end()), error);
}

std::string page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title + "</title></head>\n<body><h1>" +
           title + "</h1>\n<p>" + body + "</p></body></html>\n";
}

// A famous post with its title per language; the pages live on the server ("{host}" is the
// server's own address, filled in when it loads the fixtures).
Json famousPost(int textId, const char* painting, const std::vector<std::pair<const char*, std::string>>& titles,
                const std::string& folder, std::string* error, bool* ok) {
    Json languages = Json::object();
    for (const auto& [language, title] : titles) {
        const std::string name = "famous_" + std::to_string(textId) + "_" + language + ".html";
        const std::string about = painting ? std::string("About ") + painting + "." : std::string("A lost painting.");
        *ok = *ok && writeText(folder + "/pages/" + name, page(title, about), error);
        languages[language] = {{"title", title}, {"url", "{host}/pages/" + name}};
    }
    const int unknownPicture = 99999;
    return {{"text_id", textId}, {"picture_id", painting ? paintingTitled(painting) : unknownPicture}, {"lng", languages}};
}

}  // namespace

bool DemoGenerator::writeServerFolder(const std::string& folder, const Options& options, std::string* error) {
    const std::string source = options.sourceBundle.empty() ? defaultSourceBundle() : options.sourceBundle;
    NSErrorPtr readError;
    const Value info = NSPropertyListSerialization::propertyListWithContentsOfFile(source + "/Info.plist", &readError);
    const Value& engine = info["OstrelEngine"];
    const std::string serverFolder = engine["OEServerFolder"].stringValue();
    if (!info.isDictionary() || serverFolder.empty()) {
        fail(error, "The source bundle " + source + " has no Info.plist naming the server folder.");
        return false;
    }
    const std::string pictures = folder + "/pic/" + serverFolder + "/";
    const std::string data = folder + "/data/" + serverFolder + "/";
    for (const auto& painting : DemoCatalogue::paintings()) {
        const std::string path = DemoCatalogue::imagePathOf(painting);
        const PaintingFiles files = paintingFiles(painting);
        if (!DemoPictures::writeFile(pictures + path, files.picture, error) ||
            !DemoPictures::writeFile(data + "thumbs/" + DemoCatalogue::serverThumbnailPathOf(path), files.thumbnail,
                                     error))
            return false;
        if (hasHD(painting) && !DemoPictures::writeFile(data + path, highResolutionFile(painting), error)) return false;
    }
    for (const auto& composer : DemoCatalogue::composers()) {
        std::uint32_t k = 0;
        for (const auto& picture : DemoCatalogue::composerPicturesOf(composer)) {
            const auto image = DemoPictures::compose(composerPictureSeed(composer, k++), kDemoPictureWidth,
                                                     kDemoPictureHeight);
            const auto small = DemoPictures::shrink(image, kDemoThumbnailWidth, kDemoThumbnailHeight);
            if (!DemoPictures::writeFile(pictures + picture, DemoPictures::encodeJPEG(image), error) ||
                !DemoPictures::writeFile(data + "thumbs/" + DemoCatalogue::serverThumbnailPathOf(picture),
                                         DemoPictures::encodeJPEG(small), error))
                return false;
        }
    }

    if (!writeCompositions(folder + "/data/ostrelmedia/" + kCompositionsFormat, false, error)) return false;

    const int monaLisa = paintingTitled("Mona Lisa"), starryNight = paintingTitled("The Starry Night"),
              greatWave = paintingTitled("The Great Wave off Kanagawa"), nightWatch = paintingTitled("The Night Watch"),
              pearlEarring = paintingTitled("Girl with a Pearl Earring"), ninthWave = paintingTitled("The Ninth Wave");
    const int unknownPicture = 99999;
    // Counts as numbers, one as text (both forms are in use); the popular list in rank order with
    // an id given as text, a null id and an id no catalogue has.
    Json likes = {{std::to_string(monaLisa), 2300000}, {std::to_string(starryNight), "1480"},
                  {std::to_string(greatWave), 960},     {std::to_string(unknownPicture), 700},
                  {std::to_string(nightWatch), 412},    {std::to_string(pearlEarring), 37},
                  {std::to_string(ninthWave), 5}};
    Json popular = {monaLisa, std::to_string(starryNight), nullptr, greatWave, unknownPicture, nightWatch,
                    pearlEarring, ninthWave};

    bool ok = true;
    Json famous = Json::array();
    famous.push_back(famousPost(7, "Mona Lisa", {{"en", "The smile everyone knows"}, {"de", "Das bekannteste Lächeln"}},
                                folder, error, &ok));
    famous.push_back(famousPost(8, "The Starry Night",
                                {{"en", "A night sky in motion"}, {"de", "Ein Nachthimmel in Bewegung"}}, folder, error, &ok));
    famous.push_back(famousPost(9, "The Great Wave off Kanagawa",
                                {{"en", "One wave, thirty-six views"}, {"de", "Eine Welle, sechsunddreißig Ansichten"}},
                                folder, error, &ok));
    // No English title: shown only to readers of German or French.
    famous.push_back(famousPost(10, "The Night Watch",
                                {{"de", "Die Nachtwache bei Tageslicht"}, {"fr", "La Ronde de nuit en plein jour"}},
                                folder, error, &ok));
    // About a painting no catalogue has: never listed.
    famous.push_back(famousPost(11, nullptr, {{"en", "A painting that went missing"}}, folder, error, &ok));

    // The articles' documents, as the document host serves them: its own header first, which the
    // reader removes once the page has loaded. No extension: the address has none.
    for (const auto& article : DemoCatalogue::articles()) {
        std::string body = "<div id=\"docs-ml-header-id\"><p>Ostrel Documents</p></div>\n<h1>" +
                           std::string(article.heading) + "</h1>\n";
        for (const char* paragraph : article.paragraphs) body += "<p>" + std::string(paragraph) + "</p>\n";
        ok = ok && writeText(folder + "/document/d/" + article.id,
                             "<!DOCTYPE html>\n<html lang=\"" + std::string(article.language) +
                                 "\"><head><meta charset=\"utf-8\"><title>" + article.heading +
                                 "</title></head>\n<body>" + body + "</body></html>\n",
                             error);
    }

    Json messages = Json::array();
    auto message = [&](const char* id, const char* title, const char* text, Json buttons) {
        messages.push_back({{"id", id}, {"title", title}, {"msg", text}, {"buttons", std::move(buttons)}});
    };
    auto button = [](const char* title, const char* action, const std::string& url) {
        return Json{{"title", title}, {"action", action}, {"url", url}};
    };
    message("m1", "Welcome", "The gallery now fetches pictures from its server.",
            Json::array({button("Open", "OPEN_LINK", "{host}/pages/news_m1.html"), button("Close", "CLOSE", "")}));
    message("m2", "New paintings", "More paintings are waiting on the server.",
            Json::array({button("OK", "CLOSE", "")}));
    message("m3", "Music", "Listen to the composers while the paintings play.",
            Json::array({button("Listen", "OPEN_LINK", "{host}/pages/news_m3.html"), button("Later", "LATER", "")}));
    ok = ok && writeText(folder + "/pages/news_m1.html", page("Welcome", "Pictures now come from the server."), error) &&
         writeText(folder + "/pages/news_m3.html", page("Music", "Composers and their works."), error);
    // The maker's web site when a run points the application at this server: its front page and
    // the more-applications pages (Russian, and every other language).
    auto sitePage = [](const std::string& title, const std::string& body) {
        return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + title + "</title></head>\n<body><h1>" +
               title + "</h1>\n" + body + "</body></html>\n";
    };
    const std::string more = sitePage("More applications",
                                      "<p>Ostrel Music: the composers of the gallery's century.</p>\n<p>Ostrel Letters: "
                                      "painters' letters, day by day.</p>\n<p><a href=\"/\">Ostrel</a></p>\n");
    ok = ok &&
         writeText(folder + "/index.html",
                   sitePage("Ostrel", "<p>Pictures, music and texts for reading slowly.</p>\n<p><a href=\"/moreen.html\">"
                                      "Our other applications</a></p>\n<p><a href=\"mailto:support@ostrel.invalid\">Write "
                                      "to us</a></p>\n"),
                   error) &&
         writeText(folder + "/moreen.html", more, error) && writeText(folder + "/more.html", more, error);

    const Json fixtures = {{"bundleIdentifier", info["CFBundleIdentifier"].stringValue()},
                           {"likesIdentifier", engine["OEServerLikesIdentifer"].stringValue()},
                           {"famousIdentifier", engine["OEServerFamousIdentifer"].stringValue()},
                           {"likes", likes},
                           {"popular", popular},
                           {"famous", famous},
                           {"messages", messages},
                           {"applicationsCount", 15}};
    return ok && writeText(folder + "/" + kServerFixtures, fixtures.dump(2) + "\n", error);
}

bool DemoGenerator::writeCompositions(const std::string& folder, bool bundleOnly, std::string* error) {
    for (const auto& composition : DemoCatalogue::compositions()) {
        if (bundleOnly && !DemoCatalogue::isCompositionInBundle(composition)) continue;
        DemoAudio::Piece piece;
        piece.seconds = DemoCatalogue::compositionSeconds(composition);
        piece.seed = static_cast<std::uint32_t>(composition.index);
        if (!DemoAudio::writeM4A(folder + "/" + composition.filepath, piece, error)) return false;
    }
    return true;
}

namespace {

// One value of "OstrelEngine" in a bundle's Info.plist, the file replaced, never written in place.
bool setEngineValue(const std::string& bundleFolder, const std::string& key, const Value& value, std::string* error) {
    const std::string path = bundleFolder + "/Info.plist";
    NSErrorPtr failure;
    Value info = NSPropertyListSerialization::propertyListWithContentsOfFile(path, &failure);
    if (!info.isDictionary()) {
        fail(error, "Could not read " + path + (failure ? ": " + failure->localizedDescription() : "") + ".");
        return false;
    }
    Value engine = info["OstrelEngine"];
    engine.mutableDictionary().set(key, value);
    info.mutableDictionary().set("OstrelEngine", engine);
    // Written to a temporary file and renamed over the old one.
    if (!NSPropertyListSerialization::writePropertyList(info, path, NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0,
                                                        &failure)) {
        fail(error, "Could not write " + path + (failure ? ": " + failure->localizedDescription() : "") + ".");
        return false;
    }
    return true;
}

}  // namespace

bool DemoGenerator::setServerHost(const std::string& bundleFolder, const std::string& host, std::string* error) {
    return setEngineValue(bundleFolder, "OEServerHost", Value(host), error);
}

bool DemoGenerator::setArticlesStyle(const std::string& bundleFolder, int style, std::string* error) {
    return setEngineValue(bundleFolder, "OEArticlesStyle", Value(style), error);
}
