// The pages of a kept file as its salvage reads them, every read counted against a budget. SQLite's
// recovery extension and our placement both read through this view, never the kept file's own
// schema or b-tree code:
// - its first page holds a schema of our own: each store table the kept schema names, declared as
//   the store declares it, at its kept root; every other kept root as an index of no SQL, so that
//   its pages count as used. The kept roots come from the kept schema's records decoded here; its
//   views, triggers and virtual tables (no root) are never read as anything but bytes;
// - a cell whose value goes on in overflow pages is shown only when its chain is its own: exactly
//   the pages its length needs, each a page of the file that is no b-tree page, no free page and
//   no page of another chain. Both cells of a shared page are unreadable;
// - a page of the free list, of the kept schema's tree, or a b-tree interior page no tree reaches
//   reads as a page of nothing: the recovery makes no rows of them, and finds the top of a lost
//   subtree here (topOf) rather than by walking up its parents.
// So every pass over the view costs at most one visit per page, whatever the file holds.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class DispatchCancellation;
struct sqlite3;

class APMKeptPages {
public:
    // A store table as the view's schema declares it.
    struct Declared {
        std::string name;
        std::string createSQL;
    };
    // Of the kept schema: a root and what it is the root of.
    struct KeptIndex {
        std::string name;
        std::int64_t root = 0;
    };

    // Once `cancellation` (when given) is cancelled, every read fails (cancelled()).
    APMKeptPages(std::string keptPath, std::vector<Declared> tables, const DispatchCancellation* cancellation = nullptr);
    ~APMKeptPages();
    APMKeptPages(const APMKeptPages&) = delete;
    APMKeptPages& operator=(const APMKeptPages&) = delete;

    // The page table the recovery reads every page through ("sqlite_dbpage"), on its input
    // connection `input`, serving this view. The first page read there surveys the file, with the
    // page size and count `input` found for it.
    [[nodiscard]] int serveRecovery(sqlite3* input);
    // On `db`: getpage(n), as the recovery's own (0 the pages of the file, else page n of this view,
    // its usable bytes), for sqlite_dbdata('getpage()'); and keptTop(n), topOf.
    [[nodiscard]] int serveSQL(sqlite3* db);

    // Reads allowed from now on: `perPage` for each page of the file, and `beyond` more. Once they
    // are spent every read fails. The view's own schema costs none.
    void allow(std::int64_t perPage, std::int64_t beyond);
    bool spent() const { return spent_; }
    // Whether the store tables' trees alone would cost more than half the reads allowed: the file
    // is not read (every read is spent).
    bool treesTooCostly() const { return treesTooCostly_; }
    // Whether a read failed as the cancellation was cancelled: a read failure (SQLITE_INTERRUPT)
    // that says nothing of the file.
    bool cancelled() const { return cancelled_; }
    // The code of a read of the kept file that failed (not the budget), SQLITE_OK when none did.
    int readFailure() const { return readFailure_; }
    const std::string& readFailureMessage() const { return readFailureMessage_; }

    bool surveyed() const { return surveyed_; }
    // The pages of the file.
    std::int64_t pageCount() const { return pages_; }
    // Whether the kept schema named a table.
    bool schemaRead() const { return schemaRead_; }
    // The kept root of each store table the kept schema names.
    const std::map<std::string, std::int64_t>& storeRoots() const { return storeRoots_; }
    // The kept indexes of each table (by the kept schema's table names).
    const std::map<std::string, std::vector<KeptIndex>>& keptIndexes() const { return keptIndexes_; }
    // Every kept root (tables, indexes, other tables), and whether it is a table's.
    const std::map<std::int64_t, bool>& keptRoots() const { return keptRoots_; }

    // The pages a walk from `root` reaches in this view, `root` first, not going below `excluded`.
    std::vector<std::int64_t> reach(std::int64_t root, const std::set<std::int64_t>& excluded = {}) const;
    // The children page `number` names in this view.
    std::vector<std::int64_t> childrenOf(std::int64_t number) const;
    // Whether every cell of page `number` is shown.
    bool complete(std::int64_t number) const;
    // The b-tree type of page `number` in this view (0x0d a table leaf, 0x05 a table interior page,
    // 0x0a and 0x02 an index's), 0 for any other.
    int typeOf(std::int64_t number) const;
    // A page no tree reaches: the top of the subtree it is in (itself when none is above it).
    std::int64_t topOf(std::int64_t page) const;
    // Table leaves no tree reaches, with their cells shown.
    std::int64_t lostRows() const { return lostRows_; }
    // Rows whose values do not read: per store table, and on pages no tree reaches.
    const std::map<std::string, std::int64_t>& unreadableByTable() const { return unreadableByTable_; }
    std::int64_t unreadableLost() const { return unreadableLost_; }

    // Page `number` of this view (counted), empty when there is none; false when the read failed.
    [[nodiscard]] bool page(std::int64_t number, std::vector<std::uint8_t>& bytes);
    // Its usable bytes (the page less its reserve).
    int usableSize() const { return usable_; }

private:
    struct Survey;
    class Connection;
    struct PageTable;
    bool page(std::int64_t number, std::vector<std::uint8_t>& bytes, sqlite3* input, int& failure);
    bool take();
    int prepare(sqlite3* input);
    int survey();
    void schemaPages();
    void count();
    bool blank(std::int64_t number) const;
    bool raw(std::int64_t number, std::vector<std::uint8_t>& bytes);
    void failRead(int code, const std::string& message);

    const std::string keptPath_;
    const std::vector<Declared> tables_;
    const DispatchCancellation* const cancellation_;
    bool cancelled_ = false;
    std::unique_ptr<Connection> connection_;
    std::unique_ptr<Survey> survey_;
    std::int64_t start_ = 0;
    std::int64_t perPage_ = 0;
    std::int64_t beyond_ = 0;
    std::int64_t reads_ = 0;
    bool spent_ = false;
    bool treesTooCostly_ = false;
    std::int64_t treeReads_ = 0;
    int readFailure_ = 0;
    std::string readFailureMessage_;
    bool surveyed_ = false;
    int surveyFailure_ = 0;
    int pageSize_ = 0;
    int usable_ = 0;
    std::int64_t pages_ = 0;
    bool schemaRead_ = false;
    std::map<std::string, std::int64_t> storeRoots_;
    std::map<std::string, std::vector<KeptIndex>> keptIndexes_;
    std::map<std::int64_t, bool> keptRoots_;
    std::int64_t lostRows_ = 0;
    std::map<std::string, std::int64_t> unreadableByTable_;
    std::int64_t unreadableLost_ = 0;
    // The view's own schema: its first page and the pages after the file's last.
    std::vector<std::uint8_t> firstPage_;
    std::vector<std::vector<std::uint8_t>> schemaPages_;
};
