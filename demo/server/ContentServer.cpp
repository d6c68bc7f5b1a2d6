// The content server's answers: files from its folder, the store's answers, and the control
// paths that set faults and read the log over HTTP.
#include "demo/server/ContentServer.h"

#include "demo/server/ContentServerStore.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

using Response = LoopbackServer::Response;

Response text(int status, const std::string& body) { return Response::make(status, body + "\n"); }

Response json(std::string body) { return Response::make(200, std::move(body), "application/json"); }

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
    // The articles' documents have addresses without an extension.
    if (extension.empty()) return "text/html; charset=utf-8";
    return "application/octet-stream";
}

}  // namespace

// One request per connection: a connection the server lets go just as a client takes it up again
// for its next download loses that download now and then.
ContentServer::ContentServer(Scheme scheme, int port, std::string* error)
    : LoopbackServer({scheme, port, 32, false}, error) {}

ContentServer::~ContentServer() { stop(); }

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

    std::unique_ptr<ContentServer> made(new ContentServer(options.scheme, options.port, &problem));
    if (!made->listening()) return fail(problem);
    made->root_ = root.string();
    made->store_ = std::move(store);
    made->store_->setHost(made->host());
    if (options.log) {
        made->setRequestObserver([log = options.log](const Request& request) {
            const std::string range = request.header("Range");
            log(request.method + " " + request.target + (range.empty() ? "" : " Range: " + range));
        });
    }
    ContentServer* server = made.get();
    made->handleControl("/__", [server](const Request& request) { return server->control(request); });
    made->handlePrefix("/", [server](const Request& request) { return server->route(request); });
    return made;
}

std::string ContentServer::host() const { return url(""); }

// A folder's page is its index.html. 400 for dot segments, NUL or backslashes, 404 for what is
// missing, not a file, or outside the root after links are followed.
std::optional<std::string> ContentServer::resolve(const std::string& path, int* status) const {
    *status = 400;
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos || path.find('\\') != std::string::npos)
        return std::nullopt;
    for (std::size_t from = 1; from <= path.size();) {
        const std::size_t slash = std::min(path.find('/', from), path.size());
        const std::string_view segment = std::string_view(path).substr(from, slash - from);
        if (segment == "." || segment == "..") return std::nullopt;
        from = slash + 1;
    }
    *status = 404;
    std::error_code ec;
    fs::path file = fs::canonical(fs::path(root_) / fs::path(path).relative_path(), ec);
    // The site's front page at "/".
    if (!ec && fs::is_directory(file, ec)) file = fs::canonical(file / "index.html", ec);
    if (ec || !fs::is_regular_file(file, ec)) return std::nullopt;
    const std::string inside = root_ + "/";
    if (file.string().compare(0, inside.size(), inside) != 0) return std::nullopt;
    *status = 200;
    return file.string();
}

Response ContentServer::serveFile(const std::string& method, const std::string& path) const {
    if (method != "GET" && method != "HEAD") {
        Response response = text(405, "Method Not Allowed");
        response.headers.emplace_back("Allow", "GET, HEAD");
        return response;
    }
    int status = 0;
    const auto file = resolve(path, &status);
    if (!file) return text(status, status == 400 ? "Bad Request" : "Not Found");
    // Read whole in one go, at the size the file has.
    std::ifstream in(*file, std::ios::binary | std::ios::ate);
    const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size < 0) return text(500, "Could not read the file");
    std::string body(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(body.data(), size)) return text(500, "Could not read the file");
    Response response = Response::make(200, std::move(body), contentTypeOf(*file));
    response.ranges = true;
    return response;
}

// A high-resolution file sent by e-mail: only checked, as nothing is sent from here.
Response ContentServer::sendByMail(const Request& request) const {
    const std::string address = request.parameter("mail_to");
    if (address.find('@') == std::string::npos) return text(400, "No e-mail address");
    int status = 0;
    if (!resolve("/data/" + request.parameter("dir_name") + "/" + request.parameter("fname"), &status))
        return text(status, status == 400 ? "Bad Request" : "No such file");
    return text(200, "The file is on its way to " + address + ".");
}

Response ContentServer::route(const Request& request) const {
    const std::string& path = request.path;
    if (path == "/likes/likes.php") return json(store_->likes(request.method, request.parameters));
    if (path == "/ostrelEngine/gallery_popular_pictures/api/get_app_texts.php")
        return json(store_->famousPosts(request.parameters));
    if (path == "/app_msg_manager/get_msg.php") return json(store_->remoteMessages(request.parameters));
    if (path == "/newappstest.plist") return Response::make(200, store_->applicationsList(), "application/xml");
    if (path == "/ostrelEngine/getFile.php") return sendByMail(request);
    return serveFile(request.method, path);
}

Response ContentServer::control(const Request& request) {
    const std::string& path = request.path;
    const std::string& method = request.method;
    if (path == "/__log" && method == "GET") {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& logged : requests()) {
            list.push_back({{"method", logged.method},
                            {"path", logged.path},
                            {"query", logged.query},
                            {"range", logged.header("Range")}});
        }
        return json(list.dump());
    }
    if (path == "/__log" && method == "DELETE") {
        clearRequests();
        return text(200, "ok");
    }
    if (path == "/__fault" && method == "POST") {
        const std::string target = request.parameter("path");
        if (target.empty() || target[0] != '/') return text(400, "The fault needs a path starting with \"/\".");
        std::string error;
        const auto fault = Fault::fromParameters(request.parameters, &error);
        if (!fault) return text(400, error);
        setFault(target, *fault);
        return text(200, target + ": " + fault->description());
    }
    if (path == "/__fault" && method == "DELETE") {
        if (request.parameters.count("path")) removeFault(request.parameter("path"));
        else removeFaults();
        return text(200, "ok");
    }
    if (path == "/__release" && method == "POST") {
        releaseStalls();
        return text(200, "ok");
    }
    return text(404, "Not Found");
}
