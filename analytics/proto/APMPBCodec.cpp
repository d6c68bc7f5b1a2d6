// One table-driven decoder, encoder and copier for every message. nanopb reads tags, varints,
// fixed values and strings; the encoder writes the wire itself in one pass.
#include "analytics/proto/APMPBCodec.h"

#include "analytics/proto/APMPBLog.h"

#include <pb_decode.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>

namespace {

const char* errorText(const pb_istream_t* stream) { return stream->errmsg ? stream->errmsg : "(none)"; }

bool isPackable(APMPBFieldType value) {
    return (value & (APMPBFieldTypeVarintMask | APMPBFieldTypeFloat | APMPBFieldTypeDouble)) != 0;
}

pb_wire_type_t wireTypeOf(APMPBFieldType value) {
    if (value & APMPBFieldTypeVarintMask) return PB_WT_VARINT;
    if (value == APMPBFieldTypeFloat) return PB_WT_32BIT;
    if (value == APMPBFieldTypeDouble) return PB_WT_64BIT;
    return PB_WT_STRING;
}

// The substream's failure becomes the parent's, as closing the substream would do.
bool failWith(pb_istream_t* stream, const pb_istream_t& sub) {
    if (!stream->errmsg) stream->errmsg = sub.errmsg;
    return false;
}

// Empty lists in the repeated fields' cells; the other cells stay absent.
void makeLists(APMPBMessageInfo& info) {
    const APMPBMessageSchema& schema = *info.schema;
    for (std::size_t i = 0; i < schema.fieldCount(); ++i) {
        if (APMPBFieldTypeIsRepeated(schema.field(i).type)) info.fields[i].emplace<APMPBList>();
    }
}

// A new empty record of `schema` in `arena`, with its cells right behind it.
APMPBRecordPtr arenaRecord(const APMPBMessageSchema& schema, APMPBArena* arena) {
    const std::size_t count = schema.fieldCount();
    void* memory = arena->allocate(sizeof(APMPBMessageInfo) + count * sizeof(APMPBCell), alignof(APMPBMessageInfo));
    static_assert(sizeof(APMPBMessageInfo) % alignof(APMPBCell) == 0);
    auto* info = new (memory) APMPBMessageInfo();
    auto* cells = reinterpret_cast<APMPBCell*>(info + 1);
    for (std::size_t i = 0; i < count; ++i) new (&cells[i]) APMPBCell();
    info->schema = &schema;
    info->fields.adopt(cells, count);
    makeLists(*info);
    return APMPBRecordPtr(info);
}

APMPBCell copyCell(const APMPBCell& cell);

std::unique_ptr<APMPBMessageInfo> copyRecord(const APMPBMessageInfo& source) {
    auto copy = std::make_unique<APMPBMessageInfo>();
    copy->schema = source.schema;
    copy->fields.reset(source.fields.size());
    for (std::size_t i = 0; i < source.fields.size(); ++i) copy->fields[i] = copyCell(source.fields[i]);
    return copy;
}

APMPBCell copyCell(const APMPBCell& cell) {
    if (const auto* v = std::get_if<std::uint64_t>(&cell)) return *v;
    if (const auto* s = std::get_if<APMPBBytes>(&cell)) return APMPBBytes(s->view(), nullptr);
    if (const auto* m = std::get_if<APMPBRecordPtr>(&cell)) {
        if (*m) return APMPBRecordPtr(copyRecord(**m).release());
        return {};
    }
    if (const auto* r = std::get_if<APMPBList>(&cell)) {
        APMPBList list;
        list.reserve(r->size(), nullptr);
        for (const APMPBCell& item : *r) list.append(nullptr) = copyCell(item);
        return list;
    }
    return {};
}

// ---- decoding ----

// One pass over the bytes. Every record, list and string is made in the arena of the top record.
struct Decoding {
    APMPBArena* arena;
    // List items that first sizes may still reserve ahead of the items that fill them: an
    // item takes at least two bytes, and nested lists must not each count the same bytes.
    std::size_t unfilledBudget;
    // The whole input, so that an item kept encoded can be found in it.
    const std::uint8_t* input = nullptr;
    std::size_t inputLength = 0;
    // Items of the top record's repeated message fields stay as their checked bytes.
    bool keepItemsEncoded = false;
};

// A null record checks the bytes as decoding them would, and keeps nothing.
bool decodeBody(pb_istream_t* stream, const APMPBMessageSchema& schema, APMPBMessageInfo* info, int depth,
                Decoding& decoding);

// The length of a length-delimited value; one that runs past the end fails as reading it would.
bool readLength(pb_istream_t* stream, std::uint32_t* length) {
    if (!pb_decode_varint32(stream, length)) return false;
    if (*length > stream->bytes_left) PB_RETURN_ERROR(stream, "end-of-stream");
    return true;
}

// The length-delimited value that follows, as a substream the caller closes.
bool openSubstream(pb_istream_t* stream, pb_istream_t* sub) {
    std::uint32_t length;
    if (!readLength(stream, &length)) return false;
    *sub = *stream;
    sub->bytes_left = length;
    stream->bytes_left -= length;
    return true;
}

bool readScalar(pb_istream_t* stream, APMPBFieldType value, std::uint64_t* out) {
    if (value & APMPBFieldTypeVarintMask) {
        std::uint64_t raw;
        if (!pb_decode_varint(stream, &raw)) return false;
        if (value == APMPBFieldTypeBool) raw = raw != 0;
        else if (value != APMPBFieldTypeInt64 && value != APMPBFieldTypeUInt64) raw &= 0xFFFFFFFFu;
        *out = raw;
        return true;
    }
    if (value == APMPBFieldTypeFloat) {
        std::uint32_t bits;
        if (!pb_decode_fixed32(stream, &bits)) return false;
        *out = bits;
        return true;
    }
    std::uint64_t bits;
    if (!pb_decode_fixed64(stream, &bits)) return false;
    *out = bits;
    return true;
}

// Items of a repeated integer field keep the full varint; readers narrow them.
bool readItemScalar(pb_istream_t* stream, APMPBFieldType value, std::uint64_t* out) {
    if (value & APMPBFieldTypeVarintMask) return pb_decode_varint(stream, out);
    return readScalar(stream, value, out);
}

// Reads a string or bytes value into `cell`, made in `arena`; without a cell it is only checked.
bool readString(pb_istream_t* stream, APMPBCell* cell, APMPBArena* arena) {
    std::uint32_t length;
    if (!readLength(stream, &length)) return false;
    if (length > APMPBMaxStringLength) {
        APMPBPrint("Unable to process proto stream. Buffer is too big. %zu > %d", static_cast<std::size_t>(length),
                   static_cast<int>(APMPBMaxStringLength));
        PB_RETURN_ERROR(stream, "string too long");
    }
    if (!cell) return pb_read(stream, nullptr, length);
    APMPBBytes& bytes = cell->emplace<APMPBBytes>(APMPBBytes::ofLength(length, arena));
    return pb_read(stream, reinterpret_cast<pb_byte_t*>(bytes.data()), length);
}

bool decodeNested(pb_istream_t* stream, const APMPBMessageSchema& schema, APMPBMessageInfo* nested, int depth,
                  Decoding& decoding) {
    pb_istream_t sub;
    if (!openSubstream(stream, &sub)) return false;
    if (!decodeBody(&sub, schema, nested, depth, decoding)) return failWith(stream, sub);
    return pb_close_string_substream(stream, &sub);
}

// Items a list is first sized for, from the length of its first item and the bytes left
// after it: a list of similar items is then sized once.
std::size_t expectedItems(std::size_t itemLength, std::size_t bytesAfter, Decoding& decoding) {
    const std::size_t ahead = std::min(bytesAfter / (itemLength + 2), decoding.unfilledBudget);
    decoding.unfilledBudget -= ahead;
    return 1 + ahead;
}

bool decodeField(pb_istream_t* stream, const APMPBMessageSchema& schema, APMPBMessageInfo* info, std::int32_t index,
                 pb_wire_type_t wireType, int depth, Decoding& decoding) {
    APMPBArena* arena = decoding.arena;
    const APMPBFieldSchema& field = schema.field(index);
    const APMPBFieldType value = APMPBFieldTypeValue(field.type);
    APMPBCell* cell = info ? &info->fields[index] : nullptr;

    if (!APMPBFieldTypeIsRepeated(field.type)) {
        if (wireType != wireTypeOf(value)) PB_RETURN_ERROR(stream, "wrong wire type");
        if (value == APMPBFieldTypeString || value == APMPBFieldTypeBytes) {
            // The first occurrence of a single string is kept; later ones are skipped.
            if (cell && std::holds_alternative<APMPBBytes>(*cell)) return pb_skip_field(stream, wireType);
            return readString(stream, cell, arena);
        }
        if (value == APMPBFieldTypeMessage) {
            if (!cell) return decodeNested(stream, field.nested(), nullptr, depth + 1, decoding);
            // A repeated occurrence merges into the record the first one made.
            auto* nested = std::get_if<APMPBRecordPtr>(cell);
            if (!nested || !*nested) nested = &cell->emplace<APMPBRecordPtr>(arenaRecord(field.nested(), arena));
            return decodeNested(stream, field.nested(), nested->get(), depth + 1, decoding);
        }
        std::uint64_t v;
        if (!readScalar(stream, value, &v)) return false;
        if (cell) *cell = v;
        return true;
    }

    APMPBList* list = nullptr;
    if (cell) {
        list = std::get_if<APMPBList>(cell);
        if (!list) list = &cell->emplace<APMPBList>();
    }
    if (wireType == PB_WT_STRING && isPackable(value)) {
        pb_istream_t sub;
        if (!openSubstream(stream, &sub)) return false;
        while (sub.bytes_left > 0) {
            std::uint64_t v;
            if (!readItemScalar(&sub, value, &v)) return failWith(stream, sub);
            if (list) list->append(arena) = v;
        }
        return pb_close_string_substream(stream, &sub);
    }
    if (wireType != wireTypeOf(value)) PB_RETURN_ERROR(stream, "wrong wire type");
    if (value == APMPBFieldTypeString || value == APMPBFieldTypeBytes) {
        return readString(stream, list ? &list->append(arena) : nullptr, arena);
    }
    if (value == APMPBFieldTypeMessage && APMPBFieldTypeIsDecodedOnRead(field.type)) {
        // Only the item's length is checked now; its reader decodes it.
        std::uint32_t length;
        if (!readLength(stream, &length)) return false;
        if (!list) return pb_read(stream, nullptr, length);
        APMPBBytes& bytes = list->append(arena).emplace<APMPBBytes>(APMPBBytes::ofLength(length, arena));
        return pb_read(stream, reinterpret_cast<pb_byte_t*>(bytes.data()), length);
    }
    if (value == APMPBFieldTypeMessage) {
        const APMPBMessageSchema& itemSchema = field.nested();
        pb_istream_t sub;
        if (!openSubstream(stream, &sub)) return false;
        if (list && list->capacity() == 0) {
            list->reserve(expectedItems(sub.bytes_left, stream->bytes_left, decoding), arena);
        }
        // The item stays in its slot even when it fails; the caller drops the whole record.
        APMPBMessageInfo* item = nullptr;
        const bool keepEncoded = list && depth == 0 && decoding.keepItemsEncoded;
        if (keepEncoded) {
            // Where the item's bytes lie in the input: the top stream reads the input itself.
            const std::size_t offset = decoding.inputLength - stream->bytes_left - sub.bytes_left;
            list->append(arena) = APMPBBytes(
                std::string_view(reinterpret_cast<const char*>(decoding.input) + offset, sub.bytes_left), arena);
        } else if (list) {
            item = std::get<APMPBRecordPtr>(list->append(arena) = arenaRecord(itemSchema, arena)).get();
        }
        if (!decodeBody(&sub, itemSchema, item, depth + 1, decoding)) {
            APMPBPrint("<ERROR> %s decoder failed: %s\n", itemSchema.messageID(), errorText(&sub));
            APMPBPrint("<ERROR> %s decoder failed: Unable to decode repeated %s\n", itemSchema.messageID(),
                       itemSchema.messageID());
            return failWith(stream, sub);
        }
        return pb_close_string_substream(stream, &sub);
    }
    std::uint64_t v;
    if (!readItemScalar(stream, value, &v)) return false;
    if (list) list->append(arena) = v;
    return true;
}

bool decodeBody(pb_istream_t* stream, const APMPBMessageSchema& schema, APMPBMessageInfo* info, int depth,
                Decoding& decoding) {
    if (depth > APMPBMaxNestingDepth) PB_RETURN_ERROR(stream, "nesting too deep");
    while (stream->bytes_left > 0) {
        pb_wire_type_t wireType;
        std::uint32_t tag;
        bool eof;
        if (!pb_decode_tag(stream, &wireType, &tag, &eof)) return false;
        if (tag == 0) PB_RETURN_ERROR(stream, "zero tag");
        const std::int32_t index = schema.indexForTag(tag);
        if (index < 0) {
            if (!pb_skip_field(stream, wireType)) return false;
            continue;
        }
        if (!decodeField(stream, schema, info, index, wireType, depth, decoding)) return false;
    }
    return true;
}

// ---- encoding ----

std::size_t varintSize(std::uint64_t v) { return v < 128 ? 1 : (static_cast<std::size_t>(std::bit_width(v)) + 6) / 7; }

// The varint of an integer cell: int32 and enum are sign-extended to ten bytes when negative,
// as the wire format has them.
std::uint64_t varintOf(APMPBFieldType value, std::uint64_t cell) {
    if (value == APMPBFieldTypeInt32 || value == APMPBFieldTypeEnum)
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(cell & 0xFFFFFFFFu)));
    if (value == APMPBFieldTypeBool) return cell & 0xFF ? 1 : 0;
    if (value == APMPBFieldTypeUInt32) return cell & 0xFFFFFFFFu;
    return cell;
}

