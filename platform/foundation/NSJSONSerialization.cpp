// JSON reading through nlohmann-json's SAX parser straight into Value, and our own writer
// (the platform's spacing and escaped slashes).
#include "platform/foundation/NSJSONSerialization.h"

#include "platform/foundation/NSString.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace {

// Deeper nesting is refused rather than risking the stack in recursive consumers.
constexpr std::size_t kMaxDepth = 512;

NSErrorPtr jsonError(long code, const std::string& debugDescription) {
    Value::Dictionary info;
    info.set("NSDebugDescription", debugDescription);
    info.set(NSLocalizedDescriptionKey,
             code == NSPropertyListReadCorruptError
                 ? "The data couldn\u2019t be read because it isn\u2019t in the correct format."
                 : "The data couldn\u2019t be written because it isn\u2019t in the correct format.");
    return NSError::errorWithDomain(NSCocoaErrorDomain, code, info);
}

class Builder : public nlohmann::json_sax<nlohmann::json> {
public:
    Value root;
    std::string failure;

    bool null() override { return add(Value()); }
    bool boolean(bool v) override { return add(Value(v)); }
    bool number_integer(number_integer_t v) override { return add(Value(static_cast<long long>(v))); }
    bool number_unsigned(number_unsigned_t v) override {
        if (v <= static_cast<number_unsigned_t>(INT64_MAX)) return add(Value(static_cast<long long>(v)));
        return add(Value(static_cast<unsigned long long>(v)));
    }
    bool number_float(number_float_t v, const string_t&) override { return add(Value(v)); }
    bool string(string_t& v) override { return add(Value(std::move(v))); }
    bool binary(binary_t&) override {
        failure = "Binary values are not JSON.";
        return false;
    }
    bool start_object(std::size_t) override { return open(Value(Value::Dictionary())); }
    bool key(string_t& k) override {
        keys_.back() = std::move(k);
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Value(Value::Array())); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
        failure = e.what();
        // "[json.exception.parse_error.101] parse error at ..." reads better without the tag.
        const std::size_t tagEnd = failure.find("] ");
        if (failure.starts_with("[json.exception") && tagEnd != std::string::npos) failure.erase(0, tagEnd + 2);
        return false;
    }

private:
    bool add(Value v) {
        if (stack_.empty()) {
            root = std::move(v);
        } else if (stack_.back().isArray()) {
            stack_.back().mutableArray().push_back(std::move(v));
        } else {
            stack_.back().mutableDictionary().set(keys_.back(), std::move(v));
        }
        return true;
    }
    bool open(Value container) {
        if (stack_.size() >= kMaxDepth) {
            failure = "Too many nested arrays or dictionaries.";
            return false;
        }
        stack_.push_back(std::move(container));
        keys_.emplace_back();
        return true;
    }
    bool close() {
        Value done = std::move(stack_.back());
        stack_.pop_back();
        keys_.pop_back();
        return add(std::move(done));
    }

    std::vector<Value> stack_;
    std::vector<std::string> keys_;
};

struct Writer {
    unsigned options = 0;
    std::string out;
    std::string failure;

    bool pretty() const { return options & NSJSONWritingPrettyPrinted; }

    void newline(int level) {
        if (!pretty()) return;
        out += '\n';
        out.append(static_cast<std::size_t>(level) * 2, ' ');
    }

