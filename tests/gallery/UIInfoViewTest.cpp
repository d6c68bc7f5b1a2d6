// Picture and author information over the demo catalogue: the texts of a picture row, the
// information screen's page, title and reading settings, and the screen reached from a row's
// information button in the category browser (an author on the phone, a genre on the pad); a
// shot of its reading buttons.
#include "gallery/UIInfoView.h"

#include "config/AppConfig.h"
#include "config/OEConfigFactory.h"
#include "content/ListOtherSubCat_DataSource.h"
#include "gallery/ImageInfo.h"
#include "gallery/StandartCellInfo_TableViewDelegate.h"
#include "gallery/UIDBViewController_iPad.h"
#include "gallery/UIDBViewController_iPhone.h"
#include "gallery/UIImageCell.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIBarButtonItem.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationBar.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UITableView.h"
#include "platform/web/WKWebView.h"
#include "platform/ui/UIWindow.h"
#include "platform/foundation/Sandbox.h"
#include "simulator/SimRenderer.h"
#include "simulator/SimScreen.h"
#include "tests/gallery/GalleryFixture.h"
#include "tests/simulator/SimTestSupport.h"
#include "uikit/UIStandartInfoCell.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

namespace {

class UIInfoViewTest : public GalleryFixture {
protected:
    static void TearDownTestSuite() { SimRenderer::releaseCaches(); }
    void SetUp() override {
        GalleryFixture::SetUp();
        Clock::setManual(100);
    }
    void TearDown() override {
        window_.reset();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
        UIDevice::currentDevice()->setSystemVersion("");
        Clock::setReal();
        GalleryFixture::TearDown();
    }
    void show(const std::shared_ptr<UIViewController>& root, CGSize size) {
        window_ = UIWindow::initWithFrame({{0, 0}, size});
        window_->setRootViewController(root);
        window_->makeKeyAndVisible();
        NSRunLoop::mainRunLoop()->runUntilIdle();
    }
    // The information screen presented in its navigation controller over the window.
    std::shared_ptr<UIInfoView> presentedInfo() const {
        auto navigation =
            std::dynamic_pointer_cast<UINavigationController>(window_->rootViewController()->presentedViewController());
        return navigation ? std::dynamic_pointer_cast<UIInfoView>(navigation->topViewController()) : nullptr;
    }
    static std::shared_ptr<AppConfig> settings() { return AppConfig::sharedAppConfig(); }
    static std::string imageName(const std::shared_ptr<UIButton>& button) {
        auto image = button->imageForState(UIControlStateNormal);
        return image ? image->name() : "";
    }

    std::shared_ptr<UIWindow> window_;
};

const DemoPainter& painterWithBio() {
    for (const auto& painter : DemoCatalogue::painters())
        if (painter.bioEn && *painter.bioEn) return painter;
    return DemoCatalogue::painters().front();
}

}  // namespace

TEST_F(UIInfoViewTest, APictureRowGivesItsLocalisedTextsAndTheAuthorsDescription) {
    auto source = catalogue();
    auto subCat = (*source->subCatList((*source->catList())[0]))[0];
    auto rows = source->list(subCat);
    ASSERT_TRUE(rows && !rows->empty());
    const auto& row = (*rows)[0];
    const auto index = row.get("index").intValue();
    const DemoPainting* painting = nullptr;
    for (const auto& p : DemoCatalogue::paintings())
        if (p.index == index) painting = &p;
    ASSERT_TRUE(painting);
    const auto& painter = DemoCatalogue::painters()[static_cast<std::size_t>(painting->painter) - 1];
    ASSERT_EQ(painter.index, painting->painter);

    ImageInfo info(locale(), row);
    EXPECT_EQ(info.name(), painting->title.en);
    EXPECT_EQ(info.author(), painter.name.en);
    EXPECT_EQ(info.imageDescription(), painting->aboutEn ? painting->aboutEn : "");
    EXPECT_EQ(info.authorDescription(), painter.bioEn ? painter.bioEn : "");
    EXPECT_EQ(info.textForField("name"), painting->title.en);
    EXPECT_EQ(info.fullName(), std::string(painter.name.en) + " - " + painting->title.en);

    // The picture's information screen as the pager's strip would open it.
    auto screen = UIInfoView::initWithContext(galleryContext());
    screen->setAuthor(info.fullName());
    screen->setText(info.imageDescription());
    show(UINavigationController::initWithRootViewController(screen), {375, 667});
    EXPECT_EQ(screen->titleLabel()->text(), info.fullName());
    EXPECT_EQ(screen->webView()->text(), info.imageDescription());
    // Not presented: no close item.
    EXPECT_FALSE(screen->navigationItem()->leftBarButtonItem());
}

