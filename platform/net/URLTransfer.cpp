// Transfers over libcurl: one multi handle on a network thread of its own runs them all; the
// idle time-out is a clock timer, so a manual clock drives it; whichever of finish, failure,
// time-out and cancel comes first is the one reported.
#include "platform/net/URLTransfer.h"

#include "platform/net/HTTPHeaderParser.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLRequest.h"
#include "platform/net/URLHostRewrite.h"
#include "platform/net/URLLoopbackGuard.h"
#include "platform/net/URLTrustAnchors.h"

#include <curl/curl.h>

#include <cstdio>
#include <strings.h>
#include <cstdlib>
#include <map>
#include <thread>

namespace {

std::string trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return std::string(s);
}

bool isFollowedRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

// The process's network thread: adds and removes easy handles as it is told, and reports
// what libcurl finished. Never destroyed: transfers may still end while the process exits.
class URLNetworkThread {
public:
    static URLNetworkThread& shared() {
        static auto* thread = new URLNetworkThread;
        return *thread;
    }

    void add(std::shared_ptr<URLTransfer> transfer) { command(std::move(transfer), true); }
    void remove(std::shared_ptr<URLTransfer> transfer) { command(std::move(transfer), false); }
    // Runs the transfers' callbacks soon, so that one waiting to resume is unpaused.
    void wake() { curl_multi_wakeup(multi_); }

private:
    URLNetworkThread() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        multi_ = curl_multi_init();
        if (!multi_) {
            std::fprintf(stderr, "URLTransfer: libcurl could not make its multi handle; aborting.\n");
            std::abort();
        }
        std::thread([this] { run(); }).detach();
    }

    void command(std::shared_ptr<URLTransfer> transfer, bool add) {
        {
            std::lock_guard lock(mutex_);
            commands_.emplace_back(std::move(transfer), add);
        }
        curl_multi_wakeup(multi_);
    }

    void run() {
        for (;;) {
            std::vector<std::pair<std::shared_ptr<URLTransfer>, bool>> commands;
            {
                std::lock_guard lock(mutex_);
                commands.swap(commands_);
            }
            for (auto& [transfer, add] : commands) {
                CURL* easy = transfer->easy_;
                if (add) {
                    curl_multi_add_handle(multi_, easy);
                    active_[easy] = std::move(transfer);
                    continue;
                }
                auto found = active_.find(easy);
                if (found == active_.end()) continue;
                curl_multi_remove_handle(multi_, easy);  // before the transfer can go, taking its handle
                active_.erase(found);
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
            }
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        }
    }

    CURLM* multi_ = nullptr;
    std::mutex mutex_;
    std::vector<std::pair<std::shared_ptr<URLTransfer>, bool>> commands_;
    std::map<CURL*, std::shared_ptr<URLTransfer>> active_;  // the network thread's alone
};

std::shared_ptr<URLTransfer> URLTransfer::make(const NSURLRequest& request, double idleTimeout,
                                               std::shared_ptr<URLTransferClient> client) {
    URLNetworkThread::shared();  // initialises libcurl before the first handle is made
    std::shared_ptr<URLTransfer> transfer(new URLTransfer);
    transfer->client_ = std::move(client);
    transfer->timeout_ = idleTimeout > 0 ? idleTimeout : NSURLRequest::defaultTimeoutInterval;
    transfer->configured_ = transfer->configure(request);
    return transfer;
}

void URLTransfer::start() {
    if (!configured_) {
        complete(makeURLError(NSURLErrorUnknown, url_, "libcurl could not make a handle"));
        return;
    }
    std::lock_guard lock(mutex_);
    if (done_) return;
    const double now = Clock::now();
    lastActivity_ = now;
    armTimerLocked(now + timeout_);
    // Under the lock, so a cancel's removal is always queued after this.
    URLNetworkThread::shared().add(shared_from_this());
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

    // Anchors trusted for this host must not reach another one through a redirect.
    const std::string host = url ? url->host() : "";
    authorities_ = URLTrustAnchors::authoritiesForHost(host);
    if (!authorities_.empty()) {
        curl_blob blob{authorities_.data(), authorities_.size(), CURL_BLOB_NOCOPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
        followsRedirects_ = false;
    }
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, followsRedirects_ ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 16L);

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
    if (easy_) curl_easy_cleanup(easy_);
    curl_slist_free_all(requestHeaders_);
    curl_slist_free_all(connectTo_);
}

