// The application end to end with its measurement engine: started on the demo bundle in the
// simulator, pointed at the measurement service on 127.0.0.1, it uploads its first open once it
// goes to the background, and a later launch on the same home is the same device to the service.
// The screens a person moves between arrive as screen views, with the session and the time spent
// on each screen. A database it cannot open leaves it running with measurement off; a folder in
// the database's place is moved aside.
#include "demo/generator/DemoCatalogue.h"
#include "demo/measurement/MeasurementService.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/DemoBundle.h"
#include "tests/fixtures/SqliteLockHolder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string contents(const std::string& path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::int64_t intParameter(const MeasurementService::Event& event, const std::string& name) {
    const Value& value = event.parameters.get(name);
    return value.isNumber() ? value.longLongValue() : -1;
}

// Real seconds a launch waits for its upload, or for the application to have handled the answer:
// only a safety net, generous enough for eight copies of the suite sharing two cores.
constexpr int kLaunchStepBound = 120;

std::string textParameter(const MeasurementService::Event& event, const std::string& name) {
    const Value& value = event.parameters.get(name);
    return value.isString() ? value.stringValue() : std::string();
}

// The demo bundle and a home, and the simulator launched on them as a person would, pointed at
// the measurement service on 127.0.0.1.
class ApplicationMeasurement : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(DemoBundle::copyTo(bundle, false, &error)) << error;
        const Value service = NSPropertyListSerialization::propertyListWithContentsOfFile(bundle + "/VizudiService-Info.plist");
        appID = service.isDictionary() ? service.dictionary().get("VIZUDI_APP_ID").stringValue() : "";
        ASSERT_FALSE(appID.empty());
        std::ofstream(certificate) << MeasurementService::certificatePEM();
        std::filesystem::create_directories(home);
    }

    // One launch (with the simulator's further `options`) that goes to the background and waits
    // until the service has `uploads` uploads; quits and returns what it printed.
    std::string launchUntilUploads(std::size_t uploads, const std::string& before = "", const std::string& options = "") {
        // Commands come in as a person types them, so the application stays up while its upload
        // is on the way.
        const std::string command = std::string(OSTREL_SIM) + " --bundle " + bundle + " --home " + home +
                                    " --default APMMeasurementEndpointHost=" + measurement.host() +
                                    " --trust-anchor 127.0.0.1=" + certificate + options + " >" + output + " 2>&1";
        FILE* input = popen(command.c_str(), "w");
        EXPECT_NE(input, nullptr);
        if (!input) return "";
        std::fputs(before.c_str(), input);
        std::fputs("background\n", input);
        std::fflush(input);
        const bool uploaded = measurement.waitForUploads(uploads, kLaunchStepBound);
        // The upload has reached the service; quitting before the application has its answer
        // would leave the bundle for the next launch to send again. The application says when
        // no transfer is in flight and nothing is queued (failing with "!" after the bound).
        if (uploaded) std::fputs(("idle " + std::to_string(kLaunchStepBound) + "\n").c_str(), input);
        std::fputs("quit\n", input);
        const int status = pclose(input);
        const std::string said = contents(output);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
        EXPECT_TRUE(uploaded) << said;
        if (uploaded) {
            EXPECT_EQ(said.find("! the application was still busy"), std::string::npos) << said;
            EXPECT_EQ(queuedCount(), 0) << "the answer was not handled before the application ended\n" << said;
        }
        return said;
    }

    // One launch that runs `commands` and quits, without waiting for an upload; what it printed
    // and the exit status.
    std::pair<std::string, int> launchAndQuit(const std::string& commands) {
        const std::string command = std::string(OSTREL_SIM) + " --bundle " + bundle + " --home " + home +
                                    " --default APMMeasurementEndpointHost=" + measurement.host() +
                                    " --trust-anchor 127.0.0.1=" + certificate + " >" + output + " 2>&1";
        FILE* input = popen(command.c_str(), "w");
        EXPECT_NE(input, nullptr);
        if (!input) return {"", -1};
        std::fputs((commands + "quit\n").c_str(), input);
        const int status = pclose(input);
        return {contents(output), status};
    }
    std::string databasePath() const {
        return home + "/Library/Application Support/Vizudi/Measurement/vizudi-app-measurement.sql";
    }
    static std::size_t occurrences(const std::string& text, const std::string& part) {
        std::size_t count = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
        return count;
    }

    // Bundles and events the application still holds for upload, read once it has ended; -1
    // when its database cannot be read.
    long long queuedCount() const {
        const std::string path = databasePath();
        long long queued = -1;
        sqlite3* handle = nullptr;
        if (sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_exec(
                handle, "SELECT (SELECT count(*) FROM queue) + (SELECT count(*) FROM raw_events)",
                [](void* out, int, char** values, char**) {
                    *static_cast<long long*>(out) = values[0] ? std::atoll(values[0]) : -1;
                    return 0;
                },
                &queued, nullptr);
        }
        sqlite3_close(handle);
        return queued;
    }

    const std::string bundle = Sandbox::tmp() + "/demo-bundle";
    const std::string certificate = Sandbox::tmp() + "/measurement.pem";
    const std::string home = Sandbox::tmp() + "/app-home";
    const std::string output = Sandbox::tmp() + "/app-output.txt";
    std::string appID;
    MeasurementService measurement;
};

}  // namespace

