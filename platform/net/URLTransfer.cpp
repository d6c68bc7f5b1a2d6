// Transfers over libcurl: one multi handle on a network thread of its own runs them all; the
// idle time-out is a clock timer, so a manual clock drives it; whichever of finish, failure,
// time-out and cancel comes first is the one reported. The network's shutdown cancels the live
// transfers and joins the thread (URLNetwork).
#include "platform/net/URLTransfer.h"

#include "platform/foundation/FileIO.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/PlatformThreads.h"
#include "platform/net/HTTPHeaderParser.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/URLHostRewrite.h"
#include "platform/net/URLLoopbackGuard.h"
#include "platform/net/URLNetwork.h"
#include "platform/net/URLTrustAnchors.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <strings.h>
#include <thread>

namespace {

std::string trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return std::string(s);
}

// A part of a URL libcurl has parsed; "" when it has none.
std::string urlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || !text) return {};
    std::string value(text);
    curl_free(text);
    return value;
}

// "scheme://host:port", the scheme's port where none is written, as libcurl reads the URL
// `location` names from `base` (an absolute `location` stands alone); "" when it cannot be read.
std::string originOf(const std::string& base, const std::string& location = {}) {
    CURLU* url = curl_url();
    if (!url) return {};
    std::string origin;
    // The flags libcurl resolves a followed Location with.
    if (curl_url_set(url, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
        (location.empty() ||
         curl_url_set(url, CURLUPART_URL, location.c_str(), CURLU_URLENCODE | CURLU_ALLOW_SPACE) == CURLUE_OK)) {
        const std::string scheme = urlPart(url, CURLUPART_SCHEME), host = urlPart(url, CURLUPART_HOST);
        const std::string port = urlPart(url, CURLUPART_PORT, CURLU_DEFAULT_PORT);
        if (!scheme.empty() && !host.empty()) origin = NSString::lowercaseString(scheme + "://" + host) + ":" + port;
    }
    curl_url_cleanup(url);
    return origin;
}

// The sockets libcurl made for connections, so that a transfer can find the one it was given,
// new or kept from an earlier transfer, by its ports, and read the connection's own count of
// bytes: libcurl shows a head only line by line.
class ConnectionSockets {
public:
    static ConnectionSockets& shared() {
        static auto* sockets = new ConnectionSockets;  // sockets may close as the process exits
        return *sockets;
    }
    void add(curl_socket_t socket) {
        MutexLock lock(mutex_);
        sockets_.insert(socket);
    }
    void remove(curl_socket_t socket) {
        MutexLock lock(mutex_);
        sockets_.erase(socket);
    }
    curl_socket_t find(int localPort, int peerPort) {
        MutexLock lock(mutex_);
        for (curl_socket_t socket : sockets_) {
            if (portOf(socket, &getsockname) == localPort && portOf(socket, &getpeername) == peerPort) return socket;
        }
        return CURL_SOCKET_BAD;
    }

private:
    static int portOf(curl_socket_t socket, int (*name)(int, sockaddr*, socklen_t*)) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (name(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
        if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
        if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
        return -1;
    }

    Mutex mutex_;
    std::set<curl_socket_t> sockets_ GUARDED_BY(mutex_);
};

int onSocketMade(void*, curl_socket_t socket, curlsocktype purpose) {
    if (purpose == CURLSOCKTYPE_IPCXN) ConnectionSockets::shared().add(socket);
    return CURL_SOCKOPT_OK;
}

int onSocketClosing(void*, curl_socket_t socket) {
    ConnectionSockets::shared().remove(socket);
    return close(socket);
}

// Bytes the connection has sent (and had acknowledged) and received; none when it cannot say.
std::optional<std::uint64_t> connectionBytes(curl_socket_t socket) {
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &length) != 0 ||
        length < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
        return std::nullopt;
    return info.tcpi_bytes_acked + info.tcpi_bytes_received;
}

// The network thread's name; a thread it starts bears it too until it names itself.
constexpr const char* kNetworkThreadName = "url-network";

// The name /proc gives the thread `task`; "" once it has gone.
std::string threadName(FileIO& io, const std::string& task) {
    int fd = -1;
    if (io.open("/proc/self/task/" + task + "/comm", O_RDONLY | O_CLOEXEC, 0, fd) != 0) return {};
    std::uint8_t buffer[32] = {};
    std::size_t got = 0;
    const int failed = io.read(fd, buffer, sizeof buffer, got);
    (void)io.close(fd);
    if (failed) return {};
    std::string name(reinterpret_cast<const char*>(buffer), got);
    while (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
}

// The threads of libcurl's resolver, each running one name lookup: the only threads the network
// thread starts, so the ones bearing its name but for `networkThread` itself and the platform's
// own threads (which name themselves as they start).
std::size_t lookupThreads(pid_t networkThread) {
    const auto io = FileIO::posix();  // the process itself, whatever file system a test put in place
    std::vector<std::string> tasks;
    if (io->listFolder("/proc/self/task", tasks) != 0) return 0;
    const auto platform = PlatformThreads::running();
    std::size_t count = 0;
    for (const auto& task : tasks) {
        const pid_t id = static_cast<pid_t>(std::atoi(task.c_str()));
        if (id == networkThread || platform.count(id)) continue;
        if (threadName(*io, task) == kNetworkThreadName) ++count;
    }
    return count;
}

}  // namespace

// The process's network thread: adds and removes easy handles as it is told, and reports
// what libcurl finished. It keeps the live transfers, so that a shutdown can end them and then
// stop the thread. The object is never destroyed: transfers may still end as the process exits.
class URLNetworkThread {
public:
    static URLNetworkThread& shared() {
        static auto* thread = new URLNetworkThread;
        return *thread;
    }

    // What a transfer ends with that the shutdown cancels or that comes after it.
    static NSErrorPtr shutDownError(const std::string& url) {
        return makeURLError(NSURLErrorCancelled, url, "the network is shut down: the application is ending");
    }

    // False once the network is shut down: the transfer is not taken.
    bool add(std::shared_ptr<URLTransfer> transfer) {
        MutexLock lock(mutex_);
        if (shutDown_) return false;
        live_[transfer.get()] = transfer;
        commands_.emplace_back(std::move(transfer), true);
        noteActivityLocked();
        curl_multi_wakeup(multi_);
        return true;
    }

    // Runs the transfers' callbacks soon, so that one waiting to resume is unpaused.
    void wake() {
        MutexLock lock(mutex_);
        if (running_ && multi_) curl_multi_wakeup(multi_);
    }

    void remove(std::shared_ptr<URLTransfer> transfer) {
        MutexLock lock(mutex_);
        // A stopped thread has let go of every handle already.
        if (!running_) return;
        commands_.emplace_back(std::move(transfer), false);
        curl_multi_wakeup(multi_);
    }

    // On the network thread, from a transfer's callback: `transfer` reported to its client
    // in this pass and hears when it ends.
    void reported(std::shared_ptr<URLTransfer> transfer) { reported_.push_back(std::move(transfer)); }

    // The transfer has told its client how it ended.
    void ended(const URLTransfer* transfer) {
        MutexLock lock(mutex_);
        if (live_.erase(transfer) > 0) noteActivityLocked();
    }

    void noteActivity() {
        MutexLock lock(mutex_);
        noteActivityLocked();
    }

    void shutdown() {
        std::vector<std::shared_ptr<URLTransfer>> live;
        {
            MutexLock lock(mutex_);
            if (shutDown_) return;
            shutDown_ = true;
            for (const auto& [address, weak] : live_)
                if (auto transfer = weak.lock()) live.push_back(std::move(transfer));
        }
        // Each client hears of its end before the thread goes; their removals are queued ahead
        // of the stop.
        for (const auto& transfer : live) transfer->cancel(shutDownError(transfer->url_));
        {
            MutexLock lock(mutex_);
            stopping_ = true;
            curl_multi_wakeup(multi_);
        }
        thread_.join();
        MutexLock lock(mutex_);
        running_ = false;
        curl_multi_cleanup(multi_);
        multi_ = nullptr;
        commands_.clear();
        changed_.notify_all();
    }

    bool isShutDown() {
        MutexLock lock(mutex_);
        return shutDown_;
    }

    void restart() {
        MutexLock lock(mutex_);
        // Not while a shutdown is still joining the thread.
        if (!shutDown_ || running_) return;
        startLocked();
    }

    std::size_t liveCount() {
        MutexLock lock(mutex_);
        return live_.size();
    }

    std::uint64_t activityCount() {
        MutexLock lock(mutex_);
        return activity_;
    }

    bool waitForActivity(std::uint64_t since, double timeoutSeconds) {
        MutexLock lock(mutex_);
        return changed_.wait_for(lock.unique(), std::chrono::duration<double>(std::max(0.0, timeoutSeconds)),
                                 [&]() REQUIRES(mutex_) { return activity_ != since; });
    }

    bool waitForLookupThreads(double timeoutSeconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                                    std::chrono::duration<double>(std::max(0.0, timeoutSeconds)));
        // Nothing says when such a thread ends: it is looked for again and again.
        for (;;) {
            if (lookupThreads(threadId_.load()) == 0) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    bool waitUntilQuiet(double quietSeconds, double timeoutSeconds) {
        using Steady = std::chrono::steady_clock;
        const auto quiet = std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(quietSeconds));
        const auto deadline = Steady::now() + std::chrono::duration_cast<Steady::duration>(
                                                  std::chrono::duration<double>(std::max(0.0, timeoutSeconds)));
        bool quietNow = false;
        {
            MutexLock lock(mutex_);
            for (;;) {
                const auto now = Steady::now();
                if (live_.empty() || now >= lastActivity_ + quiet) {
                    quietNow = true;
                    break;
                }
                if (now >= deadline) break;
                changed_.wait_until(lock.unique(), std::min(deadline, lastActivity_ + quiet));
            }
        }
        const bool caughtUp = catchUp(quietNow ? deadline : Steady::now() + std::chrono::seconds(1));
        return quietNow && caughtUp;
    }

private:
    URLNetworkThread() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        MutexLock lock(mutex_);
        startLocked();
    }

    void startLocked() REQUIRES(mutex_) {
        multi_ = curl_multi_init();
        if (!multi_) {
            std::fprintf(stderr, "URLTransfer: libcurl could not make its multi handle; aborting.\n");
            std::abort();
        }
        shutDown_ = false;
        stopping_ = false;
        running_ = true;
        thread_ = std::thread([this] {
            PlatformThreads::Member member(kNetworkThreadName);
            threadId_ = gettid();
            run();
        });
    }

    void noteActivityLocked() REQUIRES(mutex_) {
        ++activity_;
        lastActivity_ = std::chrono::steady_clock::now();
        changed_.notify_all();
    }

    // Passes of the network thread until one finds nothing new (a large body may need more
    // than one): everything that had arrived is then with the clients. False when a pass did
    // not end by `deadline` (a client's callback held the thread): what arrived may still wait.
    bool catchUp(std::chrono::steady_clock::time_point deadline) {
        for (int round = 0; round < 16; ++round) {
            MutexLock lock(mutex_);
            if (stopping_ || !running_ || live_.empty()) return true;
            const std::uint64_t before = activity_;
            // The pass under way may have looked at the sockets before the call: wait for the
            // next one too, waking the thread for each.
            const std::uint64_t start = passes_;
            for (std::uint64_t target = start + 1; target <= start + 2; ++target) {
                curl_multi_wakeup(multi_);
                if (!changed_.wait_until(lock.unique(), deadline,
                                         [&]() REQUIRES(mutex_) { return passes_ >= target || stopping_; }))
                    return false;
                if (stopping_) return true;
            }
            if (activity_ == before) return true;
        }
        return true;
    }

    void run() {
        for (;;) {
            std::vector<std::pair<std::shared_ptr<URLTransfer>, bool>> commands;
            bool stopping = false;
            {
                MutexLock lock(mutex_);
                commands.swap(commands_);
                stopping = stopping_;
            }
            for (auto& [transfer, add] : commands) {
                CURL* easy = transfer->easy_;
                if (add) {
                    // Taking the handle out again (a cancel, a time-out, the shutdown) does not
                    // wait for a name lookup under way: libcurl leaves the lookup's thread to end
                    // by itself, freeing what it holds, once the system's resolver answers.
                    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
                    curl_multi_add_handle(multi_, easy);
                    active_[easy] = std::move(transfer);
                    continue;
                }
                auto found = active_.find(easy);
                if (found == active_.end()) continue;
                release(*found->second);  // before the transfer can go, taking its handle
                active_.erase(found);
            }
            if (stopping) {
                for (auto& [easy, transfer] : active_) release(*transfer);
                active_.clear();
                endPass();
                return;
            }
            int running = 0;
            curl_multi_perform(multi_, &running);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
                if (message->msg != CURLMSG_DONE) continue;
                auto found = active_.find(message->easy_handle);
                if (found == active_.end()) continue;
                std::shared_ptr<URLTransfer> transfer = std::move(found->second);
                active_.erase(found);
                const CURLcode result = message->data.result;
                curl_multi_remove_handle(multi_, transfer->easy_);
                transfer->finishedInCurl(result);
                transfer->releaseHandle();
            }
            // Before the pass counts as done: a catch-up waits for what it handed on.
            endPass();
            {
                MutexLock lock(mutex_);
                ++passes_;
                changed_.notify_all();
            }
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        }
    }

    void endPass() {
        std::vector<std::shared_ptr<URLTransfer>> reported;
        reported.swap(reported_);
        for (const auto& transfer : reported) transfer->passEnded();
    }

    // Takes the transfer's handle out of the multi handle and frees it here, on the thread
    // that used it, while libcurl is sure to be set up.
    void release(URLTransfer& transfer) {
        curl_multi_remove_handle(multi_, transfer.easy_);
        transfer.releaseHandle();
    }

    Mutex mutex_;
    std::condition_variable changed_;
    CURLM* multi_ = nullptr;  // replaced only while the thread is stopped
    std::thread thread_;  // started and joined by whoever holds the network (first use, shutdown, restart)
    std::atomic<pid_t> threadId_{0};  // the system's id of the thread last started
    bool running_ GUARDED_BY(mutex_) = false;
    bool shutDown_ GUARDED_BY(mutex_) = false;
    bool stopping_ GUARDED_BY(mutex_) = false;
    std::uint64_t passes_ GUARDED_BY(mutex_) = 0;
    std::uint64_t activity_ GUARDED_BY(mutex_) = 0;
    std::chrono::steady_clock::time_point lastActivity_ GUARDED_BY(mutex_){};
    std::vector<std::pair<std::shared_ptr<URLTransfer>, bool>> commands_ GUARDED_BY(mutex_);
    std::map<const URLTransfer*, std::weak_ptr<URLTransfer>> live_ GUARDED_BY(mutex_);
    std::map<CURL*, std::shared_ptr<URLTransfer>> active_;  // the network thread's alone
    std::vector<std::shared_ptr<URLTransfer>> reported_;    // the network thread's alone
};

