// The loopback server over cpp-httplib: one handler for every path and method logs the request,
// asks the path's handler, then shapes the answer by its fault while the body is written piece
// by piece. The HTTPS certificate is made with libcrypto once per process, so nothing secret or
// expiring is kept in the tree.
#include "demo/loopback/LoopbackServer.h"

#include "platform/foundation/ThreadAnnotations.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <locale>
#include <strings.h>
#include <sys/socket.h>
#include <thread>

namespace {

// How long a connection may wait for its request; a stop waits as long for a client that
// connected and then neither asked nor hung up.
constexpr std::chrono::seconds kRequestPatience{120};

struct TestIdentity {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    std::string pem;
};

[[noreturn]] void identityFailed(const char* step) {
    std::fprintf(stderr, "LoopbackServer: making the test certificate failed at %s\n", step);
    std::abort();
}

bool addExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!extension) return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// Kept for the life of the process: servers of every test share it.
const TestIdentity& identity() {
    static const TestIdentity* made = [] {
        auto* id = new TestIdentity;
        id->key = EVP_EC_gen("P-256");
        if (!id->key) identityFailed("key");
        X509* x = X509_new();
        id->certificate = x;
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), static_cast<long>(std::time(nullptr)));
        X509_gmtime_adj(X509_getm_notBefore(x), -3600);
        X509_gmtime_adj(X509_getm_notAfter(x), 10L * 365 * 86400);
        X509_set_pubkey(x, id->key);
        X509_NAME* name = X509_get_subject_name(x);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("Ostrel loopback test"), -1, -1, 0);
        X509_set_issuer_name(x, name);
        if (!addExtension(x, NID_basic_constraints, "critical,CA:TRUE") ||
            !addExtension(x, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost")) {
            identityFailed("extensions");
        }
        if (X509_sign(x, id->key, EVP_sha256()) <= 0) identityFailed("signature");
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(bio, x);
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        id->pem.assign(data, static_cast<std::size_t>(size));
        BIO_free(bio);
        return id;
    }();
    return *made;
}

std::optional<std::size_t> number(std::string_view text) {
    std::size_t value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || failure != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// One range of "bytes=a-b", "bytes=a-" or "bytes=-n" over `size` bytes, as [first, last].
// Anything else (several ranges, a malformed field) is ignored and the whole body served;
// `unsatisfiable` is set when the range starts at or past the end.
std::optional<std::pair<std::size_t, std::size_t>> rangeOf(const std::string& field, std::size_t size,
                                                            bool* unsatisfiable) {
    *unsatisfiable = false;
    constexpr std::string_view prefix = "bytes=";
    if (field.compare(0, prefix.size(), prefix) != 0 || field.find(',') != std::string::npos) return std::nullopt;
    const std::string_view spec = std::string_view(field).substr(prefix.size());
    const auto dash = spec.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    const auto first = number(spec.substr(0, dash)), last = number(spec.substr(dash + 1));
    if (!first && !last) return std::nullopt;
    if (!first) {  // the last n bytes
        if (*last == 0 || size == 0) {
            *unsatisfiable = true;
            return std::nullopt;
        }
        return std::pair(size - std::min(*last, size), size - 1);
    }
    if (last && *last < *first) return std::nullopt;
    if (*first >= size) {
        *unsatisfiable = true;
        return std::nullopt;
    }
    return std::pair(*first, std::min(last.value_or(size - 1), size - 1));
}

std::string contentRange(std::size_t first, std::size_t last, std::size_t size) {
    return "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size);
}

const char* const kErrorPage =
    "<!DOCTYPE html>\n<html><head><title>Error</title></head>\n"
    "<body><h1>Something went wrong</h1><p>The page you asked for could not be shown.</p></body></html>\n";
const char* const kSuspendedPage =
    "<!DOCTYPE html>\n<html><head><title>Account Suspended</title></head>\n"
    "<body><h1>This Account Has Been Suspended</h1><p>Contact your hosting provider.</p></body></html>\n";

bool hasNoBody(int status) { return status < 200 || status == 204 || status == 304; }

// The fault's redirect, status or page, then the range of a body that answers ranges (or the
// fault's wrong one). `target` is what the request asked for, where a redirect to itself goes.
void shape(LoopbackServer::Response& response, const LoopbackServer::Fault& fault, const std::string& target,
           const std::string& range) {
    if (fault.redirectTo) {
        response = LoopbackServer::Response::make(fault.status.value_or(302), "Redirected\n");
        response.headers.emplace_back("Location", fault.redirectTo->empty() ? target : *fault.redirectTo);
        return;
    }
    if (fault.status) {
        response.status = *fault.status;
        response.body = hasNoBody(response.status) ? "" : "Status " + std::to_string(response.status) + "\n";
        response.contentType = "text/plain; charset=utf-8";
        response.ranges = false;
    } else if (fault.page) {
        response = LoopbackServer::Response::make(200, fault.page == LoopbackServer::Fault::Page::Error ? kErrorPage : kSuspendedPage,
                                                  "text/html; charset=utf-8");
    }
    if (fault.framing) response.framing = *fault.framing;
    const std::size_t size = response.body.size();
    if (fault.rangeFrom && !fault.status && !fault.page) {
        const std::size_t start = *fault.rangeFrom < size ? *fault.rangeFrom : 0;
        response.status = 206;
        response.headers.emplace_back("Content-Range", contentRange(start, size ? size - 1 : 0, size));
        response.body.erase(0, start);
        return;
    }
    if (!response.ranges) return;
    response.headers.emplace_back("Accept-Ranges", "bytes");
    if (response.status != 200 || range.empty()) return;
    bool unsatisfiable = false;
    const auto span = rangeOf(range, size, &unsatisfiable);
    if (unsatisfiable) {
        response.status = 416;
        response.body = "Range Not Satisfiable\n";
        response.contentType = "text/plain; charset=utf-8";
        response.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
    } else if (span) {
        response.status = 206;
        response.headers.emplace_back("Content-Range", contentRange(span->first, span->second, size));
        response.body = response.body.substr(span->first, span->second - span->first + 1);
    }
}

}  // namespace