    bool string(const std::string& s) {
        if (!NSString::isValidUTF8(s)) {
            failure = "Invalid string (not UTF-8) in JSON write.";
            return false;
        }
        out += '"';
        for (char c : s) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '/': out += (options & NSJSONWritingWithoutEscapingSlashes) ? "/" : "\\/"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
            }
        }
        out += '"';
        return true;
    }

    bool value(const Value& v, int level) {
        if (static_cast<std::size_t>(level) > kMaxDepth) {
            failure = "Too many nested arrays or dictionaries in JSON write.";
            return false;
        }
        switch (v.type()) {
        case Value::Type::Null: out += "null"; return true;
        case Value::Type::Bool: out += v.boolValue() ? "true" : "false"; return true;
        case Value::Type::Integer:
        case Value::Type::Unsigned: out += v.stringValue(); return true;
        case Value::Type::Double: {
            const double d = v.doubleValue();
            if (!std::isfinite(d)) {
                failure = std::isnan(d) ? "Invalid number value (NaN) in JSON write." : "Invalid number value (infinite) in JSON write.";
                return false;
            }
            // From 2^53 on, the shortest digits of a whole double padded with zeros are another
            // integer than the double, and would read back as that integer: write its own digits.
            if (std::fabs(d) >= 9007199254740992.0 && std::fabs(d) < 1e17)
                out += std::to_string(static_cast<long long>(d));
            else
                out += v.stringValue();
            return true;
        }
        case Value::Type::String: return string(v.string());
        case Value::Type::Array: {
            const Value::Array& array = v.array();
            out += '[';
            for (std::size_t i = 0; i < array.size(); ++i) {
                if (i) out += ',';
                newline(level + 1);
                if (!value(array[i], level + 1)) return false;
            }
            if (!array.empty()) newline(level);
            out += ']';
            return true;
        }
        case Value::Type::Dictionary: {
            std::vector<std::pair<const std::string*, const Value*>> entries;
            for (const auto& [key, element] : v.dictionary()) entries.emplace_back(&key, &element);
            if (options & NSJSONWritingSortedKeys)
                std::sort(entries.begin(), entries.end(),
                          [](const auto& a, const auto& b) { return *a.first < *b.first; });
            out += '{';
            for (std::size_t i = 0; i < entries.size(); ++i) {
                if (i) out += ',';
                newline(level + 1);
                if (!string(*entries[i].first)) return false;
                out += pretty() ? " : " : ":";
                if (!value(*entries[i].second, level + 1)) return false;
            }
            if (!entries.empty()) newline(level);
            out += '}';
            return true;
        }
        case Value::Type::Date: failure = "Invalid type in JSON write (NSDate)."; return false;
        case Value::Type::Data: failure = "Invalid type in JSON write (NSData)."; return false;
        case Value::Type::Object:
            failure = "Invalid type in JSON write (" + v.object()->className() + ").";
            return false;
        }
        return false;
    }
};

}  // namespace

Value NSJSONSerialization::JSONObjectWithData(const NSData& data, NSErrorPtr* error) {
    return JSONObjectWithData(data, 0, error);
}

Value NSJSONSerialization::JSONObjectWithData(const NSData& data, unsigned options, NSErrorPtr* error) {
    if (data.empty()) {
        setError(error, jsonError(NSPropertyListReadCorruptError, "Unable to parse empty data."));
        return Value();
    }
    Builder builder;
    const bool ok = nlohmann::json::sax_parse(data.begin(), data.end(), &builder, nlohmann::json::input_format_t::json,
                                              /*strict=*/true);
    if (!ok) {
        setError(error, jsonError(NSPropertyListReadCorruptError, builder.failure.empty() ? "Malformed JSON." : builder.failure));
        return Value();
    }
    if (!(options & NSJSONReadingFragmentsAllowed) && !builder.root.isArray() && !builder.root.isDictionary()) {
        setError(error, jsonError(NSPropertyListReadCorruptError,
                                  "JSON text did not start with array or object and option to allow fragments not set."));
        return Value();
    }
    return std::move(builder.root);
}

NSData NSJSONSerialization::dataWithJSONObject(const Value& object, unsigned options, NSErrorPtr* error) {
    if (!(options & NSJSONWritingFragmentsAllowed) && !object.isArray() && !object.isDictionary()) {
        setError(error, jsonError(NSPropertyListWriteInvalidError, "Invalid top-level type in JSON write."));
        return {};
    }
    Writer writer;
    writer.options = options;
    if (!writer.value(object, 0)) {
        setError(error, jsonError(NSPropertyListWriteInvalidError, writer.failure));
        return {};
    }
    return NSData(writer.out.begin(), writer.out.end());
}

bool NSJSONSerialization::isValidJSONObject(const Value& object) {
    if (!object.isArray() && !object.isDictionary()) return false;
    Writer writer;
    return writer.value(object, 0);
}
