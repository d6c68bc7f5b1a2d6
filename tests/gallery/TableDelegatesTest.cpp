// The gallery's table layouts over the demo catalogue: picture rows with their pictures and
// label fitting, text rows for groups without a picture, the counted list with information
// buttons, picking, search results and the owner's callbacks. What a phone's screen shows of
// each layout is checked as the simulator prints it.
#include "content/AllImagesList_DataSource.h"
#include "content/ListOtherSubCat_DataSource.h"
#include "config/OELocalizations.h"
#include "gallery/DetailCell_TableViewDelegate.h"
#include "gallery/ImageCellSearch_TableViewDelegate.h"
#include "gallery/ImageCellSelectable_TableViewDelegate.h"
#include "gallery/ImageCell_TableViewDelegate.h"
#include "gallery/StandartCellInfoSelectable_TableViewDelegate.h"
#include "gallery/StandartCellInfo_TableViewDelegate.h"
#include "gallery/StandartCell_TableViewDelegate.h"
#include "gallery/UIImageCell.h"
#include "gallery/UIImageCellSelectable.h"
#include "gallery/UIThumbailViewController.h"
#include "gallery/iPadCell_TableViewDelegate.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "simulator/SimScreen.h"
#include "tests/gallery/GalleryFixture.h"
#include "uikit/UIStandartInfoCellSelectable.h"

#include <algorithm>
#include <filesystem>
#include <optional>

namespace {

class RecordingOwner : public NSObject, public TableViewDelegateProtocol {
public:
    void itemSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>& dataSource) override {
        selected.push_back(indexPath);
        selectedIn = dataSource;
    }
    bool isSelected(const NSIndexPath& indexPath, const std::shared_ptr<DataSource>&) override {
        return marked && *marked == indexPath;
    }
    void showInfoForCell(const std::shared_ptr<UITableViewCell>& cell, const std::shared_ptr<DataSource>&) override {
        infoCells.push_back(cell);
    }
    std::vector<NSIndexPath> selected;
    std::shared_ptr<DataSource> selectedIn;
    std::vector<std::shared_ptr<UITableViewCell>> infoCells;
    std::optional<NSIndexPath> marked;
};

class TableDelegatesTest : public GalleryFixture {
protected:
    void SetUp() override {
        GalleryFixture::SetUp();
        owner_ = std::make_shared<RecordingOwner>();
        table_ = UITableView::initWithFrame(CGRectMake(0, 0, 320, 4000));
    }
    void TearDown() override {
        UIApplication::sharedApplication()->reset();
        GalleryFixture::TearDown();
    }
    // The table filling a phone's window, as the simulator shows it.
    std::string screenOf(const std::shared_ptr<TableViewDelegate>& delegate) {
        auto screen = UIViewController::make();
        window_ = UIWindow::make();
        window_->setRootViewController(screen);
        window_->makeKeyAndVisible();
        table_ = UITableView::initWithFrame(screen->view()->bounds());
        screen->view()->addSubview(table_);
        drive(delegate);
        table_->layoutIfNeeded();
        return SimScreen::capture().text();
    }
    void drive(const std::shared_ptr<TableViewDelegate>& delegate) {
        delegate_ = delegate;
        delegate->setDelegate(owner_);
        table_->setDataSource(delegate);
        table_->setDelegate(delegate);
        table_->reloadData();
    }
    // The index path of the demo group with this index in the current layout.
    NSIndexPath pathOfGroup(int index) {
        for (long s = 0; s < table_->numberOfSections(); ++s)
            for (long r = 0; r < table_->numberOfRowsInSection(s); ++r)
                if (auto record = delegate_->subCatForIndexPath({s, r}); record && record->index() == index) return {s, r};
        ADD_FAILURE() << "no row for group " << index;
        return {};
    }
    long totalRows() const {
        long rows = 0;
        for (long s = 0; s < table_->numberOfSections(); ++s) rows += table_->numberOfRowsInSection(s);
        return rows;
    }
    static const DemoGroup& genreGroup(int index) { return DemoCatalogue::genreGroups()[static_cast<std::size_t>(index - 1)]; }

    std::shared_ptr<RecordingOwner> owner_;
    std::shared_ptr<UITableView> table_;
    std::shared_ptr<TableViewDelegate> delegate_;
    std::shared_ptr<UIWindow> window_;
};

}  // namespace

