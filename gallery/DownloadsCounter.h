// What the engine, the menu and the download of all pictures need of the count of present
// pictures: the download offer and the menu row hang on it, and a finished download recounts it.
#pragma once

#include <memory>

class DataSource;
class UIViewController;

class DownloadsCounter {
public:
    virtual ~DownloadsCounter() = default;
    // Takes the source whose pictures are counted and counts them.
    virtual void setup(const std::shared_ptr<DataSource>& source) = 0;
    virtual bool allFilesDownloaded() const = 0;
    // Whether a download of the missing pictures is to be offered: some are missing, and the list
    // they were counted from was read whole (a list a damaged database cut short is not offered).
    virtual bool canDownloadMissing() const { return !allFilesDownloaded(); }
    // Counts again from the files on the device.
    virtual void checkDownloadedFiles() = 0;
    // One more picture arrived.
    virtual void fileDownloaded() = 0;
    // Downloads every missing picture of the counted source: the row that offers it and the
    // question both fetch what the count is about, never another list.
    virtual void downloadAllImages() = 0;
    // Asks whether to download the missing pictures, over `controller`.
    virtual void showDownloadAlertFromController(const std::shared_ptr<UIViewController>& controller) = 0;
};
