// The articles and the famous-painting posts: the articles of the current language with their
// pictures and painters, their list loading under its overlay and an article's picture in the
// pager; the posts of the demo content server whose picture the catalogue has, their read marks
// across a restart, a post without the current language, and the pad's split view.
#include "tests/texts/TextsFixture.h"

#include "content/SQLiteEngine.h"
#include "gallery/PhotoPageViewController.h"
#include "gallery/UIImageCell.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/NSURL.h"
#include "platform/ui/UIAlertController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/widgets/MBProgressHUD.h"
#include "platform/web/WKWebView.h"
#include "texts/LocalArticlesList.h"
#include "texts/UIArticleViewController.h"
#include "texts/UIArticlesListViewController.h"
#include "texts/UIFamousPostViewController.h"
#include "texts/UIFamousTableViewController.h"

#include <filesystem>
#include <thread>
#include <tuple>

namespace {

class ReadingScreensTest : public TextsFixture {
protected:
    void speak(const char* language) {
        ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value(Value::Array{Value(language)}),
                                                                        "AppleLanguages"));
        configureGroupings({{"subCat", "By Janre"}});
    }
    static bool waitFor(const std::function<bool()>& done) {
        const bool ok = NSRunLoop::mainRunLoop()->runUntil(done, kNetworkWait);
        settle();
        return ok;
    }
    // The signs laid over a row's thumbnail.
    static std::vector<std::string> signsOf(const std::shared_ptr<UITableViewCell>& cell) {
        std::vector<std::string> out;
        auto image = std::dynamic_pointer_cast<UIImageCell>(cell);
        if (!image) return out;
        for (const auto& view : image->image()->subviews())
            if (auto sign = std::dynamic_pointer_cast<UIImageView>(view); sign && sign->image())
                out.push_back(sign->image()->name());
        return out;
    }
    static std::pair<std::string, std::string> labelsOf(const std::shared_ptr<UITableViewCell>& cell) {
        auto image = std::dynamic_pointer_cast<UIImageCell>(cell);
        return image ? std::pair{image->mainText()->text(), image->detailText()->text()} : std::pair<std::string, std::string>{};
    }
    static std::string englishTitle(int painting) {
        for (const auto& p : DemoCatalogue::paintings())
            if (p.index == painting) return p.title.en;
        return "";
    }
    static std::string painterOf(int painting) {
        for (const auto& p : DemoCatalogue::paintings())
            if (p.index == painting) return DemoCatalogue::painters()[static_cast<std::size_t>(p.painter) - 1].name.en;
        return "";
    }
};

}  // namespace

TEST_F(ReadingScreensTest, TheArticlesOfTheCurrentLanguageComeWithPicturesAndPainters) {
    auto list = LocalArticlesList::initWithLocale(galleryContext().app);
    EXPECT_TRUE(list->articles().empty());
    list->load();
    const auto articles = list->articles();
    ASSERT_EQ(articles.size(), 5u);
    const int monaLisa = demoPaintingTitled("Mona Lisa");
    EXPECT_EQ(articles[0]->rawImage()->imageId(), monaLisa);
    EXPECT_EQ(articles[0]->imageName(), "Mona Lisa");
    EXPECT_EQ(articles[0]->authorName(), painterOf(monaLisa));
    EXPECT_EQ(articles[0]->url(), "https://docs.ostrel.invalid/document/d/odm-mona-lisa-en");
    EXPECT_FALSE(list->isNewArticle(*articles[0]));
    EXPECT_EQ(articles[4]->imageName(), "Girl with a Pearl Earring");

    speak("de");
    auto german = LocalArticlesList::initWithLocale(galleryContext().app);
    german->load();
    ASSERT_EQ(german->articles().size(), 3u);
    EXPECT_EQ(german->articles()[0]->rawArticle()->articleId().stringValue(), "odm-hunters-snow-de");
    // Painters and pictures in the reader's language, falling back where a name is missing.
    EXPECT_FALSE(german->articles()[0]->authorName().empty());
    speak("es");
    auto spanish = LocalArticlesList::initWithLocale(galleryContext().app);
    spanish->load();
    // A language without articles lists none.
    EXPECT_EQ(galleryContext().app.localizations->languageStr(), "es");
    EXPECT_TRUE(spanish->articles().empty());
}

