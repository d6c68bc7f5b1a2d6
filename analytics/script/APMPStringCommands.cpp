// String methods. Positions count UTF-16 units; number arguments go through ToInteger; a missing
// argument reads as undefined (whose text is "undefined"). Texts are read where they stand; what
// a method builds or copies is held against the run's live limit before it is made and charged
// as it is made, and searches are charged before they run. Regular expressions run through the
// runtime, which bounds their work.
#include "analytics/script/APMPStringCommands.h"

#include "analytics/script/APMPArrayValue.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPMethodCall.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStringValue.h"
#include "analytics/script/APMPTextBuilder.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

namespace {
namespace stringMethods {

using Value = APMPRuntimeValue;
using Arguments = std::span<const Value>;

// One method's run over the receiver's text.
struct Call : APMPMethodCall {
    const std::u16string& text;

    double length() const { return static_cast<double>(text.size()); }
    // The argument's string conversion, read where it stands when it is a string.
    bool string(std::size_t index, APMPValueText& out) { return out.read(argument(index), error); }
    // A string value of a copy of `units`.
    Value copy(std::u16string_view units) {
        APMPTextBuilder built(runtime);
        if (!built.append(units, error)) return Value::undefined();
        return built.make();
    }
    // `units` of text to be searched.
    bool searching(std::size_t units) {
        return runtime.chargeWork(std::uint64_t{units} * APMPRuntime::kElementUnits, error);
    }
    Value array(std::vector<Value> elements) {
        return Value(runtime.heap().make<APMPArrayValue>(std::move(elements)));
    }
};

std::size_t clamp(double position, double length) {
    return static_cast<std::size_t>(std::clamp(position, 0.0, length));
}

// Occurrences of a search text, found in time linear in the lengths of both
// (Knuth-Morris-Pratt): a plain search takes their product on texts a program can build.
// Backwards, it reads both texts from their ends, which finds last occurrences without a
// reversed copy of either.
template <bool backwards>
class TextSearch {
public:
    static constexpr std::size_t npos = std::u16string::npos;

    // The table it keeps, in bytes, for a search of `units`.
    static std::size_t bytes(std::size_t units) { return units * sizeof(std::uint32_t); }

    explicit TextSearch(std::u16string_view search) : search_(search), border_(search.size(), 0) {
        for (std::size_t i = 1, k = 0; i < search.size(); ++i) {
            while (k > 0 && at(search, i) != at(search, k)) k = border_[k - 1];
            if (at(search, i) == at(search, k)) ++k;
            border_[i] = static_cast<std::uint32_t>(k);
        }
    }

    // The first occurrence at or after `from` (counted from the end of both, backwards);
    // `from` itself for an empty search.
    std::size_t find(std::u16string_view text, std::size_t from) const {
        if (search_.empty()) return from <= text.size() ? from : npos;
        for (std::size_t i = from, k = 0; i < text.size(); ++i) {
            while (k > 0 && at(text, i) != at(search_, k)) k = border_[k - 1];
            if (at(text, i) == at(search_, k) && ++k == search_.size()) return i + 1 - k;
        }
        return npos;
    }

private:
    static char16_t at(std::u16string_view text, std::size_t i) { return backwards ? text[text.size() - 1 - i] : text[i]; }

