// An article's page and its picture.
#include "texts/UIArticleViewController.h"

#include "platform/net/NSURL.h"
#include "platform/ui/UINavigationItem.h"
#include "texts/ReaderScreens.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

std::shared_ptr<UIArticleViewController> UIArticleViewController::initWithArticle(std::shared_ptr<Article> article,
                                                                                  TextsContext context) {
    return std::make_shared<UIArticleViewController>(std::move(article), std::move(context));
}

UIArticleViewController::UIArticleViewController(std::shared_ptr<Article> article, TextsContext context)
    : MinibrowserViewController(article ? NSURL::URLWithString(article->url()) : nullptr, context.app()),
      article_(std::move(article)),
      context_(std::move(context)) {
    setPostLoadScript(kRemoveHeaderScript);
}

void UIArticleViewController::viewDidLoad() {
    MinibrowserViewController::viewDidLoad();
    if (article_) setTitle(article_->imageName());
    navigationItem()->setBackBarButtonItem(UIBarButtonItemCommon::makeBackButton());
    std::weak_ptr<UIArticleViewController> weak = self<UIArticleViewController>();
    navigationItem()->setRightBarButtonItem(customBarButtonItemWithImageName(
        self<UIArticleViewController>(), "see_picture", [weak](const std::shared_ptr<NSObject>&) {
            if (auto me = weak.lock()) me->showImage();
        }));
}

void UIArticleViewController::showImage() {
    if (!article_ || !article_->rawImage()) return;
    showPhotoController(ReaderScreens::pagerForPicture(article_->rawImage()->imageId(), context_));
}

void UIArticleViewController::showPhotoController(const std::shared_ptr<UIViewController>& controller) {
    ReaderScreens::showPhotoController(self<UIViewController>(), controller);
}
