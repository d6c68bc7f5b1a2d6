// The SQLite access layer over real files: first-use copy (of the bytes, even behind a link),
// rows, bound values, bad databases, pages found damaged and one engine shared by threads.
#include "content/SQLiteEngine.h"
#include "content/List_DataSource.h"
#include "config/FileSystem.h"
#include "config/OEConfig.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "tests/content/ContentFixture.h"
#include "tests/fixtures/DamagedPages.h"
#include "tests/fixtures/FaultyFileIO.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

using testing::HasSubstr;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class SQLiteEngineTest : public ContentFixture {};

TEST_F(SQLiteEngineTest, FirstUseCopiesFromTheBundleOnceAndMarksTheCopy) {
    makeDatabase(bundle() + "/first.sqlite", {"create table t (a text)", "insert into t values ('bundle')"});
    auto engine = SQLiteEngine::init("first.sqlite", files());
    ASSERT_TRUE(engine);
    EXPECT_EQ(engine->path(), documents() + "/first.sqlite");
    EXPECT_TRUE(exists(documents() + "/first.sqlite"));
    EXPECT_TRUE(NSFileManager::defaultManager()->isExcludedFromBackup(documents() + "/first.sqlite"));
    ASSERT_TRUE(engine->execRequest("insert into t values ('documents')"));
    engine.reset();

    // A changed bundle file does not replace the copy in Documents.
    makeDatabase(bundle() + "/first.sqlite", {"create table t (a text)", "insert into t values ('new bundle')"});
    auto again = SQLiteEngine::init("first.sqlite", files());
    ASSERT_TRUE(again);
    const auto rows = again->rowsForRequest("select a from t order by rowid");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].get("a").string(), "bundle");
    EXPECT_EQ(rows[1].get("a").string(), "documents");
}

TEST_F(SQLiteEngineTest, ABundleDatabaseThatIsALinkIsCopiedAsBytesAndNeverWrittenThrough) {
    const std::string original = bundle() + "/elsewhere/images-original.sqlite";
    std::filesystem::create_directories(bundle() + "/elsewhere");
    makeDatabase(original, {"create table t (a text)", "insert into t values ('bundle')"});
    std::filesystem::create_symlink(original, bundle() + "/images.sqlite");
    const auto before = std::filesystem::last_write_time(original);
    const auto size = std::filesystem::file_size(original);

    auto engine = SQLiteEngine::init("images.sqlite", files());
    ASSERT_TRUE(engine);
    EXPECT_FALSE(std::filesystem::is_symlink(documents() + "/images.sqlite"));
    EXPECT_TRUE(std::filesystem::is_regular_file(documents() + "/images.sqlite"));
    ASSERT_TRUE(engine->execRequest("insert into t values ('documents')"));
    engine.reset();

    // The bundle's file is as it was; its rows are the bundle's alone.
    EXPECT_EQ(std::filesystem::last_write_time(original), before);
    EXPECT_EQ(std::filesystem::file_size(original), size);
    auto bundled = SQLiteEngine::initWithPath(original, false);
    ASSERT_TRUE(bundled);
    EXPECT_EQ(bundled->rowsForRequest("select a from t").size(), 1u);
    auto copied = SQLiteEngine::init("images.sqlite", files());
    ASSERT_TRUE(copied);
    EXPECT_EQ(copied->rowsForRequest("select a from t").size(), 2u);
}

TEST_F(SQLiteEngineTest, MissingDatabaseAndUnsafeNamesGiveNoEngineAndASentence) {
    CaptureStderr();
    EXPECT_FALSE(SQLiteEngine::init("absent.sqlite", files()));
    EXPECT_FALSE(SQLiteEngine::init("../outside.sqlite", files()));
    EXPECT_FALSE(SQLiteEngine::init("/etc/passwd", files()));
    const std::string log = GetCapturedStderr();
    EXPECT_THAT(log, HasSubstr("absent.sqlite is neither in Documents nor in the bundle"));
    EXPECT_THAT(log, HasSubstr("\"../outside.sqlite\" is not a plain file name"));
    EXPECT_FALSE(exists(documents() + "/absent.sqlite"));
}

