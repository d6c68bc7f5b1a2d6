// SQLite over the file-system seam: rows committed in either journal mode survive a reopen; a
// commit that meets a full or failing disk fails and leaves every earlier row in place; two
// connections of one process lock each other out, and lock out SQLite's own unix layer; a
// failed look for a journal, or a failed read, is an error rather than an empty answer; a FIFO
// by a database's name is never opened; a journal or log is never written through a link, nor a
// database whose opener forbids links through a link in its own place, while a linked folder
// above it is followed; a commit that returned with its syncs outlasts a power cut.
#include "platform/sqlite/SQLiteVFS.h"

#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/Fifo.h"
#include "tests/fixtures/PowerCutFileIO.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Operation = FaultyFileIO::Operation;

// One connection: through the seam, or through SQLite's default layer when `vfs` is null.
class Connection {
public:
    explicit Connection(const std::string& path, const char* vfs = SQLiteFileIOVFSName(), int moreFlags = 0) {
        rc_ = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | moreFlags, vfs);
    }
    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int openResult() const { return rc_; }
    int close() {
        const int rc = db_ ? sqlite3_close(db_) : SQLITE_OK;
        db_ = nullptr;
        return rc;
    }
    // The extended result code.
    int exec(const std::string& sql) {
        const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
        return rc == SQLITE_OK ? rc : sqlite3_extended_errcode(db_);
    }
    // The first column of every row; empty on failure, with the code in `rc`.
    std::vector<std::string> column(const std::string& sql, int* rc = nullptr) {
        std::vector<std::string> values;
        const int result = sqlite3_exec(
            db_, sql.c_str(),
            [](void* out, int, char** row, char**) {
                static_cast<std::vector<std::string>*>(out)->push_back(row[0] ? row[0] : "NULL");
                return 0;
            },
            &values, nullptr);
        if (rc) *rc = result == SQLITE_OK ? result : sqlite3_extended_errcode(db_);
        return result == SQLITE_OK ? values : std::vector<std::string>{};
    }
    bool inTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

private:
    sqlite3* db_ = nullptr;
    int rc_ = SQLITE_ERROR;
};

class SQLiteVFSTest : public testing::Test {
protected:
    std::string path_ = Sandbox::tmp() + "/rows.sqlite";

