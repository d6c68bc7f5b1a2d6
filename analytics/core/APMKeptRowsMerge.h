// How the kept rows of each table join the store's own, in the carry's one transaction, with the
// working copy (APMKeptFileReader) attached as "kept". The owner of the tables gives a rule where
// the default does not do. By default a table with a key (a primary key, a unique index) keeps the
// store's row where both have the key, a row of the same key being the same row; any other table
// takes the kept rows before its own, as they were written before: the kept rows keep their
// rowids, the store's own take new ones after them, in their order. A table the owner bounds keeps
// within its bounds: the store's own rows first, then the kept ones in their order, as far as they
// fit; the rest of the kept rows are left out (and counted), before the table's rule runs.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct sqlite3;

// At most `rows` rows of a table among those that `where` picks (an SQL condition on the table's
// columns; all when empty), a row known by its `key` column: a kept row whose key the store has is
// the same row, and never left out.
struct APMKeptRowsLimit {
    std::string key;
    std::int64_t rows = 0;
    std::string where;
};

struct APMKeptRowsRules {
    // Table name -> the SQL run for it, in order, in place of the default.
    std::map<std::string, std::vector<std::string>> statements;
    // Table name -> its bounds, the narrower ones first.
    std::map<std::string, std::vector<APMKeptRowsLimit>> limits;
};

class APMKeptRowsMerge {
public:
    // Every table the store and the working copy both have, by its rule; `leftOut` holds the
    // kept rows each bounded table left out (only those that left any). False with SQLite's
    // extended code in `failure`: the caller rolls the transaction back.
    [[nodiscard]] static bool merge(sqlite3* store, const APMKeptRowsRules& rules,
                                    std::map<std::string, std::int64_t>& leftOut, int& failure);
};
