// This device's likes on the content server.
#include "content/OELikesManager.h"

#include "content/NSErrorOERequest.h"
#include "platform/net/NSURLError.h"

#include <algorithm>
#include <iterator>

namespace {

// The factory answers no request when the configuration gives no URL.
NSErrorPtr badURLError() {
    return NSError::errorWithDomain(NSURLErrorDomain, NSURLErrorBadURL,
                                    {{NSLocalizedDescriptionKey, Value("The likes server's address is not a URL.")}});
}

// A status of 400 or above fails whatever the body says: a server error page that happens to
// be a JSON list must not be taken for a stored like. The server's own text wins when it sent one.
NSErrorPtr statusFailure(long statusCode, const NSErrorPtr& parserError) {
    if (statusCode < 400) return parserError;
    const bool serverText = parserError && parserError->code() == OERequestErrorServer &&
                            parserError->domain() == NSErrorOERequest::errorDomainWithSubdomain(NSErrorOERequest::kLikesSubdomain);
    return serverText ? parserError : NSErrorOERequest::likesHTTPStatusError(statusCode);
}

}  // namespace

std::shared_ptr<OELikesManager> OELikesManager::initWithConfig(std::shared_ptr<OEConfig> config) {
    auto manager = std::make_shared<OELikesManager>();
    manager->factory_ = OERequestFactory::initWithConfig(std::move(config));
    manager->storage_ = OELikesStorage::make();
    manager->parser_ = OELikesResponseParser::make();
    return manager;
}

void OELikesManager::postLikesForIdentifiers(const Value::Array& identifiers, ChangeCompletion completion) {
    changeLikeStateForIdentifiers(identifiers, true, std::move(completion));
}

void OELikesManager::deleteLikesForIdentifiers(const Value::Array& identifiers, ChangeCompletion completion) {
    changeLikeStateForIdentifiers(identifiers, false, std::move(completion));
}

void OELikesManager::changeLikeStateForIdentifiers(const Value::Array& identifiers, bool likeState,
                                                   ChangeCompletion completion) {
    Value::Array changed;
    const Value::Array numbers = correctIdentiferType(identifiers);
    std::copy_if(numbers.begin(), numbers.end(), std::back_inserter(changed), predicateWithLikeState(likeState));
    if (changed.empty()) {
        if (completion) completion(nullptr);
        return;
    }
    auto request = likeState ? factory_->postLikesForIdentifiers(changed) : factory_->deleteLikesForIdentifiers(changed);
    sendChangeRequest(request, [storage = storage_, changed, likeState,
                                completion = std::move(completion)](const NSErrorPtr& error) {
        if (!error) storage->setLikesFor(changed, likeState);
        if (completion) completion(error);
    });
}

void OELikesManager::getLikesForIdentifier(long identifier, CountCompletion completion) {
    auto request = factory_->getLikesForIdentifier(std::to_string(identifier));
    if (!request) return completion(0, badURLError());
    request->startWithCompletion([parser = parser_, completion = std::move(completion)](
                                     const NSData& body, long statusCode, const NSErrorPtr& error) {
        if (error) return completion(0, error);
        NSErrorPtr parseError;
        const long count = parser->parseLikesCountFromResult(body, &parseError);
        parseError = statusFailure(statusCode, parseError);
        completion(parseError ? 0 : count, parseError);
    });
}

void OELikesManager::getPopular(PopularCompletion completion) {
    auto request = factory_->getPopularRequest();
    if (!request) return completion({}, badURLError());
    request->startWithCompletion([parser = parser_, completion = std::move(completion)](
                                     const NSData& body, long statusCode, const NSErrorPtr& error) {
        if (error) return completion({}, error);
        NSErrorPtr parseError;
        Value::Array identifiers = parser->parseIdentifiersFromResult(body, &parseError);
        // No more than were asked for, whatever the server sends.
        if (identifiers.size() > static_cast<std::size_t>(OERequestFactory::kPopularCount))
            identifiers.resize(static_cast<std::size_t>(OERequestFactory::kPopularCount));
        parseError = statusFailure(statusCode, parseError);
        completion(parseError ? Value::Array{} : identifiers, parseError);
    });
}

std::function<bool(const Value&)> OELikesManager::predicateWithLikeState(bool likeState) const {
    return [storage = storage_, likeState](const Value& identifier) {
        return storage->isLikeSetForIdentifier(identifier) != likeState;
    };
}

Value::Array OELikesManager::correctIdentiferType(const Value::Array& identifiers) {
    Value::Array numbers;
    numbers.reserve(identifiers.size());
    for (const auto& identifier : identifiers) numbers.emplace_back(identifier.longLongValue());
    return numbers;
}

void OELikesManager::sendChangeRequest(const std::shared_ptr<OERequest>& request, ChangeCompletion completion) {
    if (!request) {
        if (completion) completion(badURLError());
        return;
    }
    request->startWithCompletion([parser = parser_, completion = std::move(completion)](
                                     const NSData& body, long statusCode, const NSErrorPtr& error) {
        NSErrorPtr failure = error;
        if (!failure) {
            (void)parser->parseResult(body, &failure);
            failure = statusFailure(statusCode, failure);
        }
        if (completion) completion(failure);
    });
}