TEST_F(ReadingScreensTest, ArticlesWithoutTheirPictureAreLeftOutAndTheLanguageIsAValue) {
    const int monaLisa = demoPaintingTitled("Mona Lisa");
    {
        auto db = SQLiteEngine::initWithPath(documentsPath("articles.sqlite"), true);
        ASSERT_TRUE(db->execRequest("create table articles (id text, image_id integer, language text)"));
        const std::vector<std::tuple<std::string, int, std::string>> rows = {
            {"first one/two?x#y", monaLisa, "en"},
            {"missing-picture", 99999, "en"},
            {"quoted", monaLisa, "en\" OR \"1\"=\"1"},
            {"column", monaLisa, "language"},
            {"german", monaLisa, "de"},
        };
        for (const auto& [id, image, language] : rows)
            ASSERT_TRUE(db->execRequest("insert into articles values (?, ?, ?)", {Value(id), Value(image), Value(language)}));
    }
    auto context = galleryContext().app;
    context.config->app()->setDocumentHost("127.0.0.1:1");
    auto list = LocalArticlesList::initWithLocale(context);
    list->load();
    const auto articles = list->articles();
    ASSERT_EQ(articles.size(), 1u);
    EXPECT_EQ(articles[0]->url(), "https://127.0.0.1:1/document/d/first%20one%2Ftwo%3Fx%23y");
    EXPECT_TRUE(NSURL::URLWithString(articles[0]->url()));
    // The list can be loaded again, from another thread.
    std::thread([&] { list->load(); }).join();
    EXPECT_EQ(list->articles().size(), 1u);
}

TEST_F(ReadingScreensTest, TheArticlesListLoadsUnderItsOverlayAndAnArticleShowsItsPicture) {
    auto list = UIArticlesListViewController::initWithDataList(LocalArticlesList::initWithLocale(galleryContext().app),
                                                               textsContext());
    auto navigation = UINavigationController::initWithRootViewController(list);
    window = UIWindow::initWithFrame({{0, 0}, {375, 667}});
    window->setRootViewController(navigation);
    window->makeKeyAndVisible();
    // At first the overlay covers the screen and the list is empty.
    ASSERT_TRUE(list->progressOverlay());
    EXPECT_EQ(list->tableView()->numberOfRowsInSection(0), 0);
    EXPECT_EQ(list->title(), "Articles");
    ASSERT_TRUE(waitFor([&] { return list->shownArticles().size() == 5; }));
    pass(1);
    EXPECT_EQ(MBProgressHUD::HUDForView(list->view()), nullptr);
    EXPECT_EQ(list->tableView()->numberOfRowsInSection(0), 5);
    const int monaLisa = demoPaintingTitled("Mona Lisa");
    auto first = list->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0));
    EXPECT_EQ(labelsOf(first), (std::pair<std::string, std::string>{painterOf(monaLisa), "Mona Lisa"}));
    EXPECT_TRUE(signsOf(first).empty());
    EXPECT_EQ(list->heightForRowAtIndexPath(list->tableView(), NSIndexPath::indexPathForRow(0, 0)), 130);

    list->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(0, 0));
    pass(1);
    auto article = std::dynamic_pointer_cast<UIArticleViewController>(navigation->topViewController());
    ASSERT_TRUE(article);
    EXPECT_EQ(article->title(), "Mona Lisa");
    EXPECT_EQ(article->postLoadScript(), UIArticleViewController::kRemoveHeaderScript);
    EXPECT_EQ(article->webView()->URL(), "https://docs.ostrel.invalid/document/d/odm-mona-lisa-en");
    // The document host is not configured: the load fails, and the spinner stops.
    ASSERT_TRUE(waitFor([&] { return !article->webView()->isLoading(); }));
    EXPECT_EQ(article->framesLoadCounter(), 0);
    auto picture = article->navigationItem()->rightBarButtonItem();
    ASSERT_TRUE(picture);
    picture->simulateTap();
    pass(1);
    auto pager = std::dynamic_pointer_cast<PhotoPageViewController>(navigation->topViewController());
    ASSERT_TRUE(pager);
    ASSERT_EQ(pager->imagesData()->size(), 1u);
    EXPECT_EQ((*pager->imagesData())[0].get("index").integerValue(), monaLisa);
    EXPECT_EQ(pager->currentImageIndex(), 0);
}