TEST_F(TableDelegatesTest, PictureRowsShowTheGroupPictureBesideItsName) {
    drive(ImageCell_TableViewDelegate::initWithDataSource(catalogue(), galleryContext()));
    EXPECT_EQ(table_->numberOfSections(), static_cast<long>(kDemoBigCatCount));
    EXPECT_EQ(totalRows(), static_cast<long>(kDemoGenreGroupsWithPaintings));

    const NSIndexPath first = pathOfGroup(1);
    auto cell = std::dynamic_pointer_cast<UIImageCell>(table_->cellForRowAtIndexPath(first));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->reuseIdentifier(), "ImageCell");
    ASSERT_TRUE(cell->image()->image());
    // Read at the size the row shows it, its size in points kept.
    const CGSize shown = cell->image()->frame().size;
    EXPECT_EQ(cell->image()->image()->pixelWidth(), UIImage::pixelSizeForPoints(std::max(shown.width, shown.height)));
    EXPECT_EQ(cell->image()->image()->size(), CGSizeMake(kDemoGroupPictureWidth, kDemoGroupPictureHeight));
    EXPECT_EQ(cell->mainText()->text(), genreGroup(1).name.en);
    EXPECT_GT(cell->mainText()->frame().origin.x, CGRectGetMaxX(cell->image()->frame()));
    EXPECT_EQ(cell->detailText()->frame().origin.x, cell->mainText()->frame().origin.x);
    EXPECT_EQ(cell->mainText()->font()->pointSize(), 20);
    EXPECT_EQ(cell->detailText()->text(), "");
    EXPECT_EQ(cell->selectionStyle(), UITableViewCellSelectionStyleGray);
    EXPECT_FALSE(cell->infoButton()->isHidden());

    EXPECT_EQ(screenOf(ImageCell_TableViewDelegate::initWithDataSource(catalogue(), galleryContext())), R"([1] row "Portraits"
  [2] button "info"
[3] row "Religious Scenes"
[4] row "Mythology"
  [5] button "info"
[6] row "Still Life"
  [7] button "info"
[8] row "History Painting"
  [9] button "info"
[10] row "Everyday Life"
  [11] button "info"
)");
}

TEST_F(TableDelegatesTest, AGroupWithoutDescriptionHasNoInformationButtonAndOneWithoutPictureIsATextRow) {
    int noDescription = 0;
    for (const auto& group : DemoCatalogue::genreGroups())
        if (!group.descriptionEn) noDescription = group.index;
    ASSERT_NE(noDescription, 0);
    // Every group of the demo has a picture: one loses it in the application's copy of the database.
    const int noPicture = DemoCatalogue::genreGroups().back().index - 1;
    ASSERT_NE(noPicture, noDescription);
    auto loader = imagesLoader();
    ASSERT_TRUE(loader->sql());
    ASSERT_TRUE(loader->sql()->execRequest("update subCat set filePath = '' where \"index\" = " + std::to_string(noPicture)));
    drive(ImageCell_TableViewDelegate::initWithDataSource(List_DataSource::initWithLoader(loader), galleryContext()));

    auto plain = std::dynamic_pointer_cast<UIImageCell>(table_->cellForRowAtIndexPath(pathOfGroup(noDescription)));
    ASSERT_TRUE(plain);
    EXPECT_TRUE(plain->infoButton()->isHidden());

    const NSIndexPath textRow = pathOfGroup(noPicture);
    auto cell = table_->cellForRowAtIndexPath(textRow);
    ASSERT_TRUE(cell);
    EXPECT_FALSE(std::dynamic_pointer_cast<UIImageCell>(cell));
    auto detail = std::dynamic_pointer_cast<UIDetailCell>(cell);
    ASSERT_TRUE(detail);
    EXPECT_EQ(detail->reuseIdentifier(), "DetailCell");
    EXPECT_EQ(detail->mainText()->text(), genreGroup(noPicture).name.en);
    EXPECT_EQ(detail->accessoryType(), UITableViewCellAccessoryDisclosureIndicator);
    EXPECT_LT(table_->rectForRowAtIndexPath(textRow).size.height, table_->rectForRowAtIndexPath(pathOfGroup(1)).size.height);
}

