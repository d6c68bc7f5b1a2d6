// A famous post's page and its picture.
#include "texts/UIFamousPostViewController.h"

#include "platform/net/NSURL.h"
#include "platform/ui/UINavigationItem.h"
#include "texts/NSDictionaryFamousPost.h"
#include "texts/ReaderScreens.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

namespace {

std::shared_ptr<NSURL> postAddress(const Value& post, const TextsContext& context) {
    const auto& locale = context.app().localizations;
    return locale ? NSURL::URLWithString(NSDictionaryFamousPost::postURL(post, *locale)) : nullptr;
}

}  // namespace

std::shared_ptr<UIFamousPostViewController> UIFamousPostViewController::initWithPost(Value post, TextsContext context) {
    return std::make_shared<UIFamousPostViewController>(std::move(post), std::move(context));
}

UIFamousPostViewController::UIFamousPostViewController(Value post, TextsContext context)
    : MinibrowserViewController(postAddress(post, context), context.app()),
      post_(std::move(post)),
      context_(std::move(context)) {}

void UIFamousPostViewController::viewDidLoad() {
    MinibrowserViewController::viewDidLoad();
    const auto& locale = context_.app().localizations;
    if (locale) setTitle(NSDictionaryFamousPost::postTitle(post_, *locale));
    navigationItem()->setBackBarButtonItem(UIBarButtonItemCommon::makeBackButton());
    std::weak_ptr<UIFamousPostViewController> weak = self<UIFamousPostViewController>();
    navigationItem()->setRightBarButtonItem(customBarButtonItemWithImageName(
        self<UIFamousPostViewController>(), "see_picture", [weak](const std::shared_ptr<NSObject>&) {
            if (auto me = weak.lock()) me->showImage();
        }));
}

void UIFamousPostViewController::showImage() {
    showPhotoController(ReaderScreens::pagerForPicture(NSDictionaryFamousPost::pictureId(post_), context_));
}

void UIFamousPostViewController::showPhotoController(const std::shared_ptr<UIViewController>& controller) {
    ReaderScreens::showPhotoController(self<UIViewController>(), controller);
}
