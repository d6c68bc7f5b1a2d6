// A salvage cut short at any of its steps, by a kill or by a power cut: the next opening ends
// with every row of the damaged file that still reads, each once, and one kept copy beside it.
#include "analytics/core/APMSqliteStore.h"

#include "LogCapture.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/DamagedPages.h"
#include "tests/fixtures/DisabledTestsChild.h"
#include "tests/fixtures/FaultyFileIO.h"
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
using Rows = std::vector<std::vector<std::string>>;

constexpr const char* kFolderVariable = "APM_SALVAGE_FOLDER";
constexpr const char* kStepVariable = "APM_SALVAGE_END_AT";
const std::string kName = "db.sql";

// The opening an owner makes: the store, its tables, the carry. The open store, or none.
std::shared_ptr<APMSqliteStore> openAndCarry(const std::string& folder) {
    auto store = APMSqliteStore::initWithDatabasePath(folder + "/" + kName, nullptr);
    const bool made = store && store->useWriteAheadLog(nullptr) &&
                      store->executeSQL("CREATE TABLE IF NOT EXISTS a (n INTEGER, body TEXT)", nullptr) &&
                      store->executeSQL("CREATE TABLE IF NOT EXISTS b (n INTEGER, body TEXT)", nullptr);
    return made && store->carryRowsFromKeptFile(nullptr) ? store : nullptr;
}

Rows contents(const std::string& folder) {
    return sqliteRows(folder + "/" + kName,
                      "SELECT 'a', rowid, n, body FROM a UNION ALL SELECT 'b', rowid, n, body FROM b ORDER BY 1, 2");
}

// After a finished salvage: nothing uncarried, and of the kept copies only the newest, a database.
void expectOneCarriedCopy(const std::string& folder) {
    std::set<std::string> kept;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kName + ".", 0) == 0 && name != kName + ".damaged-shm") kept.insert(name);
    }
    EXPECT_EQ(kept, std::set<std::string>{kName + ".damaged"}) << folder;
    EXPECT_EQ(sqliteRows(folder + "/" + kName + ".damaged", "SELECT count(*) FROM sqlite_master"), (Rows{{"2"}}));
}

class APMSqliteStoreSalvageTest : public testing::Test {
protected:
    // Table `a` checkpointed into the file, the header of one of its pages overwritten; `b` in the
    // log alone, which the salvage must take with the file; beside them, copies an earlier salvage
    // kept, which the newest replaces. And what a salvage nothing cuts short carries of it.
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
        for (const char* older : {".damaged", ".damaged-wal", ".damaged-2"}) {
            std::ofstream(damaged_ + "/" + kName + older) << "an older copy";
        }
        fs::copy(damaged_, folder_ + "/whole");
        ASSERT_NE(openAndCarry(folder_ + "/whole"), nullptr);
        expected_ = contents(folder_ + "/whole");
        ASSERT_EQ(expected_.size(), static_cast<std::size_t>(150 - lost + 40));
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string run() const {
        fs::remove_all(folder_ + "/run");
        fs::copy(damaged_, folder_ + "/run");
        return folder_ + "/run";
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
    const std::string folder = run();
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

// A kept file that cannot be read for a reason of the moment (a failing disk) is no damaged file:
// it stays uncarried, with everything else, for the next opening. A wipe takes it too.
TEST_F(APMSqliteStoreSalvageTest, AKeptFileThatCannotBeReadNowWaitsForTheNextOpening) {
    const std::string folder = run();
    LogCapture capture;
    {
        FaultInjection faults;
        faults->ioError(FaultyFileIO::Operation::Read, "*/" + kName + ".uncarried");
        EXPECT_EQ(openAndCarry(folder), nullptr);
        EXPECT_GT(faults->injected(), 0);
    }
    EXPECT_EQ(capture.matching("[I-ACS034026]").size(), 1u);
    EXPECT_TRUE(capture.matching("[I-ACS034025]").empty());
    fs::copy(folder, folder_ + "/wiped");
    ASSERT_NE(openAndCarry(folder), nullptr);
    EXPECT_EQ(contents(folder), expected_);
    expectOneCarriedCopy(folder);

    ASSERT_TRUE(fs::exists(folder_ + "/wiped/" + kName + ".uncarried"));
    APMSqliteStore::deleteKeptFiles(folder_ + "/wiped/" + kName);
    for (const auto& entry : fs::directory_iterator(folder_ + "/wiped")) {
        EXPECT_EQ(entry.path().filename().string().rfind(kName + ".", 0), std::string::npos) << entry.path();
    }
}
