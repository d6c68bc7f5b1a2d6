// The simulator end to end: ostrel-sim runs the sample application from scripts (passing and
// failing expectations, taps by number and text, navigation, alerts, a picture of the screen,
// the waits that let the application run on), reads a script from a pipe and refuses one it cannot
// read; its command language on its own.
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIImage.h"
#include "simulator/SimCommand.h"
#include "tests/fixtures/Subprocess.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

namespace {

// Runs ostrel-sim with `arguments` (and the script, when given), capturing both streams.
ProcessRun simulate(const std::string& arguments, const std::string& script = "") {
    const std::string dir = Sandbox::tmp();
    std::string command = std::string(OSTREL_SIM) + " --home " + Sandbox::home() + " --bundle " + dir + " " + arguments;
    if (!script.empty()) {
        const std::string path = dir + "/script.txt";
        std::ofstream(path) << script;
        command += " --script " + path;
    }
    command += " 2>&1 </dev/null";
    return runCommand(command);
}

std::array<int, 4> pixel(const UIImage& image, int x, int y) {
    const auto& px = image.rgbaPixels();
    const std::size_t i = (static_cast<std::size_t>(y) * image.pixelWidth() + x) * 4;
    return {px[i], px[i + 1], px[i + 2], px[i + 3]};
}

}  // namespace

TEST(SimulatorRun, ScriptDrivesTheSampleApplicationAndSavesAPicture) {
    const std::string shot = Sandbox::tmp() + "/screen.png";
    const ProcessRun run = simulate("--delegate SimSampleAppDelegate",
                             "# the home screen\n"
                             "expect == Sample ==\n"
                             "expect Hello from the sample\n"
                             "tap Count\n"
                             "tap Count\n"
                             "expect Taps: 2\n"
                             "tap Reset\n"
                             "await Taps: 0\n"
                             "tap Your name\n"
                             "type Ada\n"
                             "expect field \"Ada\"\n"
                             "shot " + shot + "\n"
                             "tap Ask\n"
                             "expect Reset the count?\n"
                             "tap No\n"
                             "tap Details\n"
                             "expect == Details ==\n"
                             "expect Second screen\n"
                             "back\n"
                             "expect == Sample ==\n"
                             "show\n");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Hello from the sample"), std::string::npos);

    auto image = UIImage::imageWithContentsOfFile(shot);
    ASSERT_TRUE(image) << run.output;
    EXPECT_EQ(image->pixelWidth(), 375);
    EXPECT_EQ(image->pixelHeight(), 667);
    // The red swatch of the home screen (200, 100, 100 x 50 in its view, which starts below
    // the 20-point status strip and the 44-point bar).
    EXPECT_EQ(pixel(*image, 250, 64 + 125), (std::array<int, 4>{255, 0, 0, 255}));
    // Plain white background beside it.
    EXPECT_EQ(pixel(*image, 340, 64 + 125), (std::array<int, 4>{255, 255, 255, 255}));
}

TEST(SimulatorRun, FailedExpectationStopsTheScriptWithAClearMessage) {
    const ProcessRun run = simulate("--delegate SimSampleAppDelegate", "expect Hello from the sample\n"
                                                                "expect Goodbye\n"
                                                                "tap Count\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("script.txt:2: expected \"Goodbye\" on the screen, but it is not there"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("The screen was:"), std::string::npos);
}

