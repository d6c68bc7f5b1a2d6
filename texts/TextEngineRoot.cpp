// The texts browser's table, its two views and what a row opens.
#include "texts/TextEngineRoot.h"

#include "config/OEConfig.h"
#include "gallery/UIInfoView.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/foundation/NSString.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UISegmentedControl.h"
#include "platform/ui/UISplitViewController.h"
#include "platform/ui/UITableViewCell.h"
#include "texts/ReaderScreens.h"
#include "texts/UITextPreview.h"
#include "uikit/OECoreStrings.h"
#include "uikit/UIBarButtonItemCommon.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

#include <algorithm>

namespace {

// The first character of a name (a whole UTF-8 sequence); "#" for an empty name.
std::string firstCharacter(const std::string& name) {
    if (name.empty()) return "#";
    std::size_t at = 0;
    NSString::nextCodePoint(name, at);
    return name.substr(0, std::max<std::size_t>(at, 1));
}

}  // namespace

TextEngineRoot::TextEngineRoot(TextsContext context) : context_(std::move(context)) {}

TextEngineRoot::~TextEngineRoot() { NSNotificationCenter::defaultCenter()->removeObserver(this); }

bool TextEngineRoot::isPad() const { return ReaderScreens::isPad(); }

bool TextEngineRoot::hasFavoritesSection() { return context_.textServer && context_.textServer->favoritesCount() > 0; }

void TextEngineRoot::viewDidLoad() {
    UIViewController::viewDidLoad();
    const auto& config = context_.app().config;
    const auto c = config && config->color() ? config->color()->backgroundColor()
                                             : OEColorConfig::Color::groupTableViewBackground();
    const auto background = UIColor::colorWithRed(c.red, c.green, c.blue, c.alpha);
    sideMenu_addButton(self<TextEngineRoot>(), background);
    setTitle(NSLocalizedString("TEXTS_TITLE"));
    NSNotificationCenter::defaultCenter()->addObserver(self<TextEngineRoot>(), &TextEngineRoot::favoritesAdded,
                                                       MFavoriteAdded);
    tableView_ = UITableView::initWithFrame(view()->bounds(), UITableViewStyleGrouped);
    tableView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    tableView_->setBackgroundColor(UIColor::clearColor());
    tableView_->setBackgroundView(nullptr);
    tableView_->setDelegate(self<TextEngineRoot>());
    tableView_->setDataSource(self<TextEngineRoot>());
    view()->addSubview(tableView_);
    view()->setBackgroundColor(background);
    viewMode_ = 0;
    std::weak_ptr<TextEngineRoot> weak = self<TextEngineRoot>();
    setToolbarItems({UIBarButtonItemCommon::makeFlexButton(),
                     UIBarButtonItemCommon::makeSegmentedBarButtonItemWithSegments(
                         {OECoreString("By Year"), OECoreString("By Name")}, static_cast<int>(viewMode_),
                         self<TextEngineRoot>(),
                         [weak](const std::shared_ptr<NSObject>& sender) {
                             auto me = weak.lock();
                             if (auto control = std::dynamic_pointer_cast<UISegmentedControl>(sender); me && control)
                                 me->segmentChanged(control);
                         }),
                     UIBarButtonItemCommon::makeFlexButton()});
    if (isPad()) {
        // The first subcategory is chosen; an empty catalogue has none.
        if (auto first = textCatForIndexPath(NSIndexPath::indexPathForRow(0, 0))) {
            selectedSubCat_ = first;
            tableView_->reloadData();
            tableView_->selectRowAtIndexPath(indexPathForTextCat(*first), false, UITableViewScrollPositionNone);
        }
    }
}

void TextEngineRoot::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (auto navigation = navigationController()) navigation->setToolbarHidden(true, animated);
    if (!tableView_) return;
    tableView_->reloadData();
    if (selectedSubCat_) {
        tableView_->selectRowAtIndexPath(indexPathForTextCat(*selectedSubCat_), false, UITableViewScrollPositionNone);
    } else if (favoritesSelected_ && hasFavoritesSection()) {
        tableView_->selectRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0), false, UITableViewScrollPositionNone);
    }
}

void TextEngineRoot::checkCellFrame(const std::shared_ptr<UIView>& view) {
    if (!view) return;
    CGRect frame = view->frame();
    if (frame.origin.x >= kCellLeftEdge) return;
    const double shift = kCellLeftEdge - frame.origin.x;
    frame.origin.x = kCellLeftEdge;
    frame.size.width = std::max(0.0, frame.size.width - shift);
    view->setFrame(frame);
}