TEST_F(ApplicationMeasurement, TheFirstOpenReachesTheMeasurementServiceWhenTheApplicationGoesToTheBackground) {
    const std::string shown = launchUntilUploads(1);
    ASSERT_FALSE(HasFailure());

    const auto uploads = measurement.uploads();
    ASSERT_FALSE(uploads.empty());
    EXPECT_TRUE(uploads.front().accepted) << MeasurementService::summaryLine(1, uploads.front());
    EXPECT_EQ(uploads.front().batch.appID, appID);
    const auto events = measurement.events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_f"; }), 1)
        << MeasurementService::summaryLine(1, uploads.front());
    // The first open counts one millisecond of engagement.
    const auto engagement = std::find_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_e"; });
    ASSERT_NE(engagement, events.end()) << MeasurementService::summaryLine(1, uploads.front());
    EXPECT_EQ(intParameter(*engagement, "_et"), 1);
    // The engine said it started, under the platform core's tag, in the log in the home, not on
    // the terminal; and bundling the one event left nothing that looked like a failed write.
    const std::string said = contents(home + "/diagnostics.log");
    EXPECT_NE(said.find("[Rezavivi/Analytics]"), std::string::npos) << said;
    EXPECT_EQ(said.find("Transaction failed"), std::string::npos) << said;
    EXPECT_EQ(shown.find("[Rezavivi/Analytics]"), std::string::npos) << shown;
    EXPECT_NE(shown.find("diagnostics are written to " + home + "/diagnostics.log"), std::string::npos) << shown;
}

TEST_F(ApplicationMeasurement, ALaterLaunchIsTheSameDeviceToTheService) {
    (void)launchUntilUploads(1);
    ASSERT_FALSE(HasFailure());
    const auto first = measurement.events();
    ASSERT_FALSE(first.empty());
    const std::string device = first.front().vendorDeviceID;
    EXPECT_EQ(device.size(), 36u);

    // An update of the application: the next launch reports it, from the same device.
    const std::string info = bundle + "/Info.plist";
    Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(info);
    ASSERT_TRUE(plist.isDictionary());
    Value::Dictionary updated = plist.dictionary();
    updated.set("CFBundleShortVersionString", Value("99.0"));
    ASSERT_TRUE(NSPropertyListSerialization::writePropertyList(Value(updated), info,
                                                               NSPropertyListSerialization::NSPropertyListXMLFormat_v1_0));
    const std::string said = launchUntilUploads(2);
    ASSERT_FALSE(HasFailure());
    const auto events = measurement.events();
    const auto update = std::find_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_au"; });
    ASSERT_NE(update, events.end()) << said;
    EXPECT_EQ(update->vendorDeviceID, device);
    // Nothing of the first launch came again.
    EXPECT_TRUE(measurement.duplicates().empty());
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_f"; }), 1)
        << said;
}