TEST(SimulatorRun, NumbersOutOfBoundsAreRefusedLineByLineAndTheRunGoesOn) {
    const ProcessRun run = simulate("--delegate SimSampleAppDelegate", "tap 99999999999999999999\n"
                                                                "pan 1 30000000 0 1\n"
                                                                "scroll down nan\n"
                                                                "advance inf\n"
                                                                "pan 1 10 0 1e-300\n"
                                                                "tap Count\n"
                                                                "expect Taps: 1\n"
                                                                "# the longest drag there is, at the slowest speed\n"
                                                                "pan \"Your name\" 100000 100000 1\n"
                                                                "tap Count\n"
                                                                "expect Taps: 2\n");
    EXPECT_EQ(run.status, 1) << run.output;
    for (const char* refused : {"script.txt:1: tap: 99999999999999999999 is no control number",
                                "script.txt:2: pan: DX and DY must be at most 100000 points",
                                "script.txt:3: scroll: the distance after the direction must be a number",
                                "script.txt:4: advance needs a number of seconds from 0 to 31622400",
                                "script.txt:5: pan: the speed must be from 1 to 100000", "5 lines were refused"})
        EXPECT_NE(run.output.find(refused), std::string::npos) << refused << "\n" << run.output;
    EXPECT_EQ(run.output.find("expected"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("The screen was"), std::string::npos) << run.output;
}

TEST(SimulatorRun, AMissingBundleFolderIsNamedAndEndsTheRun) {
    const std::string missing = Sandbox::tmp() + "/no-such-bundle";
    const ProcessRun run = runCommand(std::string(OSTREL_SIM) + " --home " + Sandbox::home() + " --bundle " + missing +
                                      " --delegate SimSampleAppDelegate 2>&1 </dev/null");
    EXPECT_EQ(run.status, 66);
    EXPECT_NE(run.output.find("The bundle folder " + missing + " does not exist"), std::string::npos) << run.output;
}

TEST(SimulatorRun, AWrongOptionIsNamedWithWhyAndAHintNotTheWholeUsage) {
    const std::string hint = "ostrel-sim --help lists the options.\n";
    const std::pair<const char*, std::string> refusals[] = {
        {"--advertising-id not-a-uuid",
         "--advertising-id takes a UUID such as E621E1F8-C36C-495A-93FC-0C247A3E6E5F, not \"not-a-uuid\".\n"},
        {"--advertising-id ''",
         "--advertising-id takes a UUID such as E621E1F8-C36C-495A-93FC-0C247A3E6E5F, not \"\".\n"},
        {"--advertising-id", "--advertising-id needs a value after it.\n"},
        {"--bogus", "\"--bogus\" is not an option of ostrel-sim.\n"},
        {"--default novalue", "--default takes KEY=VALUE, not \"novalue\".\n"},
        {"--device tablet", "--device takes phone or pad, not \"tablet\".\n"},
        {"--launch-url notalink", "--launch-url takes a URL with its scheme and no spaces, such as gallery://paintings, "
                                  "not \"notalink\".\n"}};
    for (const auto& [options, said] : refusals) {
        const ProcessRun run = simulate(std::string("--delegate SimSampleAppDelegate ") + options);
        EXPECT_EQ(run.status, 64) << options;
        EXPECT_EQ(run.output, said + hint) << options;
    }
    // Asked for, the usage comes whole, with the commands.
    const ProcessRun help = simulate("--help");
    EXPECT_EQ(help.status, 0);
    for (const char* part : {"usage: ostrel-sim", "--delegate NAME", "one run\nat a time uses a home", "Commands:"})
        EXPECT_NE(help.output.find(part), std::string::npos) << part << "\n" << help.output;
}

TEST(SimulatorRun, AShotIntoAFolderThatIsMissingSaysSo) {
    const std::string missing = Sandbox::tmp() + "/no-such-folder";
    const ProcessRun run = simulate("--delegate SimSampleAppDelegate", "shot " + missing + "/screen.png\n");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("script.txt:1: shot: the folder " + missing + " does not exist, so " + missing +
                              "/screen.png cannot be written"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("output stream"), std::string::npos) << run.output;
}

TEST(SimulatorRun, AnUnknownDelegateIsRefusedWithExitTwo) {
    const ProcessRun run = simulate("--delegate NoSuchThing");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("No application delegate named \"NoSuchThing\" is registered."), std::string::npos)
        << run.output;
}