    std::u16string_view search_;
    // Per prefix of the search, the length of its longest proper border.
    std::vector<std::uint32_t> border_;
};

using ForwardSearch = TextSearch<false>;

// The search's table, held while it lives.
template <bool backwards>
bool holdTable(APMPRuntime::Held& held, std::size_t units, NSErrorPtr& error) {
    return held.resize(TextSearch<backwards>::bytes(units), error);
}

Value charAt(Call& call) {
    double position = 0;
    if (!call.countAtMost(1) || (call.has(0) && !call.integer(0, position))) return Value::undefined();
    if (position < 0 || position >= call.length()) return call.copy({});
    return call.copy(std::u16string_view(call.text).substr(static_cast<std::size_t>(position), 1));
}

Value concat(Call& call) {
    // Strings' texts are copied from where they are, into room taken for them at once; other
    // arguments converted into the result.
    std::size_t length = call.text.size();
    for (const Value& argument : call.arguments) {
        if (argument.isString()) length += argument.text().size();
    }
    APMPTextBuilder built(call.runtime);
    if (!built.reserve(length, call.error) || !built.append(call.text, call.error)) return Value::undefined();
    for (const Value& argument : call.arguments) {
        if (!argument.appendText(built, call.error)) return Value::undefined();
    }
    return built.make();
}

Value hasOwnProperty(Call& call) {
    if (!call.countIs(1)) return Value::undefined();
    const Value& key = call.argument(0);
    if (key.isString() && key.text() == u"length") return Value::boolean(true);
    const double index = key.doubleValueOrError(call.runtime, call.error);
    if (call.error) return Value::undefined();
    return Value::boolean(std::isfinite(index) && index >= 0 && index == std::trunc(index) && index < call.length());
}

Value indexOf(Call& call) {
    APMPValueText search(call.runtime);
    double start = 0;
    if (!call.countAtMost(2) || !call.string(0, search) || (call.has(1) && !call.integer(1, start))) {
        return Value::undefined();
    }
    if (search.view().empty()) return Value::number(-1);
    APMPRuntime::Held table(call.runtime);
    if (!call.searching(call.text.size() + search.view().size()) || !holdTable<false>(table, search.view().size(), call.error)) {
        return Value::undefined();
    }
    const std::size_t found = ForwardSearch(search.view()).find(call.text, clamp(start, call.length()));
    return Value::number(found == std::u16string::npos ? -1 : static_cast<double>(found));
}

Value lastIndexOf(Call& call) {
    APMPValueText search(call.runtime);
    if (!call.countAtMost(2) || !call.string(0, search)) return Value::undefined();
    double position = INFINITY;
    if (call.has(1)) {
        const double number = call.argument(1).doubleValueOrError(call.runtime, call.error);
        if (call.error) return Value::undefined();
        if (!std::isnan(number)) position = APMPToInteger(number);
    }
    const std::u16string_view sought = search.view();
    if (sought.empty()) return Value::number(-1);
    APMPRuntime::Held table(call.runtime);
    if (!call.searching(call.text.size() + sought.size()) || !holdTable<true>(table, sought.size(), call.error)) {
        return Value::undefined();
    }
    if (sought.size() > call.text.size()) return Value::number(-1);
    // The last occurrence starting at or before the position: the first, from the end, of the
    // text that could hold it.
    const std::size_t end = std::min(call.text.size(), clamp(position, call.length()) + sought.size());
    const std::size_t found = TextSearch<true>(sought).find(std::u16string_view(call.text).substr(0, end), 0);
    return Value::number(found == std::u16string::npos ? -1 : static_cast<double>(end - found - sought.size()));
}

Value match(Call& call) {
    if (!call.countAtMost(1)) return Value::undefined();
    APMPValueText pattern(call.runtime);
    if (call.has(0) && !call.string(0, pattern)) return Value::undefined();
    if (pattern.view().empty()) return call.array({call.copy({})});
    const auto range = call.runtime.firstMatch(pattern.view(), call.text, call.error);
    if (call.error) return Value::undefined();
    if (!range) return Value::null();
    const Value matched = call.copy(std::u16string_view(call.text).substr(range->first, range->second));
    if (call.error) return Value::undefined();
    return call.array({matched});
}

Value search(Call& call) {
    if (!call.countAtMost(1)) return Value::undefined();
    APMPValueText pattern(call.runtime);
    if (!call.string(0, pattern)) return Value::undefined();
    if (pattern.view().empty()) return Value::number(0);
    const auto range = call.runtime.firstMatch(pattern.view(), call.text, call.error);
    if (call.error) return Value::undefined();
    return Value::number(range ? static_cast<double>(range->first) : -1);
}

Value replace(Call& call) {
    APMPValueText search(call.runtime);
    if (!call.countAtMost(2) || !call.string(0, search)) return Value::undefined();
    const std::u16string_view sought = search.view();
    APMPRuntime::Held table(call.runtime);
    if (!call.searching(call.text.size() + sought.size()) || !holdTable<false>(table, sought.size(), call.error)) {
        return Value::undefined();
    }
    const std::size_t found = ForwardSearch(sought).find(call.text, 0);
    if (found == std::u16string::npos) return call.copy(call.text);
    APMPValueText replacement(call.runtime);
    const Value& with = call.argument(1);
    if (with.isFunction()) {
        const Value subject = call.copy(call.text);
        if (call.error) return Value::undefined();
        const Value result = with.as<APMPFunctionValue>()->invokeWithArguments(
            std::vector<Value>{search.value(), Value::number(static_cast<double>(found)), subject}, call.scope,
            call.runtime, call.error);
        if (call.error || !replacement.read(result, call.error)) return Value::undefined();
    } else if (!replacement.read(with, call.error)) {
        return Value::undefined();
    }
    // The search's text may have been given to the function as a value: its length is read
    // from the view still held.
    const std::u16string_view text(call.text);
    APMPTextBuilder built(call.runtime);
    if (!built.reserve(text.size() - sought.size() + std::min(replacement.view().size(), APMPStringValue::kMaxLength), call.error) ||
        !built.append(text.substr(0, found), call.error) || !built.append(replacement.view(), call.error) ||
        !built.append(text.substr(found + sought.size()), call.error)) {
        return Value::undefined();
    }
    return built.make();
}

// A bound counted from the end when negative (floored at 0), else capped at the length.
std::size_t sliceBound(double position, double length) {
    return clamp(position < 0 ? std::max(0.0, position + length) : position, length);
}

Value slice(Call& call) {
    double start = 0, end = call.length();
    if (!call.countAtMost(2) || (call.has(0) && !call.integer(0, start)) || (call.has(1) && !call.integer(1, end))) {
        return Value::undefined();
    }
    const std::size_t from = sliceBound(start, call.length()), to = sliceBound(end, call.length());
    if (to <= from) return call.copy({});
    return call.copy(std::u16string_view(call.text).substr(from, to - from));
}

Value split(Call& call) {
    if (!call.countAtMost(2)) return Value::undefined();
    if (call.text.empty() || call.arguments.empty()) {
        const Value whole = call.copy(call.text);
        if (call.error) return Value::undefined();
        return call.array({whole});
    }
    APMPValueText separator(call.runtime);
    if (!call.string(0, separator)) return Value::undefined();
    std::size_t limit = static_cast<std::size_t>(-1);
    if (call.has(1) && !call.argument(1).isUndefined()) {
        const double number = call.argument(1).doubleValueOrError(call.runtime, call.error);
        if (call.error) return Value::undefined();
        limit = APMPToUint32(number);
    }
    if (limit == 0) return call.array({});
    const std::u16string_view by = separator.view();
    // The search's table, and the list of pieces as it grows.
    APMPRuntime::Held held(call.runtime);
    if (!call.searching(call.text.size() + by.size()) || !holdTable<false>(held, by.size(), call.error)) {
        return Value::undefined();
    }
    const ForwardSearch search(by);
    std::vector<Value> pieces;
    auto add = [&](std::u16string_view piece) {
        // Each piece is a value of its own, besides its text.
        if (!call.runtime.chargeWork(APMPRuntime::kValueUnits + APMPRuntime::kElementUnits, call.error) ||
            !call.runtime.checkMemory(call.error)) {
            return false;
        }
        if (pieces.size() == APMPArrayValue::kMaxLength) {
            call.error = APMPError(APMPErrorInvalidArrayLength);
            return false;
        }
        if (pieces.size() == pieces.capacity() &&
            !held.resize(TextSearch<false>::bytes(by.size()) + 2 * std::max<std::size_t>(pieces.capacity(), 8) * sizeof(Value), call.error)) {
            return false;
        }
        Value made = call.copy(piece);
        if (call.error) return false;
        pieces.push_back(std::move(made));
        return pieces.size() < limit;
    };
    const std::u16string_view text(call.text);
    if (by.empty()) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!add(text.substr(i, 1))) break;
        }
    } else {
        std::size_t from = 0;
        for (;;) {
            const std::size_t found = search.find(text, from);
            if (!add(text.substr(from, found == std::u16string::npos ? std::u16string::npos : found - from))) break;
            if (found == std::u16string::npos) break;
            from = found + by.size();
        }
    }
    if (call.error) return Value::undefined();
    return call.array(std::move(pieces));
}