// Writes the wire front to back in one pass over the records, into a buffer of its own that
// grows: the records lie apart in memory, so reading each once, in the order they were made,
// costs far less than a sizing pass ahead of the writing. A nested message's length is given
// room ahead of its body and written after it; when it needs another width, the body is moved,
// while it is still in cache.
class Writer {
public:
    // Room for a tag and a length or a scalar, both of ten bytes at most.
    static constexpr std::size_t kHeader = 20;

    std::size_t written() const { return static_cast<std::size_t>(at_ - buffer_.get()); }
    const std::uint8_t* begin() const { return buffer_.get(); }
    const std::uint8_t* end() const { return at_; }

    // At least `count` free bytes after what is written; false when the message would pass
    // what a length can say.
    bool room(std::size_t count) {
        if (static_cast<std::size_t>(end_ - at_) >= count) return true;
        return grow(count);
    }

    // The writes below assume room() was asked first.
    void varint(std::uint64_t value) {
        while (value >= 0x80) {
            *at_++ = static_cast<std::uint8_t>(value | 0x80);
            value >>= 7;
        }
        *at_++ = static_cast<std::uint8_t>(value);
    }
    void tag(std::uint32_t field, pb_wire_type_t type) {
        varint((static_cast<std::uint64_t>(field) << 3) | static_cast<std::uint64_t>(type));
    }
    // Little-endian, as the wire has it.
    void fixed(std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i) *at_++ = static_cast<std::uint8_t>(value >> (8 * i));
    }
    bool bytes(std::uint32_t field, const char* data, std::size_t size) {
        if (!room(size + kHeader)) return false;
        tag(field, PB_WT_STRING);
        varint(size);
        if (size > 0) std::memcpy(at_, data, size);
        at_ += size;
        return true;
    }

    // Opens a nested message's field with `width` bytes kept for its length; the body's
    // offset, for closeNested.
    bool openNested(std::uint32_t field, std::size_t width, std::size_t* bodyStart) {
        if (!room(kHeader)) return false;
        tag(field, PB_WT_STRING);
        at_ += width;
        *bodyStart = written();
        return true;
    }
    // Writes the length into the `kept` bytes ahead of the body, moving the body when the length
    // needs another width; *width is the one it took.
    bool closeNested(std::size_t bodyStart, std::size_t kept, std::size_t* width) {
        std::uint64_t length = written() - bodyStart;
        *width = varintSize(length);
        if (*width > kept && !room(*width - kept)) return false;
        std::uint8_t* lengthAt = buffer_.get() + bodyStart - kept;
        if (*width != kept) {
            std::memmove(lengthAt + *width, lengthAt + kept, length);
            at_ = lengthAt + *width + length;
        }
        for (std::size_t i = 0; i + 1 < *width; ++i, length >>= 7) lengthAt[i] = static_cast<std::uint8_t>(length | 0x80);
        lengthAt[*width - 1] = static_cast<std::uint8_t>(length);
        return true;
    }

