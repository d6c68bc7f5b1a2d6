// The loopback server asked with libcurl: the faults as they reach a client, alone and
// combined, their text form, stalls and their release, the log and the control paths.
#include "demo/loopback/LoopbackServer.h"

#include "tests/fixtures/CurlFetch.h"

#include <gtest/gtest.h>

#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

using Fault = LoopbackServer::Fault;
using Response = LoopbackServer::Response;

std::string digits(std::size_t size) {
    std::string body(size, '0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('0' + i % 10);
    return body;
}

class LoopbackServerTest : public testing::Test {
protected:
    void SetUp() override {
        Response answer = Response::make(200, body_);
        answer.headers.emplace_back("X-Kept", "yes");
        server_.serve("/body", answer);
    }

    CurlFetched get(const std::string& path, const std::string& range = "") {
        CurlRequest request;
        request.range = range;
        return curlFetch(server_.url(path), request);
    }
    CurlFetched withFault(const Fault& fault) {
        server_.setFault("/body", fault);
        return get("/body");
    }

    const std::string body_ = digits(1000);
    // What a test's request observer touches, declared before the server: its threads call the
    // observer until it has stopped.
    std::mutex mutex_;
    std::vector<std::string> seen_;
    LoopbackServer server_;
};

TEST_F(LoopbackServerTest, EachFaultReachesTheClientAsAFailingServerWouldSendIt) {
    auto fetched = withFault(Fault::withStatus(503));
    EXPECT_EQ(fetched.status, 503);
    EXPECT_EQ(fetched.body, "Status 503\n");
    EXPECT_EQ(fetched.header("x-kept"), "yes") << "the handler's fields stay";
    fetched = withFault(Fault::withStatus(204));
    EXPECT_EQ(fetched.status, 204);
    EXPECT_EQ(fetched.body, "");

    fetched = withFault(Fault::withPage(Fault::Page::Suspended));
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.header("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(fetched.body.find("This Account Has Been Suspended"), std::string::npos);

    fetched = withFault(Fault::chunked());
    EXPECT_EQ(fetched.header("transfer-encoding"), "chunked");
    EXPECT_EQ(fetched.body, body_);

    fetched = withFault(Fault::wrongRange(100));
    EXPECT_EQ(fetched.status, 206);
    EXPECT_EQ(fetched.header("content-range"), "bytes 100-999/1000");
    EXPECT_EQ(fetched.body, body_.substr(100));

    fetched = withFault(Fault::reset());
    EXPECT_EQ(fetched.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(fetched.body, body_.substr(0, 500)) << "half the body, then the connection closes";

    fetched = withFault(Fault::endless(2500));
    EXPECT_EQ(fetched.header("content-length"), "2500");
    EXPECT_EQ(fetched.body, body_ + body_ + body_.substr(0, 500));

    // A redirect goes back to what was asked, query and all, or where the fault says.
    server_.setFault("/body", Fault::redirect());
    fetched = get("/body?a=1");
    EXPECT_EQ(fetched.status, 302);
    EXPECT_EQ(fetched.header("location"), "/body?a=1");
    fetched = withFault(Fault::redirect("/elsewhere"));
    EXPECT_EQ(fetched.status, 302);
    EXPECT_EQ(fetched.header("location"), "/elsewhere");

    // Late and slow answers take at least their pauses; the body comes whole.
    auto before = std::chrono::steady_clock::now();
    fetched = withFault(Fault::late(std::chrono::milliseconds(50)));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50));
    EXPECT_EQ(fetched.body, body_);
    before = std::chrono::steady_clock::now();
    fetched = withFault(Fault::slow(std::chrono::milliseconds(5), 100));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(5 * 10));
    EXPECT_EQ(fetched.body, body_);

    // Parts combine: a status whose short body is cut off.
    Fault both = Fault::withStatus(500);
    both.resetAfter = 3;
    fetched = withFault(both);
    EXPECT_EQ(fetched.status, 500);
    EXPECT_EQ(fetched.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(fetched.body, "Sta");

    // An answer's own fault wins over the path's; other paths are untouched.
    Response own = Response::make(200, "own body");
    own.fault = Fault::withStatus(410);
    server_.serve("/own", own);
    server_.setFault("/own", Fault::withStatus(503));
    EXPECT_EQ(get("/own").status, 410);
    server_.removeFaults();
    EXPECT_EQ(get("/body").body, body_);
    EXPECT_EQ(get("/elsewhere").status, 404);
}

TEST_F(LoopbackServerTest, AnAnswerThatTakesRangesServesOneRangeAndRefusesOnePastTheEnd) {
    Response file = Response::make(200, body_, "application/octet-stream");
    file.ranges = true;
    server_.serve("/file", file);
    auto fetched = get("/file", "990-");
    EXPECT_EQ(fetched.status, 206);
    EXPECT_EQ(fetched.header("content-range"), "bytes 990-999/1000");
    EXPECT_EQ(fetched.header("accept-ranges"), "bytes");
    EXPECT_EQ(fetched.body, body_.substr(990));
    EXPECT_EQ(get("/file", "-5").body, body_.substr(995));
    fetched = get("/file", "1000-");
    EXPECT_EQ(fetched.status, 416);
    EXPECT_EQ(fetched.header("content-range"), "bytes */1000");
    EXPECT_EQ(get("/file", "0-1,5-6").body, body_);
    // An answer that does not take ranges ignores them.
    fetched = get("/body", "990-");
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.body, body_);
}

