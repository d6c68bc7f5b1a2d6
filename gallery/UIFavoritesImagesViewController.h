// The thumbnail screen over the user's favourite pictures (the local database) or the most
// liked pictures of all users (the likes server), switched by a segmented control in the
// navigation bar. Everything else is the thumbnail screen's.
#pragma once

#include "gallery/UIThumbailViewController.h"

#include <cstdint>

class UISegmentedControl;

class UIFavoritesImagesViewController : public UIThumbailViewController {
public:
    enum FavoritesMode : long { kModeFavorites = 0, kModePopular = 1 };

    // Favourites mode, filtering allowed.
    static std::shared_ptr<UIFavoritesImagesViewController> make(GalleryContext context);
    explicit UIFavoritesImagesViewController(GalleryContext context);

    // A new favourites source over the default images database.
    static std::shared_ptr<DataSource> favoritesDataSource(const GalleryContext& context);
    // The same as favoritesDataSource, whatever the argument.
    static std::shared_ptr<DataSource> topRatedDataSource(const GalleryContext& context,
                                                          const std::shared_ptr<NSObject>& any);

    long selectedFavoritesMode() const { return selectedFavoritesMode_; }
    std::shared_ptr<UISegmentedControl> modeSelector() const { return modeSelector_.lock(); }

    void viewDidLoad() override;
    // The selector's action: empties the list, shows a spinner and reads the chosen list. Only
    // the latest change fills the list: an earlier answer that arrives late is dropped.
    void changeMode(const std::shared_ptr<NSObject>& sender);
    // The pictures of these identifiers, in their order, as the new unfiltered list.
    void updateWithIdentifiers(const Value::Array& identifiers);

private:
    void finishModeChange(std::uint64_t change);

    long selectedFavoritesMode_ = kModeFavorites;
    std::weak_ptr<UISegmentedControl> modeSelector_;
    std::shared_ptr<UIActivityIndicatorView> modeSpinner_;
    // Counts mode changes, so that a late answer knows it was superseded.
    std::uint64_t modeChange_ = 0;
};
