// Sets and removes this device's likes of pictures on the content server, reads one picture's
// count and the list of the most liked pictures. Only changes are sent: the storage remembers
// which likes are set. Every closure runs on the URL session's queue, not the main thread.
#pragma once

#include "config/OEConfig.h"
#include "content/OELikesResponseParser.h"
#include "content/OELikesStorage.h"
#include "content/OERequestFactory.h"

#include <functional>
#include <memory>

class OELikesManager : public NSObject {
public:
    using ChangeCompletion = std::function<void(const NSErrorPtr& error)>;
    using CountCompletion = std::function<void(long count, const NSErrorPtr& error)>;
    using PopularCompletion = std::function<void(const Value::Array& identifiers, const NSErrorPtr& error)>;

    static std::shared_ptr<OELikesManager> initWithConfig(std::shared_ptr<OEConfig> config);

    const std::shared_ptr<OERequestFactory>& factory() const { return factory_; }
    const std::shared_ptr<OELikesStorage>& storage() const { return storage_; }
    const std::shared_ptr<OELikesResponseParser>& parser() const { return parser_; }

    // Identifiers are numbers or numeric texts. The closure may be empty.
    void postLikesForIdentifiers(const Value::Array& identifiers, ChangeCompletion completion);
    void deleteLikesForIdentifiers(const Value::Array& identifiers, ChangeCompletion completion);
    // Sends only the identifiers whose stored flag differs from `likeState`; with none left the
    // closure runs at once with no error. The flags change only when the server took the change.
    void changeLikeStateForIdentifiers(const Value::Array& identifiers, bool likeState, ChangeCompletion completion);
    // The count (0 on any failure) and the error.
    void getLikesForIdentifier(long identifier, CountCompletion completion);
    // The most liked pictures, most liked first, at most the kPopularCount asked for; empty with
    // the error on any failure.
    void getPopular(PopularCompletion completion);

    // Keeps the identifiers whose stored flag differs from `likeState`.
    std::function<bool(const Value&)> predicateWithLikeState(bool likeState) const;
    // Every element as a whole number, in order.
    static Value::Array correctIdentiferType(const Value::Array& identifiers);
    // Runs the request; the transport's error, else the parser's, else none. A status of 400
    // or above is a failure whatever the body: the server's error text when it sent one, else
    // a status error (code 2). The same holds for the count and the popular list.
    void sendChangeRequest(const std::shared_ptr<OERequest>& request, ChangeCompletion completion);

private:
    std::shared_ptr<OERequestFactory> factory_;
    std::shared_ptr<OELikesStorage> storage_;
    std::shared_ptr<OELikesResponseParser> parser_;
};
