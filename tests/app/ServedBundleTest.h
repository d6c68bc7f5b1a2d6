// The demo bundle pointed at the demo content server, both in the test's folder under a name of
// the test's own, a home for the application, and the simulator run on them.
#pragma once

#include "demo/generator/DemoGenerator.h"
#include "demo/server/ContentServer.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/DemoBundle.h"
#include "tests/fixtures/Subprocess.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

class ServedBundleTest : public testing::Test {
protected:
    explicit ServedBundleTest(const std::string& name)
        : bundle(Sandbox::tmp() + "/" + name + "-bundle"),
          served(Sandbox::tmp() + "/" + name + "-server"),
          home(Sandbox::tmp() + "/" + name + "-home") {}

    void SetUp() override {
        std::string error;
        // Copies of the fixture's bundle and server folder: writing them again costs each test
        // the whole demo generator.
        ASSERT_TRUE(DemoBundle::copyTo(bundle, true, &error)) << error;
        ASSERT_TRUE(DemoBundle::copyServerFolderTo(served, &error)) << error;
        server = ContentServer::start({served, "", 0, {}}, &error);
        ASSERT_TRUE(server) << error;
        ASSERT_TRUE(DemoGenerator::setServerHost(bundle, server->host(), &error)) << error;
        std::filesystem::create_directories(home);
    }

    // ostrel-sim on the bundle and the home with `script` and further `arguments`; the
    // measurement engine is pointed at a closed loopback port.
    ProcessRun runScript(const std::string& script, const std::string& arguments) {
        const std::string path = served + "-script-" + std::to_string(runs_++) + ".txt";
        std::ofstream(path) << script;
        return runCommand(std::string(OSTREL_SIM) + " --bundle " + bundle + " --home " + home +
                          " --default APMMeasurementEndpointHost=127.0.0.1:9 " + arguments + " --script " + path +
                          " 2>&1 </dev/null");
    }

    // A file's bytes, "" when it cannot be read.
    static std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static std::size_t occurrences(const std::string& text, const std::string& part) {
        std::size_t count = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
        return count;
    }
    // What the application's runs have said in their home's log.
    std::string diagnostics() const { return contents(home + "/diagnostics.log"); }

    const std::string bundle;
    const std::string served;
    const std::string home;
    std::unique_ptr<ContentServer> server;

private:
    int runs_ = 0;
};
