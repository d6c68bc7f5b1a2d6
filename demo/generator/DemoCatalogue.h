// The demo content: painters, paintings, groupings, composers, compositions, texts and
// articles, with the counts the tests rely on.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// One text in the content languages; an empty entry is a missing translation (the reader
// then falls back to English). "ru" is the base column, as in every content database.
struct DemoText {
    const char* ru = nullptr;
    const char* en = nullptr;
    const char* fr = nullptr;
    const char* de = nullptr;
    const char* it = nullptr;
    const char* es = nullptr;
    const char* ja = nullptr;
    const char* zh = nullptr;

    // The text of a language code ("ru", "en", "fr", ...); "" when missing.
    std::string in(const std::string& language) const;
};

enum class DemoGenre { Portrait, Landscape, Religious, Mythology, StillLife, Everyday, History, Marine };

struct DemoPainter {
    int index;
    DemoText name;
    int born;
    int died;
    const char* bioEn;
    const char* bioRu;  // nullptr for most painters; one painter has only this one
};

struct DemoPainting {
    int index;
    DemoText title;
    int painter;
    int year;
    DemoGenre genre;
    const char* aboutEn;
};

// A row of "subCat" or "subCat2".
struct DemoGroup {
    int index;
    int bigCat;
    DemoText name;
    const char* descriptionEn;  // nullptr: the row's description columns are NULL
    const char* filePath;       // its picture in "Data/cats", without the ".jpg"
};

struct DemoComposer {
    int index;
    DemoText name;
    const char* bioEn;
    int pictures;  // pictures of the composer in the media database's "images"
};

struct DemoComposition {
    int index;
    DemoText name;
    int composer;
    int genre;
    int country;
    const char* filepath;
};

struct DemoTextEntry {
    int index;
    int subCat;
    const char* title;
    // A link "imageLink_{<English title>}" is written as the link to that painting's index.
    const char* html;
    const char* date;
};

struct DemoArticle {
    const char* id;
    int imageId;
    const char* language;
    // The document's heading and its paragraphs, in the article's language.
    const char* heading;
    std::vector<const char*> paragraphs;
};

class DemoCatalogue {
public:
    // Content languages besides the base column, in column order.
    static const std::vector<std::string>& languages();

    static const std::vector<DemoPainter>& painters();
    static const std::vector<DemoPainting>& paintings();
    // The one "bigCat" row (English name in "name"): every grouping lists all its rows under it.
    static const std::vector<DemoText>& bigCats();
    // "subCat": one row per genre, each name once, and an empty row that is never listed.
    static const std::vector<DemoGroup>& genreGroups();
    // "subCat2": one row per painter who has paintings, the earliest born first.
    static const std::vector<DemoGroup>& painterGroups();
    // The "subCat" and "subCat2" row of a painting.
    static int genreGroupOf(const DemoPainting& painting);
    static int painterGroupOf(const DemoPainting& painting);
    // The picture of a painter's rows in "Data/cats", without extension: "author_NN".
    static std::string painterPictureOf(const DemoPainter& painter);

    static const std::vector<DemoComposer>& composers();
    static const std::vector<DemoText>& musicGenres();
    static const std::vector<DemoText>& countries();
    static const std::vector<DemoComposition>& compositions();

    static const std::vector<DemoText>& textCategories();
    // "subCat" rows of the texts database: name, category, sort mode, description.
    struct TextGroup {
        int index;
        const char* name;
        int bigCat;
        int sort;
        const char* description;
    };
    static const std::vector<TextGroup>& textGroups();
    static const std::vector<DemoTextEntry>& texts();

    static const std::vector<DemoArticle>& articles();

    // The file name of a painting's picture in "Data": "pNNNN.jpg", one ".JPG", one ".png".
    static std::string imagePathOf(const DemoPainting& painting);
    // "pNNNN_thumb.jpg" for a JPEG picture; "" for the PNG one (the thumbnail is the picture).
    static std::string thumbnailPathOf(const DemoPainting& painting);
    // The length of a composition's generated audio in seconds (three to six), and whether its
    // file ships in the bundle (one in four) or is only on the content server.
    static double compositionSeconds(const DemoComposition& composition);
    static bool isCompositionInBundle(const DemoComposition& composition);
    // Media pictures of a composer, "composers/cNN_K.jpg".
    static std::vector<std::string> composerPicturesOf(const DemoComposer& composer);

    // Paintings whose picture and thumbnail are on the content server only, so the application
    // downloads them: one in five, none of them the upper-case or the PNG one.
    static bool isOnServerOnly(const DemoPainting& painting);
    // The server's name of a picture's thumbnail, as clients ask for it: ".jpg" in any case
    // becomes "_thumb.jpg"; other pictures keep their name.
    static std::string serverThumbnailPathOf(const std::string& imagePath);
};

// Counts of the demo content.
inline constexpr std::size_t kDemoPaintingCount = 120;
inline constexpr std::size_t kDemoPainterCount = 50;
// Painters listed without any painting (they fold into the count-0 row of the author grouping).
inline constexpr std::size_t kDemoPaintersWithoutPaintings = 1;
inline constexpr std::size_t kDemoBigCatCount = 1;
// "subCat" rows, and those that have pictures (one genre group is empty).
inline constexpr std::size_t kDemoGenreGroupCount = 9;
inline constexpr std::size_t kDemoGenreGroupsWithPaintings = 8;
// "subCat2" rows: the painters who have paintings.
inline constexpr std::size_t kDemoPainterGroupCount = kDemoPainterCount - kDemoPaintersWithoutPaintings;
inline constexpr std::size_t kDemoComposerCount = 10;
inline constexpr std::size_t kDemoComposersWithPictures = 9;
inline constexpr std::size_t kDemoCompositionCount = 28;
inline constexpr std::size_t kDemoMusicGenreCount = 5;
inline constexpr std::size_t kDemoCountryCount = 7;
inline constexpr std::size_t kDemoTextCategoryCount = 2;
inline constexpr std::size_t kDemoTextGroupCount = 4;
inline constexpr std::size_t kDemoTextCount = 12;
inline constexpr std::size_t kDemoArticleCount = 12;

// Picture sizes: the picture, its thumbnail, and the group pictures in "Data/cats".
inline constexpr int kDemoPictureWidth = 640;
inline constexpr int kDemoPictureHeight = 480;
inline constexpr int kDemoThumbnailWidth = 80;
inline constexpr int kDemoThumbnailHeight = 60;
inline constexpr int kDemoGroupPictureWidth = 120;
inline constexpr int kDemoGroupPictureHeight = 90;
// High-resolution files on the content server: the pictures drawn larger, in their shape.
inline constexpr int kDemoHDPictureWidth = 960;
inline constexpr int kDemoHDPictureHeight = 720;
static_assert(kDemoHDPictureWidth * kDemoPictureHeight == kDemoHDPictureHeight * kDemoPictureWidth);