TEST_F(TableDelegatesTest, ThePadRowHeightMovesThePictureAndTheLabels) {
    drive(ImageCell_TableViewDelegate::initWithDataSource(catalogue(), galleryContext()));
    auto phone = std::dynamic_pointer_cast<UIImageCell>(table_->cellForRowAtIndexPath(pathOfGroup(1)));
    ASSERT_TRUE(phone);
    const CGFloat phonePicture = phone->image()->frame().size.width;

    auto delegate = ImageCell_TableViewDelegate::initWithDataSource(catalogue(), galleryContext());
    delegate->setCellHeight(149);
    EXPECT_EQ(screenOf(delegate), R"([1] row "Portraits"
  [2] button "info"
[3] row "Religious Scenes"
[4] row "Mythology"
  [5] button "info"
[6] row "Still Life"
  [7] button "info"
[8] row "History Painting"
  [9] button "info"
)");
    auto cell = std::dynamic_pointer_cast<UIImageCell>(table_->cellForRowAtIndexPath(pathOfGroup(1)));
    ASSERT_TRUE(cell);
    EXPECT_GT(cell->image()->frame().size.width, phonePicture);
    // The picture grows with the row, not only in width: a square with the row's margins.
    EXPECT_EQ(cell->image()->frame().size, CGSizeMake(149 - 15, 149 - 15));
    EXPECT_EQ(CGRectGetMaxY(cell->image()->frame()) + 8, 149);
    EXPECT_GT(cell->mainText()->frame().origin.x, CGRectGetMaxX(cell->image()->frame()));
}

TEST_F(TableDelegatesTest, PictureLabelsEndTenPointsShortOfTheEdgeAndStartAt118) {
    auto delegate = ImageCell_TableViewDelegate::initWithDataSource(catalogue(), galleryContext());
    auto cell = UIImageCell::initWithStyle(UITableViewCellStyleDefault, "ImageCell");
    ASSERT_EQ(cell->contentView()->bounds().size.width, 320);
    auto label = UILabel::initWithFrame(CGRectMake(100, 5, 300, 20));
    delegate->checkFrame(label, cell);
    EXPECT_EQ(label->frame(), CGRectMake(118, 5, 192, 20));
    EXPECT_EQ(CGRectGetMaxX(label->frame()), 310);

    label->setFrame(CGRectMake(152, 5, 100, 20));
    delegate->checkFrame(label, cell);
    EXPECT_EQ(label->frame(), CGRectMake(152, 5, 100, 20));

    auto info = StandartCellInfo_TableViewDelegate::initWithDataSource(catalogue(), galleryContext());
    label->setFrame(CGRectMake(4, 0, 100, 20));
    info->checkFrame(label, cell);
    EXPECT_EQ(label->frame(), CGRectMake(10, 0, 94, 20));
    info->checkFrame(label, cell);
    EXPECT_EQ(label->frame(), CGRectMake(10, 0, 94, 20));
}

TEST_F(TableDelegatesTest, TapsAndInformationButtonsReachTheOwner) {
    auto source = catalogue();
    drive(ImageCell_TableViewDelegate::initWithDataSource(source, galleryContext()));
    const NSIndexPath first = pathOfGroup(1);
    table_->simulateTapOnRow(first);
    ASSERT_EQ(owner_->selected.size(), 1u);
    EXPECT_EQ(owner_->selected[0], first);
    EXPECT_EQ(owner_->selectedIn, source);

    auto cell = std::dynamic_pointer_cast<UIImageCell>(table_->cellForRowAtIndexPath(first));
    cell->infoButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    ASSERT_EQ(owner_->infoCells.size(), 1u);
    EXPECT_EQ(owner_->infoCells[0], cell);

    // The owner is held weakly: once gone, nothing is told.
    owner_.reset();
    table_->simulateTapOnRow(first);
    cell->infoButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
}

TEST_F(TableDelegatesTest, TheRowTheOwnerCallsSelectedIsSelectedWithoutScrolling) {
    owner_->marked = NSIndexPath{0, 5};
    drive(ImageCell_TableViewDelegate::initWithDataSource(catalogue(), galleryContext()));
    EXPECT_EQ(table_->indexPathForSelectedRow(), (NSIndexPath{0, 5}));
    EXPECT_TRUE(table_->cellForRowAtIndexPath({0, 5})->isSelected());
    EXPECT_FALSE(table_->cellForRowAtIndexPath({0, 0})->isSelected());
    EXPECT_EQ(table_->contentOffset().y, 0);
}