TEST(SimulatorCommands, ParsesTargetsDirectionsAndNumbers) {
    auto tap = SimCommand::parse("  tap \"Open link\"  ");
    EXPECT_EQ(tap.kind, SimCommand::Kind::Tap);
    EXPECT_EQ(tap.target, "Open link");
    auto scroll = SimCommand::parse("scroll 4 down 120");
    EXPECT_EQ(scroll.kind, SimCommand::Kind::Scroll);
    EXPECT_EQ(scroll.target, "4");
    EXPECT_EQ(scroll.direction, "down");
    EXPECT_EQ(scroll.distance, 120);
    auto pan = SimCommand::parse("pan Menu 200 0 800");
    EXPECT_EQ(pan.kind, SimCommand::Kind::Pan);
    EXPECT_EQ(pan.target, "Menu");
    EXPECT_EQ(pan.dx, 200);
    EXPECT_EQ(pan.speed, 800);
    // Without a speed the first of three numbers is the control, as help shows it.
    auto panN = SimCommand::parse("pan 5 120 -40");
    EXPECT_EQ(panN.kind, SimCommand::Kind::Pan);
    EXPECT_EQ(panN.target, "5");
    EXPECT_EQ(panN.dx, 120);
    EXPECT_EQ(panN.dy, -40);
    EXPECT_EQ(panN.speed, 500);
    auto panNSpeed = SimCommand::parse("pan 5 120 -40 900");
    EXPECT_EQ(panNSpeed.target, "5");
    EXPECT_EQ(panNSpeed.speed, 900);
    auto panMiddle = SimCommand::parse("pan 120 -40");
    EXPECT_EQ(panMiddle.target, "");
    EXPECT_EQ(panMiddle.dx, 120);
    auto set = SimCommand::parse("set Slide show delay 7");
    EXPECT_EQ(set.kind, SimCommand::Kind::Set);
    EXPECT_EQ(set.target, "Slide show delay");
    EXPECT_EQ(set.text, "7");
    auto setQuoted = SimCommand::parse("set 4 \"By Painter\"");
    EXPECT_EQ(setQuoted.target, "4");
    EXPECT_EQ(setQuoted.text, "By Painter");
    auto type = SimCommand::parse("type @3 hello world");
    EXPECT_EQ(type.target, "3");
    EXPECT_EQ(type.text, "hello world");
    EXPECT_EQ(SimCommand::parse("# a comment").kind, SimCommand::Kind::Empty);
    EXPECT_EQ(SimCommand::parse("advance 2.5").seconds, 2.5);
    auto await = SimCommand::parse("await \"12 pictures\"");
    EXPECT_EQ(await.kind, SimCommand::Kind::Await);
    EXPECT_EQ(await.text, "12 pictures");
    EXPECT_EQ(await.seconds, SimCommand::kAwaitSeconds);
    // The bounds themselves are allowed.
    for (const char* edge : {"tap 99999", "advance 31622400", "pan Menu 0 -100000 1", "scroll down 100000"})
        EXPECT_NE(SimCommand::parse(edge).kind, SimCommand::Kind::Invalid) << edge;
    for (const char* bad : {"advance -1", "advance soon", "scroll sideways", "pan 10", "frobnicate", "tap", "rotate up",
                            "advance nan", "advance 1e400", "advance 31622401", "scroll down inf", "scroll down 0",
                            "scroll 3 up 100001", "await", "pan 10 -nan", "pan 0 -100001", "pan 10 0 100001",
                            "tap 100000", "type @123456789012 x", "swipe 99999999999999999999999 left", "set 3",
                            "set", "set \"x\"", "shot screen.tiff", "pan 100000 0 1"}) {
        auto c = SimCommand::parse(bad);
        EXPECT_EQ(c.kind, SimCommand::Kind::Invalid) << bad;
        EXPECT_FALSE(c.error.empty()) << bad;
    }
}

