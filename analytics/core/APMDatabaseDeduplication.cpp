// The purchase and subscription lists that keep a purchase from being reported twice.
#include "analytics/core/APMDatabase.h"

namespace {

constexpr std::int64_t kDeduplicationLimit = 1000;

}  // namespace

// A failed look-up, write or trim is a failure whether or not the caller asked for the
// error: answering "new" after a failed write would report the purchase twice.
std::optional<bool> APMDatabase::insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint,
                                                                         NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (fingerprint.empty()) return false;
    if (!requireStore(error)) return std::nullopt;
    auto exists = booleanForQuery("SELECT EXISTS (SELECT 1 FROM purchase_transactions WHERE fingerprint = ? LIMIT 1)",
                                  {Value(fingerprint)}, error);
    if (!exists) return std::nullopt;
    if (*exists) return false;
    if (!sqliteStore_->upsertRecord({{"fingerprint", Value(fingerprint)}}, "purchase_transactions", error)) {
        return std::nullopt;
    }
    if (!sqliteStore_->deleteRecordsFromTableWithName(
            "purchase_transactions",
            "rowid IN (SELECT rowid FROM purchase_transactions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
            {Value(kDeduplicationLimit)}, error)) {
        return std::nullopt;
    }
    return true;
}

bool APMDatabase::deletePurchaseFingerprint(const std::string& fingerprint, NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return false;
    return sqliteStore_
        ->deleteRecordsFromTableWithName("purchase_transactions", "fingerprint = ?", {Value(fingerprint)}, error)
        .has_value();
}

std::optional<bool> APMDatabase::insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID,
                                                                    NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (subscriptionID.empty()) return false;
    if (!requireStore(error)) return std::nullopt;
    auto exists = booleanForQuery("SELECT EXISTS (SELECT 1 FROM subscriptions WHERE subscription_id = ? LIMIT 1)",
                                  {Value(subscriptionID)}, error);
    if (!exists) return std::nullopt;
    if (*exists) return false;
    if (!sqliteStore_->upsertRecord({{"subscription_id", Value(subscriptionID)}}, "subscriptions", error)) {
        return std::nullopt;
    }
    return true;
}

std::optional<std::int64_t> APMDatabase::deleteSubscriptionsOverLimit(NSErrorPtr* error) {
    OSTREL_CHECK_SEQUENCE(sequenceChecker_);
    if (!requireStore(error)) return std::nullopt;
    return sqliteStore_->deleteRecordsFromTableWithName(
        "subscriptions", "rowid IN (SELECT rowid FROM subscriptions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
        {Value(kDeduplicationLimit)}, error);
}