TEST_F(SQLiteEngineTest, RowsCarryColumnNamesWithNullAsEmptyAndTheLaterDuplicateWins) {
    makeDatabase(bundle() + "/rows.sqlite", {"create table t (a text, b integer, c real)",
                                             "insert into t values (NULL, 42, 1.5)"});
    auto engine = SQLiteEngine::init("rows.sqlite", files());
    ASSERT_TRUE(engine);
    ASSERT_TRUE(engine->prepareRequest("select a, b, c, b as a from t"));
    ASSERT_TRUE(engine->nextRow());
    const auto row = engine->dataFromRow();
    ASSERT_TRUE(row.contains("a"));
    EXPECT_EQ(row.get("a").string(), "42");
    EXPECT_EQ(row.get("b").string(), "42");
    EXPECT_EQ(row.get("c").string(), "1.5");
    EXPECT_EQ(engine->getString(0), std::optional<std::string>(""));
    EXPECT_EQ(engine->getInt(1), 42);
    EXPECT_DOUBLE_EQ(engine->getDouble(2), 1.5);
    EXPECT_FALSE(engine->nextRow());

    // Whole results: rows filled by position over one set of keys still answer by name, and each
    // row changes alone.
    ASSERT_TRUE(engine->execRequest("insert into t values ('x', 7, NULL)"));
    auto rows = engine->rowsForRequest("select c, a, b, b as c from t order by rowid");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].keys(), (std::vector<std::string>{"c", "a", "b"}));
    EXPECT_EQ(rows[0], (Value::Dictionary{{"a", ""}, {"b", "42"}, {"c", "42"}}));
    EXPECT_EQ(rows[1], (Value::Dictionary{{"a", "x"}, {"b", "7"}, {"c", "7"}}));
    rows[1].set("d", Value("new"));
    rows[1].erase("a");
    *rows[1].find("b") = Value("8");
    EXPECT_EQ(rows[0], (Value::Dictionary{{"a", ""}, {"b", "42"}, {"c", "42"}}));
    EXPECT_EQ(rows[1].keys(), (std::vector<std::string>{"c", "b", "d"}));
    EXPECT_EQ(rows[1].get("b").string(), "8");
    EXPECT_EQ(rows[1].get("d").string(), "new");
}

TEST_F(SQLiteEngineTest, StatementsAnswerAsTheirResultsAndGettersWithoutStatementAreNeutral) {
    makeDatabase(bundle() + "/exec.sqlite", {"create table t (a integer primary key)"});
    auto engine = SQLiteEngine::init("exec.sqlite", files());
    ASSERT_TRUE(engine);
    EXPECT_TRUE(engine->execRequest("insert into t values (1)"));
    EXPECT_FALSE(engine->execRequest("insert into t values (1)"));  // primary key clash
    CaptureStderr();
    EXPECT_FALSE(engine->execRequest("selec nonsense"));
    EXPECT_THAT(GetCapturedStderr(), HasSubstr("could not prepare a statement"));
    EXPECT_EQ(engine->step(), SQLITE_ERROR);
    EXPECT_EQ(engine->getString(0), std::nullopt);
    EXPECT_EQ(engine->getInt(0), 0);
    EXPECT_EQ(engine->getDouble(0), 0.0);
    EXPECT_TRUE(engine->dataFromRow().empty());
    EXPECT_FALSE(engine->bindString("x", 1));
    EXPECT_EQ(engine->maxIdxForTable("t", "a"), 1);
    EXPECT_EQ(engine->maxIdxForTable("t; drop table t", "a"), 0);
    EXPECT_TRUE(engine->tableExists("t"));
}