Value substring(Call& call) {
    double start = 0, end = call.length();
    if (!call.countAtMost(2) || (call.has(0) && !call.integer(0, start)) || (call.has(1) && !call.integer(1, end))) {
        return Value::undefined();
    }
    std::size_t from = clamp(start, call.length()), to = clamp(end, call.length());
    if (from > to) std::swap(from, to);
    return call.copy(std::u16string_view(call.text).substr(from, to - from));
}

// Beyond ASCII: mapped into room as long as the text, each unit looked up; a result that is
// longer (ß to SS, a ligature spelt out) is mapped again into room of its length, held and
// charged before it is taken. Out of line, so that the ASCII path stays as lean as it is.
[[gnu::noinline]] Value mapCase(Call& call, bool upper) {
    const std::u16string& text = call.text;
    APMPRuntime::Held held(call.runtime);
    std::unique_ptr<char16_t[]> room;
    std::size_t length = 0;
    const auto mapInto = [&](std::size_t capacity) {
        room.reset();
        if (!call.runtime.chargeWork(std::uint64_t{text.size()} * APMPRuntime::kMappedUnits, call.error) ||
            !held.resize(2 * capacity, call.error)) {
            return false;
        }
        room = std::make_unique_for_overwrite<char16_t[]>(capacity);
        length = (upper ? NSString::uppercaseUTF16 : NSString::lowercaseUTF16)(text, room.get(), capacity);
        return true;
    };
    if (!mapInto(text.size()) || (length > text.size() && !mapInto(length))) return Value::undefined();
    APMPTextBuilder built(call.runtime);
    if (!built.append(std::u16string_view(room.get(), length), call.error)) return Value::undefined();
    return built.make();
}

