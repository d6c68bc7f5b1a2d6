// Where diagnostics go: standard error by default; a log file, echoed or not, once chosen;
// what a person must act on reaches standard error in any case; a log that cannot be opened
// or written leaves them on standard error and says so; lines from many threads stay whole.
#include "platform/foundation/Diagnostics.h"

#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/Fifo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string logIn(const std::string& name) {
    const std::string folder = Sandbox::tmp() + "/" + name;
    std::filesystem::remove_all(folder);
    return folder + "/logs/run.log";  // the folder is made by the log
}

// Every test leaves the destination as it found it, also when an expectation fails.
struct BackToStandardError {
    ~BackToStandardError() { Diagnostics::logToStandardError(); }
};

}  // namespace

TEST(Diagnostics, GoToStandardErrorUntilALogIsChosen) {
    testing::internal::CaptureStderr();
    Diagnostics::note("The first sentence.");
    Diagnostics::notef("%d pictures could not be kept.", 3);
    Diagnostics::tell("Something to act on.");
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, "The first sentence.\n3 pictures could not be kept.\nSomething to act on.\n");
    EXPECT_EQ(Diagnostics::logPath(), "");
}

TEST(Diagnostics, ALogKeepsThemAndStandardErrorKeepsWhatAPersonMustActOn) {
    BackToStandardError restore;
    const std::string path = logIn("quiet");
    NSErrorPtr error;
    ASSERT_TRUE(Diagnostics::logToFile(path, false, &error)) << (error ? error->description() : "");
    EXPECT_EQ(Diagnostics::logPath(), path);

    testing::internal::CaptureStderr();
    Diagnostics::note("Analytics started.");
    Diagnostics::notef("The thumbnail %s could not be kept.", "p1_thumb.jpg");
    Diagnostics::tellf("No pictures database was found in %s.", "the bundle");
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, "No pictures database was found in the bundle.\n");
    EXPECT_EQ(contents(path), "Analytics started.\nThe thumbnail p1_thumb.jpg could not be kept.\n"
                              "No pictures database was found in the bundle.\n");

    // Back on standard error the file is left as it was; a later log appends to it.
    Diagnostics::logToStandardError();
    EXPECT_EQ(Diagnostics::logPath(), "");
    testing::internal::CaptureStderr();
    Diagnostics::note("Not in the file.");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Not in the file.\n");
    ASSERT_TRUE(Diagnostics::logToFile(path, false));
    Diagnostics::note("A second run.");
    EXPECT_EQ(contents(path), "Analytics started.\nThe thumbnail p1_thumb.jpg could not be kept.\n"
                              "No pictures database was found in the bundle.\nA second run.\n");
}

TEST(Diagnostics, AnEchoedLogShowsEverythingOnceOnStandardErrorToo) {
    BackToStandardError restore;
    const std::string path = logIn("verbose");
    ASSERT_TRUE(Diagnostics::logToFile(path, true));
    testing::internal::CaptureStderr();
    Diagnostics::note("Shown live.");
    Diagnostics::tell("Told once.");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Shown live.\nTold once.\n");
    EXPECT_EQ(contents(path), "Shown live.\nTold once.\n");
}

TEST(Diagnostics, ALogThatCannotBeOpenedLeavesThemWhereTheyWere) {
    BackToStandardError restore;
    const std::string path = logIn("unopened");
    {
        FaultInjection faults;
        faults->readOnly("*/unopened/*");
        NSErrorPtr error;
        EXPECT_FALSE(Diagnostics::logToFile(path, false, &error));
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->domain(), NSPOSIXErrorDomain);
        EXPECT_GT(faults->injected(), 0);
    }
    EXPECT_EQ(Diagnostics::logPath(), "");
    testing::internal::CaptureStderr();
    Diagnostics::note("Still on standard error.");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Still on standard error.\n");
}

// A FIFO where the log belongs (a home left so) is not waited on for a reader: the log is given
// up at once and diagnostics stay on standard error.
TEST(Diagnostics, AFifoWhereTheLogBelongsIsNotWaitedOn) {
    BackToStandardError restore;
    const std::string path = logIn("fifo");
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(Fifo::make(path));
    bool logging = true;
    NSErrorPtr error;
    ASSERT_TRUE(Fifo::endsPromptly(path, [&] { logging = Diagnostics::logToFile(path, false, &error); }));
    EXPECT_FALSE(logging);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), ENXIO);
    EXPECT_EQ(Diagnostics::logPath(), "");
}

// A link where the log belongs, whether it leads to a file or nowhere, is not written through:
// it goes aside, the log is made in its own folder, and its first line says where the link went.
TEST(Diagnostics, ALinkWhereTheLogBelongsGoesAsideAndTheLogIsMadeInItsFolder) {
    BackToStandardError restore;
    const std::string path = logIn("linked");
    const std::string elsewhere = Sandbox::tmp() + "/elsewhere";
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::create_directories(elsewhere);
    std::ofstream(elsewhere + "/notes.txt") << "a person's notes";
    for (const std::string& target : {elsewhere + "/notes.txt", elsewhere + "/missing.log"}) {
        SCOPED_TRACE(target);
        std::filesystem::remove(path);
        std::filesystem::remove(path + ".moved");
        std::filesystem::create_symlink(target, path);
        NSErrorPtr error;
        ASSERT_TRUE(Diagnostics::logToFile(path, false, &error)) << (error ? error->description() : "");
        Diagnostics::note("Kept in the home.");
        Diagnostics::logToStandardError();
        EXPECT_FALSE(std::filesystem::is_symlink(path));
        EXPECT_EQ(contents(path), "The link where the log belongs was moved to " + path +
                                      ".moved; the log is kept here.\nKept in the home.\n");
        EXPECT_EQ(std::filesystem::read_symlink(path + ".moved"), target);
    }
    EXPECT_EQ(contents(elsewhere + "/notes.txt"), "a person's notes");
    EXPECT_FALSE(std::filesystem::exists(elsewhere + "/missing.log"));
}

TEST(Diagnostics, ALogThatFailsAWriteIsGivenUpAndNothingIsLost) {
    BackToStandardError restore;
    const std::string path = logIn("full");
    FaultInjection faults;
    ASSERT_TRUE(Diagnostics::logToFile(path, false));
    Diagnostics::note("Written.");
    faults->noSpace("*/full/logs/run.log");
    testing::internal::CaptureStderr();
    Diagnostics::note("The disk is full now.");
    Diagnostics::note("And after.");
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown, "The log file " + path +
                         " could not be written (No space left on device); diagnostics go to standard error from now "
                         "on.\nThe disk is full now.\nAnd after.\n");
    EXPECT_EQ(Diagnostics::logPath(), "");
    EXPECT_EQ(contents(path).rfind("Written.\n", 0), 0u);
}

TEST(Diagnostics, LinesFromManyThreadsStayWhole) {
    BackToStandardError restore;
    const std::string path = logIn("threads");
    ASSERT_TRUE(Diagnostics::logToFile(path, false));
    constexpr int kThreads = 8, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) Diagnostics::notef("thread %d line %03d ends here.", t, i);
        });
    for (auto& thread : threads) thread.join();
    std::istringstream lines(contents(path));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_TRUE(line.starts_with("thread ") && line.ends_with(" ends here.")) << line;
    }
    EXPECT_EQ(count, kThreads * kLines);
}