void URLNetwork::shutdown() { URLNetworkThread::shared().shutdown(); }
bool URLNetwork::isShutDown() { return URLNetworkThread::shared().isShutDown(); }
void URLNetwork::restart() { URLNetworkThread::shared().restart(); }
std::size_t URLNetwork::liveTransferCount() { return URLNetworkThread::shared().liveCount(); }
std::uint64_t URLNetwork::activityCount() { return URLNetworkThread::shared().activityCount(); }
bool URLNetwork::waitForActivity(std::uint64_t since, double timeoutSeconds) {
    return URLNetworkThread::shared().waitForActivity(since, timeoutSeconds);
}
bool URLNetwork::waitForLookupThreads(double timeoutSeconds) {
    return URLNetworkThread::shared().waitForLookupThreads(timeoutSeconds);
}
bool URLNetwork::waitUntilQuiet(double quietSeconds, double timeoutSeconds) {
    return URLNetworkThread::shared().waitUntilQuiet(quietSeconds, timeoutSeconds);
}

std::shared_ptr<URLTransfer> URLTransfer::make(const NSURLRequest& request, double idleTimeout,
                                               std::shared_ptr<URLTransferClient> client) {
    URLNetworkThread::shared();  // initialises libcurl before the first handle is made
    std::shared_ptr<URLTransfer> transfer(new URLTransfer);
    {
        MutexLock lock(transfer->mutex_);  // not shared yet: for the analysis only
        transfer->client_ = std::move(client);
        transfer->timeout_ = idleTimeout > 0 ? idleTimeout : NSURLRequest::defaultTimeoutInterval;
    }
    transfer->configured_ = transfer->configure(request);
    return transfer;
}

