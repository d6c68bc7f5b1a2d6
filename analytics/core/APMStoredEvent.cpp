// Raw events read for bundling: the stored form is kept when it is exactly the event's own.
#include "analytics/core/APMStoredEvent.h"

#include "analytics/core/APMEventParameters.h"
#include "analytics/core/APMRawEventData.h"
#include "analytics/proto/APMPBWire.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cstring>

namespace {

// Names the event would keep as they are: letters, digits and underscores, 1 to `maxLength`.
bool isPlainName(std::string_view name, std::size_t maxLength) {
    if (name.empty() || name.size() > maxLength) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    });
}

// Reads the stored bytes, accepting only the form the event writes: each varint in its
// shortest form, each parameter a name then one value, the parameters before the time.
class StoredReader {
public:
    StoredReader(const std::uint8_t* bytes, std::size_t size) : at_(bytes), begin_(bytes), end_(bytes + size) {}

    bool atEnd() const { return at_ == end_; }
    std::size_t offset() const { return static_cast<std::size_t>(at_ - begin_); }

    bool varint(std::uint64_t* value) {
        std::uint64_t result = 0;
        for (int shift = 0; shift < 64 && at_ < end_; shift += 7) {
            const std::uint8_t byte = *at_++;
            result |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80)) {
                // A longer form than needed would be written back shorter.
                if (byte == 0 && shift > 0) return false;
                if (shift == 63 && byte > 1) return false;
                *value = result;
                return true;
            }
        }
        return false;
    }
    bool byte(std::uint8_t expected) {
        if (at_ == end_ || *at_ != expected) return false;
        ++at_;
        return true;
    }
    bool peek(std::uint8_t expected) const { return at_ != end_ && *at_ == expected; }
    bool bytes(std::string_view* out) {
        std::uint64_t length;
        if (!varint(&length) || length > static_cast<std::uint64_t>(end_ - at_)) return false;
        *out = std::string_view(reinterpret_cast<const char*>(at_), static_cast<std::size_t>(length));
        at_ += length;
        return true;
    }
    bool skip(std::size_t count) {
        if (count > static_cast<std::size_t>(end_ - at_)) return false;
        at_ += count;
        return true;
    }

private:
    const std::uint8_t* at_;
    const std::uint8_t* begin_;
    const std::uint8_t* end_;
};

}  // namespace

