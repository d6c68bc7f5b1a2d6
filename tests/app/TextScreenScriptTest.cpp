// The text screen of the application as a person reads it and types at it, through the
// simulator: the pager's controls keep their numbers while its bars hide and come back and while
// the information screen comes and goes, and its picture reads by its file's name; a new
// playlist's name is typed at once into its alert; a row is moved by two rows only; on the pad,
// the alert in front is listed first with the one waiting behind it, and the Trash button a
// download brings takes a number of its own; the filter's ticks, the filter in use, a liked
// picture and the tracks ticked for a playlist read (on) or (off) as a shot draws them. The
// pager's overlays, one after another, each take fresh numbers; the slideshow's picture stays
// listed while the page turns; the reader's star, the player's repeat and shuffle read their
// state, and a tap says what it reached as the tap left it; a scroll moves a screenful; the text
// names no address or file of this machine; bytes that are no text are typed as U+FFFD.
#include "tests/app/ServedBundleTest.h"

#include <regex>
#include <set>
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

// The number `output` gives the control listed as `line`, 0 for none.
int numberListed(const std::string& output, const std::string& line) {
    std::smatch found;
    const std::regex numbered("\\[([0-9]+)\\] " + std::regex_replace(line, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)"));
    return std::regex_search(output, found, numbered) ? std::stoi(found[1].str()) : 0;
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
                                        "await == alert: Welcome ==\n"
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

TEST_F(TextScreenScript, OnThePagerEachOverlayThatFollowsAnotherTakesFreshNumbersOnThePhoneAndThePad) {
    // On the pad the pager is presented over the gallery.
    for (const std::string device : {"phone", "pad"}) {
        SCOPED_TRACE(device);
        const ProcessRun result = runScript("tap Portraits\n"
                                            "idle\n"
                                            "tap The Ambassadors\n"
                                            "idle\n"
                                            "tap menu\n"
                                            "show\n"
                                            "tap Download HD\n"
                                            "await Don't Allow\n"
                                            "show\n"
                                            "tap Allow\n"
                                            "await Complete\n"
                                            "show\n"
                                            "tap OK\n",
                                            "--device " + device + " --home " + home + "-" + device);
        ASSERT_EQ(result.status, 0) << result.output;
        const std::string sheet = shownAfter(result.output, 0);
        const std::size_t second = result.output.find("> show\n") + 1;
        const std::string asked = shownAfter(result.output, second);
        const std::string done = shownAfter(result.output, result.output.find("> tap Allow"));
        std::set<int> given;
        for (const char* line : {"Download HD", "Get HD", "Share", "Cancel"}) given.insert(numberListed(sheet, line));
        for (const char* line : {"Don't Allow", "Allow"}) {
            const int number = numberListed(asked, line);
            EXPECT_FALSE(given.count(number)) << line << "\n" << sheet << asked;
            given.insert(number);
        }
        EXPECT_FALSE(given.count(numberListed(done, "OK"))) << done;
        EXPECT_EQ(given.size(), 6u) << sheet << asked;
    }
}

TEST_F(TextScreenScript, TheSlideshowsPictureStaysListedWithItsNumberWhileThePageTurns) {
    std::string script = "tap Portraits\n"
                         "idle\n"
                         "tap The Ambassadors\n"
                         "idle\n"
                         "tap slideshow\n";
    // Past the first turn, a tenth of a second at a time: some of them while the page fades.
    for (int step = 0; step < 60; ++step) script += "advance 0.1\nexpect [1] picture\n";
    script += "show\n";
    const ProcessRun result = runScript(script, "");
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(shownAfter(result.output, 0).find("image p0023.jpg"), std::string::npos) << "the page has turned";
}

TEST_F(TextScreenScript, TheReadersStarAndThePlayersRepeatAndShuffleSayTheirStateAsTheTapLeftIt) {
    const ProcessRun result = runScript("tap menu\n"
                                        "tap Texts\n"
                                        "tap Techniques\n"
                                        "tap Impasto\n"
                                        "expect [2] favorite (off)\n"
                                        "tap 2\n"
                                        "expect [2] favorite (on)\n"
                                        "back\n"
                                        "back\n"
                                        "tap menu\n"
                                        "tap Music Library\n"
                                        "idle\n"
                                        "expect button \"repeat\" (off)\n"
                                        "expect button \"shuffle\" (off)\n"
                                        "tap repeat\n"
                                        "tap repeat\n"
                                        "tap shuffle\n"
                                        "expect button \"repeat\" (one)\n"
                                        "tap compositions\n"
                                        "tap Playlists\n"
                                        "tap add\n"
                                        "type Evening\n"
                                        "tap OK\n"
                                        "tap Winter\n",
                                        "");
    ASSERT_EQ(result.status, 0) << result.output;
    for (const char* echo : {"tapped [2] favorite (on)\n", "] button \"repeat\" (all)\n",
                             "] button \"repeat\" (one)\n", "] button \"shuffle\" (on)\n",
                             "] row \"The Four Seasons: Winter\" \"Antonio Vivaldi\" (badge \"0:04\") (on)"})
        EXPECT_NE(result.output.find(echo), std::string::npos) << echo << "\n" << result.output;
    EXPECT_EQ(result.output.find("shuffle on"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("repeat all"), std::string::npos) << result.output;
}

TEST_F(TextScreenScript, AScrollMovesAScreenfulLessARow) {
    std::string script = "tap By Name\n"
                         "idle\n";
    for (int flick = 0; flick < 12; ++flick) script += "scroll down\n";
    script += "expect row \"Vincent van Gogh\"\n";
    const ProcessRun result = runScript(script, "");
    EXPECT_EQ(result.status, 0) << result.output;
}

TEST_F(TextScreenScript, TheTextNamesNoAddressOrFileOfThisMachineButWhatAPersonSees) {
    const ProcessRun phone = runScript("tap menu\n"
                                       "tap Texts\n"
                                       "tap Techniques\n"
                                       "tap Impasto\n"
                                       "show\n"
                                       "back\n"
                                       "back\n"
                                       "tap menu\n"
                                       "tap Support\n"
                                       "idle\n"
                                       "show\n"
                                       "tap Cancel\n"
                                       "tap menu\n"
                                       "tap Gallery\n"
                                       "tap Portraits\n"
                                       "idle\n"
                                       "tap The Ambassadors\n"
                                       "idle\n"
                                       "tap menu\n"
                                       "tap Get HD\n"
                                       "expect -- bar: [1] Cancel  | [2] Request\n",
                                       "");
    ASSERT_EQ(phone.status, 0) << phone.output;
    EXPECT_NE(shownAfter(phone.output, 0).find("heading \"Impasto\""), std::string::npos) << phone.output;
    for (const char* detail : {"web file:", "/bundle/", "about:blank", "(untitled)"})
        EXPECT_EQ(phone.output.find(detail), std::string::npos) << detail << "\n" << phone.output;

    const ProcessRun pad = runScript("tap menu\n"
                                     "tap Music Library\n"
                                     "idle\n"
                                     "tap Playlists\n"
                                     "tap new playlist\n"
                                     "type Evening\n"
                                     "tap OK\n"
                                     "tap Winter\n"
                                     "tap Done\n"
                                     "expect button \"Evening\"\n",
                                     "--device pad --home " + home + "-pad");
    ASSERT_EQ(pad.status, 0) << pad.output;
    for (const char* detail : {"image bar_", "image note", "] button\n"})
        EXPECT_EQ(pad.output.find(detail), std::string::npos) << detail << "\n" << pad.output;
}

TEST_F(TextScreenScript, BytesThatAreNoTextAreTypedAsReplacementsAndTheNewPlaylistIsKept) {
    const ProcessRun result = runScript("tap menu\n"
                                        "tap Music Library\n"
                                        "tap compositions\n"
                                        "tap Playlists\n"
                                        "tap add\n"
                                        "type Even\xFFing \xED\xA0\x80\n"
                                        "tap OK\n"
                                        "tap Winter\n"
                                        "tap Done\n"
                                        "expect row \"Even\xEF\xBF\xBDing \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\" \"tracks: 1\"\n",
                                        "");
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("typed U+FFFD in place of each of 4 bytes that are no UTF-8"), std::string::npos)
        << result.output;
    EXPECT_EQ(result.output.find("Playlist not saved"), std::string::npos) << result.output;
}
