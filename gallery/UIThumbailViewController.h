// The thumbnail screen: a subcategory's pictures as a grid of square thumbnails or as a list of
// rows with thumbnail, author and title, switched by a segmented control in the toolbar; a
// picture tapped opens the full-screen pager. Its class operations are the gallery's thumbnail
// pipeline (the file on the device, else a fetch from the content server into Caches "Data")
// and the signs drawn over thumbnails, usable by every picture list.
#pragma once

#include "content/DataSource.h"
#include "content/dataSubCat.h"
#include "gallery/FilterProtocol.h"
#include "gallery/GalleryContext.h"
#include "platform/ui/UICollectionView.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIViewController.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class FileListDownloader;
class UIActivityIndicatorView;
class UIBarButtonItem;
class UIButton;
class UIImageView;

class UIThumbailViewController : public UIViewController,
                                 public UICollectionViewDataSource,
                                 public UICollectionViewDelegateFlowLayout,
                                 public UITableViewDataSource,
                                 public UITableViewDelegate,
                                 public FilterProtocol {
public:
    enum Mode : unsigned long { kModeGrid = 0, kModeList = 1 };
    static constexpr CGFloat kListRowHeight = 130;
    static constexpr CGFloat kPadItemSide = 128;
    static constexpr double kModeSwitchDuration = 0.75;

    // --- Thumbnails and signs ---------------------------------------------------------------
    // Thumbnails are drawn at most about this many points on a side (a list row is 130, a pad's
    // grid cell 128): a larger picture is decoded reduced to it, so a screen of them stays small.
    static constexpr CGFloat kThumbnailPoints = 160;
    // The most bytes a thumbnail from the content server may have, as any picture; a longer answer
    // is no thumbnail. It goes to a file as it arrives and is read from there reduced.
    static constexpr std::uint64_t kThumbnailMaxBytes = UIImage::kMaxEncodedLength;
    // kThumbnailPoints in pixels at the screen's scale.
    static int thumbnailPixelSize();
    // The picture's path with every ".jpg" (in any letter case) replaced by "_thumb.jpg".
    static std::string thumbnailPath(const std::string& imagePath);
    // Shows the picture's thumbnail in the view: the file "Data/<thumbnail>" where the picture
    // service finds it, else (with a spinner meanwhile) the content server's, which is kept in
    // Caches "Data" when it came with a 2xx status, within kThumbnailMaxBytes, and decodes. Either
    // is decoded reduced to thumbnailPixelSize(). A view configured again before
    // the fetch ends never gets the earlier picture. Paths that would leave their folder are
    // neither fetched nor stored. A thumbnail is asked for once while its fetch is under way,
    // however many views wait for it; a fetch that fails says why in the log, and one that reads
    // as a picture over the pixel cap is not asked for again in the run.
    static void loadThumbnailForImageView(const std::shared_ptr<UIImageView>& imageView, const Value::Dictionary& image,
                                          const GalleryContext& context);
    // An image view with the named bundle image at its natural size (zero without one), added to `view`.
    static std::shared_ptr<UIImageView> addImageSign(const std::string& imageName, const std::shared_ptr<UIView>& view);
    // The "new" sign's place: 3 points in from the container's bottom-left corner.
    static CGRect newSignFrameIn(const std::shared_ptr<UIView>& container, CGRect originalRect);
    // The HD sign's place: 5 points in from the container's top-right corner.
    static CGRect hdSignFrameIn(const std::shared_ptr<UIView>& container, CGRect originalRect);
    // Whether the picture's high-resolution file ("Data/hd-<picture>") is on the device.
    static bool hdImageExists(const Value::Dictionary& image, const GalleryContext& context);

    // --- The screen -----------------------------------------------------------------------
    static std::shared_ptr<UIThumbailViewController> initWithDataSource(std::shared_ptr<DataSource> dataSource,
                                                                        std::shared_ptr<::dataSubCat> subCat,
                                                                        bool alowFilter, GalleryContext context);
    UIThumbailViewController(std::shared_ptr<DataSource> dataSource, std::shared_ptr<::dataSubCat> subCat,
                             bool alowFilter, GalleryContext context);
    ~UIThumbailViewController() override;

    const GalleryContext& galleryContext() const { return context_; }
    const std::shared_ptr<DataSource>& originalDataSource() const { return originalDataSource_; }
    // The source the screen reads: the original one, or a filter over it.
    const std::shared_ptr<DataSource>& dataSource() const { return filteredDataSource_; }
    // A new unfiltered source: the filter goes off (its stored values, the selection and the
    // button too) and the list is read again.
    void setDataSource(std::shared_ptr<DataSource> dataSource);
    const std::shared_ptr<::dataSubCat>& dataSubCat() const { return dataSubCat_; }
    // The pictures shown: item i of the grid and row i of the list are images()[i].
    const ContentRows& images() const;
    bool alowFilter() const { return alowFilter_; }
    const std::vector<std::string>& filter() const { return filter_; }
    unsigned long selectedMode() const { return selectedMode_; }
    const std::vector<std::shared_ptr<UIBarButtonItem>>& toolbaritems() const { return toolbaritems_; }
    const std::shared_ptr<UICollectionView>& gridView() const { return gridView_; }
    const std::shared_ptr<UITableView>& listView() const { return listView_; }

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation, double duration) override;

    // Reloads the view on screen.
    void reloadData();
    // Reads the list again, then reloads (also on "MessageDataUpdated").
    void dataUpdated();
    // The segmented control's action: the grid (0) or the list (1), with a page curl.
    void segmentChanged(const std::shared_ptr<NSObject>& sender);
    void switchToMode(long mode);

    // The stored filter of the subcategory is applied when filtering is allowed, else removed.
    void checkFilter();
    // The chosen author names; none turns the filter off.
    void filterSelectedItems(const std::vector<std::string>& values) override;
    void setFilterOn(const std::string& field, const std::vector<std::string>& values);
    void setFilterOff();
    // The right bar button: "filter_on" while a filter is chosen, else "filter_off"; opens the
    // filter screen.
    void updateFilterButton();
    // The filter screen over the unfiltered source's authors with the current choice, as a form
    // sheet on a pad and full screen elsewhere.
    void filterClick();

    // The "imagePath" of every picture of the list, in list order.
    std::vector<std::string> allImagesPaths() const;
    // Asks whether to download every picture of the list, then fetches the missing ones; each
    // one fetched is counted, and once none is missing the "Download All" item goes.
    void downloadAllImagesClick();
    // The download of the list's pictures while it runs.
    const std::shared_ptr<FileListDownloader>& listDownloader() const { return listDownloader_; }

    // Opens the full-screen pager at the picture.
    void showImage(std::size_t index);
    // Opens the pager at the first picture with its slideshow on; nothing for an empty list.
    void slideShowClick();
    // The pager over images() at `index` with the screen's data source; the pager screen is
    // made here, and nothing opens while there is none.
    virtual std::shared_ptr<UIViewController> photoControllerForImage(std::size_t index);
    // On a pad, presented full screen with a cross-dissolve from the split screen; else pushed.
    virtual void showPhotoController(const std::shared_ptr<UIViewController>& controller);

    // Decorates and fills one thumbnail view: its old signs and spinner go, the thumbnail comes,
    // then the "new" and HD signs and, in list mode, the information button.
    void configureThumbImageView(const std::shared_ptr<UIImageView>& imageView, const Value::Dictionary& image,
                                 std::size_t index);
    // A row with an "inapp" value whose picture was never shown.
    bool needNewItemSign(const Value::Dictionary& image);
    void addNewItemSignTo(const std::shared_ptr<UIImageView>& imageView, const Value::Dictionary& image);
    void addHdSignTo(const std::shared_ptr<UIImageView>& imageView, const Value::Dictionary& image);
    // A picture with a description in the current language.
    bool needInfoButton(const Value::Dictionary& image) const;
    // The "info_picture" button at the view's top-left corner, tagged with the picture's index,
    // when the picture has a description; the view then takes touches.
    void addInfoButtonTo(const std::shared_ptr<UIImageView>& imageView, const Value::Dictionary& image,
                         std::size_t index);
    // Pushes the information screen of the picture whose index is the button's tag.
    void infoButtonClicked(const std::shared_ptr<UIButton>& button);
    // "author - title": the author without a final ".", the separator, the title.
    std::string imageText(const Value::Dictionary& image, const std::string& separator) const;
    std::string textForField(const std::string& field, const Value::Dictionary& image) const;

    // The grid's square on a phone: as many 95-point columns as fit, less the gaps and insets.
    static CGFloat widthWitItemsInRow(CGFloat width);
    CGRect calcFrame();

    // The grid's data source and flow layout.
    long numberOfItemsInSection(const std::shared_ptr<UICollectionView>& collectionView, long section) override;
    std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(const std::shared_ptr<UICollectionView>& collectionView,
                                                                 const NSIndexPath& indexPath) override;
    std::optional<CGSize> sizeForItemAtIndexPath(const std::shared_ptr<UICollectionView>& collectionView,
                                                 const NSIndexPath& indexPath) override;
    std::optional<UIEdgeInsets> insetForSectionAtIndex(const std::shared_ptr<UICollectionView>& collectionView,
                                                       long section) override;
    void didSelectItemAtIndexPath(const std::shared_ptr<UICollectionView>& collectionView,
                                  const NSIndexPath& indexPath) override;

    // The list's data source and delegate.
    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

private:
    void createGridView();
    void createListView();
    // Deferred to the next turn of the main queue, so the spinner shows first.
    void loadData();
    // With "Download All" while a picture of `paths` is missing from the device.
    void configureTollbarItems(const std::vector<std::string>& paths);
    void downloadAllImages();

    GalleryContext context_;
    std::shared_ptr<DataSource> originalDataSource_;
    std::shared_ptr<DataSource> filteredDataSource_;
    std::shared_ptr<::dataSubCat> dataSubCat_;
    ContentRowList images_;
    bool alowFilter_;
    std::vector<std::string> filter_;
    unsigned long selectedMode_ = kModeGrid;
    std::vector<std::shared_ptr<UIBarButtonItem>> toolbaritems_;
    std::shared_ptr<UICollectionView> gridView_;
    std::shared_ptr<UITableView> listView_;
    std::shared_ptr<UIActivityIndicatorView> loadingIndicator_;
    std::shared_ptr<FileListDownloader> listDownloader_;
};
