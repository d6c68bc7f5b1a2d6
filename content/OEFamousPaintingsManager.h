// The famous-paintings posts of the maker's server: fetched, kept on the device with the date of
// the fetch, served from there while that copy is younger than the update interval (a day), and
// the posts read remembered. Completions of a fetch run on the URL session's queue; a fresh copy
// is handed over at once, on the caller's thread.
#pragma once

#include "config/FileSystem.h"
#include "config/OEConfig.h"
#include "content/OEFamousPaintingsResponseParser.h"
#include "content/OEFamousPaintingsStorage.h"
#include "content/OERequestFactory.h"
#include "platform/foundation/NSDate.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class OEFamousPaintingsManager : public NSObject {
public:
    // The posts, or none with the error.
    using ListCompletion = std::function<void(const std::optional<Value::Array>& posts, const NSErrorPtr& error)>;

    static std::shared_ptr<OEFamousPaintingsManager> initWithConfig(std::shared_ptr<OEConfig> config,
                                                                    std::shared_ptr<FileSystem> fileSystem);

    // The stored copy while it is fresh; otherwise a fetch, whose list (when there is one) is
    // stored with the time it was asked for. `completion` must be set.
    void loadList(ListCompletion completion);
    // Fetches and reads the list; stores nothing.
    void updatePaintingsList(ListCompletion completion);

    // Whether a stored copy may still be served: a fetch is stored and less than the update
    // interval has passed since it (a date in the future counts as stale).
    bool isActual() const;
    // "OEFamousPaintingsUpdateDate"; none before the first stored fetch.
    std::optional<NSDate> lastUpdateDate() const;
    // Forced to disk.
    void setLastUpdateDate(const NSDate& date);

    bool isPostNew(std::int64_t identifier) const { return storage_->isPostNew(identifier); }
    void markPostDidRead(std::int64_t identifier) { storage_->markPostDidRead(identifier); }

    double updaateInterval() const { return updaateInterval_; }
    void setUpdaateInterval(double seconds) { updaateInterval_ = seconds; }
    const std::shared_ptr<OERequestFactory>& factory() const { return factory_; }
    const std::shared_ptr<OEFamousPaintingsStorage>& storage() const { return storage_; }
    const std::shared_ptr<OEFamousPaintingsResponseParser>& parser() const { return parser_; }

    static constexpr const char* kUpdateDateKey = "OEFamousPaintingsUpdateDate";
    static constexpr double kDefaultUpdateInterval = 86400;

private:
    double updaateInterval_ = kDefaultUpdateInterval;
    std::shared_ptr<OERequestFactory> factory_;
    std::shared_ptr<OEFamousPaintingsStorage> storage_;
    std::shared_ptr<OEFamousPaintingsResponseParser> parser_;
};
