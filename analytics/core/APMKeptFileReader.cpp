// A kept file read by the recovery extension, then its rows placed by the store's own tables.
#include "analytics/core/APMKeptFileReader.h"

#include "analytics/core/APMCarriedRecord.h"
#include "analytics/core/APMError.h"
#include "analytics/core/APMKeptFiles.h"
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
    void reset() { sqlite3_reset(statement_); }

private:
    sqlite3_stmt* statement_ = nullptr;
};

struct Column {
    std::string name;
    std::string type;
    bool notNull = false;
};

struct Table {
    std::string name;
    std::vector<Column> columns;
    // The INTEGER PRIMARY KEY column: a record holds null for it, its rowid standing in.
    std::optional<std::size_t> rowidKey;
    std::int64_t freshRoot = 0;
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

// The store's tables, but its own record of carried files; nothing when the list does not read.
std::optional<std::vector<Table>> storeTables(sqlite3* store) {
    std::vector<Table> tables;
    Statement list(store, "SELECT name, rootpage FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite%' "
                          "ORDER BY name");
    int rc;
    while ((rc = list.step()) == SQLITE_ROW) {
        if (APMColumnText(*list, 0) == APMCarriedRecord::kStoreTable) continue;
        tables.push_back({APMColumnText(*list, 0), {}, std::nullopt, sqlite3_column_int64(*list, 1)});
    }
    if (rc != SQLITE_DONE) return std::nullopt;
    for (Table& table : tables) {
        table.columns = columnsOf(store, "main", table.name, &table.rowidKey);
        if (table.columns.empty()) return std::nullopt;
    }
    return tables;
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

// A page of the kept file, empty when it does not read.
std::vector<std::uint8_t> keptPage(sqlite3* work, std::int64_t page) {
    Statement read(work, "SELECT data FROM sqlite_dbpage('kept') WHERE pgno = ?1");
    sqlite3_bind_int64(*read, 1, page);
    if (read.step() != SQLITE_ROW) return {};
    const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(*read, 0));
    return std::vector<std::uint8_t>(data, data + sqlite3_column_bytes(*read, 0));
}

// The b-tree page type of a page (0x0d a table leaf, 0x05 a table interior page, 0x0a and 0x02
// an index's), 0 when it has none.
int pageType(const std::vector<std::uint8_t>& page, std::int64_t number) {
    const std::size_t at = number == 1 ? 100 : 0;
    return page.size() > at + 12 ? page[at] : 0;
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
    if (pageType(page, number) != 0x05) return slots;
    const std::size_t cells = bigEndian(&page[at + 3], 2);
    std::int64_t lower = std::numeric_limits<std::int64_t>::min();
    for (std::size_t i = 0; i < cells && at + 12 + 2 * i + 2 <= page.size(); ++i) {
        const std::size_t cell = bigEndian(&page[at + 12 + 2 * i], 2);
        if (cell + 4 >= page.size()) break;
        // The key's varint after the child's number.
        std::uint64_t key = 0;
        std::size_t n = 0;
        for (; n < 9 && cell + 4 + n < page.size(); ++n) {
            const std::uint8_t byte = page[cell + 4 + n];
            if (n == 8) {
                key = (key << 8) | byte;
                break;
            }
            key = (key << 7) | (byte & 0x7f);
            if (!(byte & 0x80)) break;
        }
        const auto upper = static_cast<std::int64_t>(key);
        slots.push_back({bigEndian(&page[cell], 4), lower, upper});
        lower = upper;
    }
    slots.push_back({bigEndian(&page[at + 8], 4), lower, std::numeric_limits<std::int64_t>::max()});
    return slots;
}

// The lowest and highest rowid on a table page: a leaf's rows, an interior page's dividers.
std::optional<std::pair<std::int64_t, std::int64_t>> keysOf(sqlite3* work, std::int64_t page) {
    const auto bytes = keptPage(work, page);
    if (pageType(bytes, page) == 0x05) {
        const auto slots = slotsOf(bytes, page);
        if (slots.size() < 2) return std::nullopt;
        return std::pair(slots.front().upper, slots[slots.size() - 2].upper);
    }
    Statement keys(work, "SELECT min(value), max(value) FROM sqlite_dbdata('kept') WHERE pgno = ?1 AND field = -1");
    sqlite3_bind_int64(*keys, 1, page);
    if (keys.step() != SQLITE_ROW || sqlite3_column_type(*keys, 0) == SQLITE_NULL) return std::nullopt;
    return std::pair(sqlite3_column_int64(*keys, 0), sqlite3_column_int64(*keys, 1));
}

class Placement {
public:
    // `reader` reads the kept file through SQLite's own tree, for what only that can tell (an
    // index, a whole value); a connection of its own, as damage met there would have SQLite refuse
    // this one's writes for the rest of the transaction.
    Placement(sqlite3* work, sqlite3* reader, std::vector<Table> tables)
        : work_(work), reader_(reader), tables_(std::move(tables)) {}

