// The music fixture with a key window, a player controller over the catalogue and a download
// queue that keeps what it is asked in memory and announces as the application's does.
#pragma once

#include "media/MediaDownloadQueue.h"
#include "media/MusicContext.h"
#include "tests/media/MediaFixture.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

class DB_CompositionsSource;
class UINavigationController;
class UIViewController;
class UIWindow;

// A queue that downloads nothing: files stay queued until finish() or cancel.
class RecordingDownloadQueue : public MediaDownloadQueue {
public:
    void addFile(const std::string& name) override;
    void cancelFile(const std::string& name) override;
    void cancelAll() override;
    bool isFileDownloading(const std::string& name) const override { return queued_.count(name) != 0; }
    long downloadingFiles() const override { return 0; }
    long queuedFiles() const override { return static_cast<long>(queued_.size()); }
    std::optional<std::string> fileOfNotification(const NSNotification& notification) const override;
    // The file ends (arrived or failed) and is announced.
    void finish(const std::string& name);
    std::vector<std::string> added;
    int cancelAllCalls = 0;

private:
    std::set<std::string> queued_;
};

class MusicScreenFixture : public MediaFixture {
protected:
    void SetUp() override;
    void TearDown() override;
    // `screen` as the root of a navigation controller in the key window, appeared.
    std::shared_ptr<UINavigationController> show(const std::shared_ptr<UIViewController>& screen);

    std::shared_ptr<DB_CompositionsSource> source_;
    std::shared_ptr<RecordingDownloadQueue> queue_ = std::make_shared<RecordingDownloadQueue>();
    MusicContext music_;
    std::shared_ptr<UIWindow> window_;
};
