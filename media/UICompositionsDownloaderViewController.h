// The music downloads: the queue's files under their tracks' names, "Stop all", the size it
// asks for as a popover, and on the phone it closes itself once nothing is left to download.
#pragma once

#include "gallery/UIFileDownloaderViewController.h"
#include "media/MusicContext.h"
#include "platform/ui/CGGeometry.h"

class CompositionsSource;

class UICompositionsDownloaderViewController : public UIFileDownloaderViewController {
public:
    static std::shared_ptr<UICompositionsDownloaderViewController> initWithStyle(
        UITableViewStyle style, std::shared_ptr<CompositionsSource> source, std::shared_ptr<FileDownloader> downloader,
        MusicContext context);
    UICompositionsDownloaderViewController(UITableViewStyle style, std::shared_ptr<CompositionsSource> source,
                                           std::shared_ptr<FileDownloader> downloader, MusicContext context);

    const std::shared_ptr<CompositionsSource>& source() const { return source_; }
    // 200 x 44 with nothing queued, else 600 wide and 44 per file up to 600 high.
    CGSize downloadPopoverSize() const;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    void customizeCell(const std::shared_ptr<UIFileDownloadCell>& cell) override;
    std::string cellTitle(const std::string& fileName) const override;
    void reloadData() override;
    // Asks "Stop all downloads?"; confirming runs stop().
    void stopAllClick();
    void stop();
    void closeClick();

private:
    // Closes the screen once, however many reasons come: popped while it is the top of its
    // navigation stack, dismissed while presented.
    void close();
    // On the phone the screen goes once nothing is left, but only once it is on screen: a pop
    // in the middle of its own push would leave the screen below without its bars.
    void closeWhenEmptyOnPhone();

    bool appeared_ = false;

    std::shared_ptr<CompositionsSource> source_;
    MusicContext context_;
};