std::shared_ptr<APMStoredEvent> APMStoredEvent::fromRow(APMDatabase& database, const APMDatabase::Row& row,
                                                        NSErrorPtr* error) {
    auto stored = std::make_shared<APMStoredEvent>();
    stored->database_ = &database;
    stored->row_ = row;
    const Value& rowID = row.get("rowid");
    const Value& fingerprint = row.get("metadata_fingerprint");
    const Value& data = stored->row_.get("data");
    const Value& name = row.get("name");
    const Value& timestamp = row.get("timestamp");
    stored->rowID_ = rowID.longLongValue();
    stored->fingerprint_ = fingerprint.longLongValue();
    stored->name_ = name.stringValue();
    stored->timestamp_ = timestamp.doubleValue();

    // The stored form is kept only for rows the event would come back from unchanged (a time
    // that makes no event makes no stored form either).
    bool plain = rowID.type() == Value::Type::Integer && rowID.longLongValue() >= 0 &&
                 fingerprint.type() == Value::Type::Integer && name.isString() && isPlainName(stored->name_, 40) &&
                 stored->name_ != "ad_impression" && stored->name_ != "_ai" && timestamp.isNumber() &&
                 APMEvent::isValidTimestamp(timestamp.doubleValue()) && data.isData();
    if (plain) {
        const NSData& bytes = data.data();
        StoredReader reader(bytes.data(), bytes.size());
        bool origin = false;
        bool timed = false;
        while (plain && !reader.atEnd()) {
            const std::size_t begin = reader.offset();
            if (!timed && reader.byte(0x0A)) {
                // One parameter: 1 name, then 2 string, 3 int64 or 5 double; nothing else.
                std::string_view body;
                if (!reader.bytes(&body)) {
                    plain = false;
                    break;
                }
                StoredReader param(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
                StoredParameter parameter{{}, begin, reader.offset(), std::nullopt};
                std::string_view text;
                std::uint64_t number = 0;
                plain = param.byte(0x0A) && param.bytes(&parameter.name) && isPlainName(parameter.name, 40);
                if (plain && param.byte(0x12)) {
                    // Longer texts may be cut by the event's checks; invalid UTF-8 would be read as empty.
                    plain = param.bytes(&text) && text.size() <= 256 && NSString::isValidUTF8(text) &&
                            parameter.name != "_ev";
                    if (parameter.name == "_o") {
                        origin = true;
                        plain = plain && isPlainName(text, 32);
                    }
                } else if (plain && param.byte(0x18)) {
                    plain = param.varint(&number);
                    parameter.int64Value = static_cast<std::int64_t>(number);
                } else if (plain && param.byte(0x29)) {
                    plain = param.skip(8);
                } else {
                    plain = false;
                }
                plain = plain && param.atEnd() && !stored->storedParameter(parameter.name);
                stored->parameters_.push_back(parameter);
            } else if (!timed && reader.byte(0x18)) {
                // The row's own time is the event's; the stored one is not read back.
                std::uint64_t ignored;
                plain = reader.varint(&ignored);
                timed = true;
            } else {
                // A previous time, nested items or anything else: the event is made now.
                plain = false;
            }
        }
        // Conversions are checked against their value and currency again when made; too many
        // parameters are trimmed.
        const std::size_t withoutOrigin = stored->parameters_.size() - (origin ? 1 : 0);
        plain = plain && origin && timed && !stored->hasParameter("_c") &&
                static_cast<std::int64_t>(withoutOrigin) <= APMMaxPublicEventParams();
        if (plain) stored->bytes_ = &bytes;
    }
    if (!stored->bytes_) {
        stored->parameters_.clear();
        auto record = database.rawEventDataFromDictionary(row, error);
        if (!record) return nullptr;
        stored->event_ = record->rawEvent();
        stored->row_ = APMDatabase::Row();
    }
    return stored;
}

const APMStoredEvent::StoredParameter* APMStoredEvent::storedParameter(std::string_view name) const {
    for (const auto& parameter : parameters_) {
        if (parameter.name == name) return &parameter;
    }
    return nullptr;
}

const std::shared_ptr<APMEvent>& APMStoredEvent::event() {
    if (!event_ && database_) {
        auto record = database_->rawEventDataFromDictionary(row_, nullptr);
        if (record) {
            auto made = record->rawEvent();
            setEvent(made->name() == name_ ? made
                                           : std::make_shared<APMEvent>(made->origin(), name_, made->timestamp(),
                                                                        made->previousTimestamp(), made->parameters()));
        }
    }
    return event_;
}

void APMStoredEvent::setEvent(std::shared_ptr<APMEvent> event) {
    if (!event) return;
    event_ = std::move(event);
    name_ = event_->name();
    parameters_.clear();
    bytes_ = nullptr;
    row_ = APMDatabase::Row();
}

void APMStoredEvent::rename(const std::string& name) {
    if (event_) {
        setEvent(std::make_shared<APMEvent>(event_->origin(), name, event_->timestamp(), event_->previousTimestamp(),
                                            event_->parameters()));
        return;
    }
    name_ = name;
}

bool APMStoredEvent::hasParameter(std::string_view name) const {
    if (event_) return event_->parameters().contains(name);
    return storedParameter(name) != nullptr;
}

std::optional<std::int64_t> APMStoredEvent::int64Parameter(std::string_view name) const {
    if (event_) {
        auto value = event_->parameters().get(name).objectAs<APMValue>();
        if (!value || !value->isInt64()) return std::nullopt;
        return value->int64Value();
    }
    const StoredParameter* parameter = storedParameter(name);
    return parameter ? parameter->int64Value : std::nullopt;
}

bool APMStoredEvent::isConversion() const {
    // A stored form never holds "_c".
    return event_ && event_->isConversion();
}

bool APMStoredEvent::isRealtime() {
    if (event_) return event_->isRealtime();
    const StoredParameter* parameter = storedParameter("_r");
    if (!parameter) return false;
    // Another kind is reported by the event itself.
    if (!parameter->int64Value) return event() && event_->isRealtime();
    return *parameter->int64Value == 1;
}

void APMStoredEvent::setRealtime(bool realtime) {
    // Setting what is already there changes nothing: the stored form stays.
    if (!event_) {
        const std::optional<std::int64_t> current = int64Parameter("_r");
        if (realtime ? current == 1 : !hasParameter("_r")) return;
    }
    if (event()) event_->setRealtime(realtime);
}

std::optional<NSData> APMStoredEvent::encodedWithPreviousTimestamp(double previousTimestamp) {
    if (!bytes_) {
        if (!event()) return std::nullopt;
        if (event_->previousTimestamp() == previousTimestamp) return event_->encodedProtoEvent(true);
        return APMEvent(event_->origin(), event_->name(), event_->timestamp(), previousTimestamp, event_->parameters())
            .encodedProtoEvent(true);
    }
    // The parameters in the order the event keeps them: its origin ("_o") is set last.
    NSData out;
    out.reserve(bytes_->size() + name_.size() + 16);
    const StoredParameter* origin = nullptr;
    for (const auto& parameter : parameters_) {
        if (parameter.name == "_o") {
            origin = &parameter;
            continue;
        }
        out.insert(out.end(), bytes_->begin() + static_cast<std::ptrdiff_t>(parameter.begin),
                   bytes_->begin() + static_cast<std::ptrdiff_t>(parameter.end));
    }
    if (origin) {
        out.insert(out.end(), bytes_->begin() + static_cast<std::ptrdiff_t>(origin->begin),
                   bytes_->begin() + static_cast<std::ptrdiff_t>(origin->end));
    }
    APMAppendEventNameAndTimes(out, &name_, timestamp_, previousTimestamp);
    return out;
}
