// The application part of the configuration: server identifiers, the new-applications list
// and which reading section the menu offers.
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

private:
    std::string likesIdentifier_;
    std::string famousIdentifier_;
    std::string newsUrl_;
    std::int32_t newsCheckStartCount_ = 0;
    std::uint64_t articlesStyle_ = 0;
};
