// The text screens: the reader's page with its size, alignment and family across a restart, its
// paging, favourite and picture links; the list of texts with its colours and the favourites'
// swipe; the browser's two groupings, its favourites row and its search.
#include "tests/texts/TextsFixture.h"

#include "config/AppConfig.h"
#include "gallery/PhotoPageViewController.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/NSURL.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISearchBar.h"
#include "platform/ui/UITableViewCell.h"
#include "platform/web/HTMLDocument.h"
#include "platform/web/WKWebLinkView.h"
#include "platform/web/WKWebTextView.h"
#include "platform/web/WKWebView.h"
#include "texts/TextEngineRoot_iPhone.h"
#include "texts/UIText.h"
#include "texts/UITextPreview.h"

#include <cstdlib>

namespace {

class TextScreensTest : public TextsFixture {
protected:
    std::shared_ptr<UIText> reader(std::vector<TextEntry> texts, long first = 0) {
        auto screen = UIText::initWithNibName("UIText", textsContext());
        screen->setTexts(std::move(texts));
        screen->setFirstText(first);
        navigation_ = UINavigationController::initWithRootViewController(screen);
        show(navigation_);
        return screen;
    }
    std::vector<TextEntry> demoTexts() {
        auto texts = server();
        return texts->textsForCat(texts->allSubCats()[1]);
    }
    static std::shared_ptr<WKWebTextView> body(const std::shared_ptr<UIText>& screen) {
        const auto views = screen->webView()->textViews();
        return views.size() > 1 ? views[1] : nullptr;
    }
    static std::string imageOf(const std::shared_ptr<UIBarButtonItem>& item) {
        return item && item->image() ? item->image()->name() : "";
    }
    std::shared_ptr<UINavigationController> navigation_;
};

std::string bundleBase() {
    return NSURL::fileURLWithPath(NSBundle::mainBundle()->resourcePath())->absoluteString() + "/";
}

}  // namespace

TEST_F(TextScreensTest, TheReaderPageCarriesTheStoredSizeAlignmentAndFamily) {
    const auto texts = demoTexts();
    auto screen = reader(texts);
    const TextEntry& text = texts[0];
    EXPECT_EQ(screen->webView()->html(),
              "<html><head><style type=\"text/css\">img {width: 95%; display: block; margin: 0 auto;}</style>"
              "<meta name='viewport' content='width=device-width, initial-scale=1.0, maximum-scale=1.0, "
              "minimum-scale=1.0, user-scalable=no'></head></head><body style='background-color: transparent'><div "
              "align=\"center\" style=\"font-size:17pt;\"><h2>" +
                  text.shortText + "</h2></div><div align=\"justify\" style=\"margin: -10px 0px 0px -5px; "
                  "font-size:16pt;font-family:'Arial'\">" + text.fullText + "</div></body></html>");
    EXPECT_EQ(screen->webView()->baseURL(), bundleBase());
    EXPECT_FALSE(screen->webView()->isOpaque());
    const auto views = screen->webView()->textViews();
    ASSERT_GE(views.size(), 2u);
    EXPECT_EQ(views[0]->headingLevel(), 2);
    EXPECT_NEAR(views[0]->cssPointSize(), 17 * 1.5, 0.01);
    EXPECT_NEAR(body(screen)->cssPointSize(), 16, 0.01);
    EXPECT_EQ(body(screen)->textStyle().fontFamily, "Arial");
    EXPECT_EQ(body(screen)->alignmentName(), "justify");
    EXPECT_EQ(screen->title(), "1/4");
    auto image = screen->alignButton()->backgroundImageForState(UIControlStateNormal);
    EXPECT_EQ(image ? image->name() : "", "ajustify");
}

TEST_F(TextScreensTest, TheFontSizeStaysWithinItsBoundsAndOutlivesARestart) {
    auto screen = reader(demoTexts());
    screen->fontZoomInClick();
    EXPECT_NEAR(body(screen)->cssPointSize(), 17, 0.01);
    EXPECT_NEAR(screen->webView()->textViews()[0]->cssPointSize(), 18 * 1.5, 0.01);

    // A new start reads the size back.
    window.reset();
    restartServer();
    auto again = reader(demoTexts());
    EXPECT_NEAR(body(again)->cssPointSize(), 17, 0.01);
    for (int i = 0; i < 10; ++i) again->fontZoomInClick();
    EXPECT_NEAR(body(again)->cssPointSize(), 23, 0.01);
    for (int i = 0; i < 20; ++i) again->fontZoomOutClick();
    EXPECT_NEAR(body(again)->cssPointSize(), 9, 0.01);
    // A stored size out of bounds is read within them.
    NSUserDefaults::standardUserDefaults()->setInteger(400, "FONT_SIZE_TEXTS_KEY");
    again->nextClick();
    EXPECT_NEAR(body(again)->cssPointSize(), 23, 0.01);
}

