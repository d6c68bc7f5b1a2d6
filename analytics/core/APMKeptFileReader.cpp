// A kept file read by the recovery extension through a view of its pages, then its rows placed by
// the store's own tables.
#include "analytics/core/APMKeptFileReader.h"

#include "analytics/core/APMCarriedRecord.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMKeptFiles.h"
#include "analytics/core/APMKeptPages.h"
#include "analytics/core/APMSqlText.h"
#include "platform/foundation/NSString.h"
#include "platform/sqlite/SQLiteVFS.h"

#include <sqlite3.h>
#include <sqlite3recover.h>

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

// The extension's page tables (sqlite_dbdata, sqlite_dbptr), registered on a connection.
extern "C" int sqlite3_dbdata_init(sqlite3* db, char** message, const sqlite3_api_routines* api);

namespace {

using Column = APMKeptFileReader::Column;
using Table = APMKeptFileReader::Table;

constexpr const char* kLost = "lost_and_found";

// One statement, finalized with it.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) {
            sqlite3_finalize(statement_);
            statement_ = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return statement_ != nullptr; }
    sqlite3_stmt* operator*() const { return statement_; }
    // SQLITE_ROW, SQLITE_DONE or the failure.
    int step() { return statement_ ? sqlite3_step(statement_) : SQLITE_ERROR; }

private:
    sqlite3_stmt* statement_ = nullptr;
};

// The columns of `table` as `db`'s schema `schema` declares them; none when it has no such table.
std::vector<Column> columnsOf(sqlite3* db, const std::string& schema, const std::string& table,
                              std::optional<std::size_t>* rowidKey = nullptr) {
    std::vector<Column> columns;
    Statement info(db, "PRAGMA " + APMQuotedIdentifier(schema) + ".table_info(" + APMQuotedIdentifier(table) + ")");
    int keys = 0;
    std::optional<std::size_t> key;
    while (info.step() == SQLITE_ROW) {
        columns.push_back({APMColumnText(*info, 1), APMColumnText(*info, 2), sqlite3_column_int(*info, 3) != 0});
        if (sqlite3_column_int(*info, 5) > 0) {
            ++keys;
            if (NSString::uppercaseString(columns.back().type) == "INTEGER") key = columns.size() - 1;
        }
    }
    if (rowidKey) *rowidKey = keys == 1 ? key : std::nullopt;
    return columns;
}

// SQLite's rule for the affinity a declared type gives.
enum class Affinity { Integer, Text, Any, Real };
Affinity affinityOf(const std::string& declared) {
    const std::string type = NSString::uppercaseString(declared);
    const auto has = [&type](const char* part) { return type.find(part) != std::string::npos; };
    if (has("INT")) return Affinity::Integer;
    if (has("CHAR") || has("CLOB") || has("TEXT")) return Affinity::Text;
    if (type.empty() || has("BLOB")) return Affinity::Any;
    if (has("REAL") || has("FLOA") || has("DOUB")) return Affinity::Real;
    return Affinity::Any;
}

// A store table as the working copy holds it: its columns with their affinities, its rowid key,
// and nothing else (the fit rules below decide and count).
std::string declarationOf(const Table& table) {
    std::string columns;
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        static const char* const kTypes[] = {"INTEGER", "TEXT", "BLOB", "REAL"};
        columns += (i ? ", " : "") + APMQuotedIdentifier(table.columns[i].name) + " " +
                   kTypes[static_cast<int>(affinityOf(table.columns[i].type))] + (table.rowidKey == i ? " PRIMARY KEY" : "");
    }
    return "CREATE TABLE " + APMQuotedIdentifier(table.name) + " (" + columns + ")";
}

// True, in SQL, when `values` (one expression a column; those missing are null) fit `table`'s
// declared columns: NOT NULL ones hold a value, and each a type its column keeps. `rowid` stands
// for a null in the INTEGER PRIMARY KEY column.
std::string fitsSQL(const Table& table, const std::vector<std::string>& values, const std::string& rowid) {
    std::string sql = "1";
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        std::string value = i < values.size() ? values[i] : "NULL";
        if (table.rowidKey == i) value = "coalesce(" + value + ", " + rowid + ")";
        const Column& column = table.columns[i];
        if (column.notNull) sql += " AND " + value + " IS NOT NULL";
        switch (affinityOf(column.type)) {
        case Affinity::Integer: sql += " AND typeof(" + value + ") IN ('integer', 'null')"; break;
        case Affinity::Real: sql += " AND typeof(" + value + ") IN ('real', 'integer', 'null')"; break;
        case Affinity::Text: sql += " AND typeof(" + value + ") IN ('text', 'null')"; break;
        case Affinity::Any: break;
        }
    }
    return sql;
}

std::uint32_t bigEndian(const std::uint8_t* bytes, int size) {
    std::uint32_t value = 0;
    for (int i = 0; i < size; ++i) value = (value << 8) | bytes[i];
    return value;
}

std::int64_t varintAt(const std::vector<std::uint8_t>& page, std::size_t at, std::size_t* length = nullptr) {
    std::uint64_t value = 0;
    std::size_t n = 0;
    for (; n < 9 && at + n < page.size(); ++n) {
        const std::uint8_t byte = page[at + n];
        if (n == 8) {
            value = (value << 8) | byte;
            break;
        }
        value = (value << 7) | (byte & 0x7f);
        if (!(byte & 0x80)) break;
    }
    if (length) *length = n + 1;
    return static_cast<std::int64_t>(value);
}

