// How the kept rows of each table join the store's own, in the carry's one transaction, with the
// working copy (APMKeptFileReader) attached as "kept". The owner of the tables gives a rule where
// the default does not do. By default a table with a key (a primary key, a unique index) keeps the
// store's row where both have the key, a row of the same key being the same row; any other table
// takes the kept rows before its own, as they were written before: the kept rows keep their
// rowids, the store's own take new ones after them, in their order.
#pragma once

#include <map>
#include <string>
#include <vector>

struct sqlite3;

// Table name -> the SQL run for it, in order, in place of the default.
using APMKeptRowsRules = std::map<std::string, std::vector<std::string>>;

class APMKeptRowsMerge {
public:
    // Every table the store and the working copy both have, by its rule. False with SQLite's
    // extended code in `failure`: the caller rolls the transaction back.
    [[nodiscard]] static bool merge(sqlite3* store, const APMKeptRowsRules& rules, int& failure);
};
