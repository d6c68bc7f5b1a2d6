// The track picker of the playlist screens.
#include "media/UIAllCompositionsViewController.h"

#include "media/MediaPlayerItem.h"
#include "platform/ui/UIAccessibility.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITableViewCell.h"
#include "uikit/UIBarButtonItemCommon.h"

std::shared_ptr<UIAllCompositionsViewController> UIAllCompositionsViewController::initWithSource(
    std::shared_ptr<CompositionsSource> source, const MediaItems& selected, MusicContext context) {
    auto picker =
        std::make_shared<UIAllCompositionsViewController>(UITableViewStyleGrouped, std::move(source), std::move(context));
    for (const auto& item : selected) picker->selected_[item->key()] = true;
    return picker;
}

void UIAllCompositionsViewController::viewDidLoad() {
    OECompositionsTableViewControllerWithSearch::viewDidLoad();
    std::weak_ptr<UIAllCompositionsViewController> weak =
        std::static_pointer_cast<UIAllCompositionsViewController>(shared_from_this());
    navigationItem()->setRightBarButtonItem(UIBarButtonItemCommon::makeDoneButtonWithTarget(nullptr, [weak](const auto&) {
        if (auto self = weak.lock()) self->doneClick();
    }));
    navigationItem()->setBackBarButtonItem(UIBarButtonItemCommon::makeBackButton());
}

void UIAllCompositionsViewController::configureCellWithComposition(const std::shared_ptr<UITableViewCell>& cell,
                                                                   const std::shared_ptr<MediaPlayerItem>& item) {
    OECompositionsTableViewControllerWithSearch::configureCellWithComposition(cell, item);
    const auto found = selected_.find(item->key());
    const bool picked = found != selected_.end() && found->second;
    cell->imageView()->setImage(UIImage::imageNamed(picked ? "cb_dark_on" : "cb_dark_off"));
    setAccessibilityToggle(*cell, picked);
}

void UIAllCompositionsViewController::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                              const NSIndexPath& indexPath) {
    const auto list = compositionsList();
    if (indexPath.row < 0 || static_cast<std::size_t>(indexPath.row) >= list.size()) return;
    bool& picked = selected_[list[static_cast<std::size_t>(indexPath.row)]->key()];
    picked = !picked;
    tableView->reloadRowsAtIndexPaths({indexPath}, UITableViewRowAnimationNone);
}

void UIAllCompositionsViewController::doneClick() {
    if (auto delegate = delegate_.lock()) {
        MediaItems picked;
        for (const auto& item : sourceItems()) {
            const auto found = selected_.find(item->key());
            if (found != selected_.end() && found->second) picked.push_back(item);
        }
        delegate->allCompositionsSelectedCompositions(
            std::static_pointer_cast<UIAllCompositionsViewController>(shared_from_this()), picked);
    }
    if (auto navigation = navigationController()) navigation->popViewControllerAnimated(true);
}
