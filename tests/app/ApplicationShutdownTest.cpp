// Quitting the application in the simulator while its network is busy: with the first open's
// upload hanging at the measurement service before its status line or after it, or while the
// upload's answer is still coming in, the process ends in order with status 0, its measurement
// database whole. What the quit promises is checked by the service's record and the quit's own
// word in the home's diagnostics: nothing is lost; a batch whose status line said it was taken
// is not sent again; a batch the quit cut before any status line is sent again at the next
// launch, and such a re-send is named in the output. A quit that its own bound cut short (the
// application says so) may have ended before its word, never before its data. Each case runs with timings drawn from a
// seed printed at the start (OSTREL_SHUTDOWN_SEED replays them); with OSTREL_SHUTDOWN_KEEP=DIR
// the home of a run that fails is kept in DIR. In every fourth run the service refuses the next
// launch's first upload: what it carried comes at the engine's retry, which the next launch's
// clock is moved on to, in steps shorter than any request's time-out and only once no request
// is in flight, so that no answer on its way is overtaken by its own deadline.
// The application itself ends in order too when it is asked to stop (SIGTERM, SIGINT).
#include "demo/measurement/MeasurementService.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/DemoBundle.h"
#include "tests/fixtures/InteractiveProcess.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr const char* kSeedVariable = "OSTREL_SHUTDOWN_SEED";
constexpr const char* kKeepVariable = "OSTREL_SHUTDOWN_KEEP";
// The quit's word on the upload it cut: delivered by its status line, or sent again at the next
// launch as the status line had not come.
constexpr const char* kDeliveredAtQuit = "[I-ACS023315]";
constexpr const char* kSentAgainAfterQuit = "[I-ACS023316]";
// What the application says when the quit's bound (real time) ended it with work still running.
constexpr const char* kQuitCutShort = "The process ends at once, without its exit handlers";
// Runs at a time: each is mostly waiting on its processes.
constexpr int kParallelRuns = 8;
// Real seconds a run waits for a step of its set-up, or for a quit: only a safety net, generous
// enough for eight copies of the test sharing two cores.
constexpr double kRunStepBound = 120;
// The simulator's prompt, at the start of a line once a command has done its work.
constexpr const char* kPrompt = "\n> ";
// Hours the next launch's clock may move on to the engine's retries of a failed request, and
// the seconds of each step: shorter than the shortest time-out a request can have (30 s).
constexpr int kRetryRounds = 6;
constexpr int kClockStep = 20;

enum class Busy { HangsBeforeItsStatusLine, HangsAfterItsStatusLine, ReplyComingIn };
// Runs of each case.
constexpr std::pair<Busy, int> kCases[] = {
    {Busy::HangsBeforeItsStatusLine, 10}, {Busy::HangsAfterItsStatusLine, 10}, {Busy::ReplyComingIn, 20}};

const char* nameOf(Busy busy) {
    switch (busy) {
        case Busy::HangsBeforeItsStatusLine: return "upload hanging before its status line";
        case Busy::HangsAfterItsStatusLine: return "upload hanging after its status line";
        case Busy::ReplyComingIn: return "reply coming in";
    }
    return "";
}

// What the seed chose for one run.
struct Timing {
    Busy busy = Busy::HangsBeforeItsStatusLine;
    // When the quit is typed: 0 right after the upload was asked for, 1 once it reached the
    // service, 2 once its answer was under way (held after its status line).
    int moment = 0;
    std::chrono::microseconds jitter{0};
    // The pause before each piece of a reply coming in.
    std::chrono::milliseconds pieceDelay{0};
    // The service refuses the next launch's first upload and drops its connection: the engine
    // sends it again at its retry.
    bool nextUploadDropped = false;
};

struct Outcome {
    // Empty when the run reached the moment its timing asked for; else what did not happen,
    // and nothing else of the outcome is meaningful.
    std::string setUpFailure;
    int quitStatus = -1;
    int nextStatus = -1;
    std::string integrity;
    long long queuedAfterQuit = -1;
    // What the quit said of the upload it cut, if it cut one.
    bool deliveredAtQuit = false;
    bool sentAgainAfterQuit = false;
    // The quit's bound ended the process while work still ran, as the application said: the
    // quit's word may be among what it cut, never the data it had written.
    bool quitCutShort = false;
    // Uploads the service had when the first launch ended; the last of them was the one in
    // flight at the quit, if any was.
    std::size_t uploadsOfFirstLaunch = 0;
    int firstOpensBeforeNextLaunch = 0;
    int firstOpens = 0;
    // Delivered twice with no excuse, and delivered twice because the quit came before the
    // status line of the upload it cut (what at-least-once delivery allows).
    std::vector<std::string> duplicates;
    std::vector<std::string> sentAgain;
    std::string detail;
};