// The children of an interior table page with the stretch of rowids each holds (after the lower
// divider, up to the upper one), as the page's cells say: (child, lower, upper).
struct Slot {
    std::int64_t child;
    std::int64_t lower;
    std::int64_t upper;
};
std::vector<Slot> slotsOf(const std::vector<std::uint8_t>& page, std::int64_t number) {
    std::vector<Slot> slots;
    const std::size_t at = number == 1 ? 100 : 0;
    if (page.size() <= at + 12 || page[at] != 0x05) return slots;
    const std::size_t cells = bigEndian(&page[at + 3], 2);
    std::int64_t lower = std::numeric_limits<std::int64_t>::min();
    for (std::size_t i = 0; i < cells && at + 12 + 2 * i + 2 <= page.size(); ++i) {
        const std::size_t cell = bigEndian(&page[at + 12 + 2 * i], 2);
        if (cell + 4 >= page.size()) break;
        const std::int64_t upper = varintAt(page, cell + 4);
        slots.push_back({bigEndian(&page[cell], 4), lower, upper});
        lower = upper;
    }
    slots.push_back({bigEndian(&page[at + 8], 4), lower, std::numeric_limits<std::int64_t>::max()});
    return slots;
}

// The lowest and highest rowid on a table page of the view: a leaf's rows, an interior page's dividers.
std::optional<std::pair<std::int64_t, std::int64_t>> keysOf(APMKeptPages& pages, std::int64_t number) {
    std::vector<std::uint8_t> page;
    if (!pages.page(number, page) || page.size() <= 12) return std::nullopt;
    if (page[0] == 0x05) {
        const auto slots = slotsOf(page, number);
        if (slots.size() < 2) return std::nullopt;
        return std::pair(slots.front().upper, slots[slots.size() - 2].upper);
    }
    if (page[0] != 0x0d) return std::nullopt;
    std::optional<std::pair<std::int64_t, std::int64_t>> keys;
    const std::size_t cells = bigEndian(&page[3], 2);
    for (std::size_t i = 0; i < cells && 8 + 2 * i + 2 <= page.size(); ++i) {
        std::size_t at = bigEndian(&page[8 + 2 * i], 2);
        std::size_t length = 0;
        (void)varintAt(page, at, &length);
        const std::int64_t rowid = varintAt(page, at + length);
        keys = keys ? std::pair(std::min(keys->first, rowid), std::max(keys->second, rowid)) : std::pair(rowid, rowid);
    }
    return keys;
}

class Placement {
public:
    Placement(sqlite3* work, APMKeptPages& pages, const std::vector<Table>& tables)
        : work_(work), pages_(pages), tables_(tables) {}

