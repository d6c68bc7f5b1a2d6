// A salvage cut short at any of its steps, by a kill or by a power cut: the next opening ends
// with every row of the damaged file that still reads, each once, and one kept copy beside it.
#include "analytics/core/APMSqliteStore.h"

#include "LogCapture.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/DamagedPages.h"
#include "tests/fixtures/DisabledTestsChild.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/PowerCutFileIO.h"
#include "tests/fixtures/SqliteRows.h"
#include "tests/fixtures/SteppedFileIO.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

namespace fs = std::filesystem;

constexpr const char* kFolderVariable = "APM_SALVAGE_FOLDER";
constexpr const char* kStepVariable = "APM_SALVAGE_END_AT";
constexpr const char* kName = "db.sql";

using Rows = std::vector<std::vector<std::string>>;

std::string setting(const char* name, const std::string& value) {
    std::string text = name;
    text += '=';
    text += value;
    return text;
}

// The opening an owner makes: the store, its tables, the carry. The open store, or none.
std::shared_ptr<APMSqliteStore> openAndCarry(const std::string& folder) {
    NSErrorPtr error;
    auto store = APMSqliteStore::initWithDatabasePath(folder + "/" + kName, &error);
    if (!store || !store->useWriteAheadLog(&error)) return nullptr;
    for (const char* table : {"a", "b"}) {
        if (!store->executeSQL(std::string("CREATE TABLE IF NOT EXISTS ") + table + " (n INTEGER, body TEXT)", &error))
            return nullptr;
    }
    return store->carryRowsFromKeptFile(&error) ? store : nullptr;
}

// Every row of both tables with its rowid, as the file holds them.
Rows contents(const std::string& folder) {
    return sqliteRows(folder + "/" + kName,
                      "SELECT 'a', rowid, n, body FROM a UNION ALL SELECT 'b', rowid, n, body FROM b ORDER BY 1, 2");
}

// After a finished salvage: no uncarried file, and of the kept ones only the newest, a database.
void expectOneCarriedCopy(const std::string& folder) {
    std::set<std::string> kept;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(std::string(kName) + ".", 0) == 0) kept.insert(name);
    }
    kept.erase(std::string(kName) + ".damaged-shm");
    EXPECT_EQ(kept, (std::set<std::string>{std::string(kName) + ".damaged"})) << folder;
    EXPECT_EQ(sqliteRows(folder + "/" + kName + ".damaged", "SELECT count(*) FROM sqlite_master WHERE name = 'a'"),
              (Rows{{"1"}}));
}

class APMSqliteStoreSalvageTest : public testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        folder_ = Sandbox::tmp() + "/salvage-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
        damaged_ = folder_ + "/damaged";
        makeDamagedStore();
        // What a salvage that nothing cuts short carries.
        const std::string whole = folder_ + "/whole";
        fs::copy(damaged_, whole);
        ASSERT_NE(openAndCarry(whole), nullptr);
        expected_ = contents(whole);
        ASSERT_EQ(expected_.size(), static_cast<std::size_t>(kRowsOfA - lost_ + kRowsOfB));
    }
    void TearDown() override { fs::remove_all(folder_); }

    // Two tables: `a` checkpointed into the file, one of its pages' header overwritten; `b` in the
    // log alone, which the salvage must take with the file. Beside them, copies an earlier salvage
    // kept, which the newest replaces.
    void makeDamagedStore() {
        const std::string source = folder_ + "/source/" + kName;
        fs::create_directories(folder_ + "/source");
        fs::create_directories(damaged_);
        sqlite3* writer = nullptr;
        ASSERT_EQ(sqlite3_open(source.c_str(), &writer), SQLITE_OK);
        const auto fill = [](const char* table, int count) {
            return "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < " +
                   std::to_string(count) + ") INSERT INTO " + table +
                   " SELECT n, replace(hex(zeroblob(200)), '0', char(65 + n % 26)) FROM c;";
        };
        const std::string sql = "PRAGMA journal_mode=WAL; CREATE TABLE a (n INTEGER, body TEXT);"
                                "CREATE TABLE b (n INTEGER, body TEXT);" +
                                fill("a", kRowsOfA) + "PRAGMA wal_checkpoint(TRUNCATE); PRAGMA wal_autocheckpoint=0;" +
                                fill("b", kRowsOfB);
        ASSERT_EQ(sqlite3_exec(writer, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(writer);
        // Taken while the writer still has them open, as a kill leaves them.
        lost_ = overwriteLeafHeader(source, "a", 2);
        fs::copy_file(source, damaged_ + "/" + kName);
        fs::copy_file(source + "-wal", damaged_ + "/" + kName + "-wal");
        sqlite3_close(writer);
        ASSERT_GT(lost_, 0);
        for (const char* older : {".damaged", ".damaged-wal", ".damaged-2"}) {
            std::ofstream(damaged_ + "/" + kName + older) << "an older copy";
        }
    }

    static constexpr int kRowsOfA = 150;
    static constexpr int kRowsOfB = 40;
    std::string folder_;
    std::string damaged_;
    int lost_ = 0;
    Rows expected_;
};

}  // namespace

