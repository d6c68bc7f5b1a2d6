// One HTTP(S) load on the network thread: a libcurl easy handle in the process's one multi
// handle. Used by connections and session tasks, which turn its reports into their own.
#pragma once

#include "platform/foundation/Clock.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class NSHTTPURLResponse;
class NSURLRequest;

// What a transfer reports, never with a lock of the transfer's held, so a client may take its
// own locks and may cancel or resume the transfer from a report. transferReceivedResponse and
// transferReceivedData run on the network thread, one report at a time. transferCompleted
// comes exactly once, after every other report: on whichever thread ended the transfer
// (network thread, clock, a cancelling caller), or, when the transfer ended while a report was
// under way, on the network thread as that report ends. Reports should only hand work on.
class URLTransferClient {
public:
    virtual ~URLTransferClient() = default;
    virtual void transferReceivedResponse(const std::shared_ptr<NSHTTPURLResponse>& response) = 0;
    // An error stops the transfer and becomes its completion error.
    virtual NSErrorPtr transferReceivedData(const char* bytes, std::size_t size) = 0;
    // Asked before each portion, in the same report: false holds the portion back and stops
    // reading from the server until the client calls resumeReceiving().
    virtual bool transferCanTakeData() { return true; }
    // Null on success (any HTTP status); the response, when one came, was reported before.
    virtual void transferCompleted(NSErrorPtr error) = 0;
    // On the network thread, without the lock, after each pass of the network in which the
    // response or data was reported: a client may hold those reports until then and hand
    // them on together. A completion may come first; it must hand on what is held.
    virtual void transferPassEnded() {}
};

class URLTransfer : public std::enable_shared_from_this<URLTransfer> {
public:
    // A transfer of `request` that fails with NSURLErrorTimedOut after `idleTimeout` seconds of
    // clock time without progress (non-positive: the request default). The client is held
    // until it has been told of the completion. Not to be called under a lock that the client's
    // reports take.
    static std::shared_ptr<URLTransfer> make(const NSURLRequest& request, double idleTimeout,
                                             std::shared_ptr<URLTransferClient> client);
    // Starts loading, unless it was cancelled first; once the network is shut down it ends at
    // once with NSURLErrorCancelled instead.
    void start();

    // Ends the transfer with `error` unless it has ended already; true when this call ended it.
    bool cancel(NSErrorPtr error);
    // Reading goes on after the client held a portion back; nothing when it did not. Any thread.
    void resumeReceiving();

    // Our own additions, for a caller that must judge in real time whether an answer is still
    // coming; any thread, during the transfer and after it. Bytes it has moved either way on its
    // connection since it began to use it (its request; the reply's head and body alike), each
    // as it comes, as the connection counts them (as libcurl hands them over where the
    // connection cannot say).
    std::uint64_t countOfBytesTransferred() const { return bytesTransferred_.load(); }
    // The status of the last status line read from the server (an interim or a followed
    // redirect's too, never a proxy's), as soon as that line is in and before the rest of the
    // head; 0 before. Kept when the transfer then fails.
    long receivedStatusCode() const { return receivedStatusCode_.load(); }

    URLTransfer(const URLTransfer&) = delete;
    URLTransfer& operator=(const URLTransfer&) = delete;
    ~URLTransfer();

private:
    friend class URLNetworkThread;
    using HeaderFields = std::vector<std::pair<std::string, std::string>>;