TEST_F(TextScreensTest, AlignmentCyclesAndIsKept) {
    auto screen = reader(demoTexts());
    const char* expected[] = {"center", "left", "justify", "center"};
    for (const char* word : expected) {
        screen->alignClick();
        EXPECT_EQ(body(screen)->alignmentName(), word);
    }
    EXPECT_EQ(NSUserDefaults::standardUserDefaults()->integerForKey("text_align"), 2);
    window.reset();
    restartServer();
    auto again = reader(demoTexts());
    EXPECT_EQ(body(again)->alignmentName(), "center");
    auto image = again->alignButton()->backgroundImageForState(UIControlStateHighlighted);
    EXPECT_EQ(image ? image->name() : "", "acenter");
}

TEST_F(TextScreensTest, TheFontNameCannotLeaveTheStyle) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    (void)defaults->setObject(Value("Evil'\"><script>alert(1)</script><b>"), "fontName");
    auto screen = reader(demoTexts());
    // Nothing of it ends the style or adds markup: it stays one family name.
    const std::string& page = screen->webView()->html();
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_EQ(body(screen)->textStyle().fontFamily, "Evilscriptalert(1)/scriptb");
    EXPECT_EQ(HTMLDocument::parse(page)->textBlocks().size(), screen->webView()->textViews().size());
    for (const char* name : {"", "  ", "'\"<>"}) {
        (void)defaults->setObject(Value(name), "fontName");
        screen->nextClick();
        EXPECT_EQ(body(screen)->textStyle().fontFamily, "Arial") << name;
    }
    (void)defaults->setObject(Value("Times New Roman"), "fontName");
    screen->nextClick();
    EXPECT_EQ(body(screen)->textStyle().fontFamily, "Times New Roman");
}

TEST_F(TextScreensTest, PagingWrapsAndShowingATextMarksItRead) {
    auto texts = demoTexts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_TRUE(server()->isNewText(texts[3]));
    auto screen = reader(texts);
    EXPECT_EQ(screen->title(), "1/4");
    screen->prevClick();
    EXPECT_EQ(screen->title(), "4/4");
    EXPECT_FALSE(server()->isNewText(texts[3]));
    EXPECT_EQ(screen->webView()->textViews()[0]->text(), texts[3].shortText);
    screen->nextClick();
    EXPECT_EQ(screen->title(), "1/4");
    // A position past the list shows its last text.
    auto beyond = reader(texts, 9);
    EXPECT_EQ(beyond->title(), "4/4");
}

TEST_F(TextScreensTest, TheFavouriteButtonTogglesTheFavourite) {
    auto texts = demoTexts();
    auto screen = reader(texts);
    // The star says what it shows, filled or not.
    auto starOn = [&] {
        const UIAccessibilityTraits traits = accessibilityTraits(*screen->favoritesButton());
        EXPECT_TRUE(traits & UIAccessibilityTraitToggleButton);
        return (traits & UIAccessibilityTraitSelected) != 0;
    };
    EXPECT_EQ(imageOf(screen->favoritesButton()), "favorite_off");
    EXPECT_FALSE(starOn());
    screen->favoritesClick();
    EXPECT_TRUE(server()->textInFavorites(texts[0]));
    EXPECT_EQ(imageOf(screen->favoritesButton()), "favorite_on");
    EXPECT_TRUE(starOn());
    screen->favoritesClick();
    EXPECT_FALSE(server()->textInFavorites(texts[0]));
    EXPECT_EQ(server()->favoritesCount(), 0u);
    EXPECT_EQ(imageOf(screen->favoritesButton()), "favorite_off");
    EXPECT_FALSE(starOn());
}