struct LoopbackServer::State {
    Mutex mutex;
    std::condition_variable changed;
    std::map<std::string, Handler> handlers GUARDED_BY(mutex);
    std::map<std::string, Handler> prefixHandlers GUARDED_BY(mutex);
    std::map<std::string, Handler> controlHandlers GUARDED_BY(mutex);
    std::map<std::string, Fault> faults GUARDED_BY(mutex);
    std::function<void(const Request&)> observer GUARDED_BY(mutex);
    std::vector<Request> log GUARDED_BY(mutex);
    int stalled GUARDED_BY(mutex) = 0;
    unsigned releases GUARDED_BY(mutex) = 0;
    bool stopping GUARDED_BY(mutex) = false;

    // A stalled body waits here until a release (true) or the end of the server (false: the
    // body is broken off). `seen` is the count of releases when its request arrived: a release
    // between the arrival and the stall lets it go too, or a test that takes a fault away while
    // the request is on its way would wait for nothing.
    bool stall(unsigned seen) EXCLUDES(mutex) {
        MutexLock lock(mutex);
        if (releases != seen || stopping) return !stopping;
        ++stalled;
        changed.notify_all();
        lock.wait(changed, [&]() REQUIRES(mutex) { return releases != seen || stopping; });
        --stalled;
        return !stopping;
    }

    // Waits `delay` of real time; false when the server began to stop meanwhile.
    bool waitOut(std::chrono::milliseconds delay) EXCLUDES(mutex) {
        const auto until = std::chrono::steady_clock::now() + delay;
        MutexLock lock(mutex);
        while (!stopping && std::chrono::steady_clock::now() < until) changed.wait_until(lock.unique(), until);
        return !stopping;
    }

    bool isStopping() EXCLUDES(mutex) {
        MutexLock lock(mutex);
        return stopping;
    }

    // The longest prefix of `path` among `handlers`, or none.
    static Handler longestPrefix(const std::map<std::string, Handler>& handlers, const std::string& path) {
        Handler found;
        std::size_t longest = 0;
        for (const auto& [prefix, handler] : handlers) {
            if (path.starts_with(prefix) && prefix.size() >= longest) {
                longest = prefix.size();
                found = handler;
            }
        }
        return found;
    }
};

class LoopbackServer::Impl {
public:
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    std::atomic<bool> listened{false};  // the listener has returned
    std::atomic<bool> workersMade{false};  // the listener has made the threads that answer
};

LoopbackServer::Parameters LoopbackServer::parametersOf(const std::string& query) {
    Parameters parameters;
    httplib::detail::parse_query_text(query, parameters);
    return parameters;
}

std::string LoopbackServer::parameter(const Parameters& parameters, std::string_view key) {
    const auto found = parameters.find(std::string(key));
    return found == parameters.end() ? std::string() : found->second;
}