// What the service took twice, as a client that reads no further than the status line counts
// it: a bundle that came in two uploads (the same app instance and bundle index), or a key that
// came in two bundles. Two events alike in one bundle (two engagements cut in one millisecond)
// are two events. A line each, naming the uploads; `leftOut` (1-based) is not looked at.
std::vector<std::string> deliveredTwice(const std::vector<MeasurementService::Upload>& uploads, std::size_t leftOut = 0) {
    using Bundle = std::pair<std::string, std::int32_t>;
    const auto named = [](const Bundle& bundle) {
        return "bundle " + std::to_string(bundle.second) + " of app instance " + bundle.first;
    };
    std::map<Bundle, std::set<std::size_t>> uploadsOfBundle;
    std::map<std::string, std::map<Bundle, std::size_t>> bundlesOfKey;
    for (std::size_t i = 0; i < uploads.size(); ++i) {
        if (!uploads[i].taken() || i + 1 == leftOut) continue;
        for (const auto& event : uploads[i].batch.events) {
            const Bundle bundle{event.appInstanceID, event.bundleIndex};
            uploadsOfBundle[bundle].insert(i + 1);
            bundlesOfKey[event.key()].emplace(bundle, i + 1);
        }
    }
    std::vector<std::string> lines;
    for (const auto& [bundle, numbers] : uploadsOfBundle) {
        if (numbers.size() < 2) continue;
        std::string line = named(bundle) + " came in uploads";
        for (std::size_t number : numbers) line += " " + std::to_string(number);
        lines.push_back(line);
    }
    for (const auto& [key, bundles] : bundlesOfKey) {
        if (bundles.size() < 2) continue;
        std::string line = key + " came in";
        for (const auto& [bundle, number] : bundles) line += " " + named(bundle) + " (upload " + std::to_string(number) + ")";
        lines.push_back(line);
    }
    return lines;
}