TEST_F(TextScreensTest, PictureLinksOpenThePagerAndThePageStays) {
    const int monaLisa = demoPaintingTitled("Mona Lisa");
    TextEntry text;
    text.index = 50;
    text.shortText = "Links";
    text.fullText = "<p><a href='imageLink_" + std::to_string(monaLisa) +
                    "'>Mona Lisa</a> <a href='imagePath_%2Fa%20b.jpg'>path</a> <a href='http://127.0.0.1:9/x'>web</a> "
                    "<a href='imageLink_999999'>none</a> <a href='mailto:a@example.invalid'>mail</a></p>";
    auto screen = reader({text});
    const auto links = screen->webView()->linkViews();
    ASSERT_EQ(links.size(), 5u);
    links[0]->sendActionsForControlEvents(UIControlEventTouchUpInside);
    ASSERT_EQ(shown.size(), 1u);
    auto pager = std::dynamic_pointer_cast<PhotoPageViewController>(shown[0].first);
    ASSERT_TRUE(pager);
    EXPECT_TRUE(shown[0].second);
    EXPECT_TRUE(pager->hideControlls());
    ASSERT_EQ(pager->imagesData()->size(), 1u);
    EXPECT_EQ((*pager->imagesData())[0].get("index").integerValue(), monaLisa);
    links[1]->sendActionsForControlEvents(UIControlEventTouchUpInside);
    ASSERT_EQ(shown.size(), 2u);
    pager = std::dynamic_pointer_cast<PhotoPageViewController>(shown[1].first);
    ASSERT_TRUE(pager);
    EXPECT_EQ((*pager->imagesData())[0].get("imagePath").stringValue(), "/a b.jpg");
    // Other links, and a picture that is not there, open nothing; the page never goes away.
    for (std::size_t i = 2; i < links.size(); ++i) links[i]->sendActionsForControlEvents(UIControlEventTouchUpInside);
    settle();
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_EQ(screen->webView()->URL(), bundleBase());
    EXPECT_EQ(screen->webView()->loadCount(), 1);
    EXPECT_FALSE(screen->webView()->isLoading());
}

TEST_F(TextScreensTest, TheListColoursFollowReadingAndOpensTheReader) {
    auto texts = demoTexts();
    auto list = UITextPreview::initWithContext(textsContext());
    list->setTextsList(texts);
    list->setTextCat("Movements");
    auto navigation = UINavigationController::initWithRootViewController(list);
    show(navigation);
    auto cellAt = [&](long row) { return list->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0)); };
    ASSERT_TRUE(cellAt(2));
    EXPECT_TRUE(cellAt(2)->textLabel()->textColor()->isEqual(UIColor::blackColor().get()));
    EXPECT_EQ(cellAt(2)->detailTextLabel()->text(), texts[2].textWithoutTags);
    list->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(2, 0));
    settle();
    auto opened = std::dynamic_pointer_cast<UIText>(navigation->topViewController());
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->title(), "3/4");
    // Back at the list, the row read is grey.
    navigation->popViewControllerAnimated(false);
    settle();
    EXPECT_TRUE(cellAt(2)->textLabel()->textColor()->isEqual(UIColor::darkGrayColor().get()));
    EXPECT_FALSE(list->canEditRowAtIndexPath(list->tableView(), NSIndexPath::indexPathForRow(0, 0)));
    EXPECT_FALSE(list->tableView()->simulateDeleteRow(NSIndexPath::indexPathForRow(0, 0)));
}

TEST_F(TextScreensTest, SwipingAFavouriteRemovesThatRowOnly) {
    auto texts = server();
    for (int index : {2, 6, 10}) {
        TextEntry entry;
        entry.index = index;
        texts->addTextToFavorites(entry);
    }
    auto list = UITextPreview::initWithContext(textsContext());
    list->setTextsList(texts->favoritesList());
    list->setMode(1);
    show(UINavigationController::initWithRootViewController(list));
    auto detail = list->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0))->detailTextLabel()->text();
    EXPECT_EQ(detail.rfind("Movements, Baroque painting", 0), 0u) << detail;
    ASSERT_TRUE(list->tableView()->simulateDeleteRow(NSIndexPath::indexPathForRow(1, 0)));
    EXPECT_EQ(list->tableView()->numberOfRowsInSection(0), 2);
    ASSERT_EQ(list->textsList().size(), 2u);
    EXPECT_EQ(list->textsList()[0].index, 2);
    EXPECT_EQ(list->textsList()[1].index, 10);
    EXPECT_EQ(favoritesIn(documentsPath("texts.sqlite")), (std::vector<int>{2, 10}));
    EXPECT_EQ(texts->favoritesCount(), 2u);
}