void URLTransfer::armTimerLocked(double at) {
    std::weak_ptr<URLTransfer> weak = weak_from_this();
    timer_ = Clock::schedule(at, [weak] {
        if (auto transfer = weak.lock()) transfer->timerFired();
    });
}

void URLTransfer::timerFired() {
    {
        std::lock_guard lock(mutex_);
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
    {
        std::lock_guard lock(mutex_);
        if (done_) return false;
        done_ = true;
        client = std::move(client_);
        timer = timer_;
    }
    // Not under the lock: a firing timer waits for it, and cancel() waits for a firing timer.
    if (timer) Clock::cancel(timer);
    if (client) client->transferCompleted(std::move(error));
    return true;
}

void URLTransfer::noteActivity() { lastActivity_ = Clock::now(); }

void URLTransfer::headerLine(std::string_view line) {
    noteActivity();
    if (auto status = parseHTTPStatusLine(line)) {
        // A new status line: an interim answer or a redirect came before.
        fields_.clear();
        version_ = std::move(status->version);
        status_ = status->statusCode;
        return;
    }
    if (!trimmed(line).empty()) {
        if (auto field = parseHTTPHeaderField(line)) fields_.push_back(std::move(*field));
        return;
    }
    // The end of a header block: the answer, unless interim or a redirect libcurl follows.
    if (status_ < 200) return;
    if (followsRedirects_ && isFollowedRedirect(status_)) {
        for (const auto& [name, value] : fields_) {
            if (name.size() == 8 && strncasecmp(name.c_str(), "location", 8) == 0) return;
        }
    }
    std::lock_guard lock(mutex_);
    deliverResponseLocked();
}

void URLTransfer::deliverResponseLocked() {
    if (done_ || responseDelivered_ || !client_) return;
    responseDelivered_ = true;
    char* effective = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &effective);
    auto url = NSURL::URLWithString(effective ? effective : url_);
    if (!url) url = NSURL::URLWithString(url_);
    client_->transferReceivedResponse(NSHTTPURLResponse::initWithURL(url, status_, version_, fields_));
}

std::size_t URLTransfer::receiveData(const char* bytes, std::size_t size) {
    noteActivity();
    std::lock_guard lock(mutex_);
    if (done_ || !client_) return CURL_WRITEFUNC_ERROR;
    deliverResponseLocked();
    if (maximumBodyLength_ > 0 && received_ + size > maximumBodyLength_) {
        dataError_ = makeURLLengthError(url_, maximumBodyLength_);
        return CURL_WRITEFUNC_ERROR;
    }
    if (!client_->transferCanTakeData()) {
        // libcurl keeps the portion and offers it again once unpaused.
        paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (NSErrorPtr error = client_->transferReceivedData(bytes, size)) {
        dataError_ = std::move(error);
        return CURL_WRITEFUNC_ERROR;
    }
    received_ += size;
    return size;
}

void URLTransfer::resumeReceiving() {
    {
        std::lock_guard lock(mutex_);
        if (done_ || !paused_) return;
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
        std::lock_guard lock(mutex_);
        deliverResponseLocked();  // an answer whose header block never ended cleanly
    }
    complete(std::move(error));
}

std::size_t URLTransfer::onHeader(char* buffer, std::size_t size, std::size_t count, void* self) {
    auto* transfer = static_cast<URLTransfer*>(self);
    transfer->headerLine(std::string_view(buffer, size * count));
    return size * count;
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
        transfer->uploaded_ = uploaded;
        transfer->noteActivity();
    }
    return 0;
}