void URLTransfer::start() {
    if (!configured_) {
        complete(makeURLError(NSURLErrorUnknown, url_, "libcurl could not make a handle"));
        return;
    }
    {
        MutexLock lock(mutex_);
        if (done_) return;
        const double now = Clock::now();
        lastActivity_ = now;
        armTimerLocked(now + timeout_);
        // Under the lock, so a cancel's removal is always queued after this.
        if (URLNetworkThread::shared().add(shared_from_this())) return;
    }
    complete(URLNetworkThread::shutDownError(url_));
}

bool URLTransfer::configure(const NSURLRequest& request) {
    CURL* easy = curl_easy_init();
    if (!easy) return false;
    easy_ = easy;
    const auto& url = request.URL();
    url_ = url ? url->absoluteString() : "";
    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &onSocketMade);
    curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &onSocketClosing);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &URLTransfer::onPrerequest);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &URLTransfer::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &URLTransfer::onData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &URLTransfer::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    URLLoopbackGuard::applyTo(easy);
    // libcurl refuses a declared length over the bound before any body comes; receiveData
    // counts what comes without one.
    maximumBodyLength_ = request.maximumBodyLength();
    if (maximumBodyLength_ > 0)
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maximumBodyLength_));

    // A host's anchors are for its certificate, so only HTTPS carries them; they hold for the
    // handle's whole life, so its redirects may not leave the origin they were given for.
    if (url && url->scheme() == "https") authorities_ = URLTrustAnchors::authoritiesForHost(url->host());
    if (!authorities_.empty()) {
        curl_blob blob{authorities_.data(), authorities_.size(), CURL_BLOB_NOCOPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
        anchoredOrigin_ = originOf(url_);
    }
    followsRedirects_ = request.followsRedirects_;
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, followsRedirects_ ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 16L);
    // A proxy's answer to the tunnel's CONNECT is the proxy's, never the server's.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

    curl_slist* connectTo = nullptr;
    for (const auto& entry : URLHostRewrite::connectToEntries()) connectTo = curl_slist_append(connectTo, entry.c_str());
    connectTo_ = connectTo;
    if (connectTo) curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectTo);

    // libcurl would add "Expect: 100-continue" to large bodies; the platform never waits so.
    curl_slist* headers = curl_slist_append(nullptr, "Expect:");
    for (const auto& [name, value] : request.headerFields()) {
        // "Name;" is libcurl's way of sending a field with an empty value.
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        headers = curl_slist_append(headers, line.c_str());
    }
    requestHeaders_ = headers;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);

    const std::string& method = request.HTTPMethod();
    body_ = request.HTTPBody();
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method == "POST" || !body_.empty()) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body_.empty() ? "" : reinterpret_cast<const char*>(body_.data()));
        if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method != "GET") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    return true;
}