std::string LoopbackServer::Request::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) return value;
    }
    return {};
}

LoopbackServer::Response LoopbackServer::Response::make(int status, std::string body, std::string contentType) {
    Response response;
    response.status = status;
    response.body = std::move(body);
    response.contentType = std::move(contentType);
    return response;
}

namespace {

// Sends the body piece by piece, honouring the fault's stall, reset and pace; breaks off when
// the server stops.
class BodyWriter {
public:
    BodyWriter(std::string body, const LoopbackServer::Fault& fault, bool chunked, std::function<bool()> stall,
               std::function<bool()> stopping)
        : body_(std::move(body)),
          size_(body_.empty() ? 0 : std::max(body_.size(), fault.repeatBodyTo)),
          piece_(std::max<std::size_t>(fault.pieceSize, 1)),
          pieceDelay_(fault.pieceDelay),
          stallAt_(fault.stallAfter),
          resetAt_(fault.resetAfter == LoopbackServer::Fault::halfway ? size_ / 2 : fault.resetAfter),
          chunked_(chunked),
          stall_(std::move(stall)),
          stopping_(std::move(stopping)) {}

    std::size_t size() const { return size_; }

    bool write(std::size_t offset, httplib::DataSink& sink) {
        if (offset >= resetAt_ || stopping_()) return false;
        if (offset >= stallAt_ && !stalled_) {
            stalled_ = true;
            if (!stall_()) return false;
        }
        std::size_t end = std::min(size_, offset + piece_);
        if (offset < stallAt_) end = std::min(end, stallAt_);
        if (offset < resetAt_) end = std::min(end, resetAt_);
        // A piece never crosses the end of one repetition of the body.
        if (end > offset) end = std::min(end, offset + body_.size() - offset % body_.size());
        if (pieceDelay_.count() > 0) std::this_thread::sleep_for(pieceDelay_);
        if (end > offset && !sink.write(body_.data() + offset % body_.size(), end - offset)) return false;
        if (chunked_ && end >= size_) sink.done();
        return true;
    }

private:
    std::string body_;
    std::size_t size_;
    std::size_t piece_;
    std::chrono::milliseconds pieceDelay_;
    std::size_t stallAt_;
    std::size_t resetAt_;
    bool chunked_;
    std::function<bool()> stall_;
    std::function<bool()> stopping_;
    bool stalled_ = false;
};

// The library compiles each route's pattern with std::regex, whose scanner reads the locale's
// character narrowing cache; libstdc++ fills that cache one character at a time on first use,
// unsynchronised, and servers are made on several threads at once. Filled once, before any.
void fillNarrowingCache() {
    static const bool filled = [] {
        const auto& ctype = std::use_facet<std::ctype<char>>(std::locale());
        for (int c = 1; c < 256; ++c) ctype.narrow(static_cast<char>(c), '\0');
        return true;
    }();
    (void)filled;
}

}  // namespace

LoopbackServer::LoopbackServer(Scheme scheme) : state_(std::make_shared<State>()), impl_(new Impl), scheme_(scheme) {
    Options options;
    options.scheme = scheme;
    std::string error;
    listen(options, &error);
    if (!listening()) {
        std::fprintf(stderr, "LoopbackServer: %s\n", error.c_str());
        std::abort();
    }
}

LoopbackServer::LoopbackServer(const Options& options, std::string* error)
    : state_(std::make_shared<State>()), impl_(new Impl), scheme_(options.scheme) {
    listen(options, error);
}

