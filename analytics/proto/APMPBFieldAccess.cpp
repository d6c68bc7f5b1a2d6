// The field accessors: each checks the record and the field's type word, then reads or writes the cell.
#include "analytics/proto/APMPBFieldAccess.h"

#include "analytics/proto/APMPBCodec.h"
#include "analytics/proto/APMPBLog.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace {


APMPBMessageInfo* recordOf(NANOMessageBase* message) {
    APMPBMessageInfo* info = message ? message->messageInfo() : nullptr;
    return info && info->schema && info->fields.size() == info->schema->fieldCount() ? info : nullptr;
}

const APMPBMessageInfo* recordOf(const NANOMessageBase* message) {
    return recordOf(const_cast<NANOMessageBase*>(message));
}

void logMissingRecord(const char* operation) {
    APMPBSystemLog("ProtocolBuffer message hasn't been initialized. %s can't be performed", operation);
}

// An index outside the table counts as a type mismatch: the cell it names does not exist.
bool fieldIs(const APMPBMessageInfo* info, std::int32_t index, APMPBFieldType accepted, bool repeated,
             const char* kind) {
    bool ok = index >= 0 && static_cast<std::size_t>(index) < info->schema->fieldCount();
    if (ok) {
        const APMPBFieldType type = info->schema->field(index).type;
        ok = (type & accepted) != 0 && APMPBFieldTypeIsRepeated(type) == repeated;
    }
    if (!ok) {
        if (repeated)
            APMPBSystemLog("<Nano/Failure> Field type isn't REPEATED. Message: %s, field ID: %d", info->messageID(), index);
        else
            APMPBSystemLog("<Nano/Failure> Field type isn't a scalar %s. Message: %s, field ID: %d", kind,
                           info->messageID(), index);
    }
    return ok;
}

const std::uint64_t* scalarCell(const APMPBMessageInfo* info, std::int32_t index) {
    return std::get_if<std::uint64_t>(&info->fields[index]);
}

bool isValidUTF8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char c = *p;
        std::size_t n;
        std::uint32_t cp;
        if (c < 0x80) { ++p; continue; }
        if (c >= 0xC2 && c <= 0xDF) { n = 1; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { n = 2; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { n = 3; cp = c & 0x07; }
        else return false;
        if (static_cast<std::size_t>(end - p) <= n) return false;
        for (std::size_t i = 1; i <= n; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += n + 1;
    }
    return true;
}

// The platform class name of a value, as the "%@" of a class prints it.

// A number's signed 64-bit value, without undefined conversions of out-of-range doubles.
std::int64_t int64Of(const Value& value) {
    if (value.type() == Value::Type::Unsigned) return static_cast<std::int64_t>(value.unsignedLongLongValue());
    if (value.type() == Value::Type::Double) {
        const double d = value.doubleValue();
        if (std::isnan(d)) return 0;
        if (d >= 9223372036854775807.0) return INT64_MAX;
        if (d <= -9223372036854775808.0) return INT64_MIN;
        return static_cast<std::int64_t>(d);
    }
    if (value.type() == Value::Type::Bool) return value.boolValue() ? 1 : 0;
    return value.longLongValue();
}

// Turns one value into an item cell of the field's value type; false with the log line when it cannot.
bool itemFromValue(const Value& value, APMPBFieldType type, APMPBCell* item) {
    const APMPBFieldType kind = APMPBFieldTypeValue(type);
    const char* expected = nullptr;
    switch (kind) {
        case APMPBFieldTypeBool:
            if (value.isNumber()) { *item = std::uint64_t{value.boolValue() ? 1u : 0u}; return true; }
            expected = "Boolean fields expect NSNumber";
            break;
        case APMPBFieldTypeInt32:
        case APMPBFieldTypeUInt32:
            if (value.isNumber()) { *item = std::uint64_t{static_cast<std::uint32_t>(int64Of(value))}; return true; }
            expected = "Int32 fields expect NSNumber";
            break;
        case APMPBFieldTypeInt64:
        case APMPBFieldTypeUInt64:
            if (value.isNumber()) { *item = static_cast<std::uint64_t>(int64Of(value)); return true; }
            expected = "Int64 fields expect NSNumber";
            break;
        case APMPBFieldTypeFloat:
            if (value.isNumber()) {
                *item = std::uint64_t{std::bit_cast<std::uint32_t>(static_cast<float>(value.doubleValue()))};
                return true;
            }
            expected = "Float fields expect NSNumber";
            break;
        case APMPBFieldTypeDouble:
            if (value.isNumber()) { *item = std::bit_cast<std::uint64_t>(value.doubleValue()); return true; }
            expected = "Double fields expect NSNumber";
            break;
        case APMPBFieldTypeEnum:
            if (value.isNumber()) { *item = std::uint64_t{static_cast<std::uint32_t>(int64Of(value))}; return true; }
            expected = "Enum fields expect NSNumber";
            break;
        case APMPBFieldTypeString:
            if (value.isString()) {
                item->emplace<APMPBBytes>(value.string(), nullptr);
                return true;
            }
            expected = "String fields expect NSString";
            break;
        case APMPBFieldTypeBytes:
            if (value.isData()) {
                const NSData& data = value.data();
                item->emplace<APMPBBytes>(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), nullptr);
                return true;
            }
            expected = "Bytes fields expect NSData";
            break;
        case APMPBFieldTypeMessage: {
            const auto message = value.objectAs<NANOMessageBase>();
            const APMPBMessageInfo* record = message ? message->messageInfo() : nullptr;
            std::unique_ptr<APMPBMessageInfo> copy;
            if (record && APMPBCopyMessageInfo(&copy, record)) {
                *item = APMPBRecordPtr(copy.release());
                return true;
            }
            expected = "Message fields expect NANOMessageBase";
            break;
        }
        default:
            APMPBSystemLog("<ERROR> Unable to convert ObjC object to byte data. Unknown type. %d", static_cast<int>(type));
            return false;
    }
    APMPBSystemLog("<ERROR> Invalid object type. %s. Type: %s", expected, value.className().c_str());
    return false;
}

