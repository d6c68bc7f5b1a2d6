// The content server over cpp-httplib: one handler for every path and method, which logs the
// request, answers it from the folder or the store, then applies the path's fault while the
// body is written piece by piece.
#include "demo/server/ContentServer.h"

#include "demo/server/ContentServerStore.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/socket.h>

namespace fs = std::filesystem;

namespace {

using Parameters = std::multimap<std::string, std::string>;

// What a path answers before any fault.
struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "text/plain; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    bool file = false;  // a served file: Range requests are answered
};

Reply text(int status, const std::string& body) {
    Reply reply;
    reply.status = status;
    reply.body = body + "\n";
    return reply;
}

Reply json(std::string body) {
    Reply reply;
    reply.body = std::move(body);
    reply.contentType = "application/json";
    return reply;
}

std::string contentTypeOf(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".jpg" || extension == ".jpeg") return "image/jpeg";
    if (extension == ".png") return "image/png";
    if (extension == ".m4a") return "audio/mp4";
    if (extension == ".mp3") return "audio/mpeg";
    if (extension == ".html") return "text/html; charset=utf-8";
    if (extension == ".json") return "application/json";
    if (extension == ".plist") return "application/xml";
    return "application/octet-stream";
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

}  // namespace

struct ContentServer::State {
    fs::path root;
    std::unique_ptr<ContentServerStore> store;
    std::function<void(const std::string&)> log;

    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, ContentServerFault> faults;
    std::vector<LoggedRequest> requests;
    int stalled = 0;
    unsigned releases = 0;
    bool stopping = false;

    // A stalled body waits here until a release or a removed fault (true), or the end of the
    // server (false: the body is broken off). `seen` is the count of releases when its request
    // arrived: a release between the arrival and the stall lets it go too, or a test that takes
    // a fault away while the request is on its way would wait for nothing.
    bool stall(unsigned seen) {
        std::unique_lock lock(mutex);
        if (releases != seen || stopping) return !stopping;
        ++stalled;
        changed.notify_all();
        changed.wait(lock, [&] { return releases != seen || stopping; });
        --stalled;
        return !stopping;
    }

    void release() {
        std::lock_guard lock(mutex);
        ++releases;
        changed.notify_all();
    }