    // The kept file's schema, through the working copy's attachment: false when it does not read.
    bool readKeptSchema() {
        Statement schema(work_, "SELECT type, name, tbl_name, rootpage FROM kept.sqlite_schema WHERE rootpage > 0");
        int rc;
        while ((rc = schema.step()) == SQLITE_ROW) {
            const std::string type = APMColumnText(*schema, 0);
            const std::int64_t root = sqlite3_column_int64(*schema, 3);
            if (type == "table") keptRoots_[APMColumnText(*schema, 1)] = root;
            else if (type == "index") keptIndexes_[APMColumnText(*schema, 2)].push_back(APMColumnText(*schema, 1));
            roots_[root] = type == "table";
        }
        keptSchema_ = rc == SQLITE_DONE && !keptRoots_.empty();
        return keptSchema_;
    }

    // Each table whose tree reaches a page of another tree's that it does not own is read again
    // from its own pages alone.
    bool takeSharedPages() {
        if (!keptSchema_ || roots_.size() < 2) return true;
        if (!exec("CREATE TEMP TABLE salvage_roots (root INTEGER PRIMARY KEY)")) return false;
        for (const auto& [root, isTable] : roots_) {
            if (!exec("INSERT INTO temp.salvage_roots VALUES (" + std::to_string(root) + ")")) return false;
        }
        // Every page of every tree, each read once a tree.
        if (!exec("CREATE TEMP TABLE salvage_reach AS WITH RECURSIVE reach(root, page) AS (SELECT root, root FROM "
                  "temp.salvage_roots UNION SELECT reach.root, p.child FROM reach, sqlite_dbptr('kept') AS p WHERE "
                  "p.pgno = reach.page) SELECT root, page FROM reach")) {
            return false;
        }
        std::map<std::int64_t, std::vector<std::int64_t>> shared;
        {
            Statement find(work_, "SELECT page, root FROM temp.salvage_reach WHERE page IN (SELECT page FROM "
                                  "temp.salvage_reach GROUP BY page HAVING count(*) > 1) ORDER BY page, root");
            int rc;
            while ((rc = find.step()) == SQLITE_ROW) {
                shared[sqlite3_column_int64(*find, 0)].push_back(sqlite3_column_int64(*find, 1));
            }
            if (rc != SQLITE_DONE) return fail();
        }
        if (shared.empty()) return true;
        // Where each tree points at a shared page, and the stretches of rowids of the subtrees no
        // tree reaches.
        std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::int64_t>> parents;
        {
            Statement find(work_, "SELECT r.root, p.pgno, p.child FROM temp.salvage_reach AS r, sqlite_dbptr('kept') AS "
                                  "p WHERE p.pgno = r.page");
            while (find.step() == SQLITE_ROW) {
                const std::int64_t child = sqlite3_column_int64(*find, 2);
                if (shared.count(child)) {
                    parents[{sqlite3_column_int64(*find, 0), child}].push_back(sqlite3_column_int64(*find, 1));
                }
            }
        }
        // Subtrees no tree reaches: (top page, first rowid, last rowid).
        std::vector<std::tuple<std::int64_t, std::int64_t, std::int64_t>> lostStretches;
        if (hasLost()) {
            Statement stretches(work_, std::string("SELECT rootpgno, min(id), max(id) FROM main.") + kLost +
                                           " WHERE id IS NOT NULL AND rootpgno IS NOT NULL GROUP BY rootpgno");
            while (stretches.step() == SQLITE_ROW) {
                lostStretches.emplace_back(sqlite3_column_int64(*stretches, 0), sqlite3_column_int64(*stretches, 1),
                                           sqlite3_column_int64(*stretches, 2));
            }
        }
        std::map<std::int64_t, std::vector<std::int64_t>> excluded;
        for (const auto& [page, roots] : shared) {
            const int type = pageType(keptPage(work_, page), page);
            std::vector<std::int64_t> tableRoots;
            for (const std::int64_t root : roots) {
                if (roots_[root]) tableRoots.push_back(root);
            }
            if (type == 0x0a || type == 0x02) {
                for (const std::int64_t root : tableRoots) excluded[root].push_back(page);
                continue;
            }
            // A tree's own root is its own, whoever else points at it.
            if (roots_.count(page)) {
                for (const std::int64_t root : tableRoots) {
                    if (root != page) excluded[root].push_back(page);
                }
                continue;
            }
            const auto keys = keysOf(work_, page);
            if ((type != 0x0d && type != 0x05) || !keys || tableRoots.size() < 2) continue;
            // Per tree: whether a slot pointing here holds the page's rowids, and whether a subtree
            // no tree reaches would fit that slot better (its rowids in the slot, its page number
            // nearer the slot's neighbours': pages are given out as a tree grows), the pointer's
            // own page, lost for this one.
            std::vector<std::int64_t> holding;
            std::vector<std::int64_t> holdingNothingLost;
            for (const std::int64_t root : tableRoots) {
                bool holds = false;
                bool lostHere = false;
                for (const std::int64_t parent : parents[{root, page}]) {
                    const auto slots = slotsOf(keptPage(work_, parent), parent);
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
                if (holds) holding.push_back(root);
                if (holds && !lostHere) holdingNothingLost.push_back(root);
            }
            const auto& owners = !holdingNothingLost.empty() ? holdingNothingLost : holding;
            if (owners.empty() || owners.size() == tableRoots.size()) continue;
            for (const std::int64_t root : tableRoots) {
                if (std::find(owners.begin(), owners.end(), root) == owners.end()) excluded[root].push_back(page);
            }
        }
        for (const auto& [root, pages] : excluded) {
            for (const auto& [name, tableRoot] : keptRoots_) {
                if (tableRoot != root) continue;
                if (!readAgain(name, root, pages)) return false;
                strayed_.insert(name);
            }
        }
        return true;
    }

    // Rows of each store table that do not fit it are unreadable (a stray page's, or damaged ones
    // the extension decoded as it could), and each table gets the store's columns it lacks; a
    // table the extension did not make is made.
    bool takeUnfitRows(APMKeptFileReader::Outcome& outcome) {
        for (const Table& table : tables_) {
            const auto kept = columnsOf(work_, "main", table.name);
            if (kept.empty()) {
                if (!makeTable(table)) return false;
                continue;
            }
            std::vector<std::string> values;
            for (const Column& column : table.columns) {
                const bool has = std::any_of(kept.begin(), kept.end(), [&](const Column& k) { return k.name == column.name; });
                values.push_back(has ? APMQuotedIdentifier(column.name) : "NULL");
            }
            if (!exec("DELETE FROM main." + APMQuotedIdentifier(table.name) + " WHERE NOT (" +
                      fitsSQL(table, values, "rowid") + ")")) {
                return false;
            }
            if (const int unfit = sqlite3_changes(work_); unfit > 0) {
                unfit_[table.name] = unfit;
                outcome.unreadable += unfit;
            }
            for (const Column& column : table.columns) {
                const bool has = std::any_of(kept.begin(), kept.end(), [&](const Column& k) { return k.name == column.name; });
                if (!has && !exec("ALTER TABLE main." + APMQuotedIdentifier(table.name) + " ADD COLUMN " +
                                  APMQuotedIdentifier(column.name))) {
                    return false;
                }
            }
        }
        return true;
    }

    // Each row of a page no tree reaches into the tables it fits (APMKeptFileReader.h says which
    // where several do), each decided on the tables as the walk left them.
    bool placeLostRows(APMKeptFileReader::Outcome& outcome) {
        if (!hasLost()) return true;
        const std::size_t width = lostWidth();
        std::vector<std::string> fields;
        for (std::size_t i = 0; i < width; ++i) fields.push_back("c" + std::to_string(i));
        // The schema's own records on pages no tree reaches (its first page lost, the rest not):
        // its roots, and no rows of any table.
        const std::string schemaRecord = width < 5 ? std::string("0")
                                                   : "nfield = 5 AND c0 IN ('table', 'index', 'view', 'trigger') AND "
                                                     "typeof(c1) = 'text' AND typeof(c3) = 'integer'";
        if (!keptSchema_ && width >= 5) {
            Statement roots(work_, std::string("SELECT c1, c3 FROM main.") + kLost + " WHERE " + schemaRecord +
                                       " AND c0 = 'table'");
            while (roots.step() == SQLITE_ROW) lostSchemaRoots_[APMColumnText(*roots, 0)] = sqlite3_column_int64(*roots, 1);
        }
        // Per lost row, the tables it fits.
        std::map<std::int64_t, std::vector<std::size_t>> fitting;
        for (std::size_t t = 0; t < tables_.size(); ++t) {
            const Table& table = tables_[t];
            Statement fit(work_, std::string("SELECT rowid FROM main.") + kLost + " WHERE id IS NOT NULL AND NOT (" +
                                     schemaRecord + ") AND nfield <= " + std::to_string(table.columns.size()) + " AND " +
                                     fitsSQL(table, fields, "id"));
            int rc;
            while ((rc = fit.step()) == SQLITE_ROW) fitting[sqlite3_column_int64(*fit, 0)].push_back(t);
            if (rc != SQLITE_DONE) return fail();
        }
        std::vector<std::pair<std::int64_t, std::vector<std::size_t>>> decided;
        {
            Statement rows(work_, std::string("SELECT rowid, rootpgno, id FROM main.") + kLost +
                                      " WHERE id IS NOT NULL AND NOT (" + schemaRecord + ")");
            int rc;
            while ((rc = rows.step()) == SQLITE_ROW) {
                const std::int64_t row = sqlite3_column_int64(*rows, 0);
                const std::optional<std::int64_t> top = sqlite3_column_type(*rows, 1) == SQLITE_NULL
                                                            ? std::nullopt
                                                            : std::optional(sqlite3_column_int64(*rows, 1));
                const std::int64_t id = sqlite3_column_int64(*rows, 2);
                const auto found = fitting.find(row);
                if (found == fitting.end()) {
                    ++outcome.unreadable;
                    continue;
                }
                std::vector<std::size_t> chosen = found->second;
                narrow(chosen, [&](std::size_t t) { return top && rootOf(tables_[t]) == *top; });
                narrow(chosen, [&](std::size_t t) { return indexHolds(tables_[t], row, id); });
                narrow(chosen, [&](std::size_t t) { return !hasRowid(tables_[t], id); });
                decided.emplace_back(row, std::move(chosen));
            }
            if (rc != SQLITE_DONE) return fail();
        }
        std::map<std::string, std::int64_t> alike;
        for (const auto& [row, chosen] : decided) {
            for (const std::size_t t : chosen) {
                if (!insertLost(tables_[t], row, width)) return false;
                if (sqlite3_changes(work_) > 0) ++fromLost_[tables_[t].name];
            }
            if (chosen.size() > 1) {
                std::vector<std::string> names;
                for (const std::size_t t : chosen) names.push_back(tables_[t].name);
                ++alike[NSString::componentsJoinedByString(names, " and ")];
            }
        }
        for (const auto& [names, count] : alike) {
            alikeNote_ += "; " + std::to_string(count) + " rows that fit " + names + " alike, carried into each";
        }
        return true;
    }

    // A value longer than fits in its page goes on in a chain of overflow pages, which the
    // extension follows without asking where it should end: a chain broken on the way gives the
    // value a made-up end. Where the kept file's own tree still leads to the row, SQLite's read of
    // the value is the check; a row whose value it finds damaged, or reads otherwise, is
    // unreadable.
    bool dropBrokenLongValues(APMKeptFileReader::Outcome& outcome) {
        if (!keptSchema_ || !reader_) return true;
        Statement size(reader_, "PRAGMA page_size");
        if (size.step() != SQLITE_ROW) return true;
        const std::int64_t local = sqlite3_column_int64(*size, 0) - 35;
        for (const Table& table : tables_) {
            if (!keptRoots_.count(table.name)) continue;
            const std::string name = APMQuotedIdentifier(table.name);
            for (const Column& column : columnsOf(work_, "kept", table.name)) {
                const std::string value = APMQuotedIdentifier(column.name);
                std::vector<std::int64_t> longRows;
                {
                    Statement find(work_, "SELECT rowid FROM main." + name + " WHERE length(CAST(" + value +
                                              " AS BLOB)) > " + std::to_string(local));
                    while (find.step() == SQLITE_ROW) longRows.push_back(sqlite3_column_int64(*find, 0));
                }
                std::vector<std::int64_t> broken;
                for (const std::int64_t row : longRows) {
                    Statement there(reader_, "SELECT 1 FROM " + name + " WHERE rowid = ?1");
                    sqlite3_bind_int64(*there, 1, row);
                    if (there.step() != SQLITE_ROW) continue;
                    Statement same(reader_, "SELECT " + value + " FROM " + name + " WHERE rowid = ?1");
                    sqlite3_bind_int64(*same, 1, row);
                    bool whole = same.step() == SQLITE_ROW;
                    if (whole) {
                        Statement mine(work_, "SELECT " + value + " IS ?2 FROM main." + name + " WHERE rowid = ?1");
                        sqlite3_bind_int64(*mine, 1, row);
                        sqlite3_bind_value(*mine, 2, sqlite3_column_value(*same, 0));
                        whole = mine.step() == SQLITE_ROW && sqlite3_column_int(*mine, 0) == 1;
                    }
                    if (!whole) broken.push_back(row);
                }
                for (const std::int64_t row : broken) {
                    Statement drop(work_, "DELETE FROM main." + name + " WHERE rowid = ?1");
                    sqlite3_bind_int64(*drop, 1, row);
                    if (drop.step() != SQLITE_DONE) return fail();
                    ++unfit_[table.name];
                    ++outcome.unreadable;
                }
            }
        }
        return true;
    }

    bool count(APMKeptFileReader::Outcome& outcome) {
        for (const Table& table : tables_) {
            Statement rows(work_, "SELECT count(*) FROM main." + APMQuotedIdentifier(table.name));
            if (!rows) continue;
            if (rows.step() != SQLITE_ROW) return fail();
            const std::int64_t count = sqlite3_column_int64(*rows, 0);
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
        if (!keptSchema_) outcome.detail = "schema unreadable" + std::string(outcome.detail.empty() ? "" : "; ") + outcome.detail;
        return true;
    }

    // The code of the working copy's last failure.
    int failure() const { return failure_; }
    // Its statements finalized, before the transaction ends.
    void finish() { statements_.clear(); }

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
    bool hasLost() {
        return !columnsOf(work_, "main", kLost).empty();
    }
    std::size_t lostWidth() {
        const std::size_t columns = columnsOf(work_, "main", kLost).size();
        return columns > 4 ? columns - 4 : 0;
    }
    // An empty copy of a store table: its columns with their affinities, its rowid key.
    bool makeTable(const Table& table) {
        std::string columns;
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            static const char* const kTypes[] = {"INTEGER", "TEXT", "BLOB", "REAL"};
            columns += (i ? ", " : "") + APMQuotedIdentifier(table.columns[i].name) + " " +
                       kTypes[static_cast<int>(affinityOf(table.columns[i].type))] +
                       (table.rowidKey == i ? " PRIMARY KEY" : "");
        }
        return exec("CREATE TABLE main." + APMQuotedIdentifier(table.name) + " (" + columns + ")");
    }
    // Keeps of `chosen` those `prefer` takes, when it takes some but not all.
    template <typename Prefer>
    static void narrow(std::vector<std::size_t>& chosen, Prefer&& prefer) {
        if (chosen.size() < 2) return;
        std::vector<std::size_t> kept;
        std::copy_if(chosen.begin(), chosen.end(), std::back_inserter(kept), prefer);
        if (!kept.empty()) chosen = kept;
    }
    // Where the kept file had the table's root: by its schema, else by the schema's records found on
    // pages no tree reaches, else where a fresh file of the same code has it.
    std::int64_t rootOf(const Table& table) const {
        const auto& roots = keptSchema_ ? keptRoots_ : lostSchemaRoots_;
        const auto found = roots.find(table.name);
        if (found != roots.end()) return found->second;
        return keptSchema_ ? 0 : table.freshRoot;
    }
    bool hasRowid(const Table& table, std::int64_t id) {
        Statement& find = cached("SELECT 1 FROM main." + APMQuotedIdentifier(table.name) + " WHERE rowid = ?1");
        sqlite3_bind_int64(*find, 1, id);
        const bool has = find.step() == SQLITE_ROW;
        find.reset();
        return has;
    }
    // A statement prepared once for the placement, reset for its next use.
    Statement& cached(const std::string& sql) {
        auto& statement = statements_[sql];
        if (!statement) statement = std::make_unique<Statement>(work_, sql);
        return *statement;
    }
    // Whether an index of the kept file's holds the lost row's key and rowid.
    bool indexHolds(const Table& table, std::int64_t row, std::int64_t id) {
        if (!keptSchema_ || !reader_) return false;
        const auto indexes = keptIndexes_.find(table.name);
        if (indexes == keptIndexes_.end()) return false;
        for (const std::string& index : indexes->second) {
            Statement columns(reader_, "PRAGMA index_info(" + APMQuotedIdentifier(index) + ")");
            std::string where;
            std::string fields;
            while (columns.step() == SQLITE_ROW) {
                const std::string name = APMColumnText(*columns, 2);
                const auto at = std::find_if(table.columns.begin(), table.columns.end(),
                                             [&](const Column& column) { return column.name == name; });
                if (at == table.columns.end()) {
                    where.clear();
                    break;
                }
                fields += (fields.empty() ? "" : ", ") + std::string("c") + std::to_string(at - table.columns.begin());
                where += APMQuotedIdentifier(name) + " IS ? AND ";
            }
            if (where.empty()) continue;
            Statement values(work_, "SELECT " + fields + std::string(" FROM main.") + kLost + " WHERE rowid = ?1");
            sqlite3_bind_int64(*values, 1, row);
            if (values.step() != SQLITE_ROW) continue;
            Statement holds(reader_, "SELECT 1 FROM " + APMQuotedIdentifier(table.name) + " INDEXED BY " +
                                         APMQuotedIdentifier(index) + " WHERE " + where + "rowid = ?");
            const int count = sqlite3_column_count(*values);
            for (int i = 0; i < count; ++i) sqlite3_bind_value(*holds, i + 1, sqlite3_column_value(*values, i));
            sqlite3_bind_int64(*holds, count + 1, id);
            if (holds.step() == SQLITE_ROW) return true;
        }
        return false;
    }
    // A lost row into `table`'s copy, under its rowid: one the table has already is the same row.
    bool insertLost(const Table& table, std::int64_t row, std::size_t width) {
        std::string names;
        std::string values;
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            names += ", " + APMQuotedIdentifier(table.columns[i].name);
            const std::string field = i < width ? "c" + std::to_string(i) : "NULL";
            values += ", " + (table.rowidKey == i ? "coalesce(" + field + ", id)" : field);
        }
        const std::string into = "INSERT OR IGNORE INTO main." + APMQuotedIdentifier(table.name);
        const std::string from = std::string(" FROM main.") + kLost + " WHERE rowid = ?1";
        Statement& insert = cached(table.rowidKey ? into + " (" + names.substr(2) + ") SELECT " + values.substr(2) + from
                                                  : into + " (rowid" + names + ") SELECT id" + values + from);
        sqlite3_bind_int64(*insert, 1, row);
        const int rc = insert.step();
        insert.reset();
        return rc == SQLITE_DONE || fail();
    }
    // The table's rows read again from the pages its tree reaches but `excluded` and what is below them.
    bool readAgain(const std::string& table, std::int64_t root, const std::vector<std::int64_t>& excluded) {
        std::optional<std::size_t> rowidKey;
        const auto kept = columnsOf(work_, "main", table, &rowidKey);
        if (kept.empty()) return true;
        std::string list;
        for (const std::int64_t page : excluded) list += (list.empty() ? "" : ", ") + std::to_string(page);
        std::string names;
        std::string fields;
        for (std::size_t i = 0; i < kept.size(); ++i) {
            if (rowidKey == i) continue;
            names += ", " + APMQuotedIdentifier(kept[i].name);
            fields += ", max(CASE WHEN field = " + std::to_string(i) + " THEN value END)";
        }
        return exec("DELETE FROM main." + APMQuotedIdentifier(table)) &&
               exec("WITH RECURSIVE own(page) AS (SELECT " + std::to_string(root) +
                    " UNION SELECT p.child FROM own, sqlite_dbptr('kept') AS p WHERE p.pgno = own.page AND p.child NOT "
                    "IN (" + list + ")) INSERT OR IGNORE INTO main." + APMQuotedIdentifier(table) + " (rowid" + names +
                    ") SELECT * FROM (SELECT max(CASE WHEN field = -1 THEN value END) AS id" + fields +
                    " FROM sqlite_dbdata('kept') AS d, own WHERE d.pgno = own.page GROUP BY d.pgno, d.cell) WHERE id "
                    "IS NOT NULL ORDER BY id");
    }

