// Builds the engine's requests to the content server from the configuration: likes set,
// removed and read, the most liked pictures, and the famous-paintings texts.
#pragma once

#include "config/OEConfig.h"
#include "content/OERequest.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

class OERequestFactory : public NSObject {
public:
    static std::shared_ptr<OERequestFactory> initWithConfig(std::shared_ptr<OEConfig> config);

    const std::shared_ptr<OEConfig>& config() const { return config_; }

    // The likes URL format filled with the likes identifier.
    std::string likesApi() const;
    // "<likesApi>&id=<the identifiers' texts joined by ','>".
    std::string urlWithIdentifiersParams(const Value::Array& identifiers) const;

    // Not yet started; empty when the configuration gives no URL.
    std::shared_ptr<OERequest> likesRequestWithIdentifiers(const Value::Array& identifiers, std::uint64_t method) const;
    std::shared_ptr<OERequest> postLikesForIdentifiers(const Value::Array& identifiers) const;
    std::shared_ptr<OERequest> deleteLikesForIdentifiers(const Value::Array& identifiers) const;
    std::shared_ptr<OERequest> getLikesForIdentifier(const std::string& identifier) const;
    // The 100 most liked, most liked first.
    std::shared_ptr<OERequest> getPopularRequest() const;

    // "<famous server><kFamousPath>?app_id=<famous identifier>"; the famous server is the
    // maker's (the application configuration's famousServer), not the content server.
    std::string famousApiURL() const;
    static constexpr const char* kFamousPath = "/ostrelEngine/gallery_popular_pictures/api/get_app_texts.php";
    std::shared_ptr<OERequest> getFamous() const;

    static constexpr long kPopularCount = 100;

private:
    std::shared_ptr<OEConfig> config_;
};