void LoopbackServer::listen(const Options& options, std::string* error) {
    fillNarrowingCache();
    if (options.scheme == Scheme::Https) {
        const TestIdentity& id = identity();
        impl_->server = std::make_unique<httplib::SSLServer>(id.certificate, id.key);
    } else {
        impl_->server = std::make_unique<httplib::Server>();
    }
    httplib::Server& server = *impl_->server;
    const int threads = std::max(1, options.threads);
    // The listener makes them once it runs: the start waits for them, so that every thread of
    // the server is there when it returns.
    server.new_task_queue = [threads, impl = impl_.get()] {
        auto* pool = new httplib::ThreadPool(static_cast<std::size_t>(threads));
        impl->workersMade = true;
        return pool;
    };
    // A client has as long for its handshake and its request as a test waits for a step: on a
    // loaded machine seconds may pass between its connection and its request, and a connection
    // dropped then would read as a failing service (the library's own bound is 5 s).
    server.set_read_timeout(kRequestPatience);
    // One request per connection unless asked otherwise; a kept connection is let go after a
    // moment of quiet, so a stopping server never waits long for an idle one.
    if (options.keepAlive) {
        server.set_keep_alive_max_count(1000);
        server.set_keep_alive_timeout(0);
        // The status line and the body go out in separate writes: on a kept connection Nagle's
        // rule would hold the body back until the client's delayed acknowledgement.
        server.set_tcp_nodelay(true);
    } else {
        server.set_keep_alive_max_count(1);
        server.set_keep_alive_timeout(kRequestPatience.count());
    }
    // cpp-httplib would share the port with any other listener (SO_REUSEPORT); a taken port
    // must fail instead.
    server.set_socket_options([](int socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    std::shared_ptr<State> state = state_;
    auto answer = [state](const httplib::Request& in, std::string body, httplib::Response& out) {
        Request request;
        request.method = in.method;
        request.target = in.target;
        request.path = in.path;
        const auto mark = in.target.find('?');
        if (mark != std::string::npos) request.query = in.target.substr(mark + 1);
        request.parameters = Parameters(in.params.begin(), in.params.end());
        for (const auto& [key, value] : in.headers) {
            // The server's own bookkeeping, not something the client sent.
            if (key == "REMOTE_ADDR" || key == "REMOTE_PORT" || key == "LOCAL_ADDR" || key == "LOCAL_PORT") continue;
            request.headers.emplace_back(key, value);
        }
        request.body = std::move(body);
        // Ranges are answered in shape(), with their faults; cpp-httplib would slice every body
        // itself. The request it hands in is its own non-const object.
        const_cast<httplib::Request&>(in).ranges.clear();
        Handler handler;
        Fault fault;
        std::function<void(const Request&)> observer;
        unsigned releasesSeen = 0;
        {
            MutexLock lock(state->mutex);
            releasesSeen = state->releases;
            handler = State::longestPrefix(state->controlHandlers, request.path);
            if (!handler) {
                state->log.push_back(request);
                state->changed.notify_all();
                observer = state->observer;
                auto found = state->handlers.find(request.path);
                handler = found != state->handlers.end() ? found->second
                                                         : State::longestPrefix(state->prefixHandlers, request.path);
                auto faulted = state->faults.find(request.path);
                if (faulted != state->faults.end()) fault = faulted->second;
            }
        }
        if (observer) observer(request);
        Response response = handler ? handler(request) : Response::make(404, "Not Found");
        if (response.fault) fault = *response.fault;
        if (fault.delay.count() > 0 && !state->waitOut(fault.delay)) {
            out.status = 503;
            out.set_content("Stopping\n", "text/plain; charset=utf-8");
            return;
        }
        const std::function<void()> answered = std::move(response.whenAnswered);
        shape(response, fault, request.target, request.header("Range"));

        out.status = response.status;
        for (const auto& [key, value] : response.headers) out.set_header(key, value);
        const bool chunked = response.framing == Framing::Chunked;
        auto writer = std::make_shared<BodyWriter>(
            std::move(response.body), fault, chunked, [state, releasesSeen] { return state->stall(releasesSeen); },
            [state] { return state->isStopping(); });
        if (!chunked && writer->size() == 0) {
            out.set_content("", response.contentType);
        } else if (chunked) {
            out.set_chunked_content_provider(
                response.contentType, [writer](std::size_t offset, httplib::DataSink& sink) { return writer->write(offset, sink); });
        } else {
            out.set_content_provider(
                writer->size(), response.contentType,
                [writer](std::size_t offset, std::size_t, httplib::DataSink& sink) { return writer->write(offset, sink); });
        }
        if (answered) answered();
    };
    // Every path and method reaches `answer`, with the request body read. Bodies are read here
    // rather than by cpp-httplib, which refuses a form-typed body over 8 KiB (the type the URL
    // stack gives a body sent without one, as the platform's does) and a POST without any length.
    auto plain = [answer](const httplib::Request& in, httplib::Response& out) { answer(in, in.body, out); };
    auto withBody = [answer](const httplib::Request& in, httplib::Response& out, const httplib::ContentReader& read) {
        std::string body;
        if (in.has_header("Content-Length") || in.has_header("Transfer-Encoding")) {
            read([&](const char* data, std::size_t length) {
                body.append(data, length);
                return true;
            });
        }
        answer(in, std::move(body), out);
    };
    server.Get(".*", plain);
    server.Post(".*", withBody);
    server.Put(".*", withBody);
    server.Patch(".*", withBody);
    server.Delete(".*", withBody);
    server.Options(".*", plain);
    errno = 0;
    if (options.port == 0) {
        port_ = server.bind_to_any_port("127.0.0.1");
    } else if (server.bind_to_port("127.0.0.1", options.port)) {
        port_ = options.port;
    }
    if (port_ <= 0) {
        const int cause = errno;
        port_ = 0;
        if (error) {
            *error = "Could not listen on 127.0.0.1:" + std::to_string(options.port) +
                     (cause ? std::string(": ") + std::strerror(cause) : std::string()) + ".";
        }
        return;
    }
    Impl& impl = *impl_;
    impl.listener = std::thread([&impl] {
        impl.server->listen_after_bind();
        impl.listened = true;
    });
    // stop() before the listener runs would be lost and leave it listening for ever.
    while (!(server.is_running() && impl.workersMade) && !impl.listened) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (impl.listened) {
        impl.listener.join();
        if (error) *error = "Could not listen on 127.0.0.1:" + std::to_string(port_) + ".";
        port_ = 0;
    }
}

LoopbackServer::~LoopbackServer() { stop(); }

void LoopbackServer::stop() {
    {
        MutexLock lock(state_->mutex);
        state_->stopping = true;
        state_->changed.notify_all();
    }
    if (impl_->listener.joinable()) {
        impl_->server->stop();
        impl_->listener.join();
    }
}

bool LoopbackServer::listening() const { return port_ > 0; }

std::string LoopbackServer::url(std::string_view pathAndQuery) const {
    return std::string(scheme_ == Scheme::Https ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) +
           std::string(pathAndQuery);
}

void LoopbackServer::handle(const std::string& path, Handler handler) {
    MutexLock lock(state_->mutex);
    state_->handlers[path] = std::move(handler);
}

void LoopbackServer::handlePrefix(const std::string& prefix, Handler handler) {
    MutexLock lock(state_->mutex);
    state_->prefixHandlers[prefix] = std::move(handler);
}

void LoopbackServer::handleControl(const std::string& prefix, Handler handler) {
    MutexLock lock(state_->mutex);
    state_->controlHandlers[prefix] = std::move(handler);
}

void LoopbackServer::serve(const std::string& path, Response response) {
    handle(path, [response = std::move(response)](const Request&) { return response; });
}

void LoopbackServer::setFault(const std::string& path, const Fault& fault) {
    MutexLock lock(state_->mutex);
    state_->faults[path] = fault;
}

void LoopbackServer::removeFault(const std::string& path) {
    {
        MutexLock lock(state_->mutex);
        state_->faults.erase(path);
    }
    releaseStalls();
}

void LoopbackServer::removeFaults() {
    {
        MutexLock lock(state_->mutex);
        state_->faults.clear();
    }
    releaseStalls();
}

bool LoopbackServer::waitForStalls(int count, double seconds) {
    MutexLock lock(state_->mutex);
    return state_->changed.wait_for(lock.unique(), std::chrono::duration<double>(seconds),
                                    [&]() REQUIRES(state_->mutex) { return state_->stalled >= count; });
}

void LoopbackServer::releaseStalls() {
    MutexLock lock(state_->mutex);
    ++state_->releases;
    state_->changed.notify_all();
}

void LoopbackServer::setRequestObserver(std::function<void(const Request&)> observer) {
    MutexLock lock(state_->mutex);
    state_->observer = std::move(observer);
}

bool LoopbackServer::waitForRequests(std::string_view path, std::size_t count, double seconds) {
    MutexLock lock(state_->mutex);
    auto enough = [&]() REQUIRES(state_->mutex) {
        std::size_t seen = 0;
        for (const auto& request : state_->log) seen += request.path == path ? 1 : 0;
        return seen >= count;
    };
    return state_->changed.wait_for(lock.unique(), std::chrono::duration<double>(seconds), enough);
}

std::vector<LoopbackServer::Request> LoopbackServer::requests() const {
    MutexLock lock(state_->mutex);
    return state_->log;
}

std::vector<LoopbackServer::Request> LoopbackServer::requestsFor(std::string_view path) const {
    std::vector<Request> found;
    for (auto& request : requests()) {
        if (request.path == path) found.push_back(std::move(request));
    }
    return found;
}

void LoopbackServer::clearRequests() {
    MutexLock lock(state_->mutex);
    state_->log.clear();
}

const std::string& LoopbackServer::certificatePEM() { return identity().pem; }