// One statement's first column of the first row, as text ("" when there is none).
std::string firstValue(const std::string& database, const std::string& sql) {
    std::string value;
    sqlite3* handle = nullptr;
    if (sqlite3_open_v2(database.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(statement, 0);
            value = text ? reinterpret_cast<const char*>(text) : "";
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(handle);
    return value;
}

class ShutdownRuns {
public:
    bool prepare(std::string* error) {
        if (!DemoBundle::copyTo(bundle_, false, error)) return false;
        std::ofstream(certificate_) << MeasurementService::certificatePEM();
        return true;
    }

    Outcome run(int number, const Timing& timing) const {
        Outcome outcome;
        MeasurementService service;
        const std::string home = Sandbox::tmp() + "/shutdown-" + std::to_string(number);
        std::filesystem::create_directories(home);
        MeasurementService::Reply reply;
        // A hang before the status line lasts until the service goes at the end of the run.
        if (timing.busy == Busy::HangsBeforeItsStatusLine) reply.fault = LoopbackServer::Fault::late(std::chrono::minutes(30));
        else if (timing.busy == Busy::HangsAfterItsStatusLine) reply.fault = LoopbackServer::Fault::stall();
        else reply.fault = LoopbackServer::Fault::slow(timing.pieceDelay, 16);
        service.enqueueReply(MeasurementService::Route::Upload, reply);

        // The first launch goes to the background, which uploads the first open, and is quit
        // while that upload is busy.
        {
            InteractiveProcess simulator(command(home, service));
            if (!simulator.started()) {
                outcome.setUpFailure = "the simulator did not start";
                return outcome;
            }
            if (!simulator.send("background")) outcome.setUpFailure = "the simulator stopped reading before the background";
            else if (timing.moment >= 1 && !service.waitForUploads(1, kRunStepBound))
                outcome.setUpFailure = "the first upload never reached the service";
            else if (timing.moment >= 2 && timing.busy == Busy::HangsAfterItsStatusLine &&
                     !service.waitForStalls(1, kRunStepBound))
                outcome.setUpFailure = "the service never held the upload";
            if (!outcome.setUpFailure.empty()) {
                (void)simulator.finish(kRunStepBound);
                outcome.detail = simulator.output();
                return outcome;
            }
            std::this_thread::sleep_for(timing.jitter);
            // The quit itself is checked through the exit status: a simulator that ended before
            // it reads no more, and its status says why.
            (void)simulator.send("quit");
            outcome.quitStatus = simulator.finish(kRunStepBound);
            outcome.detail = simulator.output();
        }
        outcome.quitCutShort = outcome.detail.find(kQuitCutShort) != std::string::npos;
        const std::string database = home + "/Library/Application Support/Vizudi/Measurement/vizudi-app-measurement.sql";
        outcome.integrity = firstValue(database, "PRAGMA integrity_check");
        const std::string queued = firstValue(database, "SELECT count(*) FROM queue");
        outcome.queuedAfterQuit = queued.empty() ? -1 : std::stoll(queued);
        outcome.detail += "\n--- " + queued + " bundles queued after the quit ---";
        const std::string diagnostics = readFile(home + "/diagnostics.log");
        outcome.deliveredAtQuit = diagnostics.find(kDeliveredAtQuit) != std::string::npos;
        outcome.sentAgainAfterQuit = diagnostics.find(kSentAgainAfterQuit) != std::string::npos;
        if (outcome.deliveredAtQuit) outcome.detail += "\n--- the quit delivered the upload it cut by its status line ---";
        if (outcome.sentAgainAfterQuit) outcome.detail += "\n--- the quit cut an upload before its status line ---";
        if (outcome.quitCutShort) outcome.detail += "\n--- the quit's bound cut it short ---";
        outcome.uploadsOfFirstLaunch = service.uploads().size();
        outcome.firstOpensBeforeNextLaunch = firstOpensIn(service);
        // The service answers as itself again (a launch quit before its upload left the scripted
        // answer unused), and a stalled body goes on, to nobody: the next launch goes to the
        // background, which uploads what is left, and runs until the first open has arrived. A
        // request of it that failed is retried on the engine's clock, which moves on while the
        // first open has not come, a step at a time and only while no request is in flight.
        service.dropReplies();
        service.releaseStalls();
        if (timing.nextUploadDropped) {
            MeasurementService::Reply dropped;
            dropped.fault = LoopbackServer::Fault::reset(0);
            dropped.fault.status = 500;
            service.enqueueReply(MeasurementService::Route::Upload, dropped);
        }
        {
            InteractiveProcess next(command(home, service));
            bool reading = next.started() && next.waitForOutput(kPrompt, kRunStepBound) && step(next, "background") &&
                           step(next, "idle " + std::to_string(static_cast<int>(kRunStepBound)));
            for (int moved = 0; reading && firstOpensIn(service) == 0 && moved < kRetryRounds * 3600; moved += kClockStep) {
                reading = step(next, "advance " + std::to_string(kClockStep)) &&
                          step(next, "idle " + std::to_string(static_cast<int>(kRunStepBound)));
            }
            (void)next.send("quit");
            outcome.nextStatus = next.finish(kRunStepBound);
            outcome.detail += "\n--- next launch ---\n" + next.output();
        }
        outcome.firstOpens = firstOpensIn(service);
        const auto uploads = service.uploads();
        // The upload the quit cut before its status line may come again: that, and only that,
        // is excused, and named.
        const std::size_t cut = outcome.sentAgainAfterQuit ? outcome.uploadsOfFirstLaunch : 0;
        outcome.duplicates = deliveredTwice(uploads, cut);
        if (cut > 0) {
            for (const auto& line : deliveredTwice(uploads)) {
                if (std::find(outcome.duplicates.begin(), outcome.duplicates.end(), line) == outcome.duplicates.end())
                    outcome.sentAgain.push_back(line);
            }
        }
        for (std::size_t i = 0; i < uploads.size(); ++i) {
            outcome.detail += "\n" + MeasurementService::summaryLine(i + 1, uploads[i]) +
                              (uploads[i].taken() && !uploads[i].accepted ? " (taken by its status line)" : "");
        }
        // Whether what was not delivered is still kept, unsent, or is gone.
        outcome.detail += "\n--- left after the next launch: " + firstValue(database, "SELECT count(*) FROM queue") +
                          " bundles queued, " + firstValue(database, "SELECT count(*) FROM raw_events") +
                          " events not bundled, of them " +
                          firstValue(database, "SELECT count(*) FROM raw_events WHERE name = '_f'") + " first opens ---";
        return outcome;
    }

    // The home of run `number` into `folder`, beside what the run said.
    static void keep(int number, const std::string& which, const Outcome& outcome, const std::string& folder) {
        const std::string kept = folder + "/shutdown-" + std::to_string(number);
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        std::filesystem::copy(Sandbox::tmp() + "/shutdown-" + std::to_string(number), kept,
                              std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing,
                              error);
        std::ofstream(kept + "/run.txt") << which << "\n" << outcome.detail << "\n";
        std::printf("The home of the run is kept in %s%s\n", kept.c_str(), error ? (": " + error.message()).c_str() : "");
    }

private:
    // First opens in the uploads the service took.
    static int firstOpensIn(const MeasurementService& service) {
        int count = 0;
        for (const auto& upload : service.uploads()) {
            if (!upload.taken()) continue;
            for (const auto& event : upload.batch.events) count += event.name == "_f" ? 1 : 0;
        }
        return count;
    }
    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Types `line` and waits for the prompt that follows what it did; false when the simulator
    // no longer reads or never got that far.
    static bool step(InteractiveProcess& simulator, const std::string& line) {
        const std::size_t from = simulator.output().size();
        return simulator.send(line) && simulator.waitForOutput(kPrompt, kRunStepBound, from);
    }

    std::vector<std::string> command(const std::string& home, const MeasurementService& service) const {
        return {OSTREL_SIM,
                "--bundle", bundle_,
                "--home", home,
                "--default", "APMMeasurementEndpointHost=" + service.host(),
                "--trust-anchor", "127.0.0.1=" + certificate_};
    }

    std::string bundle_ = Sandbox::tmp() + "/demo-bundle";
    std::string certificate_ = Sandbox::tmp() + "/measurement.pem";
};

// What one run must show; false when something did not hold.
bool checkRun(const Outcome& outcome, const Timing& timing) {
    if (!outcome.setUpFailure.empty()) {
        ADD_FAILURE() << "the run never reached its moment: " << outcome.setUpFailure << "\n" << outcome.detail;
        return false;
    }
    EXPECT_EQ(outcome.quitStatus, 0) << outcome.detail;
    EXPECT_EQ(outcome.integrity, "ok") << outcome.detail;
    EXPECT_EQ(outcome.nextStatus, 0) << outcome.detail;
    // Nothing lost: the first open was taken, by the first launch or by the next.
    EXPECT_GE(outcome.firstOpens, 1) << outcome.detail;
    // Nothing twice where the status line was read.
    std::string twice;
    for (const auto& line : outcome.duplicates) twice += line + "\n";
    EXPECT_TRUE(outcome.duplicates.empty()) << "delivered twice:\n" << twice << outcome.detail;
    EXPECT_FALSE(outcome.deliveredAtQuit && outcome.sentAgainAfterQuit) << outcome.detail;
    // A batch the quit delivered is gone, and the service has the first open; one it cut before
    // its status line is kept.
    bool kept = true;
    if (outcome.deliveredAtQuit) kept = outcome.queuedAfterQuit == 0 && outcome.firstOpensBeforeNextLaunch == 1;
    if (outcome.sentAgainAfterQuit) kept = outcome.queuedAfterQuit > 0;
    EXPECT_TRUE(kept) << outcome.detail;
    // An answer held back before its status line never tells the quit the batch was taken; once
    // the upload reached the service, the quit cut it and says so, unless its own bound ended the
    // process first (a busy machine): the batch is kept all the same.
    bool hangSaid = true;
    if (timing.busy == Busy::HangsBeforeItsStatusLine) {
        const bool keptUnsaid = outcome.quitCutShort && outcome.queuedAfterQuit > 0;
        hangSaid = !outcome.deliveredAtQuit && (timing.moment == 0 || outcome.sentAgainAfterQuit || keptUnsaid);
        EXPECT_TRUE(hangSaid) << outcome.detail;
    }
    return outcome.quitStatus == 0 && outcome.integrity == "ok" && outcome.nextStatus == 0 && outcome.firstOpens >= 1 &&
           outcome.duplicates.empty() && !(outcome.deliveredAtQuit && outcome.sentAgainAfterQuit) && kept && hangSaid;
}

}  // namespace

TEST(ApplicationShutdown, QuittingWhileTheNetworkIsBusyEndsInOrderAndNothingIsDeliveredTwice) {
    ShutdownRuns runs;
    std::string error;
    ASSERT_TRUE(runs.prepare(&error)) << error;

    const char* fixedSeed = std::getenv(kSeedVariable);
    const std::uint32_t seed = fixedSeed && *fixedSeed ? static_cast<std::uint32_t>(std::strtoul(fixedSeed, nullptr, 10))
                                                       : std::random_device{}();
    std::printf("Quit timings from seed %u (%s=%u replays them)\n", seed, kSeedVariable, seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::vector<Timing> timings;
    std::vector<int> runOfCase;
    for (const auto& [busy, count] : kCases) {
        for (int i = 0; i < count; ++i) {
            Timing timing;
            timing.busy = busy;
            // A reply coming in is only that once the service answered; only an answer held after
            // its status line can be seen held.
            timing.moment = busy == Busy::ReplyComingIn
                                ? 1
                                : std::uniform_int_distribution<int>(0, busy == Busy::HangsAfterItsStatusLine ? 2 : 1)(random);
            timing.pieceDelay = std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 400)(random));
            const int most = busy == Busy::ReplyComingIn ? static_cast<int>(timing.pieceDelay.count()) * 1000 : 30000;
            timing.jitter = std::chrono::microseconds(std::uniform_int_distribution<int>(0, most)(random));
            timing.nextUploadDropped = i % 4 == 3;
            timings.push_back(timing);
            runOfCase.push_back(i);
        }
    }

    std::vector<Outcome> outcomes(timings.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kParallelRuns; ++w) {
        workers.emplace_back([&] {
            for (std::size_t i = next++; i < timings.size(); i = next++) outcomes[i] = runs.run(static_cast<int>(i), timings[i]);
        });
    }
    for (auto& worker : workers) worker.join();

    int cleanQuits = 0;
    int duplicated = 0;
    int deliveredAtQuit = 0;
    int sentAgain = 0;
    int sentAgainTwiceAtTheService = 0;
    int cutShort = 0;
    const char* keepFolder = std::getenv(kKeepVariable);
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const Outcome& outcome = outcomes[i];
        const Timing& timing = timings[i];
        const std::string which = std::string(nameOf(timing.busy)) + ", run " + std::to_string(runOfCase[i]) +
                                  ", moment " + std::to_string(timing.moment) + ", jitter " +
                                  std::to_string(timing.jitter.count()) + " us, piece delay " +
                                  std::to_string(timing.pieceDelay.count()) + " ms" +
                                  (timing.nextUploadDropped ? ", the next launch's first upload refused" : "");
        SCOPED_TRACE(which);
        if (!checkRun(outcome, timing) && keepFolder && *keepFolder) {
            ShutdownRuns::keep(static_cast<int>(i), which, outcome, keepFolder);
        }
        cleanQuits += outcome.setUpFailure.empty() && outcome.quitStatus == 0 ? 1 : 0;
        duplicated += outcome.duplicates.empty() ? 0 : 1;
        deliveredAtQuit += outcome.deliveredAtQuit ? 1 : 0;
        sentAgain += outcome.sentAgainAfterQuit ? 1 : 0;
        cutShort += outcome.quitCutShort ? 1 : 0;
        if (!outcome.sentAgain.empty()) {
            ++sentAgainTwiceAtTheService;
            std::printf("Sent again at the next launch as the quit came before the status line (%s):\n", which.c_str());
            for (const auto& line : outcome.sentAgain) std::printf("  %s\n", line.c_str());
        }
    }
    std::printf("%d of %zu quits ended with status 0 (%d of them cut short by the quit's bound); %d uploads the quit "
                "cut were delivered by their status line; %d cut before any status line were sent again at the next "
                "launch (%d of them the service had taken meanwhile); %d runs delivered something twice otherwise\n",
                cleanQuits, outcomes.size(), cutShort, deliveredAtQuit, sentAgain, sentAgainTwiceAtTheService,
                duplicated);
}

