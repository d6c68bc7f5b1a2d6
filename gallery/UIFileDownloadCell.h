// A row of the download queue's screen: the file's title, its progress bar and text, and a
// button that cancels it. It follows the downloader's progress while it lives.
#pragma once

#include "platform/ui/UITableViewCell.h"

#include <memory>
#include <string>

class FileDownloader;
class UIButton;
class UILabel;
class UIProgressView;

class UIFileDownloadCell : public UITableViewCell {
public:
    static constexpr const char* kReuseIdentifier = "FileDownloadCell";
    static constexpr double kRowHeight = 60;

    // The cell over `downloader` (its progress messages, its cancel).
    static std::shared_ptr<UIFileDownloadCell> make(std::shared_ptr<FileDownloader> downloader);
    UIFileDownloadCell();
    ~UIFileDownloadCell() override;

    const std::shared_ptr<UILabel>& fileName() const { return fileName_; }
    const std::shared_ptr<UIProgressView>& progressBar() const { return progressBar_; }
    const std::shared_ptr<UILabel>& progressText() const { return progressText_; }
    const std::shared_ptr<UIButton>& cancelButton() const { return cancelButton_; }
    const std::string& assignedFileName() const { return assignedFileName_; }
    void setAssignedFileName(std::string name) { assignedFileName_ = std::move(name); }

    // Running: the bar and "%.02f mb from %.02f mb" (empty without a known size). Otherwise "Queued".
    void updateProgress(const std::string& fileName);
    void progressChanged();
    void cancelClick();

    // A text of the "FileDownloader" table.
    static std::string localized(const std::string& key);

private:
    void setup();

    std::weak_ptr<FileDownloader> downloader_;
    std::shared_ptr<UILabel> fileName_;
    std::shared_ptr<UIProgressView> progressBar_;
    std::shared_ptr<UILabel> progressText_;
    std::shared_ptr<UIButton> cancelButton_;
    std::string assignedFileName_;
};
