// The title view's binding.
#include "media/OETitleViewHandler.h"

#include "platform/ui/UILabel.h"

void OETitleViewHandler::setTitleView(std::shared_ptr<OETitleView> view) {
    view_ = std::move(view);
    updateTitle("");
    updateSubtitle("");
}

void OETitleViewHandler::updateTitle(const std::string& text) {
    if (auto label = view_ ? view_->titleLabel() : nullptr) label->setText(text);
}

void OETitleViewHandler::updateSubtitle(const std::string& text) {
    if (auto label = view_ ? view_->subtitleLabel() : nullptr) label->setText(text);
}
