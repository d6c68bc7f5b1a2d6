// A fresh launch environment for engine and application tests: a demo bundle in the test home
// with all, some or none of its databases, a phone profile, and the process-wide state of the
// engine, reminders, appearance and application forgotten as a new process would start.
#pragma once

#include "demo/generator/DemoGenerator.h"
#include "engine/OECore.h"
#include "engine/ViewControllersConstructor.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/DemoBundle.h"
#include "tests/fixtures/DemoLaunch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

enum class DemoDatabases { All, ImagesOnly, None };

class DemoLaunchFixture : public ::testing::Test {
protected:
    // A copy of the demo bundle (without pictures unless asked for: the launch only reads
    // databases) made the main bundle; the defaults of the bundle's domain start empty. The images
    // database holds these favourites.
    void makeBundle(DemoDatabases databases, const std::vector<int>& favorites = {}, bool withPictures = false) {
        static std::atomic<int> counter{0};
        if (previousBundle.empty()) previousBundle = NSBundle::mainBundle()->bundlePath();
        bundle = Sandbox::home() + "/demo-bundles/b" + std::to_string(counter++);
        std::string error;
        ASSERT_TRUE(DemoBundle::copyTo(bundle, withPictures, &error)) << error;
        if (!favorites.empty()) {
            DemoGenerator::Options options;
            options.writePictures = false;
            options.favoritesTable = true;
            options.favorites = favorites;
            ASSERT_TRUE(DemoGenerator::writeImagesDatabase(bundle + "/" + DemoGenerator::kImagesDatabase, options,
                                                           &error))
                << error;
        }
        std::vector<std::string> drop;
        if (databases != DemoDatabases::All)
            drop = {DemoGenerator::kMediaDatabase, DemoGenerator::kTextsDatabase, DemoGenerator::kArticlesDatabase};
        if (databases == DemoDatabases::None) drop.push_back(DemoGenerator::kImagesDatabase);
        for (const auto& name : drop) std::filesystem::remove(bundle + "/" + name);
        // Copies in Documents come from earlier bundles of this process.
        std::filesystem::remove_all(Sandbox::documents());
        std::filesystem::create_directories(Sandbox::documents());
        DemoLaunch::useBundle(bundle);
        DemoLaunch::forgetProcess();
        auto defaults = NSUserDefaults::standardUserDefaults();
        defaults->removePersistentDomainForName(defaults->domainName());
    }

    // The main bundle goes back to what it was, for the tests that follow in this process.
    void TearDown() override {
        DemoLaunch::forgetProcess();
        if (!previousBundle.empty()) DemoLaunch::useBundle(previousBundle);
    }

    std::string bundle;
    std::string previousBundle;
};
