// The protocol of every measurement message class: a record it owns, made empty, copied or
// parsed, and encoded; fields are read and written through the accessors of APMPBFieldAccess.h.
#pragma once

#include "analytics/proto/APMPBMessageInfo.h"
#include "analytics/proto/APMPBMessageSchema.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

class NANOMessageBase : public NSObject {
public:
    using InitMessageInfoFn = bool (*)(APMPBMessageInfo* info);
    using DeallocMessageFieldFn = bool (*)(APMPBMessageInfo* info, std::int32_t index);
    using CopyMessageInfoFn = bool (*)(std::unique_ptr<APMPBMessageInfo>* destination, const APMPBMessageInfo* source);

    // The field table of this object's message.
    virtual const APMPBMessageSchema& messageSchema() const = 0;
    // The message's name, e.g. "Event"; every record of the message carries it.
    const char* messageID() const { return messageSchema().messageID(); }
    // The record this object owns; null for an object made without one.
    APMPBMessageInfo* messageInfo() { return messageInfo_.get(); }
    const APMPBMessageInfo* messageInfo() const { return messageInfo_.get(); }

    // The encoded message; nullopt when there is no record or encoding fails.
    [[nodiscard]] std::optional<NSData> protoBuffer() const;

    // The record functions of this message, so that code holding any message can make,
    // clear and copy records of it without knowing its class.
    virtual InitMessageInfoFn initMessageInfoFn() const = 0;
    DeallocMessageFieldFn deallocMessageFieldFn() const;
    CopyMessageInfoFn copyMessageInfoFn() const;

protected:
    NANOMessageBase() = default;
    // initWithMessageInfo: an empty record for null, else a deep copy of a record of this
    // message; false for a record of another message.
    [[nodiscard]] bool adoptCopyOf(const APMPBMessageInfo* info);
    // initWithBuffer: the decoded record; false when the bytes do not decode.
    [[nodiscard]] bool adoptDecoded(const std::uint8_t* bytes, std::size_t length, bool keepItemsEncoded = false);

private:
    std::unique_ptr<APMPBMessageInfo> messageInfo_;
};

// Makes a message object of some class from a record (its initWithMessageInfo:); used where
// an accessor hands out nested messages.
using APMPBMessageFactory = std::shared_ptr<NANOMessageBase> (*)(const APMPBMessageInfo* info);