TEST_F(ReadingScreensTest, OnAPadTheFirstArticleIsMarkedButNotOpened) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto list = UIArticlesListViewController::initWithDataList(LocalArticlesList::initWithLocale(galleryContext().app),
                                                               textsContext());
    auto split = UISplitViewController::make();
    split->setViewControllers({UINavigationController::initWithRootViewController(list)});
    show(split, {1024, 768});
    ASSERT_TRUE(waitFor([&] { return !list->shownArticles().empty(); }));
    EXPECT_EQ(list->tableView()->indexPathForSelectedRow(), NSIndexPath::indexPathForRow(0, 0));
    EXPECT_EQ(split->viewControllers().size(), 1u);
    list->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(2, 0));
    pass(1);
    ASSERT_EQ(split->viewControllers().size(), 2u);
    auto detail = std::dynamic_pointer_cast<UINavigationController>(split->viewControllers()[1]);
    ASSERT_TRUE(detail);
    auto article = std::dynamic_pointer_cast<UIArticleViewController>(detail->topViewController());
    ASSERT_TRUE(article);
    EXPECT_EQ(article->title(), "The Great Wave off Kanagawa");
    // Its picture comes over the split view.
    article->showImage();
    pass(1);
    auto presented = std::dynamic_pointer_cast<UINavigationController>(split->presentedViewController());
    ASSERT_TRUE(presented);
    EXPECT_TRUE(std::dynamic_pointer_cast<PhotoPageViewController>(presented->topViewController()));
}

namespace {

class FamousScreensTest : public ReadingScreensTest {
protected:
    void SetUp() override {
        ReadingScreensTest::SetUp();
        server = startContentServer();
        ASSERT_TRUE(server);
        galleryContext().app.config->app()->setFamousServer(server->host());
    }
    void TearDown() override {
        list.reset();
        navigation.reset();
        ReadingScreensTest::TearDown();
        server.reset();
    }
    void open() {
        list = UIFamousTableViewController::initWithStyle(UITableViewStyleGrouped, textsContext());
        navigation = UINavigationController::initWithRootViewController(list);
        show(navigation);
        ASSERT_TRUE(waitFor([&] { return !list->activityIndicator(); }));
    }
    std::shared_ptr<UITableViewCell> row(long index) {
        return list->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(index, 0));
    }
    std::unique_ptr<ContentServer> server;
    std::shared_ptr<UIFamousTableViewController> list;
    std::shared_ptr<UINavigationController> navigation;
};

}  // namespace

TEST_F(FamousScreensTest, PostsWhosePictureIsMissingAreLeftOutAndTheOthersAreNew) {
    open();
    EXPECT_EQ(list->title(), "Famous Paintings");
    EXPECT_EQ(list->tableView()->contentInset().top, -40);
    // Five posts, one about a painting the catalogue lacks.
    ASSERT_EQ(list->availablePosts().size(), 4u);
    ASSERT_EQ(list->tableView()->numberOfRowsInSection(0), 4);
    const int monaLisa = demoPaintingTitled("Mona Lisa");
    EXPECT_EQ(labelsOf(row(0)), (std::pair<std::string, std::string>{painterOf(monaLisa), "Mona Lisa"}));
    EXPECT_EQ(list->imagesData()[3].get("index").integerValue(), demoPaintingTitled("The Night Watch"));
    for (long i = 0; i < 4; ++i) EXPECT_EQ(signsOf(row(i)), std::vector<std::string>{"new_item"}) << i;
}

