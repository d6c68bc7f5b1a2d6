// The favourites and most liked pictures screen.
#include "gallery/UIFavoritesImagesViewController.h"

#include "content/Favorites_DataSource.h"
#include "content/ImagesWithIds_DataSource.h"
#include "content/Loader.h"
#include "content/dbEntry.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSBundle.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UISegmentedControl.h"
#include "uikit/UIViewControllerOpenAdUrl.h"

namespace {

std::shared_ptr<Loader> imagesLoader(const GalleryContext& context) {
    const auto& config = context.app.config;
    return Loader::loaderWithDBEntry(dbEntry::defaultEntry(config ? config->database() : nullptr), context.app);
}

}  // namespace

std::shared_ptr<UIFavoritesImagesViewController> UIFavoritesImagesViewController::make(GalleryContext context) {
    return std::make_shared<UIFavoritesImagesViewController>(std::move(context));
}

UIFavoritesImagesViewController::UIFavoritesImagesViewController(GalleryContext context)
    : UIThumbailViewController(favoritesDataSource(context),
                               dataSubCat::dataSubCatWithName(NSLocalizedStringFromTable("Favorites", "Core"),
                                                              context.localizations()),
                               true, context) {}

std::shared_ptr<DataSource> UIFavoritesImagesViewController::favoritesDataSource(const GalleryContext& context) {
    return Favorites_DataSource::initWithLoader(imagesLoader(context));
}

std::shared_ptr<DataSource> UIFavoritesImagesViewController::topRatedDataSource(const GalleryContext& context,
                                                                               const std::shared_ptr<NSObject>&) {
    return favoritesDataSource(context);
}

void UIFavoritesImagesViewController::viewDidLoad() {
    UIThumbailViewController::viewDidLoad();
    auto selector = UISegmentedControl::initWithItems(
        {NSLocalizedStringFromTable("Favorites", "Core"), NSLocalizedStringFromTable("Popular", "Core")});
    selector->sizeToFit();
    modeSelector_ = selector;
    selector->setSelectedSegmentIndex(static_cast<int>(selectedFavoritesMode_));
    std::weak_ptr<UIFavoritesImagesViewController> weakSelf = self<UIFavoritesImagesViewController>();
    selector->addTarget(
        self<UIFavoritesImagesViewController>(),
        [weakSelf](const std::shared_ptr<NSObject>& sender) {
            if (auto me = weakSelf.lock()) me->changeMode(sender);
        },
        UIControlEventValueChanged);
    navigationItem()->setTitleView(selector);
}

void UIFavoritesImagesViewController::changeMode(const std::shared_ptr<NSObject>& sender) {
    auto control = std::dynamic_pointer_cast<UISegmentedControl>(sender);
    if (!control) return;
    const std::uint64_t change = ++modeChange_;
    // No list until the chosen one is read.
    setDataSource(nullptr);
    if (modeSpinner_) modeSpinner_->removeFromSuperview();
    modeSpinner_ = showActivityIndicator(self<UIFavoritesImagesViewController>());
    selectedFavoritesMode_ = control->selectedSegmentIndex();
    setTitle(control->titleForSegmentAtIndex(static_cast<std::size_t>(std::max(0L, selectedFavoritesMode_))));

    std::weak_ptr<UIFavoritesImagesViewController> weakSelf = self<UIFavoritesImagesViewController>();
    if (selectedFavoritesMode_ != kModeFavorites) {
        const auto& likes = galleryContext().likes;
        if (!likes) {
            finishModeChange(change);
            showUndefinedErrorAlert(self<UIFavoritesImagesViewController>());
            return;
        }
        likes->getPopular([weakSelf, change](const Value::Array& identifiers, const NSErrorPtr& error) {
            DispatchQueue::mainQueue()->async([weakSelf, change, identifiers, error] {
                auto me = weakSelf.lock();
                if (!me || me->modeChange_ != change) return;
                me->finishModeChange(change);
                if (error) {
                    showUndefinedErrorAlert(me);
                    return;
                }
                me->updateWithIdentifiers(identifiers);
            });
        });
        return;
    }
    DispatchQueue::mainQueue()->async([weakSelf, change] {
        auto me = weakSelf.lock();
        if (!me || me->modeChange_ != change) return;
        me->setDataSource(favoritesDataSource(me->galleryContext()));
        me->finishModeChange(change);
    });
}

void UIFavoritesImagesViewController::finishModeChange(std::uint64_t change) {
    if (change != modeChange_ || !modeSpinner_) return;
    modeSpinner_->removeFromSuperview();
    modeSpinner_.reset();
}

void UIFavoritesImagesViewController::updateWithIdentifiers(const Value::Array& identifiers) {
    setDataSource(ImagesWithIds_DataSource::initWithLoader(imagesLoader(galleryContext()), identifiers));
}
