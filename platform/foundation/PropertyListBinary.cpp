// The binary form of property lists: objects, an offset table and a trailer. The reader checks
// every offset, length and reference against the data, refuses cycles and limits nesting.
#include "platform/foundation/PropertyListBinary.h"

#include "platform/foundation/PropertyListCodec.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace PropertyListCodec {
namespace {

constexpr double kSecondsFrom1970To2001 = 978307200.0;

class BinaryWriter {
public:
    NSData write(const Value& root) {
        collect(root, 0);
        const std::size_t count = objects_.size();
        refSize_ = count < 0x100 ? 1 : count < 0x10000 ? 2 : 4;
        out_.assign({'b', 'p', 'l', 'i', 's', 't', '0', '0'});
        std::vector<std::uint64_t> offsets;
        offsets.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            offsets.push_back(out_.size());
            encode(*objects_[i].value, objects_[i].children);
        }
        const std::uint64_t tableOffset = out_.size();
        const int offsetSize = bytesFor(tableOffset);
        for (const auto offset : offsets) appendBigEndian(offset, offsetSize);
        for (int i = 0; i < 6; ++i) out_.push_back(0);
        out_.push_back(static_cast<std::uint8_t>(offsetSize));
        out_.push_back(static_cast<std::uint8_t>(refSize_));
        appendBigEndian(count, 8);
        appendBigEndian(0, 8);
        appendBigEndian(tableOffset, 8);
        return std::move(out_);
    }

private:
    struct Object {
        const Value* value;
        std::vector<std::size_t> children;  // keys then values for dictionaries
    };

    static int bytesFor(std::uint64_t n) { return n < 0x100 ? 1 : n < 0x10000 ? 2 : n < 0x100000000ULL ? 4 : 8; }

    std::size_t addKey(const std::string& key) {
        keys_.push_back(std::make_unique<Value>(key));
        objects_.push_back({keys_.back().get(), {}});
        return objects_.size() - 1;
    }

    std::size_t collect(const Value& value, int depth) {
        if (depth > kMaxDepth) invalid("property list nested too deeply");
        switch (value.type()) {
        case Value::Type::Null: invalid("property lists cannot contain null");
        case Value::Type::Object: invalid("property lists cannot contain objects (" + value.description() + ")");
        case Value::Type::String: checkString(value.string()); break;
        default: break;
        }
        const std::size_t index = objects_.size();
        objects_.push_back({&value, {}});
        std::vector<std::size_t> children;
        if (value.isArray()) {
            for (const Value& item : value.array()) children.push_back(collect(item, depth + 1));
        } else if (value.isDictionary()) {
            std::vector<std::size_t> values;
            for (const auto& [key, item] : value.dictionary()) {
                checkString(key);
                children.push_back(addKey(key));
                values.push_back(collect(item, depth + 1));
            }
            children.insert(children.end(), values.begin(), values.end());
        }
        objects_[index].children = std::move(children);
        return index;
    }

    void appendBigEndian(std::uint64_t value, int size) {
        for (int i = size - 1; i >= 0; --i) out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }

    void appendMarker(std::uint8_t kind, std::uint64_t count) {
        if (count < 15) {
            out_.push_back(static_cast<std::uint8_t>(kind | count));
            return;
        }
        out_.push_back(static_cast<std::uint8_t>(kind | 0x0F));
        appendInteger(static_cast<std::int64_t>(count));
    }

    void appendInteger(std::int64_t value) {
        if (value < 0) {
            out_.push_back(0x13);
            appendBigEndian(static_cast<std::uint64_t>(value), 8);
            return;
        }
        const auto magnitude = static_cast<std::uint64_t>(value);
        const int size = magnitude < 0x100 ? 1 : magnitude < 0x10000 ? 2 : magnitude < 0x100000000ULL ? 4 : 8;
        out_.push_back(static_cast<std::uint8_t>(0x10 | (size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3)));
        appendBigEndian(magnitude, size);
    }

    void appendDouble(std::uint8_t marker, double value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        out_.push_back(marker);
        appendBigEndian(bits, 8);
    }

