// The pad's grid of the categories of one grouping (authors, genres): a tile per category with
// its picture and track count; a tile opens the category's songs as the grid's detail panel.
// Searched from the player's search field over the categories' names.
#pragma once

#include "gallery/UIGridViewController.h"
#include "media/CompositionsSource.h"
#include "media/MusicContext.h"
#include "media/SearchProtocol.h"

class UICatGridViewController : public UIGridViewController, public SearchProtocol {
public:
    static std::shared_ptr<UICatGridViewController> initWithSource(std::shared_ptr<CompositionsSource> source,
                                                                    MusicContext context);
    UICatGridViewController(std::shared_ptr<CompositionsSource> source, MusicContext context)
        : source_(std::move(source)), context_(std::move(context)) {}

    const std::shared_ptr<CompositionsSource>& source() const { return source_; }
    bool searching() const { return searching_; }
    const CompositionCats& lastSearch() const { return lastSearch_; }

    void viewDidLoad() override;
    long numberOfCellsInGridView(const std::shared_ptr<OEGridView>& gridView) override;
    std::shared_ptr<OEGridViewCell> gridViewCellAtIndex(const std::shared_ptr<OEGridView>& gridView,
                                                        unsigned long index) override;
    std::shared_ptr<UIViewController> itemDetailsViewController(unsigned long index) override;

    void handleSearch(const std::string& text) override;
    void cancelSearch() override;

private:
    // The categories the tiles stand for: the matches while searching.
    CompositionCats shownCats();
    void reloadGrid();

    std::shared_ptr<CompositionsSource> source_;
    MusicContext context_;
    bool searching_ = false;
    CompositionCats lastSearch_;
};
