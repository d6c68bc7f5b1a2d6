// The loopback rule of test runs: loopback addresses and rewritten hosts pass; an address
// outside 127.0.0.0/8 or a name that would be looked up fails its request, lands in the report,
// and the shared test main fails the test that made it, naming it. The offending requests run
// in a child process with a report of its own; the one outside address they use is [::1], still
// on this machine. A reserved ".invalid" name is never looked up at all.
#include "NetTestSupport.h"

#include "platform/foundation/Sandbox.h"
#include "platform/net/URLLoopbackGuard.h"
#include "tests/fixtures/DisabledTestsChild.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

class URLLoopbackGuardTest : public NetTest {};

sockaddr_in v4(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

sockaddr_in6 v6(const char* text) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    inet_pton(AF_INET6, text, &address.sin6_addr);
    return address;
}

template <class Address>
bool loopback(const Address& address) {
    return URLLoopbackGuard::isLoopbackAddress(reinterpret_cast<const sockaddr*>(&address));
}

std::vector<std::string> linesOf(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST_F(URLLoopbackGuardTest, OnlyAddressesOf127Slash8AreLoopback) {
    for (const char* inside : {"127.0.0.1", "127.0.0.2", "127.255.255.254"}) EXPECT_TRUE(loopback(v4(inside))) << inside;
    for (const char* outside : {"128.0.0.1", "126.255.255.255", "10.0.0.1", "192.168.1.1", "0.0.0.0", "93.184.216.34"}) {
        EXPECT_FALSE(loopback(v4(outside))) << outside;
    }
    EXPECT_TRUE(loopback(v6("::ffff:127.0.0.1")));
    for (const char* outside : {"::1", "::ffff:10.0.0.1", "::", "2001:db8::1", "::127.0.0.1"}) {
        EXPECT_FALSE(loopback(v6(outside))) << outside;
    }
    EXPECT_FALSE(URLLoopbackGuard::isLoopbackAddress(nullptr));
    // Every test binary runs under the rule.
    EXPECT_TRUE(URLLoopbackGuard::isActive());
}

// Runs only in the child started below, with a report of its own.
TEST_F(URLLoopbackGuardTest, DISABLED_RequestsOutsideLoopbackChild) {
    LoopbackServer server;
    server.handle("/ok", [](const LoopbackServer::Request&) { return textResponse("fine"); });
    TaskRunner runner;
    // On the loopback network, directly or through a rewritten host, requests go as usual.
    EXPECT_EQ(runner.fetch("http://127.0.0.1:" + std::to_string(server.port()) + "/ok").body(), "fine");
    URLHostRewrite::map("rewritten.example", 80, server.port());
    EXPECT_EQ(runner.fetch("http://rewritten.example/ok").body(), "fine");
    // Elsewhere they fail before a packet leaves.
    EXPECT_NE(runner.fetch("http://[::1]:" + std::to_string(server.port()) + "/ok").errorCode(), 0);
    EXPECT_NE(runner.fetch("http://guard-check.example/ok").errorCode(), 0);
}

TEST_F(URLLoopbackGuardTest, ATestThatReachesOutsideLoopbackFailsNamingWhere) {
    const std::string report = Sandbox::tmp() + "/outside.txt";
    const ProcessRun child = runDisabledTestsInChild("URLLoopbackGuardTest.DISABLED_RequestsOutsideLoopbackChild",
                                                     {std::string(URLLoopbackGuard::kReportVariable) + "=" + report});
    EXPECT_NE(child.status, 0) << child.output;

    const auto refused = linesOf(report);
    ASSERT_EQ(refused.size(), 2u) << child.output;
    EXPECT_EQ(refused[0].rfind("[::1]:", 0), 0u) << refused[0];
    EXPECT_NE(refused[0].find(" for http://[::1]:"), std::string::npos) << refused[0];
    EXPECT_EQ(refused[1], "a lookup of the name guard-check.example for http://guard-check.example/ok");
    // The child's test failed for each, naming it; its requests on the loopback network passed.
    for (const auto& line : refused) {
        EXPECT_NE(child.output.find("The test made a request outside 127.0.0.0/8, refused: " + line), std::string::npos)
            << child.output;
    }
    EXPECT_NE(child.output.find("[  FAILED  ] URLLoopbackGuardTest.DISABLED_RequestsOutsideLoopbackChild"),
              std::string::npos)
        << child.output;
    EXPECT_EQ(child.output.find("Value of: "), std::string::npos) << child.output;
    EXPECT_EQ(child.output.find("Expected equality"), std::string::npos) << child.output;
}

TEST_F(URLLoopbackGuardTest, AReservedInvalidNameIsNeverLookedUp) {
    for (const char* name : {"app-measurement.invalid", "invalid", "A.Service.INVALID", "x.invalid."}) {
        EXPECT_TRUE(URLLoopbackGuard::isReservedInvalidName(name)) << name;
    }
    for (const char* name : {"invalid.example", "notinvalid", "127.0.0.1", ""}) {
        EXPECT_FALSE(URLLoopbackGuard::isReservedInvalidName(name)) << name;
    }
    // Refused before any lookup: a host that cannot be found, and nothing for the test run's
    // report, as nothing tried to leave.
    std::error_code ec;
    const auto reportedBefore = std::filesystem::file_size(URLLoopbackGuard::reportPath(), ec);
    TaskRunner runner;
    EXPECT_EQ(runner.fetch("https://app-measurement.invalid/a").errorCode(), NSURLErrorCannotFindHost);
    EXPECT_EQ(std::filesystem::file_size(URLLoopbackGuard::reportPath(), ec), reportedBefore);
}