    void encode(const Value& value, const std::vector<std::size_t>& children) {
        switch (value.type()) {
        case Value::Type::Bool: out_.push_back(value.boolValue() ? 0x09 : 0x08); break;
        case Value::Type::Integer: appendInteger(value.longLongValue()); break;
        case Value::Type::Unsigned: {
            const std::uint64_t u = value.unsignedLongLongValue();
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                appendInteger(static_cast<std::int64_t>(u));
            } else {
                // Beyond the signed range the format keeps 16 bytes, the top half zero.
                out_.push_back(0x14);
                appendBigEndian(0, 8);
                appendBigEndian(u, 8);
            }
            break;
        }
        case Value::Type::Double: appendDouble(0x23, value.doubleValue()); break;
        case Value::Type::Date: appendDouble(0x33, value.date().timeIntervalSince1970 - kSecondsFrom1970To2001); break;
        case Value::Type::Data:
            appendMarker(0x40, value.data().size());
            out_.insert(out_.end(), value.data().begin(), value.data().end());
            break;
        case Value::Type::String: {
            const std::string& s = value.string();
            bool ascii = true;
            for (const char c : s) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
            if (ascii) {
                appendMarker(0x50, s.size());
                out_.insert(out_.end(), s.begin(), s.end());
            } else {
                const std::u16string units = NSString::toUTF16(s);
                appendMarker(0x60, units.size());
                for (const char16_t unit : units) appendBigEndian(unit, 2);
            }
            break;
        }
        case Value::Type::Array:
            appendMarker(0xA0, children.size());
            for (const auto child : children) appendBigEndian(child, refSize_);
            break;
        case Value::Type::Dictionary:
            appendMarker(0xD0, children.size() / 2);
            for (const auto child : children) appendBigEndian(child, refSize_);
            break;
        case Value::Type::Null:
        case Value::Type::Object: invalid("unexpected value");
        }
    }

    std::vector<Object> objects_;
    std::vector<std::unique_ptr<Value>> keys_;
    NSData out_;
    int refSize_ = 1;
};

class BinaryReader {
public:
    explicit BinaryReader(const NSData& data) : d_(data) {}

    Value document() {
        if (d_.size() < 8 + 32 || std::memcmp(d_.data(), "bplist0", 7) != 0) corrupt("not a binary property list");
        const std::size_t trailer = d_.size() - 32;
        offsetSize_ = d_[trailer + 6];
        refSize_ = d_[trailer + 7];
        const std::uint64_t count = bigEndian(trailer + 8, 8);
        const std::uint64_t top = bigEndian(trailer + 16, 8);
        tableOffset_ = bigEndian(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) corrupt("bad trailer sizes");
        if (count == 0 || top >= count) corrupt("bad object count");
        if (tableOffset_ < 8 || tableOffset_ > trailer || count > (trailer - tableOffset_) / offsetSize_)
            corrupt("offset table out of bounds");
        count_ = count;
        cache_.resize(count);
        shapes_.resize(count);
        inProgress_.assign(count, false);
        maxWeight_ = kExpansionPerByte * d_.size() + kExpansionAllowance;
        Shape shape;
        return object(top, 0, shape);
    }

private:
    // What an object becomes once read: its values counted at every place they appear (as the
    // writers will meet them), and how many levels of containers it holds.
    struct Shape {
        std::uint64_t weight = 1;
        int height = 0;
    };

    // A shared object is read once but counts wherever it appears, so a few bytes may stand for
    // more values than anything could write or hold; this much per byte of input is taken.
    static constexpr std::uint64_t kExpansionPerByte = 256;
    static constexpr std::uint64_t kExpansionAllowance = 4096;

    std::uint64_t bigEndian(std::uint64_t at, std::uint64_t size) const {
        if (at > d_.size() || size > d_.size() - at) corrupt("read past the end");
        std::uint64_t value = 0;
        for (std::uint64_t i = 0; i < size; ++i) value = (value << 8) | d_[at + i];
        return value;
    }

    // Objects lie between the header and the offset table.
    void checkSpan(std::uint64_t at, std::uint64_t size) const {
        if (at > tableOffset_ || size > tableOffset_ - at) corrupt("object runs past its bounds");
    }