    // The file under the root that `path` names: 400 for dot segments, NUL or backslashes,
    // 404 for what is missing, not a file, or outside the root after links are followed.
    std::optional<fs::path> resolve(const std::string& path, int* status) const {
        *status = 400;
        if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos ||
            path.find('\\') != std::string::npos)
            return std::nullopt;
        for (std::size_t from = 1; from <= path.size();) {
            const std::size_t slash = std::min(path.find('/', from), path.size());
            const std::string_view segment = std::string_view(path).substr(from, slash - from);
            if (segment == "." || segment == "..") return std::nullopt;
            from = slash + 1;
        }
        *status = 404;
        std::error_code ec;
        const fs::path file = fs::canonical(root / fs::path(path).relative_path(), ec);
        if (ec || !fs::is_regular_file(file, ec)) return std::nullopt;
        const std::string inside = root.string() + "/";
        if (file.string().compare(0, inside.size(), inside) != 0) return std::nullopt;
        *status = 200;
        return file;
    }

    Reply serveFile(const std::string& method, const std::string& path) const {
        if (method != "GET" && method != "HEAD") {
            Reply reply = text(405, "Method Not Allowed");
            reply.headers.emplace_back("Allow", "GET, HEAD");
            return reply;
        }
        int status = 0;
        const auto file = resolve(path, &status);
        if (!file) return text(status, status == 400 ? "Bad Request" : "Not Found");
        std::ifstream in(*file, std::ios::binary);
        Reply reply;
        reply.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) return text(500, "Could not read the file");
        reply.contentType = contentTypeOf(*file);
        reply.headers.emplace_back("Accept-Ranges", "bytes");
        reply.file = true;
        return reply;
    }

    // A high-resolution file sent by e-mail: only checked, as nothing is sent from here.
    Reply sendByMail(const Parameters& query) const {
        if (ContentServerStore::parameter(query, "mail_to").find('@') == std::string::npos) return text(400, "No e-mail address");
        int status = 0;
        if (!resolve("/data/" + ContentServerStore::parameter(query, "dir_name") + "/" + ContentServerStore::parameter(query, "fname"), &status))
            return text(status, status == 400 ? "Bad Request" : "No such file");
        return text(200, "The file is on its way to " + ContentServerStore::parameter(query, "mail_to") + ".");
    }

    Reply route(const httplib::Request& request) const {
        const std::string& path = request.path;
        if (path == "/likes/likes.php") return json(store->likes(request.method, request.params));
        if (path == "/ostrelEngine/gallery_popular_pictures/api/get_app_texts.php")
            return json(store->famousPosts(request.params));
        if (path == "/app_msg_manager/get_msg.php") return json(store->remoteMessages(request.params));
        if (path == "/newappstest.plist") {
            Reply reply;
            reply.body = store->applicationsList();
            reply.contentType = "application/xml";
            return reply;
        }
        if (path == "/ostrelEngine/getFile.php") return sendByMail(request.params);
        return serveFile(request.method, path);
    }

    Reply admin(const httplib::Request& request) {
        const std::string& path = request.path;
        const std::string& method = request.method;
        if (path == "/__log" && method == "GET") {
            nlohmann::json list = nlohmann::json::array();
            std::lock_guard lock(mutex);
            for (const auto& logged : requests)
                list.push_back(
                    {{"method", logged.method}, {"path", logged.path}, {"query", logged.query}, {"range", logged.range}});
            return json(list.dump());
        }
        if (path == "/__log" && method == "DELETE") {
            std::lock_guard lock(mutex);
            requests.clear();
            return text(200, "ok");
        }
        if (path == "/__fault" && method == "POST") {
            const std::string target = ContentServerStore::parameter(request.params, "path");
            if (target.empty() || target[0] != '/') return text(400, "The fault needs a path starting with \"/\".");
            std::string error;
            const auto fault = ContentServerFault::fromParameters(request.params, &error);
            if (!fault) return text(400, error);
            std::lock_guard lock(mutex);
            faults[target] = *fault;
            return text(200, target + ": " + fault->description());
        }
        if (path == "/__fault" && method == "DELETE") {
            {
                std::lock_guard lock(mutex);
                if (request.has_param("path")) faults.erase(ContentServerStore::parameter(request.params, "path"));
                else faults.clear();
            }
            release();
            return text(200, "ok");
        }
        if (path == "/__release" && method == "POST") {
            release();
            return text(200, "ok");
        }
        return text(404, "Not Found");
    }
};

namespace {

// Writes a body piece by piece, pausing, stalling or breaking off as the fault says.
class BodyWriter {
public:
    BodyWriter(std::string body, const std::optional<ContentServerFault>& fault, std::function<bool()> stall)
        : body_(std::move(body)), stall_(std::move(stall)) {
        if (!fault) return;
        if (fault->kind == ContentServerFault::Kind::Slow) {
            piece_ = fault->piece;
            delay_ = fault->delay;
        } else if (fault->kind == ContentServerFault::Kind::Stall) {
            stallAt_ = fault->after == ContentServerFault::kUnset ? 0 : fault->after;
        } else if (fault->kind == ContentServerFault::Kind::Reset) {
            resetAt_ = fault->after == ContentServerFault::kUnset ? body_.size() / 2 : fault->after;
        }
    }

    std::size_t size() const { return body_.size(); }

    bool write(std::size_t offset, httplib::DataSink& sink, bool chunked) {
        if (offset >= resetAt_) return false;
        if (offset >= stallAt_ && !stalled_) {
            stalled_ = true;
            if (!stall_()) return false;
        }
        std::size_t end = std::min(body_.size(), offset + piece_);
        if (offset < stallAt_) end = std::min(end, stallAt_);
        if (offset < resetAt_) end = std::min(end, resetAt_);
        if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
        if (end > offset && !sink.write(body_.data() + offset, end - offset)) return false;
        if (chunked && end >= body_.size()) sink.done();
        return true;
    }

private:
    static constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();
    std::string body_;
    std::function<bool()> stall_;
    std::size_t piece_ = 64 * 1024;
    std::chrono::milliseconds delay_{0};
    std::size_t stallAt_ = kNever;
    std::size_t resetAt_ = kNever;
    bool stalled_ = false;
};

const char* kErrorPage =
    "<!DOCTYPE html>\n<html><head><title>Error</title></head>\n"
    "<body><h1>Something went wrong</h1><p>The page you asked for could not be shown.</p></body></html>\n";
const char* kSuspendedPage =
    "<!DOCTYPE html>\n<html><head><title>Account Suspended</title></head>\n"
    "<body><h1>This Account Has Been Suspended</h1><p>Contact your hosting provider.</p></body></html>\n";

}  // namespace