TEST(SimulatorCommands, AMissingOrMalformedArgumentIsRefusedWithTheCommandsUsage) {
    const std::string moveUsage = "move needs a row and the row whose place it takes: move N to M (or a text each, "
                                  "quoted where it holds \"to\")";
    // "to" divides the rows and is never one: a row missing on either side is refused.
    for (const char* line : {"move 3 to", "move to 3", "move to", "move 3", "move 1 2 3"}) {
        const auto c = SimCommand::parse(line);
        EXPECT_EQ(c.kind, SimCommand::Kind::Invalid) << line;
        EXPECT_EQ(c.error, moveUsage) << line;
    }
    EXPECT_EQ(SimCommand::parse("move 1 to 2 to 3").error, "move: more than one \"to\"; " + moveUsage);
    EXPECT_EQ(SimCommand::parse("move \"Ode to Joy to 3").error, "move: a quote is not closed; " + moveUsage);
    const auto quoted = SimCommand::parse("move \"Ode to Joy\" to 3");
    EXPECT_EQ(quoted.target, "Ode to Joy");
    EXPECT_EQ(quoted.destination, "3");
    const auto pair = SimCommand::parse("move 4 2");
    EXPECT_EQ(pair.target, "4");
    EXPECT_EQ(pair.destination, "2");
    EXPECT_EQ(SimCommand::parse("move 3 to 100000").kind, SimCommand::Kind::Invalid);

    EXPECT_EQ(SimCommand::parse("type").error, "type needs the text to type: type TEXT, or type @N TEXT into field N");
    EXPECT_EQ(SimCommand::parse("type @3").error, "type needs the text to type: type TEXT, or type @N TEXT into field N");
    EXPECT_EQ(SimCommand::parse("swipe left 300").error,
              "swipe takes nothing after its direction: swipe [N] DIR (a swipe goes across most of the screen)");
    EXPECT_EQ(SimCommand::parse("back 3").error, "back takes nothing after it, not \"3\"");
    EXPECT_EQ(SimCommand::parse("quit now").error, "quit takes nothing after it, not \"now\"");
    EXPECT_EQ(SimCommand::parse("show all").kind, SimCommand::Kind::Invalid);
}

TEST(SimulatorCommands, EveryVerbAndItsOtherNamesReadToTheirKindInAnyCase) {
    using Kind = SimCommand::Kind;
    const std::pair<const char*, Kind> lines[] = {
        {"show", Kind::Show}, {"SCREEN", Kind::Show}, {"print", Kind::Show}, {"tap 1", Kind::Tap},
        {"DoubleTap 1", Kind::DoubleTap}, {"longpress 1", Kind::LongPress}, {"type x", Kind::Type},
        {"clear", Kind::Clear}, {"set 1 on", Kind::Set}, {"scroll down", Kind::Scroll}, {"swipe left", Kind::Swipe},
        {"pan 1 2", Kind::Pan}, {"move 1 to 2", Kind::Move}, {"back", Kind::Back}, {"rotate", Kind::Rotate},
        {"background", Kind::Background}, {"foreground", Kind::Foreground}, {"open a://b", Kind::OpenURL},
        {"purchase p", Kind::Purchase}, {"ad show banner-1", Kind::AdUnit}, {"advance 1", Kind::Advance},
        {"wait 1", Kind::Advance},
        {"shot a.png", Kind::Shot}, {"expect x", Kind::Expect}, {"await x", Kind::Await},
        {"display disconnect", Kind::Display}, {"pause 1", Kind::Pause}, {"idle", Kind::Idle},
        {"remote play", Kind::Remote}, {"quit", Kind::Quit}, {"exit", Kind::Quit}, {"help", Kind::Help},
        {"?", Kind::Help}};
    for (const auto& [line, kind] : lines) EXPECT_EQ(SimCommand::parse(line).kind, kind) << line;
    // Every verb the help lists is one the simulator reads.
    std::istringstream help(SimCommand::helpText());
    std::string row;
    int listed = 0;
    while (std::getline(help, row)) {
        if (row.rfind("  ", 0) != 0 || row[2] == ' ') continue;
        const std::string verb = row.substr(2, row.find(' ', 2) - 2);
        EXPECT_NE(SimCommand::parse(verb).error.rfind("unknown command", 0), 0u) << verb;
        ++listed;
    }
    EXPECT_GE(listed, 25);
    // Defaults a verb gives: neither a swipe nor a scroll has a distance (a scroll then moves a
    // screenful less a row).
    EXPECT_EQ(SimCommand::parse("swipe left").distance, 0);
    EXPECT_EQ(SimCommand::parse("scroll up").distance, 0);
    EXPECT_EQ(SimCommand::parse("frobnicate").error, "unknown command \"frobnicate\" (help lists the commands)");
}