// Runs only in the child started below: the salvage, ended at the step the parent names.
TEST(APMSqliteStoreSalvageChild, DISABLED_EndedAtOneStep) {
    const char* folder = std::getenv(kFolderVariable);
    const char* endAt = std::getenv(kStepVariable);
    ASSERT_TRUE(folder && endAt);
    const std::string salvaged = folder;
    const int last = std::atoi(endAt);
    // Counted on the heap and by the salvage's files alone: the process's other threads may write
    // files of their own through the hook, even after the test.
    auto steps = std::make_shared<std::atomic<int>>(0);
    auto io = std::make_shared<SteppedFileIO>(FileIO::current(), [=](const std::string& step, const std::string& path) {
        if (path.rfind(salvaged, 0) != 0 || ++*steps < last) return;
        std::fprintf(stderr, "ended before step %d: %s %s\n", last, step.c_str(), path.c_str());
        std::fflush(stderr);
        // A SIGTERM ends the process at once, as a kill does.
        std::raise(last % 2 ? SIGTERM : SIGKILL);
    });
    ScopedFileIO scope(io);
    EXPECT_NE(openAndCarry(folder), nullptr);
}

// Set aside, carried a table at a time, checkpointed, the older copies removed, named carried:
// a process ended before any of those steps leaves the next opening to finish, with no row lost
// and none carried twice.
TEST_F(APMSqliteStoreSalvageTest, AProcessEndedAtAnyStepLeavesEveryRowOnceToTheNextOpening) {
    const std::string run = folder_ + "/run";
    int step = 1;
    for (;; ++step) {
        SCOPED_TRACE("ended before step " + std::to_string(step));
        fs::remove_all(run);
        fs::copy(damaged_, run);
        const ProcessRun child = runDisabledTestsInChild("APMSqliteStoreSalvageChild.DISABLED_EndedAtOneStep",
                                                         {setting(kFolderVariable, run),
                                                          setting(kStepVariable, std::to_string(step))});
        if (child.status == 0) break;
        ASSERT_NE(child.output.find("ended before step " + std::to_string(step) + ":"), std::string::npos)
            << child.output;
        ASSERT_NE(openAndCarry(run), nullptr);
        EXPECT_EQ(contents(run), expected_);
        expectOneCarriedCopy(run);
    }
    EXPECT_EQ(contents(run), expected_);
    expectOneCarriedCopy(run);
    EXPECT_GT(step, 10);
}

// The disk as a power cut would leave it, at every step of the salvage and after it: after it,
// the file itself holds every carried row under the one kept copy; during it, the next opening
// from that disk ends with every row once.
TEST_F(APMSqliteStoreSalvageTest, APowerCutAtAnyStepLeavesEveryRowOnceAndAfterItTheFileHoldsThem) {
    const std::string run = folder_ + "/run";
    fs::copy(damaged_, run);
    std::vector<std::string> images;
    const std::string after = folder_ + "/after";
    {
        auto cut = std::make_shared<PowerCutFileIO>(run);
        // Only the salvage's own steps, by value: other threads may still come through after the test.
        auto io = std::make_shared<SteppedFileIO>(cut, [&images, cut, run, this](const std::string&,
                                                                               const std::string& path) {
            if (path.rfind(run, 0) != 0) return;
            images.push_back(folder_ + "/image-" + std::to_string(images.size()));
            ASSERT_EQ(cut->writeImage(images.back()), 0);
        });
        ScopedFileIO scope(io);
        const auto store = openAndCarry(run);
        ASSERT_NE(store, nullptr);
        ASSERT_EQ(cut->writeImage(after), 0);
    }
    EXPECT_EQ(contents(after), expected_);
    expectOneCarriedCopy(after);
    ASSERT_GT(images.size(), 10u);
    for (const std::string& image : images) {
        SCOPED_TRACE(image);
        ASSERT_NE(openAndCarry(image), nullptr);
        EXPECT_EQ(contents(image), expected_);
        expectOneCarriedCopy(image);
    }
}

// A kept file that cannot be read for a reason of the moment (a failing disk) is no damaged
// file: it stays uncarried, with everything else, for the next opening.
TEST_F(APMSqliteStoreSalvageTest, AKeptFileThatCannotBeReadNowWaitsForTheNextOpening) {
    const std::string run = folder_ + "/run";
    fs::copy(damaged_, run);
    LogCapture capture;
    {
        FaultInjection faults;
        faults->ioError(FaultyFileIO::Operation::Read, "*/" + std::string(kName) + ".uncarried");
        EXPECT_EQ(openAndCarry(run), nullptr);
        EXPECT_GT(faults->injected(), 0);
    }
    EXPECT_EQ(capture.matching("[I-ACS034026]").size(), 1u);
    EXPECT_TRUE(capture.matching("[I-ACS034025]").empty());
    EXPECT_TRUE(fs::exists(run + "/" + kName + ".uncarried"));
    ASSERT_NE(openAndCarry(run), nullptr);
    EXPECT_EQ(contents(run), expected_);
    expectOneCarriedCopy(run);
}
