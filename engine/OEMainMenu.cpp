// The main menu's table, its cells and headers, reloads and row selection.
#include "engine/OEMainMenu.h"

#include "engine/ViewControllersConstructor.h"
#include "platform/foundation/NSNotificationCenter.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIFont.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "uikit/OEBadge.h"
#include "uikit/OESideMenuContainerViewController.h"

namespace {
std::shared_ptr<UIColor> backgroundColor(const std::shared_ptr<OEConfig>& config) {
    const auto c = config && config->color() ? config->color()->backgroundColor()
                                             : OEColorConfig::Color::groupTableViewBackground();
    return UIColor::colorWithRed(c.red, c.green, c.blue, c.alpha);
}
}  // namespace

std::shared_ptr<OEMainMenu> OEMainMenu::initWithFactory(std::shared_ptr<OEMainMenuSectionsFactory> factory,
                                                        std::shared_ptr<OEConfig> config) {
    auto menu = std::make_shared<OEMainMenu>();
    menu->itemsFactory_ = std::move(factory);
    menu->config_ = std::move(config);
    if (menu->itemsFactory_) menu->sections_ = menu->itemsFactory_->makeItems();
    // Observed from construction, so a message before the view loads still refreshes the
    // sections the engine reads at start-up.
    menu->addObservers();
    return menu;
}

void OEMainMenu::viewDidLoad() {
    UIViewController::viewDidLoad();
    view()->setBackgroundColor(backgroundColor(config_));
    constructTable();
}

void OEMainMenu::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (tableView_) tableView_->reloadData();
}

void OEMainMenu::constructTable() {
    CGRect frame = view()->bounds();
    const auto idiom = UIDevice::currentDevice()->userInterfaceIdiom();
    if (idiom == UIUserInterfaceIdiom::Phone || idiom == UIUserInterfaceIdiom::Unspecified) {
        // Room for the status bar.
        frame.origin.y += 20;
        frame.size.height -= 20;
    }
    tableView_ = UITableView::initWithFrame(frame, UITableViewStyleGrouped);
    tableView_->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    auto self = std::static_pointer_cast<OEMainMenu>(shared_from_this());
    tableView_->setDelegate(self);
    tableView_->setDataSource(self);
    tableView_->setBackgroundColor(UIColor::clearColor());
    view()->addSubview(tableView_);
}

void OEMainMenu::addObservers() {
    auto center = NSNotificationCenter::defaultCenter();
    auto self = std::static_pointer_cast<OEMainMenu>(shared_from_this());
    for (const char* name : {"NewAppsFoundMessage", "MessageDataUpdated", "ImagesDataChanged"}) {
        center->addObserver(self, [raw = self.get()](const NSNotification&) { raw->reloadData(); }, name);
    }
}

void OEMainMenu::reloadData() {
    sections_ = itemsFactory_ ? itemsFactory_->makeItems() : std::vector<std::shared_ptr<OEMenuSection>>{};
    if (tableView_) tableView_->reloadData();
}

std::shared_ptr<OESideMenuContainerViewController> OEMainMenu::sideMenuContainer() {
    auto self = std::static_pointer_cast<UIViewController>(shared_from_this());
    if (auto container = menuContainerViewController(self)) return container;
    return std::dynamic_pointer_cast<OESideMenuContainerViewController>(ViewControllersConstructor::menuController());
}

std::shared_ptr<OEMenuSectionItem> OEMainMenu::itemAt(const NSIndexPath& indexPath) const {
    if (indexPath.section < 0 || indexPath.section >= static_cast<long>(sections_.size())) return nullptr;
    const auto& items = sections_[indexPath.section]->items();
    if (indexPath.row < 0 || indexPath.row >= static_cast<long>(items.size())) return nullptr;
    return items[indexPath.row];
}

// --- Table ---------------------------------------------------------------------------------

long OEMainMenu::numberOfSectionsInTableView(const std::shared_ptr<UITableView>&) {
    return static_cast<long>(sections_.size());
}

long OEMainMenu::numberOfRowsInSection(const std::shared_ptr<UITableView>&, long section) {
    if (section < 0 || section >= static_cast<long>(sections_.size())) return 0;
    return static_cast<long>(sections_[section]->items().size());
}

std::shared_ptr<UITableViewCell> OEMainMenu::cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                                  const NSIndexPath& indexPath) {
    auto item = itemAt(indexPath);
    if (!item) return contructCellWithTitle("", "", tableView);
    return contructCellWithTitle(item->title(), item->imageName(), item->identifer(), item->badge(), tableView);
}

std::shared_ptr<UITableViewCell> OEMainMenu::contructCellWithTitle(const std::string& title,
                                                                  const std::string& identifer,
                                                                  const std::shared_ptr<UITableView>& tableView) {
    auto cell = tableView ? tableView->dequeueReusableCellWithIdentifier(identifer) : nullptr;
    if (!cell) {
        cell = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, identifer);
        cell->setSelectionStyle(UITableViewCellSelectionStyleGray);
        cell->textLabel()->setFont(UIFont::systemFontOfSize(17));
        cell->textLabel()->setNumberOfLines(3);
    }
    cell->textLabel()->setText(title);
    return cell;
}

std::shared_ptr<UITableViewCell> OEMainMenu::contructCellWithTitle(const std::string& title,
                                                                  const std::string& imageName,
                                                                  const std::string& identifer,
                                                                  const std::string& badge,
                                                                  const std::shared_ptr<UITableView>& tableView) {
    auto cell = contructCellWithTitle(title, identifer, tableView);
    cell->imageView()->setImage(UIImage::imageNamed(imageName));
    cell->setAccessoryView(badge.empty() ? nullptr : badgeWithValue(badge));
    return cell;
}

std::shared_ptr<OEBadge> OEMainMenu::badgeWithValue(const std::string& value) {
    auto badge = OEBadge::make();
    badge->setText(value);
    badge->sizeToFit();
    return badge;
}

CGFloat OEMainMenu::heightForHeaderInSection(const std::shared_ptr<UITableView>&, long) { return 22; }

std::shared_ptr<UIView> OEMainMenu::viewForHeaderInSection(const std::shared_ptr<UITableView>& tableView, long section) {
    const CGFloat width = tableView ? tableView->frame().size.width : view()->bounds().size.width;
    auto header = UIView::initWithFrame(CGRectMake(0, 0, width, 22));
    header->setBackgroundColor(view()->backgroundColor());
    header->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);

    auto label = UILabel::make();
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    if (section >= 0 && section < static_cast<long>(sections_.size())) label->setText(sections_[section]->title());
    label->setFont(UIFont::systemFontOfSize(15));
    header->addSubview(label);
    // The label ends 8 points short of the right edge, mirroring its left inset; reaching past
    // the edge would clip long titles under the table's border.
    NSLayoutConstraint::activateConstraints({
        label->leftAnchor()->constraintEqualToAnchor(header->leftAnchor(), 8),
        label->rightAnchor()->constraintEqualToAnchor(header->rightAnchor(), -8),
        label->topAnchor()->constraintEqualToAnchor(header->topAnchor()),
        label->bottomAnchor()->constraintEqualToAnchor(header->bottomAnchor()),
    });
    return header;
}

void OEMainMenu::didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) {
    if (tableView) tableView->deselectRowAtIndexPath(indexPath, true);
    // Held here: the action may reload the menu and replace its sections.
    auto item = itemAt(indexPath);
    auto self = std::static_pointer_cast<OEMainMenu>(shared_from_this());
    if (item && item->action()) item->action()(self);
    if (auto container = sideMenuContainer()) container->setMenuState(OESideMenuStateClosed);
}