TEST_F(FamousScreensTest, AnOpenedPostIsReadAlsoAfterARestart) {
    open();
    list->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(0, 0));
    pass(1);
    auto post = std::dynamic_pointer_cast<UIFamousPostViewController>(navigation->topViewController());
    ASSERT_TRUE(post);
    EXPECT_EQ(post->title(), "The smile everyone knows");
    // The post's page comes from the content server.
    ASSERT_TRUE(waitFor([&] { return !post->webView()->isLoading() && post->webView()->loadCount() > 0; }));
    EXPECT_EQ(post->webView()->text(), "The smile everyone knows\nAbout Mona Lisa.");
    post->navigationItem()->rightBarButtonItem()->simulateTap();
    pass(1);
    auto pager = std::dynamic_pointer_cast<PhotoPageViewController>(navigation->topViewController());
    ASSERT_TRUE(pager);
    EXPECT_EQ((*pager->imagesData())[0].get("index").integerValue(), demoPaintingTitled("Mona Lisa"));
    navigation->popToRootViewControllerAnimated(false);
    settle();
    EXPECT_TRUE(signsOf(row(0)).empty());
    EXPECT_EQ(signsOf(row(1)), std::vector<std::string>{"new_item"});

    // A new start: the copy of the list is fresh, the mark is kept.
    (void)NSUserDefaults::standardUserDefaults()->synchronize();
    NSUserDefaults::resetStandardUserDefaults();
    ASSERT_TRUE(NSUserDefaults::standardUserDefaults()->setObject(Value(Value::Array{Value("en")}), "AppleLanguages"));
    const auto asked = server->requests().size();
    open();
    EXPECT_EQ(server->requests().size(), asked);
    EXPECT_TRUE(signsOf(row(0)).empty());
}

TEST_F(FamousScreensTest, APostWithoutTheReadersLanguageHasNoTitleAndNoPage) {
    open();
    list->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(3, 0));
    pass(1);
    auto post = std::dynamic_pointer_cast<UIFamousPostViewController>(navigation->topViewController());
    ASSERT_TRUE(post);
    EXPECT_EQ(post->title(), "");
    EXPECT_FALSE(post->url());
    EXPECT_EQ(post->webView()->URL(), "");
    // In German it has both.
    speak("de");
    galleryContext().app.config->app()->setFamousServer(server->host());
    open();
    list->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(3, 0));
    pass(1);
    post = std::dynamic_pointer_cast<UIFamousPostViewController>(navigation->topViewController());
    ASSERT_TRUE(post);
    EXPECT_EQ(post->title(), "Die Nachtwache bei Tageslicht");
}

TEST_F(FamousScreensTest, AFailedListSaysWhyAndListsNothing) {
    galleryContext().app.config->app()->setFamousIdentifier("someone-else");
    open();
    EXPECT_EQ(list->tableView()->numberOfRowsInSection(0), 0);
    auto alert = std::dynamic_pointer_cast<UIAlertController>(navigation->presentedViewController());
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->message(), "Unknown application");
}

TEST_F(FamousScreensTest, OnAPadTheFirstPostShowsBesideTheListOnce) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    list = UIFamousTableViewController::initWithStyle(UITableViewStyleGrouped, textsContext());
    auto split = UISplitViewController::make();
    split->setViewControllers({UINavigationController::initWithRootViewController(list)});
    show(split, {1024, 768});
    ASSERT_TRUE(waitFor([&] { return split->viewControllers().size() == 2; }));
    auto detail = std::dynamic_pointer_cast<UINavigationController>(split->viewControllers()[1]);
    ASSERT_TRUE(detail);
    auto post = std::dynamic_pointer_cast<UIFamousPostViewController>(detail->topViewController());
    ASSERT_TRUE(post);
    EXPECT_EQ(post->title(), "The smile everyone knows");
    // Shown once: its table reloaded, the list not loaded again.
    pass(1);
    EXPECT_EQ(split->viewControllers()[1], detail);
    EXPECT_TRUE(signsOf(row(0)).empty());
    list->tableView()->simulateTapOnRow(NSIndexPath::indexPathForRow(1, 0));
    pass(1);
    auto second = std::dynamic_pointer_cast<UINavigationController>(split->viewControllers()[1]);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->topViewController()->title(), "A night sky in motion");
}