URLTransfer::~URLTransfer() {
    releaseHandle();
    curl_slist_free_all(requestHeaders_);
    curl_slist_free_all(connectTo_);
}

void URLTransfer::releaseHandle() {
    if (easy_) curl_easy_cleanup(easy_);
    easy_ = nullptr;
}

void URLTransfer::armTimerLocked(double at) {
    std::weak_ptr<URLTransfer> weak = weak_from_this();
    timer_ = Clock::schedule(
        at,
        [weak] {
            if (auto transfer = weak.lock()) transfer->timerFired();
        },
        "the timeout of a request for " + url_, Clock::TimerKind::Deadline);
}

void URLTransfer::timerFired() {
    {
        MutexLock lock(mutex_);
        if (done_) return;
        const double due = lastActivity_ + timeout_;
        if (Clock::now() < due) {
            armTimerLocked(due);
            return;
        }
    }
    if (complete(makeURLError(NSURLErrorTimedOut, url_))) URLNetworkThread::shared().remove(shared_from_this());
}

bool URLTransfer::cancel(NSErrorPtr error) {
    if (!complete(std::move(error))) return false;
    URLNetworkThread::shared().remove(shared_from_this());
    return true;
}

bool URLTransfer::complete(NSErrorPtr error) {
    std::shared_ptr<URLTransferClient> client;
    Clock::TimerId timer;
    bool held = false;
    {
        MutexLock lock(mutex_);
        if (done_) return false;
        done_ = true;
        client = std::move(client_);
        timer = timer_;
        if (reporting_) {
            // The report under way comes first; its end hands the completion on.
            heldCompletion_ = HeldCompletion{std::move(client), std::move(error)};
            held = true;
        }
    }
    // Not under the lock: a firing timer waits for it, and cancel() waits for a firing timer.
    if (timer) Clock::cancel(timer);
    if (!held) handOnCompletion(client, std::move(error));
    return true;
}

