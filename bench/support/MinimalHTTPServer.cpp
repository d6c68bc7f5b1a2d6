#include "bench/support/MinimalHTTPServer.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

MinimalHTTPServer::MinimalHTTPServer(std::string body) {
    response_ = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body;
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("MinimalHTTPServer");
        std::exit(1);
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

MinimalHTTPServer::~MinimalHTTPServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    {
        std::lock_guard lock(mutex_);
        for (int connection : connections_) ::shutdown(connection, SHUT_RDWR);
    }
    for (auto& thread : threads_) thread.join();
    for (int connection : connections_) ::close(connection);
    ::close(listener_);
}

std::string MinimalHTTPServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void MinimalHTTPServer::acceptLoop() {
    while (!stopping_) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        const int yes = 1;
        ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(connection);
            break;
        }
        connections_.push_back(connection);
        threads_.emplace_back([this, connection] { serve(connection); });
    }
}

// Requests without bodies, one after the other: each complete header block gets the answer.
void MinimalHTTPServer::serve(int connection) {
    std::string pending;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t end = 0;
        bool failed = false;
        while ((end = pending.find("\r\n\r\n")) != std::string::npos) {
            pending.erase(0, end + 4);
            for (std::size_t sent = 0; sent < response_.size();) {
                const ssize_t put = ::send(connection, response_.data() + sent, response_.size() - sent, MSG_NOSIGNAL);
                if (put <= 0) {
                    failed = true;
                    break;
                }
                sent += static_cast<std::size_t>(put);
            }
            if (failed) break;
        }
        if (failed) break;
    }
    // Closed by the server's end (shut down, not closed, there) or here once the client went.
    std::lock_guard lock(mutex_);
    if (!stopping_) {
        std::erase(connections_, connection);
        ::close(connection);
    }
}
