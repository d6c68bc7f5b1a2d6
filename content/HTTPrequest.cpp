// One GET at a time over a delegate-style connection: the idle timer, the resume check, the
// response's rules (errors, ranges), the body into memory or a file, and the clean-up.
#include "content/HTTPrequest.h"

#include "platform/dispatch/NSRunLoop.h"
#include "platform/dispatch/NSTimer.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSFileManager.h"
#include "platform/foundation/NSOutputStream.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/NSStringFormat.h"
#include "platform/foundation/SecureRandom.h"
#include "platform/net/HTTPHeaderParser.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSMutableURLRequest.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLConnection.h"
#include "platform/net/NSURLError.h"

#include <cstdint>

namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Characters that may stand in a URL as they are: unreserved, and the delimiters of its parts.
bool isURLCharacter(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    static constexpr std::string_view kept = "-._~:/?#[]@!$&'()*+,;=";
    return kept.find(static_cast<char>(c)) != std::string_view::npos;
}

std::optional<std::int64_t> fileSize(const std::string& path) {
    const auto attributes = NSFileManager::defaultManager()->attributesOfItemAtPath(path);
    if (!attributes) return std::nullopt;
    const Value* size = attributes->find(NSFileSize);
    if (!size) return std::nullopt;
    return size->longLongValue();
}

}  // namespace

std::shared_ptr<HTTPrequest> HTTPrequest::make(std::shared_ptr<FileSystem> fileSystem) {
    return std::make_shared<HTTPrequest>(std::move(fileSystem));
}

HTTPrequest::~HTTPrequest() {
    if (outStream_) outStream_->close();
    removeOwnFile();
}

std::string HTTPrequest::checkUrlAlreadyEncoded(const std::string& url) {
    std::string out;
    out.reserve(url.size());
    for (std::size_t i = 0; i < url.size(); ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        if (c == '%' && i + 2 < url.size() && isHex(url[i + 1]) && isHex(url[i + 2])) {
            out += url[i];
        } else if (c != '%' && isURLCharacter(c)) {
            out += url[i];
        } else {
            out += NSString::format("%%%02X", static_cast<unsigned>(c));
        }
    }
    return out;
}

void HTTPrequest::send() {
    if (!preparedURL_) return;
    const std::string url = std::move(*preparedURL_);
    preparedURL_.reset();
    sendRequest(url);
}

void HTTPrequest::sendRequest(const std::string& url) {
    auto keep = self<HTTPrequest>();
    if (theConnection_) cancel();
    downloadedBytes_ = 0;
    partialDownloadedSize_ = 0;
    expectedContentLength_ = 0;
    restarted_ = false;
    url_ = checkUrlAlreadyEncoded(url);
    receivedData_.reset();
    if (!downloadToFile_) receivedData_.emplace();

    if (downloadToFile_) {
        if (!tmpFileName_.empty()) {
            dataFilePath_ = tmpFileName_;
            ownsFile_ = false;
        } else {
            const std::string caches = fileSystem_ ? fileSystem_->cachesFolder() : "";
            if (caches.empty() || !NSFileManager::defaultManager()->createDirectoryAtPath(caches, true)) {
                failLater(makeURLError(NSURLErrorCannotCreateFile, url_, "no caches folder for the download"));
                return;
            }
            // A fresh name, never one that is there already: only tmpFileName resumes.
            do {
                dataFilePath_ = fileSystem_->cachesPathForFile(NSString::format(
                    "%ld_%d.tmp", static_cast<long>(Clock::now()), static_cast<int>(SecureRandom::uniform(INT32_MAX))));
            } while (NSFileManager::defaultManager()->fileExistsAtPath(dataFilePath_));
            ownsFile_ = true;
        }
    }
    start(downloadToFile_);
}

void HTTPrequest::start(bool resume) {
    askedRange_ = false;
    auto url = NSURL::URLWithString(url_);
    if (!url) {
        failLater(nullptr);
        return;
    }
    auto request = NSMutableURLRequest::requestWithURL(url);
    request->setValue(std::string(), "Accept-Encoding");
    // The connection's own idle limit stays out of the way of this request's.
    request->setTimeoutInterval(2 * kIdleTimeout);
    // A whole answer may take the bound; a range is held to what is left of it as it arrives.
    const std::int64_t limit = bodyLimit();
    if (limit > 0) request->setMaximumBodyLength(static_cast<std::uint64_t>(limit));
    if (resume) checkDownloadedBytes(*request);

    ++generation_;
    theConnection_ = NSURLConnection::initWithRequest(request, self<HTTPrequest>(), false);
    theConnection_->scheduleInRunLoop(NSRunLoop::currentRunLoop());
    theConnection_->start();
    restartTimeOut();
    context = self<HTTPrequest>();
}

std::int64_t HTTPrequest::bodyLimit() const {
    if (maximumBodyLength_ > 0) return maximumBodyLength_;
    return downloadToFile_ ? 0 : kMaximumMemoryBodyLength;
}

