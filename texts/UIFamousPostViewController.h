// A famous-paintings post's page, for the current language, in the in-app browser, with a
// button that opens the post's picture in the pager.
#pragma once

#include "platform/foundation/Value.h"
#include "texts/TextsContext.h"
#include "gallery/MinibrowserViewController.h"

#include <memory>

class UIFamousPostViewController : public MinibrowserViewController {
public:
    static std::shared_ptr<UIFamousPostViewController> initWithPost(Value post, TextsContext context);
    UIFamousPostViewController(Value post, TextsContext context);

    const Value& post() const { return post_; }

    void viewDidLoad() override;
    void showImage();
    void showPhotoController(const std::shared_ptr<UIViewController>& controller);

private:
    Value post_;
    TextsContext context_;
};
