// The least an HTTP/1.1 server can do, for client-bound benchmarks: on 127.0.0.1, every GET
// answered with the same body, connections kept open for as long as the client keeps them.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class MinimalHTTPServer {
public:
    explicit MinimalHTTPServer(std::string body);
    ~MinimalHTTPServer();
    MinimalHTTPServer(const MinimalHTTPServer&) = delete;
    MinimalHTTPServer& operator=(const MinimalHTTPServer&) = delete;

    // "http://127.0.0.1:<port>" followed by `path`; every path gives the body.
    std::string url(const std::string& path) const;

private:
    void acceptLoop();
    void serve(int connection);

    std::string response_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<int> connections_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};
