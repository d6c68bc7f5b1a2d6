// Field access by field index on any message: has/clear, typed get/set, nested messages and
// repeated fields as value arrays. Misuse is logged and answered with a neutral value.
#pragma once

#include "analytics/proto/NANOMessageBase.h"
#include "platform/foundation/Value.h"

#include <concepts>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The message a setter works on: a message object or none (none behaves as a message without record).
class APMPBMessageRef {
public:
    APMPBMessageRef(std::nullptr_t) {}
    APMPBMessageRef(NANOMessageBase* message) : message_(message) {}
    template <class T>
        requires std::derived_from<T, NANOMessageBase>
    APMPBMessageRef(const std::shared_ptr<T>& message) : message_(message.get()) {}
    NANOMessageBase* get() const { return message_; }

private:
    NANOMessageBase* message_ = nullptr;
};

// The message a getter reads.
class APMPBConstMessageRef {
public:
    APMPBConstMessageRef(std::nullptr_t) {}
    APMPBConstMessageRef(const NANOMessageBase* message) : message_(message) {}
    APMPBConstMessageRef(APMPBMessageRef message) : message_(message.get()) {}
    template <class T>
        requires std::derived_from<T, NANOMessageBase>
    APMPBConstMessageRef(const std::shared_ptr<T>& message) : message_(message.get()) {}
    const NANOMessageBase* get() const { return message_; }

private:
    const NANOMessageBase* message_ = nullptr;
};

// A single field is present when set; a repeated field is always present.
bool APMPBMessageHasField(APMPBConstMessageRef message, std::int32_t index);
// A single field becomes absent; a repeated one empty.
void APMPBMessageClearField(APMPBMessageRef message, std::int32_t index);

bool APMPBMessageGetBool(APMPBConstMessageRef message, std::int32_t index);
void APMPBMessageSetBool(APMPBMessageRef message, std::int32_t index, bool value);
// enum, int32 and uint32 fields, bit for bit.
std::int32_t APMPBMessageGetInt32(APMPBConstMessageRef message, std::int32_t index);
void APMPBMessageSetInt32(APMPBMessageRef message, std::int32_t index, std::int32_t value);
// int64 and uint64 fields, bit for bit.
std::int64_t APMPBMessageGetInt64(APMPBConstMessageRef message, std::int32_t index);
void APMPBMessageSetInt64(APMPBMessageRef message, std::int32_t index, std::int64_t value);
double APMPBMessageGetDouble(APMPBConstMessageRef message, std::int32_t index);
void APMPBMessageSetDouble(APMPBMessageRef message, std::int32_t index, double value);
// nullopt when absent or when the bytes are not valid UTF-8.
[[nodiscard]] std::optional<std::string> APMPBMessageGetString(APMPBConstMessageRef message, std::int32_t index);
// nullopt clears the field.
void APMPBMessageSetString(APMPBMessageRef message, std::int32_t index, std::optional<std::string_view> value);

// A new message object (a deep copy) made by `factory`; null when absent, when no factory
// is given, or when the nested record is of another message than the factory makes.
[[nodiscard]] std::shared_ptr<NANOMessageBase> APMPBMessageGetMessage(APMPBConstMessageRef message, std::int32_t index,
                                                        APMPBMessageFactory factory);
template <class T>
[[nodiscard]] std::shared_ptr<T> APMPBMessageGetMessage(APMPBConstMessageRef message, std::int32_t index) {
    return std::static_pointer_cast<T>(APMPBMessageGetMessage(message, index, &T::messageFromInfo));
}
// Stores a deep copy of `value`'s record; none clears the field.
void APMPBMessageSetMessage(APMPBMessageRef message, std::int32_t index, APMPBConstMessageRef value);

// A repeated field as values: numbers, strings, data, or message objects made by
// `itemFactory` (deep copies). Items that cannot be converted are left out. nullopt on misuse.
[[nodiscard]] std::optional<Value::Array> APMPBMessageGetArray(APMPBConstMessageRef message, std::int32_t index,
                                                 APMPBMessageFactory itemFactory = nullptr);
template <class T>
[[nodiscard]] std::optional<Value::Array> APMPBMessageGetArray(APMPBConstMessageRef message, std::int32_t index) {
    return APMPBMessageGetArray(message, index, &T::messageFromInfo);
}
// Replaces a repeated field with copies of the values; nullopt empties it. All or nothing:
// a value of the wrong kind is logged and leaves the field empty.
void APMPBMessageSetArray(APMPBMessageRef message, std::int32_t index, const std::optional<Value::Array>& values);
// A repeated message field's items as their wire bytes, whether they were kept so or decoded;
// nullopt on misuse or when an item does not encode. For readers that decode each item
// themselves and must know which one failed.
[[nodiscard]] std::optional<std::vector<NSData>> APMPBMessageGetEncodedArray(APMPBConstMessageRef message,
                                                                          std::int32_t index);
// Replaces a repeated message field with items given as their wire bytes, which are written
// out as they are and decoded only when read. All or nothing: bytes that do not decode as the
// field's message leave the field empty and answer false.
[[nodiscard]] bool APMPBMessageSetEncodedArray(APMPBMessageRef message, std::int32_t index,
                                               const std::vector<NSData>& items);
