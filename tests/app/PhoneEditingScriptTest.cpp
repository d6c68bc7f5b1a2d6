// Lists edited by touch on the phone, through the simulator as a person does it: a downloaded
// composition swiped away, a playlist made, its tracks deleted and reordered while it is
// edited, the playlist itself swiped away; the player answers a remote control's presses; and
// a link starts the application.
#include "tests/app/ServedBundleTest.h"

#include <string>

namespace {

class PhoneEditingScript : public ServedBundleTest {
protected:
    PhoneEditingScript() : ServedBundleTest("phone-editing") {}

    ProcessRun run(const std::string& script, const std::string& arguments = "") { return runScript(script, arguments); }
};

// From the launch to the music library's list of compositions.
const char* const kToCompositions = "tap menu\n"
                                    "tap Music Library\n"
                                    "tap compositions\n"
                                    "expect == Compositions ==\n";

}  // namespace

TEST_F(PhoneEditingScript, ADownloadedCompositionAPlaylistAndItsTracksAreDeletedAndMovedByTouch) {
    const ProcessRun result = run(std::string(kToCompositions) +
                                  // Downloaded, a composition offers its deletion when swiped.
                                  "tap 9\n"
                                  "idle\n"
                                  "expect row \"Requiem: Lacrimosa\" \"Wolfgang Amadeus Mozart\" (badge \"0:03\")\n"
                                  "swipe Lacrimosa left\n"
                                  "expect button \"Delete\"\n"
                                  "tap Delete\n"
                                  "expect [8] row \"Requiem: Lacrimosa\" \"Wolfgang Amadeus Mozart\"\n"
                                  "expect [9] button \"download\"\n"
                                  // A playlist of three.
                                  "tap Playlists\n"
                                  "tap add\n"
                                  "type @3 Evening\n"
                                  "tap OK\n"
                                  "tap Winter\n"
                                  "tap Nachtmusik\n"
                                  "tap Air on the G\n"
                                  "tap Done\n"
                                  "expect row \"Evening\" \"tracks: 3\"\n"
                                  "tap Evening\n"
                                  "tap Edit\n"
                                  "expect [4] row \"Eine kleine Nachtmusik\" \"Wolfgang Amadeus Mozart\" (movable)\n"
                                  // Edit became Done where it stood, and kept its number.
                                  "expect [2] Done\n"
                                  "expect [8] button \"\u2212\"\n"
                                  // The middle one goes; the last moves to the top.
                                  "tap 8\n"
                                  "tap Delete\n"
                                  "move 5 to 3\n"
                                  "tap Done\n"
                                  "show\n"
                                  "back\n"
                                  "expect row \"Evening\" \"tracks: 2\"\n"
                                  "swipe Evening left\n"
                                  "tap Delete\n"
                                  "expect (empty list)\n");
    ASSERT_EQ(result.status, 0) << result.output;
    const std::size_t shown = result.output.rfind("> show");
    ASSERT_NE(shown, std::string::npos);
    const std::string playlist = result.output.substr(shown, result.output.find("> back", shown) - shown);
    const std::size_t air = playlist.find("Air on the G String");
    const std::size_t winter = playlist.find("The Four Seasons: Winter");
    ASSERT_NE(air, std::string::npos) << playlist;
    ASSERT_NE(winter, std::string::npos) << playlist;
    EXPECT_LT(air, winter) << playlist;
    EXPECT_EQ(playlist.find("Nachtmusik"), std::string::npos) << playlist;
}

TEST_F(PhoneEditingScript, TheRemoteControlPausesAndSkipsAndALinkStartsTheApplication) {
    const ProcessRun result = run("tap menu\n"
                                  "tap Music Library\n"
                                  "expect \"1 of 28\"\n"
                                  "remote play\n"
                                  "expect button \"pause\"\n"
                                  "remote pause\n"
                                  "await button \"play\"\n"
                                  "remote next\n"
                                  "expect \"2 of 28\"\n"
                                  "remote previous\n"
                                  "expect \"1 of 28\"\n"
                                  "remote toggle\n"
                                  "expect button \"pause\"\n");
    ASSERT_EQ(result.status, 0) << result.output;

    const ProcessRun linked = run("show\n", "--launch-url gallery://paintings?utm_source=mail");
    ASSERT_EQ(linked.status, 0) << linked.output;
    EXPECT_NE(linked.output.find("== Gallery =="), std::string::npos) << linked.output;
    const ProcessRun refused = run("show\n", "--launch-url no-scheme");
    EXPECT_EQ(refused.status, 64) << refused.output;
    EXPECT_NE(refused.output.find("--launch-url takes a URL with its scheme"), std::string::npos) << refused.output;
}
