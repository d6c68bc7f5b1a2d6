// The list of texts: rows, opening the reader, and the favourites' swipe.
#include "texts/UITextPreview.h"

#include "config/OEConfig.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UITableViewCell.h"
#include "texts/UIText.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <cstdlib>

std::shared_ptr<UITextPreview> UITextPreview::initWithContext(TextsContext context) {
    return std::make_shared<UITextPreview>(std::move(context));
}

UITextPreview::UITextPreview(TextsContext context) : context_(std::move(context)) {}

UITextPreview::~UITextPreview() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

void UITextPreview::viewDidLoad() {
    UIViewController::viewDidLoad();
    setTitle(textCat_);
    setMultilineTitle(self<UITextPreview>());
    tableView_ = UITableView::initWithFrame(view()->bounds(), UITableViewStyleGrouped);
    tableView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    tableView_->setBackgroundColor(UIColor::clearColor());
    tableView_->setBackgroundView(nullptr);
    tableView_->setDataSource(self<UITextPreview>());
    tableView_->setDelegate(self<UITextPreview>());
    view()->addSubview(tableView_);
    const auto& config = context_.app().config;
    const auto c = config && config->color() ? config->color()->backgroundColor()
                                             : OEColorConfig::Color::groupTableViewBackground();
    view()->setBackgroundColor(UIColor::colorWithRed(c.red, c.green, c.blue, c.alpha));
    if (!toolbarMade_) {
        toolbarMade_ = true;
        std::weak_ptr<UITextPreview> weak = self<UITextPreview>();
        setToolbarItems({UIBarButtonItemCommon::makePlainButtonWithTitle(OECoreString("Random"), self<UITextPreview>(),
                                                                         [weak](const std::shared_ptr<NSObject>&) {
                                                                             if (auto me = weak.lock()) me->randomClick();
                                                                         }),
                         UIBarButtonItemCommon::makeFlexButton()});
    }
    auto center = NSNotificationCenter::defaultCenter();
    center->addObserver(self<UITextPreview>(), &UITextPreview::textStatusUpdate, MTextStatusUpdate);
    center->addObserver(self<UITextPreview>(), &UITextPreview::favoritesChanged, MFavoriteAdded);
}

void UITextPreview::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(true, animated);
}

void UITextPreview::textStatusUpdate(const NSNotification&) {
    if (tableView_) tableView_->reloadData();
}

void UITextPreview::favoritesChanged(const NSNotification&) {
    if (tableView_) tableView_->reloadData();
}

std::shared_ptr<UIText> UITextPreview::readerAt(long position) const {
    auto reader = UIText::initWithNibName("UIText", context_);
    reader->setFirstText(position);
    reader->setTexts(textsList_);
    reader->setMode(mode_);
    return reader;
}

void UITextPreview::randomClick() {
    if (textsList_.empty()) return;
    auto navigation = navigationController();
    if (!navigation) return;
    navigation->pushViewController(readerAt(static_cast<long>(random() % static_cast<long>(textsList_.size()))), true);
}

long UITextPreview::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long) {
    return static_cast<long>(textsList_.size());
}

std::shared_ptr<UITableViewCell> UITextPreview::cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                                      const NSIndexPath& indexPath) {
    static const std::string identifier = "textCell";
    auto cell = tableView->dequeueReusableCellWithIdentifier(identifier);
    if (!cell) {
        cell = UITableViewCell::initWithStyle(UITableViewCellStyleSubtitle, identifier);
        cell->textLabel()->setFont(UIFont::systemFontOfSize(UIFont::systemFontSize()));
        cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
    }
    const auto row = static_cast<std::size_t>(indexPath.row);
    if (row >= textsList_.size()) return cell;
    const TextEntry& entry = textsList_[row];
    const bool unread = context_.textServer && context_.textServer->isNewText(entry);
    cell->textLabel()->setTextColor(unread ? UIColor::blackColor() : UIColor::darkGrayColor());
    cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
    cell->textLabel()->setText(entry.shortText);
    cell->detailTextLabel()->setText(mode_ == 1 ? entry.subCat + ", " + entry.textWithoutTags : entry.textWithoutTags);
    return cell;
}

void UITextPreview::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    tableView->deselectRowAtIndexPath(indexPath, true);
    if (indexPath.row < 0 || indexPath.row >= static_cast<long>(textsList_.size())) return;
    auto reader = readerAt(indexPath.row);
    if (auto split = splitViewController()) {
        auto navigation = UINavigationController::initWithRootViewController(reader);
        navigation->setModalTransitionStyle(UIModalTransitionStyle::CrossDissolve);
        split->presentViewController(navigation, true, nullptr);
    } else if (auto navigation = navigationController()) {
        navigation->pushViewController(reader, true);
    }
}

bool UITextPreview::canEditRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) { return mode_ == 1; }

void UITextPreview::commitEditingStyle(const std::shared_ptr<UITableView>& tableView, UITableViewCellEditingStyle style,
                                       const NSIndexPath& indexPath) {
    if (style != UITableViewCellEditingStyleDelete || mode_ != 1) return;
    const auto row = static_cast<std::size_t>(indexPath.row);
    if (row >= textsList_.size()) return;
    // The list is this screen's own: the server's favourites change beside it, and the table
    // loses exactly the swiped row.
    std::vector<TextEntry> list = textsList_;
    const TextEntry entry = list[row];
    if (context_.textServer) context_.textServer->deleteFavorite(entry);
    list.erase(list.begin() + static_cast<long>(row));
    textsList_ = std::move(list);
    tableView->deleteRowsAtIndexPaths({indexPath}, UITableViewRowAnimationAutomatic);
}
