// The application part of the configuration: server identifiers, the new-applications list,
// which reading section the menu offers, and the addresses of the maker's fixed services.
#pragma once

#include "platform/foundation/NSObject.h"

#include <cstdint>
#include <memory>
#include <string>

class OEAppConfig : public NSObject {
public:
    static std::shared_ptr<OEAppConfig> initWithLikesIdentifer(const std::string& likesIdentifier,
                                                               const std::string& famousIdentifier,
                                                               const std::string& newsUrl,
                                                               std::int32_t newsCheckStartCount,
                                                               std::uint64_t articlesStyle);

    const std::string& likesIdentifier() const { return likesIdentifier_; }
    void setLikesIdentifier(const std::string& value) { likesIdentifier_ = value; }
    const std::string& famousIdentifier() const { return famousIdentifier_; }
    void setFamousIdentifier(const std::string& value) { famousIdentifier_ = value; }
    const std::string& newsUrl() const { return newsUrl_; }
    void setNewsUrl(const std::string& value) { newsUrl_ = value; }
    std::int32_t newsCheckStartCount() const { return newsCheckStartCount_; }
    void setNewsCheckStartCount(std::int32_t value) { newsCheckStartCount_ = value; }
    // 1 articles, 2 famous paintings, anything else no reading section.
    std::uint64_t articlesStyle() const { return articlesStyle_; }
    void setArticlesStyle(std::uint64_t value) { articlesStyle_ = value; }

    // The maker's fixed services. A shipped default names no machine (".invalid"), so nothing
    // leaves the device until a deployment sets the user default named beside it.
    // Scheme, host and port of the famous-paintings server ("OEFamousServer").
    const std::string& famousServer() const { return famousServer_; }
    void setFamousServer(const std::string& value) { famousServer_ = value; }
    // The maker's web site ("OEWebSite"): the "Web site" row's address and the base of the
    // more-applications page.
    const std::string& webSite() const { return webSite_; }
    void setWebSite(const std::string& value) { webSite_ = value; }
    // The host of the articles' documents ("OEDocumentHost"); the articles are at
    // "https://<host>/document/d/<id>".
    const std::string& documentHost() const { return documentHost_; }
    void setDocumentHost(const std::string& value) { documentHost_ = value; }

    static constexpr const char* kFamousServerKey = "OEFamousServer";
    static constexpr const char* kWebSiteKey = "OEWebSite";
    static constexpr const char* kDocumentHostKey = "OEDocumentHost";
    static constexpr const char* kDefaultFamousServer = "https://famous.ostrel.invalid";
    static constexpr const char* kDefaultWebSite = "http://www.ostrel.invalid";
    static constexpr const char* kDefaultDocumentHost = "docs.ostrel.invalid";

private:
    std::string likesIdentifier_;
    std::string famousIdentifier_;
    std::string newsUrl_;
    std::int32_t newsCheckStartCount_ = 0;
    std::uint64_t articlesStyle_ = 0;
    std::string famousServer_ = kDefaultFamousServer;
    std::string webSite_ = kDefaultWebSite;
    std::string documentHost_ = kDefaultDocumentHost;
};