    // Three committed rows, one transaction each, in `mode`.
    static void committedRows(Connection& db, const std::string& mode) {
        ASSERT_EQ(db.column("PRAGMA journal_mode=" + mode), std::vector<std::string>{mode});
        ASSERT_EQ(db.exec("CREATE TABLE t(n INTEGER PRIMARY KEY, body BLOB)"), SQLITE_OK);
        for (int n = 1; n <= 3; ++n)
            ASSERT_EQ(db.exec("INSERT INTO t VALUES(" + std::to_string(n) + ", zeroblob(9000))"), SQLITE_OK);
    }
    std::vector<std::string> rowsAfterReopen() {
        Connection db(path_);
        EXPECT_EQ(db.openResult(), SQLITE_OK);
        EXPECT_EQ(db.column("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
        return db.column("SELECT n FROM t ORDER BY n");
    }
};

const std::vector<std::string> kThree = {"1", "2", "3"};

}  // namespace

TEST_F(SQLiteVFSTest, RowsCommittedInEitherJournalModeSurviveAReopenAndReachTheUnixLayer) {
    for (const std::string mode : {"delete", "wal"}) {
        SCOPED_TRACE(mode);
        std::filesystem::remove(path_);
        {
            Connection db(path_);
            ASSERT_EQ(db.openResult(), SQLITE_OK);
            committedRows(db, mode);
            EXPECT_EQ(std::filesystem::exists(path_ + "-wal"), mode == "wal");
            EXPECT_EQ(std::filesystem::exists(path_ + "-shm"), mode == "wal");
            // A connection on SQLite's own layer shares the log's memory and sees every row.
            Connection plain(path_, nullptr);
            EXPECT_EQ(plain.column("SELECT n FROM t ORDER BY n"), kThree);
            ASSERT_EQ(db.exec("INSERT INTO t VALUES(4, NULL)"), SQLITE_OK);
            EXPECT_EQ(plain.column("SELECT count(*) FROM t"), std::vector<std::string>{"4"});
            EXPECT_EQ(plain.close(), SQLITE_OK);
            EXPECT_EQ(db.close(), SQLITE_OK);
        }
        // The last connection folds the log into the database and removes it.
        EXPECT_FALSE(std::filesystem::exists(path_ + "-wal"));
        EXPECT_FALSE(std::filesystem::exists(path_ + "-journal"));
        EXPECT_EQ(rowsAfterReopen(), (std::vector<std::string>{"1", "2", "3", "4"}));
    }
}

TEST_F(SQLiteVFSTest, ATransactionThatMeetsAFullOrFailingDiskFailsAndKeepsEveryEarlierRow) {
    struct Case {
        const char* mode;
        const char* synchronous;
        const char* file;  // suffix of the database's path
        Operation operation;
        int err;
        int primary;
    } cases[] = {
        {"delete", "full", "-journal", Operation::Write, ENOSPC, SQLITE_FULL},
        {"delete", "full", "-journal", Operation::Sync, EIO, SQLITE_IOERR},
        {"delete", "full", "", Operation::Write, ENOSPC, SQLITE_FULL},
        {"delete", "full", "", Operation::Write, EIO, SQLITE_IOERR},
        {"delete", "full", "", Operation::Sync, EIO, SQLITE_IOERR},
        {"delete", "full", "-journal", Operation::Remove, EIO, SQLITE_IOERR},
        {"wal", "normal", "-wal", Operation::Write, ENOSPC, SQLITE_FULL},
        {"wal", "normal", "-wal", Operation::Write, EIO, SQLITE_IOERR},
        {"wal", "full", "-wal", Operation::Sync, EIO, SQLITE_IOERR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.file + " " + std::to_string(static_cast<int>(c.operation)) + " " +
                     std::to_string(c.err));
        for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
        {
            FaultInjection io;
            Connection db(path_);
            ASSERT_EQ(db.openResult(), SQLITE_OK);
            committedRows(db, c.mode);
            ASSERT_EQ(db.exec(std::string("PRAGMA synchronous=") + c.synchronous), SQLITE_OK);
            io->inject(c.operation, path_ + c.file, c.err);
            // The rollback journal takes each page's old content as the page first changes: its
            // write fails before the commit does.
            int rc = SQLITE_OK;
            for (const char* sql : {"BEGIN", "INSERT INTO t VALUES(4, zeroblob(9000))",
                                    "UPDATE t SET body = zeroblob(100) WHERE n = 1", "COMMIT"}) {
                if ((rc = db.exec(sql)) != SQLITE_OK) break;
            }
            EXPECT_EQ(rc & 0xff, c.primary) << rc;
            EXPECT_GT(io->injected(), 0);
            // The disk still fails: whatever the connection tries to put back fails too, and the
            // next opening has to mend it.
            if (db.inTransaction()) (void)db.exec("ROLLBACK");
            (void)db.close();
        }
        // A failed flush leaves it open whether the log's frames reached the disk (the log
        // may still hold the whole transaction): all of it or none, never a part.
        const auto rows = rowsAfterReopen();
        const auto firstBody = Connection(path_).column("SELECT length(body) FROM t WHERE n = 1");
        if (c.operation == Operation::Sync && rows.size() == 4) {
            EXPECT_EQ(firstBody, std::vector<std::string>{"100"});
        } else {
            EXPECT_EQ(rows, kThree);
            EXPECT_EQ(firstBody, std::vector<std::string>{"9000"});
        }
    }
}

// A new journal or log is named in its folder by its first sync, which names a new database
// beside it too: a commit that returned with every sync is in what a power cut leaves. A rollback
// journal whose removal was not synced comes back and undoes the last commit, as a log never
// synced at a commit loses it.
TEST_F(SQLiteVFSTest, ACommitThatReturnedWithItsSyncsOutlastsAPowerCut) {
    struct Case {
        const char* mode;
        const char* synchronous;
        std::vector<std::string> rows;
    } cases[] = {{"delete", "extra", kThree},
                 {"delete", "full", {"1", "2"}},
                 {"wal", "full", kThree},
                 {"wal", "normal", {}}};
    int image = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.synchronous);
        const std::string folder = Sandbox::tmp() + "/cut" + std::to_string(++image);
        std::filesystem::create_directories(folder);
        PowerCutRecording recording(folder);
        Connection db(folder + "/rows.sqlite");
        ASSERT_EQ(db.exec(std::string("PRAGMA synchronous=") + c.synchronous), SQLITE_OK);
        committedRows(db, c.mode);
        ASSERT_EQ(recording->writeImage(folder + ".image"), 0);