void URLTransfer::handOnCompletion(const std::shared_ptr<URLTransferClient>& client, NSErrorPtr error) {
    if (client) client->transferCompleted(std::move(error));
    // After the client has handed its completion on, so that no live transfer and no queued
    // work together mean the network has nothing more to deliver.
    URLNetworkThread::shared().ended(this);
}

std::shared_ptr<URLTransferClient> URLTransfer::beginReport() {
    MutexLock lock(mutex_);
    if (done_ || !client_) return nullptr;
    reporting_ = true;
    resumedWhileReporting_ = false;
    return client_;
}

void URLTransfer::endReport(bool reported, bool pausing) {
    std::optional<HeldCompletion> completion;
    bool resume = false;
    {
        MutexLock lock(mutex_);
        reporting_ = false;
        if (reported) noteReportedLocked();
        if (pausing) {
            // A resume that came while the client was deciding found nothing paused yet: the
            // portion held back now is taken up again at once.
            if (resumedWhileReporting_) {
                resumeWanted_ = true;
                resume = true;
            } else {
                paused_ = true;
            }
        }
        resumedWhileReporting_ = false;
        completion.swap(heldCompletion_);
    }
    if (resume) URLNetworkThread::shared().wake();
    if (completion) handOnCompletion(completion->client, std::move(completion->error));
}