TEST_F(ApplicationMeasurement, ScreensAPersonMovesBetweenAreReportedWithTheSessionAndItsEngagement) {
    const std::string group = DemoCatalogue::genreGroups().front().name.in("en");
    // The category browser at start; the side menu; the gallery chosen again; a group's grid of
    // thumbnails; and back to the browser.
    const std::string said = launchUntilUploads(1, "tap menu\n"
                                                   "expect row \"Gallery\"\n"
                                                   "tap Gallery\n"
                                                   "expect == Gallery ==\n"
                                                   "tap " + group + "\n"
                                                   "expect == " + group + " ==\n"
                                                   "advance 5\n"
                                                   "back\n"
                                                   "expect == Gallery ==\n");
    ASSERT_FALSE(HasFailure());
    const auto events = measurement.events();
    std::vector<MeasurementService::Event> views;
    for (const auto& event : events) {
        if (event.name == "_vs") views.push_back(event);
    }
    ASSERT_GE(views.size(), 3u) << said;
    std::string classes;
    for (const auto& view : views) classes += textParameter(view, "_sc") + " ";
    // The grid came and went: a screen view names it, and the next one names it as the screen left.
    const auto grid = std::find_if(views.begin(), views.end(),
                                   [](const auto& view) { return textParameter(view, "_sc") == "UIThumbailViewController"; });
    ASSERT_NE(grid, views.end()) << classes;
    ASSERT_NE(grid + 1, views.end()) << classes;
    EXPECT_EQ(textParameter(*(grid + 1), "_pc"), "UIThumbailViewController") << classes;
    EXPECT_EQ(intParameter(*(grid + 1), "_pi"), intParameter(*grid, "_si")) << classes;
    // One session, numbered 1, and engagement for the time on the grid.
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_s"; }), 1)
        << classes;
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const auto& event) {
        return event.name == "_e" && textParameter(event, "_sc") == "UIThumbailViewController" &&
               intParameter(event, "_et") >= 5000;
    })) << classes;
}

TEST_F(ApplicationMeasurement, APurchaseTheStoreCompletesIsReportedWithItsLifetimeValue) {
    // The store completes the purchase while the application runs; it is reported by itself.
    const std::string said = launchUntilUploads(1, "purchase gold.coins 1.99 eur\n"
                                                   "idle\n");
    ASSERT_FALSE(HasFailure());
    const auto events = measurement.events();
    const auto purchase = std::find_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_iap"; });
    ASSERT_NE(purchase, events.end()) << said;
    EXPECT_EQ(textParameter(*purchase, "product_id"), "gold.coins");
    EXPECT_EQ(textParameter(*purchase, "currency"), "EUR");
    EXPECT_EQ(intParameter(*purchase, "price"), 1990000);
    EXPECT_EQ(intParameter(*purchase, "value"), 1990000);
    EXPECT_EQ(intParameter(*purchase, "quantity"), 1);
    EXPECT_NE(intParameter(*purchase, "_did"), -1);
    const Value total = measurement.uploads().front().batch.userProperties.get("_ltv_EUR");
    ASSERT_TRUE(total.isNumber()) << said;
    EXPECT_EQ(total.longLongValue(), 1990000);
}

