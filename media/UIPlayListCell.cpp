// A playlist's row.
#include "media/UIPlayListCell.h"

#include "media/CompositionsCellsHelper.h"
#include "media/OECompositionsTableViewController.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIButton.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIButtonCommon.h"

std::shared_ptr<UIPlayListCell> UIPlayListCell::initWithStyle(UITableViewCellStyle style,
                                                              const std::string& reuseIdentifier) {
    auto cell = std::make_shared<UIPlayListCell>(style, reuseIdentifier);
    std::weak_ptr<UIPlayListCell> weak = cell;
    cell->playButton_ = UIButtonCommon::makeCustomButtonWithImage("playlist", nullptr, [weak](const auto&) {
        if (auto self = weak.lock()) self->playClick();
    });
    cell->setAccessoryView(cell->playButton_);
    CompositionsCellsHelper::configureCommonCellParams(cell);
    return cell;
}

void UIPlayListCell::playClick() {
    if (playList_ && !playList_->items.empty()) {
        NSNotificationCenter::defaultCenter()->postNotificationName(CompositionPlayPlaylistMessage, playList_);
        return;
    }
    UIAlertView::initWithTitle(OECoreString("Playlist is empty"), "", nullptr, OECoreString("Ok"), {})->show();
}