        Connection cut(folder + ".image/rows.sqlite", nullptr);
        EXPECT_EQ(cut.column("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
        EXPECT_EQ(cut.column("SELECT n FROM t ORDER BY n"), c.rows);
    }
}

TEST_F(SQLiteVFSTest, TwoConnectionsOfOneProcessLockEachOtherOutAndTheUnixLayerToo) {
    Connection first(path_);
    committedRows(first, "delete");
    Connection second(path_);
    Connection plain(path_, nullptr);

    // One writer at a time, whichever layer it is on.
    ASSERT_EQ(first.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    EXPECT_EQ(second.exec("BEGIN IMMEDIATE"), SQLITE_BUSY);
    EXPECT_EQ(plain.exec("BEGIN IMMEDIATE"), SQLITE_BUSY);
    ASSERT_EQ(first.exec("INSERT INTO t VALUES(4, NULL)"), SQLITE_OK);
    // A reader holds off the commit that would change what it reads.
    ASSERT_EQ(second.exec("BEGIN"), SQLITE_OK);
    EXPECT_EQ(second.column("SELECT count(*) FROM t"), std::vector<std::string>{"3"});
    EXPECT_EQ(first.exec("COMMIT"), SQLITE_BUSY);
    ASSERT_EQ(second.exec("COMMIT"), SQLITE_OK);
    ASSERT_EQ(first.exec("COMMIT"), SQLITE_OK);
    EXPECT_EQ(plain.column("SELECT count(*) FROM t"), std::vector<std::string>{"4"});

    ASSERT_EQ(plain.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    EXPECT_EQ(first.exec("BEGIN IMMEDIATE"), SQLITE_BUSY);
    ASSERT_EQ(plain.exec("ROLLBACK"), SQLITE_OK);
    ASSERT_EQ(first.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    ASSERT_EQ(first.exec("ROLLBACK"), SQLITE_OK);
}

TEST_F(SQLiteVFSTest, AFailedLookOrReadIsAnErrorNotAnEmptyAnswer) {
    {
        Connection db(path_);
        committedRows(db, "delete");
    }
    FaultInjection io;
    Connection db(path_);
    ASSERT_EQ(db.openResult(), SQLITE_OK);
    // Whether a journal is left over decides whether the database is whole.
    io->ioError(Operation::Status, path_ + "-journal");
    int rc = SQLITE_OK;
    EXPECT_TRUE(db.column("SELECT n FROM t", &rc).empty());
    EXPECT_EQ(rc, SQLITE_IOERR_ACCESS);
    io->clear();
    EXPECT_EQ(db.column("SELECT n FROM t ORDER BY n"), kThree);

    Connection fresh(path_);
    io->ioError(Operation::Read, path_);
    EXPECT_TRUE(fresh.column("SELECT n FROM t", &rc).empty());
    EXPECT_EQ(rc & 0xff, SQLITE_IOERR) << rc;
    io->clear();
    EXPECT_EQ(fresh.column("SELECT n FROM t ORDER BY n"), kThree);
}

// A FIFO where a database belongs (a home left so) is no database: it does not open, for reading
// and writing or for reading alone, and nothing waits for its other end.
TEST_F(SQLiteVFSTest, AFifoByADatabasesNameDoesNotOpen) {
    ASSERT_TRUE(Fifo::make(path_));
    for (const int flags : {SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, SQLITE_OPEN_READONLY}) {
        SCOPED_TRACE(flags);
        sqlite3* db = nullptr;
        int rc = SQLITE_OK;
        ASSERT_TRUE(Fifo::endsPromptly(path_, [&] { rc = sqlite3_open_v2(path_.c_str(), &db, flags, SQLiteFileIOVFSName()); }));
        EXPECT_EQ(rc, SQLITE_CANTOPEN);
        sqlite3_close(db);
    }
}

// A link where SQLite keeps a database's journal, log or shared memory, leading to a person's
// file or nowhere, is never written through: what it leads to keeps its bytes, nothing is made
// there, and the write that needed it fails.
TEST_F(SQLiteVFSTest, AJournalOrLogThatIsALinkIsNeverWrittenThrough) {
    const std::string elsewhere = Sandbox::tmp() + "/elsewhere";
    std::filesystem::create_directories(elsewhere);
    const std::string text(74000, 't');
    const struct {
        const char* mode;
        const char* sidecar;
    } cases[] = {{"delete", "-journal"}, {"wal", "-wal"}, {"wal", "-shm"}};
    for (const auto& c : cases) {
        for (const bool leadsNowhere : {false, true}) {
            SCOPED_TRACE(std::string(c.mode) + " " + c.sidecar + (leadsNowhere ? " to nothing" : " to a file"));
            for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(path_ + suffix);
            std::filesystem::remove(elsewhere + "/notes.txt");
            {
                Connection db(path_);
                committedRows(db, c.mode);
            }
            std::ofstream(elsewhere + "/notes.txt") << text;
            const std::string target = elsewhere + (leadsNowhere ? "/missing" : "/notes.txt");
            std::filesystem::create_symlink(target, path_ + c.sidecar);
            {
                Connection db(path_);
                int rc = db.openResult();
                if (rc == SQLITE_OK) rc = db.exec("INSERT INTO t VALUES(4, zeroblob(9000))");
                EXPECT_NE(rc, SQLITE_OK);
            }
            std::ifstream kept(elsewhere + "/notes.txt");
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), std::istreambuf_iterator<char>()), text);
            EXPECT_FALSE(std::filesystem::exists(elsewhere + "/missing"));
            EXPECT_TRUE(std::filesystem::is_symlink(path_ + c.sidecar));
            std::filesystem::remove(path_ + c.sidecar);
            // Without the link the rows are all there.
            EXPECT_EQ(rowsAfterReopen(), kThree);
        }
    }
}

// An opener that forbids links (SQLITE_OPEN_NOFOLLOW) is refused a link in the database's own
// place, leading to a database or nowhere, and nothing is made or changed where it leads; a
// folder above it that is a link (a home kept elsewhere) is followed. Other openers still open
// through a link.
TEST_F(SQLiteVFSTest, AnOpenerThatForbidsLinksIsRefusedOneInTheFilesPlaceButNotAbove) {
    const std::string real = Sandbox::tmp() + "/real";
    const std::string linked = Sandbox::tmp() + "/linked";
    std::filesystem::create_directories(real);
    std::filesystem::create_directory_symlink(real, linked);
    {
        Connection db(linked + "/rows.sqlite", SQLiteFileIOVFSName(), SQLITE_OPEN_NOFOLLOW);
        ASSERT_EQ(db.openResult(), SQLITE_OK);
        committedRows(db, "wal");
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(real + "/rows.sqlite"));
    const auto before = std::filesystem::file_size(real + "/rows.sqlite");

    for (const std::string& target : {real + "/rows.sqlite", real + "/missing.sqlite"}) {
        SCOPED_TRACE(target);
        std::filesystem::remove(path_);
        std::filesystem::create_symlink(target, path_);
        Connection db(path_, SQLiteFileIOVFSName(), SQLITE_OPEN_NOFOLLOW);
        EXPECT_EQ(db.openResult() & 0xff, SQLITE_CANTOPEN);
    }
    EXPECT_EQ(std::filesystem::file_size(real + "/rows.sqlite"), before);
    for (const char* suffix : {"", "-journal", "-wal", "-shm"})
        EXPECT_FALSE(std::filesystem::exists(real + "/missing.sqlite" + suffix)) << suffix;

    std::filesystem::remove(path_);
    std::filesystem::create_symlink(real + "/rows.sqlite", path_);
    Connection db(path_);
    ASSERT_EQ(db.openResult(), SQLITE_OK);
    EXPECT_EQ(db.column("SELECT n FROM t ORDER BY n"), kThree);
}
