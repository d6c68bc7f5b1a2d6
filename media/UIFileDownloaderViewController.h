// The list of the download queue: the running files with their progress, then the waiting
// ones, each with a cancel button; one "Empty" row when nothing is to be downloaded.
#pragma once

#include "platform/ui/UITableViewCell.h"
#include "platform/ui/UITableViewController.h"

#include <memory>
#include <string>

class FileDownloader;
class NSNotification;
class UIButton;
class UILabel;
class UIProgressView;

class UIFileDownloadCell : public UITableViewCell {
public:
    static std::shared_ptr<UIFileDownloadCell> initWithDownloader(std::shared_ptr<FileDownloader> downloader);
    explicit UIFileDownloadCell(std::shared_ptr<FileDownloader> downloader);
    ~UIFileDownloadCell() override;

    const std::shared_ptr<UILabel>& fileName() const { return fileName_; }
    const std::shared_ptr<UIProgressView>& progressBar() const { return progressBar_; }
    const std::shared_ptr<UILabel>& progressText() const { return progressText_; }
    const std::shared_ptr<UIButton>& cancelButton() const { return cancelButton_; }
    const std::string& assignedFileName() const { return assignedFileName_; }
    void setAssignedFileName(std::string name) { assignedFileName_ = std::move(name); }
    // The outlets shown (a file's row) or hidden (the "Empty" row).
    void setOutletsHidden(bool hidden);
    // The bar and "done mb from size mb" of a running file, "Queued" otherwise.
    void updateProgress(const std::string& name);
    void cancelClick();

private:
    void setup();
    void progressChanged(const NSNotification& notification);

    std::shared_ptr<FileDownloader> downloader_;
    std::shared_ptr<UILabel> fileName_;
    std::shared_ptr<UIProgressView> progressBar_;
    std::shared_ptr<UILabel> progressText_;
    std::shared_ptr<UIButton> cancelButton_;
    std::string assignedFileName_;
};

class UIFileDownloaderViewController : public UITableViewController {
public:
    UIFileDownloaderViewController(UITableViewStyle style, std::shared_ptr<FileDownloader> downloader);
    ~UIFileDownloaderViewController() override;

    const std::shared_ptr<FileDownloader>& downloader() const { return downloader_; }
    // Downloading plus queued.
    long numberOfDownloads() const;

    void viewDidLoad() override;
    // Called once for each new cell.
    virtual void customizeCell(const std::shared_ptr<UIFileDownloadCell>&) {}
    // What a file's row is titled: the file name itself here.
    virtual std::string cellTitle(const std::string& fileName) { return fileName; }
    virtual void reloadData();

    long numberOfRowsInSection(const std::shared_ptr<UITableView>& tableView, long section) override;
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const std::shared_ptr<UITableView>& tableView,
                                                           const NSIndexPath& indexPath) override;

private:
    void fileDownloaded(const NSNotification& notification);

    std::shared_ptr<FileDownloader> downloader_;
};
