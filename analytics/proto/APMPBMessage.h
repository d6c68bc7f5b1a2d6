// The typed face that every message class puts over its field table: factories returning
// the class itself. A class is `class APMPBX final : public APMPBMessage<APMPBX>` with a schema().
#pragma once

#include "analytics/proto/APMPBCodec.h"
#include "analytics/proto/NANOMessageBase.h"

#include <cstddef>
#include <cstdint>
#include <memory>

template <class Derived>
class APMPBMessage : public NANOMessageBase {
protected:
    // Only the factories below make message objects, so every object has its record.
    class Token {
        friend class APMPBMessage;
        Token() = default;
    };

public:
    explicit APMPBMessage(Token) {}

    // A new, empty message (initWithMessageInfo: with a null record).
    static std::shared_ptr<Derived> make() { return initWithMessageInfo(nullptr); }
    // A new empty message for null; else a deep copy of a record of this message, or null
    // when the record belongs to another message.
    [[nodiscard]] static std::shared_ptr<Derived> initWithMessageInfo(const APMPBMessageInfo* info) {
        auto message = std::make_shared<Derived>(Token{});
        if (!message->adoptCopyOf(info)) return nullptr;
        return message;
    }
    // The message parsed from wire bytes; no bytes give an empty message; null when they do not decode.
    [[nodiscard]] static std::shared_ptr<Derived> initWithBuffer(const NSData& data) {
        return initWithBuffer(data.data(), data.size());
    }
    [[nodiscard]] static std::shared_ptr<Derived> initWithBuffer(const std::uint8_t* bytes, std::size_t length) {
        auto message = std::make_shared<Derived>(Token{});
        if (!message->adoptDecoded(bytes, length)) return nullptr;
        return message;
    }
    // As initWithBuffer, with the items of its repeated message fields kept as their checked
    // wire bytes until read (APMPBDecodeKeepingItemsEncoded).
    [[nodiscard]] static std::shared_ptr<Derived> initWithBufferKeepingItemsEncoded(const NSData& data) {
        auto message = std::make_shared<Derived>(Token{});
        if (!message->adoptDecoded(data.data(), data.size(), true)) return nullptr;
        return message;
    }
    // The factory the accessors take for nested messages of this class.
    [[nodiscard]] static std::shared_ptr<NANOMessageBase> messageFromInfo(const APMPBMessageInfo* info) {
        return initWithMessageInfo(info);
    }

    const APMPBMessageSchema& messageSchema() const override { return Derived::schema(); }
    InitMessageInfoFn initMessageInfoFn() const override { return &initRecord; }

private:
    static bool initRecord(APMPBMessageInfo* info) { return APMPBInitMessageInfo(Derived::schema(), info); }
};
