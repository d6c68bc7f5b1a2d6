// A salvage cut short at any of its steps, by a kill or by a power cut: the next opening ends
// with every row of the damaged file that still reads, each once, and one kept copy beside it.
// Kept files the store cannot carry now (a cancelled read among them), or that stand beside
// others, never keep it from use, and none is lost.
#include "analytics/core/APMKeptFiles.h"
#include "analytics/core/APMSalvage.h"
#include "analytics/core/APMSqliteStore.h"
#include "platform/dispatch/DispatchCancellation.h"

#include "LogCapture.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/DamagedPages.h"
#include "tests/fixtures/DisabledTestsChild.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/HeldOpenFileIO.h"
#include "tests/fixtures/QuotaFileIO.h"
#include "tests/fixtures/SteppedFileIO.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <set>

namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

constexpr const char* kFolderVariable = "APM_SALVAGE_FOLDER";
constexpr const char* kStepVariable = "APM_SALVAGE_END_AT";
const std::string kName = "db.sql";
// Real seconds a held read waits to be reached: only a safety net.
constexpr double kBound = 60;

// The opening an owner makes before it carries: the store and its tables. The open store, or none.
std::shared_ptr<APMSqliteStore> openTables(const std::string& folder) {
    auto store = APMSqliteStore::initWithDatabasePath(folder + "/" + kName, nullptr);
    const bool made = store && store->useWriteAheadLog(nullptr) &&
                      store->executeSQL("CREATE TABLE IF NOT EXISTS a (n INTEGER, body TEXT)", nullptr) &&
                      store->executeSQL("CREATE TABLE IF NOT EXISTS b (n INTEGER, body TEXT)", nullptr);
    return made ? store : nullptr;
}

// The opening an owner makes: the store, its tables, the carry. The open store, or none when a
// kept file still waits.
std::shared_ptr<APMSqliteStore> openAndCarry(const std::string& folder) {
    auto store = openTables(folder);
    return store && APMSalvage::carryKeptFiles(*store).waiting == 0 ? store : nullptr;
}

// Every row once, whatever its rowid: a kept row whose rowid the store's own took has another.
Rows contents(const std::string& folder) {
    return sqliteRows(folder + "/" + kName,
                      "SELECT 'a', n, body FROM a UNION ALL SELECT 'b', n, body FROM b ORDER BY 1, 2, 3");
}

// A database at `path` of tables a and b, with `rows` rows in `table`, n from `first` on.
void writeDatabase(const std::string& path, const char* table, int first, int rows) {
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
    const std::string sql = "CREATE TABLE a (n INTEGER, body TEXT); CREATE TABLE b (n INTEGER, body TEXT);"
                            "WITH RECURSIVE c(n) AS (SELECT " + std::to_string(first) + " UNION ALL SELECT n + 1 FROM c "
                            "WHERE n < " + std::to_string(first + rows - 1) + ") INSERT INTO " + table +
                            " SELECT n, 'row ' || n FROM c;";
    EXPECT_EQ(sqlite3_exec(writer, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(writer);
}

// The names of the folder that belong to the store's kept files.
std::set<std::string> keptNames(const std::string& folder) {
    std::set<std::string> kept;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kName + ".", 0) == 0) kept.insert(name);
    }
    return kept;
}

// After a finished salvage: nothing uncarried, no record beside the store or in it, no working
// copy, and of the kept copies only the newest, a database, with the log it was read with.
void expectOneCarriedCopy(const std::string& folder) {
    auto kept = keptNames(folder);
    kept.erase(kName + ".carried-shm");
    kept.erase(kName + ".carried-wal");
    EXPECT_EQ(kept, std::set<std::string>{kName + ".carried"}) << folder;
    EXPECT_EQ(sqliteRows(folder + "/" + kName + ".carried", "SELECT count(*) FROM sqlite_master"), (Rows{{"2"}}));
    // Nor is anything recorded in the store of what was carried.
    EXPECT_EQ(sqliteRows(folder + "/" + kName, "SELECT group_concat(name) FROM sqlite_master"), (Rows{{"a,b"}}));
}