private:
    bool grow(std::size_t count) {
        const std::size_t used = written();
        if (used + count > static_cast<std::size_t>(INT32_MAX) + kHeader) return false;
        const std::size_t capacity = std::max({std::size_t{1024}, 2 * capacity_, used + count});
        auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        if (used > 0) std::memcpy(buffer.get(), buffer_.get(), used);
        buffer_ = std::move(buffer);
        capacity_ = capacity;
        at_ = buffer_.get() + used;
        end_ = buffer_.get() + capacity;
        return true;
    }

    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t capacity_ = 0;
    std::uint8_t* at_ = nullptr;
    std::uint8_t* end_ = nullptr;
};

bool writeScalar(Writer& out, APMPBFieldType value, std::uint32_t tag, std::uint64_t v, bool item) {
    if (!out.room(Writer::kHeader)) return false;
    if (value == APMPBFieldTypeFloat) {
        out.tag(tag, PB_WT_32BIT);
        out.fixed(v & 0xFFFFFFFFu, 4);
    } else if (value == APMPBFieldTypeDouble) {
        out.tag(tag, PB_WT_64BIT);
        out.fixed(v, 8);
    } else {
        // Items are written with their full cell value; single fields narrowed to their type.
        out.tag(tag, PB_WT_VARINT);
        out.varint(item ? v : varintOf(value, v));
    }
    return true;
}

