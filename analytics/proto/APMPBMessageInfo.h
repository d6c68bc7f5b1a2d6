// The in-memory record of one protocol message: one value cell per field, reached by field index.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

class APMPBMessageSchema;
struct APMPBMessageInfo;
struct APMPBRepeatedField;

// One field's or one list item's value. Integer types sit in the 64-bit word (bool as 0/1,
// 32-bit values zero-extended), float and double by their bits; strings and bytes as bytes
// (a present empty string is an empty string, never "no data"); a message as its own record.
using APMPBCell = std::variant<std::monostate, std::uint64_t, std::string, std::unique_ptr<APMPBMessageInfo>,
                               std::unique_ptr<APMPBRepeatedField>>;

// A repeated field's cell: made empty with the record and kept until the record goes.
struct APMPBRepeatedField {
    std::vector<APMPBCell> items;
};

struct APMPBMessageInfo {
    // Null until the record is initialised for a message (APMPBInitMessageInfo).
    const APMPBMessageSchema* schema = nullptr;
    // By field index; std::monostate marks an absent field.
    std::vector<APMPBCell> fields;

    const char* messageID() const;
    const std::uint32_t* fieldTypes() const;
};