    // Each store table whose tree reaches a page of another tree's that it does not own is read
    // again from its own pages alone. The other kept tables' trees count as one, its indexes' as
    // another.
    bool takeSharedPages() {
        if (!pages_.surveyed() || pages_.keptRoots().size() < 2) return true;
        constexpr std::int64_t kOtherTables = -1;
        constexpr std::int64_t kIndexes = -2;
        // Every tree's pages: each store table's, and the two groups'.
        std::map<std::int64_t, std::vector<std::int64_t>> reached;
        std::map<std::int64_t, std::vector<std::int64_t>> groupRoots;
        std::set<std::int64_t> storeRoots;
        for (const auto& [name, root] : pages_.storeRoots()) storeRoots.insert(root);
        for (const auto& [root, isTable] : pages_.keptRoots()) {
            if (storeRoots.count(root)) reached[root] = pages_.reach(root);
            else groupRoots[isTable ? kOtherTables : kIndexes].push_back(root);
        }
        for (const auto& [group, roots] : groupRoots) {
            std::set<std::int64_t> pages;
            for (const std::int64_t root : roots) {
                for (const std::int64_t page : pages_.reach(root)) pages.insert(page);
            }
            reached[group].assign(pages.begin(), pages.end());
        }
        std::map<std::int64_t, std::vector<std::int64_t>> treesOf;
        for (const auto& [tree, pages] : reached) {
            for (const std::int64_t page : pages) treesOf[page].push_back(tree);
        }
        std::map<std::int64_t, std::vector<std::int64_t>> shared;
        for (auto& [page, trees] : treesOf) {
            if (trees.size() > 1) shared[page] = trees;
        }
        if (shared.empty()) return true;
        // Where each tree points at a shared page.
        std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::int64_t>> parents;
        for (const auto& [tree, pages] : reached) {
            for (const std::int64_t page : pages) {
                for (const std::int64_t child : pages_.childrenOf(page)) {
                    if (shared.count(child)) parents[{tree, child}].push_back(page);
                }
            }
        }
        // Subtrees no tree reaches: (top page, first rowid, last rowid).
        std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t>> lostStretches;
        if (hasLost()) {
            Statement stretches(work_, std::string("SELECT keptTop(pgno) AS top, min(id), max(id) FROM main.") + kLost +
                                           " WHERE id IS NOT NULL GROUP BY top");
            while (stretches.step() == SQLITE_ROW) {
                lostStretches.emplace_back(sqlite3_column_int64(*stretches, 0), sqlite3_column_int64(*stretches, 1),
                                           sqlite3_column_int64(*stretches, 2));
            }
        }
        const auto isTableTree = [](std::int64_t tree) { return tree != kIndexes; };
        std::map<std::int64_t, std::set<std::int64_t>> excluded;
        for (const auto& [page, trees] : shared) {
            const int type = pages_.typeOf(page);
            std::vector<std::int64_t> tableTrees;
            std::copy_if(trees.begin(), trees.end(), std::back_inserter(tableTrees), isTableTree);
            if (type == 0x0a || type == 0x02) {
                for (const std::int64_t tree : tableTrees) excluded[tree].insert(page);
                continue;
            }
            // A tree's own root is its own, whoever else points at it.
            if (pages_.keptRoots().count(page)) {
                for (const std::int64_t tree : tableTrees) {
                    if (tree != page) excluded[tree].insert(page);
                }
                continue;
            }
            const auto keys = keysOf(pages_, page);
            if ((type != 0x0d && type != 0x05) || !keys || tableTrees.size() < 2) {
                if (pages_.spent()) return fail();
                continue;
            }
            // Per tree: whether a slot pointing here holds the page's rowids, and whether a subtree
            // no tree reaches would fit that slot better (its rowids in the slot, its page number
            // nearer the slot's neighbours': pages are given out as a tree grows), the pointer's
            // own page, lost for this one.
            std::vector<std::int64_t> holding;
            std::vector<std::int64_t> holdingNothingLost;
            for (const std::int64_t tree : tableTrees) {
                bool holds = false;
                bool lostHere = false;
                for (const std::int64_t parent : parents[{tree, page}]) {
                    std::vector<std::uint8_t> bytes;
                    if (!pages_.page(parent, bytes)) return fail();
                    const auto slots = slotsOf(bytes, parent);
                    for (std::size_t i = 0; i < slots.size(); ++i) {
                        const Slot& slot = slots[i];
                        if (slot.child != page || !(slot.lower < keys->first && keys->second <= slot.upper)) continue;
                        holds = true;
                        const auto distance = [&](std::int64_t number) {
                            std::int64_t nearest = std::numeric_limits<std::int64_t>::max();
                            if (i > 0) nearest = std::min(nearest, std::abs(number - slots[i - 1].child));
                            if (i + 1 < slots.size()) nearest = std::min(nearest, std::abs(number - slots[i + 1].child));
                            return nearest;
                        };
                        for (const auto& [top, first, last] : lostStretches) {
                            lostHere = lostHere ||
                                       (slot.lower < first && last <= slot.upper && distance(top) < distance(page));
                        }
                    }
                }
                if (holds) holding.push_back(tree);
                if (holds && !lostHere) holdingNothingLost.push_back(tree);
            }
            const auto& owners = !holdingNothingLost.empty() ? holdingNothingLost : holding;
            if (owners.empty() || owners.size() == tableTrees.size()) continue;
            for (const std::int64_t tree : tableTrees) {
                if (std::find(owners.begin(), owners.end(), tree) == owners.end()) excluded[tree].insert(page);
            }
        }
        for (const auto& [root, pages] : excluded) {
            for (const auto& [name, tableRoot] : pages_.storeRoots()) {
                if (tableRoot != root) continue;
                if (!readAgain(name, root, pages)) return false;
                strayed_.insert(name);
            }
        }
        return true;
    }

    // Rows of each store table that do not fit it are unreadable (a stray page's, or damaged ones
    // the extension decoded as it could), as are those whose values did not read; a table the
    // extension did not make is made.
    bool takeUnfitRows(APMKeptFileReader::Outcome& outcome) {
        for (const Table& table : tables_) {
            if (const auto broken = pages_.unreadableByTable().find(table.name); broken != pages_.unreadableByTable().end()) {
                unfit_[table.name] += broken->second;
                outcome.unreadable += broken->second;
            }
            if (columnsOf(work_, "main", table.name).empty()) {
                if (!exec(declarationOf(table))) return false;
                continue;
            }
            std::vector<std::string> values;
            for (const Column& column : table.columns) values.push_back(APMQuotedIdentifier(column.name));
            const std::string name = "main." + APMQuotedIdentifier(table.name);
            const std::string fits = fitsSQL(table, values, "rowid");
            // Rows and those that do not fit in one pass; a second only where some do not.
            Statement rows(work_, "SELECT count(*), total(NOT (" + fits + ")) FROM " + name);
            if (rows.step() != SQLITE_ROW) return fail();
            const auto unfit = static_cast<std::int64_t>(sqlite3_column_double(*rows, 1));
            rows_[table.name] = sqlite3_column_int64(*rows, 0) - unfit;
            if (unfit > 0) {
                if (!exec("DELETE FROM " + name + " WHERE NOT (" + fits + ")")) return false;
                unfit_[table.name] += unfit;
                outcome.unreadable += unfit;
            }
        }
        return true;
    }

