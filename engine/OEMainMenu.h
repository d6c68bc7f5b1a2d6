// The screen in the side menu's left slot: a grouped table of the sections a sections factory
// makes. Choosing a row runs its item's action with the menu, then closes the side menu.
#pragma once

#include "engine/OEMainMenuSectionsFactory.h"
#include "engine/OEMenuSection.h"
#include "config/OEConfig.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UIViewController.h"

#include <memory>
#include <string>
#include <vector>

class OEBadge;
class OESideMenuContainerViewController;

class OEMainMenu : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
public:
    // Asks the factory for the sections at once, before any view exists, so the first item's
    // action can run right after construction.
    static std::shared_ptr<OEMainMenu> initWithFactory(std::shared_ptr<OEMainMenuSectionsFactory> factory,
                                                       std::shared_ptr<OEConfig> config);

    std::shared_ptr<OEMainMenuSectionsFactory> itemsFactory() const { return itemsFactory_; }
    void setItemsFactory(std::shared_ptr<OEMainMenuSectionsFactory> factory) { itemsFactory_ = std::move(factory); }
    std::shared_ptr<OEConfig> config() const { return config_; }
    void setConfig(std::shared_ptr<OEConfig> config) { config_ = std::move(config); }
    const std::vector<std::shared_ptr<OEMenuSection>>& sections() const { return sections_; }
    // Made when the view loads.
    std::shared_ptr<UITableView> tableView() const { return tableView_; }

    // Asks the factory again, then reloads the table (when it exists). Also run on
    // "NewAppsFoundMessage", "MessageDataUpdated" and "ImagesDataChanged".
    void reloadData();

    // The side-menu container this menu sits in (else the engine's).
    std::shared_ptr<OESideMenuContainerViewController> sideMenuContainer();

    // Cells: title in 17 points on up to 3 lines, gray selection; the bundle image; an
    // OEBadge accessory when a badge text is given, none otherwise.
    std::shared_ptr<UITableViewCell> contructCellWithTitle(const std::string& title, const std::string& identifer,
                                                           const std::shared_ptr<UITableView>& tableView);
    std::shared_ptr<UITableViewCell> contructCellWithTitle(const std::string& title, const std::string& imageName,
                                                           const std::string& identifer, const std::string& badge,
                                                           const std::shared_ptr<UITableView>& tableView);
    // A badge with the text, sized to fit it.
    std::shared_ptr<OEBadge> badgeWithValue(const std::string& value);

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;

    long numberOfSectionsInTableView(const std::shared_ptr<UITableView>& tableView) override;
    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    // 22 points for every section.
    CGFloat heightForHeaderInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    // The section title in 15 points, 8 points in from both sides of the header.
    std::shared_ptr<UIView> viewForHeaderInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

    OEMainMenu() = default;

private:
    void constructTable();
    void addObservers();
    std::shared_ptr<OEMenuSectionItem> itemAt(const NSIndexPath& indexPath) const;

    std::shared_ptr<OEMainMenuSectionsFactory> itemsFactory_;
    std::shared_ptr<OEConfig> config_;
    std::vector<std::shared_ptr<OEMenuSection>> sections_;
    std::shared_ptr<UITableView> tableView_;
};
