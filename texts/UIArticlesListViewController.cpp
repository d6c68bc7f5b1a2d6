// The articles list: its loading, rows and what a row opens.
#include "texts/UIArticlesListViewController.h"

#include "config/OEConfig.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/widgets/MBProgressHUD.h"
#include "texts/ReaderScreens.h"
#include "texts/UIArticleViewController.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

std::shared_ptr<UIArticlesListViewController> UIArticlesListViewController::famousControllerWithDataList(
    std::shared_ptr<ArticlesList> list, TextsContext context) {
    return initWithDataList(std::move(list), std::move(context));
}

std::shared_ptr<UIArticlesListViewController> UIArticlesListViewController::initWithDataList(
    std::shared_ptr<ArticlesList> list, TextsContext context) {
    auto screen = std::make_shared<UIArticlesListViewController>(UITableViewStyleGrouped, std::move(context));
    screen->articlesList_ = std::move(list);
    return screen;
}

UIArticlesListViewController::UIArticlesListViewController(UITableViewStyle style, TextsContext context)
    : UITableViewController(style), context_(std::move(context)) {}

void UIArticlesListViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    const auto& config = context_.app().config;
    const auto c = config && config->color() ? config->color()->backgroundColor()
                                             : OEColorConfig::Color::groupTableViewBackground();
    const auto background = UIColor::colorWithRed(c.red, c.green, c.blue, c.alpha);
    view()->setBackgroundColor(background);
    sideMenu_addButton(self<UIArticlesListViewController>(), background);
    hud_ = MBProgressHUD::showHUDAddedTo(view(), true);
    setTitle(OECoreString("Articles"));
    // The list is read off the main thread; the table takes it in one step on the main queue.
    std::weak_ptr<UIArticlesListViewController> weak = self<UIArticlesListViewController>();
    DispatchQueue::globalQueue()->async([weak, list = articlesList_] {
        if (list) list->load();
        auto articles = list ? list->articles() : std::vector<std::shared_ptr<Article>>{};
        DispatchQueue::mainQueue()->async([weak, articles = std::move(articles)]() mutable {
            if (auto me = weak.lock()) me->listLoaded(std::move(articles));
        });
    });
    navigationItem()->setBackBarButtonItem(UIBarButtonItemCommon::makeBackButton());
}

void UIArticlesListViewController::listLoaded(std::vector<std::shared_ptr<Article>> articles) {
    if (hud_) hud_->hideAnimated(true);
    articles_ = std::move(articles);
    tableView()->reloadData();
    // On a pad the row of the article last chosen (the first before any) is marked, not opened.
    const long row = selectedRow_ < 0 ? 0 : selectedRow_;
    if (ReaderScreens::isPad() && row < static_cast<long>(articles_.size()))
        tableView()->selectRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0), false, UITableViewScrollPositionNone);
}

void UIArticlesListViewController::showError() { showUndefinedErrorAlert(self<UIViewController>()); }

void UIArticlesListViewController::showArticle(const std::shared_ptr<Article>& article) {
    if (!article) return;
    if (articlesList_) articlesList_->markReaded(*article);
    auto screen = UIArticleViewController::initWithArticle(article, context_);
    ReaderScreens::showReading(self<UIViewController>(), screen, ReaderScreens::isPad());
    tableView()->reloadData();
}

long UIArticlesListViewController::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) {
    return static_cast<long>(articles_.size());
}

CGFloat UIArticlesListViewController::heightForRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) {
    return ReaderScreens::kRowHeight;
}

std::shared_ptr<UITableViewCell> UIArticlesListViewController::cellForRowAtIndexPath(
    const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    const auto row = static_cast<std::size_t>(indexPath.row);
    if (row >= articles_.size()) return UITableViewController::cellForRowAtIndexPath(tableView, indexPath);
    const auto& article = articles_[row];
    static const Value::Dictionary none;
    return ReaderScreens::posterCell(tableView, article->rawImage() ? article->rawImage()->data() : none,
                                     article->authorName(), article->imageName(),
                                     articlesList_ && articlesList_->isNewArticle(*article), context_);
}

void UIArticlesListViewController::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) {
    if (indexPath.row < 0 || indexPath.row >= static_cast<long>(articles_.size())) return;
    selectedRow_ = indexPath.row;
    if (!ReaderScreens::isPad()) tableView->deselectRowAtIndexPath(indexPath, true);
    showArticle(articles_[static_cast<std::size_t>(indexPath.row)]);
}
