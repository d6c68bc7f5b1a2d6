// The sandbox of the gallery tests: the demo bundle of the test run (databases and pictures) as
// the main bundle, fresh Documents and Caches for every test, English, and the product's two
// groupings in the configuration.
#pragma once

#include "content/List_DataSource.h"
#include "demo/server/ContentServer.h"
#include "content/Loader.h"
#include "demo/generator/DemoCatalogue.h"
#include "tests/fixtures/ScopedMainBundle.h"
#include "gallery/GalleryContext.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class GalleryFixture : public testing::Test {
public:
    // The real time a test waits at most for the content server's answer.
    static constexpr double kNetworkWait = 20.0;
    // The demo bundle and the content server's folder (tests/fixtures/DemoBundle.h): only read.
    static const std::string& bundle();
    static const std::string& serverFolder();

protected:
    void SetUp() override;
    void TearDown() override;

    // A copy of the bundle in the test's home made the main bundle, for a test that changes it;
    // its files are links to the bundle's, so a file is replaced (removed first), never written.
    std::string useBundleCopy();
    // The configuration with these groupings (identifier, title key of "Core"), in a new context.
    void configureGroupings(const std::vector<std::pair<std::string, std::string>>& groupings);
    // The configuration, localisations, file locations and a picture service of the test's own.
    const GalleryContext& galleryContext() const { return context_; }
    // Screens made from now on tell this count of every picture they fetch.
    void countDownloadsWith(std::shared_ptr<DownloadsCounter> counter) { context_.downloads = std::move(counter); }
    const OELocalizations& locale() const { return context_.localizations(); }
    std::shared_ptr<Loader> imagesLoader();
    std::shared_ptr<List_DataSource> catalogue();
    // The demo's content server on a free loopback port, the configuration's picture address
    // pointing at it; empty (with a failure) when it does not start.
    std::unique_ptr<ContentServer> startContentServer();

    // A small PNG written at `path` (folders made).
    static void writePNG(const std::string& path, int width = 4, int height = 3);
    static void writeText(const std::string& path, const std::string& text);
    static bool exists(const std::string& path);
    // The file's bytes; empty when it cannot be read.
    static std::string bytesOf(const std::string& path);
    // The demo painting with the given picture file extension (".jpg", ".JPG", ".png").
    static const DemoPainting& paintingWithExtension(const std::string& extension);
    static std::vector<std::string> distinctPicturePaths();
    // The "index" of the demo painting with this English title.
    static int demoPaintingTitled(const char* english);
    // Runs what is due, including work the main queue gets from background queues.
    static void settle();
    // Moves the manual clock on by `seconds`, then settles.
    static void pass(double seconds);

private:
    std::optional<ScopedMainBundle> mainBundle_;
    GalleryContext context_;
};