    // Each row of a page no tree reaches into the tables it fits (APMKeptFileReader.h says which
    // where several do), each decided on the tables as the walk left them, a table at a time.
    bool placeLostRows(APMKeptFileReader::Outcome& outcome) {
        outcome.unreadable += pages_.unreadableLost();
        if (!hasLost()) return true;
        const std::size_t width = lostWidth();
        std::vector<std::string> fields;
        for (std::size_t i = 0; i < width; ++i) fields.push_back("c" + std::to_string(i));
        const std::string lost = std::string("main.") + kLost;
        // The schema's own records on pages no tree reaches (its first page lost, the rest not):
        // its roots, and no rows of any table.
        const std::string schemaRecord = width < 5 ? std::string("0")
                                                   : "nfield = 5 AND c0 IN ('table', 'index', 'view', 'trigger') AND "
                                                     "typeof(c1) = 'text' AND typeof(c3) = 'integer'";
        if (!pages_.schemaRead() && width >= 5) {
            Statement roots(work_, "SELECT c1, c3 FROM " + lost + " WHERE " + schemaRecord + " AND c0 = 'table'");
            while (roots.step() == SQLITE_ROW) lostSchemaRoots_[APMColumnText(*roots, 0)] = sqlite3_column_int64(*roots, 1);
        }
        // Per lost row, in one pass over them, the first table it fits (t the table's number, -1 for
        // none) and how many it fits; then each table of a row that fits several (t = -2 marking
        // the row), kept while narrowing.
        std::string first = "CASE";
        std::string count = "0";
        std::string each = "CASE k.t";
        std::string numbers;
        for (std::size_t t = 0; t < tables_.size(); ++t) {
            const Table& table = tables_[t];
            const std::string fits = "(nfield <= " + std::to_string(table.columns.size()) + " AND " + fitsSQL(table, fields, "id") + ")";
            first += " WHEN " + fits + " THEN " + std::to_string(t);
            count += " + " + fits;
            each += " WHEN " + std::to_string(t) + " THEN " + fits;
            numbers += numbers.empty() ? "SELECT " + std::to_string(t) + " AS t" : " UNION ALL SELECT " + std::to_string(t);
        }
        if (!exec("CREATE TEMP TABLE salvage_fit (t INTEGER, row INTEGER, keep INTEGER, PRIMARY KEY (t, row)) WITHOUT ROWID") ||
            !exec("INSERT INTO temp.salvage_fit SELECT CASE WHEN n > 1 THEN -2 ELSE t END, row, 1 FROM (SELECT " + first +
                  " ELSE -1 END AS t, rowid AS row, " + count + " AS n FROM " + lost + " WHERE id IS NOT NULL AND NOT (" +
                  schemaRecord + "))") ||
            !exec("INSERT INTO temp.salvage_fit SELECT k.t, l.rowid, 1 FROM temp.salvage_fit AS m, " + lost + " AS l, (" +
                  numbers + ") AS k WHERE m.t = -2 AND l.rowid = m.row AND " + each + " END")) {
            return false;
        }
        {
            Statement unfit(work_, "SELECT count(*) FROM temp.salvage_fit WHERE t = -1");
            if (unfit.step() != SQLITE_ROW) return fail();
            outcome.unreadable += sqlite3_column_int64(*unfit, 0);
        }
        if (!narrowLostRows(width)) return false;
        // How many rows went to several tables alike.
        std::map<std::string, std::int64_t> alike;
        {
            Statement alikeRows(work_, "SELECT group_concat(t, ' ') FROM (SELECT row, t FROM temp.salvage_fit WHERE t >= 0 "
                                       "AND row IN (SELECT row FROM temp.salvage_fit WHERE t = -2) ORDER BY row, t) GROUP BY "
                                       "row HAVING count(*) > 1");
            int rc;
            while ((rc = alikeRows.step()) == SQLITE_ROW) {
                std::vector<std::string> names;
                for (const std::string& t : NSString::componentsSeparatedByString(APMColumnText(*alikeRows, 0), " ")) {
                    names.push_back(tables_[static_cast<std::size_t>(std::stoul(t))].name);
                }
                ++alike[NSString::componentsJoinedByString(names, " and ")];
            }
            if (rc != SQLITE_DONE) return fail();
        }
        for (const auto& [names, count] : alike) {
            alikeNote_ += "; " + std::to_string(count) + " rows that fit " + names + " alike, carried into each";
        }
        // Into each table the rows chosen for it, in the order they were found: one whose rowid the
        // table has already is the same row.
        for (std::size_t t = 0; t < tables_.size(); ++t) {
            const Table& table = tables_[t];
            std::string names;
            std::string values;
            for (std::size_t i = 0; i < table.columns.size(); ++i) {
                names += ", " + APMQuotedIdentifier(table.columns[i].name);
                const std::string field = i < width ? "l.c" + std::to_string(i) : "NULL";
                values += ", " + (table.rowidKey == i ? "coalesce(" + field + ", l.id)" : field);
            }
            const std::string into = "INSERT OR IGNORE INTO main." + APMQuotedIdentifier(table.name);
            const std::string from = " FROM temp.salvage_fit AS f, " + lost + " AS l WHERE f.t = " + std::to_string(t) +
                                     " AND l.rowid = f.row ORDER BY f.row";
            if (!exec(table.rowidKey ? into + " (" + names.substr(2) + ") SELECT " + values.substr(2) + from
                                     : into + " (rowid" + names + ") SELECT l.id" + values + from)) {
                return false;
            }
            if (const int placed = sqlite3_changes(work_); placed > 0) {
                fromLost_[table.name] += placed;
                rows_[table.name] += placed;
            }
        }
        return exec("DROP TABLE temp.salvage_fit");
    }