TEST_F(TableDelegatesTest, ThePainterListCountsPicturesAndOffersInformationWhereThereIsSome) {
    auto source = ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "author");
    drive(StandartCellInfo_TableViewDelegate::initWithDataSource(source, galleryContext()));
    int withButton = 0, withoutButton = 0;
    for (long s = 0; s < table_->numberOfSections(); ++s) {
        for (long r = 0; r < table_->numberOfRowsInSection(s); ++r) {
            auto cell = std::dynamic_pointer_cast<UIStandartInfoCell>(table_->cellForRowAtIndexPath({s, r}));
            ASSERT_TRUE(cell);
            const auto record = delegate_->subCatForIndexPath({s, r});
            const auto rows = source->list(record);
            EXPECT_EQ(cell->label()->text(), locale().localizedNameFieldValue(record->data()));
            EXPECT_EQ(cell->detail()->text(), "paintings " + std::to_string(rows ? rows->size() : 0));
            const bool described = !locale().localizedDescriptionFieldValue(record->data()).empty();
            EXPECT_EQ(cell->infoButton()->isHidden(), !described) << cell->label()->text();
            (described ? withButton : withoutButton)++;
            EXPECT_EQ(cell->delegate(), std::dynamic_pointer_cast<UIInfoCellDelegate>(delegate_));
            EXPECT_EQ(cell->accessoryType(), UITableViewCellAccessoryDisclosureIndicator);
        }
    }
    EXPECT_GT(withButton, 0);
    EXPECT_GT(withoutButton, 0);

    auto cell = std::dynamic_pointer_cast<UIStandartInfoCell>(table_->cellForRowAtIndexPath({0, 0}));
    cell->infoButton()->sendActionsForControlEvents(UIControlEventTouchUpInside);
    ASSERT_EQ(owner_->infoCells.size(), 1u);
    EXPECT_EQ(owner_->infoCells[0], cell);

    EXPECT_EQ(screenOf(StandartCellInfo_TableViewDelegate::initWithDataSource(source, galleryContext())), R"([1] row "Albrecht Dürer" "paintings 2"
  [2] button "info"
[3] row "Alexei Savrasov" "paintings 1"
[4] row "Antoine Watteau" "paintings 1"
  [5] button "info"
[6] row "Canaletto" "paintings 2"
  [7] button "info"
[8] row "Caravaggio" "paintings 3"
  [9] button "info"
[10] row "Caspar David Friedrich" "paintings 3"
  [11] button "info"
[12] row "Claude Monet" "paintings 5"
  [13] button "info"
[14] row "Diego Velázquez" "paintings 3"
  [15] button "info"
[16] row "Edgar Degas" "paintings 2"
  [17] button "info"
[18] row "Edvard Munch" "paintings 2"
  [19] button "info"
[20] row "Eugène Delacroix" "paintings 2"
  [21] button "info"
[22] row "Francisco Goya" "paintings 3"
  [23] button "info"
[24] row "Georges Seurat" "paintings 1"
  [25] button "info"
[26] row "Giotto di Bondone" "paintings 0"
  [27] button "info"
[28] row "Gustav Klimt" "paintings 2"
  [29] button "info"
[30] row "Gustave Courbet" "paintings 3"
  [31] button "info"
)");
}

