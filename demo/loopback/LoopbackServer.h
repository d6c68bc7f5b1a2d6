// A real HTTP or HTTPS server on 127.0.0.1, under the demo's content server and measurement
// service and used by the tests as it is: answers per path, a log of what was asked, and per-path
// or per-answer faults that make it fail as a real server does (a status, an HTML page, no
// length, a late, slow, stalled, reset or endless body, a range that starts where it should not,
// a redirect, back to the same address without end).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class LoopbackServer {
public:
    enum class Scheme { Http, Https };
    enum class Framing { Sized, Chunked };
    using Headers = std::vector<std::pair<std::string, std::string>>;
    // Query parameters, percent-decoded, in the order sent.
    using Parameters = std::multimap<std::string, std::string>;
    static constexpr std::size_t never = std::numeric_limits<std::size_t>::max();

    // The parameters of a query text ("a=1&b=x%20y"), as requests carry them.
    static Parameters parametersOf(const std::string& query);
    // The first value of `key`, "" when absent.
    static std::string parameter(const Parameters& parameters, std::string_view key);

    struct Request {
        std::string method;
        std::string target;  // the path and query as sent, still encoded
        std::string path;    // decoded
        std::string query;   // the raw text after "?", "" when none
        Parameters parameters;
        Headers headers;
        std::string body;
        // Case-insensitive; "" when absent.
        std::string header(std::string_view name) const;
        std::string parameter(std::string_view key) const { return LoopbackServer::parameter(parameters, key); }
    };

    // How an answer is spoilt. The parts combine (a status and a stall, a slow body that is reset);
    // the factories make the usual single ones.
    struct Fault {
        enum class Page { Error, Suspended };
        // resetAfter: half of the body, whatever its length.
        static constexpr std::size_t halfway = never - 1;

        // This status instead of the handler's, with a short text body (none for 1xx, 204 and 304);
        // the handler's header fields stay.
        std::optional<int> status;
        // An HTML page instead of the answer, served with 200.
        std::optional<Page> page;
        std::optional<Framing> framing;
        // A 206 whose Content-Range and body start at this byte (0 when past the end), whatever
        // range was asked for.
        std::optional<std::size_t> rangeFrom;
        // A late answer: real time waited before the status line. The server's stop breaks the
        // wait off, and the answer is then a 503.
        std::chrono::milliseconds delay{0};
        std::size_t pieceSize = 16 * 1024;
        // A slow body: a pause before each piece.
        std::chrono::milliseconds pieceDelay{0};
        // Sends this many body bytes, then waits for releaseStalls() (or the end of the server).
        std::size_t stallAfter = never;
        // Sends this many body bytes, then closes the connection.
        std::size_t resetAfter = never;
        // Above the body's length: an overlong body, the body sent again and again up to this
        // many bytes without anyone holding them.
        std::size_t repeatBodyTo = 0;
        // A redirect (302, or the status above) to this path or address instead of the answer;
        // "" sends the request back to what it asked for, a loop.
        std::optional<std::string> redirectTo;

        static Fault withStatus(int status);
        static Fault withPage(Page page);
        static Fault chunked();
        static Fault late(std::chrono::milliseconds delay);
        static Fault slow(std::chrono::milliseconds pieceDelay = std::chrono::milliseconds(200),
                          std::size_t pieceSize = 1024);
        static Fault stall(std::size_t after = 0);
        static Fault reset(std::size_t after = halfway);
        static Fault wrongRange(std::size_t from = 0);
        static Fault endless(std::size_t upTo);
        static Fault redirect(std::string to = "");

        // The text form, as the programs' options and control requests take it; other keys are
        // left alone:
        //   status=CODE  page=html|suspended  chunked  delay=MS  slow=MS [piece=BYTES]
        //   stall[=BYTES] (0)  reset[=BYTES] (half the body)  range-from=BYTE  endless=BYTES
        //   redirect[=TO] (a loop)
        // Empty, with a sentence in `error`, when none is named or a value is not a number in range.
        static std::optional<Fault> fromParameters(const Parameters& parameters, std::string* error);
        // "status 503, a stall after 1000 bytes", ... for a log.
        std::string description() const;
    };

    struct Response {
        int status = 200;
        std::string body;
        std::string contentType = "application/octet-stream";
        Headers headers;
        Framing framing = Framing::Sized;
        // This answer's own fault, in place of the path's.
        std::optional<Fault> fault;
        // A Range request for the body is answered: one range with 206, past the end with 416,
        // anything else with the whole body.
        bool ranges = false;
        // Called as the answer's status line is handed to the connection: at once, or for a late
        // answer once its delay has passed; never for one the server's stop broke off first.
        std::function<void()> whenAnswered;

        static Response make(int status, std::string body, std::string contentType = "text/plain; charset=utf-8");
    };
    using Handler = std::function<Response(const Request&)>;

    struct Options {
        Scheme scheme = Scheme::Http;
        // 0: a free port.
        int port = 0;
        // Answers in progress at once; a stalled body holds one.
        int threads = 8;
        // Connections kept for the client's next request as long as it comes at once (within
        // about 10 ms), so that stopping never waits for long on an idle one. Off: one request
        // per connection.
        bool keepAlive = false;
    };

    // On a free port of 127.0.0.1; aborts when it cannot listen. HTTPS uses certificatePEM().
    explicit LoopbackServer(Scheme scheme = Scheme::Http);
    // Listening as `options` say, or not listening() with a sentence in `error`.
    LoopbackServer(const Options& options, std::string* error);
    // Breaks stalled bodies off and stops. Virtual: the demo's services are loopback servers.
    virtual ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool listening() const;
    int port() const { return port_; }
    // "http://127.0.0.1:<port>" or "https://..." followed by `pathAndQuery`.
    std::string url(std::string_view pathAndQuery) const;

    // Answers for an exact path, any method; unknown paths get 404.
    void handle(const std::string& path, Handler handler);
    // Answers for every path that begins with `prefix` and has no exact handler; the longest
    // such prefix wins.
    void handlePrefix(const std::string& prefix, Handler handler);
    // Answers every path under `prefix` before any other handler: the server's own controls,
    // neither logged nor faulted.
    void handleControl(const std::string& prefix, Handler handler);
    void serve(const std::string& path, Response response);

    void setFault(const std::string& path, const Fault& fault);
    // Removing a fault lets the bodies stalled by now go on.
    void removeFault(const std::string& path);
    void removeFaults();
    // Blocks until `count` bodies are stalled at once (bounded by `seconds` of real time).
    [[nodiscard]] bool waitForStalls(int count = 1, double seconds = 20);
    // Lets go every stalled body, and every one still to stall whose request came before.
    void releaseStalls();

    // Called with each logged request on its arrival, on the server's threads.
    void setRequestObserver(std::function<void(const Request&)> observer);
    // Blocks until `count` requests for `path` were logged (bounded by `seconds` of real time).
    bool waitForRequests(std::string_view path, std::size_t count = 1, double seconds = 20);
    // Requests in arrival order, logged before their answer is sent.
    std::vector<Request> requests() const;
    std::vector<Request> requestsFor(std::string_view path) const;
    void clearRequests();

    // The self-signed test certificate of every HTTPS server of the process, made at first use
    // (P-256, valid for IP 127.0.0.1 and DNS localhost, for ten years).
    static const std::string& certificatePEM();

protected:
    // Stops answering and waits for the answers in progress; a subclass whose handlers use its
    // own members calls it first in its destructor.
    void stop();

private:
    struct State;
    class Impl;
    void listen(const Options& options, std::string* error);
    std::shared_ptr<State> state_;
    std::unique_ptr<Impl> impl_;
    Scheme scheme_;
    int port_ = 0;
};
