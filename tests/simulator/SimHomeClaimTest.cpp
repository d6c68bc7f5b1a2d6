// One run per home: the simulator refuses a home another process holds, in one line naming it
// and how to choose another, before it opens anything there; the hold ends with its process
// however that ends (kill -9 too); a home that cannot be made ends the run with the reason.
#include "simulator/SimHomeClaim.h"

#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/InteractiveProcess.h"
#include "tests/fixtures/Subprocess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string kChooseAnother = "; choose another with --home DIR (or APP_HOME=DIR).";

// The sample application on `home` (none given: the environment's), to its end.
ProcessRun simulateOn(const std::string& home, const std::string& environment = "") {
    return runCommand(environment + " " + OSTREL_SIM + (home.empty() ? "" : " --home " + home) + " --bundle " +
                      Sandbox::tmp() + " --delegate SimSampleAppDelegate 2>&1 </dev/null");
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

}  // namespace

TEST(SimHomeClaim, ASecondRunOnAHomeInUseIsRefusedInOneLineBeforeItOpensAnything) {
    const std::string home = Sandbox::tmp() + "/held-home";
    NSErrorPtr error;
    auto held = SimHomeClaim::claim(home, &error);
    ASSERT_TRUE(held) << (error ? error->localizedDescription() : "");
    const std::string line =
        "The home " + home + " is in use by another run (process " + std::to_string(::getpid()) + ")" + kChooseAnother;

    // Another hold on it, by any other open of the home, is refused.
    NSErrorPtr refused;
    EXPECT_FALSE(SimHomeClaim::claim(home + "/", &refused));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), SimHomeClaim::InUse);
    EXPECT_EQ(refused->localizedDescription(), line);

    // So is a second simulator, by the option or by the environment.
    for (const ProcessRun& run : {simulateOn(home), simulateOn("", "APP_HOME=" + home)}) {
        EXPECT_EQ(run.status, 75) << run.output;
        EXPECT_EQ(run.output, line + "\n");
    }
    EXPECT_EQ(entries(home), std::vector<std::string>{SimHomeClaim::kLockFileName});

    // Given up, the home takes the next run.
    held.reset();
    EXPECT_TRUE(SimHomeClaim::claim(home, nullptr));
    const ProcessRun next = simulateOn(home);
    EXPECT_EQ(next.status, 0) << next.output;
    EXPECT_NE(next.output.find("== Sample =="), std::string::npos) << next.output;
}

TEST(SimHomeClaim, AHomeIsFreeAgainOnceTheRunHoldingItIsKilled) {
    const std::string home = Sandbox::tmp() + "/killed-home";
    InteractiveProcess run({OSTREL_SIM, "--home", home, "--bundle", Sandbox::tmp(), "--delegate", "SimSampleAppDelegate"});
    ASSERT_TRUE(run.started());
    // At its prompt the run holds the home.
    ASSERT_TRUE(run.waitForOutput("> ")) << run.output();
    NSErrorPtr refused;
    EXPECT_FALSE(SimHomeClaim::claim(home, &refused));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code(), SimHomeClaim::InUse);
    EXPECT_NE(refused->localizedDescription().find("is in use by another run (process "), std::string::npos)
        << refused->localizedDescription();

    ASSERT_TRUE(run.signal(SIGKILL));
    EXPECT_EQ(run.finish(), -1);
    NSErrorPtr error;
    EXPECT_TRUE(SimHomeClaim::claim(home, &error)) << (error ? error->localizedDescription() : "");
}

TEST(SimHomeClaim, AHomeThatCannotBeMadeEndsTheRunWithTheReasonInOneLine) {
    const std::string file = Sandbox::tmp() + "/a-file";
    std::ofstream(file) << "not a folder";
    const std::string home = file + "/home";
    NSErrorPtr error;
    EXPECT_FALSE(SimHomeClaim::claim(home, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), SimHomeClaim::Unusable);
    const std::string line = "The home " + home + " cannot be used: Not a directory" + kChooseAnother;
    EXPECT_EQ(error->localizedDescription(), line);

    for (const ProcessRun& run : {simulateOn(home), simulateOn("", "APP_HOME=" + home)}) {
        EXPECT_EQ(run.status, 73) << run.output;
        EXPECT_EQ(run.output, line + "\n");
    }
}

// A link where the lock file belongs (leading to a file or nowhere) is not written through: it
// goes aside, the lock is made in the home, and the run's log says where the link went.
TEST(SimHomeClaim, ALinkWhereTheLockBelongsGoesAsideAndNothingIsWrittenWhereItLeads) {
    const std::string home = Sandbox::tmp() + "/linked-lock-home";
    const std::string elsewhere = Sandbox::tmp() + "/elsewhere";
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(elsewhere);
    std::ofstream(elsewhere + "/notes.txt") << "a person's notes";
    const std::string lock = home + "/" + SimHomeClaim::kLockFileName;
    for (const std::string& target : {elsewhere + "/notes.txt", elsewhere + "/missing.lock"}) {
        SCOPED_TRACE(target);
        std::filesystem::remove(lock);
        std::filesystem::remove(lock + ".moved");
        std::filesystem::create_symlink(target, lock);
        NSErrorPtr error;
        auto held = SimHomeClaim::claim(home, &error);
        ASSERT_TRUE(held) << (error ? error->localizedDescription() : "");
        EXPECT_EQ(held->movedAside(), lock + ".moved");
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(lock)));
        EXPECT_EQ(std::filesystem::read_symlink(lock + ".moved"), target);
        // It holds the home as the lock always did.
        NSErrorPtr refused;
        EXPECT_FALSE(SimHomeClaim::claim(home, &refused));
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->code(), SimHomeClaim::InUse);
    }
    std::ifstream notes(elsewhere + "/notes.txt");
    std::string kept((std::istreambuf_iterator<char>(notes)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "a person's notes");
    EXPECT_FALSE(std::filesystem::exists(elsewhere + "/missing.lock"));

    // A run on it says in its log where the link went.
    std::filesystem::remove(lock);
    std::filesystem::create_symlink(elsewhere + "/missing.lock", lock);
    std::filesystem::remove(lock + ".moved");
    const ProcessRun run = simulateOn(home);
    EXPECT_EQ(run.status, 0) << run.output;
    std::ifstream log(home + "/diagnostics.log");
    const std::string said((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(said.find("The link where the home's lock belongs was moved to " + lock + ".moved; the lock is kept here."),
              std::string::npos)
        << said;
    EXPECT_FALSE(std::filesystem::exists(elsewhere + "/missing.lock"));
}