TEST_F(TableDelegatesTest, PickingTogglesTheSharedMarksAndRedrawsTheRow) {
    const std::string copy = useBundleCopy();
    std::filesystem::remove(copy + "/new_item.png");
    writePNG(copy + "/new_item.png");
    auto picks = std::make_shared<Value::Dictionary>();
    auto delegate = ImageCellSelectable_TableViewDelegate::initWithDataSource(catalogue(), galleryContext(), picks);
    EXPECT_EQ(delegate->selectedCats(), picks);
    drive(delegate);
    const NSIndexPath first = pathOfGroup(1);
    auto cell = std::dynamic_pointer_cast<UIImageCellSelectable>(table_->cellForRowAtIndexPath(first));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->reuseIdentifier(), "ImageCellSelectable");
    EXPECT_FALSE(cell->selectImageMark()->image());

    table_->clearUpdateLog();
    table_->simulateTapOnRow(first);
    EXPECT_TRUE(picks->get("1").boolValue());
    ASSERT_EQ(owner_->selected.size(), 1u);
    ASSERT_FALSE(table_->updateLog().empty());
    EXPECT_EQ(table_->updateLog().back().kind, UITableView::Update::Kind::ReloadRows);
    EXPECT_EQ(table_->updateLog().back().animation, UITableViewRowAnimationFade);
    cell = std::dynamic_pointer_cast<UIImageCellSelectable>(table_->cellForRowAtIndexPath(first));
    ASSERT_TRUE(cell->selectImageMark()->image());
    EXPECT_EQ(cell->selectImageMark()->image()->pixelWidth(), 4);

    table_->simulateTapOnRow(first);
    EXPECT_TRUE(picks->get("1").isBool());
    EXPECT_FALSE(picks->get("1").boolValue());
    cell = std::dynamic_pointer_cast<UIImageCellSelectable>(table_->cellForRowAtIndexPath(first));
    EXPECT_FALSE(cell->selectImageMark()->image());

    auto listPicks = StandartCellInfoSelectable_TableViewDelegate::initWithDataSource(
        ListOtherSubCat_DataSource::initWithLoader(imagesLoader(), "subCat2"), galleryContext());
    drive(listPicks);
    table_->simulateTapOnRow({0, 0});
    const auto record = delegate_->subCatForIndexPath({0, 0});
    EXPECT_TRUE(listPicks->selectedCats()->get(std::to_string(record->index())).boolValue());
    auto listCell = std::dynamic_pointer_cast<UIStandartInfoCellSelectable>(table_->cellForRowAtIndexPath({0, 0}));
    ASSERT_TRUE(listCell);
    EXPECT_TRUE(listCell->selectImageMark()->image());
}

TEST_F(TableDelegatesTest, SearchRowsShowTheMatchThumbnailAuthorAndName) {
    auto source = AllImagesList_DataSource::initWithLoader(imagesLoader());
    const auto all = source->list(nullptr);
    ASSERT_TRUE(all);
    auto rowWithPath = [&](const std::string& path) {
        for (const auto& row : *all)
            if (row.get("imagePath").stringValue() == path) return row;
        ADD_FAILURE() << path;
        return Value::Dictionary();
    };
    const auto& jpg = paintingWithExtension(".jpg");
    const auto& upper = paintingWithExtension(".JPG");
    const auto& png = paintingWithExtension(".png");
    auto extra = rowWithPath(DemoCatalogue::imagePathOf(jpg));
    extra.set("imagePath", Value("extra.png"));
    auto missing = rowWithPath(DemoCatalogue::imagePathOf(jpg));
    missing.set("imagePath", Value("missing.jpg"));
    writePNG(Sandbox::documents() + "/Data/extra_thumb.png", 6, 5);
    auto results = std::make_shared<ContentRows>(ContentRows{rowWithPath(DemoCatalogue::imagePathOf(jpg)),
                                                             rowWithPath(DemoCatalogue::imagePathOf(upper)),
                                                             rowWithPath(DemoCatalogue::imagePathOf(png)), extra, missing});
    source->setLastSearch(results);

    drive(ImageCellSearch_TableViewDelegate::initWithDataSource(source, galleryContext()));
    ASSERT_EQ(table_->numberOfSections(), 1);
    ASSERT_EQ(table_->numberOfRowsInSection(0), 5);

    auto cellAt = [&](long row) { return std::dynamic_pointer_cast<UIImageCell>(table_->cellForRowAtIndexPath({0, row})); };
    ASSERT_TRUE(cellAt(0));
    EXPECT_EQ(cellAt(0)->reuseIdentifier(), "ImageCellPosters");
    ASSERT_TRUE(cellAt(0)->image()->image());
    EXPECT_EQ(cellAt(0)->image()->image()->pixelWidth(), kDemoThumbnailWidth);
    EXPECT_EQ(cellAt(0)->mainText()->text(), DemoCatalogue::painters()[static_cast<std::size_t>(jpg.painter - 1)].name.en);
    EXPECT_EQ(cellAt(0)->detailText()->text(), jpg.title.en);
    EXPECT_EQ(cellAt(0)->mainText()->font()->pointSize(), 20);
    // A match has no information of its own to show: no button that would do nothing.
    for (long row = 0; row < 5; ++row) EXPECT_TRUE(cellAt(row)->infoButton()->isHidden()) << row;
    ASSERT_TRUE(cellAt(1)->image()->image());
    EXPECT_EQ(cellAt(1)->image()->image()->pixelWidth(), kDemoThumbnailWidth);
    // The PNG picture is its own thumbnail, read at a thumbnail's size.
    ASSERT_TRUE(cellAt(2)->image()->image());
    EXPECT_EQ(cellAt(2)->image()->image()->pixelWidth(), UIThumbailViewController::thumbnailPixelSize());
    EXPECT_EQ(cellAt(2)->image()->image()->size().width, kDemoPictureWidth);
    ASSERT_TRUE(cellAt(3)->image()->image());
    EXPECT_EQ(cellAt(3)->image()->image()->pixelWidth(), 6);
    EXPECT_FALSE(cellAt(4)->image()->image());

    owner_->marked = NSIndexPath{0, 1};
    table_->reloadData();
    EXPECT_FALSE(table_->indexPathForSelectedRow());
    table_->simulateTapOnRow({0, 3});
    ASSERT_EQ(owner_->selected.size(), 1u);
    EXPECT_EQ(owner_->selected[0], (NSIndexPath{0, 3}));
    EXPECT_FALSE(table_->indexPathForSelectedRow());
}

