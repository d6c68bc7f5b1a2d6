// The articles list: one row per article (the picture's thumbnail, the painter, the picture's
// name), loaded on a background queue under a progress overlay. A row opens the article; on a pad
// the list is the master of a split view and the article its detail.
#pragma once

#include "platform/ui/UITableViewController.h"
#include "texts/ArticlesList.h"
#include "texts/TextsContext.h"

#include <memory>
#include <vector>

class MBProgressHUD;

class UIArticlesListViewController : public UITableViewController {
public:
    static std::shared_ptr<UIArticlesListViewController> famousControllerWithDataList(
        std::shared_ptr<ArticlesList> list, TextsContext context);
    // A grouped list over `list`.
    static std::shared_ptr<UIArticlesListViewController> initWithDataList(std::shared_ptr<ArticlesList> list,
                                                                          TextsContext context);
    UIArticlesListViewController(UITableViewStyle style, TextsContext context);

    const std::shared_ptr<ArticlesList>& articlesList() const { return articlesList_; }
    void setArticlesList(std::shared_ptr<ArticlesList> list) { articlesList_ = std::move(list); }
    // The articles the table shows: the list's, once its load is over.
    const std::vector<std::shared_ptr<Article>>& shownArticles() const { return articles_; }
    // -1 before the first choice (read as the first row).
    long selectedRow() const { return selectedRow_; }
    const std::shared_ptr<MBProgressHUD>& progressOverlay() const { return hud_; }
    // The split view keeps the list visible.
    bool splitViewControllerShouldHideViewController() const { return false; }

    void viewDidLoad() override;
    void showArticle(const std::shared_ptr<Article>& article);
    // The application's undefined-error alert.
    void showError();

    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

private:
    void listLoaded(std::vector<std::shared_ptr<Article>> articles);

    std::shared_ptr<ArticlesList> articlesList_;
    TextsContext context_;
    std::vector<std::shared_ptr<Article>> articles_;
    long selectedRow_ = -1;
    std::shared_ptr<MBProgressHUD> hud_;
};