void TextEngineRoot::showTextPreview(const std::shared_ptr<UIViewController>& screen) {
    ReaderScreens::showReading(self<UIViewController>(), screen, true);
}

void TextEngineRoot::showFullscreenController(const std::shared_ptr<UIViewController>& screen) {
    auto split = splitViewController();
    if (isPad() && split) {
        split->presentViewController(UINavigationController::initWithRootViewController(screen), true, nullptr);
    } else if (auto navigation = navigationController()) {
        navigation->pushViewController(screen, true);
    }
}

void TextEngineRoot::segmentChanged(const std::shared_ptr<UISegmentedControl>& control) {
    setViewMode(control->selectedSegmentIndex());
}

void TextEngineRoot::setViewMode(long mode) {
    viewMode_ = mode;
    if (viewMode_ == 1 && !letterIndexBuilt_) buildLetterIndex();
    if (tableView_) tableView_->reloadData();
}

void TextEngineRoot::buildLetterIndex() {
    letterIndexBuilt_ = true;
    if (!context_.textServer) return;
    // Sorted by name, so every first letter makes one section with all of its subcategories,
    // whatever the database's order.
    auto all = context_.textServer->allSubCats();
    std::stable_sort(all.begin(), all.end(), [](const TextCat& a, const TextCat& b) { return a.catName < b.catName; });
    for (auto& sub : all) {
        const std::string title = firstCharacter(sub.catName);
        if (letterTitles_.empty() || letterTitles_.back() != title) letterTitles_.push_back(title);
        letterIndex_[title].push_back(std::move(sub));
    }
}

void TextEngineRoot::favoritesAdded(const NSNotification&) {
    if (tableView_) tableView_->reloadData();
}

std::vector<TextCat> TextEngineRoot::subCategoriesOfSection(long section) {
    if (section < 0 || !context_.textServer) return {};
    if (viewMode_ == 1) {
        if (section >= static_cast<long>(letterTitles_.size())) return {};
        return letterIndex_[letterTitles_[static_cast<std::size_t>(section)]];
    }
    const auto cats = context_.textServer->catList();
    if (section >= static_cast<long>(cats.size())) return {};
    return context_.textServer->subCatForCat(cats[static_cast<std::size_t>(section)]);
}

std::optional<TextCat> TextEngineRoot::textCatForIndexPath(const NSIndexPath& indexPath) {
    const auto subs = subCategoriesOfSection(indexPath.section);
    if (indexPath.row < 0 || indexPath.row >= static_cast<long>(subs.size())) return std::nullopt;
    return subs[static_cast<std::size_t>(indexPath.row)];
}

std::optional<NSIndexPath> TextEngineRoot::indexPathForTextCat(const TextCat& subCategory) {
    const long shift = hasFavoritesSection() ? 1 : 0;
    const long sections = viewMode_ == 1 ? static_cast<long>(letterTitles_.size())
                                         : (context_.textServer ? static_cast<long>(context_.textServer->catList().size()) : 0);
    for (long section = 0; section < sections; ++section) {
        const auto subs = subCategoriesOfSection(section);
        for (std::size_t row = 0; row < subs.size(); ++row)
            if (subs[row] == subCategory) return NSIndexPath::indexPathForRow(static_cast<long>(row), section + shift);
    }
    return std::nullopt;
}

void TextEngineRoot::showInfo(const NSIndexPath& indexPath) {
    const long shift = hasFavoritesSection() ? 1 : 0;
    const auto sub = textCatForIndexPath(NSIndexPath::indexPathForRow(indexPath.row, indexPath.section - shift));
    if (!sub) return;
    auto info = UIInfoView::initWithContext(context_.gallery);
    info->setText(sub->catDescription);
    info->setAuthor(sub->catName);
    showFullscreenController(info);
}

long TextEngineRoot::numberOfSectionsInTableView(const std::shared_ptr<UITableView>&) {
    const long sections = viewMode_ == 1 ? static_cast<long>(letterTitles_.size())
                                         : (context_.textServer ? static_cast<long>(context_.textServer->catList().size()) : 0);
    return sections + (hasFavoritesSection() ? 1 : 0);
}

