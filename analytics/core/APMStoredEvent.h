// A raw event as its row holds it, for bundling: the event (APMEvent) is made only when a step
// needs its parameters or changes it. Until then the few parameters bundling looks at are read
// from the stored bytes, and the event's message is the stored bytes with its name and times:
// exactly what the event would write, because rows are taken this way only when their bytes are
// in the very form the event writes (anything else is decoded at once, as before).
#pragma once

#include "analytics/core/APMDatabase.h"
#include "analytics/core/APMEvent.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class APMStoredEvent {
public:
    APMStoredEvent() = default;
    APMStoredEvent(const APMStoredEvent&) = delete;
    APMStoredEvent& operator=(const APMStoredEvent&) = delete;

    // Nil, with the error, when the row does not make an event (rawEventDataFromDictionary).
    [[nodiscard]] static std::shared_ptr<APMStoredEvent> fromRow(APMDatabase& database, const APMDatabase::Row& row,
                                                                 NSErrorPtr* error);

    std::int64_t rowID() const { return rowID_; }
    std::int64_t metadataFingerprint() const { return fingerprint_; }
    const std::string& name() const { return name_; }
    double timestamp() const { return timestamp_; }
    double previousTimestamp() const { return event_ ? event_->previousTimestamp() : 0; }
    // True while the event has not been made.
    bool isStoredForm() const { return !event_; }

    // The event, made on first use; nil only when the database cannot make it any more.
    const std::shared_ptr<APMEvent>& event();
    // Replaces the event (a copy with other parameters or another name).
    void setEvent(std::shared_ptr<APMEvent> event);
    // The same parameters under another name.
    void rename(const std::string& name);

    bool hasParameter(std::string_view name) const;
    // The parameter's int64 value; nullopt when absent or of another kind.
    std::optional<std::int64_t> int64Parameter(std::string_view name) const;
    // As APMEvent's, without making the event when nothing changes.
    bool isConversion() const;
    bool isRealtime();
    void setRealtime(bool realtime);

    // The event's message (name, times, parameters) with the given previous time; nullopt when
    // the event cannot be made any more.
    [[nodiscard]] std::optional<NSData> encodedWithPreviousTimestamp(double previousTimestamp);

private:
    // One parameter of the stored bytes: its whole field, and its int64 value when it has one.
    struct StoredParameter {
        std::string_view name;
        std::size_t begin;
        std::size_t end;
        std::optional<std::int64_t> int64Value;
    };
    const StoredParameter* storedParameter(std::string_view name) const;

    APMDatabase* database_ = nullptr;
    APMDatabase::Row row_;
    std::int64_t rowID_ = 0;
    std::int64_t fingerprint_ = 0;
    std::string name_;
    double timestamp_ = 0;
    // The stored bytes (held by the row) and their parameters, while the event is not made.
    const NSData* bytes_ = nullptr;
    std::vector<StoredParameter> parameters_;
    std::shared_ptr<APMEvent> event_;
};
