// A home left in a state no phone would leave it in, through the simulator: a FIFO where the
// current track's file belongs neither holds the launch nor any later command, and the track
// says it cannot be played. Links and things that are no files where the measurement and
// experiments databases, their logs, the diagnostics log or the home's lock belong go aside:
// nothing outside the home is written, and measurement and experiments work on that launch.
#include "demo/generator/DemoCatalogue.h"
#include "demo/measurement/MeasurementService.h"
#include "tests/app/ServedBundleTest.h"
#include "tests/fixtures/Fifo.h"
#include "tests/fixtures/SpecialFiles.h"
#include "tests/fixtures/SqliteRows.h"

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace {

class HostileHomeScript : public ServedBundleTest {
protected:
    HostileHomeScript() : ServedBundleTest("hostile-home") {}

    // As runScript, ended after `seconds` of real time (status 124) if it has not ended by then.
    ProcessRun runWithin(int seconds, const std::string& script, const std::string& arguments) {
        const std::string path = served + "-script.txt";
        std::ofstream(path) << script;
        return runCommand("timeout -k 5 " + std::to_string(seconds) + " " + std::string(OSTREL_SIM) + " --bundle " +
                          bundle + " --home " + home + " --default APMMeasurementEndpointHost=127.0.0.1:9 " + arguments +
                          " --script " + path + " 2>&1 </dev/null");
    }

    static std::string contents(const std::string& path) {
        std::ifstream file(path);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }
    static std::size_t occurrences(const std::string& text, const std::string& part) {
        std::size_t count = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
        return count;
    }
    // Every file in `folder` by name, with its bytes: what a launch must leave as it was.
    static std::map<std::string, std::string> filesIn(const std::string& folder) {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            files[entry.path().filename().string()] = contents(entry.path().string());
        return files;
    }
    static bool isLink(const std::string& path) { return std::filesystem::is_symlink(path); }

    std::string measurementDatabase() const {
        return home + "/Library/Application Support/Vizudi/Measurement/vizudi-app-measurement.sql";
    }
    std::string experimentsDatabase() const {
        return home + "/Library/Application Support/Vizudi/Measurement/vizudi_experimentation_database.sql";
    }

    // One launch pointed at the measurement service, as a person types: it goes to the background,
    // waits until the service has its first upload, lets the application finish with it, and
    // quits. What the launch printed.
    std::string launchUntilUploaded() {
        const std::string certificate = served + "-measurement.pem";
        std::ofstream(certificate) << MeasurementService::certificatePEM();
        const std::string output = served + "-output.txt";
        const std::string command = "timeout -k 5 300 " + std::string(OSTREL_SIM) + " --bundle " + bundle +
                                    " --home " + home + " --default APMMeasurementEndpointHost=" + measurement.host() +
                                    " --trust-anchor 127.0.0.1=" + certificate + " >" + output + " 2>&1";
        FILE* input = popen(command.c_str(), "w");
        EXPECT_NE(input, nullptr);
        if (!input) return "";
        std::fputs("background\n", input);
        std::fflush(input);
        // Only a safety net, generous enough for eight copies of the suite on two cores.
        const bool uploaded = measurement.waitForUploads(1, 120);
        if (uploaded) std::fputs("idle 120\n", input);
        std::fputs("quit\n", input);
        const int status = pclose(input);
        const std::string shown = contents(output);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
        EXPECT_TRUE(uploaded) << shown;
        return shown;
    }

    // The three tables of the experiments database, read after the launch.
    std::vector<std::vector<std::string>> experimentsTables() const {
        return sqliteRows(experimentsDatabase(), "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    }
    static const std::vector<std::vector<std::string>>& kExperimentsTables() {
        static const std::vector<std::vector<std::string>> tables = {
            {"activated_snapshot_table"}, {"launched_snapshot_table"}, {"pending_snapshot_table"}};
        return tables;
    }

    // A folder beside the home, which no launch may write.
    const std::string outside = Sandbox::tmp() + "/hostile-home-outside";
    MeasurementService measurement;
};

}  // namespace

TEST_F(HostileHomeScript, AFifoAsTheCurrentTracksFileHoldsNothingAndTheTrackCannotPlay) {
    const auto& compositions = DemoCatalogue::compositions();
    const auto streamed = std::find_if(compositions.begin(), compositions.end(),
                                       [](const DemoComposition& c) { return !DemoCatalogue::isCompositionInBundle(c); });
    ASSERT_NE(streamed, compositions.end());
    const auto& composers = DemoCatalogue::composers();
    const auto composer = std::find_if(composers.begin(), composers.end(),
                                       [&](const DemoComposer& c) { return c.index == streamed->composer; });
    ASSERT_NE(composer, composers.end());
    const std::string fifo = home + "/Documents/" + streamed->filepath;
    std::filesystem::create_directories(std::filesystem::path(fifo).parent_path());
    ASSERT_TRUE(Fifo::make(fifo));

    // A launch that waited on the FIFO took minutes for its first screen, and a play that opened
    // it never came back.
    const ProcessRun run =
        runWithin(120,
                  "advance 1\n"
                  "expect == Gallery ==\n"
                  "tap menu\n"
                  "tap Music Library\n"
                  "expect == " + std::string(composer->name.in("en")) + " / " + streamed->name.in("en") + " ==\n"
                  "tap play\n"
                  "expect == alert: Cannot play ==\n"
                  "expect This file is not music that can be played.\n"
                  "tap OK\n"
                  "expect button \"play\"\n",
                  "'--default' 'kMediaPlayerLastPlayedIndex=" + std::string(streamed->filepath) + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    std::ifstream log(home + "/diagnostics.log");
    const std::string diagnostics((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(diagnostics.find(std::string("The composition ") + streamed->filepath + " cannot be played"),
              std::string::npos)
        << diagnostics;
}

// A link where the measurement database keeps its log leads to a person's text file outside the
// home, and one where it keeps its shared memory to another file: the log would be written over
// the text, and the shared memory would keep measurement off at every launch. They go aside.
TEST_F(HostileHomeScript, LinksWhereTheMeasurementLogAndSharedMemoryBelongGoAsideAndNothingOutsideIsWritten) {
    // The database of an earlier launch, in write-ahead-log mode.
    std::filesystem::create_directories(std::filesystem::path(measurementDatabase()).parent_path());
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(measurementDatabase().c_str(), &handle), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(handle, "PRAGMA journal_mode=WAL; CREATE TABLE earlier(a)", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(handle);
    std::filesystem::create_directories(outside);
    std::string text;
    for (int line = 0; text.size() < 74000; ++line) text += "A line of a person's notes, number " + std::to_string(line) + ".\n";
    text.resize(74000);
    std::ofstream(outside + "/notes.txt") << text;
    std::ofstream(outside + "/memory.bin") << std::string(4096, 'm');
    std::filesystem::create_symlink(outside + "/notes.txt", measurementDatabase() + "-wal");
    std::filesystem::create_symlink(outside + "/memory.bin", measurementDatabase() + "-shm");
    const auto before = filesIn(outside);

    const std::string shown = launchUntilUploaded();
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(filesIn(outside), before);
    EXPECT_EQ(before.at("notes.txt").size(), 74000u);
    for (const char* suffix : {"-wal", "-shm"}) {
        EXPECT_EQ(std::filesystem::read_symlink(measurementDatabase() + suffix + ".moved"),
                  outside + (std::string(suffix) == "-wal" ? "/notes.txt" : "/memory.bin"));
        EXPECT_FALSE(isLink(measurementDatabase() + suffix)) << suffix;
    }
    const std::string said = contents(home + "/diagnostics.log");
    EXPECT_EQ(occurrences(said, "Moved what was not a database file out of its place"), 2u) << said;
    EXPECT_EQ(said.find("[I-ACS012001]"), std::string::npos) << said;
    EXPECT_EQ(experimentsTables(), kExperimentsTables()) << said;
}

// Links that lead nowhere, into a folder outside the home, where the measurement and experiments
// databases and their logs, the diagnostics log and the home's lock belong: each file would be
// made where its link leads. They go aside, and the files are made in the home.
TEST_F(HostileHomeScript, LinksThatLeadNowhereWhereTheHomesFilesBelongGoAsideAndTheFilesAreMadeInTheHome) {
    std::filesystem::create_directories(std::filesystem::path(measurementDatabase()).parent_path());
    std::filesystem::create_directories(outside);
    const std::vector<std::string> places = {measurementDatabase(),    measurementDatabase() + "-wal",
                                             experimentsDatabase(),    experimentsDatabase() + "-wal",
                                             home + "/diagnostics.log", home + "/simulator.lock"};
    for (const std::string& place : places) {
        const std::string name = std::filesystem::path(place).filename().string();
        std::filesystem::create_symlink(outside + "/" + name, place);
    }

    const std::string shown = launchUntilUploaded();
    ASSERT_FALSE(HasFailure());
    EXPECT_TRUE(std::filesystem::is_empty(outside)) << shown;
    for (const std::string& place : places) {
        EXPECT_TRUE(isLink(place + ".moved")) << place;
        EXPECT_FALSE(isLink(place)) << place;
    }
    for (const std::string& file : {measurementDatabase(), experimentsDatabase(), home + "/diagnostics.log",
                                    home + "/simulator.lock"})
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(file))) << file;
    const std::string said = contents(home + "/diagnostics.log");
    EXPECT_NE(said.find("The link where the log belongs was moved to " + home + "/diagnostics.log.moved"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("The link where the home's lock belongs was moved to " + home + "/simulator.lock.moved"),
              std::string::npos)
        << said;
    EXPECT_EQ(occurrences(said, "Moved what was not a database file out of its place"), 4u) << said;
    EXPECT_EQ(experimentsTables(), kExperimentsTables()) << said;
}

// A FIFO where the experiments database belongs, a socket where it keeps its log, a folder where
// it keeps its shared memory and a device where it keeps its journal kept experiments off at
// every launch: they go aside, and experiments start with a database of their own.
TEST_F(HostileHomeScript, WhatIsNoFileWhereTheExperimentsDatabaseOrItsLogBelongsGoesAsideAndExperimentsWork) {
    std::filesystem::create_directories(std::filesystem::path(experimentsDatabase()).parent_path());
    ASSERT_TRUE(Fifo::make(experimentsDatabase()));
    ASSERT_TRUE(SpecialFiles::socketAt(experimentsDatabase() + "-wal", Sandbox::tmp()));
    std::filesystem::create_directories(experimentsDatabase() + "-shm");
    std::ofstream(experimentsDatabase() + "-shm/kept.txt") << "someone's";
    ASSERT_TRUE(SpecialFiles::deviceAt(experimentsDatabase() + "-journal"));

    const std::string shown = launchUntilUploaded();
    ASSERT_FALSE(HasFailure());
    const std::string said = contents(home + "/diagnostics.log");
    EXPECT_EQ(said.find("[I-ACS810001]"), std::string::npos) << said;
    EXPECT_EQ(experimentsTables(), kExperimentsTables()) << said;
    EXPECT_TRUE(std::filesystem::is_fifo(experimentsDatabase() + ".moved"));
    EXPECT_TRUE(std::filesystem::is_socket(experimentsDatabase() + "-wal.moved"));
    EXPECT_EQ(contents(experimentsDatabase() + "-shm.moved/kept.txt"), "someone's");
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(experimentsDatabase() + "-journal.moved")));
    EXPECT_EQ(occurrences(said, "Moved what was not a database file out of its place"), 4u) << said;
}