TEST_F(SQLiteEngineTest, BoundValuesAreDataNeverSQL) {
    makeDatabase(bundle() + "/bind.sqlite", {"create table t (a text)"});
    auto engine = SQLiteEngine::init("bind.sqlite", files());
    ASSERT_TRUE(engine);
    const std::string hostile = "x'); drop table t; --";
    ASSERT_TRUE(engine->execRequest("insert into t values (?)", {Value(hostile)}));
    ASSERT_TRUE(engine->prepareRequest("select a from t where a = ?"));
    ASSERT_TRUE(engine->bindString(hostile, 1));
    ASSERT_TRUE(engine->nextRow());
    EXPECT_EQ(engine->getString(0), hostile);
    EXPECT_TRUE(engine->tableExists("t"));
}

TEST_F(SQLiteEngineTest, TransactionsRollBackWhole) {
    makeDatabase(bundle() + "/tx.sqlite", {"create table t (a integer primary key)"});
    auto engine = SQLiteEngine::init("tx.sqlite", files());
    ASSERT_TRUE(engine);
    EXPECT_FALSE(engine->runInTransaction({"insert into t values (1)", "insert into t values (1)"}));
    EXPECT_TRUE(engine->rowsForRequest("select * from t").empty());
    EXPECT_TRUE(engine->runInTransaction({"insert into t values (1)", "insert into t values (2)"}));
    EXPECT_EQ(engine->rowsForRequest("select * from t").size(), 2u);
}

// The database's files go through the file system in use: a write that meets a full or failing
// disk is reported as the statement's failure, and every row committed before it is still there
// when the database is opened again.
TEST_F(SQLiteEngineTest, AWriteThatMeetsAFullOrFailingDiskFailsAndEarlierRowsStay) {
    makeDatabase(bundle() + "/disk.sqlite", {"create table t (a integer primary key, b blob)",
                                             "insert into t values (1, zeroblob(5000))"});
    const std::string path = documents() + "/disk.sqlite";
    struct Case {
        const char* fault;
        std::string pattern;
        FaultyFileIO::Operation operation;
        int err;
    } cases[] = {
        {"no space for the journal", path + "-journal", FaultyFileIO::Operation::Write, ENOSPC},
        {"a failing journal flush", path + "-journal", FaultyFileIO::Operation::Sync, EIO},
        {"no space in the database", path, FaultyFileIO::Operation::Write, ENOSPC},
        {"a failing database write", path, FaultyFileIO::Operation::Write, EIO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        {
            FaultInjection io;
            auto engine = SQLiteEngine::init("disk.sqlite", files());
            ASSERT_TRUE(engine);
            ASSERT_TRUE(engine->execRequest("insert into t values (2, zeroblob(5000))"));
            engine->endRequest();
            io->inject(c.operation, c.pattern, c.err);
            CaptureStderr();
            NSErrorPtr error;
            EXPECT_FALSE(engine->runInTransaction(
                {"insert into t values (3, zeroblob(9000))", "update t set b = zeroblob(10) where a = 1"}, &error));
            NSErrorPtr single;
            EXPECT_FALSE(engine->execRequest("insert into t values (4, zeroblob(9000))", {}, &single));
            engine->endRequest();
            const std::string log = GetCapturedStderr();
            EXPECT_GT(io->injected(), 0);
            ASSERT_TRUE(error);
            EXPECT_EQ(error->domain(), OEContentErrorDomain);
            ASSERT_TRUE(single);
            EXPECT_THAT(log, HasSubstr("The content database disk.sqlite"));
            EXPECT_THAT(log, testing::AnyOf(HasSubstr("database or disk is full"), HasSubstr("disk I/O error")));
        }
        auto reopened = SQLiteEngine::init("disk.sqlite", files());
        ASSERT_TRUE(reopened);
        const auto rows = reopened->rowsForRequest("select a, length(b) as size from t order by a");
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].get("size").string(), "5000");
        EXPECT_EQ(rows[1].get("a").string(), "2");
        EXPECT_EQ(reopened->rowsForRequest("pragma integrity_check").front().get("integrity_check").string(), "ok");
        ASSERT_TRUE(reopened->execRequest("delete from t where a = 2"));
        reopened->endRequest();
    }
}