long TextEngineRoot::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long section) {
    const bool favorites = hasFavoritesSection();
    if (favorites && section == 0) return 1;
    return static_cast<long>(subCategoriesOfSection(section - (favorites ? 1 : 0)).size());
}

std::string TextEngineRoot::titleForHeaderInSection(const std::shared_ptr<UITableView>&, long section) {
    const bool favorites = hasFavoritesSection();
    if (favorites && section == 0) return "";
    section -= favorites ? 1 : 0;
    if (viewMode_ == 1)
        return section >= 0 && section < static_cast<long>(letterTitles_.size()) ? letterTitles_[static_cast<std::size_t>(section)] : "";
    if (!context_.textServer) return "";
    const auto cats = context_.textServer->catList();
    return section >= 0 && section < static_cast<long>(cats.size()) ? cats[static_cast<std::size_t>(section)].catName : "";
}

std::shared_ptr<UITableViewCell> TextEngineRoot::cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                                       const NSIndexPath& indexPath) {
    const bool favorites = hasFavoritesSection();
    if (favorites && indexPath.section == 0) {
        static const std::string identifier = "favoritesCell";
        auto cell = tableView->dequeueReusableCellWithIdentifier(identifier);
        if (!cell) {
            cell = UITableViewCell::initWithStyle(UITableViewCellStyleSubtitle, identifier);
            cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
            cell->textLabel()->setFont(UIFont::systemFontOfSize(UIFont::systemFontSize()));
        }
        cell->textLabel()->setText(OECoreString("Favorites"));
        cell->detailTextLabel()->setText(NSString::format(OECoreString("texts: %ld"),
                                                          static_cast<long>(context_.textServer->favoritesCount())));
        return cell;
    }
    static const std::string identifier = "groupCell";
    auto cell = tableView->dequeueReusableCellWithIdentifier(identifier);
    // A search result's row shares the identifier and has a second line: a catalogue row is made anew.
    if (!cell || cell->style() != UITableViewCellStyleDefault) {
        cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, identifier);
        cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
        cell->textLabel()->setNumberOfLines(2);
        cell->textLabel()->setFont(UIFont::systemFontOfSize(UIFont::systemFontSize()));
        cell->setAccessoryType(UITableViewCellAccessoryDisclosureIndicator);
    }
    const auto sub = textCatForIndexPath(NSIndexPath::indexPathForRow(indexPath.row, indexPath.section - (favorites ? 1 : 0)));
    cell->textLabel()->setText(sub ? sub->catName : "");
    return cell;
}

std::vector<std::string> TextEngineRoot::sectionIndexTitlesForTableView(const std::shared_ptr<UITableView>&) {
    return viewMode_ == 1 ? letterTitles_ : std::vector<std::string>{};
}

long TextEngineRoot::sectionForSectionIndexTitle(const std::shared_ptr<UITableView>&, const std::string&, long index) {
    if (viewMode_ != 1) return 0;
    return index + (hasFavoritesSection() ? 1 : 0);
}

void TextEngineRoot::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    const bool pad = isPad();
    if (!pad) tableView->deselectRowAtIndexPath(indexPath, true);
    if (!context_.textServer) return;
    const bool favorites = hasFavoritesSection();
    if (favorites && indexPath.section == 0) {
        auto preview = UITextPreview::initWithContext(context_);
        preview->setTextsList(context_.textServer->favoritesList());
        preview->setTextCat(OECoreString("Favorites"));
        preview->setMode(1);
        if (pad) {
            favoritesSelected_ = true;
            selectedSubCat_.reset();
        }
        showTextPreview(preview);
        return;
    }
    const auto sub = textCatForIndexPath(NSIndexPath::indexPathForRow(indexPath.row, indexPath.section - (favorites ? 1 : 0)));
    if (!sub) return;
    if (pad) {
        selectedSubCat_ = sub;
        favoritesSelected_ = false;
    }
    if (context_.textServer->numTextsForCat(*sub) == 0) return;
    context_.textServer->resetCat(*sub);
    tableView->reloadRowsAtIndexPaths({indexPath}, UITableViewRowAnimationNone);
    if (pad) tableView->selectRowAtIndexPath(indexPath, false, UITableViewScrollPositionNone);
    auto preview = UITextPreview::initWithContext(context_);
    preview->setTextsList(context_.textServer->textsForCat(*sub));
    preview->setTextCat(sub->catName);
    preview->setMode(0);
    showTextPreview(preview);
}
