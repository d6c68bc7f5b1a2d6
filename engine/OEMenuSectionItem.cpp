// Menu rows.
#include "engine/OEMenuSectionItem.h"

std::shared_ptr<OEMenuSectionItem> OEMenuSectionItem::initWithTitle(const std::string& title,
                                                                    const std::string& imageName,
                                                                    const std::string& badge, Action action) {
    auto item = std::make_shared<OEMenuSectionItem>();
    item->title_ = title;
    item->imageName_ = imageName;
    item->badge_ = badge;
    item->action_ = std::move(action);
    return item;
}
