// The engine's one-shot HTTP GET for files and small bodies: a delegate-style connection on the
// sending thread's run loop, the body into memory or into a file (resuming a partial file with
// a byte range), an idle time-out of its own, and statuses of 400 and above as errors.
#pragma once

#include "config/FileSystem.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"
#include "platform/net/NSURLConnectionDelegate.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class HTTPrequest;
class NSMutableURLRequest;
class NSOutputStream;
class NSTimer;
class NSURLConnection;

// Every operation is optional. All run on the thread that sent the request, never inside the
// call that sent it.
class HTTPrequestDelegate {
public:
    virtual ~HTTPrequestDelegate() = default;
    // A failure. The error is null for the idle time-out, for a request that could not be made
    // (a URL that is no URL) and for the suspended-account body.
    virtual void httpRequestError(const std::shared_ptr<HTTPrequest>&, const NSErrorPtr&) {}
    // Memory mode finished: the whole body.
    virtual void httpRequestDataLoaded(const std::shared_ptr<HTTPrequest>&, const NSData&) {}
    // File mode finished: the path of the complete file, now the caller's to move or remove.
    virtual void httpRequestDataFileLoaded(const std::shared_ptr<HTTPrequest>&, const std::string&) {}
    // After each portion and once more before the end: the memory body so far (null in file mode).
    virtual void httpRequestDataPortionAdded(const std::shared_ptr<HTTPrequest>&, const NSData*) {}
};

// The status error's description ("Server returned status code %ld"), localised.
inline constexpr const char* kHTTPrequestStatusErrorFormat = "Server returned status code %ld";
// A memory body holding this text is a failure, not a body.
inline constexpr const char* kHTTPrequestSuspendedText = "This Account Has Been Suspended";

class HTTPrequest : public NSObject, public NSURLConnectionDelegate {
public:
    // Seconds without a header or a portion after which the request gives up.
    static constexpr double kIdleTimeout = 90;
    // The bound on a body kept in memory when the caller sets none: memory mode is for small
    // answers; files go to disk as they arrive.
    static constexpr std::int64_t kMaximumMemoryBodyLength = 1024 * 1024;

    // An idle request in memory mode; file mode without tmpFileName names its files in the
    // caches folder of `fileSystem`.
    static std::shared_ptr<HTTPrequest> make(std::shared_ptr<FileSystem> fileSystem);
    explicit HTTPrequest(std::shared_ptr<FileSystem> fileSystem) : fileSystem_(std::move(fileSystem)) {}
    ~HTTPrequest() override;

    // Starts a GET of `url` (made a valid URL by checkUrlAlreadyEncoded first). A request that
    // is still running is cancelled first.
    void sendRequest(const std::string& url);
    // Keeps the URL for send(), which sends it once and forgets it.
    void prepareRequest(const std::string& url) { preparedURL_ = url; }
    void send();
    // Stops at once; the delegate hears nothing more.
    void cancel();
    // No connection runs.
    bool stoped() const { return !theConnection_; }

    // Percent-escapes what may not stand in a URL (spaces, quotes, characters beyond ASCII...),
    // leaving every valid "%XX" escape and every character a URL may hold as it is, so an
    // encoded URL comes back unchanged and a partly encoded one is completed.
    static std::string checkUrlAlreadyEncoded(const std::string& url);

    bool downloadToFile() const { return downloadToFile_; }
    void setDownloadToFile(bool toFile) { downloadToFile_ = toFile; }
    // Held weakly.
    std::shared_ptr<HTTPrequestDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(const std::shared_ptr<HTTPrequestDelegate>& delegate) { delegate_ = delegate; }
    const Value& userData() const { return userData_; }
    void setUserData(Value userData) { userData_ = std::move(userData); }
    std::int64_t tag() const { return tag_; }
    void setTag(std::int64_t tag) { tag_ = tag; }
    // A fixed download file: an existing partial file there is resumed, and a failed or
    // cancelled request leaves it for a later one to resume. Without it every file-mode request
    // starts a new file in Caches, removed again unless the request succeeds.
    const std::string& tmpFileName() const { return tmpFileName_; }
    void setTmpFileName(std::string path) { tmpFileName_ = std::move(path); }