void HTTPrequest::checkDownloadedBytes(NSMutableURLRequest& request) {
    const auto size = fileSize(dataFilePath_);
    if (!size || *size <= 0) return;
    // A file already at the bound cannot grow: it is fetched again from the start.
    const std::int64_t limit = bodyLimit();
    if (limit > 0 && *size >= limit) return;
    request.setHTTPMethod("GET");
    request.setValue(NSString::format("bytes=%llu-", static_cast<unsigned long long>(*size)), "Range");
    downloadedBytes_ = *size;
    partialDownloadedSize_ = *size;
    askedRange_ = true;
}

bool HTTPrequest::restartFromZero() {
    if (restarted_) return false;
    restarted_ = true;
    theConnection_->cancel();
    theConnection_.reset();
    if (outStream_) outStream_->close();
    outStream_.reset();
    (void)NSFileManager::defaultManager()->removeItemAtPath(dataFilePath_);
    downloadedBytes_ = 0;
    partialDownloadedSize_ = 0;
    expectedContentLength_ = 0;
    start(false);
    return true;
}

void HTTPrequest::cancel() {
    auto keep = self<HTTPrequest>();
    if (theConnection_) theConnection_->cancel();
    removeOwnFile();
    releaseAllItems();
}

void HTTPrequest::restartTimeOut() {
    // Activity only moves the deadline: one timer per request, not one per data portion, and a
    // timer that finds the deadline moved waits out the rest.
    idleDeadline_ = Clock::now() + kIdleTimeout;
    if (timeOutTimer_ && timeOutTimer_->isValid()) return;
    armTimeOut(kIdleTimeout);
}

void HTTPrequest::armTimeOut(double interval) {
    std::weak_ptr<HTTPrequest> weak = self<HTTPrequest>();
    timeOutTimer_ = NSTimer::scheduledTimerWithTimeInterval(interval, false, [weak](const std::shared_ptr<NSTimer>&) {
        if (auto me = weak.lock()) me->idleTimerFired();
    });
}

void HTTPrequest::idleTimerFired() {
    const double now = Clock::now();
    // Both on the same clock and close together, so the difference is exact and the next timer
    // falls due exactly at the deadline.
    if (now < idleDeadline_) armTimeOut(idleDeadline_ - now);
    else timeOut();
}

void HTTPrequest::stopTimeOut() {
    if (timeOutTimer_) timeOutTimer_->invalidate();
    timeOutTimer_.reset();
}

void HTTPrequest::timeOut() {
    if (!theConnection_) return;
    auto keep = self<HTTPrequest>();
    // Cancelled, not just forgotten: the transfer must not go on behind the caller's back.
    theConnection_->cancel();
    fail(nullptr);
}

void HTTPrequest::releaseAllItems() {
    ++generation_;
    stopTimeOut();
    theConnection_.reset();
    receivedData_.reset();
    dataFilePath_.clear();
    ownsFile_ = false;
    if (outStream_) outStream_->close();
    outStream_.reset();
    askedRange_ = false;
    context.reset();
}

void HTTPrequest::failTooLong() {
    auto keep = self<HTTPrequest>();
    if (theConnection_) theConnection_->cancel();
    // Whoever named the file, it cannot become whole within the bound: resuming it is no use.
    if (outStream_) outStream_->close();
    if (!dataFilePath_.empty()) (void)NSFileManager::defaultManager()->removeItemAtPath(dataFilePath_);
    fail(makeURLLengthError(url_, static_cast<unsigned long long>(bodyLimit())));
}

void HTTPrequest::removeOwnFile() {
    if (!ownsFile_ || dataFilePath_.empty()) return;
    if (outStream_) outStream_->close();
    (void)NSFileManager::defaultManager()->removeItemAtPath(dataFilePath_);
    ownsFile_ = false;
}

void HTTPrequest::failLater(const NSErrorPtr& error) {
    // Told on a later turn, as every other outcome is; a cancel or a new send before then wins.
    theConnection_.reset();
    context = self<HTTPrequest>();
    const std::uint64_t generation = ++generation_;
    NSRunLoop::currentRunLoop()->performBlock([me = self<HTTPrequest>(), generation, error] {
        if (me->generation_ == generation) me->fail(error);
    });
}

void HTTPrequest::fail(const NSErrorPtr& error) {
    auto keep = self<HTTPrequest>();
    auto delegate = delegate_.lock();
    removeOwnFile();
    releaseAllItems();
    if (delegate) delegate->httpRequestError(keep, error);
}