TEST_F(UIInfoViewTest, ThePageCarriesTheTextWithTheStoredAlignmentSizeAndColour) {
    settings()->setInt(0, kTextAlignInfoKey);
    settings()->setInt(14, kFontSizeKey);
    auto screen = UIInfoView::initWithContext(galleryContext());
    screen->setAuthor("Title");
    screen->setText("<p>One &amp; <a href='x'>two</a></p>");
    show(UINavigationController::initWithRootViewController(screen), {375, 667});

    EXPECT_EQ(screen->webView()->html(),
              "<html><head><meta name='viewport' content='width=device-width, initial-scale=1.0, maximum-scale=1.0, "
              "minimum-scale=1.0, user-scalable=no'><style>p{  margin-top:8px;  margin-bottom:8px; }A:link {COLOR: "
              "#008000; TEXT-DECORATION: none; border-bottom: 1px dashed #008000}A:visited {COLOR: #008000; "
              "TEXT-DECORATION: none; border-bottom: 1px dashed #008000}A:active {COLOR: #008000; TEXT-DECORATION: "
              "none; border-bottom: 1px dashed #008000}</style></head><body style='background-color: "
              "transparent'><div align=\"left\" style=\"margin: 10px 5px 10px 5px; font-size:14pt; color: #000000; "
              "font-family:Verdana\"><p>One &amp; <a href='x'>two</a></p></div></body></html>");
    EXPECT_EQ(screen->webView()->baseURL(), "");
    EXPECT_EQ(screen->webView()->text(), "One & two");
    EXPECT_FALSE(screen->webView()->isOpaque());
    EXPECT_EQ(imageName(screen->alignButton()), "aleft");
    auto title = screen->titleLabel();
    EXPECT_EQ(title->numberOfLines(), 2);
    EXPECT_EQ(title->font()->pointSize(), 16);
    EXPECT_EQ(title->frame().size.width, screen->navigationController()->navigationBar()->frame().size.width - 100);

    screen->alignClick();
    EXPECT_EQ(settings()->intValue(kTextAlignInfoKey), 1);
    EXPECT_EQ(imageName(screen->alignButton()), "ajustify");
    EXPECT_NE(screen->webView()->html().find("<div align=\"justify\""), std::string::npos);
    screen->alignButton()->simulateTap();
    EXPECT_EQ(settings()->intValue(kTextAlignInfoKey), 0);

    // Dark style from system version 13 on: white text.
    UIScreen::mainScreen()->setUserInterfaceStyle(UIUserInterfaceStyle::Dark);
    UIDevice::currentDevice()->setSystemVersion("12.4");
    screen->showText();
    EXPECT_NE(screen->webView()->html().find("color: #000000;"), std::string::npos);
    UIDevice::currentDevice()->setSystemVersion("13.0");
    screen->showText();
    EXPECT_NE(screen->webView()->html().find("color: #ffffff;"), std::string::npos);
}

TEST_F(UIInfoViewTest, TheReadingSettingsAreTheProcesssOne) {
    // Defaults of another text configuration than the screen's context has.
    auto texts = OEConfigFactory::defaultFactory()->makeConfig()->text();
    texts->setDefFontSize(13);
    settings()->setTextsConfig(texts);
    auto screen = UIInfoView::initWithContext(galleryContext());
    screen->setText("<p>Text</p>");
    show(UINavigationController::initWithRootViewController(screen), {375, 667});
    EXPECT_NE(screen->webView()->html().find("font-size:13pt"), std::string::npos) << screen->webView()->html();
    screen->fontZoomInClick();
    EXPECT_EQ(settings()->intValue(kFontSizeKey), 14);
}