    // The most bytes the body may have, a resumed file's counted in. An answer that declares or
    // sends more fails with NSURLErrorDataLengthExceedsMaximum as soon as that is known, and
    // the file it was going to (even a tmpFileName) is removed. 0: kMaximumMemoryBodyLength in
    // memory mode, no bound in file mode.
    std::int64_t maximumBodyLength() const { return maximumBodyLength_; }
    void setMaximumBodyLength(std::int64_t bytes) { maximumBodyLength_ = bytes; }

    // From the response: the body's length (the whole file's for a resume), 0 when unknown.
    std::int64_t expectedContentLength() const { return expectedContentLength_; }
    // Received so far, counting the bytes a resume started from.
    std::int64_t downloadedBytes() const { return downloadedBytes_; }
    // The size of the partial file a resume started from, 0 otherwise.
    std::int64_t partialDownloadedSize() const { return partialDownloadedSize_; }

    // The connection's side.
    void connectionDidReceiveResponse(const std::shared_ptr<NSURLConnection>& connection,
                                      const std::shared_ptr<NSHTTPURLResponse>& response) override;
    void connectionDidReceiveData(const std::shared_ptr<NSURLConnection>& connection, const NSData& data) override;
    void connectionDidFinishLoading(const std::shared_ptr<NSURLConnection>& connection) override;
    void connectionDidFailWithError(const std::shared_ptr<NSURLConnection>& connection,
                                    const NSErrorPtr& error) override;

private:
    // Builds the request (with the Range of an existing file when `resume`) and connects.
    void start(bool resume);
    // The resume check: a non-empty file at dataFilePath_ asks for the bytes after it.
    void checkDownloadedBytes(NSMutableURLRequest& request);
    // Drops the partial file and asks again from the start; false once that was tried.
    bool restartFromZero();
    void restartTimeOut();
    void armTimeOut(double interval);
    void idleTimerFired();
    void stopTimeOut();
    void timeOut();
    void releaseAllItems();
    // Ends with a failure: everything released, a file of our own naming removed, then the
    // delegate told.
    void fail(const NSErrorPtr& error);
    // The same on a later turn of the run loop, unless the request is cancelled or sent again first.
    void failLater(const NSErrorPtr& error);
    void removeOwnFile();
    // The bound in force for this request (0: none).
    std::int64_t bodyLimit() const;
    // Ends with the length error: the connection cancelled, the file removed, the delegate told.
    void failTooLong();
    bool isCurrent(const std::shared_ptr<NSURLConnection>& connection) const {
        return connection && connection == theConnection_;
    }

    const std::shared_ptr<FileSystem> fileSystem_;
    std::string dataFilePath_;
    bool ownsFile_ = false;  // dataFilePath_ was named here, not by tmpFileName
    std::shared_ptr<NSOutputStream> outStream_;
    std::optional<NSData> receivedData_;
    std::shared_ptr<NSURLConnection> theConnection_;
    std::shared_ptr<NSTimer> timeOutTimer_;
    // Clock time of the last activity plus kIdleTimeout.
    double idleDeadline_ = 0;
    std::optional<std::string> preparedURL_;
    std::string url_;
    bool askedRange_ = false;
    bool restarted_ = false;
    // Moves on each start and release, so a failure told later knows whether it still counts.
    std::uint64_t generation_ = 0;

    bool downloadToFile_ = false;
    std::weak_ptr<HTTPrequestDelegate> delegate_;
    Value userData_;
    std::int64_t tag_ = 0;
    std::string tmpFileName_;
    std::int64_t maximumBodyLength_ = 0;
    std::int64_t expectedContentLength_ = 0;
    std::int64_t downloadedBytes_ = 0;
    std::int64_t partialDownloadedSize_ = 0;
};