void URLTransfer::noteActivity() {
    lastActivity_ = Clock::now();
    URLNetworkThread::shared().noteActivity();
}

int URLTransfer::onPrerequest(void* self, char*, char*, int peerPort, int localPort) {
    auto* transfer = static_cast<URLTransfer*>(self);
    transfer->requestSent_ = true;
    // A connection made or kept for this request (each of a redirect's too): what it carried
    // before was another's.
    transfer->countedSocket_ = ConnectionSockets::shared().find(localPort, peerPort);
    const auto total = transfer->countedSocket_ == CURL_SOCKET_BAD ? std::nullopt : connectionBytes(transfer->countedSocket_);
    if (!total) transfer->countedSocket_ = CURL_SOCKET_BAD;
    transfer->countedSocketBytes_ = total.value_or(0);
    return CURL_PREREQFUNC_OK;
}

void URLTransfer::countConnectionBytes() {
    if (countedSocket_ == CURL_SOCKET_BAD) return;
    const auto total = connectionBytes(countedSocket_);
    if (!total || *total <= countedSocketBytes_) return;
    bytesTransferred_ += *total - countedSocketBytes_;
    countedSocketBytes_ = *total;
    // Progress of the network as a whole, not of the transfer's idle time-out, which stays
    // with what libcurl hands over.
    URLNetworkThread::shared().noteActivity();
}

void URLTransfer::countHandedBytes(std::size_t size) {
    if (countedSocket_ == CURL_SOCKET_BAD) bytesTransferred_ += size;
}

bool URLTransfer::headerLine(std::string_view line) {
    noteActivity();
    countHandedBytes(line.size());
    // Before the request is sent, a head can only be a proxy's.
    if (!requestSent_) return true;
    if (auto status = parseHTTPStatusLine(line)) {
        // A new status line: an interim answer or a redirect came before.
        fields_.clear();
        version_ = std::move(status->version);
        status_ = status->statusCode;
        receivedStatusCode_ = status_;
        return true;
    }
    if (!trimmed(line).empty()) {
        if (auto field = parseHTTPHeaderField(line)) fields_.push_back(std::move(*field));
        return true;
    }
    // The end of a header block: the answer, unless interim or a redirect libcurl follows.
    if (status_ < 200) return true;
    if (const std::string location = followedLocation(); !location.empty()) {
        requestSent_ = false;  // the next answer is to the redirect's request
        return mayFollow(location);
    }
    deliverResponse();
    return true;
}

std::string URLTransfer::followedLocation() const {
    // libcurl follows any 3xx by its first Location that is not empty, and skips its body.
    if (!followsRedirects_ || status_ < 300 || status_ > 399) return {};
    for (const auto& [name, value] : fields_) {
        if (name.size() == 8 && strncasecmp(name.c_str(), "location", 8) == 0 && !value.empty()) return value;
    }
    return {};
}

bool URLTransfer::mayFollow(const std::string& location) {
    if (anchoredOrigin_.empty()) return true;
    char* effective = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &effective);
    const std::string from = effective ? effective : url_;
    if (originOf(from, location) == anchoredOrigin_) return true;
    // Refused before libcurl reads a byte of the redirect's body or connects elsewhere.
    dataError_ = makeURLError(NSURLErrorRedirectRefused, url_,
                              "The answer from " + from + " redirects to \"" + location + "\", away from " +
                                  anchoredOrigin_ + ", whose own trust anchors this request carries.");
    return false;
}