// A second connection on the same file holds the write lock: a write waits for it up to the
// busy time-out (SQLite's own handler, so real time, kept short here), then fails as busy and
// writes nothing; once the lock is gone the same write goes through.
TEST_F(SQLiteEngineTest, AWriteWaitsForAnotherConnectionsLockUpToTheTimeOutThenFailsBusy) {
    using namespace std::chrono_literals;
    makeDatabase(bundle() + "/busy.sqlite", {"create table t (a integer primary key)"});
    auto engine = SQLiteEngine::init("busy.sqlite", files());
    ASSERT_TRUE(engine);
    auto other = SQLiteEngine::initWithPath(documents() + "/busy.sqlite");
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->execRequest("begin immediate"));
    ASSERT_TRUE(other->execRequest("insert into t values (1)"));
    other->endRequest();

    engine->setBusyTimeout(150ms);
    CaptureStderr();
    NSErrorPtr error;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(engine->execRequest("insert into t values (2)", {}, &error));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_THAT(GetCapturedStderr(), HasSubstr("database is locked"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), OEContentErrorDomain);
    EXPECT_EQ(error->code(), OEContentErrorBusy);
    EXPECT_GE(waited, 150ms);
    EXPECT_LT(waited, 5s);  // the time-out set, not the default one

    ASSERT_TRUE(other->execRequest("commit"));
    other->endRequest();
    EXPECT_TRUE(engine->execRequest("insert into t values (2)"));
    EXPECT_EQ(engine->rowsForRequest("select a from t").size(), 2u);
}

// A detach that SQLite refuses because a transaction holds the attached database is reported;
// the transaction is rolled back and the database detached, so nothing stays attached unseen.
TEST_F(SQLiteEngineTest, ARefusedDetachIsReportedAndTheDatabaseDoesNotStayAttached) {
    makeDatabase(bundle() + "/main.sqlite", {"create table t (a)"});
    makeDatabase(documents() + "/other.sqlite", {"create table o (a)"});
    auto engine = SQLiteEngine::init("main.sqlite", files());
    ASSERT_TRUE(engine);
    const auto attachedNames = [&] {
        std::vector<std::string> names;
        for (const auto& row : engine->rowsForRequest("pragma database_list")) names.push_back(row.get("name").string());
        return names;
    };
    ASSERT_TRUE(engine->execRequest("attach database ? as old", {Value(documents() + "/other.sqlite")}));
    EXPECT_TRUE(engine->detachDatabase("old"));
    EXPECT_EQ(attachedNames(), std::vector<std::string>{"main"});

    ASSERT_TRUE(engine->execRequest("attach database ? as old", {Value(documents() + "/other.sqlite")}));
    ASSERT_TRUE(engine->execRequest("begin"));
    ASSERT_TRUE(engine->execRequest("insert into old.o values (1)"));
    CaptureStderr();
    NSErrorPtr error;
    EXPECT_FALSE(engine->detachDatabase("old", &error));
    EXPECT_THAT(GetCapturedStderr(), HasSubstr("could not be detached"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), OEContentErrorDomain);
    EXPECT_EQ(error->code(), OEContentErrorDetach);
    EXPECT_THAT(error->localizedDescription(), HasSubstr("database old is locked"));
    EXPECT_THAT(error->localizedDescription(), HasSubstr("after rolling back the open transaction it is detached"));
    EXPECT_EQ(attachedNames(), std::vector<std::string>{"main"});
    auto other = SQLiteEngine::initWithPath(documents() + "/other.sqlite");
    ASSERT_TRUE(other);
    EXPECT_TRUE(other->rowsForRequest("select * from o").empty());  // the unfinished write is gone
}