class ContentServer::Impl {
public:
    std::shared_ptr<State> state = std::make_shared<State>();
    httplib::Server server;
    std::thread listener;
    std::atomic<bool> listened{false};  // the listener has returned
    int port = 0;

    void answer(const httplib::Request& request, httplib::Response& response) {
        // Ranges are answered here, with their faults; cpp-httplib would slice every body itself.
        // The request it hands in is its own non-const object.
        const_cast<httplib::Request&>(request).ranges.clear();
        Reply reply;
        std::optional<ContentServerFault> fault;
        unsigned releasesSeen = 0;
        const std::string range = request.get_header_value("Range");
        if (request.path.compare(0, 3, "/__") == 0) {
            reply = state->admin(request);
        } else {
            LoggedRequest logged{request.method, request.path, std::string(), range};
            const auto mark = request.target.find('?');
            if (mark != std::string::npos) logged.query = request.target.substr(mark + 1);
            {
                std::lock_guard lock(state->mutex);
                state->requests.push_back(logged);
                const auto found = state->faults.find(request.path);
                if (found != state->faults.end()) fault = found->second;
                releasesSeen = state->releases;
            }
            if (state->log) {
                state->log(request.method + " " + request.target + (range.empty() ? "" : " Range: " + range));
            }
            reply = state->route(request);
        }
        shape(reply, fault, range);

        response.status = reply.status;
        for (const auto& [key, value] : reply.headers) response.set_header(key, value);
        const bool chunked = fault && fault->kind == ContentServerFault::Kind::Chunked;
        const bool paced = fault && (fault->kind == ContentServerFault::Kind::Slow ||
                                     fault->kind == ContentServerFault::Kind::Stall ||
                                     fault->kind == ContentServerFault::Kind::Reset);
        if (reply.body.empty() && !chunked && !paced) {
            response.set_content("", reply.contentType);
            return;
        }
        auto writer = std::make_shared<BodyWriter>(std::move(reply.body), fault,
                                                   [state = state, releasesSeen] { return state->stall(releasesSeen); });
        if (chunked) {
            response.set_chunked_content_provider(reply.contentType, [writer](std::size_t offset, httplib::DataSink& sink) {
                return writer->write(offset, sink, true);
            });
        } else {
            response.set_content_provider(writer->size(), reply.contentType,
                                          [writer](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                              return writer->write(offset, sink, false);
                                          });
        }
    }

    // The fault's status or page, then the range of a file (or the fault's wrong one).
    static void shape(Reply& reply, const std::optional<ContentServerFault>& fault, const std::string& range) {
        using Kind = ContentServerFault::Kind;
        if (fault && fault->kind == Kind::Status) {
            reply = text(fault->status, "Status " + std::to_string(fault->status));
            return;
        }
        if (fault && (fault->kind == Kind::Html || fault->kind == Kind::Suspended)) {
            reply = Reply{};
            reply.body = fault->kind == Kind::Html ? kErrorPage : kSuspendedPage;
            reply.contentType = "text/html; charset=utf-8";
            return;
        }
        const std::size_t size = reply.body.size();
        if (fault && fault->kind == Kind::WrongRange) {
            const std::size_t start = fault->start < size ? fault->start : 0;
            reply.status = 206;
            reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(start) + "-" +
                                                            std::to_string(size ? size - 1 : 0) + "/" +
                                                            std::to_string(size));
            reply.body.erase(0, start);
            return;
        }
        if (!reply.file || reply.status != 200 || range.empty()) return;
        bool unsatisfiable = false;
        const auto span = rangeOf(range, size, &unsatisfiable);
        if (unsatisfiable) {
            reply = text(416, "Range Not Satisfiable");
            reply.headers.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        } else if (span) {
            reply.status = 206;
            reply.headers.emplace_back("Content-Range", "bytes " + std::to_string(span->first) + "-" +
                                                            std::to_string(span->second) + "/" + std::to_string(size));
            reply.body = reply.body.substr(span->first, span->second - span->first + 1);
        }
    }
};

ContentServer::ContentServer() : impl_(new Impl) {}

