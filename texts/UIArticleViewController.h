// One article's document in the in-app browser (the document host's header removed once it has
// loaded), with a button that opens the article's picture in the pager.
#pragma once

#include "texts/Article.h"
#include "texts/TextsContext.h"
#include "gallery/MinibrowserViewController.h"

#include <memory>

class UIArticleViewController : public MinibrowserViewController {
public:
    static std::shared_ptr<UIArticleViewController> initWithArticle(std::shared_ptr<Article> article,
                                                                     TextsContext context);
    UIArticleViewController(std::shared_ptr<Article> article, TextsContext context);

    const std::shared_ptr<Article>& article() const { return article_; }

    void viewDidLoad() override;
    // The article's picture alone in the pager.
    void showImage();
    void showPhotoController(const std::shared_ptr<UIViewController>& controller);

    static constexpr const char* kRemoveHeaderScript =
        "var element = document.getElementById(\"docs-ml-header-id\");element.parentNode.removeChild(element);";

private:
    std::shared_ptr<Article> article_;
    TextsContext context_;
};
