// The field table of one protocol message: index, wire tag, type word, name and nested message per field.
#pragma once

#include "analytics/proto/APMPBFieldType.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

class APMPBMessageSchema;

struct APMPBFieldSchema {
    std::int32_t index;
    std::uint32_t tag;
    APMPBFieldType type;
    const char* name;
    // The schema of a message field's message (a function, so tables may refer to each other).
    const APMPBMessageSchema& (*nested)() = nullptr;
};

class APMPBMessageSchema {
public:
    // Rows in field-index order. A malformed table is a programming error and aborts.
    APMPBMessageSchema(const char* messageID, std::initializer_list<APMPBFieldSchema> fields);
    APMPBMessageSchema(const APMPBMessageSchema&) = delete;
    APMPBMessageSchema& operator=(const APMPBMessageSchema&) = delete;

    const char* messageID() const { return messageID_; }
    std::size_t fieldCount() const { return fields_.size(); }
    const APMPBFieldSchema& field(std::size_t index) const { return fields_[index]; }
    // The type words by field index.
    const APMPBFieldType* fieldTypes() const { return types_.data(); }
    // Field indices in ascending tag order, the order in which fields go on the wire.
    const std::vector<std::int32_t>& wireOrder() const { return wireOrder_; }
    // The field index of a wire tag, or -1 for a tag the message does not know.
    std::int32_t indexForTag(std::uint32_t tag) const {
        return tag < tagToIndex_.size() ? tagToIndex_[tag] : -1;
    }

private:
    const char* messageID_;
    std::vector<APMPBFieldSchema> fields_;
    std::vector<APMPBFieldType> types_;
    std::vector<std::int32_t> wireOrder_;
    std::vector<std::int32_t> tagToIndex_;
};