TEST(ApplicationShutdown, TheApplicationEndsInOrderWithStatusZeroWhenItIsAskedToStop) {
    const std::string bundle = Sandbox::tmp() + "/demo-bundle";
    std::string error;
    ASSERT_TRUE(DemoBundle::copyTo(bundle, false, &error)) << error;
    const Value info = NSPropertyListSerialization::propertyListWithContentsOfFile(bundle + "/Info.plist");
    const std::string identifier = info.dictionary().get("CFBundleIdentifier").stringValue();
    ASSERT_FALSE(identifier.empty());
    // The measurement engine sends to a closed loopback port: nothing leaves the machine.
    const std::string home = Sandbox::tmp() + "/app-home";
    const std::string preferences = home + "/Library/Preferences";
    std::filesystem::create_directories(preferences);
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(
        Value(Value::Dictionary{{"APMMeasurementEndpointHost", Value("127.0.0.1:9")}}), preferences + "/" + identifier + ".plist",
        NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0, nullptr));

    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE("signal " + std::to_string(signal));
        InteractiveProcess application({OSTREL_APP}, {"APP_BUNDLE=" + bundle, "APP_HOME=" + home});
        ASSERT_TRUE(application.started());
        ASSERT_TRUE(application.waitForOutput("Analytics collection enabled")) << application.output();
        ASSERT_TRUE(application.signal(signal));
        EXPECT_EQ(application.finish(), 0) << application.output();
        EXPECT_EQ(application.output().find("still running"), std::string::npos) << application.output();
    }
}
