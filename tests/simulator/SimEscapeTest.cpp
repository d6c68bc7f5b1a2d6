// No name can forge a line of the screen or turn one around: titles, rows, buttons, alerts and
// the words a person typed, echoed back, print their line breaks, quotes, control characters
// and invisible formatting as escapes, and still read as written otherwise.
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITableViewCell.h"
#include "simulator/SimScreen.h"
#include "tests/fixtures/Subprocess.h"
#include "tests/simulator/SimTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using SimEscapeTest = SimSessionTest;

// Playlists named by a person, any name at all.
class Playlists : public NSObject, public UITableViewDataSource {
public:
    std::vector<std::string> names;
    long numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) override { return static_cast<long>(names.size()); }
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>&,
                                                           const NSIndexPath& path) override {
        auto cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "playlist");
        cell->textLabel()->setText(names[static_cast<std::size_t>(path.row)]);
        return cell;
    }
};

}  // namespace

TEST_F(SimEscapeTest, NamesPrintTheirBreaksQuotesControlsAndInvisibleMarksAsEscapes) {
    auto playlists = std::make_shared<Playlists>();
    playlists->names = {"Evening\n  [99] button \"Delete all\"", "\u202Etfel ot thgir", "Tab\there\r", "C1\u0085 \\ end",
                        "Caf\xC3\xA9 \xFF Fa\u00E7ade\u200D"};
    auto list = UIViewController::make();
    list->setTitle("Mine\u2067 \u2028new");
    auto table = UITableView::initWithFrame(CGRectMake(0, 64, 375, 300));
    table->setDataSource(playlists);
    list->view()->addSubview(table);
    auto remove = UIButton::buttonWithType(UIButtonTypeSystem);
    remove->setTitle("Delete\u200F", UIControlStateNormal);
    remove->setFrame(CGRectMake(20, 400, 100, 44));
    list->view()->addSubview(remove);
    window->setRootViewController(UINavigationController::initWithRootViewController(list));
    session.settle();
    EXPECT_EQ(screen(), "== Mine\\u{2067} \\u{2028}new ==\n"
                        "[1] row \"Evening\\n  [99] button \\\"Delete all\\\"\"\n"
                        "[2] row \"\\u{202E}tfel ot thgir\"\n"
                        "[3] row \"Tab\\there\\r\"\n"
                        "[4] row \"C1\\u{0085} \\\\ end\"\n"
                        "[5] row \"Caf\xC3\xA9 \\x{FF} Fa\u00E7ade\u200D\"\n"
                        "[6] button \"Delete\\u{200F}\"\n");
    // Taps reach them by what they show, and say what they reached on one line.
    EXPECT_EQ(run("tap Evening").message, "tapped [1] row \"Evening\\n  [99] button \\\"Delete all\\\"\" (selected)");
    EXPECT_EQ(run("tap \u202Etfel").message, "tapped [2] row \"\\u{202E}tfel ot thgir\" (selected)");

    // Typed words echoed back.
    EXPECT_EQ(run("tap Ca\u202Encel").message, "nothing to tap called \"Ca\\u{202E}ncel\" on the screen");
    EXPECT_EQ(run("expect say \"hi\"\u2066").message, "expected \"say \\\"hi\\\"\\u{2066}\" on the screen, but it is not there");

    // An alert's title and message as well.
    UIAlertView::initWithTitle("News\nfrom the server", "Line one\u202D\nline two", nullptr, "OK", {})->show();
    const std::string shown = screen();
    EXPECT_NE(shown.find("== alert: News\\nfrom the server ==\n  Line one\\u{202D}\\nline two\n  [7] OK\n"),
              std::string::npos)
        << shown;
}

TEST(SimEscapeRun, AScriptsLinesAndTheMessagesAboutThemAreEchoedOnOneLineEach) {
    const std::string path = Sandbox::tmp() + "/escapes.txt";
    std::ofstream(path) << "frob\u202Enicate\nexpect Hello\u2067\rthere\n";
    const ProcessRun run = runCommand(std::string(OSTREL_SIM) + " --home " + Sandbox::home() + " --bundle " +
                                      Sandbox::tmp() + " --delegate SimSampleAppDelegate --script " + path + " 2>&1");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("> frob\\u{202E}nicate\n" + path + ":1: unknown command \"frob\\u{202E}nicate\""),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("> expect Hello\\u{2067}\\rthere\n" + path +
                              ":2: expected \"Hello\\u{2067}\\rthere\" on the screen, but it is not there\n"),
              std::string::npos)
        << run.output;
}