    // The element count of a marker, following an integer object when the low nibble is 15.
    std::uint64_t length(std::uint8_t marker, std::uint64_t& at) const {
        const std::uint64_t low = marker & 0x0F;
        if (low != 0x0F) return low;
        checkSpan(at, 1);
        const std::uint8_t intMarker = d_[at];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3) corrupt("bad length");
        const std::uint64_t size = 1ULL << (intMarker & 0x0F);
        checkSpan(at + 1, size);
        const std::uint64_t value = bigEndian(at + 1, size);
        at += 1 + size;
        return value;
    }

    Value object(std::uint64_t ref, int depth, Shape& shape) {
        if (ref >= count_) corrupt("object reference out of range");
        if (!cache_[ref]) {
            // Shared objects are decoded once.
            if (inProgress_[ref]) corrupt("object graph has a cycle");
            if (depth > kMaxDepth) corrupt("property list nested too deeply");
            inProgress_[ref] = true;
            Shape own;
            Value result = decode(bigEndian(tableOffset_ + ref * offsetSize_, offsetSize_), depth, own);
            inProgress_[ref] = false;
            cache_[ref] = std::move(result);
            shapes_[ref] = own;
        }
        shape = shapes_[ref];
        // Read first higher up, a shared object may reach deeper here.
        if (depth + shape.height > kMaxDepth) corrupt("property list nested too deeply");
        return *cache_[ref];
    }

    // Adds a child's shape to its container's.
    void include(Shape& container, const Shape& child) const {
        container.weight += child.weight;
        container.height = std::max(container.height, child.height + 1);
        if (container.weight > maxWeight_) corrupt("shared objects expand beyond bounds");
    }

    Value decode(std::uint64_t at, int depth, Shape& shape) {
        if (at < 8) corrupt("object offset inside the header");
        checkSpan(at, 1);
        const std::uint8_t marker = d_[at++];
        switch (marker & 0xF0) {
        case 0x00:
            if (marker == 0x08 || marker == 0x09) return Value(marker == 0x09);
            corrupt("unsupported object type");
        case 0x10: {
            const int power = marker & 0x0F;
            if (power > 4) corrupt("bad integer size");
            const std::uint64_t size = 1ULL << power;
            checkSpan(at, size);
            if (size == 16) {
                const std::uint64_t high = bigEndian(at, 8), low = bigEndian(at + 8, 8);
                if (high == 0) {
                    if (low > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                        return Value(static_cast<unsigned long long>(low));
                    return Value(static_cast<long long>(low));
                }
                if (high == ~0ULL && (low >> 63)) return Value(static_cast<long long>(low));
                corrupt("integer out of range");
            }
            const std::uint64_t raw = bigEndian(at, size);
            // One, two and four bytes are unsigned; eight are signed.
            return Value(static_cast<long long>(static_cast<std::int64_t>(raw)));
        }
        case 0x20: {
            if (marker == 0x22) {
                checkSpan(at, 4);
                const auto bits = static_cast<std::uint32_t>(bigEndian(at, 4));
                float f = 0;
                std::memcpy(&f, &bits, sizeof f);
                return Value(static_cast<double>(f));
            }
            if (marker != 0x23) corrupt("bad real size");
            checkSpan(at, 8);
            const std::uint64_t bits = bigEndian(at, 8);
            double v = 0;
            std::memcpy(&v, &bits, sizeof v);
            return Value(v);
        }
        case 0x30: {
            if (marker != 0x33) corrupt("bad date");
            checkSpan(at, 8);
            const std::uint64_t bits = bigEndian(at, 8);
            double v = 0;
            std::memcpy(&v, &bits, sizeof v);
            return Value(NSDate{v + kSecondsFrom1970To2001});
        }
        case 0x40: {
            const std::uint64_t n = length(marker, at);
            checkSpan(at, n);
            return Value(NSData(d_.begin() + static_cast<std::ptrdiff_t>(at),
                                d_.begin() + static_cast<std::ptrdiff_t>(at + n)));
        }
        case 0x50: {
            const std::uint64_t n = length(marker, at);
            checkSpan(at, n);
            std::string text;
            for (std::uint64_t i = 0; i < n; ++i) NSString::appendUTF8(text, d_[at + i]);  // Latin-1 beyond ASCII
            return Value(std::move(text));
        }
        case 0x60: {
            const std::uint64_t n = length(marker, at);
            if (n > tableOffset_ / 2) corrupt("string runs past its bounds");
            checkSpan(at, n * 2);
            std::u16string units;
            units.reserve(n);
            for (std::uint64_t i = 0; i < n; ++i) units.push_back(static_cast<char16_t>(bigEndian(at + 2 * i, 2)));
            return Value(NSString::fromUTF16(units));
        }
        case 0xA0: {
            const std::uint64_t n = length(marker, at);
            if (n > tableOffset_ / refSize_) corrupt("array runs past its bounds");
            checkSpan(at, n * refSize_);
            Value::Array items;
            items.reserve(n);
            for (std::uint64_t i = 0; i < n; ++i) {
                Shape child;
                items.push_back(object(bigEndian(at + i * refSize_, refSize_), depth + 1, child));
                include(shape, child);
            }
            return Value(std::move(items));
        }
        case 0xD0: {
            const std::uint64_t n = length(marker, at);
            if (n > tableOffset_ / (2 * refSize_)) corrupt("dictionary runs past its bounds");
            checkSpan(at, 2 * n * refSize_);
            Value::Dictionary entries;
            for (std::uint64_t i = 0; i < n; ++i) {
                Shape keyShape, valueShape;
                const Value key = object(bigEndian(at + i * refSize_, refSize_), depth + 1, keyShape);
                if (!key.isString()) corrupt("dictionary key is not a string");
                entries.set(key.string(), object(bigEndian(at + (n + i) * refSize_, refSize_), depth + 1, valueShape));
                include(shape, keyShape);
                include(shape, valueShape);
            }
            return Value(std::move(entries));
        }
        default: corrupt("unsupported object type");
        }
    }

    const NSData& d_;
    std::uint64_t offsetSize_ = 0, refSize_ = 0, tableOffset_ = 0, count_ = 0;
    std::vector<std::optional<Value>> cache_;
    std::vector<Shape> shapes_;
    std::vector<bool> inProgress_;
    std::uint64_t maxWeight_ = 0;
};

}  // namespace

bool isBinary(const NSData& data) { return data.size() >= 6 && std::memcmp(data.data(), "bplist", 6) == 0; }

NSData writeBinary(const Value& root) { return BinaryWriter().write(root); }

Value readBinary(const NSData& data) { return BinaryReader(data).document(); }

}  // namespace PropertyListCodec