TEST_F(LoopbackServerTest, AReleaseLetsTheStalledBodiesGoAndALaterOneStallsAgain) {
    server_.setFault("/body", Fault::stall(200));
    CurlFetched first, second;
    std::thread client([&] { first = get("/body"); });
    ASSERT_TRUE(server_.waitForStalls(1, 20));
    server_.releaseStalls();
    client.join();
    EXPECT_EQ(first.code, CURLE_OK);
    EXPECT_EQ(first.body, body_);

    std::thread again([&] { second = get("/body"); });
    ASSERT_TRUE(server_.waitForStalls(1, 20));
    server_.removeFault("/body");  // which lets it go too
    again.join();
    EXPECT_EQ(second.body, body_);
    EXPECT_EQ(get("/body").body, body_);
}

TEST(LoopbackServerEnd, StoppingBreaksAStalledBodyOff) {
    auto server = std::make_unique<LoopbackServer>();
    server->serve("/body", Response::make(200, digits(1000)));
    server->setFault("/body", Fault::stall(300));
    CurlFetched fetched;
    std::thread client([&] { fetched = curlFetch(server->url("/body")); });
    ASSERT_TRUE(server->waitForStalls(1, 20));
    server.reset();
    client.join();
    EXPECT_EQ(fetched.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(fetched.body, digits(300));
}

TEST(LoopbackServerEnd, AServerOnATakenPortIsNotListeningAndSaysWhy) {
    LoopbackServer taken;
    std::string error;
    LoopbackServer second({LoopbackServer::Scheme::Http, taken.port(), 2}, &error);
    EXPECT_FALSE(second.listening());
    EXPECT_NE(error.find("127.0.0.1:" + std::to_string(taken.port())), std::string::npos) << error;
    EXPECT_TRUE(taken.listening());
}

TEST_F(LoopbackServerTest, RequestsAreLoggedOnArrivalButTheControlPathsAreNot) {
    server_.setRequestObserver([this](const LoopbackServer::Request& request) {
        std::lock_guard lock(mutex_);
        seen_.push_back(request.method + " " + request.target);
    });
    server_.handleControl("/__", [](const LoopbackServer::Request& request) {
        return Response::make(200, "control " + request.parameter("do"));
    });
    server_.handlePrefix("/p/", [](const LoopbackServer::Request& request) { return Response::make(200, request.path); });
    server_.setFault("/__x", Fault::withStatus(500));

    CurlRequest post;
    post.method = "POST";
    post.body = "payload";
    post.headers = {{"X-Case", "Mixed"}};
    EXPECT_EQ(curlFetch(server_.url("/p/a%20b?x=1+2&y=%41&x=3"), post).body, "/p/a b");
    EXPECT_EQ(get("/__x?do=it").body, "control it");
    ASSERT_TRUE(server_.waitForRequests("/p/a b"));

    const auto logged = server_.requests();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].method, "POST");
    EXPECT_EQ(logged[0].target, "/p/a%20b?x=1+2&y=%41&x=3");
    EXPECT_EQ(logged[0].query, "x=1+2&y=%41&x=3");
    EXPECT_EQ(logged[0].parameter("x"), "1 2") << "the first of two";
    EXPECT_EQ(logged[0].parameters.count("x"), 2u);
    EXPECT_EQ(logged[0].parameter("y"), "A");
    EXPECT_EQ(logged[0].parameter("z"), "");
    EXPECT_EQ(logged[0].header("x-case"), "Mixed");
    EXPECT_EQ(logged[0].body, "payload");
    EXPECT_EQ(server_.requestsFor("/p/a b").size(), 1u);
    {
        std::lock_guard lock(mutex_);
        EXPECT_EQ(seen_, (std::vector<std::string>{"POST /p/a%20b?x=1+2&y=%41&x=3"}));
    }
    server_.clearRequests();
    EXPECT_TRUE(server_.requests().empty());
}

