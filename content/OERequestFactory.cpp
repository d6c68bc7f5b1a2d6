// Builds the engine's requests to the content server from the configuration.
#include "content/OERequestFactory.h"

#include "platform/foundation/NSString.h"

#include <vector>

std::shared_ptr<OERequestFactory> OERequestFactory::initWithConfig(std::shared_ptr<OEConfig> config) {
    auto factory = std::make_shared<OERequestFactory>();
    factory->config_ = std::move(config);
    return factory;
}

std::string OERequestFactory::likesApi() const {
    const std::string format = config_ && config_->urlFormat() ? config_->urlFormat()->likesRequest() : "";
    const std::string identifier = config_ && config_->app() ? config_->app()->likesIdentifier() : "";
    return NSString::format(format, identifier);
}

std::string OERequestFactory::urlWithIdentifiersParams(const Value::Array& identifiers) const {
    std::vector<std::string> texts;
    texts.reserve(identifiers.size());
    for (const auto& identifier : identifiers) texts.push_back(identifier.stringValue());
    return NSString::format("%@&id=%@", likesApi(), NSString::componentsJoinedByString(texts, ","));
}

std::shared_ptr<OERequest> OERequestFactory::likesRequestWithIdentifiers(const Value::Array& identifiers,
                                                                         std::uint64_t method) const {
    return OERequest::initWithString(urlWithIdentifiersParams(identifiers), method);
}

std::shared_ptr<OERequest> OERequestFactory::postLikesForIdentifiers(const Value::Array& identifiers) const {
    return likesRequestWithIdentifiers(identifiers, OERequestMethodPost);
}

std::shared_ptr<OERequest> OERequestFactory::deleteLikesForIdentifiers(const Value::Array& identifiers) const {
    return likesRequestWithIdentifiers(identifiers, OERequestMethodDelete);
}

std::shared_ptr<OERequest> OERequestFactory::getLikesForIdentifier(const std::string& identifier) const {
    return likesRequestWithIdentifiers({Value(identifier)}, OERequestMethodGet);
}

std::shared_ptr<OERequest> OERequestFactory::getPopularRequest() const {
    return OERequest::initWithString(NSString::format("%@&sort=desc&count=%ld", likesApi(), kPopularCount));
}

std::string OERequestFactory::famousApiURL() const {
    const auto& app = config_ ? config_->app() : nullptr;
    const std::string identifier = app ? app->famousIdentifier() : "";
    const std::string server = app ? app->famousServer() : OEAppConfig::kDefaultFamousServer;
    return NSString::format("%@%@?app_id=%@", server, kFamousPath, identifier);
}

std::shared_ptr<OERequest> OERequestFactory::getFamous() const { return OERequest::initWithString(famousApiURL()); }