TEST_F(UIInfoViewTest, TheFontButtonsStopAtNineAndEighteenPoints) {
    auto screen = UIInfoView::initWithContext(galleryContext());
    show(UINavigationController::initWithRootViewController(screen), {375, 667});
    EXPECT_EQ(settings()->intValue(kFontSizeKey), galleryContext().app.config->text()->defFontSize());
    auto size = [&] { return settings()->intValue(kFontSizeKey); };

    settings()->setInt(10, kFontSizeKey);
    screen->fontZoomOutButton()->simulateTap();
    EXPECT_EQ(size(), 9);
    EXPECT_NE(screen->webView()->html().find("font-size:9pt"), std::string::npos);
    screen->fontZoomOutClick();
    EXPECT_EQ(size(), 9);
    settings()->setInt(17, kFontSizeKey);
    screen->fontZoomInButton()->simulateTap();
    EXPECT_EQ(size(), 18);
    screen->fontZoomInClick();
    EXPECT_EQ(size(), 18);
    // A size outside the range moves only back towards it.
    settings()->setInt(25, kFontSizeKey);
    screen->fontZoomInClick();
    EXPECT_EQ(size(), 25);
    screen->fontZoomOutClick();
    EXPECT_EQ(size(), 24);
    settings()->setInt(4, kFontSizeKey);
    screen->fontZoomOutClick();
    EXPECT_EQ(size(), 4);
    screen->fontZoomInClick();
    EXPECT_EQ(size(), 5);
    EXPECT_NE(screen->webView()->html().find("font-size:5pt"), std::string::npos);
}

TEST_F(UIInfoViewTest, AShotShowsTheAlignmentGlyphAndTheSmallerAndLargerButtonsOnThePage) {
    auto screen = UIInfoView::initWithContext(galleryContext());
    screen->setText("Court painter of Philip IV.");
    show(UINavigationController::initWithRootViewController(screen), {375, 667});
    window_->layoutAndDisplayIfNeeded();
    const std::string path = Sandbox::tmp() + "/info.png";
    std::string error;
    ASSERT_TRUE(SimRenderer::writePNG(path, error)) << error;
    auto shot = UIImage::imageWithContentsOfFile(path);
    ASSERT_TRUE(shot);
    // The page's light background is left unmarked; each button shows its glyph or its title.
    for (const auto& button : {screen->alignButton(), screen->fontZoomOutButton(), screen->fontZoomInButton()}) {
        SCOPED_TRACE(button->currentTitle());
        const CGRect box = button->convertRectToView(button->bounds(), window_);
        EXPECT_EQ(markedPixels(*shot, CGRectMake(box.origin.x, box.origin.y, box.size.width, 6)), 0);
        EXPECT_GT(markedPixels(*shot, box), 15);
    }
}

TEST_F(UIInfoViewTest, AnAuthorRowsInformationButtonPresentsTheAuthorsBiographyOnThePhone) {
    configureGroupings({{"subCat", "By Janre"}, {"author", "By Name"}});
    auto browser = UIDBViewController_iPhone::initWithSource(catalogue(), galleryContext());
    show(UINavigationController::initWithRootViewController(browser), {375, 667});
    browser->segmentedControl()->simulateTapOnSegment(1);
    auto delegate = std::dynamic_pointer_cast<StandartCellInfo_TableViewDelegate>(browser->currentTableViewDelegate());
    ASSERT_TRUE(delegate);

    const auto& painter = painterWithBio();
    auto table = browser->tableView();
    std::optional<NSIndexPath> path;
    for (long s = 0; s < table->numberOfSections() && !path; ++s)
        for (long r = 0; r < table->numberOfRowsInSection(s) && !path; ++r)
            if (delegate->subCatForIndexPath({s, r})->data().get("name_en").stringValue() == painter.name.en)
                path = NSIndexPath{s, r};
    ASSERT_TRUE(path);
    table->scrollToRowAtIndexPath(*path, UITableViewScrollPositionMiddle, false);
    auto cell = std::dynamic_pointer_cast<UIStandartInfoCell>(table->cellForRowAtIndexPath(*path));
    ASSERT_TRUE(cell);
    ASSERT_FALSE(cell->infoButton()->isHidden());
    cell->infoButton()->simulateTap();
    Clock::advance(1);

    auto info = presentedInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->author(), painter.name.en);
    EXPECT_EQ(info->text(), painter.bioEn);
    EXPECT_EQ(info->titleLabel()->text(), painter.name.en);
    EXPECT_EQ(info->webView()->text(), painter.bioEn);
    // The stored alignment starts as justified.
    EXPECT_EQ(imageName(info->alignButton()), "ajustify");
    EXPECT_TRUE(info->navigationController()->isToolbarHidden());
    const std::string screen = SimScreen::capture().text();
    EXPECT_NE(screen.find(std::string("page \"") + painter.bioEn), std::string::npos) << screen;
    EXPECT_NE(screen.find("button \"justify\""), std::string::npos) << screen;
    EXPECT_NE(screen.find("button \"A+\""), std::string::npos) << screen;

    auto close = info->navigationItem()->leftBarButtonItem();
    ASSERT_TRUE(close);
    EXPECT_EQ(close->title(), NSLocalizedStringFromTable("Back", "Core"));
    info->closeClick();
    Clock::advance(1);
    EXPECT_FALSE(presentedInfo());
}

