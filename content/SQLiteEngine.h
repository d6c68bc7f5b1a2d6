// One connection to a content database in Documents (copied there from the bundle on first
// use) with its single current statement; rows come back as dictionaries of strings.
#pragma once

#include "content/ContentError.h"
#include "platform/dispatch/SequenceChecker.h"
#include "platform/foundation/Value.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class FileSystem;
struct sqlite3;
struct sqlite3_stmt;

class SQLiteEngine : public NSObject {
public:
    // A table and the columns of it that a database's statements name.
    struct ExpectedTable {
        std::string name;
        std::vector<std::string> columns;
    };

    // Opens Documents/<fileName>, copying the bundle resource of that name there first when
    // Documents has none. Empty when neither exists or the name is not a plain relative path,
    // and when the file cannot be read as a database holding the `expected` tables and columns
    // (not a database, damaged, empty or of another schema), whose every statement would fail:
    // the file is only read, never repaired or replaced. A file refused for the same reason
    // again is logged once, not at every connection made to it. A file whose pages a statement
    // of any connection found damaged is refused from then on, for the rest of the process.
    [[nodiscard]] static std::shared_ptr<SQLiteEngine> init(const std::string& fileName, const FileSystem& fileSystem,
                                                            const std::vector<ExpectedTable>& expected = {});
    // Opens a database file at a path as it is, creating it when asked (tools that build databases).
    [[nodiscard]] static std::shared_ptr<SQLiteEngine> initWithPath(const std::string& path, bool create = false);
    // How many files the process has refused and told of or found damaged, and forgetting them,
    // as a new process would start (tests).
    static std::size_t refusedFileCount();
    static void forgetRefusals();
    ~SQLiteEngine() override;

    // How long a statement waits for another connection's lock before it fails with
    // OEContentErrorBusy; 5 seconds unless set.
    std::chrono::milliseconds busyTimeout() const { return busyTimeout_; }
    void setBusyTimeout(std::chrono::milliseconds timeout);

    // An engine and its current statement live on one sequence (queue or thread): the first one
    // that uses it after it was made or handed over; a use from elsewhere is a programming error
    // that aborts in checked builds. Nothing is locked: a thread of its own opens its own engine.
    // Handing the engine to another sequence: the next use binds it there.
    void detachFromSequence() { sequence_.detach(); }

    // Posted on the default centre each time a statement meets damaged pages, on the thread that
    // ran it, with the damaged file's path under kDamagedFilePathKey: whatever shows rows of that
    // file learns at once that they may be incomplete. Observers must not use the connection.
    static constexpr const char* kDamagedPagesMessage = "ContentDatabaseDamagedMessage";
    static constexpr const char* kDamagedFilePathKey = "path";

    // Failures below are logged, except a constraint's refusal, which is an expected answer (a
    // favourite added twice), and fill `error` when given: OEContentErrorStatement,
    // OEContentErrorBusy or OEContentErrorConstraint, with SQLite's message. A statement that
    // meets damaged pages (SQLITE_CORRUPT, SQLITE_NOTADB) marks the file damaged instead, which
    // is logged once per file, as its refusal is, and reported as OEContentErrorDamaged with
    // that refusal; with other files attached, the file marked is the one whose pages SQLite's
    // quick check finds damaged, whichever that is.

    // Whether a statement of any connection to this file met damaged pages: what was read may
    // lack rows, and the file will not open again.
    bool isDamaged() const;

    // Whether every page of the database under `schema` ("main": this connection's own file, or
    // an attached one's name) reads well, by SQLite's quick check, which reads the whole file.
    // A file found damaged, or marked so already, answers false with OEContentErrorDamaged and a
    // sentence naming it in `error`, for the caller to tell. Damage found only here leaves the file
    // unmarked: it may lie where no statement reads, and a statement that meets it marks it then.
    // Other failures (busy, not attached) are logged and reported as a statement's are.
    [[nodiscard]] bool readsEveryPage(const std::string& schema, NSErrorPtr* error = nullptr);

