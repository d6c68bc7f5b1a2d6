// Reading the service property list.
#include "platform/services/RUROptions.h"

#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSPropertyListSerialization.h"

namespace {

bool infoBool(const std::string& key, bool fallback) {
    const Value value = NSBundle::mainBundle()->objectForInfoDictionaryKey(key);
    return value.isNull() ? fallback : value.boolValue();
}

}  // namespace

const std::string& RUROptions::serviceFileName() {
    static const std::string name = "VizudiService-Info.plist";
    return name;
}

std::shared_ptr<RUROptions> RUROptions::defaultOptions() {
    const std::string path = NSBundle::mainBundle()->pathForResource("VizudiService-Info", "plist");
    if (path.empty()) return nullptr;
    return initWithContentsOfFile(path);
}

std::shared_ptr<RUROptions> RUROptions::initWithContentsOfFile(const std::string& path, NSErrorPtr* error) {
    NSErrorPtr readError;
    const Value plist = NSPropertyListSerialization::propertyListWithContentsOfFile(path, &readError);
    if (!plist.isDictionary()) {
        if (error)
            *error = readError
                         ? readError
                         : NSError::errorWithDomain(
                               RURErrorDomain, RURErrorInvalidServiceList,
                               {{NSLocalizedDescriptionKey, Value("The service property list is not a dictionary.")},
                                {"NSFilePath", Value(path)}});
        return nullptr;
    }
    return initWithDictionary(plist.dictionary());
}

std::shared_ptr<RUROptions> RUROptions::initWithDictionary(Value::Dictionary dictionary) {
    auto options = std::shared_ptr<RUROptions>(new RUROptions());
    options->dictionary_ = std::move(dictionary);
    return options;
}

std::string RUROptions::vizudiAppID() const {
    const Value* id = dictionary_.find("VIZUDI_APP_ID");
    return id ? id->stringValue() : std::string();
}

bool RUROptions::isAnalyticsCollectionEnabled() const {
    return infoBool("REZAVIVI_ANALYTICS_COLLECTION_ENABLED", true);
}

bool RUROptions::isAnalyticsCollectionDeactivated() const {
    return infoBool("REZAVIVI_ANALYTICS_COLLECTION_DEACTIVATED", false);
}