    bool count(APMKeptFileReader::Outcome& outcome, bool lostRead) {
        for (const Table& table : tables_) {
            const auto rows = rows_.find(table.name);
            const std::int64_t count = rows == rows_.end() ? 0 : rows->second;
            const auto unfit = unfit_.find(table.name);
            if (count == 0 && unfit == unfit_.end()) continue;
            outcome.rows += count;
            std::string line = table.name + ": " + std::to_string(count) + " carried";
            if (unfit != unfit_.end()) line += ", " + std::to_string(unfit->second) + " unreadable";
            if (const auto lost = fromLost_.find(table.name); lost != fromLost_.end()) {
                line += ", " + std::to_string(lost->second) + " from pages no tree reaches";
            }
            if (strayed_.count(table.name)) line += ", its tree reaching pages not its own";
            outcome.detail += (outcome.detail.empty() ? "" : "; ") + line;
        }
        outcome.detail += alikeNote_;
        if (!lostRead) {
            outcome.leftBehind = pages_.lostRows();
            outcome.detail += (outcome.detail.empty() ? "" : "; ") + std::to_string(outcome.leftBehind) +
                              " rows of pages no tree reaches left behind, their reading past the file's budget";
        }
        if (pages_.surveyed() && !pages_.schemaRead()) {
            outcome.detail = "schema unreadable" + std::string(outcome.detail.empty() ? "" : "; ") + outcome.detail;
        }
        return true;
    }