TEST_F(TextScreensTest, ARandomTextComesFromTheListAndAnEmptyListHasNone) {
    const unsigned seed = static_cast<unsigned>(std::time(nullptr));
    std::printf("random seed %u\n", seed);
    srandom(seed);
    auto list = UITextPreview::initWithContext(textsContext());
    auto navigation = UINavigationController::initWithRootViewController(list);
    show(navigation);
    list->randomClick();
    settle();
    EXPECT_EQ(navigation->topViewController(), list);
    list->setTextsList(demoTexts());
    list->randomClick();
    settle();
    auto opened = std::dynamic_pointer_cast<UIText>(navigation->topViewController());
    ASSERT_TRUE(opened);
    EXPECT_GE(opened->firstText(), 0);
    EXPECT_LT(opened->firstText(), 4);
}

namespace {

class TextsBrowserTest : public TextsFixture {
protected:
    void SetUp() override {
        TextsFixture::SetUp();
        // Subcategories out of name order, one without texts, one with a Cyrillic name.
        writeTextsDatabase(documentsPath("texts.sqlite"), {{1, "First"}, {2, "Second"}},
                           {{1, "Alpha", 1, 0}, {2, "Beta", 1, 0}, {3, "Apex", 2, 2}, {4, "Bravo", 2, 0},
                            {5, "\u0401\u043b\u043a\u0430", 2, 0}, {6, "Empty", 1, 0}},
                           {{1, 1, "Alpha one", "2024-01-01"}, {2, 2, "Beta one", "2024-01-02"},
                            {3, 3, "Apex 'quoted' %", "2024-01-03"}, {4, 4, "Bravo one", "2024-01-04"},
                            {5, 5, "\u0401 one", "2024-01-05"}, {6, 3, "Apex two", "2024-01-06"}});
        browser = TextEngineRoot_iPhone::initWithContext(textsContext());
        navigation = UINavigationController::initWithRootViewController(browser);
        show(navigation);
    }
    void TearDown() override {
        browser.reset();
        navigation.reset();
        TextsFixture::TearDown();
    }
    std::vector<std::string> rowsOf(long section) {
        std::vector<std::string> out;
        const auto table = browser->tableView();
        for (long row = 0; row < table->numberOfRowsInSection(section); ++row)
            out.push_back(browser->cellForRowAtIndexPath(table, NSIndexPath::indexPathForRow(row, section))->textLabel()->text());
        return out;
    }
    std::shared_ptr<TextEngineRoot_iPhone> browser;
    std::shared_ptr<UINavigationController> navigation;
};

}  // namespace

TEST_F(TextsBrowserTest, ByCategoryAndByFirstLetterEveryRowIsListed) {
    const auto table = browser->tableView();
    EXPECT_EQ(browser->title(), "Texts");
    ASSERT_EQ(table->numberOfSections(), 2);
    EXPECT_EQ(browser->titleForHeaderInSection(table, 0), "First");
    EXPECT_EQ(rowsOf(0), (std::vector<std::string>{"Alpha", "Beta", "Empty"}));
    EXPECT_TRUE(browser->sectionIndexTitlesForTableView(table).empty());
    // The two views under their keys; "By Name" is the gallery's second grouping's as well.
    std::vector<std::string> modes;
    for (const auto& item : browser->toolbarItems())
        if (auto control = std::dynamic_pointer_cast<UISegmentedControl>(item->customView()))
            for (std::size_t i = 0; i < control->numberOfSegments(); ++i) modes.push_back(control->titleForSegmentAtIndex(i));
    EXPECT_EQ(modes, (std::vector<std::string>{"By Year", "By Name"}));
    // By name: each first letter once, with every subcategory of it, whatever the database's order.
    browser->setViewMode(1);
    EXPECT_EQ(browser->sectionIndexTitlesForTableView(table),
              (std::vector<std::string>{"A", "B", "E", "\u0401"}));
    ASSERT_EQ(table->numberOfSections(), 4);
    EXPECT_EQ(rowsOf(0), (std::vector<std::string>{"Alpha", "Apex"}));
    EXPECT_EQ(rowsOf(1), (std::vector<std::string>{"Beta", "Bravo"}));
    EXPECT_EQ(rowsOf(3), (std::vector<std::string>{"\u0401\u043b\u043a\u0430"}));
    EXPECT_EQ(browser->sectionForSectionIndexTitle(table, "B", 1), 1);
    const auto apex = browser->textCatForIndexPath(NSIndexPath::indexPathForRow(1, 0));
    ASSERT_TRUE(apex);
    EXPECT_EQ(browser->indexPathForTextCat(*apex), NSIndexPath::indexPathForRow(1, 0));
    TextCat stranger;
    stranger.catName = "Nowhere";
    EXPECT_FALSE(browser->indexPathForTextCat(stranger));

    // The first favourite brings the favourites row, and the letters move down by one.
    TextEntry entry;
    entry.index = 3;
    server()->addTextToFavorites(entry);
    ASSERT_EQ(table->numberOfSections(), 5);
    const auto favorites = browser->cellForRowAtIndexPath(table, NSIndexPath::indexPathForRow(0, 0));
    EXPECT_EQ(favorites->textLabel()->text(), "Favorites");
    EXPECT_EQ(favorites->detailTextLabel()->text(), "texts: 1");
    EXPECT_EQ(browser->sectionForSectionIndexTitle(table, "B", 1), 2);
    EXPECT_EQ(browser->indexPathForTextCat(*apex), NSIndexPath::indexPathForRow(1, 1));
}

