// String methods. Positions count UTF-16 units; number arguments go through ToInteger; a missing
// argument reads as undefined (whose text is "undefined"). Regular expressions run through the
// runtime, which bounds their work.
#include "analytics/script/APMPStringCommands.h"

#include "analytics/script/APMPArrayValue.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPMethodCall.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStringValue.h"
#include "platform/foundation/NSString.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {
namespace stringMethods {

using Value = APMPRuntimeValue;
using Arguments = std::span<const Value>;

// One method's run over the receiver's text.
struct Call : APMPMethodCall {
    const std::u16string& text;

    double length() const { return static_cast<double>(text.size()); }
    bool string(std::size_t index, std::u16string& out) {
        out = argument(index).stringValueOrError(runtime, error);
        return !error;
    }
    Value make(std::u16string result) { return runtime.string(std::move(result), error); }
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
class TextSearch {
public:
    static constexpr std::size_t npos = std::u16string::npos;

    explicit TextSearch(std::u16string_view search) : search_(search), border_(search.size(), 0) {
        for (std::size_t i = 1, k = 0; i < search.size(); ++i) {
            while (k > 0 && search[i] != search[k]) k = border_[k - 1];
            if (search[i] == search[k]) ++k;
            border_[i] = static_cast<std::uint32_t>(k);
        }
    }