    // Finalizes the current statement and prepares `sql`, binding `parameters` (1-based, in
    // order: strings, integers, doubles, data, null) when given. False leaves no statement.
    [[nodiscard]] bool prepareRequest(const std::string& sql, const Value::Array& parameters = {},
                                      NSErrorPtr* error = nullptr);
    // endRequest, prepareRequest, one step: true when the step gave a row or finished.
    [[nodiscard]] bool execRequest(const std::string& sql, const Value::Array& parameters = {},
                                   NSErrorPtr* error = nullptr);
    // The SQLite result of one step; 1 (SQLITE_ERROR) without a statement.
    [[nodiscard]] int step(NSErrorPtr* error = nullptr);
    // True with a row; false at the end and on a failure (which fills `error`).
    [[nodiscard]] bool nextRow(NSErrorPtr* error = nullptr);
    void endRequest();

    // The columns of the current statement's rows; 0 without a statement.
    int columnCount() const;
    std::int32_t getInt(int column) const;
    std::int64_t getInt64(int column) const;
    // "" for NULL; nothing without a current statement.
    [[nodiscard]] std::optional<std::string> getString(int column) const;
    double getDouble(int column) const;
    // Column name → text of the current row (NULL as ""); a later same-named column wins.
    Value::Dictionary dataFromRow() const;

    // "select max(column) from table"; 0 when no row or an identifier is not plain.
    [[nodiscard]] std::int64_t maxIdxForTable(const std::string& table, const std::string& column);
    // Binds to the current statement (1-based); false without a statement or on a bad index.
    [[nodiscard]] bool bindString(const std::string& value, int index);
    [[nodiscard]] bool bindValue(const Value& value, int index);

    // The whole result of one query in a statement of its own; what was read
    // before a failure (logged; `error` filled when given).
    [[nodiscard]] std::vector<Value::Dictionary> rowsForRequest(const std::string& sql,
                                                                const Value::Array& parameters = {},
                                                                NSErrorPtr* error = nullptr);
    // Runs the statements in one transaction; rolls back and answers false when one fails.
    [[nodiscard]] bool runInTransaction(const std::vector<std::string>& statements, NSErrorPtr* error = nullptr);
    // Attaches the database file at `path` under `schema`. A refusal (no database there, a folder,
    // busy) is not logged: the caller tells it, with what it attached the file for. `error` gets
    // OEContentErrorBusy or OEContentErrorStatement with SQLite's words.
    [[nodiscard]] bool attachDatabase(const std::string& path, const std::string& schema, NSErrorPtr* error = nullptr);
    // Detaches the database attached under `schema`. When SQLite refuses (a transaction left open
    // holds it), the failure is logged and reported as OEContentErrorDetach, the open transaction
    // is rolled back and the detach tried once more, so nothing stays attached unseen; the error
    // says whether the database is still attached.
    [[nodiscard]] bool detachDatabase(const std::string& schema, NSErrorPtr* error = nullptr);

    // Schema questions asked to build statements that do not name absent columns; a failure
    // reads as "no such table" and no columns.
    [[nodiscard]] bool tableExists(const std::string& table);
    [[nodiscard]] std::set<std::string> columnsOfTable(const std::string& table);

    // The path of the open file, and SQLite's last error text.
    const std::string& path() const { return path_; }
    std::string lastErrorMessage() const;

private:
    explicit SQLiteEngine(std::string path);
    bool open(bool create);
    // Whether the schema names every expected table and column; logs why not.
    bool holds(const std::vector<ExpectedTable>& expected);
    void finalizeStatement();
    // Whether `schema` names an attached database.
    bool isAttached(const std::string& schema);
    // Logs SQLite's refusal of `sql` (unless it is a constraint's) and fills `error`.
    void reportFailure(const std::string& what, const std::string& sql, int rc, NSErrorPtr* error) const;
    // SQLite's answer to the quick check of `schema`: "ok", what it found wrong, or its failure
    // to run (with its code in `rc`).
    std::string quickCheck(const std::string& schema, int& rc) const;
    // The path of the file attached under `schema` ("main": path()); empty when none is.
    std::string fileOf(const std::string& schema) const;

    SequenceChecker sequence_{"SQLiteEngine"};
    std::chrono::milliseconds busyTimeout_{5000};
    std::string path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* dbps_ = nullptr;
    std::map<std::string, std::set<std::string>> columnCache_;
};
