// The demo's content server, a loopback server on 127.0.0.1. It serves the files of one folder
// under their URL paths, laid out as the clients ask for them ("/pic/<F>/<picture>",
// "/data/<F>/thumbs/<thumbnail>", "/data/<F>/<high-resolution file>",
// "/data/ostrelmedia/m4a/<composition>", the articles' documents "/document/d/<id>"; a folder's
// "index.html" for the folder, so "/" is the demo web site's front page), with Range requests answered by 206 and Content-Range,
// and never anything outside the folder (dot segments, encoded or not, and NUL are refused with
// 400). It answers, from a ContentServerStore:
//   GET|POST|DELETE /likes/likes.php                                        likes, popular list
//   GET /ostrelEngine/gallery_popular_pictures/api/get_app_texts.php         famous posts
//   GET /app_msg_manager/get_msg.php                                        remote messages
//   GET /newappstest.plist                                                  applications count
//   GET /ostrelEngine/getFile.php?mail_to=&fname=&dir_name=&show_fname=     a file by e-mail
//       (200 when the address has an "@" and "data/<dir_name>/<fname>" exists, else 400/404)
//
// Every request is logged when it arrives, before it is answered: requests() in the process,
// a line "<METHOD> <target>[ Range: <value>]" to the log callback, and
//   GET /__log               the log as a JSON list of {"method","path","query","range"}
//   DELETE /__log            forgets it
// Faults (LoopbackServer::Fault, in their text form) are set per path, for every method:
//   POST /__fault?path=<path>&<fault>              sets (or replaces) the fault of a path
//   DELETE /__fault[?path=<path>]                  removes one fault, or all; stalls go on
//   POST /__release                                lets stalled bodies go on
// The "/__" paths are neither logged nor faulted.
#pragma once

#include "demo/loopback/LoopbackServer.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class ContentServerStore;

class ContentServer : public LoopbackServer {
public:
    struct Options {
        // The folder whose files are served.
        std::string folder;
        // The fixtures of the store; "<folder>/fixtures.json" when empty. Without either file the
        // store is empty: likes and famous posts answer errors, messages none, the count 0.
        std::string fixtures;
        // 0: a free port.
        int port = 0;
        // Receives each request's log line, on the server's threads.
        std::function<void(const std::string& line)> log;
        // HTTPS with the loopback servers' certificate: as the host of the articles' documents.
        Scheme scheme = Scheme::Http;
    };

    // Listening on 127.0.0.1, or empty with a sentence in `error` (the folder or fixtures
    // unreadable, the port taken).
    static std::unique_ptr<ContentServer> start(const Options& options, std::string* error);
    // Breaks stalled bodies off and stops.
    ~ContentServer() override;

    // "http://127.0.0.1:<port>" (or "https://"): the host of the demo bundle's server configuration.
    std::string host() const;

private:
    ContentServer(Scheme scheme, int port, std::string* error);
    Response route(const Request& request) const;
    Response control(const Request& request);
    Response serveFile(const std::string& method, const std::string& path) const;
    Response sendByMail(const Request& request) const;
    // The file under the root that `path` names, or none with the status to answer.
    std::optional<std::string> resolve(const std::string& path, int* status) const;

    std::string root_;
    std::unique_ptr<ContentServerStore> store_;
};
