// Fetching, keeping and serving the famous-paintings posts.
#include "content/OEFamousPaintingsManager.h"

#include "content/NSErrorOERequest.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/net/NSURLError.h"

std::shared_ptr<OEFamousPaintingsManager> OEFamousPaintingsManager::initWithConfig(std::shared_ptr<OEConfig> config,
                                                                                   std::shared_ptr<FileSystem> fileSystem) {
    auto manager = std::make_shared<OEFamousPaintingsManager>();
    manager->factory_ = OERequestFactory::initWithConfig(std::move(config));
    manager->storage_ = OEFamousPaintingsStorage::initWithFileSystem(std::move(fileSystem));
    manager->parser_ = OEFamousPaintingsResponseParser::make();
    return manager;
}

std::optional<NSDate> OEFamousPaintingsManager::lastUpdateDate() const {
    const Value stored = NSUserDefaults::standardUserDefaults()->objectForKey(kUpdateDateKey);
    if (!stored.isDate()) return std::nullopt;
    return stored.date();
}

void OEFamousPaintingsManager::setLastUpdateDate(const NSDate& date) {
    auto defaults = NSUserDefaults::standardUserDefaults();
    (void)defaults->setObject(Value(date), kUpdateDateKey);
    (void)defaults->synchronize();
}

bool OEFamousPaintingsManager::isActual() const {
    const auto last = lastUpdateDate();
    if (!last) return false;
    const double age = NSDate::date().timeIntervalSinceDate(*last);
    return age >= 0 && age < updaateInterval_;
}

void OEFamousPaintingsManager::loadList(ListCompletion completion) {
    if (!completion) return;
    if (isActual()) {
        if (!storage_->paintingsList()) storage_->load();
        if (auto stored = storage_->paintingsList()) {
            completion(stored, nullptr);
            return;
        }
    }
    const NSDate asked = NSDate::date();
    std::weak_ptr<OEFamousPaintingsManager> weak = weakSelf<OEFamousPaintingsManager>();
    updatePaintingsList([weak, asked, completion](const std::optional<Value::Array>& posts, const NSErrorPtr& error) {
        auto self = weak.lock();
        // The copy on the device and its date change together, and only for a list.
        if (self && posts && self->storage_->storeList(*posts)) {
            self->setLastUpdateDate(asked);
            self->storage_->setPaintingsList(posts);
        }
        completion(posts, error);
    });
}

void OEFamousPaintingsManager::updatePaintingsList(ListCompletion completion) {
    if (!completion) return;
    auto request = factory_->getFamous();
    if (!request) {
        // The configured server and identifier make no address.
        completion(std::nullopt, makeURLError(NSURLErrorBadURL, factory_->famousApiURL()));
        return;
    }
    auto parser = parser_;
    request->startWithCompletion([parser, completion](const NSData& body, long statusCode, const NSErrorPtr& error) {
        if (error) {
            completion(std::nullopt, error);
            return;
        }
        NSErrorPtr failure;
        auto posts = parser->famousListFromData(body, &failure);
        // A failing status is a failure whatever the body: the server's own text when it sent one.
        if (statusCode >= 400 && (posts || !failure || failure->code() != OERequestErrorServer)) {
            completion(std::nullopt, NSErrorOERequest::famousHTTPStatusError(statusCode));
            return;
        }
        completion(posts, failure);
    });
}