template <bool upper>
Value changeCase(Call& call) {
    if (!call.countIs(0)) return Value::undefined();
    const std::u16string& text = call.text;
    const bool ascii = std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x80; });
    APMPTextBuilder built(call.runtime);
    if (ascii) {
        // Mapped unit by unit, as the platform maps ASCII: the units read and written.
        if (!call.runtime.chargeWork(std::uint64_t{text.size()} * APMPRuntime::kCaseUnits, call.error) ||
            !built.reserve(text.size(), call.error)) {
            return Value::undefined();
        }
        std::u16string& out = built.text();
        out.resize(text.size());
        std::transform(text.begin(), text.end(), out.begin(), [](char16_t unit) {
            const bool change = upper ? unit >= u'a' && unit <= u'z' : unit >= u'A' && unit <= u'Z';
            return change ? static_cast<char16_t>(upper ? unit - 32 : unit + 32) : unit;
        });
        return built.make();
    }
    return mapCase(call, upper);
}

Value toString(Call& call) {
    if (!call.countIs(0)) return Value::undefined();
    return call.copy(call.text);
}

Value trim(Call& call) {
    if (!call.countIs(0)) return Value::undefined();
    std::size_t begin = 0, end = call.text.size();
    while (begin < end && APMPIsBlank(call.text[begin])) ++begin;
    while (end > begin && APMPIsBlank(call.text[end - 1])) --end;
    // The blanks scanned; what is kept is counted as it is built.
    if (!call.runtime.chargeWork(call.text.size() - (end - begin), call.error)) return Value::undefined();
    return call.copy(std::u16string_view(call.text).substr(begin, end - begin));
}

using Method = Value (*)(Call&);

const std::map<std::u16string, Method>& methods() {
    // The locale-independent case rules stand as the locale's.
    static const std::map<std::u16string, Method> table = {
        {u"charAt", charAt},
        {u"concat", concat},
        {u"hasOwnProperty", hasOwnProperty},
        {u"indexOf", indexOf},
        {u"lastIndexOf", lastIndexOf},
        {u"match", match},
        {u"replace", replace},
        {u"search", search},
        {u"slice", slice},
        {u"split", split},
        {u"substring", substring},
        {u"toLowerCase", changeCase<false>},
        {u"toUpperCase", changeCase<true>},
        {u"toLocaleLowerCase", changeCase<false>},
        {u"toLocaleUpperCase", changeCase<true>},
        {u"toString", toString},
        {u"trim", trim},
    };
    return table;
}

}  // namespace stringMethods
}  // namespace

APMPRuntimeValue APMPStringCommands::evaluateCommand(const std::u16string& name, const std::u16string& text,
                                                     std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                                     APMPRuntime& runtime, NSErrorPtr& error) {
    using namespace stringMethods;
    const auto method = methods().find(name);
    if (method == methods().end()) {
        error = APMPError(APMPErrorUnknownMethod);
        return APMPRuntimeValue::undefined();
    }
    // The caller holds the string value of `text` throughout.
    const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
    if (error) return APMPRuntimeValue::undefined();
    Call call{{values, scope, runtime, error}, text};
    return method->second(call);
}
