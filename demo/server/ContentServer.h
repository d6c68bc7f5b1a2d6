// The demo's content server, on 127.0.0.1 only. It serves the files of one folder under their
// URL paths, laid out as the clients ask for them ("/pic/<F>/<picture>", "/data/<F>/thumbs/
// <thumbnail>", "/data/<F>/<high-resolution file>", "/data/ostrelmedia/m4a/<composition>"),
// with Range requests answered by 206 and Content-Range, and never anything outside the folder
// (dot segments, encoded or not, and NUL are refused with 400). It answers, from a
// ContentServerStore:
//   GET|POST|DELETE /likes/likes.php                                        likes, popular list
//   GET /ostrelEngine/gallery_popular_pictures/api/get_app_texts.php         famous posts
//   GET /app_msg_manager/get_msg.php                                        remote messages
//   GET /newappstest.plist                                                  applications count
//   GET /ostrelEngine/getFile.php?mail_to=&fname=&dir_name=&show_fname=     a file by e-mail
//       (200 when the address has an "@" and "data/<dir_name>/<fname>" exists, else 400/404)
//
// Every request is logged when it arrives, before it is answered: requests() in the process,
// a line "<METHOD> <path>[?<query>][ Range: <value>]" to the log callback, and
//   GET /__log               the log as a JSON list of {"method","path","query","range"}
//   DELETE /__log            forgets it
// Faults (ContentServerFault) are set per path, for every method:
//   POST /__fault?path=<path>&kind=<kind>[&...]    sets (or replaces) the fault of a path
//   DELETE /__fault[?path=<path>]                  removes one fault, or all; stalls go on
//   POST /__release                                lets stalled bodies go on
// The "/__" paths are neither logged nor faulted.
#pragma once

#include "demo/server/ContentServerFault.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class ContentServer {
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
    };

    struct LoggedRequest {
        std::string method;
        std::string path;   // decoded
        std::string query;  // as sent, "" when none
        std::string range;  // the Range field, "" when none
    };

    // Listening on 127.0.0.1, or empty with a sentence in `error` (the folder or fixtures
    // unreadable, the port taken).
    static std::unique_ptr<ContentServer> start(const Options& options, std::string* error);
    // Lets stalled bodies go and stops.
    ~ContentServer();
    ContentServer(const ContentServer&) = delete;
    ContentServer& operator=(const ContentServer&) = delete;

    int port() const;
    // "http://127.0.0.1:<port>": the host of the demo bundle's server configuration.
    std::string host() const;

    void setFault(const std::string& path, const ContentServerFault& fault);
    void removeFault(const std::string& path);
    void removeFaults();
    // Lets go every stalled body, and every one still to stall whose request came before.
    void releaseStalls();
    // Blocks until `count` bodies are stalled at once, or `seconds` of real time have passed.
    bool waitForStalls(int count, double seconds);

    std::vector<LoggedRequest> requests() const;
    void clearRequests();

private:
    struct State;
    class Impl;
    ContentServer();
    std::unique_ptr<Impl> impl_;
};