    URLTransfer() = default;
    bool configure(const NSURLRequest& request);
    bool configured_ = false;
    void armTimerLocked(double at) REQUIRES(mutex_);
    void timerFired();
    bool complete(NSErrorPtr error);
    // Tells the client how the transfer ended, then the network that it has.
    void handOnCompletion(const std::shared_ptr<URLTransferClient>& client, NSErrorPtr error);
    // A report to the client, made out of the lock: beginReport gives the client (null once the
    // transfer has ended) and marks the report under way; endReport ends it (`reported`: the
    // client heard something; `pausing`: it held the portion back) and hands on a completion
    // that came meanwhile.
    std::shared_ptr<URLTransferClient> beginReport() EXCLUDES(mutex_);
    void endReport(bool reported, bool pausing) EXCLUDES(mutex_);
    void noteActivity();
    // Network thread: adds what the connection moved since it was last looked at.
    void countConnectionBytes();
    // Network thread: bytes libcurl handed over, counted while the connection's count is unknown.
    void countHandedBytes(std::size_t size);
    // False ends the transfer.
    bool headerLine(std::string_view line);
    // The address of the redirect that libcurl will follow from the answer whose header block
    // just ended; "" when it will not follow one.
    std::string followedLocation() const;
    // False, with dataError_ set, when following `location` would take anchors to another origin.
    bool mayFollow(const std::string& location);
    void deliverResponse();
    // The client heard something in this pass: it is told when the pass ends.
    void noteReportedLocked() REQUIRES(mutex_);
    void passEnded();
    std::size_t receiveData(const char* bytes, std::size_t size);
    void finishedInCurl(int curlCode);
    // Frees the easy handle (on the network thread once it has left the multi handle).
    void releaseHandle();

    static std::size_t onHeader(char* buffer, std::size_t size, std::size_t count, void* self);
    static std::size_t onData(char* buffer, std::size_t size, std::size_t count, void* self);
    static int onProgress(void* self, curl_off_t downloadTotal, curl_off_t downloaded, curl_off_t uploadTotal,
                          curl_off_t uploaded);
    // The connection for the request is there, made or kept: its socket is the one counted.
    static int onPrerequest(void* self, char* peerAddress, char* localAddress, int peerPort, int localPort);

    Mutex mutex_;
    bool done_ GUARDED_BY(mutex_) = false;
    std::shared_ptr<URLTransferClient> client_ GUARDED_BY(mutex_);
    Clock::TimerId timer_ GUARDED_BY(mutex_) = 0;
    double timeout_ GUARDED_BY(mutex_) = 0;
    std::atomic<double> lastActivity_{0};

    // Set up before the transfer starts; then the network thread's alone.
    CURL* easy_ = nullptr;
    curl_slist* requestHeaders_ = nullptr;
    curl_slist* connectTo_ = nullptr;
    std::string url_;
    bool followsRedirects_ = true;
    // libcurl is about to send the request on its connection (its prerequest call): a head
    // that came before, a proxy's answer to opening a tunnel, is not the server's.
    bool requestSent_ = false;
    NSData body_;
    std::string authorities_;
    // "scheme://host:port" of the URL whose host's anchors authorities_ holds; "" without them.
    std::string anchoredOrigin_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
    curl_off_t uploaded_ = 0;
    // The socket of the request's connection, when its count of bytes can be read, and that
    // count when last read.
    curl_socket_t countedSocket_ = CURL_SOCKET_BAD;
    std::uint64_t countedSocketBytes_ = 0;
    std::atomic<std::uint64_t> bytesTransferred_{0};
    std::atomic<long> receivedStatusCode_{0};
    long status_ = 0;
    std::string version_;
    HeaderFields fields_;
    bool responseDelivered_ = false;
    NSErrorPtr dataError_;
    // The request's bound on the body (0: none) and what was handed on so far.
    std::uint64_t maximumBodyLength_ = 0;
    std::uint64_t received_ = 0;
    bool paused_ GUARDED_BY(mutex_) = false;
    bool reportsHeld_ GUARDED_BY(mutex_) = false;  // passEnded() is due
    // A report is under way on the network thread: a completion waits for its end, and a
    // resume asked meanwhile is remembered for a client that is deciding to hold data back.
    bool reporting_ GUARDED_BY(mutex_) = false;
    bool resumedWhileReporting_ GUARDED_BY(mutex_) = false;
    struct HeldCompletion {
        std::shared_ptr<URLTransferClient> client;
        NSErrorPtr error;
    };
    std::optional<HeldCompletion> heldCompletion_ GUARDED_BY(mutex_);
    // Set by resumeReceiving(); the network thread unpauses in the progress callback, the one
    // place outside its own loop where libcurl lets it.
    std::atomic<bool> resumeWanted_{false};
};
