// The texts browser: a grouped table of the texts database's catalogue with a "Favorites" row
// on top while there are favourites, in one of two views: by category ("By Year"), or by the
// first letter of the subcategories' names ("By Name", with a section index). A subcategory
// (or the favourites row) opens its list of texts. The phone and pad screens build on it.
#pragma once

#include "platform/foundation/NSNotification.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIViewController.h"
#include "texts/TextCat.h"
#include "texts/TextsContext.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class UIBarButtonItem;
class UISegmentedControl;

class TextEngineRoot : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    explicit TextEngineRoot(TextsContext context);
    ~TextEngineRoot() override;

    const std::shared_ptr<UITableView>& tableView() const { return tableView_; }
    // 0 by category, 1 by name.
    long viewMode() const { return viewMode_; }
    const std::vector<std::string>& letterTitles() const { return letterTitles_; }
    const std::optional<TextCat>& selectedSubCategory() const { return selectedSubCat_; }
    bool favoritesSelected() const { return favoritesSelected_; }

    // Moves a view that starts left of x = 26 to 26, keeping its right edge.
    static void checkCellFrame(const std::shared_ptr<UIView>& view);
    // In a split view: the browser's navigation controller beside a new one holding `screen`;
    // otherwise pushed.
    void showTextPreview(const std::shared_ptr<UIViewController>& screen);
    // On a pad presented from the split view in a navigation controller of its own; otherwise pushed.
    void showFullscreenController(const std::shared_ptr<UIViewController>& screen);
    // The segmented control's action: the view mode of its selected segment.
    void segmentChanged(const std::shared_ptr<UISegmentedControl>& control);
    void setViewMode(long mode);
    void favoritesAdded(const NSNotification& notification);
    // The description of the subcategory at that place, in the information screen.
    void showInfo(const NSIndexPath& indexPath);
    // Where a subcategory is listed in the current view (favourites counted); none when it is not.
    std::optional<NSIndexPath> indexPathForTextCat(const TextCat& subCategory);
    // The subcategory at a section and row of the current view (favourites not counted).
    std::optional<TextCat> textCatForIndexPath(const NSIndexPath& indexPath);

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    long numberOfSectionsInTableView(const std::shared_ptr<UITableView>& tableView) override;
    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::string titleForHeaderInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    std::vector<std::string> sectionIndexTitlesForTableView(const std::shared_ptr<UITableView>& tableView) override;
    long sectionForSectionIndexTitle(const std::shared_ptr<UITableView>& tableView, const std::string& title,
                                     long index) override;
    bool canEditRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return false; }
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

    static constexpr double kCellLeftEdge = 26;

    const TextsContext& textsContext() const { return context_; }

protected:
    // Whether the favourites section is there (there are favourites).
    bool hasFavoritesSection();
    virtual bool isPad() const;

private:
    void buildLetterIndex();
    std::vector<TextCat> subCategoriesOfSection(long section);

    TextsContext context_;
    std::shared_ptr<UITableView> tableView_;
    long viewMode_ = 0;
    std::vector<std::string> letterTitles_;
    std::map<std::string, std::vector<TextCat>> letterIndex_;
    bool letterIndexBuilt_ = false;
    std::optional<TextCat> selectedSubCat_;
    bool favoritesSelected_ = false;
};