TEST_F(UIInfoViewTest, AGenreRowsInformationButtonPresentsItsDescriptionOnThePad) {
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    auto source = catalogue();
    auto browser = UIDBViewController_iPad::initWithSource(source, galleryContext());
    auto split = UISplitViewController::make();
    split->setViewControllers({UINavigationController::initWithRootViewController(browser)});
    show(split, {1024, 768});

    // A genre with a picture and a description.
    const DemoGroup* described = nullptr;
    auto table = browser->tableView();
    std::optional<NSIndexPath> path;
    for (long s = 0; s < table->numberOfSections() && !path; ++s) {
        for (long r = 0; r < table->numberOfRowsInSection(s) && !path; ++r) {
            const auto index = UIDBViewController::subcatInSource(source, {s, r})->index();
            for (const auto& group : DemoCatalogue::genreGroups()) {
                if (group.index == index && group.descriptionEn && *group.filePath) {
                    described = &group;
                    path = NSIndexPath{s, r};
                }
            }
        }
    }
    ASSERT_TRUE(path);
    table->scrollToRowAtIndexPath(*path, UITableViewScrollPositionMiddle, false);
    auto cell = std::dynamic_pointer_cast<UIImageCell>(table->cellForRowAtIndexPath(*path));
    ASSERT_TRUE(cell);
    cell->infoButton()->simulateTap();
    Clock::advance(1);

    auto info = presentedInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->author(), described->name.en);
    EXPECT_EQ(info->webView()->text(), described->descriptionEn);
    EXPECT_TRUE(info->navigationItem()->leftBarButtonItem());
}

TEST_F(UIInfoViewTest, TheSendItemMailsTheTextWhenTheDeviceCanSendMail) {
    auto presenter = UIViewController::make();
    show(presenter, UIScreen::mainScreen()->bounds().size);
    auto info = UIInfoView::presentInfo(presenter, galleryContext(), "Vermeer", "<p>Light from the <b>left</b>.</p>");
    pass(1);
    ASSERT_EQ(presentedInfo(), info);
    auto send = info->navigationItem()->rightBarButtonItem();
    ASSERT_TRUE(send);
    EXPECT_EQ(send->displayTitle().empty() ? imageName(std::dynamic_pointer_cast<UIButton>(send->customView())) : "",
              "action");

    send->simulateTap();
    pass(1);
    auto composer = std::dynamic_pointer_cast<MFMailComposeViewController>(topController(presenter));
    ASSERT_TRUE(composer);
    EXPECT_EQ(composer->subject(), "Vermeer");
    EXPECT_EQ(composer->messageBody(), "<p>Light from the <b>left</b>.</p>");
    EXPECT_TRUE(composer->isBodyHTML());
    EXPECT_TRUE(composer->toRecipients().empty());
    // Whatever the result, the composer goes and the information stays.
    composer->finishWithResult(MFMailComposeResult::Failed, NSError::errorWithDomain("MFMailComposeErrorDomain", 1));
    pass(1);
    EXPECT_FALSE(std::dynamic_pointer_cast<MFMailComposeViewController>(topController(presenter)));
    EXPECT_EQ(presentedInfo(), info);
    send->simulateTap();
    pass(1);
    composer = std::dynamic_pointer_cast<MFMailComposeViewController>(topController(presenter));
    ASSERT_TRUE(composer);
    composer->sendButton()->simulateTap();
    pass(1);
    EXPECT_FALSE(std::dynamic_pointer_cast<MFMailComposeViewController>(topController(presenter)));

    // No mail account: no send item, and sending does nothing.
    info->closeClick();
    pass(1);
    MFMailComposeViewController::setCanSendMail(false);
    auto plain = UIInfoView::presentInfo(presenter, galleryContext(), "Vermeer", "text");
    pass(1);
    EXPECT_FALSE(plain->navigationItem()->rightBarButtonItem());
    plain->sendEmail();
    pass(1);
    EXPECT_FALSE(std::dynamic_pointer_cast<MFMailComposeViewController>(topController(presenter)));
    MFMailComposeViewController::setCanSendMail(true);
}
