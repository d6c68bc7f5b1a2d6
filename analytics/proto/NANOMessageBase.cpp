// The operations every message class shares, over the generic record functions.
#include "analytics/proto/NANOMessageBase.h"

#include "analytics/proto/APMPBCodec.h"

#include <cstring>

std::optional<NSData> NANOMessageBase::protoBuffer() const {
    if (!messageInfo_) return std::nullopt;
    NSData bytes;
    if (APMPBEncode(messageInfo_.get(), &bytes) < 0) return std::nullopt;
    return bytes;
}

NANOMessageBase::DeallocMessageFieldFn NANOMessageBase::deallocMessageFieldFn() const { return &APMPBDeallocMessageField; }

NANOMessageBase::CopyMessageInfoFn NANOMessageBase::copyMessageInfoFn() const { return &APMPBCopyMessageInfo; }

bool NANOMessageBase::adoptCopyOf(const APMPBMessageInfo* info) {
    const APMPBMessageSchema& schema = messageSchema();
    if (!info) {
        auto record = std::make_unique<APMPBMessageInfo>();
        if (!APMPBInitMessageInfo(schema, record.get())) return false;
        messageInfo_ = std::move(record);
        return true;
    }
    const char* id = info->messageID();
    if (!id || std::strcmp(id, schema.messageID()) != 0) return false;
    return APMPBCopyMessageInfo(&messageInfo_, info);
}

bool NANOMessageBase::adoptDecoded(const std::uint8_t* bytes, std::size_t length, bool keepItemsEncoded) {
    auto record = std::make_unique<APMPBMessageInfo>();
    if (!APMPBInitMessageInfo(messageSchema(), record.get())) return false;
    const bool decoded = keepItemsEncoded ? APMPBDecodeKeepingItemsEncoded(bytes, length, record.get())
                                          : APMPBDecode(bytes, length, record.get());
    if (!decoded) return false;
    // The decoded record is handed over whole; a copy would only repeat the work.
    messageInfo_ = std::move(record);
    return true;
}