void URLTransfer::deliverResponse() {
    if (responseDelivered_) return;
    const auto client = beginReport();
    if (!client) return;
    responseDelivered_ = true;
    char* effective = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &effective);
    auto url = NSURL::URLWithString(effective ? effective : url_);
    if (!url) url = NSURL::URLWithString(url_);
    client->transferReceivedResponse(NSHTTPURLResponse::initWithURL(url, status_, version_, fields_));
    endReport(true, false);
}

void URLTransfer::noteReportedLocked() {
    if (reportsHeld_) return;
    reportsHeld_ = true;
    URLNetworkThread::shared().reported(shared_from_this());
}

void URLTransfer::passEnded() {
    std::shared_ptr<URLTransferClient> client;
    {
        MutexLock lock(mutex_);
        reportsHeld_ = false;
        client = client_;
    }
    if (client) client->transferPassEnded();
}

std::size_t URLTransfer::receiveData(const char* bytes, std::size_t size) {
    noteActivity();
    countHandedBytes(size);
    deliverResponse();
    if (maximumBodyLength_ > 0 && received_ + size > maximumBodyLength_) {
        dataError_ = makeURLLengthError(url_, maximumBodyLength_);
        return CURL_WRITEFUNC_ERROR;
    }
    const auto client = beginReport();
    if (!client) return CURL_WRITEFUNC_ERROR;
    if (!client->transferCanTakeData()) {
        // libcurl keeps the portion and offers it again once unpaused.
        endReport(false, true);
        return CURL_WRITEFUNC_PAUSE;
    }
    NSErrorPtr error = client->transferReceivedData(bytes, size);
    endReport(true, false);
    if (error) {
        dataError_ = std::move(error);
        return CURL_WRITEFUNC_ERROR;
    }
    received_ += size;
    return size;
}

void URLTransfer::resumeReceiving() {
    {
        MutexLock lock(mutex_);
        if (done_) return;
        if (!paused_) {
            // The client may be deciding to hold a portion back right now (endReport).
            if (reporting_) resumedWhileReporting_ = true;
            return;
        }
        paused_ = false;
        resumeWanted_ = true;
    }
    // The wait was the client's, not the server's.
    noteActivity();
    URLNetworkThread::shared().wake();
}

void URLTransfer::finishedInCurl(int curlCode) {
    NSErrorPtr error;
    if (curlCode == CURLE_FILESIZE_EXCEEDED) {
        error = makeURLLengthError(url_, maximumBodyLength_);
    } else if (curlCode != CURLE_OK) {
        error = dataError_ ? dataError_ : makeURLErrorFromCurl(curlCode, url_, errorBuffer_);
    } else {
        deliverResponse();  // an answer whose header block never ended cleanly
    }
    complete(std::move(error));
}

std::size_t URLTransfer::onHeader(char* buffer, std::size_t size, std::size_t count, void* self) {
    auto* transfer = static_cast<URLTransfer*>(self);
    // Any other count ends the transfer (CURLE_WRITE_ERROR, reported as dataError_).
    return transfer->headerLine(std::string_view(buffer, size * count)) ? size * count : 0;
}

std::size_t URLTransfer::onData(char* buffer, std::size_t size, std::size_t count, void* self) {
    return static_cast<URLTransfer*>(self)->receiveData(buffer, size * count);
}

int URLTransfer::onProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
    auto* transfer = static_cast<URLTransfer*>(self);
    // libcurl may hand the held portion over from inside this call.
    if (transfer->resumeWanted_.exchange(false)) curl_easy_pause(transfer->easy_, CURLPAUSE_CONT);
    // Received bytes are noted as they arrive; sent ones only show here.
    if (uploaded != transfer->uploaded_) {
        if (uploaded > transfer->uploaded_) transfer->countHandedBytes(static_cast<std::size_t>(uploaded - transfer->uploaded_));
        transfer->uploaded_ = uploaded;
        transfer->noteActivity();
    }
    // libcurl reports after every read and write, also of a head that comes a byte at a time,
    // which its header callback shows only line by line.
    transfer->countConnectionBytes();
    return 0;
}
