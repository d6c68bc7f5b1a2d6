// Checks a field table once and derives the wire order and the tag look-up from it.
#include "analytics/proto/APMPBMessageSchema.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void badTable(const char* messageID, const char* what, std::int32_t index) {
    std::fprintf(stderr, "APMPBMessageSchema %s: %s at field %d\n", messageID, what, static_cast<int>(index));
    std::abort();
}

}  // namespace

APMPBMessageSchema::APMPBMessageSchema(const char* messageID, std::initializer_list<APMPBFieldSchema> fields)
    : messageID_(messageID), fields_(fields) {
    std::uint32_t largestTag = 0;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const APMPBFieldSchema& f = fields_[i];
        if (f.index != static_cast<std::int32_t>(i)) badTable(messageID, "index out of order", f.index);
        if (f.tag == 0) badTable(messageID, "zero tag", f.index);
        const APMPBFieldType label = f.type & APMPBFieldTypeLabelMask;
        if (label != APMPBFieldTypeOptional && label != APMPBFieldTypeRepeated) badTable(messageID, "bad label", f.index);
        if (std::popcount(APMPBFieldTypeValue(f.type)) != 1 ||
            (f.type & ~(APMPBFieldTypeLabelMask | APMPBFieldTypeValueMask | APMPBFieldTypeDecodedOnRead)))
            badTable(messageID, "bad value type", f.index);
        if (APMPBFieldTypeIsDecodedOnRead(f.type) &&
            (label != APMPBFieldTypeRepeated || APMPBFieldTypeValue(f.type) != APMPBFieldTypeMessage))
            badTable(messageID, "decoded on read needs a repeated message", f.index);
        if ((APMPBFieldTypeValue(f.type) == APMPBFieldTypeMessage) != (f.nested != nullptr))
            badTable(messageID, "nested message mismatch", f.index);
        largestTag = std::max(largestTag, f.tag);
        types_.push_back(f.type);
        wireOrder_.push_back(f.index);
    }
    tagToIndex_.assign(largestTag + 1, -1);
    for (const APMPBFieldSchema& f : fields_) {
        if (tagToIndex_[f.tag] != -1) badTable(messageID, "duplicate tag", f.index);
        tagToIndex_[f.tag] = f.index;
    }
    std::sort(wireOrder_.begin(), wireOrder_.end(),
              [this](std::int32_t a, std::int32_t b) { return fields_[a].tag < fields_[b].tag; });
}
