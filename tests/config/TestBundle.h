// A throw-away bundle folder for configuration tests: Info.plist, string tables and empty files.
#pragma once

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

class TestBundle {
public:
    // A new, empty folder under the test home, made the main bundle until the object goes.
    TestBundle() : path_(makeFolder()), mainBundle_(path_) {}

    const std::string& path() const { return path_; }

    void write(const std::string& relative, const std::string& contents) const {
        const std::filesystem::path file = std::filesystem::path(path_) / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << contents;
    }

    // An XML Info.plist with the given inner <dict> body.
    void writeInfoPlist(const std::string& dictBody) const {
        write("Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<plist version=\"1.0\"><dict>" + dictBody + "</dict></plist>\n");
    }

    static std::string engineDictionary(const std::string& host, const std::string& folder,
                                        const std::string& extra = "<key>OEArticlesStyle</key><integer>2</integer>") {
        return "<key>OstrelEngine</key><dict>"
               "<key>OEServerHost</key><string>" + host + "</string>"
               "<key>OEServerFolder</key><string>" + folder + "</string>"
               "<key>OEServerLikesIdentifer</key><string>likes_demo</string>"
               "<key>OEServerFamousIdentifer</key><string>famous_demo</string>" + extra + "</dict>";
    }

private:
    static std::string makeFolder() {
        static std::atomic<int> counter{0};
        std::string path = Sandbox::home() + "/bundles/b" + std::to_string(counter++);
        std::filesystem::create_directories(path);
        return path;
    }

    std::string path_;
    ScopedMainBundle mainBundle_;
};