TEST_F(TextsBrowserTest, ChoosingARowOpensItsTexts) {
    const auto table = browser->tableView();
    // Without texts nothing opens.
    table->simulateTapOnRow(NSIndexPath::indexPathForRow(2, 0));
    settle();
    EXPECT_EQ(navigation->topViewController(), browser);
    table->simulateTapOnRow(NSIndexPath::indexPathForRow(0, 0));
    settle();
    auto list = std::dynamic_pointer_cast<UITextPreview>(navigation->topViewController());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->title(), "Alpha");
    EXPECT_EQ(list->mode(), 0);
    ASSERT_EQ(list->textsList().size(), 1u);
    EXPECT_EQ(list->textsList()[0].shortText, "Alpha one");
    navigation->popViewControllerAnimated(false);
    TextEntry entry;
    entry.index = 6;
    server()->addTextToFavorites(entry);
    table->simulateTapOnRow(NSIndexPath::indexPathForRow(0, 0));
    settle();
    list = std::dynamic_pointer_cast<UITextPreview>(navigation->topViewController());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->mode(), 1);
    EXPECT_EQ(list->title(), "Favorites");
    ASSERT_EQ(list->textsList().size(), 1u);
    EXPECT_EQ(list->textsList()[0].subCat, "Apex");
}

TEST_F(TextsBrowserTest, TheSearchTakesHostileTextAndShowsTheSubcategories) {
    auto search = browser->searchController();
    ASSERT_TRUE(search);
    search->setActive(true);
    auto find = [&](const std::string& text) {
        browser->handleSearch(text);
        browser->searchQueue()->waitUntilAllOperationsAreFinished();
        settle();
        std::vector<std::string> rows;
        for (const auto& entry : browser->searchResults()) rows.push_back(entry.shortText + " / " + entry.subCat);
        return rows;
    };
    EXPECT_EQ(find("'quoted' %"), std::vector<std::string>{"Apex 'quoted' % / Apex"});
    EXPECT_EQ(find("one"), (std::vector<std::string>{"Alpha one / Alpha", "Beta one / Beta", "Bravo one / Bravo",
                                                     "\u0401 one / \u0401\u043b\u043a\u0430"}));
    for (const char* hostile : {"' or 1=1 --", "_", "%%", "\\", "\"); drop table texts; --"})
        EXPECT_TRUE(find(hostile).empty()) << hostile;
    const auto table = browser->tableView();
    find("Apex");
    ASSERT_EQ(table->numberOfSections(), 1);
    ASSERT_EQ(table->numberOfRowsInSection(0), 2);
    const auto cell = browser->cellForRowAtIndexPath(table, NSIndexPath::indexPathForRow(0, 0));
    EXPECT_EQ(cell->detailTextLabel()->text(), "Apex");
    EXPECT_GE(cell->textLabel()->frame().origin.x, TextEngineRoot::kCellLeftEdge);
    table->simulateTapOnRow(NSIndexPath::indexPathForRow(1, 0));
    settle();
    auto opened = std::dynamic_pointer_cast<UIText>(navigation->topViewController());
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->title(), "2/2");
    navigation->popViewControllerAnimated(false);
    settle();
    table->layoutIfNeeded();
    ASSERT_FALSE(table->visibleCells().empty()) << "the results are on screen";
    // Cancelling the search brings the catalogue back, its rows with one line only, whichever
    // row a result's cell is used again for.
    search->setActive(false);
    settle();
    EXPECT_TRUE(browser->searchResults().empty());
    EXPECT_EQ(table->numberOfSections(), 2);
    table->layoutIfNeeded();
    const auto cells = table->visibleCells();
    ASSERT_GE(cells.size(), 3u);
    for (const auto& row : cells) {
        const auto second = row->detailTextLabel();
        EXPECT_TRUE(!second || second->text().empty()) << row->textLabel()->text() << " / " << second->text();
    }
}