TEST_F(ApplicationMeasurement, ASearchAdThatLedToTheInstallReachesTheServiceAsTheInstallsCampaign) {
    // The attribution is asked for as the engine starts; its answer is in before the background.
    const std::string said = launchUntilUploads(1, "idle\n", " --search-ad 'Spring Gallery=oil paintings'");
    ASSERT_FALSE(HasFailure());
    const auto events = measurement.events();
    const auto campaign = std::find_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_cmp"; });
    ASSERT_NE(campaign, events.end()) << said;
    EXPECT_EQ(textParameter(*campaign, "source"), "Apple");
    EXPECT_EQ(textParameter(*campaign, "medium"), "search");
    EXPECT_EQ(textParameter(*campaign, "campaign"), "Spring Gallery");
    EXPECT_EQ(textParameter(*campaign, "term"), "oil paintings");
    const auto firstOpen = std::find_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_f"; });
    ASSERT_NE(firstOpen, events.end());
    EXPECT_EQ(intParameter(*campaign, "click_timestamp"), firstOpen->timestampMillis - 1);
}

TEST_F(ApplicationMeasurement, AdUnitsAndClickIdsReachTheServiceWhereTheAdvertisingFrameworksAreLinked) {
    // An advertising library shows a banner for three seconds; a link with a click id opens the
    // application. Tracking is allowed, so the click id is kept and the advertising id stands for
    // the device in place of the vendor's.
    const std::string said = launchUntilUploads(1,
                                                "ad show banner-1\n"
                                                "advance 3\n"
                                                "ad hide banner-1\n"
                                                "open gallery://paintings?gclid=click-7&utm_source=ads\n"
                                                "idle\n",
                                                " --advertising-id E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    ASSERT_FALSE(HasFailure());
    const auto events = measurement.events();
    auto named = [&](const std::string& name) {
        return std::find_if(events.begin(), events.end(), [&](const auto& event) { return event.name == name; });
    };
    const auto unit = named("_xu");
    ASSERT_NE(unit, events.end()) << said;
    EXPECT_EQ(textParameter(*unit, "_ai"), "banner-1");
    EXPECT_EQ(intParameter(*unit, "_xt"), 3000);
    const auto all = named("_xa");
    ASSERT_NE(all, events.end()) << said;
    EXPECT_EQ(intParameter(*all, "_xt"), 3000);
    const auto campaign = named("_cmp");
    ASSERT_NE(campaign, events.end()) << said;
    EXPECT_EQ(textParameter(*campaign, "gclid"), "click-7");
    EXPECT_EQ(unit->vendorDeviceID, "");
}

TEST_F(ApplicationMeasurement, AFirstLaunchOpensTheDeferredDeepLinkOfTheInstallAndReportsItsCampaign) {
    // The ad-conversion service keeps a link for this device; the bundle turns the feature on and
    // tracking is allowed, so the first launch asks for it by the advertising id, the application
    // is opened by it, and its campaign reaches the service with the advertising id.
    const std::string device = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
    const std::string link = "gallery://paintings?utm_source=ads&utm_campaign=spring";
    measurement.setDeferredDeepLink(device, {link, "click-9", std::nullopt});
    const std::string options =
        " --advertising-id " + device + " --default APMAdConversionEndpointHost=" + measurement.host();
    std::string said = launchUntilUploads(1, "idle\n", options);
    ASSERT_FALSE(HasFailure());
    auto fetches = measurement.deepLinkFetches();
    ASSERT_EQ(fetches.size(), 1u) << said;
    EXPECT_EQ(fetches[0].resettableDeviceID, device);
    EXPECT_EQ(fetches[0].query.get("bundleid"), Value("com.norvane.ostrelgallery"));
    EXPECT_EQ(fetches[0].query.get("retry"), Value("0"));
    EXPECT_EQ(fetches[0].status, 200);
    EXPECT_NE(contents(home + "/diagnostics.log").find("Opened by the link " + link + "."), std::string::npos);

    auto events = measurement.events();
    auto campaigns = [&] {
        return std::count_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_cmp"; });
    };
    const auto campaign = std::find_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_cmp"; });
    ASSERT_NE(campaign, events.end()) << said;
    EXPECT_EQ(textParameter(*campaign, "source"), "ads");
    EXPECT_EQ(textParameter(*campaign, "campaign"), "spring");
    EXPECT_EQ(textParameter(*campaign, "gclid"), "click-9");
    EXPECT_EQ(textParameter(*campaign, "_cis"), "ddp");
    EXPECT_EQ(campaign->resettableDeviceID, device);
    EXPECT_EQ(measurement.uploads().front().batch.resettableDeviceID, device);
    EXPECT_EQ(campaigns(), 1);

    // The link was the install's: a later launch does not ask again.
    said = launchUntilUploads(2, "idle\n", options);
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(measurement.deepLinkFetches().size(), 1u) << said;
    events = measurement.events();
    EXPECT_EQ(campaigns(), 1);
}

TEST_F(ApplicationMeasurement, ALaunchByALinkOpensItAndReportsItsCampaignOnEveryLaunchOfAHome) {
    // The first launch of the home and a later one: each opens the link it was started by, and
    // each reports that link's campaign once, as a link opened in the running application is.
    const std::string link = "gallery://paintings?utm_source=mail&utm_campaign=spring";
    for (std::size_t launch = 1; launch <= 2; ++launch) {
        const std::string said = launchUntilUploads(launch, "idle\n", " --launch-url '" + link + "'");
        ASSERT_FALSE(HasFailure()) << "launch " << launch;
        const auto events = measurement.events();
        const auto campaigns = std::count_if(events.begin(), events.end(), [](const auto& event) {
            return event.name == "_cmp" && textParameter(event, "source") == "mail" &&
                   textParameter(event, "campaign") == "spring";
        });
        EXPECT_EQ(campaigns, static_cast<long>(launch)) << "launch " << launch << "\n" << said;
        const std::string log = contents(home + "/diagnostics.log");
        std::size_t opened = 0;
        for (std::size_t at = log.find("Opened by the link " + link + "."); at != std::string::npos;
             at = log.find("Opened by the link " + link + ".", at + 1))
            ++opened;
        EXPECT_EQ(opened, launch) << log;
    }
}

TEST_F(ApplicationMeasurement, WithItsDatabaseLockedByAnotherProcessTheApplicationRunsOnWithoutMeasurement) {
    // Another process holds the measurement database for itself (a write lock over the range
    // SQLite's readers share, as an exclusive SQLite lock is) for the whole launch.
    std::filesystem::create_directories(std::filesystem::path(databasePath()).parent_path());
    std::ofstream(databasePath()).flush();
    const SqliteLockHolder holder(databasePath());
    ASSERT_TRUE(holder.held());

    const auto [shown, status] = launchAndQuit("tap menu\n"
                                               "expect row \"Gallery\"\n"
                                               "tap Gallery\n"
                                               "expect == Gallery ==\n"
                                               "background\n"
                                               "foreground\n"
                                               "idle\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << "\n" << shown;
    const std::string said = contents(home + "/diagnostics.log");
    EXPECT_EQ(occurrences(said, "Failed to start Analytics. Analytics is disabled"), 1u) << said;
    EXPECT_EQ(occurrences(said, "Analytics collection disabled"), 1u) << said;
    EXPECT_LT(said.find("Failed to start Analytics"), said.find("Analytics collection disabled")) << said;
    EXPECT_TRUE(measurement.uploads().empty());
}

TEST_F(ApplicationMeasurement, AFolderWhereItsDatabaseBelongsIsMovedAsideAndMeasurementWorks) {
    std::filesystem::create_directories(databasePath());
    std::ofstream(databasePath() + "/kept.txt") << "someone's";
    const std::string shown = launchUntilUploads(1);
    ASSERT_FALSE(HasFailure());
    const auto events = measurement.events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_f"; }), 1)
        << shown;
    EXPECT_TRUE(std::filesystem::is_regular_file(databasePath()));
    EXPECT_EQ(contents(databasePath() + ".moved/kept.txt"), "someone's");
    const std::string said = contents(home + "/diagnostics.log");
    EXPECT_EQ(occurrences(said, "Moved what was not a database file out of its place"), 1u) << said;
    EXPECT_NE(said.find(databasePath() + ".moved"), std::string::npos) << said;
}