bool writeBody(Writer& out, const APMPBMessageInfo& info);

// `width` guesses the width of the length, and learns the one it took: items of one list are
// mostly of a size, so their bodies are seldom moved.
bool writeNested(Writer& out, const APMPBMessageInfo& nested, std::uint32_t tag, std::size_t& width) {
    std::size_t bodyStart;
    const std::size_t kept = width;
    return out.openNested(tag, kept, &bodyStart) && writeBody(out, nested) && out.closeNested(bodyStart, kept, &width);
}

bool writeBody(Writer& out, const APMPBMessageInfo& info) {
    const APMPBMessageSchema& schema = *info.schema;
    for (const std::int32_t index : schema.wireOrder()) {
        const APMPBFieldSchema& field = schema.field(index);
        const APMPBFieldType value = APMPBFieldTypeValue(field.type);
        const APMPBCell& cell = info.fields[index];
        if (const auto* v = std::get_if<std::uint64_t>(&cell)) {
            if (!writeScalar(out, value, field.tag, *v, false)) return false;
        } else if (const auto* s = std::get_if<APMPBBytes>(&cell)) {
            if (!out.bytes(field.tag, s->data(), s->size())) return false;
        } else if (const auto* m = std::get_if<APMPBRecordPtr>(&cell)) {
            std::size_t width = 1;
            if (*m && !writeNested(out, **m, field.tag, width)) return false;
        } else if (const auto* r = std::get_if<APMPBList>(&cell)) {
            // Repeated integers go out unpacked: one tag per item.
            std::size_t width = 1;
            for (const APMPBCell& item : *r) {
                if (const auto* iv = std::get_if<std::uint64_t>(&item)) {
                    if (!writeScalar(out, value, field.tag, *iv, true)) return false;
                } else if (const auto* is = std::get_if<APMPBBytes>(&item)) {
                    if (!out.bytes(field.tag, is->data(), is->size())) return false;
                } else if (const auto* im = std::get_if<APMPBRecordPtr>(&item); im && *im) {
                    if (!writeNested(out, **im, field.tag, width)) return false;
                }
            }
        }
    }
    return true;
}

}  // namespace

