// The sandbox of the texts, articles and famous-post tests: the gallery tests' demo bundle as the
// main bundle, fresh Documents, English, the manual clock, a key window to show screens in, and
// a texts model over the bundle's texts database (or over one a test writes into Documents).
#pragma once

#include "platform/ui/UIWindow.h"
#include "tests/gallery/GalleryFixture.h"
#include "texts/TextsContext.h"

#include <memory>
#include <string>
#include <vector>

class UIViewController;

class TextsFixture : public GalleryFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // The model, made on first use (after a test may have written its database).
    std::shared_ptr<TextServer> server();
    // A model as a new start of the application makes it (the defaults read again from disk).
    std::shared_ptr<TextServer> restartServer();
    // With the model and a recorder of the screens shown modally.
    TextsContext textsContext();
    // What textsContext()'s showController was asked, in order, and whether full-screen.
    std::vector<std::pair<std::shared_ptr<UIViewController>, bool>> shown;

    // The root screen of the key window (of `size` points), the run loop settled.
    void show(const std::shared_ptr<UIViewController>& root, CGSize size = {375, 667});

    // Writes Documents/texts.sqlite (the texts database the model opens before the bundle's):
    // categories (index, name), subcategories (index, name, category, sort) and texts
    // (index, subcategory, title, date).
    struct SubCat {
        int index;
        std::string name;
        int category;
        int sort;
    };
    struct Text {
        int index;
        int subCat;
        std::string title;
        std::string date;
        std::string html = "<p>Body</p>";
    };
    static void writeTextsDatabase(const std::string& path, const std::vector<std::pair<int, std::string>>& categories,
                                   const std::vector<SubCat>& subCats, const std::vector<Text>& texts,
                                   const std::vector<int>& favorites = {}, bool favoritesTable = false);
    static std::string documentsPath(const std::string& file);
    // The indexes in the favourites table of a database file.
    static std::vector<int> favoritesIn(const std::string& path);

    std::shared_ptr<UIWindow> window;

private:
    std::shared_ptr<TextServer> server_;
};