    sqlite3* work_;
    sqlite3* reader_;
    std::vector<Table> tables_;
    bool keptSchema_ = false;
    std::map<std::string, std::int64_t> keptRoots_;
    std::map<std::string, std::vector<std::string>> keptIndexes_;
    // Every root of the kept schema, and whether it is a table's.
    std::map<std::int64_t, bool> roots_;
    std::map<std::string, std::int64_t> lostSchemaRoots_;
    // Per table, the rows read that did not fit it.
    std::map<std::string, std::int64_t> unfit_;
    std::map<std::string, std::int64_t> fromLost_;
    std::set<std::string> strayed_;
    std::string alikeNote_;
    std::map<std::string, std::unique_ptr<Statement>> statements_;
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

}  // namespace

APMKeptFileReader::Failure APMKeptFileReader::read(const std::string& keptPath, bool failedReadsAreDamage,
                                                   const std::string& workingPath, sqlite3* store, Outcome& outcome,
                                                   bool& readFailed, NSErrorPtr* error) {
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

    // Read-only, never through a link in its place.
    sqlite3* kept = nullptr;
    int rc = sqlite3_open_v2(SQLiteKeptFileURI(keptPath, failedReadsAreDamage).c_str(), &kept,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW, SQLiteFileIOVFSName());
    if (rc != SQLITE_OK) {
        const int code = kept ? sqlite3_extended_errcode(kept) : rc;
        const std::string message = kept ? sqlite3_errmsg(kept) : sqlite3_errstr(rc);
        sqlite3_close(kept);
        return failWith(Failure::KeptFile, code, message);
    }
    sqlite3_recover* recover = sqlite3_recover_init(kept, "main", SQLiteFileIOURI(workingPath, true).c_str());
    if (!recover) {
        sqlite3_close(kept);
        return failWith(Failure::WorkingCopy, SQLITE_NOMEM, sqlite3_errstr(SQLITE_NOMEM));
    }
    (void)sqlite3_recover_config(recover, SQLITE_RECOVER_LOST_AND_FOUND, const_cast<char*>(kLost));
    (void)sqlite3_recover_run(recover);
    int recovered = sqlite3_recover_errcode(recover);
    const char* said = sqlite3_recover_errmsg(recover);
    const std::string message = said ? said : sqlite3_errstr(recovered);
    // The extension gives the primary code; the kept file's own connection knows whether a read of
    // it failed.
    const int keptFailure = sqlite3_extended_errcode(kept);
    if (recovered != SQLITE_OK && (keptFailure == SQLITE_IOERR_READ || keptFailure == SQLITE_IOERR_SHORT_READ)) {
        recovered = keptFailure;
    }
    (void)sqlite3_recover_finish(recover);
    sqlite3_close(kept);
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
    if (rc == SQLITE_OK) rc = sqlite3_exec(work, "PRAGMA journal_mode=MEMORY", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_dbdata_init(work, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const int code = work ? sqlite3_extended_errcode(work) : rc;
        sqlite3_close(work);
        return failWith(Failure::WorkingCopy, code, sqlite3_errstr(code));
    }
    const auto tables = storeTables(store);
    if (!tables) {
        const int code = sqlite3_extended_errcode(store);
        sqlite3_close(work);
        return failWith(Failure::WorkingCopy, code, sqlite3_errmsg(store));
    }
    sqlite3* reader = nullptr;
    if (!nothingReadable && sqlite3_open_v2(SQLiteKeptFileURI(keptPath, failedReadsAreDamage).c_str(), &reader,
                                            SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW,
                                            SQLiteFileIOVFSName()) != SQLITE_OK) {
        sqlite3_close(reader);
        reader = nullptr;
    }
    Placement placement(work, reader, *tables);
    // The kept file's pages, for what the extension leaves to us; a file whose schema does not read
    // is placed by the store's own.
    sqlite3_stmt* attach = nullptr;
    bool attached = false;
    if (!nothingReadable && sqlite3_prepare_v2(work, "ATTACH ?1 AS kept", -1, &attach, nullptr) == SQLITE_OK) {
        const std::string uri = SQLiteKeptFileURI(keptPath, failedReadsAreDamage);
        sqlite3_bind_text(attach, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
        attached = sqlite3_step(attach) == SQLITE_DONE;
    }
    sqlite3_finalize(attach);
    if (attached) (void)placement.readKeptSchema();
    // One transaction: a statement of its own would lock and look for journals every time.
    bool placed = sqlite3_exec(work, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
                  (!attached || placement.takeSharedPages()) && placement.takeUnfitRows(outcome) &&
                  (!attached || placement.dropBrokenLongValues(outcome)) &&
                  placement.placeLostRows(outcome) && placement.count(outcome);
    placement.finish();
    int failure = placed ? SQLITE_OK : placement.failure();
    if (placed && sqlite3_exec(work, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        placed = false;
        failure = sqlite3_extended_errcode(work);
    }
    const std::string failureMessage = placed ? std::string() : sqlite3_errmsg(work);
    if (attached) (void)sqlite3_exec(work, "DETACH kept", nullptr, nullptr, nullptr);
    sqlite3_close(reader);
    sqlite3_close(work);
    if (!placed) {
        return failWith(isTheDisk(failure) ? Failure::WorkingCopy : Failure::KeptFile, failure, failureMessage);
    }
    if (nothingReadable) outcome.detail = "nothing readable (" + message + ")";
    return Failure::None;
}
