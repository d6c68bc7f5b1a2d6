// The music fixture with a key window, a player controller over the catalogue and a download
// queue that starts nothing: what it is given stays queued until cancelled.
#pragma once

#include "media/MusicContext.h"
#include "tests/media/MediaFixture.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class DB_CompositionsSource;
class FileDownloader;
class UINavigationController;
class UIViewController;
class UIWindow;

class MusicScreenFixture : public MediaFixture {
protected:
    void SetUp() override;
    void TearDown() override;
    // `screen` as the root of a navigation controller in the key window, appeared.
    std::shared_ptr<UINavigationController> show(const std::shared_ptr<UIViewController>& screen);
    // Puts the named images ("<name>.png") in the bundle.
    void writeIcons(std::initializer_list<const char*> names);

    std::shared_ptr<DB_CompositionsSource> source_;
    // The queue's waiting files, in order.
    std::vector<std::string> queued() const;

    std::shared_ptr<FileDownloader> queue_;
    MusicContext music_;
    std::shared_ptr<UIWindow> window_;
};