void HTTPrequest::connectionDidReceiveResponse(const std::shared_ptr<NSURLConnection>& connection,
                                               const std::shared_ptr<NSHTTPURLResponse>& response) {
    if (!isCurrent(connection)) return;
    const long status = response->statusCode();
    if (status >= 400) {
        // A file already whole answers a range with 416: fetch it again from the start.
        if (status == 416 && askedRange_ && restartFromZero()) return;
        theConnection_->cancel();
        const std::string text = NSBundle::mainBundle()->localizedStringForKey(kHTTPrequestStatusErrorFormat, "", "");
        fail(NSError::errorWithDomain(NSOSStatusErrorDomain, status,
                                      {{NSLocalizedDescriptionKey, Value(NSString::format(text, status))}}));
        return;
    }
    if (status == 206) {
        // Appending is right only when the range starts exactly where the file on disk ends.
        const auto field = response->valueForHTTPHeaderField("Content-Range");
        const auto range = field ? parseHTTPContentRange(*field) : std::nullopt;
        if (!range || range->first != partialDownloadedSize_) {
            if (askedRange_ && restartFromZero()) return;
            theConnection_->cancel();
            fail(makeURLError(NSURLErrorBadServerResponse, url_,
                              "a partial answer that does not start at byte " + std::to_string(partialDownloadedSize_)));
            return;
        }
        expectedContentLength_ = range->total;
    } else {
        const std::int64_t expected = response->expectedContentLength();
        expectedContentLength_ = expected > 0 ? expected : 0;
        if (downloadToFile_ && !dataFilePath_.empty()) {
            (void)NSFileManager::defaultManager()->removeItemAtPath(dataFilePath_);
            downloadedBytes_ = 0;
            partialDownloadedSize_ = 0;
        }
    }
    const std::int64_t limit = bodyLimit();
    if (limit > 0 && expectedContentLength_ > limit) {
        failTooLong();
        return;
    }
    if (receivedData_) receivedData_->clear();
    restartTimeOut();
}

void HTTPrequest::connectionDidReceiveData(const std::shared_ptr<NSURLConnection>& connection, const NSData& data) {
    if (!isCurrent(connection)) return;
    auto keep = self<HTTPrequest>();
    // Counted with the bytes a resume started from.
    const std::int64_t limit = bodyLimit();
    if (limit > 0 && downloadedBytes_ + static_cast<std::int64_t>(data.size()) > limit) {
        failTooLong();
        return;
    }
    if (downloadToFile_) {
        if (!outStream_) {
            outStream_ = NSOutputStream::outputStreamToFileAtPath(dataFilePath_, true);
            outStream_->open();
        }
        if (outStream_->write(data.data(), data.size()) < 0) {
            const NSErrorPtr error = outStream_->streamError();
            theConnection_->cancel();
            fail(error);
            return;
        }
    } else {
        receivedData_->insert(receivedData_->end(), data.begin(), data.end());
    }
    downloadedBytes_ += static_cast<std::int64_t>(data.size());
    if (auto delegate = delegate_.lock()) delegate->httpRequestDataPortionAdded(keep, receivedData_ ? &*receivedData_ : nullptr);
    if (!isCurrent(connection)) return;
    restartTimeOut();
}

void HTTPrequest::connectionDidFinishLoading(const std::shared_ptr<NSURLConnection>& connection) {
    if (!isCurrent(connection)) return;
    auto keep = self<HTTPrequest>();
    if (auto delegate = delegate_.lock()) delegate->httpRequestDataPortionAdded(keep, receivedData_ ? &*receivedData_ : nullptr);
    if (!isCurrent(connection)) return;
    auto delegate = delegate_.lock();
    if (downloadToFile_) {
        // An empty body is an empty file, not a missing one.
        if (!outStream_) {
            outStream_ = NSOutputStream::outputStreamToFileAtPath(dataFilePath_, true);
            outStream_->open();
        }
        const bool written = outStream_->streamStatus() == NSStreamStatusOpen;
        const NSErrorPtr error = outStream_->streamError();
        outStream_->close();
        if (!written) {
            fail(error);
            return;
        }
        const std::string path = dataFilePath_;
        ownsFile_ = false;  // the caller's now
        releaseAllItems();
        if (delegate) delegate->httpRequestDataFileLoaded(keep, path);
        return;
    }
    NSData body = std::move(*receivedData_);
    releaseAllItems();
    const std::string_view text(reinterpret_cast<const char*>(body.data()), body.size());
    if (NSString::isValidUTF8(text) && text.find(kHTTPrequestSuspendedText) != std::string_view::npos) {
        if (delegate) delegate->httpRequestError(keep, nullptr);
        return;
    }
    if (delegate) delegate->httpRequestDataLoaded(keep, body);
}

void HTTPrequest::connectionDidFailWithError(const std::shared_ptr<NSURLConnection>& connection,
                                             const NSErrorPtr& error) {
    if (!isCurrent(connection)) return;
    if (error && error->domain() == NSURLErrorDomain && error->code() == NSURLErrorDataLengthExceedsMaximum) {
        failTooLong();
        return;
    }
    fail(error);
}
