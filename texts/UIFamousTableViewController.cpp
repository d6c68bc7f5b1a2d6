// The famous-paintings posts: loading, rows and the post pages.
#include "texts/UIFamousTableViewController.h"

#include "config/OEConfig.h"
#include "content/Loader.h"
#include "content/OneImage_DataSource.h"
#include "content/dbEntry.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISplitViewController.h"
#include "texts/NSDictionaryFamousPost.h"
#include "texts/ReaderScreens.h"
#include "texts/UIFamousPostViewController.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

std::shared_ptr<UIFamousTableViewController> UIFamousTableViewController::initWithStyle(UITableViewStyle style,
                                                                                        TextsContext context) {
    return std::make_shared<UIFamousTableViewController>(style, std::move(context));
}

UIFamousTableViewController::UIFamousTableViewController(UITableViewStyle style, TextsContext context)
    : UITableViewController(style), context_(std::move(context)) {
    manager_ = OEFamousPaintingsManager::initWithConfig(context_.app().config, context_.app().fileSystem);
}

void UIFamousTableViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    tableView()->setContentInset(UIEdgeInsets{-40, 0, 0, 0});
    const auto& config = context_.app().config;
    const auto c = config && config->color() ? config->color()->backgroundColor()
                                             : OEColorConfig::Color::groupTableViewBackground();
    sideMenu_addButton(self<UIFamousTableViewController>(), UIColor::colorWithRed(c.red, c.green, c.blue, c.alpha));
    setTitle(OECoreString("Famous"));
    checkPosts();
    navigationItem()->setBackBarButtonItem(UIBarButtonItemCommon::makeBackButton());
}

void UIFamousTableViewController::checkPosts() {
    indicator_ = showActivityIndicator(self<UIViewController>());
    std::weak_ptr<UIFamousTableViewController> weak = self<UIFamousTableViewController>();
    manager_->loadList([weak](const std::optional<Value::Array>& posts, const NSErrorPtr& error) {
        // From any thread to the main queue.
        DispatchQueue::mainQueue()->async([weak, posts, error] {
            auto me = weak.lock();
            if (!me) return;
            if (me->indicator_) me->indicator_->removeFromSuperview();
            me->indicator_.reset();
            if (error) {
                showErrorAlertWithMessage(me, error->localizedDescription());
                return;
            }
            me->loadGalleryDataWithPosts(posts.value_or(Value::Array{}));
            me->reloadData();
        });
    });
}

void UIFamousTableViewController::loadGalleryDataWithPosts(const Value::Array& posts) {
    const auto& app = context_.app();
    Value::Array available;
    std::vector<Value::Dictionary> pictures;
    if (app.config && app.fileSystem && app.localizations) {
        auto loader = Loader::loaderWithDBEntry(dbEntry::defaultEntry(app.config->database()), app);
        for (const auto& post : posts) {
            const auto rows = OneImage_DataSource::initWithLoader(loader, NSDictionaryFamousPost::pictureId(post))->list();
            // A post about a picture the catalogue does not have is not listed.
            if (!rows || rows->empty()) continue;
            pictures.push_back(rows->front());
            available.push_back(post);
        }
    }
    setImagesData(std::move(pictures));
    setAvailablePosts(std::move(available));
}

void UIFamousTableViewController::reloadData() {
    tableView()->reloadData();
    if (!ReaderScreens::isPad()) return;
    const long row = selectedRow_ < 0 ? 0 : selectedRow_;
    if (row < static_cast<long>(availablePosts_.size())) showPost(availablePosts_[static_cast<std::size_t>(row)]);
}

void UIFamousTableViewController::showPost(const Value& post) {
    manager_->markPostDidRead(NSDictionaryFamousPost::textId(post));
    auto screen = UIFamousPostViewController::initWithPost(post, context_);
    ReaderScreens::showReading(self<UIViewController>(), screen, ReaderScreens::isPad());
    // Only the table: the sign goes, and nothing is shown again.
    tableView()->reloadData();
}

long UIFamousTableViewController::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) {
    return static_cast<long>(availablePosts_.size());
}

CGFloat UIFamousTableViewController::heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) {
    return ReaderScreens::kRowHeight;
}

std::shared_ptr<UITableViewCell> UIFamousTableViewController::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    const auto row = static_cast<std::size_t>(indexPath.row);
    const auto& locale = context_.app().localizations;
    if (row >= availablePosts_.size() || row >= imagesData_.size() || !locale)
        return UITableViewController::cellForRowAtIndexPath(tableView, indexPath);
    const Value::Dictionary& picture = imagesData_[row];
    return ReaderScreens::posterCell(tableView, picture, locale->localizedAuthorFieldValue(picture),
                                     locale->localizedNameFieldValue(picture),
                                     manager_->isPostNew(NSDictionaryFamousPost::textId(availablePosts_[row])), context_);
}

void UIFamousTableViewController::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                          const NSIndexPath& indexPath) {
    if (indexPath.row < 0 || indexPath.row >= static_cast<long>(availablePosts_.size())) return;
    selectedRow_ = indexPath.row;
    if (!ReaderScreens::isPad()) tableView->deselectRowAtIndexPath(indexPath, true);
    showPost(availablePosts_[static_cast<std::size_t>(indexPath.row)]);
}
