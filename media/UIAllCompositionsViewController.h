// The track picker of the playlist screens: every track with a check box; Done hands the picked
// tracks, in catalogue order, to the delegate and goes back. A tap never plays.
#pragma once

#include "media/OECompositionsTableViewControllerWithSearch.h"

#include <map>
#include <string>

class UIAllCompositionsViewController;

class UIAllCompositionsViewControllerDelegate {
public:
    virtual ~UIAllCompositionsViewControllerDelegate() = default;
    virtual void allCompositionsSelectedCompositions(const std::shared_ptr<UIAllCompositionsViewController>& picker,
                                                     const MediaItems& selected) = 0;
};

class UIAllCompositionsViewController : public OECompositionsTableViewControllerWithSearch {
public:
    // With the given tracks picked already.
    static std::shared_ptr<UIAllCompositionsViewController> initWithSource(std::shared_ptr<CompositionsSource> source,
                                                                           const MediaItems& selected,
                                                                           MusicContext context);
    using OECompositionsTableViewControllerWithSearch::OECompositionsTableViewControllerWithSearch;

    const std::map<std::string, bool>& selectedCompositions() const { return selected_; }
    void setDelegate(const std::shared_ptr<UIAllCompositionsViewControllerDelegate>& delegate) { delegate_ = delegate; }

    void viewDidLoad() override;
    void configureCellWithComposition(const std::shared_ptr<UITableViewCell>& cell,
                                      const std::shared_ptr<MediaPlayerItem>& item) override;
    void didSelectRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;
    bool canEditRowAtIndexPath(const std::shared_ptr<UITableView>&, const NSIndexPath&) override { return false; }
    void doneClick();

private:
    std::map<std::string, bool> selected_;
    std::weak_ptr<UIAllCompositionsViewControllerDelegate> delegate_;
};
