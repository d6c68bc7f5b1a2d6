// The options the platform core configures its default app with: the service property list
// "VizudiService-Info.plist" of the main bundle and the collection switches of Info.plist.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <string>

inline constexpr const char* RURErrorDomain = "com.rezavivi.core";

enum RURErrorCode : long {
    RURErrorInvalidServiceList = 1,  // the service property list is not a dictionary
};

class RUROptions : public NSObject {
public:
    // From the main bundle; empty when it has no readable service property list.
    [[nodiscard]] static std::shared_ptr<RUROptions> defaultOptions();
    // Empty (with the error) when the file is missing or not a dictionary property list.
    [[nodiscard]] static std::shared_ptr<RUROptions> initWithContentsOfFile(const std::string& path,
                                                                            NSErrorPtr* error = nullptr);
    static std::shared_ptr<RUROptions> initWithDictionary(Value::Dictionary dictionary);

    static const std::string& serviceFileName();  // "VizudiService-Info.plist"

    const Value::Dictionary& dictionary() const { return dictionary_; }
    // "VIZUDI_APP_ID"; "" when absent.
    std::string vizudiAppID() const;
    // Info.plist "REZAVIVI_ANALYTICS_COLLECTION_ENABLED"; YES when absent.
    bool isAnalyticsCollectionEnabled() const;
    // Info.plist "REZAVIVI_ANALYTICS_COLLECTION_DEACTIVATED"; NO when absent.
    bool isAnalyticsCollectionDeactivated() const;

private:
    RUROptions() = default;

    Value::Dictionary dictionary_;
};