class APMSqliteStoreSalvageTest : public testing::Test {
protected:
    // Table `a` checkpointed into the file, the header of one of its pages overwritten; `b` in the
    // log alone, which the salvage must take with the file; beside them, the copy an earlier
    // version kept under the name it gave them, whose rows are carried too, and copies an earlier
    // salvage kept, which the newest replaces. And what a salvage nothing cuts short carries of it.
    void SetUp() override {
        static int counter = 0;
        folder_ = Sandbox::tmp() + "/salvage-" + std::to_string(++counter);
        const std::string source = folder_ + "/source/" + kName;
        fs::create_directories(folder_ + "/source");
        fs::create_directories(damaged_ = folder_ + "/damaged");
        sqlite3* writer = nullptr;
        ASSERT_EQ(sqlite3_open(source.c_str(), &writer), SQLITE_OK);
        const auto fill = [](const char* table, int count) {
            return "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < " + std::to_string(count) +
                   ") INSERT INTO " + table + " SELECT n, replace(hex(zeroblob(200)), '0', char(65 + n % 26)) FROM c;";
        };
        const std::string sql = "PRAGMA journal_mode=WAL; CREATE TABLE a (n INTEGER, body TEXT);"
                                "CREATE TABLE b (n INTEGER, body TEXT);" + fill("a", 150) +
                                "PRAGMA wal_checkpoint(TRUNCATE); PRAGMA wal_autocheckpoint=0;" + fill("b", 40);
        ASSERT_EQ(sqlite3_exec(writer, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        // Copied while the writer still has them open, as a kill leaves them.
        const int lost = overwriteLeafHeader(source, "a", 2);
        fs::copy_file(source, damaged_ + "/" + kName);
        fs::copy_file(source + "-wal", damaged_ + "/" + kName + "-wal");
        sqlite3_close(writer);
        ASSERT_GT(lost, 0);
        writeDatabase(damaged_ + "/" + kName + ".damaged", "b", 1001, 30);
        for (const char* older : {".carried", ".carried-wal", ".damaged-2"}) {
            std::ofstream(damaged_ + "/" + kName + older) << "an older copy";
        }
        fs::copy(damaged_, folder_ + "/whole");
        ASSERT_NE(openAndCarry(folder_ + "/whole"), nullptr);
        expected_ = contents(folder_ + "/whole");
        ASSERT_EQ(expected_.size(), static_cast<std::size_t>(150 - lost + 40 + 30));
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string run() const {
        fs::remove_all(folder_ + "/run");
        fs::copy(damaged_, folder_ + "/run");
        return folder_ + "/run";
    }

    // A copy of the damaged files as an opening ended before its carry leaves them (set aside,
    // uncarried), and a store that took 34 rows of its own since and is now damaged in turn.
    std::string storeDamagedWhileAKeptFileWaits() const {
        static int counter = 0;
        const std::string folder = folder_ + "/waiting-" + std::to_string(++counter);
        fs::copy(damaged_, folder);
        const std::string base = folder + "/" + kName;
        fs::rename(base, base + ".uncarried");
        fs::rename(base + "-wal", base + ".uncarried-wal");
        fs::remove(base + ".damaged");
        writeDatabase(base, "b", 5001, 34);
        // Its second page, the root of its first table, overwritten.
        EXPECT_TRUE(overwritePage(base, 2, pageSizeOf(base)));
        return folder;
    }

    // The disk as a power cut would leave it at every step of the salvage of `folder` and after
    // it: after it, the file itself holds `expected` beside the one kept copy; during it, the
    // next opening from that disk ends with `expected`, every row once.
    void expectEveryPowerCutLeavesEveryRowOnce(const std::string& folder, const Rows& expected) {
        const std::string after = folder_ + "/after";
        std::vector<std::string> images;
        {
            std::shared_ptr<SteppedFileIO> cut;
            cut = std::make_shared<SteppedFileIO>(folder, [&images, &cut, folder, this](const std::string&,
                                                                                        const std::string& path) {
                if (path.rfind(folder, 0) != 0) return;
                images.push_back(folder_ + "/image-" + std::to_string(images.size()));
                ASSERT_EQ(cut->writeImage(images.back()), 0);
            });
            ScopedFileIO scope(cut);
            const auto store = openAndCarry(folder);
            ASSERT_NE(store, nullptr);
            ASSERT_EQ(cut->writeImage(after), 0);
        }
        EXPECT_EQ(contents(after), expected);
        expectOneCarriedCopy(after);
        ASSERT_GT(images.size(), 10u);
        for (const std::string& image : images) {
            SCOPED_TRACE(image);
            ASSERT_NE(openAndCarry(image), nullptr);
            EXPECT_EQ(contents(image), expected);
            expectOneCarriedCopy(image);
        }
    }

    std::string folder_;
    std::string damaged_;
    Rows expected_;
};

}  // namespace

// Runs only in the child started below: the salvage, ended before the step the parent names.
TEST(APMSqliteStoreSalvageChild, DISABLED_EndedAtOneStep) {
    const char* folder = std::getenv(kFolderVariable);
    const char* endAt = std::getenv(kStepVariable);
    ASSERT_TRUE(folder && endAt);
    const std::string salvaged = folder;
    const int last = std::atoi(endAt);
    // By value and on the heap, the salvage's own steps alone: the process's other threads may
    // come through with files of their own, even after the test.
    auto steps = std::make_shared<std::atomic<int>>(0);
    ScopedFileIO scope(std::make_shared<SteppedFileIO>(salvaged, [=](const std::string& step, const std::string& path) {
        if (path.rfind(salvaged, 0) != 0 || ++*steps < last) return;
        std::fprintf(stderr, "ended before step %d: %s %s\n", last, step.c_str(), path.c_str());
        std::fflush(stderr);
        // A SIGTERM ends the process at once, as a kill does.
        std::raise(last % 2 ? SIGTERM : SIGKILL);
    }));
    EXPECT_NE(openAndCarry(folder), nullptr);
}

// Set aside, carried a table at a time, checkpointed, the older copies removed, named carried: a
// process ended before any of those steps leaves the next opening to finish, no row lost and
// none carried twice.
TEST_F(APMSqliteStoreSalvageTest, AProcessEndedAtAnyStepLeavesEveryRowOnceToTheNextOpening) {
    int step = 1;
    for (;; ++step) {
        SCOPED_TRACE("ended before step " + std::to_string(step));
        const std::string folder = run();
        std::string ending = kStepVariable;
        ending += "=" + std::to_string(step);
        const ProcessRun child = runDisabledTestsInChild("APMSqliteStoreSalvageChild.DISABLED_EndedAtOneStep",
                                                         {kFolderVariable + ("=" + folder), ending});
        if (child.status == 0) break;
        ASSERT_NE(child.output.find("ended before step " + std::to_string(step) + ":"), std::string::npos)
            << child.output;
        ASSERT_NE(openAndCarry(folder), nullptr);
        EXPECT_EQ(contents(folder), expected_);
        expectOneCarriedCopy(folder);
    }
    EXPECT_GT(step, 10);
}

// The disk as a power cut would leave it at every step of the salvage and after it: after it, the
// file itself holds every carried row beside the one kept copy; during it, the next opening from
// that disk ends with every row once.
TEST_F(APMSqliteStoreSalvageTest, APowerCutAtAnyStepLeavesEveryRowOnceAndAfterItTheFileHoldsThem) {
    expectEveryPowerCutLeavesEveryRowOnce(run(), expected_);
}

// The same of a store found damaged, with rows of its own, while a kept file waits: both are
// set aside and carried.
TEST_F(APMSqliteStoreSalvageTest, APowerCutAtAnyStepOfASalvageBesideAWaitingKeptFileLeavesEveryRowOnce) {
    const std::string whole = storeDamagedWhileAKeptFileWaits();
    ASSERT_NE(openAndCarry(whole), nullptr);
    const Rows expected = contents(whole);
    ASSERT_EQ(expected.size(), expected_.size() - 30 + 34);
    expectEveryPowerCutLeavesEveryRowOnce(storeDamagedWhileAKeptFileWaits(), expected);
}

// A kept file that cannot be read for a reason of the moment (a failing disk) is no damaged file:
// it waits uncarried for the next opening, while the store takes rows. A wipe takes it too.
TEST_F(APMSqliteStoreSalvageTest, AKeptFileThatCannotBeReadNowWaitsAsideWhileTheStoreTakesRows) {
    const std::string folder = run();
    LogCapture capture;
    {
        FaultInjection faults;
        faults->ioError(FaultyFileIO::Operation::Read, "*/" + kName + ".uncarried");
        const auto store = openTables(folder);
        ASSERT_NE(store, nullptr);
        EXPECT_EQ(APMSalvage::carryKeptFiles(*store).waiting, 1);
        EXPECT_GT(faults->injected(), 0);
        EXPECT_TRUE(fs::exists(folder + "/" + kName + ".uncarried"));
        EXPECT_TRUE(store->executeSQL("INSERT INTO a (n, body) VALUES (-1, 'logged meanwhile')", nullptr));
    }
    EXPECT_EQ(capture.matching("[I-ACS034026]").size(), 1u);
    fs::copy(folder, folder_ + "/wiped");
    ASSERT_NE(openAndCarry(folder), nullptr);
    Rows expected = expected_;
    expected.insert(expected.begin(), {"a", "-1", "logged meanwhile"});
    EXPECT_EQ(contents(folder), expected);
    expectOneCarriedCopy(folder);

    ASSERT_TRUE(fs::exists(folder_ + "/wiped/" + kName + ".uncarried"));
    APMKeptFiles(folder_ + "/wiped/" + kName).removeAll();
    EXPECT_TRUE(keptNames(folder_ + "/wiped").empty());
}

// Reads of one byte range of the files whose paths end with `suffix` fail with EIO, as on a bad
// sector, for as long as it is installed; or, when it `kills`, end the process, as a kill during
// the read does.
class BadSectorFileIO : public PowerCutFileIO {
public:
    BadSectorFileIO(const std::string& root, std::string suffix, std::uint64_t first, std::uint64_t size,
                    bool kills = false)
        : PowerCutFileIO(root), suffix_(std::move(suffix)), first_(first), size_(size), kills_(kills) {}
    int readAt(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t size, std::size_t& got) override {
        const std::string path = pathOf(fd);
        if (path.size() >= suffix_.size() && path.compare(path.size() - suffix_.size(), suffix_.size(), suffix_) == 0 &&
            offset < first_ + size_ && first_ < offset + size) {
            if (kills_) {
                std::fprintf(stderr, "killed while reading %s\n", path.c_str());
                std::fflush(stderr);
                std::raise(SIGKILL);
            }
            ++failed_;
            return EIO;
        }
        return PowerCutFileIO::readAt(fd, offset, buffer, size, got);
    }
    int failed() const { return failed_; }

private:
    const std::string suffix_;
    const std::uint64_t first_;
    const std::uint64_t size_;
    const bool kills_;
    std::atomic<int> failed_{0};
};

// A kept file of 3000 rows of "a" in `folder`, and the byte range of a leaf in its middle.
struct BadSector {
    std::string kept;
    std::uint64_t first = 0;
    std::uint64_t size = 0;
};
BadSector keptFileWithABadLeaf(const std::string& folder) {
    fs::create_directories(folder);
    BadSector bad{folder + "/" + kName + ".uncarried"};
    writeDatabase(bad.kept, "a", 1, 3000);
    const auto leaves = sqliteRows(bad.kept, "SELECT pageno FROM dbstat WHERE name = 'a' AND pagetype = 'leaf' ORDER BY pageno");
    EXPECT_GT(leaves.size(), 4u);
    bad.size = static_cast<std::uint64_t>(pageSizeOf(bad.kept));
    if (!leaves.empty()) bad.first = (std::stoull(leaves[leaves.size() / 2][0]) - 1) * bad.size;
    return bad;
}

// A read of the kept file that fails at every opening (a bad sector under one of its leaves) is
// never taken for a damaged page: each opening waits, the store taking rows all along, until the
// file is given up on and kept for a person as it was.
TEST_F(APMSqliteStoreSalvageTest, AReadThatFailsAtEveryOpeningIsNoDamageAndTheFileIsGivenUpOn) {
    const std::string folder = folder_ + "/sector";
    const BadSector bad = keptFileWithABadLeaf(folder);
    const auto io = std::make_shared<BadSectorFileIO>(folder, ".uncarried", bad.first, bad.size);
    ScopedFileIO scope(io);
    LogCapture capture;
    for (int launch = 1; launch <= APMSalvage::kReadsBeforeGivingUp; ++launch) {
        const auto store = openTables(folder);
        ASSERT_NE(store, nullptr);
        EXPECT_EQ(APMSalvage::carryKeptFiles(*store).waiting, 1);
        EXPECT_TRUE(store->executeSQL("INSERT INTO a (n, body) VALUES (-" + std::to_string(launch) + ", 'logged meanwhile')",
                                      nullptr));
    }
    EXPECT_GT(io->failed(), 0);
    const auto waited = capture.matching("[I-ACS034026]");
    ASSERT_EQ(waited.size(), static_cast<std::size_t>(APMSalvage::kReadsBeforeGivingUp));
    for (const std::string& line : waited) EXPECT_NE(line.find("sqlite code 266"), std::string::npos) << line;

    ASSERT_NE(openAndCarry(folder), nullptr);
    EXPECT_EQ(capture.matching("[I-ACS034028]").size(), 1u);
    EXPECT_TRUE(capture.matching("[I-ACS034025]").empty());
    EXPECT_EQ(keptNames(folder), std::set<std::string>{kName + ".unread"});
    EXPECT_EQ(sqliteRows(folder + "/" + kName, "SELECT count(*), max(n) FROM a"),
              (Rows{{std::to_string(APMSalvage::kReadsBeforeGivingUp), "-1"}}));
}

// A read of the kept file that fails (a bad sector under one of its leaves) is neither damage nor a
// carry: at each opening whose reads fail the file waits, read again from the start, and the first
// opening it reads at carries every row, the rows logged meanwhile beside them, each once.
TEST_F(APMSqliteStoreSalvageTest, AReadThatFailsIsNoCarryAndTheFirstOpeningItReadsAtCarriesItWhole) {
    const std::string folder = folder_ + "/sector";
    const BadSector bad = keptFileWithABadLeaf(folder);
    LogCapture capture;
    for (int launch = 1; launch <= 2; ++launch) {
        SCOPED_TRACE("launch " + std::to_string(launch));
        const auto io = std::make_shared<BadSectorFileIO>(folder, ".uncarried", bad.first, bad.size);
        ScopedFileIO scope(io);
        const auto store = openTables(folder);
        ASSERT_NE(store, nullptr);
        EXPECT_EQ(APMSalvage::carryKeptFiles(*store).waiting, 1);
        EXPECT_GT(io->failed(), 0);
        EXPECT_TRUE(store->executeSQL("INSERT INTO a (n, body) VALUES (-" + std::to_string(launch) + ", 'logged meanwhile')",
                                      nullptr));
    }
    EXPECT_EQ(capture.matching("[I-ACS034026]").size(), 2u);
    EXPECT_TRUE(capture.matching("[I-ACS034025]").empty());
    EXPECT_TRUE(fs::exists(bad.kept));

    ASSERT_NE(openAndCarry(folder), nullptr);
    EXPECT_EQ(sqliteRows(folder + "/" + kName, "SELECT count(*), count(DISTINCT n), min(n) FROM a"),
              (Rows{{"3002", "3002", "-2"}}));
    EXPECT_EQ(capture.matching("[I-ACS034025]").size(), 1u);
    EXPECT_EQ(keptNames(folder), std::set<std::string>{kName + ".carried"});
}

// What stands at a kept name and is no file (a folder, a link to a file elsewhere) goes aside,
// never followed nor deleted; one that cannot be moved is passed over. The salvage goes on under
// the names still free.
TEST_F(APMSqliteStoreSalvageTest, AFolderOrALinkAtAKeptNameGoesAsideAndTheSalvageGoesOn) {
    for (const bool movable : {true, false}) {
        SCOPED_TRACE(movable ? "moved aside" : "refusing to move");
        const std::string folder = run();
        const std::string base = folder + "/" + kName;
        fs::create_directories(base + ".uncarried");
        std::ofstream(base + ".uncarried/notes") << "a person's";
        const std::string outside = folder_ + "/outside";
        std::ofstream(outside) << "outside";
        ASSERT_EQ(::symlink(outside.c_str(), (base + ".uncarried-wal").c_str()), 0);
        fs::remove(base + ".carried");
        fs::create_directories(base + ".carried");
        LogCapture capture;
        {
            FaultInjection faults;
            if (!movable) faults->failRename(base + ".uncarried", EACCES);
            ASSERT_NE(openAndCarry(folder), nullptr);
        }
        EXPECT_EQ(contents(folder), expected_);
        std::ifstream read(outside);
        std::string text;
        read >> text;
        EXPECT_EQ(text, "outside");
        EXPECT_TRUE(fs::is_symlink(base + ".uncarried-wal.moved"));
        EXPECT_TRUE(fs::is_directory(base + ".carried.moved"));
        EXPECT_TRUE(fs::exists((movable ? base + ".uncarried.moved" : base + ".uncarried") + "/notes"));
        auto kept = keptNames(folder);
        kept.erase(kName + ".carried-shm");
        kept.erase(kName + ".carried-wal");
        std::set<std::string> expected = {kName + ".carried", kName + ".uncarried-wal.moved", kName + ".carried.moved"};
        expected.insert(kName + (movable ? ".uncarried.moved" : ".uncarried"));
        EXPECT_EQ(kept, expected);
        EXPECT_EQ(capture.matching("[I-ACS034024]").size(), movable ? 3u : 2u);
        fs::remove_all(folder);
    }
}

// An earlier version's copy is carried once, even when it refuses to go: the store records what
// it carried, and a carry run again adds nothing twice, while the store takes rows.
TEST_F(APMSqliteStoreSalvageTest, AnEarlierVersionsCopyIsCarriedOnceEvenWhileItRefusesToGo) {
    const std::string folder = folder_ + "/earlier";
    fs::create_directories(folder);
    const std::string base = folder + "/" + kName;
    writeDatabase(base + ".damaged", "b", 1, 40);
    LogCapture capture;
    {
        FaultInjection faults;
        faults->inject(FaultyFileIO::Operation::Rename, "*/" + kName + ".damaged*", EPERM);
        faults->inject(FaultyFileIO::Operation::Remove, "*/" + kName + ".damaged*", EPERM);
        for (int launch = 1; launch <= 2; ++launch) {
            const auto store = openTables(folder);
            ASSERT_NE(store, nullptr);
            EXPECT_EQ(APMSalvage::carryKeptFiles(*store).waiting, 1);
            EXPECT_TRUE(store->executeSQL("INSERT INTO b (n, body) VALUES (-" + std::to_string(launch) + ", 'new')", nullptr));
            EXPECT_EQ(sqliteRows(base, "SELECT count(*), count(DISTINCT n) FROM b"),
                      (Rows{{std::to_string(40 + launch), std::to_string(40 + launch)}}));
        }
    }
    EXPECT_EQ(capture.matching("[I-ACS034026]").size(), 2u);
    ASSERT_NE(openAndCarry(folder), nullptr);
    EXPECT_EQ(sqliteRows(base, "SELECT count(*), count(DISTINCT n) FROM b"), (Rows{{"42", "42"}}));
    EXPECT_EQ(keptNames(folder), std::set<std::string>{kName + ".carried"});
    EXPECT_EQ(sqliteRows(base + ".carried", "SELECT count(*) FROM b"), (Rows{{"40"}}));
}

// Evidence of a companion alone moves no file: beside a kept file and an earlier version's log
// left alone, every row of the kept file is carried. And a damaged store that took rows while a
// kept file waited is kept aside too: both are carried.
TEST_F(APMSqliteStoreSalvageTest, AKeptFileIsCarriedBesideALoneCompanionAndBesideAnotherDamagedStore) {
    const std::string folder = run();
    const std::string base = folder + "/" + kName;
    // The damaged file set aside by an opening ended before its carry, beside a lone log.
    fs::rename(base, base + ".uncarried");
    fs::rename(base + "-wal", base + ".uncarried-wal");
    fs::remove(base + ".damaged");
    std::ofstream(base + ".damaged-wal") << "a log alone";
    ASSERT_NE(openAndCarry(folder), nullptr);
    Rows expected;
    std::copy_if(expected_.begin(), expected_.end(), std::back_inserter(expected),
                 [](const auto& row) { return row[0] == "a" || std::stoi(row[1]) < 1000; });
    EXPECT_EQ(contents(folder), expected);
    EXPECT_TRUE(fs::exists(base + ".damaged-wal"));

    // Now the store, holding rows of its own, is found damaged while a kept file waits.
    const std::string second = storeDamagedWhileAKeptFileWaits();
    ASSERT_NE(openAndCarry(second), nullptr);
    EXPECT_EQ(contents(second).size(), expected.size() + 34);
    EXPECT_EQ(sqliteRows(second + "/" + kName, "SELECT count(*) FROM b WHERE n > 5000"), (Rows{{"34"}}));
    EXPECT_EQ(keptNames(second).count(kName + ".carried"), 1u);
    EXPECT_EQ(keptNames(second).count(kName + ".uncarried"), 0u);
    EXPECT_EQ(keptNames(second).count(kName + ".uncarried-2"), 0u);
}

// Ten launches that each find the store damaged leave one kept copy beside it.
TEST_F(APMSqliteStoreSalvageTest, TenDamagedLaunchesLeaveOneKeptCopy) {
    const std::string folder = folder_ + "/ten";
    fs::create_directories(folder);
    for (int launch = 0; launch < 10; ++launch) {
        std::ofstream(folder + "/" + kName, std::ios::trunc) << std::string(4096, static_cast<char>('a' + launch));
        ASSERT_NE(openAndCarry(folder), nullptr);
    }
    EXPECT_EQ(keptNames(folder), std::set<std::string>{kName + ".carried"});
}

// What was carried is recorded beside the store, never in it alone: a kept file carried whose name
// cannot change waits, and a store found damaged meanwhile takes nothing of that record with it.
// Every row arrives once.
TEST_F(APMSqliteStoreSalvageTest, AFileCarriedButNotNamedIsNotCarriedAgainWhenTheStoreIsDamaged) {
    const std::string folder = folder_ + "/unnamed";
    fs::create_directories(folder);
    const std::string base = folder + "/" + kName;
    writeDatabase(base + ".uncarried", "a", 1, 3000);
    for (int launch = 1; launch <= 2; ++launch) {
        FaultInjection faults;
        faults->failRename(base + ".uncarried", EPERM);
        const auto store = openTables(folder);
        ASSERT_NE(store, nullptr);
        EXPECT_EQ(APMSalvage::carryKeptFiles(*store).waiting, 1);
        if (launch == 1) {
            EXPECT_TRUE(store->executeSQL("INSERT INTO a (n, body) VALUES (-1, 'logged meanwhile')", nullptr));
        }
        store->closeDatabase();
        // The store is found damaged at the next opening: the root of its table a overwritten.
        if (launch == 1) {
            ASSERT_TRUE(overwritePage(base, 2, pageSizeOf(base)));
        }
    }
    ASSERT_NE(openAndCarry(folder), nullptr);
    EXPECT_EQ(sqliteRows(base, "SELECT count(*), count(DISTINCT n) FROM a"), (Rows{{"3001", "3001"}}));
    EXPECT_EQ(keptNames(folder).count(kName + ".salvage-record"), 0u);
}

// An earlier version named its copies ".damaged", ".damaged-2", ..., carried or not: each is
// carried once, none removed before it is read.
TEST_F(APMSqliteStoreSalvageTest, EveryCopyAnEarlierVersionKeptIsCarried) {
    const std::string folder = folder_ + "/earlier-copies";
    fs::create_directories(folder);
    const std::string base = folder + "/" + kName;
    writeDatabase(base + ".damaged", "a", 1, 20);
    writeDatabase(base + ".damaged-2", "a", 21, 20);
    writeDatabase(base + ".damaged-3", "b", 41, 20);
    ASSERT_NE(openAndCarry(folder), nullptr);
    EXPECT_EQ(sqliteRows(base, "SELECT count(DISTINCT n), min(n), max(n) FROM a"), (Rows{{"40", "1", "40"}}));
    EXPECT_EQ(sqliteRows(base, "SELECT count(*) FROM b"), (Rows{{"20"}}));
    expectOneCarriedCopy(folder);
}

// A kept file no opening can read waits a few openings, then is given up on once, said so, and
// kept for a person under a name of its own; later openings no longer try it. One that can only be
// read is carried, and stays as it was.
TEST_F(APMSqliteStoreSalvageTest, AFileNoOpeningCanReadIsGivenUpOnceAndAFileOnlyReadStaysAsItWas) {
    const std::string folder = folder_ + "/unopenable";
    fs::create_directories(folder);
    const std::string base = folder + "/" + kName;
    writeDatabase(base + ".uncarried", "a", 1, 20);
    LogCapture capture;
    {
        FaultInjection faults;
        faults->inject(FaultyFileIO::Operation::Open, "*/" + kName + ".uncarried", EACCES);
        for (int launch = 1; launch <= APMSalvage::kReadsBeforeGivingUp + 2; ++launch) {
            SCOPED_TRACE("launch " + std::to_string(launch));
            const int before = faults->injected();
            const auto store = openTables(folder);
            ASSERT_NE(store, nullptr);
            EXPECT_EQ(APMSalvage::carryKeptFiles(*store).waiting, launch <= APMSalvage::kReadsBeforeGivingUp ? 1 : 0);
            // Given up on, it is never tried again.
            if (launch > APMSalvage::kReadsBeforeGivingUp + 1) {
                EXPECT_EQ(faults->injected(), before);
            }
        }
    }
    EXPECT_EQ(capture.matching("[I-ACS034028]").size(), 1u);
    EXPECT_EQ(capture.matching("[I-ACS034026]").size(), static_cast<std::size_t>(APMSalvage::kReadsBeforeGivingUp));
    EXPECT_EQ(keptNames(folder), std::set<std::string>{kName + ".unread"});
    EXPECT_EQ(sqliteRows(base + ".unread", "SELECT count(*) FROM a"), (Rows{{"20"}}));

    fs::rename(base + ".unread", base + ".uncarried");
    const auto bytes = [](const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    };
    const std::string kept = bytes(base + ".uncarried");
    ASSERT_NE(openAndCarry(folder), nullptr);
    EXPECT_EQ(sqliteRows(base, "SELECT count(*) FROM a"), (Rows{{"20"}}));
    EXPECT_EQ(bytes(base + ".carried"), kept);
}

// What a salvage leaves on a disk with no more room than the carry asks for: the store with the
// rows, its log emptied, and no copy of a kept file too large to keep.
TEST_F(APMSqliteStoreSalvageTest, ASalvageLeavesTheStoreAloneWithItsLogEmptied) {
    const std::string folder = folder_ + "/left";
    const std::string base = folder + "/" + kName;
    fs::create_directories(folder);
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open((base + ".uncarried").c_str(), &writer), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(writer, "CREATE TABLE a (n INTEGER, body TEXT); WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL "
                                   "SELECT n + 1 FROM c WHERE n < 20000) INSERT INTO a SELECT n, hex(randomblob(120)) FROM c",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(writer);
    const auto size = fs::file_size(base + ".uncarried");
    ASSERT_GT(size, APMKeptFiles::kCarriedCopyBytes);
    {
        const auto store = openTables(folder);
        ASSERT_NE(store, nullptr);
        ScopedFileIO disk(std::make_shared<QuotaFileIO>(folder, 3 * size + (1u << 20) + (64u << 10)));
        EXPECT_EQ(APMSalvage::carryKeptFiles(*store).waiting, 0);
        // While the store is open: its closing would empty the log too.
        EXPECT_LT(fs::file_size(base + "-wal"), 64u << 10);
    }
    EXPECT_EQ(sqliteRows(base, "SELECT count(*) FROM a"), (Rows{{"20000"}}));
    EXPECT_TRUE(keptNames(folder).empty());
}

// The disk as it is: a carry that would not fit waits, and one that meets a full disk gives its
// room back at once (the log emptied, the working copy gone), the store taking rows all along. Such
// openings are no fault of the kept file's: however many, they never give up on it.
class LittleRoomFileIO : public FaultyFileIO {
public:
    int freeBytes(const std::string&, std::uint64_t& bytes) override {
        bytes = 400u << 10;
        return 0;
    }
};

TEST_F(APMSqliteStoreSalvageTest, ACarryThatCannotFitWaitsAndOneThatFillsTheDiskGivesItsRoomBack) {
    const std::string folder = folder_ + "/room";
    fs::create_directories(folder);
    const std::string base = folder + "/" + kName;
    writeDatabase(base + ".uncarried", "a", 1, 3000);
    LogCapture capture;
    {
        ScopedFileIO little(std::make_shared<LittleRoomFileIO>());
        const auto store = openTables(folder);
        ASSERT_NE(store, nullptr);
        EXPECT_EQ(APMSalvage::carryKeptFiles(*store).waiting, 1);
        EXPECT_TRUE(store->executeSQL("INSERT INTO a (n, body) VALUES (-1, 'logged meanwhile')", nullptr));
    }
    const auto waited = capture.matching("[I-ACS034026]");
    ASSERT_EQ(waited.size(), 1u);
    EXPECT_NE(waited[0].find("Not enough room"), std::string::npos) << waited[0];
    const int full = APMSalvage::kReadsBeforeGivingUp + 1;
    for (int launch = 1; launch <= full; ++launch) {
        SCOPED_TRACE("full disk " + std::to_string(launch));
        FaultInjection faults;
        const auto store = openTables(folder);
        ASSERT_NE(store, nullptr);
        // Under the working copy, or under the store's log once the rows are read.
        faults->noSpace(base + (launch % 2 ? ".carrying" : "-wal"));
        EXPECT_EQ(APMSalvage::carryKeptFiles(*store).waiting, 1);
        EXPECT_GT(faults->injected(), 0);
        EXPECT_EQ(fs::file_size(base + "-wal"), 0u);
        EXPECT_FALSE(fs::exists(base + ".carrying"));
        faults->clear();
        EXPECT_TRUE(store->executeSQL("INSERT INTO a (n, body) VALUES (-1" + std::to_string(launch) + ", 'logged meanwhile')",
                                      nullptr));
    }
    ASSERT_NE(openAndCarry(folder), nullptr);
    EXPECT_EQ(sqliteRows(base, "SELECT count(*), count(DISTINCT n) FROM a"),
              (Rows{{std::to_string(3001 + full), std::to_string(3001 + full)}}));
    EXPECT_TRUE(capture.matching("[I-ACS034028]").empty());
}

// A read cancelled as it goes (the application ends meanwhile) is no attempt of the file's: however
// many such openings there are, it waits, and the first opening not cancelled carries it whole.
TEST_F(APMSqliteStoreSalvageTest, ACancelledReadLeavesTheFileWaitingWithoutUsingUpAnAttempt) {
    const std::string folder = folder_ + "/cancelled";
    fs::create_directories(folder);
    const std::string kept = folder + "/" + kName + ".uncarried";
    writeDatabase(kept, "a", 1, 3000);
    LogCapture capture;
    for (int launch = 1; launch <= APMSalvage::kReadsBeforeGivingUp + 1; ++launch) {
        SCOPED_TRACE("launch " + std::to_string(launch));
        const auto cancellation = DispatchCancellation::make();
        std::future<int> waiting;
        // The reader's own opening of the file, after the one that reads its identity.
        HeldOpen held(kept, 2);
        waiting = std::async(std::launch::async, [&] {
            const auto store = openTables(folder);
            return store ? APMSalvage::carryKeptFiles(*store, {}, cancellation).waiting : -1;
        });
        ASSERT_TRUE(held->waitUntilHeld(kBound));
        cancellation->cancel();
        held->release();
        EXPECT_EQ(waiting.get(), 1);
    }
    const auto waited = capture.matching("[I-ACS034026]");
    ASSERT_EQ(waited.size(), static_cast<std::size_t>(APMSalvage::kReadsBeforeGivingUp + 1));
    for (const std::string& line : waited) EXPECT_NE(line.find("the read was cancelled"), std::string::npos) << line;
    EXPECT_FALSE(fs::exists(folder + "/" + kName + ".carrying"));

    ASSERT_NE(openAndCarry(folder), nullptr);
    EXPECT_TRUE(capture.matching("[I-ACS034028]").empty());
    EXPECT_EQ(sqliteRows(folder + "/" + kName, "SELECT count(*), count(DISTINCT n) FROM a"), (Rows{{"3000", "3000"}}));
}

// Runs only in the child started below: an opening killed as it reads the kept file.
TEST(APMSqliteStoreSalvageChild, DISABLED_KilledWhileReading) {
    const std::string folder = std::getenv(kFolderVariable);
    ScopedFileIO scope(std::make_shared<BadSectorFileIO>(folder, ".uncarried", 0, ~0ull >> 1, true));
    EXPECT_NE(openAndCarry(folder), nullptr);
}

// An opening killed while it reads a kept file counts toward giving up on it, as one whose read
// fails does: after kReadsBeforeGivingUp of them the next gives up on it, and keeps it for a person.
TEST_F(APMSqliteStoreSalvageTest, AnOpeningKilledWhileReadingCountsTowardGivingUp) {
    const std::string folder = folder_ + "/killed";
    fs::create_directories(folder);
    writeDatabase(folder + "/" + kName + ".uncarried", "a", 1, 20);
    for (int launch = 1; launch <= APMSalvage::kReadsBeforeGivingUp; ++launch) {
        const ProcessRun child = runDisabledTestsInChild("APMSqliteStoreSalvageChild.DISABLED_KilledWhileReading",
                                                         {kFolderVariable + ("=" + folder)});
        ASSERT_NE(child.output.find("killed while reading"), std::string::npos) << child.output;
    }
    LogCapture capture;
    ASSERT_NE(openAndCarry(folder), nullptr);
    EXPECT_EQ(capture.matching("[I-ACS034028]").size(), 1u);
    EXPECT_EQ(keptNames(folder), std::set<std::string>{kName + ".unread"});
}

// A power cut after a carry's commit, before the record's line, and the store found damaged at the
// next opening: what the store says it carried goes beside it before it is set aside, so that the
// kept file is only named carried, and every row arrives once, through the store set aside.
TEST_F(APMSqliteStoreSalvageTest, AStoreSetAsideAfterACutBeforeTheRecordsLineCarriesEveryRowOnce) {
    const std::string folder = folder_ + "/word";
    const std::string image = folder_ + "/word-cut";
    fs::create_directories(folder);
    writeDatabase(folder + "/" + kName + ".uncarried", "a", 1, 3000);
    {
        int lines = 0;
        std::shared_ptr<SteppedFileIO> cut;
        cut = std::make_shared<SteppedFileIO>(folder, [&](const std::string& step, const std::string& path) {
            // The record's second line: that the file was carried.
            if (step == "sync" && path == folder + "/" + kName + ".salvage-record" && ++lines == 2) {
                ASSERT_EQ(cut->writeImage(image), 0);
            }
        });
        ScopedFileIO scope(cut);
        ASSERT_NE(openAndCarry(folder), nullptr);
    }
    // The store's table a damaged, once the log the cut kept is in its file.
    const std::string store = image + "/" + kName;
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(store.c_str(), &writer), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(writer, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(writer);
    ASSERT_EQ(sqliteRows(store, "SELECT count(*) FROM a"), (Rows{{"3000"}}));
    ASSERT_TRUE(overwritePage(store, 2, pageSizeOf(store)));
    ASSERT_NE(openAndCarry(image), nullptr);
    EXPECT_EQ(sqliteRows(store, "SELECT count(*), count(DISTINCT n) FROM a"), (Rows{{"3000", "3000"}}));
    EXPECT_EQ(keptNames(image).count(kName + ".uncarried") + keptNames(image).count(kName + ".uncarried-2"), 0u);
}

// A kept file is known by all its bytes: one at the name of a file carried but not yet named so,
// of its size and with its first 64 KB, is read and carried all the same.
TEST_F(APMSqliteStoreSalvageTest, AFileOfACarriedOnesNameSizeAndFirstPagesIsReadAndCarried) {
    const std::string folder = folder_ + "/known";
    const std::string kept = folder + "/" + kName + ".uncarried";
    fs::create_directories(folder);
    writeDatabase(kept, "a", 1, 10000);
    std::ifstream read(kept, std::ios::binary);
    std::string other((std::istreambuf_iterator<char>(read)), std::istreambuf_iterator<char>());
    ASSERT_GT(other.rfind("row 9999"), std::size_t{64} << 10);
    other.replace(other.rfind("row 9999"), 8, "ROW 9999");
    {
        FaultInjection faults;
        faults->failRename(kept, EPERM);
        EXPECT_EQ(openAndCarry(folder), nullptr);
    }
    std::ofstream(kept, std::ios::binary | std::ios::trunc) << other;
    ASSERT_NE(openAndCarry(folder), nullptr);
    EXPECT_EQ(sqliteRows(folder + "/" + kName, "SELECT count(*), sum(body = 'ROW 9999') FROM a"), (Rows{{"20000", "1"}}));
}
