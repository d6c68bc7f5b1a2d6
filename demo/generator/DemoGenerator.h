// Writes a complete demo bundle folder: the property lists (Info.plist, the analytics service's)
// and string tables copied from the source bundle, the four content databases, the interface
// icons, the generated pictures and the compositions shipped with the application; and the
// folder the demo content server serves, every composition among its files.
// Deterministic: two runs write the same bytes.
#pragma once

#include <string>
#include <vector>

class DemoGenerator {
public:
    struct Options {
        // The folder holding the property lists and the .lproj folders; the source tree's
        // demo/bundle when empty.
        std::string sourceBundle;
        // Pictures are written unless turned off (database-only sandboxes of tests); the
        // interface icons always are.
        bool writePictures = true;
        // The images database has no "favorites" table unless asked (it is created on the first
        // favourite); with one, it holds these picture indexes.
        bool favoritesTable = false;
        std::vector<int> favorites;
        // Extra picture rows without files, spread over the groups and painters (benchmarks).
        int syntheticPictures = 0;
    };

    // The whole bundle into `folder` (created when missing; files of earlier runs replaced).
    // False with a sentence in `error` when a file could not be written.
    static bool writeBundle(const std::string& folder, const Options& options, std::string* error = nullptr);

    // The single databases, at the given paths (an existing file there is replaced).
    static bool writeImagesDatabase(const std::string& path, const Options& options, std::string* error = nullptr);
    static bool writeMediaDatabase(const std::string& path, std::string* error = nullptr);
    static bool writeTextsDatabase(const std::string& path, std::string* error = nullptr);
    static bool writeArticlesDatabase(const std::string& path, std::string* error = nullptr);
    // "Data/..." pictures of the paintings, groups, painters and composers under `folder`; the
    // paintings on the server only are left out.
    static bool writePictures(const std::string& folder, std::string* error = nullptr);

    // The compositions' audio under `folder` at their file paths: those shipped in the bundle
    // (`bundleOnly`), or every one (the server's "data/ostrelmedia/m4a").
    static bool writeCompositions(const std::string& folder, bool bundleOnly, std::string* error = nullptr);

    // The content server's folder, laid out as its URLs: every painting and composer picture
    // under "pic/<F>/", their thumbnails under "data/<F>/thumbs/", the high-resolution files of
    // the paintings with an HD flag under "data/<F>/", the pages the fixtures link to under
    // "pages/", and the server's fixtures (likes, popular list, famous posts, remote messages,
    // applications count) in "fixtures.json". F and the identifiers come from the source
    // bundle's Info.plist.
    static bool writeServerFolder(const std::string& folder, const Options& options, std::string* error = nullptr);
    // Sets "OstrelEngine" -> "OEServerHost" in a bundle's Info.plist. The file is replaced, never
    // written in place, so a hard-linked copy of a bundle leaves the original as it was.
    static bool setServerHost(const std::string& bundleFolder, const std::string& host, std::string* error = nullptr);
    // Sets "OstrelEngine" -> "OEArticlesStyle" (1 articles, 2 famous paintings) the same way.
    static bool setArticlesStyle(const std::string& bundleFolder, int style, std::string* error = nullptr);

    // The source tree's demo/bundle folder (compiled in).
    static std::string defaultSourceBundle();
    // The database file names inside the bundle.
    static constexpr const char* kImagesDatabase = "images.sqlite";
    static constexpr const char* kMediaDatabase = "media.sqlite";
    static constexpr const char* kTextsDatabase = "texts.sqlite";
    static constexpr const char* kArticlesDatabase = "articles.sqlite";
    // The media format the configuration names (type 0), the server's folder of compositions.
    static constexpr const char* kCompositionsFormat = "m4a";
    // The fixtures file inside the server's folder.
    static constexpr const char* kServerFixtures = "fixtures.json";
};
