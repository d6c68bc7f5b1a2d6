// The application end to end with its measurement engine: started on the demo bundle in the
// simulator, pointed at the measurement service on 127.0.0.1, it uploads its first open once it
// goes to the background.
#include "demo/generator/DemoGenerator.h"
#include "platform/foundation/NSPropertyListSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/MeasurementService.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
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

}  // namespace

TEST(ApplicationMeasurement, TheFirstOpenReachesTheMeasurementServiceWhenTheApplicationGoesToTheBackground) {
    const std::string bundle = Sandbox::tmp() + "/demo-bundle";
    DemoGenerator::Options options;
    options.writePictures = false;
    std::string error;
    ASSERT_TRUE(DemoGenerator::writeBundle(bundle, options, &error)) << error;
    const Value service = NSPropertyListSerialization::propertyListWithContentsOfFile(bundle + "/VizudiService-Info.plist");
    const std::string appID = service.isDictionary() ? service.dictionary().get("VIZUDI_APP_ID").stringValue() : "";
    ASSERT_FALSE(appID.empty());

    MeasurementService measurement;
    const std::string certificate = Sandbox::tmp() + "/measurement.pem";
    std::ofstream(certificate) << MeasurementService::certificatePEM();
    const std::string home = Sandbox::tmp() + "/app-home";
    std::filesystem::create_directories(home);
    const std::string output = Sandbox::tmp() + "/app-output.txt";

    // Commands come in as a person types them, so the application stays up while its upload is
    // on the way.
    const std::string command = std::string(OSTREL_SIM) + " --bundle " + bundle + " --home " + home +
                                " --default APMMeasurementEndpointHost=" + measurement.host() +
                                " --trust-anchor 127.0.0.1=" + certificate + " >" + output + " 2>&1";
    FILE* input = popen(command.c_str(), "w");
    ASSERT_NE(input, nullptr);
    std::fputs("background\n", input);
    std::fflush(input);
    const bool uploaded = measurement.waitForUploads(1, 60);
    std::fputs("quit\n", input);
    const int status = pclose(input);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << contents(output);
    ASSERT_TRUE(uploaded) << contents(output);

    const auto uploads = measurement.uploads();
    ASSERT_FALSE(uploads.empty());
    EXPECT_TRUE(uploads.front().accepted) << MeasurementService::summaryLine(1, uploads.front());
    EXPECT_EQ(uploads.front().batch.appID, appID);
    const auto events = measurement.events();
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const auto& event) { return event.name == "_f"; }), 1)
        << MeasurementService::summaryLine(1, uploads.front());
    // The engine said it started, under the platform core's tag, in the log in the home, not on
    // the terminal; and bundling the one event left nothing that looked like a failed write.
    const std::string said = contents(home + "/diagnostics.log");
    const std::string shown = contents(output);
    EXPECT_NE(said.find("[Rezavivi/Analytics]"), std::string::npos) << said;
    EXPECT_EQ(said.find("Transaction failed"), std::string::npos) << said;
    EXPECT_EQ(shown.find("[Rezavivi/Analytics]"), std::string::npos) << shown;
    EXPECT_NE(shown.find("diagnostics are written to " + home + "/diagnostics.log"), std::string::npos) << shown;
}
