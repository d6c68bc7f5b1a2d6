// Certificate checks against the self-signed HTTPS test server: refused by default, accepted
// only for the host its anchor names, and a connection delegate that refuses a verified server.
#include "tests/platform/net/NetTestSupport.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/NSURLAuthenticationChallenge.h"
#include "platform/net/NSURLConnection.h"
#include "platform/net/NSURLConnectionDelegate.h"

#include <gtest/gtest.h>

#include <fstream>

using ServerTrustTest = NetTest;

TEST_F(ServerTrustTest, ASelfSignedServerIsTrustedOnlyForTheHostItsAnchorNames) {
    LoopbackServer server(LoopbackServer::Scheme::Https);
    server.serve("/secret", textResponse("over TLS"));
    TaskRunner runner;
    const std::string byAddress = server.url("/secret");
    // The certificate names localhost as well, so only the anchor's scope can refuse it there.
    const std::string byName = "https://localhost:" + std::to_string(server.port()) + "/secret";
    URLHostRewrite::map("localhost", server.port(), server.port());

    Completion got = runner.fetch(byAddress);
    EXPECT_EQ(got.errorCode(), NSURLErrorServerCertificateUntrusted);
    EXPECT_TRUE(server.requestsFor("/secret").empty());

    ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", LoopbackServer::certificatePEM()));
    got = runner.fetch(byAddress);
    ASSERT_FALSE(got.error) << got.error->description();
    EXPECT_EQ(got.body(), "over TLS");
    got = runner.fetch(byName);
    EXPECT_EQ(got.errorCode(), NSURLErrorServerCertificateUntrusted);

    // From a file, for the name.
    const std::string path = Sandbox::tmp() + "/loopback-anchor.pem";
    std::ofstream(path) << LoopbackServer::certificatePEM();
    ASSERT_TRUE(URLTrustAnchors::addAnchorFileForHost("LOCALHOST", path));
    got = runner.fetch(byName);
    ASSERT_FALSE(got.error) << got.error->description();
    EXPECT_EQ(server.requestsFor("/secret").back().header("Host"), "localhost:" + std::to_string(server.port()));

    NSErrorPtr error;
    EXPECT_FALSE(URLTrustAnchors::addAnchorForHost("127.0.0.1", "-----BEGIN CERTIFICATE-----\nnot one\n", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSCocoaErrorDomain);
    EXPECT_FALSE(URLTrustAnchors::addAnchorFileForHost("127.0.0.1", Sandbox::tmp() + "/absent.pem", &error));
    std::remove(path.c_str());

    URLTrustAnchors::reset();
    EXPECT_TRUE(URLTrustAnchors::isEmpty());
    got = runner.fetch(byAddress);
    EXPECT_EQ(got.errorCode(), NSURLErrorServerCertificateUntrusted);
}

namespace {

// Answers the trust challenge as told; records what it saw.
class TrustDelegate : public NSURLConnectionDelegate {
public:
    enum class Answer { NotAsked, UseCredential, Cancel, Later };
    explicit TrustDelegate(Answer answer) : answer_(answer) {}

    bool connectionCanAuthenticateAgainstProtectionSpace(const std::shared_ptr<NSURLConnection>&,
                                                         const NSURLProtectionSpace& space) override {
        asked.push_back(space.host + ":" + std::to_string(space.port) + " " + space.authenticationMethod);
        return answer_ != Answer::NotAsked;
    }
    void connectionDidReceiveAuthenticationChallenge(const std::shared_ptr<NSURLConnection>&,
                                                     const std::shared_ptr<NSURLAuthenticationChallenge>& c) override {
        calls.push_back("challenge");
        challenge = c;
        EXPECT_EQ(c->previousFailureCount(), 0);
        if (answer_ == Answer::UseCredential) {
            c->useCredential(NSURLCredential::credentialForTrust(c->protectionSpace().serverTrust));
        } else if (answer_ == Answer::Cancel) {
            c->cancel();
        }
    }
    void connectionDidReceiveResponse(const std::shared_ptr<NSURLConnection>&,
                                      const std::shared_ptr<NSHTTPURLResponse>&) override {
        calls.push_back("response");
    }
    void connectionDidReceiveData(const std::shared_ptr<NSURLConnection>&, const NSData& data) override {
        body.append(data.begin(), data.end());
    }
    void connectionDidFinishLoading(const std::shared_ptr<NSURLConnection>&) override { calls.push_back("finish"); }
    void connectionDidFailWithError(const std::shared_ptr<NSURLConnection>&, const NSErrorPtr& e) override {
        calls.push_back("fail");
        error = e;
    }
    bool ended() const { return !calls.empty() && (calls.back() == "finish" || calls.back() == "fail"); }

    std::vector<std::string> asked;
    std::vector<std::string> calls;
    std::string body;
    NSErrorPtr error;
    std::shared_ptr<NSURLAuthenticationChallenge> challenge;

private:
    Answer answer_;
};

std::vector<std::string> load(const std::string& url, const std::shared_ptr<TrustDelegate>& delegate,
                              const std::function<void()>& whenChallenged = nullptr) {
    NSURLConnection::connectionWithRequest(NSURLRequest::requestWithURL(NSURL::URLWithString(url)), delegate);
    auto loop = NSRunLoop::mainRunLoop();
    if (whenChallenged) {
        EXPECT_TRUE(loop->runUntil([&] { return delegate->challenge != nullptr; }, kNetSafety));
        whenChallenged();
    }
    EXPECT_TRUE(loop->runUntil([&] { return delegate->ended(); }, kNetSafety));
    return delegate->calls;
}

}  // namespace

TEST_F(ServerTrustTest, AConnectionDelegateMayRefuseAVerifiedServerButNeverAcceptAnUntrustedOne) {
    LoopbackServer server(LoopbackServer::Scheme::Https);
    server.serve("/page", textResponse("page"));
    const std::string url = server.url("/page");
    const std::string where = "127.0.0.1:" + std::to_string(server.port()) + " " + NSURLAuthenticationMethodServerTrust;

    // Untrusted: the load fails before any challenge, whatever the delegate would answer.
    auto eager = std::make_shared<TrustDelegate>(TrustDelegate::Answer::UseCredential);
    EXPECT_EQ(load(url, eager), (std::vector<std::string>{"fail"}));
    EXPECT_EQ(eager->error->code(), NSURLErrorServerCertificateUntrusted);
    EXPECT_TRUE(eager->asked.empty());

    ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", LoopbackServer::certificatePEM()));
    auto accepting = std::make_shared<TrustDelegate>(TrustDelegate::Answer::UseCredential);
    EXPECT_EQ(load(url, accepting), (std::vector<std::string>{"challenge", "response", "finish"}));
    EXPECT_EQ(accepting->asked, std::vector<std::string>{where});
    EXPECT_EQ(accepting->body, "page");
    EXPECT_EQ(accepting->challenge->protectionSpace().serverTrust->host, "127.0.0.1");

    auto indifferent = std::make_shared<TrustDelegate>(TrustDelegate::Answer::NotAsked);
    EXPECT_EQ(load(url, indifferent), (std::vector<std::string>{"response", "finish"}));

    auto refusing = std::make_shared<TrustDelegate>(TrustDelegate::Answer::Cancel);
    EXPECT_EQ(load(url, refusing), (std::vector<std::string>{"challenge", "fail"}));
    EXPECT_EQ(refusing->error->code(), NSURLErrorCancelled);
    EXPECT_TRUE(refusing->body.empty());

    // Answered later, from another thread: the response and body waited for it.
    auto later = std::make_shared<TrustDelegate>(TrustDelegate::Answer::Later);
    auto calls = load(url, later, [&] {
        EXPECT_TRUE(server.waitForRequests("/page", 4));
        NSRunLoop::mainRunLoop()->runUntilIdle();
        EXPECT_EQ(later->calls, std::vector<std::string>{"challenge"});
        std::thread([challenge = later->challenge] { challenge->performDefaultHandling(); }).join();
    });
    EXPECT_EQ(calls, (std::vector<std::string>{"challenge", "response", "finish"}));
    EXPECT_EQ(later->body, "page");

    // Plain HTTP has no trust to challenge.
    LoopbackServer plain;
    plain.serve("/page", textResponse("plain"));
    auto overHttp = std::make_shared<TrustDelegate>(TrustDelegate::Answer::Cancel);
    EXPECT_EQ(load(plain.url("/page"), overHttp), (std::vector<std::string>{"response", "finish"}));
    EXPECT_TRUE(overHttp->asked.empty());
}

// Anchors are for HTTPS alone, so plain HTTP to their host follows its redirects wherever they
// lead; HTTPS to it follows those that stay on its scheme, host and port and refuses any other
// before asking it anything. A followed redirect's own body never reaches the client.
TEST_F(ServerTrustTest, AnAnchoredServersRedirectsStayOnItsOriginWhilePlainHTTPFollowsThemAnywhere) {
    ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", LoopbackServer::certificatePEM()));
    LoopbackServer secure(LoopbackServer::Scheme::Https), otherSecure(LoopbackServer::Scheme::Https);
    LoopbackServer plain, otherPlain;
    secure.serve("/page", textResponse("over TLS"));
    plain.serve("/page", textResponse("plain page"));
    otherPlain.serve("/page", textResponse("the other site"));
    otherSecure.serve("/page", textResponse("the other secure site"));
    auto redirect = [](LoopbackServer& server, const std::string& path, const std::string& to, int status = 302) {
        LoopbackServer::Fault fault = LoopbackServer::Fault::redirect(to);
        fault.status = status;
        server.setFault(path, fault);
    };
    TaskRunner runner;
    auto expectPage = [&](const std::string& url, const std::string& body, const std::string& from) {
        const Completion got = runner.fetch(url);
        ASSERT_FALSE(got.error) << url << ": " << got.error->description();
        ASSERT_TRUE(got.response) << url;
        EXPECT_EQ(got.response->statusCode(), 200) << url;
        EXPECT_EQ(got.response->URL()->absoluteString(), from) << url;
        EXPECT_EQ(got.body(), body) << url;
    };

    // Plain HTTP: within the site, to another one, and by every redirect status libcurl follows.
    redirect(plain, "/here", "/page");
    expectPage(plain.url("/here"), "plain page", plain.url("/page"));
    redirect(plain, "/away", otherPlain.url("/page"), 307);
    expectPage(plain.url("/away"), "the other site", otherPlain.url("/page"));
    redirect(plain, "/choices", "/page", 300);
    expectPage(plain.url("/choices"), "plain page", plain.url("/page"));

    // HTTPS with anchors: by a relative or an absolute address on its own origin.
    redirect(secure, "/relative", "page", 301);
    expectPage(secure.url("/relative"), "over TLS", secure.url("/page"));
    const std::string sameOrigin = "HTTPS://127.0.0.1:" + std::to_string(secure.port()) + "/page";
    redirect(secure, "/absolute", sameOrigin, 308);
    expectPage(secure.url("/absolute"), "over TLS", secure.url("/page"));

    // Away from it: another scheme on its very port, another port, another scheme and port.
    const std::string plainOnItsPort = "http://127.0.0.1:" + std::to_string(secure.port()) + "/page";
    for (const std::string& elsewhere : {plainOnItsPort, otherSecure.url("/page"), otherPlain.url("/page")}) {
        otherPlain.clearRequests();
        otherSecure.clearRequests();
        redirect(secure, "/leave", elsewhere);
        const Completion got = runner.fetch(secure.url("/leave"));
        ASSERT_TRUE(got.error) << elsewhere;
        EXPECT_EQ(got.error->domain(), NSURLErrorDomain);
        EXPECT_EQ(got.errorCode(), NSURLErrorRedirectRefused) << elsewhere;
        EXPECT_EQ(got.error->userInfo()[NSURLErrorFailingURLStringErrorKey].stringValue(), secure.url("/leave"));
        EXPECT_NE(got.error->userInfo()[NSDebugDescriptionErrorKey].stringValue().find(elsewhere), std::string::npos);
        EXPECT_TRUE(got.body().empty()) << got.body();
        EXPECT_TRUE(otherPlain.requests().empty());
        EXPECT_TRUE(otherSecure.requests().empty());
    }
    EXPECT_EQ(secure.requestsFor("/page").size(), 2u);

    // Back to itself without end: followed until the platform's bound.
    secure.setFault("/loop", LoopbackServer::Fault::redirect());
    EXPECT_EQ(runner.fetch(secure.url("/loop")).errorCode(), NSURLErrorHTTPTooManyRedirects);
    EXPECT_GT(secure.requestsFor("/loop").size(), 1u);
}