std::unique_ptr<ContentServer> ContentServer::start(const Options& options, std::string* error) {
    auto fail = [error](const std::string& sentence) {
        if (error) *error = sentence;
        return nullptr;
    };
    std::error_code ec;
    const fs::path root = fs::canonical(options.folder, ec);
    if (ec || !fs::is_directory(root, ec)) return fail("The folder to serve, " + options.folder + ", is not a folder.");
    const std::string fixtures = options.fixtures.empty() ? (root / "fixtures.json").string() : options.fixtures;
    std::string problem;
    std::unique_ptr<ContentServerStore> store = options.fixtures.empty() && !fs::exists(fixtures, ec)
                                                    ? ContentServerStore::fromJSON("{}", &problem)
                                                    : ContentServerStore::fromFile(fixtures, &problem);
    if (!store) return fail(problem);

    std::unique_ptr<ContentServer> made(new ContentServer);
    Impl& impl = *made->impl_;
    impl.state->root = root;
    impl.state->store = std::move(store);
    impl.state->log = options.log;
    httplib::Server& server = impl.server;
    // Stalled bodies hold a thread each; idle connections are let go soon, so stopping is quick.
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.set_keep_alive_timeout(1);
    // cpp-httplib would share the port with any other listener (SO_REUSEPORT); a taken port
    // must fail instead.
    server.set_socket_options([](int socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    auto answer = [&impl](const httplib::Request& request, httplib::Response& response) { impl.answer(request, response); };
    // Clients send no bodies. One that comes is read and dropped, so the connection stays in
    // step; a POST without any length is answered too, where cpp-httplib would refuse it.
    auto answerWithBody = [&impl](const httplib::Request& request, httplib::Response& response,
                                  const httplib::ContentReader& reader) {
        if (request.has_header("Content-Length") || request.has_header("Transfer-Encoding"))
            reader([](const char*, std::size_t) { return true; });
        impl.answer(request, response);
    };
    server.Get(".*", answer);
    server.Post(".*", answerWithBody);
    server.Put(".*", answerWithBody);
    server.Patch(".*", answerWithBody);
    server.Delete(".*", answer);
    server.Options(".*", answer);
    errno = 0;
    if (options.port == 0) {
        impl.port = server.bind_to_any_port("127.0.0.1");
    } else if (server.bind_to_port("127.0.0.1", options.port)) {
        impl.port = options.port;
    }
    if (impl.port <= 0) {
        const int cause = errno;
        return fail("Could not listen on 127.0.0.1:" + std::to_string(options.port) +
                    (cause ? std::string(": ") + std::strerror(cause) : std::string()) + ".");
    }
    impl.state->store->setHost(made->host());
    impl.listener = std::thread([&impl] {
        impl.server.listen_after_bind();
        impl.listened = true;
    });
    // stop() does nothing before the server runs, so the server is not handed out before.
    while (!server.is_running() && !impl.listened) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (impl.listened) return fail("Could not listen on 127.0.0.1:" + std::to_string(impl.port) + ".");
    return made;
}

ContentServer::~ContentServer() {
    {
        std::lock_guard lock(impl_->state->mutex);
        impl_->state->stopping = true;
        impl_->state->changed.notify_all();
    }
    if (impl_->listener.joinable()) {
        impl_->server.stop();
        impl_->listener.join();
    }
}

int ContentServer::port() const { return impl_->port; }

std::string ContentServer::host() const { return "http://127.0.0.1:" + std::to_string(impl_->port); }

void ContentServer::setFault(const std::string& path, const ContentServerFault& fault) {
    std::lock_guard lock(impl_->state->mutex);
    impl_->state->faults[path] = fault;
}

void ContentServer::removeFault(const std::string& path) {
    {
        std::lock_guard lock(impl_->state->mutex);
        impl_->state->faults.erase(path);
    }
    releaseStalls();
}

void ContentServer::removeFaults() {
    {
        std::lock_guard lock(impl_->state->mutex);
        impl_->state->faults.clear();
    }
    releaseStalls();
}

void ContentServer::releaseStalls() { impl_->state->release(); }

bool ContentServer::waitForStalls(int count, double seconds) {
    std::unique_lock lock(impl_->state->mutex);
    return impl_->state->changed.wait_for(lock, std::chrono::duration<double>(seconds),
                                          [&] { return impl_->state->stalled >= count; });
}

std::vector<ContentServer::LoggedRequest> ContentServer::requests() const {
    std::lock_guard lock(impl_->state->mutex);
    return impl_->state->requests;
}

void ContentServer::clearRequests() {
    std::lock_guard lock(impl_->state->mutex);
    impl_->state->requests.clear();
}