bool APMPBInitMessageInfo(const APMPBMessageSchema& schema, APMPBMessageInfo* info) {
    if (!info) return false;
    // The old cells go before the arena that may hold what they point to.
    info->fields.reset(0);
    info->arena.reset();
    info->schema = &schema;
    info->fields.reset(schema.fieldCount());
    makeLists(*info);
    return true;
}

bool APMPBDeallocMessageField(APMPBMessageInfo* info, std::int32_t index) {
    if (!info || !info->schema) return false;
    if (index < 0 || static_cast<std::size_t>(index) >= info->schema->fieldCount()) {
        APMPBPrint("<ERROR> %s: Cannot deallocate field %d: Unknown field\n", info->schema->messageID(), index);
        return false;
    }
    APMPBCell& cell = info->fields[index];
    if (APMPBFieldTypeIsRepeated(info->schema->field(index).type)) {
        cell.emplace<APMPBList>();
    } else {
        cell = std::monostate{};
    }
    return true;
}

bool APMPBCopyMessageInfo(std::unique_ptr<APMPBMessageInfo>* destination, const APMPBMessageInfo* source) {
    if (!destination || !source || !source->schema) return false;
    *destination = copyRecord(*source);
    return true;
}

namespace {

bool decodeTop(const std::uint8_t* bytes, std::size_t length, APMPBMessageInfo* info, const APMPBMessageSchema* schema,
               bool keepItemsEncoded) {
    if (!schema) {
        APMPBPrint("<ERROR> %s decoder failed: message_info is NULL\n", "(null)");
        return false;
    }
    static const std::uint8_t kNoBytes = 0;
    if (!bytes) length = 0;
    pb_istream_t stream = pb_istream_from_buffer(bytes ? bytes : &kNoBytes, length);
    if (info && length > 0 && !info->arena) info->arena = std::make_unique<APMPBArena>(APMPBArena::firstBlockFor(length));
    Decoding decoding{info ? info->arena.get() : nullptr, length / 2, bytes, length, keepItemsEncoded};
    if (!decodeBody(&stream, *schema, info, 0, decoding)) {
        APMPBPrint("<ERROR> %s decoder failed: %s\n", schema->messageID(), errorText(&stream));
        return false;
    }
    return true;
}

}  // namespace

bool APMPBDecode(const std::uint8_t* bytes, std::size_t length, APMPBMessageInfo* info) {
    return decodeTop(bytes, length, info, info ? info->schema : nullptr, false);
}

bool APMPBDecodeKeepingItemsEncoded(const std::uint8_t* bytes, std::size_t length, APMPBMessageInfo* info) {
    return decodeTop(bytes, length, info, info ? info->schema : nullptr, true);
}

bool APMPBCheckEncoded(const APMPBMessageSchema& schema, const std::uint8_t* bytes, std::size_t length) {
    return decodeTop(bytes, length, nullptr, &schema, false);
}

std::int32_t APMPBEncode(const APMPBMessageInfo* info, NSData* out) {
    if (!out) return -1;
    out->clear();
    if (!info || !info->schema) return -1;
    Writer writer;
    if (!writeBody(writer, *info) || writer.written() > static_cast<std::size_t>(INT32_MAX)) {
        APMPBPrint("<ERROR> %s encoder failed: message too large\n", info->messageID());
        return -1;
    }
    const std::size_t total = writer.written();
    out->assign(writer.begin(), writer.end());
    return static_cast<std::int32_t>(total);
}