// Turns one item cell into a value of the field's value type; nullopt when it converts to nothing.
std::optional<Value> valueFromItem(const APMPBCell& item, const APMPBFieldSchema& field, APMPBMessageFactory factory) {
    const APMPBFieldType type = field.type;
    const APMPBFieldType kind = APMPBFieldTypeValue(type);
    if (const auto* v = std::get_if<std::uint64_t>(&item)) {
        switch (kind) {
            case APMPBFieldTypeBool: return Value((*v & 0xFF) != 0);
            case APMPBFieldTypeInt32:
            case APMPBFieldTypeEnum: return Value(static_cast<int>(static_cast<std::int32_t>(*v & 0xFFFFFFFFu)));
            case APMPBFieldTypeUInt32: return Value(static_cast<unsigned>(*v & 0xFFFFFFFFu));
            case APMPBFieldTypeInt64: return Value(static_cast<long long>(*v));
            case APMPBFieldTypeUInt64: return Value(static_cast<unsigned long long>(*v));
            case APMPBFieldTypeFloat: return Value(std::bit_cast<float>(static_cast<std::uint32_t>(*v)));
            case APMPBFieldTypeDouble: return Value(std::bit_cast<double>(*v));
            default: break;
        }
    } else if (const auto* s = std::get_if<APMPBBytes>(&item)) {
        if (kind == APMPBFieldTypeString) {
            if (!isValidUTF8(s->view())) return std::nullopt;
            return Value(std::string(s->view()));
        }
        if (kind == APMPBFieldTypeBytes) return Value(NSData(s->data(), s->data() + s->size()));
        if (kind == APMPBFieldTypeMessage) {
            if (!factory) {
                APMPBSystemLog("<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: %s", "(null)");
                return std::nullopt;
            }
            // An item kept as its wire bytes: decoded now, for this reader only.
            APMPBMessageInfo record;
            if (!APMPBInitMessageInfo(field.nested(), &record) ||
                !APMPBDecode(reinterpret_cast<const std::uint8_t*>(s->data()), s->size(), &record)) {
                return std::nullopt;
            }
            auto object = factory(&record);
            if (!object) return std::nullopt;
            return Value(std::move(object));
        }
    } else if (const auto* m = std::get_if<APMPBRecordPtr>(&item); m && *m && kind == APMPBFieldTypeMessage) {
        if (!factory) {
            APMPBSystemLog("<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: %s", "(null)");
            return std::nullopt;
        }
        auto object = factory(m->get());
        if (!object) return std::nullopt;
        return Value(std::move(object));
    } else if (std::holds_alternative<std::monostate>(item)) {
        APMPBSystemLog("<ERROR> Unable to convert NULL data to an ObjC object");
        return std::nullopt;
    }
    APMPBSystemLog("<ERROR> Unable to convert byte data to an ObjC object. Unknown type. %d", static_cast<int>(type));
    return std::nullopt;
}

APMPBList* repeatedCell(APMPBMessageInfo* info, std::int32_t index) {
    auto* list = std::get_if<APMPBList>(&info->fields[index]);
    if (!list) APMPBSystemLog("<ERROR> Repeated field should have been allocated");
    return list;
}

}  // namespace