    // The code of the working copy's last failure.
    int failure() const { return failure_; }

private:
    bool exec(const std::string& sql) {
        if (sqlite3_exec(work_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) return true;
        return fail();
    }
    bool fail() {
        failure_ = sqlite3_extended_errcode(work_);
        if (failure_ == SQLITE_OK) failure_ = SQLITE_ERROR;
        return false;
    }
    bool hasLost() { return !columnsOf(work_, "main", kLost).empty(); }
    std::size_t lostWidth() {
        const std::size_t columns = columnsOf(work_, "main", kLost).size();
        return columns > 4 ? columns - 4 : 0;
    }
    // Where the kept file had the table's root: by its schema, else by the schema's records found on
    // pages no tree reaches, else where a fresh file of the same code has it.
    std::int64_t rootOf(const Table& table) const {
        if (pages_.schemaRead()) {
            const auto found = pages_.storeRoots().find(table.name);
            return found != pages_.storeRoots().end() ? found->second : 0;
        }
        const auto found = lostSchemaRoots_.find(table.name);
        return found != lostSchemaRoots_.end() ? found->second : table.freshRoot;
    }

    // Of the tables a row fits alike, those a rule prefers, rule by rule: its tree's top is the
    // table's root; an index of the table's holds it; the table lacks its rowid.
    bool narrowLostRows(std::size_t width) {
        const std::string lost = std::string("main.") + kLost;
        const std::string several = "row IN (SELECT row FROM temp.salvage_fit WHERE t = -2)";
        {
            Statement any(work_, "SELECT 1 FROM temp.salvage_fit WHERE t = -2 LIMIT 1");
            const int rc = any.step();
            if (rc == SQLITE_DONE) return true;
            if (rc != SQLITE_ROW) return fail();
        }
        // Keeps of each row's tables those marked, when some but not all are.
        const auto narrow = [&] {
            return exec("DELETE FROM temp.salvage_fit WHERE t >= 0 AND NOT keep AND row IN (SELECT row FROM temp.salvage_fit "
                        "WHERE t >= 0 AND " + several + " GROUP BY row HAVING sum(keep) > 0 AND sum(keep) < count(*))") &&
                   exec("UPDATE temp.salvage_fit SET keep = 1 WHERE NOT keep");
        };
        for (std::size_t t = 0; t < tables_.size(); ++t) {
            if (!exec("UPDATE temp.salvage_fit SET keep = (SELECT keptTop(pgno) = " + std::to_string(rootOf(tables_[t])) +
                      " FROM " + lost + " WHERE rowid = salvage_fit.row) WHERE t = " + std::to_string(t) + " AND " + several)) {
                return false;
            }
        }
        if (!narrow()) return false;
        bool marked = false;
        for (std::size_t t = 0; t < tables_.size(); ++t) {
            if (!markIndexed(t, width, several, marked)) return false;
        }
        if (marked && !narrow()) return false;
        for (std::size_t t = 0; t < tables_.size(); ++t) {
            if (!exec("UPDATE temp.salvage_fit SET keep = NOT EXISTS (SELECT 1 FROM main." +
                      APMQuotedIdentifier(tables_[t].name) + " WHERE rowid = (SELECT id FROM " + lost +
                      " WHERE rowid = salvage_fit.row)) WHERE t = " + std::to_string(t) + " AND " + several)) {
                return false;
            }
        }
        return narrow();
    }

    // Marks the rows of table `t` that fit others alike by whether an index of the kept file's,
    // one the store has too, holds their key and rowid: its pages read through the view.
    bool markIndexed(std::size_t t, std::size_t width, const std::string& several, bool& marked) {
        const Table& table = tables_[t];
        const auto kept = pages_.keptIndexes().find(table.name);
        if (kept == pages_.keptIndexes().end()) return true;
        bool cleared = false;
        for (const APMKeptPages::KeptIndex& index : kept->second) {
            const auto own = std::find_if(table.indexes.begin(), table.indexes.end(),
                                          [&](const APMKeptFileReader::Index& mine) { return mine.name == index.name; });
            if (own == table.indexes.end() || own->columns.empty()) continue;
            // Its entries: the key's fields, then the rowid.
            const std::size_t keys = own->columns.size();
            std::string fields;
            std::string columns;
            std::string matches;
            for (std::size_t i = 0; i < keys; ++i) {
                fields += ", max(CASE WHEN field = " + std::to_string(i) + " THEN value END)";
                columns += ", k" + std::to_string(i);
                const std::size_t column = own->columns[i];
                const std::string value = column < width ? "l.c" + std::to_string(column) : std::string("NULL");
                matches += " AND x.k" + std::to_string(i) + " IS " +
                           (table.rowidKey == column ? "coalesce(" + value + ", l.id)" : value);
            }
            if (!exec("DROP TABLE IF EXISTS temp.salvage_index") ||
                !exec("CREATE TEMP TABLE salvage_index (id INTEGER" + columns + ")") || !pagesOf(index.root, true) ||
                !exec("INSERT INTO temp.salvage_index SELECT * FROM (SELECT max(CASE WHEN field = " + std::to_string(keys) +
                      " THEN value END) AS id" + fields +
                      " FROM temp.salvage_pages AS p, sqlite_dbdata('getpage()') AS d WHERE d.pgno = p.page GROUP BY "
                      "d.pgno, d.cell) WHERE id IS NOT NULL") ||
                !exec("CREATE INDEX temp.salvage_index_id ON salvage_index (id)")) {
                return false;
            }
            if (!cleared && !exec("UPDATE temp.salvage_fit SET keep = 0 WHERE t = " + std::to_string(t) + " AND " + several)) {
                return false;
            }
            cleared = true;
            if (!exec("UPDATE temp.salvage_fit SET keep = 1 WHERE t = " + std::to_string(t) + " AND " + several +
                      " AND EXISTS (SELECT 1 FROM temp.salvage_index AS x, main." + kLost +
                      " AS l WHERE l.rowid = salvage_fit.row AND x.id = l.id" + matches + ")")) {
                return false;
            }
            marked = true;
        }
        return !cleared || exec("DROP TABLE IF EXISTS temp.salvage_index");
    }

    // The pages a walk from `root` reaches in temp.salvage_pages, but `excluded` and what is below
    // them; with `whole`, those whose every cell is shown alone.
    bool pagesOf(std::int64_t root, bool whole, const std::set<std::int64_t>& excluded = {}) {
        if (!exec("DROP TABLE IF EXISTS temp.salvage_pages") ||
            !exec("CREATE TEMP TABLE salvage_pages (page INTEGER PRIMARY KEY)")) {
            return false;
        }
        Statement insert(work_, "INSERT OR IGNORE INTO temp.salvage_pages VALUES (?1)");
        for (const std::int64_t page : pages_.reach(root, excluded)) {
            if (whole && !pages_.complete(page)) continue;
            sqlite3_bind_int64(*insert, 1, page);
            if (insert.step() != SQLITE_DONE) return fail();
            sqlite3_reset(*insert);
        }
        return true;
    }

    // The table's rows read again from the pages its tree reaches but `excluded` and what is below them.
    bool readAgain(const std::string& name, std::int64_t root, const std::set<std::int64_t>& excluded) {
        const auto table = std::find_if(tables_.begin(), tables_.end(), [&](const Table& t) { return t.name == name; });
        if (table == tables_.end()) return true;
        std::string names;
        std::string fields;
        for (std::size_t i = 0; i < table->columns.size(); ++i) {
            if (table->rowidKey == i) continue;
            names += ", " + APMQuotedIdentifier(table->columns[i].name);
            fields += ", max(CASE WHEN field = " + std::to_string(i) + " THEN value END)";
        }
        return pagesOf(root, false, excluded) && exec("DELETE FROM main." + APMQuotedIdentifier(name)) &&
               exec("INSERT OR IGNORE INTO main." + APMQuotedIdentifier(name) + " (rowid" + names +
                    ") SELECT * FROM (SELECT max(CASE WHEN field = -1 THEN value END) AS id" + fields +
                    " FROM temp.salvage_pages AS p, sqlite_dbdata('getpage()') AS d WHERE d.pgno = p.page GROUP BY "
                    "d.pgno, d.cell) WHERE id IS NOT NULL ORDER BY id") &&
               exec("DROP TABLE temp.salvage_pages");
    }

    sqlite3* work_;
    APMKeptPages& pages_;
    const std::vector<Table>& tables_;
    std::map<std::string, std::int64_t> lostSchemaRoots_;
    // Per table, the rows read that did not fit it or whose values did not read.
    std::map<std::string, std::int64_t> unfit_;
    std::map<std::string, std::int64_t> fromLost_;
    // Per table, the rows it holds.
    std::map<std::string, std::int64_t> rows_;
    std::set<std::string> strayed_;
    std::string alikeNote_;
    int failure_ = SQLITE_OK;
};

bool isReadFailure(int code) {
    const int primary = code & 0xff;
    return code == SQLITE_IOERR_READ || code == SQLITE_IOERR_SHORT_READ || primary == SQLITE_CANTOPEN ||
           primary == SQLITE_PERM || primary == SQLITE_AUTH || code == SQLITE_IOERR_LOCK || code == SQLITE_IOERR_RDLOCK ||
           code == SQLITE_IOERR_FSTAT || code == SQLITE_IOERR_ACCESS || primary == SQLITE_BUSY ||
           primary == SQLITE_LOCKED;
}

bool isDamage(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

// A moment's failure of the disk under the working copy, as opposed to a kept file it cannot take.
bool isTheDisk(int code) {
    const int primary = code & 0xff;
    return primary == SQLITE_FULL || (primary == SQLITE_IOERR && !isReadFailure(code)) || primary == SQLITE_NOMEM;
}

NSErrorPtr readError(const std::string& keptPath, int code, const std::string& message) {
    return apm_errorWithCode(APMErrorStorage,
                             NSString::format("Failed to read the kept database file %@ (sqlite code %d): %@", keptPath,
                                              code, message),
                             "read kept database," + std::to_string(code & 0xff));
}

// The extension over `input` into `workingPath`: SQLite's code and message.
std::pair<int, std::string> recover(sqlite3* input, const std::string& workingPath, bool lostAndFound) {
    sqlite3_recover* recover = sqlite3_recover_init(input, "main", SQLiteFileIOURI(workingPath, true).c_str());
    if (!recover) return {SQLITE_NOMEM, sqlite3_errstr(SQLITE_NOMEM)};
    if (lostAndFound) (void)sqlite3_recover_config(recover, SQLITE_RECOVER_LOST_AND_FOUND, const_cast<char*>(kLost));
    (void)sqlite3_recover_run(recover);
    const int code = sqlite3_recover_errcode(recover);
    const char* said = sqlite3_recover_errmsg(recover);
    std::pair<int, std::string> result{code, said ? said : sqlite3_errstr(code)};
    // The input connection knows whether a read of the file failed, where the extension gives the
    // primary code alone.
    const int inputFailure = sqlite3_extended_errcode(input);
    if (code != SQLITE_OK && (inputFailure == SQLITE_IOERR_READ || inputFailure == SQLITE_IOERR_SHORT_READ)) {
        result.first = inputFailure;
    }
    (void)sqlite3_recover_finish(recover);
    return result;
}

// Off on every connection that touches the kept file's bytes: nothing of its schema runs.
void distrust(sqlite3* db, bool defensive) {
    for (const auto& [option, on] : {std::pair(SQLITE_DBCONFIG_ENABLE_TRIGGER, 0), std::pair(SQLITE_DBCONFIG_ENABLE_VIEW, 0),
                                     std::pair(SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0)}) {
        (void)sqlite3_db_config(db, option, on, nullptr);
    }
    if (defensive) (void)sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
}

}  // namespace

APMKeptFileReader::StoreTables APMKeptFileReader::storeTablesOf(sqlite3* store) {
    StoreTables read;
    const auto failed = [&] {
        read.failure = sqlite3_extended_errcode(store);
        if (read.failure == SQLITE_OK) read.failure = SQLITE_ERROR;
        read.message = sqlite3_errmsg(store);
        read.tables.clear();
        return read;
    };
    Statement list(store, "SELECT name, rootpage FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite%' "
                          "ORDER BY name");
    int rc;
    while ((rc = list.step()) == SQLITE_ROW) {
        if (APMColumnText(*list, 0) == APMCarriedRecord::kStoreTable) continue;
        Table table;
        table.name = APMColumnText(*list, 0);
        table.freshRoot = sqlite3_column_int64(*list, 1);
        read.tables.push_back(std::move(table));
    }
    if (rc != SQLITE_DONE) return failed();
    for (Table& table : read.tables) {
        table.columns = columnsOf(store, "main", table.name, &table.rowidKey);
        if (table.columns.empty()) return failed();
        Statement indexes(store, "SELECT name FROM pragma_index_list(" + APMQuotedIdentifier(table.name) + ")");
        while ((rc = indexes.step()) == SQLITE_ROW) table.indexes.push_back({APMColumnText(*indexes, 0), {}});
        if (rc != SQLITE_DONE) return failed();
        for (Index& index : table.indexes) {
            Statement info(store, "SELECT cid FROM pragma_index_info(" + APMQuotedIdentifier(index.name) + ") ORDER BY seqno");
            while ((rc = info.step()) == SQLITE_ROW) {
                const std::int64_t column = sqlite3_column_int64(*info, 0);
                if (column < 0 || column >= static_cast<std::int64_t>(table.columns.size())) {
                    index.columns.clear();
                    break;
                }
                index.columns.push_back(static_cast<std::size_t>(column));
            }
            if (rc != SQLITE_DONE && rc != SQLITE_ROW) return failed();
        }
    }
    return read;
}

APMKeptFileReader::Failure APMKeptFileReader::read(const std::string& keptPath, const std::string& workingPath,
                                                   const StoreTables& tables, Outcome& outcome, bool& readFailed,
                                                   NSErrorPtr* error, Budget budget,
                                                   const DispatchCancellation* cancellation) {
    // The extension frees and takes again a page's buffer at the top of the heap for every page it
    // reads, and the C library hands that memory back to the system and faults it in anew each
    // time: ten times the work on a 100 MB file. Room kept at the top ends that; it is never
    // touched unless used.
    static const bool padded = mallopt(M_TOP_PAD, 4 << 20) == 1;
    (void)padded;
    outcome = {};
    readFailed = false;
    (void)APMKeptFiles::removeWithCompanions(workingPath);
    const auto failWith = [&](Failure failure, int code, const std::string& message) {
        readFailed = failure == Failure::KeptFile && (code == SQLITE_IOERR_READ || code == SQLITE_IOERR_SHORT_READ);
        setError(error, readError(keptPath, code, message));
        (void)APMKeptFiles::removeWithCompanions(workingPath);
        return failure;
    };
    if (tables.failure != SQLITE_OK) return failWith(Failure::WorkingCopy, tables.failure, tables.message);

    std::vector<APMKeptPages::Declared> declared;
    for (const Table& table : tables.tables) declared.push_back({table.name, declarationOf(table)});
    APMKeptPages pages(keptPath, declared, cancellation);
    // Before a failed read is taken for the file's: a cancelled one is no fault of it, nor a
    // reason to read again without the pages no tree reaches.
    const auto failedRead = [&] {
        if (pages.cancelled()) return failWith(Failure::Cancelled, SQLITE_INTERRUPT, pages.readFailureMessage());
        return failWith(Failure::KeptFile, pages.readFailure(), pages.readFailureMessage());
    };
    // Read-only, never through a link in its place.
    sqlite3* input = nullptr;
    int rc = sqlite3_open_v2(SQLiteKeptFileURI(keptPath).c_str(), &input,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW, SQLiteFileIOVFSName());
    if (rc == SQLITE_OK) {
        distrust(input, true);
        rc = pages.serveRecovery(input);
    }
    if (rc != SQLITE_OK) {
        const int code = input ? sqlite3_extended_errcode(input) : rc;
        const std::string message = input ? sqlite3_errmsg(input) : sqlite3_errstr(rc);
        sqlite3_close(input);
        return failWith(Failure::KeptFile, code, message);
    }
    const std::unique_ptr<sqlite3, int (*)(sqlite3*)> closeInput(input, sqlite3_close);

    // Lost-and-found first; when the pages no tree reaches cost more than the budget, without them.
    for (const bool lostAndFound : {true, false}) {
        pages.allow(budget.perPage, budget.beyond);
        const auto [recovered, message] = recover(input, workingPath, lostAndFound);
        if (pages.readFailure() != SQLITE_OK) return failedRead();
        if (pages.spent()) {
            if (lostAndFound && !pages.treesTooCostly()) continue;
            return failWith(Failure::TooCostly, SQLITE_ABORT, "its trees cost more reads than its pages allow");
        }
        // The extension passes over what it finds damaged; a file it cannot begin on holds nothing it
        // can read.
        bool nothingReadable = false;
        if (recovered != SQLITE_OK) {
            if (isTheDisk(recovered)) return failWith(Failure::WorkingCopy, recovered, message);
            if (!isDamage(recovered)) return failWith(Failure::KeptFile, recovered, message);
            nothingReadable = true;
            (void)APMKeptFiles::removeWithCompanions(workingPath);
        }

        sqlite3* work = nullptr;
        rc = sqlite3_open_v2(SQLiteFileIOURI(workingPath, true).c_str(), &work,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW,
                             SQLiteFileIOVFSName());
        // Scratch: no journal (which defensive mode would not let go).
        if (rc == SQLITE_OK) rc = sqlite3_exec(work, "PRAGMA journal_mode=OFF", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) distrust(work, true);
        if (rc == SQLITE_OK) rc = sqlite3_dbdata_init(work, nullptr, nullptr);
        if (rc == SQLITE_OK) rc = pages.serveSQL(work);
        if (rc != SQLITE_OK) {
            const int code = work ? sqlite3_extended_errcode(work) : rc;
            sqlite3_close(work);
            return failWith(Failure::WorkingCopy, code, sqlite3_errstr(code));
        }
        int failure = SQLITE_OK;
        bool placed = false;
        {
            Placement placement(work, pages, tables.tables);
            // One transaction: a statement of its own would lock and look for journals every time.
            placed = sqlite3_exec(work, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK && placement.takeSharedPages() &&
                     placement.takeUnfitRows(outcome) && placement.placeLostRows(outcome) &&
                     placement.count(outcome, lostAndFound);
            failure = placed ? SQLITE_OK : placement.failure();
        }
        if (placed && sqlite3_exec(work, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            placed = false;
            failure = sqlite3_extended_errcode(work);
        }
        const std::string failureMessage = placed ? std::string() : sqlite3_errmsg(work);
        sqlite3_close(work);
        if (pages.readFailure() != SQLITE_OK) return failedRead();
        if (pages.spent()) {
            outcome = {};
            if (lostAndFound) continue;
            return failWith(Failure::TooCostly, SQLITE_ABORT, "its trees cost more reads than its pages allow");
        }
        if (!placed) {
            return failWith(isTheDisk(failure) ? Failure::WorkingCopy : Failure::KeptFile, failure, failureMessage);
        }
        if (nothingReadable) outcome.detail = "nothing readable (" + message + ")";
        return Failure::None;
    }
    return Failure::None;
}
