// The text screen of the application as a person reads it and types at it, through the
// simulator: the pager's controls keep their numbers while its bars hide and come back and while
// the information screen comes and goes, and its picture reads by its file's name; a new
// playlist's name is typed at once into its alert; a row is moved by two rows only; on the pad,
// the alert in front is listed first with the one waiting behind it, and the Trash button a
// download brings takes a number of its own; the filter's ticks, the filter in use, a liked
// picture and the tracks ticked for a playlist read (on) or (off) as a shot draws them.
#include "tests/app/ServedBundleTest.h"

#include <string>

namespace {

class TextScreenScript : public ServedBundleTest {
protected:
    TextScreenScript() : ServedBundleTest("text-screen") {}
};

// The screen a "show" printed in `output`, from the show at `from` on.
std::string shownAfter(const std::string& output, std::size_t from) {
    const std::size_t at = output.find("> show\n", from);
    if (at == std::string::npos) return "";
    const std::size_t start = at + 7, end = output.find("\n> ", start);
    return output.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
}

}  // namespace

TEST_F(TextScreenScript, ThePagersControlsKeepTheirNumbersWhileItsBarsAndItsInformationComeAndGo) {
    const ProcessRun result = runScript("tap Portraits\n"
                                        "idle\n"
                                        "tap The Ambassadors\n"
                                        "idle\n"
                                        "show\n"
                                        "tap picture\n"
                                        "expect [1] picture\n"
                                        "tap picture\n"
                                        "show\n"
                                        "tap 4\n"
                                        "expect == Hans Holbein the Younger ==\n"
                                        "tap Back\n"
                                        "show\n",
                                        "");
    ASSERT_EQ(result.status, 0) << result.output;
    const std::string first = shownAfter(result.output, 0);
    EXPECT_EQ(first.rfind("[1] picture\n  image p0023.jpg\n", 0), 0u) << first;
    EXPECT_NE(first.find("[3] < Portraits  | [4] information  [5] favorite"), std::string::npos) << first;
    EXPECT_NE(first.find("-- toolbar: [6] menu  [7] previous picture"), std::string::npos) << first;
    const std::size_t second = result.output.find("> show\n") + 1;
    EXPECT_EQ(shownAfter(result.output, second), first);
    EXPECT_EQ(shownAfter(result.output, result.output.find("> tap Back")), first);
}

TEST_F(TextScreenScript, ANewPlaylistsNameIsTypedAtOnceAndARowMovesOnlyOntoAnotherRow) {
    const ProcessRun result = runScript("tap menu\n"
                                        "tap Music Library\n"
                                        "tap compositions\n"
                                        "tap Playlists\n"
                                        "tap add\n"
                                        "expect == alert ==\n"
                                        "expect [3] field \"\" (typing)\n"
                                        "type Evening\n"
                                        "tap OK\n"
                                        "tap Winter\n"
                                        "tap Nachtmusik\n"
                                        "tap Brandenburg\n"
                                        "tap Done\n"
                                        "tap Evening\n"
                                        "tap Edit\n"
                                        "expect [3] row \"The Four Seasons: Winter\" \"Antonio Vivaldi\" (movable)\n"
                                        "expect [5] row \"Brandenburg Concerto No. 3\" \"Johann Sebastian Bach\" (movable)\n"
                                        "move 5 to 3\n"
                                        "tap Done\n"
                                        "show\n"
                                        "tap Edit\n"
                                        "move 3 to 3\n",
                                        "");
    const std::string list = shownAfter(result.output, 0);
    ASSERT_NE(list.find("Brandenburg"), std::string::npos) << result.output;
    EXPECT_LT(list.find("Brandenburg"), list.find("Winter")) << list;
    // A row onto its own place is refused, and nothing is said to have moved.
    EXPECT_NE(result.output.find(":22: [3] row \"The Four Seasons: Winter\" \"Antonio Vivaldi\" (movable) is in that "
                                 "place already: nothing moved"),
              std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("moved [3]"), std::string::npos) << result.output;
}

TEST_F(TextScreenScript, OnThePadTheAlertInFrontIsListedFirstAndTheOneBehindItWaits) {
    const ProcessRun result = runScript("advance 1\n"
                                        "expect == alert: Welcome ==\n"
                                        "tap Close\n"
                                        "background\n"
                                        "advance 5\n"
                                        "foreground\n"
                                        "idle\n"
                                        "show\n"
                                        "tap OK\n"
                                        "expect == alert: Complete ==\n"
                                        "tap Cancel\n"
                                        "tap menu\n"
                                        "tap Music Library\n"
                                        "expect [10] button \"download\"\n"
                                        "tap 10\n"
                                        "await ] Trash\n"
                                        "show\n",
                                        "--device pad --default OERemoteMessagesHost=" + server->host());
    ASSERT_EQ(result.status, 0) << result.output;
    const std::string both = shownAfter(result.output, 0);
    const std::size_t front = both.find("== alert: New paintings ==\n  More paintings are waiting on the server.\n  [");
    const std::size_t behind = both.find("== waiting behind it: alert: Complete ==\n");
    ASSERT_NE(front, std::string::npos) << both;
    ASSERT_NE(behind, std::string::npos) << both;
    EXPECT_LT(front, behind);
    EXPECT_NE(both.find("  (its buttons once it is in front: OK, Cancel)\n", behind), std::string::npos) << both;

    // The Trash button the download brings is new: the number of the download tapped stays its own.
    const std::string songs = shownAfter(result.output, result.output.find("> tap 10"));
    EXPECT_EQ(songs.find("[10] "), std::string::npos) << songs;
    EXPECT_NE(songs.find("-- toolbar: ["), std::string::npos) << songs;
    EXPECT_EQ(songs.find("-- toolbar: [10] Trash"), std::string::npos) << songs;
    EXPECT_NE(songs.find("] Trash  "), std::string::npos) << songs;
}

TEST_F(TextScreenScript, TicksTheFilterInUseAndALikedPictureReadOnOrOffAsTheShotDrawsThem) {
    const ProcessRun result = runScript("tap Portraits\n"
                                        "idle\n"
                                        "tap filter\n"
                                        "expect row \"Hans Holbein the Younger\" (off)\n"
                                        "tap Hans Holbein the Younger\n"
                                        "expect row \"Hans Holbein the Younger\" (on)\n"
                                        "expect row \"Johannes Vermeer\" (off)\n"
                                        "tap Done\n"
                                        "expect | [2] filter (on)\n"
                                        "tap The Ambassadors\n"
                                        "idle\n"
                                        "expect [5] favorite (off)\n"
                                        "tap 5\n"
                                        "expect [5] favorite (1) (on)\n"
                                        "back\n"
                                        "back\n"
                                        "tap menu\n"
                                        "tap Music Library\n"
                                        "tap compositions\n"
                                        "tap Playlists\n"
                                        "tap add\n"
                                        "type Evening\n"
                                        "tap OK\n"
                                        "tap Winter\n"
                                        "expect row \"The Four Seasons: Winter\" \"Antonio Vivaldi\" (badge \"0:04\") (on)\n"
                                        "expect row \"Eine kleine Nachtmusik\" \"Wolfgang Amadeus Mozart\" (badge \"0:04\") (off)\n",
                                        "");
    EXPECT_EQ(result.status, 0) << result.output;
}
