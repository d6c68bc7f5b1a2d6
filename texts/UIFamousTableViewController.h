// The famous-paintings posts: the posts of the maker's server whose picture is in the images
// database, each row with the picture's thumbnail, painter and name and the "new" sign until the
// post was read. A row opens the post's page; on a pad the list is the master of a split view,
// and the chosen (at first the first) post shows beside it as soon as the list is in.
#pragma once

#include "content/OEFamousPaintingsManager.h"
#include "platform/ui/UITableViewController.h"
#include "texts/TextsContext.h"

#include <memory>
#include <vector>

class UIActivityIndicatorView;

class UIFamousTableViewController : public UITableViewController {
public:
    static std::shared_ptr<UIFamousTableViewController> initWithStyle(UITableViewStyle style, TextsContext context);
    UIFamousTableViewController(UITableViewStyle style, TextsContext context);

    const std::shared_ptr<OEFamousPaintingsManager>& manager() const { return manager_; }
    // The posts shown, in the server's order, and their pictures' rows at the same places.
    const Value::Array& availablePosts() const { return availablePosts_; }
    void setAvailablePosts(Value::Array posts) { availablePosts_ = std::move(posts); }
    const std::vector<Value::Dictionary>& imagesData() const { return imagesData_; }
    void setImagesData(std::vector<Value::Dictionary> rows) { imagesData_ = std::move(rows); }
    long selectedRow() const { return selectedRow_; }
    // The spinner while the posts load; empty otherwise.
    const std::shared_ptr<UIActivityIndicatorView>& activityIndicator() const { return indicator_; }

    void viewDidLoad() override;
    // Asks the manager for the posts (its fresh copy, or the server).
    void checkPosts();
    // Keeps the posts whose picture the images database has.
    void loadGalleryDataWithPosts(const Value::Array& posts);
    // The table again; on a pad also the chosen post beside it.
    void reloadData();
    // Marks the post read and opens its page.
    void showPost(const Value& post);

    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

private:
    TextsContext context_;
    std::shared_ptr<OEFamousPaintingsManager> manager_;
    Value::Array availablePosts_;
    std::vector<Value::Dictionary> imagesData_;
    long selectedRow_ = -1;
    std::shared_ptr<UIActivityIndicatorView> indicator_;
};