    // The first occurrence at or after `from`; `from` itself for an empty search.
    std::size_t find(std::u16string_view text, std::size_t from) const {
        if (search_.empty()) return from <= text.size() ? from : npos;
        for (std::size_t i = from, k = 0; i < text.size(); ++i) {
            while (k > 0 && text[i] != search_[k]) k = border_[k - 1];
            if (text[i] == search_[k] && ++k == search_.size()) return i + 1 - k;
        }
        return npos;
    }

private:
    std::u16string_view search_;
    // Per prefix of the search, the length of its longest proper border.
    std::vector<std::uint32_t> border_;
};

std::size_t findText(std::u16string_view text, std::u16string_view search, std::size_t from) {
    return TextSearch(search).find(text, from);
}

// The last occurrence starting at or before `position`: the first of the reversed search in
// the reversed text that could hold it.
std::size_t findLastText(std::u16string_view text, std::u16string_view search, std::size_t position) {
    if (search.size() > text.size()) return TextSearch::npos;
    const std::size_t end = std::min(text.size(), position + search.size());
    const std::u16string reversedText(text.rend() - static_cast<std::ptrdiff_t>(end), text.rend());
    const std::u16string reversedSearch(search.rbegin(), search.rend());
    const std::size_t found = findText(reversedText, reversedSearch, 0);
    return found == TextSearch::npos ? found : end - found - search.size();
}

Value charAt(Call& call) {
    double position = 0;
    if (!call.countAtMost(1) || (call.has(0) && !call.integer(0, position))) return Value::undefined();
    if (position < 0 || position >= call.length()) return call.make({});
    return call.make(std::u16string(1, call.text[static_cast<std::size_t>(position)]));
}

Value concat(Call& call) {
    // The texts of string arguments are read where they are; the rest are converted first.
    std::vector<std::u16string> converted(call.arguments.size());
    std::size_t length = call.text.size();
    for (std::size_t i = 0; i < call.arguments.size(); ++i) {
        const Value& argument = call.arguments[i];
        if (!argument.isString() && !call.string(i, converted[i])) return Value::undefined();
        length += argument.isString() ? argument.text().size() : converted[i].size();
        if (length > APMPStringValue::kMaxLength) {
            call.error = APMPError(APMPErrorArgumentKind);
            return Value::undefined();
        }
    }
    std::u16string result;
    result.reserve(length);
    result += call.text;
    for (std::size_t i = 0; i < call.arguments.size(); ++i) {
        result += call.arguments[i].isString() ? call.arguments[i].text() : converted[i];
    }
    return call.make(std::move(result));
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
    std::u16string search;
    double start = 0;
    if (!call.countAtMost(2) || !call.string(0, search) || (call.has(1) && !call.integer(1, start))) {
        return Value::undefined();
    }
    if (search.empty()) return Value::number(-1);
    if (!call.searching(call.text.size() + search.size())) return Value::undefined();
    const std::size_t found = findText(call.text, search, clamp(start, call.length()));
    return Value::number(found == std::u16string::npos ? -1 : static_cast<double>(found));
}

Value lastIndexOf(Call& call) {
    std::u16string search;
    if (!call.countAtMost(2) || !call.string(0, search)) return Value::undefined();
    double position = INFINITY;
    if (call.has(1)) {
        const double number = call.argument(1).doubleValueOrError(call.runtime, call.error);
        if (call.error) return Value::undefined();
        if (!std::isnan(number)) position = APMPToInteger(number);
    }
    if (search.empty()) return Value::number(-1);
    // Reversed copies of both, then the search.
    if (!call.runtime.chargeWork(call.text.size() + search.size(), call.error) ||
        !call.searching(call.text.size() + search.size())) {
        return Value::undefined();
    }
    const std::size_t found = findLastText(call.text, search, clamp(position, call.length()));
    return Value::number(found == std::u16string::npos ? -1 : static_cast<double>(found));
}

Value match(Call& call) {
    if (!call.countAtMost(1)) return Value::undefined();
    std::u16string pattern;
    if (call.has(0) && !call.string(0, pattern)) return Value::undefined();
    if (pattern.empty()) return call.array({call.make({})});
    const auto range = call.runtime.firstMatch(pattern, call.text, call.error);
    if (call.error) return Value::undefined();
    if (!range) return Value::null();
    return call.array({call.make(call.text.substr(range->first, range->second))});
}

Value search(Call& call) {
    if (!call.countAtMost(1)) return Value::undefined();
    std::u16string pattern;
    if (!call.string(0, pattern)) return Value::undefined();
    if (pattern.empty()) return Value::number(0);
    const auto range = call.runtime.firstMatch(pattern, call.text, call.error);
    if (call.error) return Value::undefined();
    return Value::number(range ? static_cast<double>(range->first) : -1);
}

Value replace(Call& call) {
    std::u16string search;
    if (!call.countAtMost(2) || !call.string(0, search) || !call.searching(call.text.size() + search.size())) {
        return Value::undefined();
    }
    const std::size_t found = findText(call.text, search, 0);
    if (found == std::u16string::npos) return call.make(call.text);
    std::u16string replacement;
    const Value& with = call.argument(1);
    if (with.isFunction()) {
        const Value result = with.as<APMPFunctionValue>()->invokeWithArguments(
            std::vector<Value>{call.make(search), Value::number(static_cast<double>(found)), call.make(call.text)},
            call.scope, call.runtime, call.error);
        if (call.error) return Value::undefined();
        replacement = result.stringValueOrError(call.runtime, call.error);
    } else {
        replacement = with.stringValueOrError(call.runtime, call.error);
    }
    if (call.error) return Value::undefined();
    if (call.text.size() - search.size() + replacement.size() > APMPStringValue::kMaxLength) {
        call.error = APMPError(APMPErrorArgumentKind);
        return Value::undefined();
    }
    std::u16string result = call.text;
    result.replace(found, search.size(), replacement);
    return call.make(std::move(result));
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
    if (to <= from) return call.make({});
    return call.make(call.text.substr(from, to - from));
}

Value split(Call& call) {
    if (!call.countAtMost(2)) return Value::undefined();
    if (call.text.empty() || call.arguments.empty()) return call.array({call.make(call.text)});
    std::u16string separator;
    if (!call.string(0, separator)) return Value::undefined();
    std::size_t limit = static_cast<std::size_t>(-1);
    if (call.has(1) && !call.argument(1).isUndefined()) {
        const double number = call.argument(1).doubleValueOrError(call.runtime, call.error);
        if (call.error) return Value::undefined();
        limit = APMPToUint32(number);
    }
    if (limit == 0) return call.array({});
    if (!call.searching(call.text.size() + separator.size())) return Value::undefined();
    const TextSearch search(separator);
    std::vector<Value> pieces;
    auto add = [&](std::u16string piece) {
        // Each piece is a value of its own, besides its text.
        if (!call.runtime.chargeWork(APMPRuntime::kValueUnits + APMPRuntime::kElementUnits, call.error) ||
            !call.runtime.checkMemory(call.error)) {
            return false;
        }
        if (pieces.size() == APMPArrayValue::kMaxLength) {
            call.error = APMPError(APMPErrorInvalidArrayLength);
            return false;
        }
        pieces.push_back(call.make(std::move(piece)));
        return pieces.size() < limit;
    };
    if (separator.empty()) {
        for (char16_t unit : call.text) {
            if (!add(std::u16string(1, unit))) break;
        }
    } else {
        std::size_t from = 0;
        for (;;) {
            const std::size_t found = search.find(call.text, from);
            if (!add(call.text.substr(from, found == std::u16string::npos ? std::u16string::npos : found - from))) break;
            if (found == std::u16string::npos) break;
            from = found + separator.size();
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
    return call.make(call.text.substr(from, to - from));
}

template <std::string (*map)(std::string_view)>
Value changeCase(Call& call) {
    if (!call.countIs(0)) return Value::undefined();
    // To UTF-8, mapped, and back.
    if (!call.runtime.chargeWork(3 * call.text.size(), call.error)) return Value::undefined();
    return call.make(APMPUTF16(map(APMPUTF8(call.text))));
}

Value toString(Call& call) {
    if (!call.countIs(0)) return Value::undefined();
    return call.make(call.text);
}

Value trim(Call& call) {
    if (!call.countIs(0)) return Value::undefined();
    std::size_t begin = 0, end = call.text.size();
    while (begin < end && APMPIsBlank(call.text[begin])) ++begin;
    while (end > begin && APMPIsBlank(call.text[end - 1])) --end;
    // The blanks scanned; what is kept is counted as it is built.
    call.runtime.chargeWork(call.text.size() - (end - begin));
    return call.make(call.text.substr(begin, end - begin));
}

using Method = Value (*)(Call&);

const std::map<std::u16string, Method>& methods() {
    // The current locale's case rules stand as the locale-independent ones.
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
        {u"toLowerCase", changeCase<NSString::lowercaseString>},
        {u"toUpperCase", changeCase<NSString::uppercaseString>},
        {u"toLocaleLowerCase", changeCase<NSString::lowercaseString>},
        {u"toLocaleUpperCase", changeCase<NSString::uppercaseString>},
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
