// The music library on a pad, driven through the simulator as a person would: the player with
// the song list, a search,
// and a playlist made in its grid and played from its editor.
#include "tests/app/ServedBundleTest.h"

#include <string>

namespace {

class PadMusicScript : public ServedBundleTest {
protected:
    PadMusicScript() : ServedBundleTest("pad-music") {}

    ProcessRun run(const std::string& script) { return runScript(script, "--device pad"); }
};

}  // namespace

TEST_F(PadMusicScript, SearchAndAPlaylistBothPlay) {
    const ProcessRun result = run("tap menu\n"
                                  "tap Music Library\n"
                                  "expect == Songs ==\n"
                                  "expect -- toolbar: \n"
                                  "tap Songs\n"
                                  "type @43 Mozart\n"
                                  "expect search \"Mozart\"\n"
                                  "tap Rondo alla Turca\n"
                                  "expect \"Wolfgang Amadeus Mozart - Rondo alla Turca\"\n"
                                  "tap Cancel\n"
                                  "expect search \"\"\n"
                                  "expect row \"Für Elise\"\n"
                                  "tap Playlists\n"
                                  "expect == Playlists ==\n"
                                  "expect [9] button \"new playlist\"\n"
                                  "tap 9\n"
                                  "advance 1\n"
                                  "expect New Playlist\n"
                                  "expect field \"\" (typing)\n"
                                  "type Evening\n"
                                  "tap OK\n"
                                  "expect == Evening ==\n"
                                  "tap Eine kleine Nachtmusik\n"
                                  "tap Done\n"
                                  "advance 1\n"
                                  "expect \"compositions: 1\"\n"
                                  "tap Evening\n"
                                  "expect == Evening ==\n"
                                  "tap Eine kleine Nachtmusik\n"
                                  "expect \"Wolfgang Amadeus Mozart - Eine kleine Nachtmusik\"\n");
    EXPECT_EQ(result.status, 0) << result.output;
}
