// The songs of one category, with "Download All" for those not yet on the device.
#pragma once

#include "media/OECompositionsTableViewController.h"

class CompositionCat;

class UICompositionsViewController : public OECompositionsTableViewController {
public:
    static std::shared_ptr<UICompositionsViewController> initWithSource(std::shared_ptr<CompositionsSource> source,
                                                                        std::shared_ptr<CompositionCat> cat,
                                                                        MusicContext context);
    UICompositionsViewController(std::shared_ptr<CompositionsSource> source, std::shared_ptr<CompositionCat> cat,
                                 MusicContext context);

    const std::shared_ptr<CompositionCat>& selectedCat() const { return selectedCat_; }
    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    MediaItems sourceItems() override;
    MediaItems notDownloadedItems();
    // "Download All" while a track of the category is not on the device (and can be downloaded).
    void updateToolbarItems(bool animated);
    void downloadAllClick();

private:
    std::shared_ptr<CompositionCat> selectedCat_;
};
