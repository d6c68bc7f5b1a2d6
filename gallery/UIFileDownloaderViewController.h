// The download queue's screen: the running files in name order with their progress, then the
// waiting ones ("Queued"), or one "Empty" row. The music library's downloads screen builds on it.
#pragma once

#include "platform/ui/UITableViewController.h"

#include <memory>
#include <string>

class FileDownloader;
class UIFileDownloadCell;

class UIFileDownloaderViewController : public UITableViewController {
public:
    // Over the shared downloader.
    static std::shared_ptr<UIFileDownloaderViewController> initWithStyle(UITableViewStyle style);
    static std::shared_ptr<UIFileDownloaderViewController> initWithDownloader(std::shared_ptr<FileDownloader> downloader,
                                                                               UITableViewStyle style = UITableViewStylePlain);
    UIFileDownloaderViewController(std::shared_ptr<FileDownloader> downloader, UITableViewStyle style);
    ~UIFileDownloaderViewController() override;

    const std::shared_ptr<FileDownloader>& downloader() const { return downloader_; }

    // Hooks for subclasses: once for each new cell; the title a file's row shows (the name here).
    virtual void customizeCell(const std::shared_ptr<UIFileDownloadCell>& cell) { (void)cell; }
    virtual std::string cellTitle(const std::string& fileName) const { return fileName; }
    virtual void reloadData();

    // Queued and running files.
    long numberOfDownloads() const;

    void viewDidLoad() override;
    UIInterfaceOrientationMask supportedInterfaceOrientations() const override { return UIInterfaceOrientationMaskPortrait; }
    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;
    CGFloat heightForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView, const NSIndexPath& indexPath) override;

private:
    std::shared_ptr<FileDownloader> downloader_;
};
