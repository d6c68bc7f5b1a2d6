// The sandbox of the music tests: a bundle of the test's own with a small media database and a
// few real compositions (one shipped, one downloaded, the rest only on a content server run in
// the process), the configuration built from it, and the music context over it.
#pragma once

#include "demo/server/ContentServer.h"
#include "media/MediaContext.h"
#include "tests/fixtures/ScopedMainBundle.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

class SQLiteEngine;

class MediaFixture : public testing::Test {
public:
    const std::string& bundle() const { return bundle_; }
    static std::string documents();
    const std::shared_ptr<const MediaContext>& context() const { return context_; }
    ContentServer& server() { return *server_; }
    // The folder the content server serves, shared by the test run.
    static const std::string& serverFolder();
    std::shared_ptr<SQLiteEngine> openMedia();

    // The media database (its rows are read off in the tests):
    //  author 1 Бах / Bach (picture "Data/bach.jpg", 2 paintings), 2 Моцарт / Mozart (1 painting),
    //  3 Никто / Nobody (no track); genres 1 Baroque, 2 Classical; countries 1 Germany.
    //  compositions (index, English name, author, genre, file, time):
    //   1 Air, 1, 1, "bach/air.m4a" (shipped in the bundle), "0:03"
    //   2 Toccata, 1, 1, "bach/toccata.m4a" (downloaded into Documents), "0:03"
    //   3 Minuet, 1, 1, "bach/minuet.m4a", ""         (time empty)
    //   4 Minuet, 2, 2, "mozart/minuet.m4a", "0:03"  (the same name as 3)
    //   5 Rondo, 2, 2, "mozart/rondo alla turca.m4a", "0:03" (a space in the path)
    //   6 Requiem, 2, NULL genre, "mozart/requiem.m4a", "0:03"
    //   7 Serenade, 2, 2, "mozart/serenade.m4a", "0:03"
    //   8 Sarabande, 1, 1, "bach/sarabande.m4a", "0:03"
    // Every file is on the content server (3 s compositions), none of them the shipped one's.
    static const std::vector<std::string> kMediaCatalogue;

protected:
    void SetUp() override;
    void TearDown() override;
    void setLanguage(const std::string& language);
    // Rebuilds the configuration (and the context) from the bundle's files.
    void reloadConfiguration();
    void setReachable(bool reachable) { *reachable_ = reachable; }
    // Runs the main run loop until `until` holds (real time at most `seconds`).
    static bool pump(const std::function<bool()>& until, double seconds = 20);
    // The manual clock forward, then what it handed on to the main queue.
    static void advance(double seconds);

private:
    std::string bundle_;
    std::optional<ScopedMainBundle> mainBundle_;
    std::shared_ptr<const MediaContext> context_;
    std::unique_ptr<ContentServer> server_;
    std::shared_ptr<bool> reachable_ = std::make_shared<bool>(true);
};