TEST(LoopbackServerFault, TheTextFormNamesEveryPartAndRefusesWhatIsNoFault) {
    std::string error;
    auto parse = [&](const std::string& text) { return Fault::fromParameters(LoopbackServer::parametersOf(text), &error); };

    auto fault = parse("path=/x&status=503&stall");
    ASSERT_TRUE(fault) << error;
    EXPECT_EQ(fault->status, 503);
    EXPECT_EQ(fault->stallAfter, 0u);
    EXPECT_EQ(fault->description(), "status 503, a stall after 0 bytes");
    fault = parse("reset");
    ASSERT_TRUE(fault) << error;
    EXPECT_EQ(fault->resetAfter, Fault::halfway);
    EXPECT_EQ(fault->description(), "a reset halfway");
    fault = parse("slow=20");
    ASSERT_TRUE(fault) << error;
    EXPECT_EQ(fault->description(), "pieces of 1024 bytes every 20 ms");
    fault = parse("page=html&chunked&delay=7&range-from=3&endless=9000&slow=1&piece=16&reset=40");
    ASSERT_TRUE(fault) << error;
    EXPECT_EQ(fault->description(),
              "an HTML page with 200, a body without a length, a 206 from byte 3, 7 ms late, pieces of 16 bytes "
              "every 1 ms, a reset after 40 bytes, the body repeated up to 9000 bytes");
    EXPECT_EQ(parse("page=suspended")->page, Fault::Page::Suspended);
    EXPECT_EQ(parse("redirect")->description(), "a redirect to itself");
    EXPECT_EQ(parse("redirect=/b&status=301")->description(), "status 301, a redirect to /b");

    for (const char* wrong : {"", "path=/x", "melt=1", "status=999", "status=", "stall=x", "piece=0&slow=1",
                              "page=plain", "delay=-1"}) {
        error.clear();
        EXPECT_FALSE(parse(wrong)) << wrong;
        EXPECT_FALSE(error.empty()) << wrong;
    }
    EXPECT_EQ(Fault{}.description(), "none");
}