// Missing, empty, unreadable and corrupt databases: empty lists and a sentence, no crash.
TEST_F(SQLiteEngineTest, BadDatabasesGiveEmptyListsAndASentence) {
    struct Case {
        const char* name;
        std::function<void(ContentFixture*)> prepare;
        const char* sentence;
    };
    const std::vector<Case> cases = {
        {"missing", [](ContentFixture*) {}, "neither in Documents nor in the bundle"},
        {"empty", [](ContentFixture* f) { writeFile(f->bundle() + "/images.sqlite", ""); }, "no such table"},
        {"corrupt",
         [](ContentFixture* f) { writeFile(f->bundle() + "/images.sqlite", std::string(4096, 'x')); },
         "file is not a database"},
        {"unreadable",
         [](ContentFixture* f) {
             writeFile(f->bundle() + "/images.sqlite", "");
             // A folder where the file should be: unreadable even for root.
             std::filesystem::create_directories(f->documents() + "/images.sqlite");
         },
         "images.sqlite"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        c.prepare(this);
        reloadConfiguration();
        // Configured as present, whatever the bundle holds now.
        context().config->database()->setImagesDBName("images.sqlite");
        CaptureStderr();
        auto source = List_DataSource::initWithLoader(imagesLoader());
        const auto cats = source->catList();
        ASSERT_TRUE(cats);
        EXPECT_TRUE(cats->empty());
        const auto subCats = source->subCatList(dataCat::dataCatWithName("x"));
        ASSERT_TRUE(subCats);
        EXPECT_TRUE(subCats->empty());
        const auto rows = source->list(dataSubCat::emptySubCat());
        ASSERT_TRUE(rows);
        EXPECT_TRUE(rows->empty());
        EXPECT_FALSE(source->inFavorites(Value::Dictionary{{"index", Value("1")}}));
        EXPECT_TRUE(source->allPaths().empty());
        EXPECT_THAT(GetCapturedStderr(), HasSubstr(c.sentence));
    }
}

// A file whose header and schema are whole but one of whose pages of rows is not opens; the
// first read that meets the damage marks the file for every connection, says so once, and
// later openings refuse it. The file is only ever read.
TEST_F(SQLiteEngineTest, PagesFoundDamagedAreToldOnceAndTheFileIsRefusedFromThenOn) {
    const std::string path = documents() + "/rows.sqlite";
    std::vector<std::string> statements = {"create table t (a integer primary key, b text)"};
    for (int i = 1; i <= 300; ++i) statements.push_back(NSString::format("insert into t values (%d, '%@')", i, std::string(100, 'v')));
    makeDatabase(path, statements);
    ASSERT_GE(std::stoi(sqliteRows(path, "pragma page_count")[0][0]), 8);
    ASSERT_TRUE(damageRowsPage(path, "t"));
    const auto bytes = NSFileManager::defaultManager()->contentsAtPath(path);
    const std::vector<SQLiteEngine::ExpectedTable> expected{{"t", {"a", "b"}}};

    CaptureStderr();
    auto first = SQLiteEngine::init("rows.sqlite", files(), expected);
    auto second = SQLiteEngine::init("rows.sqlite", files(), expected);
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->isDamaged());
    NSErrorPtr error;
    EXPECT_LT(first->rowsForRequest("select * from t", {}, &error).size(), 300u);
    ASSERT_TRUE(error);
    EXPECT_THAT(error->localizedDescription(), HasSubstr("database disk image is malformed"));
    EXPECT_TRUE(second->isDamaged());
    EXPECT_LT(second->rowsForRequest("select b from t").size(), 300u);
    EXPECT_FALSE(SQLiteEngine::init("rows.sqlite", files(), expected));
    EXPECT_EQ(GetCapturedStderr(), "The content database rows.sqlite is not one the application can use (database disk "
                                   "image is malformed); it is left as it is.\n");
    EXPECT_EQ(NSFileManager::defaultManager()->contentsAtPath(path), bytes);
}

