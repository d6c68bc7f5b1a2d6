// The list of texts of one subcategory, or of the favourites: each row the text's title (black
// while unread, dark grey once read) over its plain-text preview. A row opens the reader on it
// with the whole list for paging; in the favourites a row can be swiped away, which removes the
// favourite.
#pragma once

#include "platform/foundation/NSNotification.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIViewController.h"
#include "texts/TextEntry.h"
#include "texts/TextsContext.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class UIText;

class UITextPreview : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    static std::shared_ptr<UITextPreview> initWithContext(TextsContext context);
    explicit UITextPreview(TextsContext context);
    ~UITextPreview() override;

    const std::vector<TextEntry>& textsList() const { return textsList_; }
    void setTextsList(std::vector<TextEntry> list) { textsList_ = std::move(list); }
    // The title: the subcategory's name or the localised "Favorites".
    const std::string& textCat() const { return textCat_; }
    void setTextCat(const std::string& name) { textCat_ = name; }
    // 0 a subcategory's texts, 1 the favourites.
    std::int32_t mode() const { return mode_; }
    void setMode(std::int32_t mode) { mode_ = mode; }
    const std::shared_ptr<UITableView>& tableView() const { return tableView_; }

    void textStatusUpdate(const NSNotification& notification);
    void favoritesChanged(const NSNotification& notification);
    // The reader on a random text of the list, pushed; nothing for an empty list.
    void randomClick();

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    bool canEditRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    void commitEditingStyle(const std::shared_ptr<UITableView>& tableView, UITableViewCellEditingStyle style,
                            const NSIndexPath& indexPath) override;
    bool respondsToCommitEditingStyle() const override { return true; }

private:
    std::shared_ptr<UIText> readerAt(long position) const;

    TextsContext context_;
    std::vector<TextEntry> textsList_;
    std::string textCat_;
    std::int32_t mode_ = 0;
    std::shared_ptr<UITableView> tableView_;
    bool toolbarMade_ = false;
};
