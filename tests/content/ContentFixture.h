// The sandbox of the content tests: a fresh Documents, a bundle folder of the test's own, the
// configuration rebuilt from that bundle, and small hand-made catalogue databases.
#pragma once

#include "content/Loader.h"
#include "tests/fixtures/ScopedMainBundle.h"
#include "config/OEContext.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

class ContentFixture : public testing::Test {
public:
    // The bundle folder of this test (empty at first), made the main bundle.
    const std::string& bundle() const { return bundle_; }
    std::string documents() const;
    std::string caches() const;
    // The configuration, localisations and file locations built from the bundle.
    const OEContext& context() const { return context_; }
    const OELocalizations& locale() const { return *context_.localizations; }
    const FileSystem& files() const { return *context_.fileSystem; }

protected:
    void SetUp() override;
    void TearDown() override;
    // Rebuilds the configuration and localisations from the bundle's current files.
    void reloadConfiguration();
    void setLanguage(const std::string& language);

    // A database built from statements at `path`.
    static void makeDatabase(const std::string& path, const std::vector<std::string>& statements);
    // The small catalogue below, into the bundle as "images.sqlite" (without "favorites").
    void writeMiniCatalogue(const std::string& name = "images.sqlite");
    // The demo catalogue into the bundle as "images.sqlite".
    void writeDemoCatalogue(bool favoritesTable = false, const std::vector<int>& favorites = {});
    std::shared_ptr<Loader> imagesLoader();

    static void writeFile(const std::string& path, const std::string& bytes);
    static bool exists(const std::string& path);

private:
    std::string bundle_;
    std::optional<ScopedMainBundle> mainBundle_;
    OEContext context_;
};

// The hand-made catalogue (every count in the tests is read off these rows):
//  bigCat 1 "Old", 2 "New", 3 "Empty".
//  subCat 1 Portraits (bigCat 1, date 1900, pictures 1, 2, 6), 2 Landscapes (bigCat 1, date 1800,
//  pictures 3, 4, NULL description), 3 Nothing (bigCat 1, no picture), 4 Sea (bigCat 2, picture 5).
//  subCat2 1 (pictures 1, 2, 6), 2 (pictures 3, 4, 5).
//  author 1 Rembrandt (pictures 1, 4), 2 Monet (2, 3; empty French name), 3 Nobody (none),
//  4 Turner (5, 6; bigCat 2). No "name_zh" column.
//  picture 2's English name holds a quote, a percent sign and a semicolon; picture 4's an underscore.
extern const std::vector<std::string> kMiniCatalogue;