bool APMPBMessageHasField(APMPBConstMessageRef message, std::int32_t index) {
    const APMPBMessageInfo* info = recordOf(message.get());
    if (!info) {
        APMPBSystemLog("ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. "
                       "Message name %s",
                       message.get() ? message.get()->messageID() : "(null)");
        return false;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= info->schema->fieldCount()) return false;
    if (APMPBFieldTypeIsRepeated(info->schema->field(index).type)) return true;
    return !std::holds_alternative<std::monostate>(info->fields[index]);
}

void APMPBMessageClearField(APMPBMessageRef message, std::int32_t index) {
    APMPBMessageInfo* info = recordOf(message.get());
    if (!info) {
        APMPBSystemLog("ProtocolBuffer message hasn't been initialized. ClearField can't be performed");
        return;
    }
    // An unknown index is reported by the record function; there is nothing more to do here.
    static_cast<void>(APMPBDeallocMessageField(info, index));
}

bool APMPBMessageGetBool(APMPBConstMessageRef message, std::int32_t index) {
    const APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("GetBool"), false;
    if (!fieldIs(info, index, APMPBFieldTypeBool, false, "BOOL")) return false;
    const std::uint64_t* v = scalarCell(info, index);
    return v && (*v & 0xFF) != 0;
}

void APMPBMessageSetBool(APMPBMessageRef message, std::int32_t index, bool value) {
    APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("SetBool");
    if (!fieldIs(info, index, APMPBFieldTypeBool, false, "BOOL")) return;
    info->fields[index] = std::uint64_t{value ? 1u : 0u};
}

std::int32_t APMPBMessageGetInt32(APMPBConstMessageRef message, std::int32_t index) {
    const APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("GetInt32"), 0;
    if (!fieldIs(info, index, APMPBFieldTypeEnum | APMPBFieldTypeInt32 | APMPBFieldTypeUInt32, false, "INT32")) return 0;
    const std::uint64_t* v = scalarCell(info, index);
    return v ? static_cast<std::int32_t>(*v & 0xFFFFFFFFu) : 0;
}

void APMPBMessageSetInt32(APMPBMessageRef message, std::int32_t index, std::int32_t value) {
    APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("SetInt32");
    if (!fieldIs(info, index, APMPBFieldTypeEnum | APMPBFieldTypeInt32 | APMPBFieldTypeUInt32, false, "INT32")) return;
    info->fields[index] = std::uint64_t{static_cast<std::uint32_t>(value)};
}

std::int64_t APMPBMessageGetInt64(APMPBConstMessageRef message, std::int32_t index) {
    const APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("GetInt64"), 0;
    if (!fieldIs(info, index, APMPBFieldTypeInt64 | APMPBFieldTypeUInt64, false, "INT64")) return 0;
    const std::uint64_t* v = scalarCell(info, index);
    return v ? static_cast<std::int64_t>(*v) : 0;
}

void APMPBMessageSetInt64(APMPBMessageRef message, std::int32_t index, std::int64_t value) {
    APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("SetInt64");
    if (!fieldIs(info, index, APMPBFieldTypeInt64 | APMPBFieldTypeUInt64, false, "INT64")) return;
    info->fields[index] = static_cast<std::uint64_t>(value);
}

double APMPBMessageGetDouble(APMPBConstMessageRef message, std::int32_t index) {
    const APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("GetDouble"), 0.0;
    if (!fieldIs(info, index, APMPBFieldTypeDouble, false, "DOUBLE")) return 0.0;
    const std::uint64_t* v = scalarCell(info, index);
    return v ? std::bit_cast<double>(*v) : 0.0;
}

void APMPBMessageSetDouble(APMPBMessageRef message, std::int32_t index, double value) {
    APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("SetDouble");
    if (!fieldIs(info, index, APMPBFieldTypeDouble, false, "DOUBLE")) return;
    info->fields[index] = std::bit_cast<std::uint64_t>(value);
}

std::optional<std::string> APMPBMessageGetString(APMPBConstMessageRef message, std::int32_t index) {
    const APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("GetString"), std::nullopt;
    if (!fieldIs(info, index, APMPBFieldTypeString, false, "STRING")) return std::nullopt;
    const auto* s = std::get_if<APMPBBytes>(&info->fields[index]);
    if (!s || !isValidUTF8(s->view())) return std::nullopt;
    return std::string(s->view());
}

void APMPBMessageSetString(APMPBMessageRef message, std::int32_t index, std::optional<std::string_view> value) {
    APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("SetString");
    if (!fieldIs(info, index, APMPBFieldTypeString, false, "STRING")) return;
    if (!value) info->fields[index] = std::monostate{};
    else info->fields[index].emplace<APMPBBytes>(*value, nullptr);
}

