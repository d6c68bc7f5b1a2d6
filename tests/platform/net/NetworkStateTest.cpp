// The network's process-wide switches are checked state: a test that leaves a host rewrite, a
// trust anchor, an unreachable network or a reachability provider behind is told so, and the
// switch is put back. A test binary shuts the network down after its tests, before it exits.
#include "NetTestSupport.h"
#include "demo/loopback/LoopbackServer.h"
#include "platform/net/SCNetworkReachability.h"
#include "platform/net/URLHostRewrite.h"
#include "platform/net/URLNetwork.h"
#include "platform/net/URLTrustAnchors.h"
#include "tests/fixtures/ProcessState.h"
#include "tests/fixtures/DisabledTestsChild.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

const ProcessState::Piece* piece(const std::string& name) {
    for (const auto& registered : ProcessState::pieces())
        if (registered.name == name) return &registered;
    return nullptr;
}

}  // namespace

TEST(NetworkState, EachSwitchLeftChangedReadsAsALeakAndIsPutBack) {
    URLHostRewrite::map("fixed.example", 443, 1);
    const struct {
        const char* name;
        std::function<void()> change;
        std::function<bool()> asBefore;
    } cases[] = {
        {"URL host rewrite rules",
         [] {
             URLHostRewrite::map("other.example", 0, 2);
             URLHostRewrite::map("fixed.example", 443, 3);
         },
         [] {
             return URLHostRewrite::connectToEntries() == std::vector<std::string>{"fixed.example:443:127.0.0.1:1"};
         }},
        {"URL trust anchors",
         [] { ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", LoopbackServer::certificatePEM())); },
         [] { return URLTrustAnchors::isEmpty(); }},
        {"network reachability", [] { SCNetworkReachability::setNetworkReachable(false); },
         [] { return SCNetworkReachability::isNetworkReachable(); }},
        {"network reachability",
         [] { SCNetworkReachability::setFlagsProvider([](const SCNetworkReachability&) { return std::nullopt; }); },
         [] { return !SCNetworkReachability::hasFlagsProvider(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto* state = piece(c.name);
        ASSERT_NE(state, nullptr);
        const auto before = state->capture();
        c.change();
        EXPECT_NE(state->capture().description, before.description);
        before.restore();
        EXPECT_EQ(state->capture().description, before.description);
        EXPECT_TRUE(c.asBefore());
    }
    URLHostRewrite::reset();
}

// Runs only in the child started below: the network thread runs when its test ends.
TEST(NetworkState, DISABLED_TheNetworkAtExitChild) {
    LoopbackServer server;
    server.serve("/hello", textResponse("hello"));
    TaskRunner runner;
    EXPECT_EQ(runner.fetch(server.url("/hello")).body(), "hello");
    std::atexit([] {
        std::printf("at exit the network is %s\n", URLNetwork::isShutDown() ? "shut down" : "running");
        std::fflush(stdout);
    });
}

TEST(NetworkState, ATestBinaryShutsTheNetworkDownBeforeItExits) {
    const ProcessRun child = runDisabledTestsInChild("NetworkState.DISABLED_TheNetworkAtExitChild");
    EXPECT_EQ(child.status, 0) << child.output;
    EXPECT_NE(child.output.find("[       OK ] NetworkState.DISABLED_TheNetworkAtExitChild"), std::string::npos)
        << child.output;
    EXPECT_NE(child.output.find("at exit the network is shut down"), std::string::npos) << child.output;
}