TEST_F(TableDelegatesTest, ThePlainTextAndTallLayoutsMarkTheOwnersRow) {
    owner_->marked = NSIndexPath{0, 1};
    drive(StandartCell_TableViewDelegate::initWithDataSource(catalogue(), galleryContext()));
    auto cell = table_->cellForRowAtIndexPath(pathOfGroup(1));
    EXPECT_EQ(cell->reuseIdentifier(), "standartCell");
    EXPECT_EQ(cell->textLabel()->text(), genreGroup(1).name.en);
    EXPECT_EQ(cell->textLabel()->font()->pointSize(), 17);
    EXPECT_EQ(cell->accessoryType(), UITableViewCellAccessoryDisclosureIndicator);
    EXPECT_EQ(table_->indexPathForSelectedRow(), (NSIndexPath{0, 1}));

    drive(DetailCell_TableViewDelegate::initWithDataSource(catalogue(), galleryContext()));
    EXPECT_TRUE(std::dynamic_pointer_cast<UIDetailCell>(table_->cellForRowAtIndexPath({0, 0})));
    EXPECT_EQ(table_->indexPathForSelectedRow(), (NSIndexPath{0, 1}));

    EXPECT_EQ(screenOf(StandartCell_TableViewDelegate::initWithDataSource(catalogue(), galleryContext())), R"([1] row "Portraits"
[2] row "Religious Scenes" (selected)
[3] row "Mythology"
[4] row "Still Life"
[5] row "History Painting"
[6] row "Everyday Life"
[7] row "Landscapes"
[8] row "Seascapes"
)");
    EXPECT_EQ(screenOf(DetailCell_TableViewDelegate::initWithDataSource(catalogue(), galleryContext())), R"([1] row "Portraits"
[2] row "Religious Scenes" (selected)
[3] row "Mythology"
[4] row "Still Life"
[5] row "History Painting"
[6] row "Everyday Life"
[7] row "Landscapes"
[8] row "Seascapes"
)");

    // The tall layout shares the "standartCell" identifier: a table of its own.
    table_ = UITableView::initWithFrame(CGRectMake(0, 0, 320, 4000));
    drive(iPadCell_TableViewDelegate::initWithDataSource(catalogue(), galleryContext()));
    EXPECT_GT(table_->rectForRowAtIndexPath({0, 0}).size.height, 80);
    auto tall = table_->cellForRowAtIndexPath({0, 0});
    EXPECT_TRUE(std::dynamic_pointer_cast<UIImageView>(tall->backgroundView()));
    EXPECT_TRUE(std::dynamic_pointer_cast<UIImageView>(tall->selectedBackgroundView()));
    EXPECT_EQ(table_->indexPathForSelectedRow(), (NSIndexPath{0, 1}));
}