// With another file attached, the damage a statement meets is that of the file it was met in,
// whichever side it is on: that file alone is marked, told once and refused, and whatever shows
// its rows is told of it.
TEST_F(SQLiteEngineTest, DamageMetWithAnotherFileAttachedMarksTheFileItWasMetIn) {
    std::vector<std::string> statements = {"create table t (a integer primary key, b text)"};
    for (int i = 1; i <= 300; ++i) statements.push_back(NSString::format("insert into t values (%d, '%@')", i, std::string(100, 'v')));
    // Told on the thread of the statement: this one.
    std::vector<std::string> posted;
    auto token = NSNotificationCenter::defaultCenter()->addObserverForName(
        SQLiteEngine::kDamagedPagesMessage, nullptr, nullptr, [&posted](const NSNotification& note) {
            posted.push_back(note.userInfo().get(SQLiteEngine::kDamagedFilePathKey).string());
        });
    for (const bool mainDamaged : {true, false}) {
        SCOPED_TRACE(mainDamaged ? "the connection's own file damaged" : "the attached file damaged");
        for (const char* name : {"sound.sqlite", "damaged.sqlite"}) {
            std::filesystem::remove(documents() + "/" + name);
            makeDatabase(documents() + "/" + name, statements);
        }
        ASSERT_TRUE(damageRowsPage(documents() + "/damaged.sqlite", "t"));
        auto engine = SQLiteEngine::init(mainDamaged ? "damaged.sqlite" : "sound.sqlite", files());
        ASSERT_TRUE(engine);
        const std::string other = documents() + (mainDamaged ? "/sound.sqlite" : "/damaged.sqlite");
        ASSERT_TRUE(engine->execRequest("attach database ? as other", {Value(other)}));
        engine->endRequest();

        CaptureStderr();
        NSErrorPtr error;
        EXPECT_LT(engine->rowsForRequest(mainDamaged ? "select * from main.t" : "select * from other.t", {}, &error).size(),
                  300u);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), OEContentErrorDamaged);
        EXPECT_EQ(engine->isDamaged(), mainDamaged);
        EXPECT_FALSE(SQLiteEngine::init("damaged.sqlite", files()));
        EXPECT_TRUE(SQLiteEngine::init("sound.sqlite", files()));
        EXPECT_EQ(GetCapturedStderr(), "The content database damaged.sqlite is not one the application can use "
                                       "(database disk image is malformed); it is left as it is.\n");
        EXPECT_EQ(posted, std::vector<std::string>{documents() + "/damaged.sqlite"});
        posted.clear();
        ASSERT_TRUE(engine->detachDatabase("other"));
        SQLiteEngine::forgetRefusals();
    }
    NSNotificationCenter::defaultCenter()->removeObserver(token);
}

// Threads with engines of their own read one file at the same time; the first uses copy it from
// the bundle once between them.
TEST_F(SQLiteEngineTest, ThreadsWithEnginesOfTheirOwnReadOneFileTogether) {
    std::vector<std::string> statements = {"create table t (a integer primary key, b text)"};
    for (int i = 1; i <= 500; ++i) statements.push_back("insert into t values (" + std::to_string(i) + ", 'v')");
    makeDatabase(bundle() + "/shared.sqlite", statements);
    std::vector<int> counts(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            auto engine = SQLiteEngine::init("shared.sqlite", files());
            if (!engine) return;
            for (int round = 0; round < 20; ++round) {
                if (t % 2) {
                    if (engine->prepareRequest("select a from t where a > ?", {Value(0)})) {
                        while (engine->nextRow()) counts[t] += engine->getInt(0) > 0;
                    }
                    engine->endRequest();
                } else {
                    counts[t] += static_cast<int>(engine->rowsForRequest("select * from t").size());
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(counts[t], 500 * 20) << "thread " << t;
    EXPECT_FALSE(exists(documents() + "/shared.sqlite.copying"));
}

#if !defined(NDEBUG) || defined(OSTREL_SEQUENCE_CHECKS)
using SQLiteEngineDeathTest = SQLiteEngineTest;

// An engine lives on the sequence that first used it: another thread's use aborts, naming it.
TEST_F(SQLiteEngineDeathTest, AnEngineUsedFromASecondThreadAborts) {
    makeDatabase(bundle() + "/one.sqlite", {"create table t (a)"});
    auto engine = SQLiteEngine::init("one.sqlite", files());
    ASSERT_TRUE(engine);
    ASSERT_TRUE(engine->execRequest("insert into t values (1)"));
    EXPECT_DEATH(
        {
            std::thread other([&] { (void)engine->execRequest("insert into t values (2)"); });
            other.join();
        },
        "SQLiteEngine::execRequest called from");
}
#endif