TEST(SimulatorRun, AScriptThatCannotBeReadIsAnErrorWithItsReasonAndNothingRuns) {
    const std::string folder = Sandbox::tmp() + "/a-folder";
    std::filesystem::create_directories(folder);
    const std::string start = std::string(OSTREL_SIM) + " --home " + Sandbox::home() + " --bundle " + Sandbox::tmp() +
                              " --delegate SimSampleAppDelegate --script ";
    ProcessRun run = runCommand(start + folder + " 2>&1 </dev/null");
    EXPECT_EQ(run.status, 66);
    EXPECT_NE(run.output.find("cannot read the script " + folder + ": it is a folder, not a file"), std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("Sample"), std::string::npos) << "the application ran:\n" << run.output;

    const std::string missing = Sandbox::tmp() + "/no-such-script.txt";
    run = runCommand(start + missing + " 2>&1 </dev/null");
    EXPECT_EQ(run.status, 66);
    EXPECT_NE(run.output.find("cannot read the script " + missing + ": No such file or directory"), std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("Sample"), std::string::npos) << run.output;
}

TEST(SimulatorRun, AScriptIsReadAsAStreamFromAPipe) {
    const ProcessRun run = runCommand("printf 'expect == Sample ==\\nshow\\n' | " + std::string(OSTREL_SIM) + " --home " +
                                      Sandbox::home() + " --bundle " + Sandbox::tmp() +
                                      " --delegate SimSampleAppDelegate --script /dev/stdin 2>&1");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("> show\n== Sample =="), std::string::npos) << run.output;
}

TEST(SimulatorRun, PauseAndIdleLetTheApplicationRunOnAndReportWhatTheyWaitedFor) {
    const ProcessRun run = simulate("--delegate SimSampleAppDelegate", "tap Count\n"
                                                                "pause 0.05\n"
                                                                "# nothing is in flight: idle returns at once\n"
                                                                "idle\n"
                                                                "idle 1\n"
                                                                "expect Taps: 1\n"
                                                                "pause soon\n");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("script.txt:7: pause needs a number of seconds of real time from 0 to 600"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("still busy"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("1 line was refused"), std::string::npos) << run.output;
}

TEST(SimulatorCommands, PauseAndIdleTakeSecondsOfRealTime) {
    auto pause = SimCommand::parse("pause 1.5");
    EXPECT_EQ(pause.kind, SimCommand::Kind::Pause);
    EXPECT_EQ(pause.seconds, 1.5);
    auto idle = SimCommand::parse("idle");
    EXPECT_EQ(idle.kind, SimCommand::Kind::Idle);
    EXPECT_EQ(idle.seconds, SimCommand::kAwaitSeconds);
    EXPECT_EQ(SimCommand::parse("idle 30").seconds, 30);
    EXPECT_EQ(SimCommand::parse("pause 0").kind, SimCommand::Kind::Pause);
    for (const char* bad : {"pause", "pause -1", "pause 601", "pause nan", "idle 0", "idle -2", "idle later", "idle 601"}) {
        auto c = SimCommand::parse(bad);
        EXPECT_EQ(c.kind, SimCommand::Kind::Invalid) << bad;
        EXPECT_FALSE(c.error.empty()) << bad;
    }
    const std::string help = SimCommand::helpText();
    EXPECT_NE(help.find("pause SECONDS"), std::string::npos);
    EXPECT_NE(help.find("idle [SECONDS]"), std::string::npos);
}