// One connection to a server, written and read as a client that keeps it does: the next
// request may go out before the answer to the last has come, and the answers are read in turn.
class KeptConnection {
public:
    explicit KeptConnection(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // Each write's last byte is reported (on the error queue) once the server's side has
        // acknowledged it, that is, holds it.
        const unsigned reports = SOF_TIMESTAMPING_TX_ACK | SOF_TIMESTAMPING_SOFTWARE | SOF_TIMESTAMPING_OPT_ID |
                                 SOF_TIMESTAMPING_OPT_TSONLY;
        connected_ = fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPING, &reports, sizeof reports) == 0;
    }
    ~KeptConnection() {
        if (fd_ >= 0) ::close(fd_);
    }
    KeptConnection(const KeptConnection&) = delete;
    KeptConnection& operator=(const KeptConnection&) = delete;

    bool connected() const { return connected_; }

    // Sends a GET for `path` and waits until the server's side holds all of it.
    [[nodiscard]] bool sendHeld(const std::string& path) {
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
            return false;
        sent_ += request.size();
        for (;;) {
            // Only the error queue wakes it: the answers' bytes may be waiting unread meanwhile.
            pollfd reported{fd_, 0, 0};
            if (::poll(&reported, 1, 20000) != 1 || !(reported.revents & POLLERR)) return false;
            char control[256];
            msghdr message{};
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            if (::recvmsg(fd_, &message, MSG_ERRQUEUE) < 0) return false;
            for (cmsghdr* part = CMSG_FIRSTHDR(&message); part; part = CMSG_NXTHDR(&message, part)) {
                if (part->cmsg_level != SOL_IP || part->cmsg_type != IP_RECVERR) continue;
                sock_extended_err report;
                std::memcpy(&report, CMSG_DATA(part), sizeof report);
                // The id counts the bytes sent, from 0: the last byte's is sent_ - 1.
                if (report.ee_origin == SO_EE_ORIGIN_TIMESTAMPING && report.ee_info == SCM_TSTAMP_ACK &&
                    report.ee_data == static_cast<std::uint32_t>(sent_ - 1))
                    return true;
            }
        }
    }

    struct Answer {
        int status = 0;  // 0: the connection ended (or nothing came in time) before a whole answer
        std::string body;
    };
    // The next answer, framed by its Content-Length.
    Answer read() {
        Answer answer;
        std::size_t end = std::string::npos;
        while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
            if (!fill()) return answer;
        const std::string head = buffer_.substr(0, end + 4);
        std::size_t length = 0;
        const auto field = head.find("Content-Length: ");
        if (head.rfind("HTTP/1.1 ", 0) != 0 || field == std::string::npos) return answer;
        length = std::stoul(head.substr(field + 16));
        while (buffer_.size() < end + 4 + length)
            if (!fill()) return answer;
        answer.status = std::stoi(head.substr(9, 3));
        answer.body = buffer_.substr(end + 4, length);
        buffer_.erase(0, end + 4 + length);
        return answer;
    }

private:
    bool fill() {
        pollfd readable{fd_, POLLIN, 0};
        if (::poll(&readable, 1, 20000) != 1) return false;
        char chunk[16384];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
    std::size_t sent_ = 0;
    std::string buffer_;
};

// A server that keeps connections serves a client asking again over the one it has. Each next
// request is with the server while the answer before it is still on its way (its body stalled),
// so no moment of quiet between the two decides whether the connection is kept.
TEST(LoopbackServerKeepAliveTest, RequestsOneAfterAnotherShareAConnection) {
    LoopbackServer::Options options;
    options.keepAlive = true;
    std::string error;
    LoopbackServer server(options, &error);
    ASSERT_TRUE(error.empty()) << error;
    const std::string body = digits(50 * 1024);
    server.serve("/body", Response::make(200, body));
    server.setFault("/body", Fault::stall(1000));
    KeptConnection connection(server.port());
    ASSERT_TRUE(connection.connected()) << std::strerror(errno);
    ASSERT_TRUE(connection.sendHeld("/body"));
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(server.waitForStalls(1, 20)) << "answer " << i << " never began: its request went unread";
        if (i < 5) {
            ASSERT_TRUE(connection.sendHeld("/body")) << "request " << i + 1;
        }
        // The answer goes on; a request that arrives after this stalls in turn.
        server.releaseStalls();
        const auto answer = connection.read();
        ASSERT_EQ(answer.status, 200) << "answer " << i << " did not come on the connection";
        EXPECT_EQ(answer.body, body) << "answer " << i;
    }
    EXPECT_EQ(server.requestsFor("/body").size(), 5u);
}

}  // namespace
