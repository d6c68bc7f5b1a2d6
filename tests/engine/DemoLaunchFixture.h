// A fresh launch environment for engine and application tests: a demo bundle in the test home
// with all, some or none of its databases, a phone profile, and the process-wide state of the
// engine, reminders, appearance and application forgotten as a new process would start.
#pragma once

#include "demo/generator/DemoGenerator.h"
#include "engine/OECore.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/services/RURAdi.h"
#include "platform/ui/UIAppearance.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIDevice.h"
#include "tests/fixtures/DemoBundle.h"
#include "uikit/LaunchReminderManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

enum class DemoDatabases { All, ImagesOnly, None };

class DemoLaunchFixture : public ::testing::Test {
protected:
    // A copy of the demo bundle (without pictures: the launch only reads databases) made the
    // main bundle; the defaults of the bundle's domain start empty. The images database holds
    // these favourites.
    void makeBundle(DemoDatabases databases, const std::vector<int>& favorites = {}) {
        static std::atomic<int> counter{0};
        if (previousBundle.empty()) previousBundle = NSBundle::mainBundle()->bundlePath();
        bundle = Sandbox::home() + "/demo-bundles/b" + std::to_string(counter++);
        std::string error;
        ASSERT_TRUE(DemoBundle::copyTo(bundle, false, &error)) << error;
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
        NSBundle::setMainBundlePath(bundle);
        NSBundle::resetCaches();
        freshProcess();
        auto defaults = NSUserDefaults::standardUserDefaults();
        defaults->removePersistentDomainForName(defaults->domainName());
    }

    // What a new process would not remember; the files (defaults, Documents) stay.
    static void freshProcess() {
        NSUserDefaults::resetStandardUserDefaults();
        OECore::resetInstance();
        LaunchReminderManager::resetInstance();
        RURAdi::reset();
        UIAppearance::reset();
        UIApplication::sharedApplication()->reset();
        UIDevice::applyProfile(UIUserInterfaceIdiom::Phone);
    }

    // The main bundle goes back to what it was, for the tests that follow in this process.
    void TearDown() override {
        freshProcess();
        if (!previousBundle.empty()) {
            NSBundle::setMainBundlePath(previousBundle);
            NSBundle::resetCaches();
        }
    }

    std::string bundle;
    std::string previousBundle;
};