std::shared_ptr<NANOMessageBase> APMPBMessageGetMessage(APMPBConstMessageRef message, std::int32_t index,
                                                        APMPBMessageFactory factory) {
    const APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("GetMessage"), nullptr;
    if (!fieldIs(info, index, APMPBFieldTypeMessage, false, "MESSAGE")) return nullptr;
    const auto* nested = std::get_if<APMPBRecordPtr>(&info->fields[index]);
    if (!nested || !*nested) return nullptr;
    if (!factory) {
        APMPBSystemLog("<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: %s", "(null)");
        return nullptr;
    }
    return factory(nested->get());
}

void APMPBMessageSetMessage(APMPBMessageRef message, std::int32_t index, APMPBConstMessageRef value) {
    APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("SetMessage");
    if (!fieldIs(info, index, APMPBFieldTypeMessage, false, "MESSAGE")) return;
    // Copy before releasing, so that a message set into its own field copies what it was.
    std::unique_ptr<APMPBMessageInfo> copy;
    const APMPBMessageInfo* source = value.get() ? value.get()->messageInfo() : nullptr;
    const bool copied = source && APMPBCopyMessageInfo(&copy, source);
    if (copied) info->fields[index] = APMPBRecordPtr(copy.release());
    else info->fields[index] = std::monostate{};
}

std::optional<Value::Array> APMPBMessageGetArray(APMPBConstMessageRef message, std::int32_t index,
                                                 APMPBMessageFactory itemFactory) {
    const APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("GetArray"), std::nullopt;
    if (!fieldIs(info, index, APMPBFieldTypeValueMask, true, "REPEATED")) return std::nullopt;
    const APMPBList* list = repeatedCell(const_cast<APMPBMessageInfo*>(info), index);
    if (!list) return std::nullopt;
    const APMPBFieldSchema& field = info->schema->field(index);
    Value::Array values;
    values.reserve(list->size());
    for (const APMPBCell& item : *list) {
        if (auto value = valueFromItem(item, field, itemFactory)) values.push_back(std::move(*value));
    }
    return values;
}

void APMPBMessageSetArray(APMPBMessageRef message, std::int32_t index, const std::optional<Value::Array>& values) {
    APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("SetArray");
    if (!fieldIs(info, index, APMPBFieldTypeValueMask, true, "REPEATED")) return;
    APMPBList* list = repeatedCell(info, index);
    if (!list) return;
    *list = APMPBList();
    if (!values) return;
    const APMPBFieldType type = info->schema->field(index).type;
    list->reserve(values->size(), nullptr);
    for (const Value& value : *values) {
        APMPBCell item;
        if (!itemFromValue(value, type, &item)) {
            *list = APMPBList();
            return;
        }
        list->append(nullptr) = std::move(item);
    }
}

std::optional<std::vector<NSData>> APMPBMessageGetEncodedArray(APMPBConstMessageRef message, std::int32_t index) {
    const APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("GetEncodedArray"), std::nullopt;
    if (!fieldIs(info, index, APMPBFieldTypeMessage, true, "REPEATED")) return std::nullopt;
    const APMPBList* list = repeatedCell(const_cast<APMPBMessageInfo*>(info), index);
    if (!list) return std::nullopt;
    std::vector<NSData> items;
    items.reserve(list->size());
    for (const APMPBCell& item : *list) {
        if (const auto* s = std::get_if<APMPBBytes>(&item)) {
            items.emplace_back(reinterpret_cast<const std::uint8_t*>(s->data()),
                               reinterpret_cast<const std::uint8_t*>(s->data()) + s->size());
        } else if (const auto* m = std::get_if<APMPBRecordPtr>(&item); m && *m) {
            NSData bytes;
            if (APMPBEncode(m->get(), &bytes) < 0) return std::nullopt;
            items.push_back(std::move(bytes));
        }
    }
    return items;
}

bool APMPBMessageSetEncodedArray(APMPBMessageRef message, std::int32_t index, const std::vector<NSData>& items) {
    APMPBMessageInfo* info = recordOf(message.get());
    if (!info) return logMissingRecord("SetEncodedArray"), false;
    if (!fieldIs(info, index, APMPBFieldTypeMessage, true, "REPEATED")) return false;
    APMPBList* list = repeatedCell(info, index);
    if (!list) return false;
    *list = APMPBList();
    const APMPBMessageSchema& itemSchema = info->schema->field(index).nested();
    list->reserve(items.size(), nullptr);
    for (const NSData& item : items) {
        if (!APMPBCheckEncoded(itemSchema, item.data(), item.size())) {
            *list = APMPBList();
            return false;
        }
        list->append(nullptr) = APMPBBytes(std::string_view(reinterpret_cast<const char*>(item.data()), item.size()), nullptr);
    }
    return true;
}
