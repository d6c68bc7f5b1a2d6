// Array methods. Callbacks see (element, index, array), skip holes and elements past the length
// read at the start; sorting works on a copy of the elements with a merge sort that any
// comparator leaves sound, and writes the result back even when the comparator failed. The
// copies a method makes are held against the run's live limit before they are made, and
// searches and comparisons are charged element by element, so the budget stops them there.
#include "analytics/script/APMPArrayCommands.h"

#include "analytics/script/APMPArrayValue.h"
#include "analytics/script/APMPCommandEvaluator.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPMethodCall.h"
#include "analytics/script/APMPRuntime.h"
#include "analytics/script/APMPStringValue.h"
#include "analytics/script/APMPTextBuilder.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace {
namespace arrayMethods {

using Value = APMPRuntimeValue;

// One method's run over its receiver.
struct Call : APMPMethodCall {
    APMPArrayValue& array;

    double length() const { return static_cast<double>(array.count()); }
    APMPFunctionValue* function(std::size_t index) {
        if (argument(index).isFunction()) return argument(index).as<APMPFunctionValue>();
        error = APMPError(APMPErrorArgumentKind);
        return nullptr;
    }
    Value receiver() const { return Value(&array); }
    // The elements' copying is charged by whoever gathered them.
    Value make(std::vector<Value> elements) {
        if (elements.size() > APMPArrayValue::kMaxLength) {
            error = APMPError(APMPErrorInvalidArrayLength);
            return Value::undefined();
        }
        return Value(runtime.heap().make<APMPArrayValue>(std::move(elements)));
    }
    // The same, for a list held while it was gathered: the array counts it from then on.
    Value make(std::vector<Value> elements, APMPRuntime::Held& held) {
        NSErrorPtr none;
        static_cast<void>(held.resize(0, none));
        return make(std::move(elements));
    }
    // `count` elements to be copied, moved or visited.
    bool chargeElements(std::size_t count) {
        return runtime.chargeWork(std::uint64_t{count} * APMPRuntime::kElementUnits, error);
    }
    // `count` elements about to be copied into a list of the method's own.
    bool holdElements(APMPRuntime::Held& held, std::size_t count) {
        return held.resize(held.bytes() + count * sizeof(Value), error);
    }
    // The callback with (element, index, array), its arguments evaluated again as it starts.
    Value call(APMPFunctionValue& callback, std::vector<Value> values) {
        return callback.invokeWithArguments(values, scope, runtime, error);
    }
};

std::size_t clampIndex(double position, double length) {
    return static_cast<std::size_t>(std::clamp(position, 0.0, length));
}

// Holds the callback and the receiver alive while the callback runs; visits the present
// positions below the length read at the start, giving each result to `use` until it says stop.
template <class Use>
bool visit(Call& call, Use&& use) {
    if (!call.countIs(1)) return false;
    APMPFunctionValue* callback = call.function(0);
    if (!callback) return false;
    const Value keep = call.argument(0);
    const Value receiver = call.receiver();
    const std::size_t length = call.array.count();
    std::size_t i = 0;
    for (; i < length; ++i) {
        if (!call.array.isPresent(i)) continue;
        const Value element = call.array.elements()[i];
        Value result = call.call(*callback, {element, Value::number(static_cast<double>(i)), receiver});
        if (call.error) break;
        if (!use(i, element, std::move(result))) break;
    }
    // The positions passed, holes included; the calls counted themselves.
    call.runtime.chargeWork(std::uint64_t{i} * APMPRuntime::kElementUnits);
    return !call.error;
}

Value every(Call& call) {
    bool all = true;
    const bool done = visit(call, [&](std::size_t, const Value&, Value result) {
        all = result.booleanValueOrError(call.error);
        return all && !call.error;
    });
    return done ? Value::boolean(all) : Value::undefined();
}

Value some(Call& call) {
    bool any = false;
    const bool done = visit(call, [&](std::size_t, const Value&, Value result) {
        any = result.booleanValueOrError(call.error);
        return !any && !call.error;
    });
    return done ? Value::boolean(any) : Value::undefined();
}

Value filter(Call& call) {
    std::vector<Value> kept;
    const bool done = visit(call, [&](std::size_t, const Value& element, Value result) {
        const bool keep = result.booleanValueOrError(call.error);
        if (keep) kept.push_back(element);
        return !call.error;
    });
    return done ? call.make(std::move(kept)) : Value::undefined();
}

Value forEach(Call& call) {
    visit(call, [](std::size_t, const Value&, Value) { return true; });
    return Value::undefined();
}

Value map(Call& call) {
    std::vector<Value> mapped;
    const bool done = visit(call, [&](std::size_t index, const Value&, Value result) {
        if (mapped.size() <= index) mapped.resize(index + 1, Value::hole());
        mapped[index] = std::move(result);
        return true;
    });
    return done ? call.make(std::move(mapped)) : Value::undefined();
}

Value hasOwnProperty(Call& call) {
    if (!call.countIs(1)) return Value::undefined();
    APMPValueText name(call.runtime);
    if (!name.read(call.argument(0), call.error)) return Value::undefined();
    if (name.view() == u"length") return Value::boolean(true);
    const bool has = call.array.hasProperty(call.argument(0), call.runtime, call.error);
    if (call.error) return Value::undefined();
    return Value::boolean(has);
}

Value indexOf(Call& call) {
    if (!call.countAtMost(2)) return Value::undefined();
    double from = 0;
    if (call.has(1) && !call.integer(1, from)) return Value::undefined();
    if (from >= call.length()) return Value::number(-1);
    if (from < 0) from = std::max(0.0, from + call.length());
    const Value searched = call.argument(0);
    for (auto i = static_cast<std::size_t>(from); i < call.array.count(); ++i) {
        // Each element visited, and the units a comparison reads, before the next.
        if (!call.chargeElements(1)) return Value::undefined();
        if (call.array.isPresent(i) && APMPStrictlyEqual(call.array.elements()[i], searched, call.runtime, call.error)) {
            return Value::number(static_cast<double>(i));
        }
        if (call.error) return Value::undefined();
    }
    return Value::number(-1);
}

Value lastIndexOf(Call& call) {
    if (!call.countAtMost(2)) return Value::undefined();
    double from = call.length() - 1;
    if (call.has(1)) {
        const double number = call.argument(1).doubleValueOrError(call.runtime, call.error);
        if (call.error) return Value::undefined();
        if (!std::isnan(number)) {
            from = APMPToInteger(number);
            if (from < 0) from += call.length();
        }
    }
    if (from < 0) return Value::number(-1);
    const Value searched = call.argument(0);
    for (double position = std::min(from, call.length() - 1); position >= 0; --position) {
        if (!call.chargeElements(1)) return Value::undefined();
        const auto i = static_cast<std::size_t>(position);
        if (call.array.isPresent(i) && APMPStrictlyEqual(call.array.elements()[i], searched, call.runtime, call.error)) {
            return Value::number(position);
        }
        if (call.error) return Value::undefined();
    }
    return Value::number(-1);
}

// The elements joined with the separator, into a string value.
Value joined(Call& call, std::u16string_view separator) {
    APMPTextBuilder text(call.runtime);
    if (!call.array.appendText(text, separator, call.error)) return Value::undefined();
    return text.make();
}

Value join(Call& call) {
    if (!call.countAtMost(1)) return Value::undefined();
    if (!call.has(0)) return joined(call, u",");
    if (call.argument(0).isUndefinedOrNull()) return joined(call, u"");
    APMPValueText separator(call.runtime);
    if (!separator.read(call.argument(0), call.error)) return Value::undefined();
    return joined(call, separator.view());
}

Value toString(Call& call) {
    if (!call.countIs(0)) return Value::undefined();
    return joined(call, u",");
}

Value pop(Call& call) {
    if (!call.countIs(0)) return Value::undefined();
    return call.array.removeLastElement();
}

Value shift(Call& call) {
    if (!call.countIs(0) || !call.chargeElements(call.array.count())) return Value::undefined();
    return call.array.removeFirstElement();
}

Value push(Call& call) {
    if (!call.chargeElements(call.arguments.size()) || !call.array.makeRoom(call.arguments.size(), call.runtime, call.error) ||
        !call.array.appendElements(call.arguments, call.error)) {
        return Value::undefined();
    }
    return Value::number(call.length());
}

Value unshift(Call& call) {
    if (!call.chargeElements(call.array.count() + call.arguments.size()) ||
        !call.array.makeRoom(call.arguments.size(), call.runtime, call.error) ||
        !call.array.prependElements(call.arguments, call.error)) {
        return Value::undefined();
    }
    return Value::number(call.length());
}

Value reverse(Call& call) {
    if (!call.countIs(0) || !call.chargeElements(call.array.count())) return Value::undefined();
    call.array.reverse();
    return call.receiver();
}

template <bool right>
Value reduce(Call& call) {
    if (!call.countBetween(1, 2)) return Value::undefined();
    APMPFunctionValue* callback = call.function(0);
    if (!callback) return Value::undefined();
    if (call.has(1) && call.argument(1).isControl()) {
        call.error = APMPError(APMPErrorArgumentKind);
        return Value::undefined();
    }
    const Value keep = call.argument(0);
    const Value receiver = call.receiver();
    const auto length = static_cast<std::ptrdiff_t>(call.array.count());
    std::ptrdiff_t position = right ? length - 1 : 0;
    const std::ptrdiff_t step = right ? -1 : 1;
    auto inRange = [&](std::ptrdiff_t at) { return at >= 0 && at < length; };
    Value accumulator;
    if (call.has(1)) {
        accumulator = call.argument(1);
    } else {
        while (inRange(position) && !call.array.isPresent(static_cast<std::size_t>(position))) position += step;
        if (!inRange(position)) {
            call.error = APMPError(APMPErrorEmptyReduce);
            return Value::undefined();
        }
        accumulator = call.array.elements()[static_cast<std::size_t>(position)];
        position += step;
    }
    const std::ptrdiff_t start = position;
    for (; inRange(position); position += step) {
        const auto i = static_cast<std::size_t>(position);
        if (!call.array.isPresent(i)) continue;
        const Value element = call.array.elements()[i];
        accumulator = call.call(*callback, {accumulator, element, Value::number(static_cast<double>(i)), receiver});
        if (call.error) return Value::undefined();
    }
    // The positions passed, holes included; the calls counted themselves.
    call.runtime.chargeWork(static_cast<std::uint64_t>(std::abs(position - start)) * APMPRuntime::kElementUnits);
    return accumulator;
}

// A bound counted from the end when negative, then clamped to [low, length].
bool bound(Call& call, std::size_t index, double fallback, double low, std::size_t& out) {
    double position = fallback;
    if (call.has(index) && !call.integer(index, position)) return false;
    if (position < 0) position += call.length();
    out = clampIndex(std::max(position, low), call.length());
    return true;
}

Value slice(Call& call) {
    if (!call.countAtMost(2)) return Value::undefined();
    std::size_t start = 0, end = 0;
    if (!bound(call, 0, 0, 0, start) || !bound(call, 1, call.length(), static_cast<double>(start), end)) {
        return Value::undefined();
    }
    APMPRuntime::Held held(call.runtime);
    if (!call.chargeElements(end - start) || !call.holdElements(held, end - start)) return Value::undefined();
    const auto& elements = call.array.elements();
    return call.make(std::vector<Value>(elements.begin() + static_cast<std::ptrdiff_t>(start),
                                        elements.begin() + static_cast<std::ptrdiff_t>(end)),
                     held);
}

Value splice(Call& call) {
    if (call.arguments.empty()) return call.make({});
    std::size_t start = 0;
    if (!bound(call, 0, 0, 0, start)) return Value::undefined();
    std::size_t deleteCount = call.array.count() - start;
    if (call.has(1)) {
        double count = 0;
        if (!call.integer(1, count)) return Value::undefined();
        deleteCount = clampIndex(count, static_cast<double>(call.array.count() - start));
    }
    // Everything from the start moves; the removed elements are a list of their own.
    APMPRuntime::Held held(call.runtime);
    if (!call.chargeElements(call.array.count() - start + call.arguments.size()) ||
        !call.holdElements(held, deleteCount + call.arguments.size())) {
        return Value::undefined();
    }
    const std::span<const Value> inserted = call.arguments.size() > 2 ? call.arguments.subspan(2) : std::span<const Value>();
    if (inserted.size() > deleteCount && !call.array.makeRoom(inserted.size() - deleteCount, call.runtime, call.error)) {
        return Value::undefined();
    }
    std::vector<Value> removed = call.array.spliceFrom(start, deleteCount, inserted, call.error);
    if (call.error) return Value::undefined();
    return call.make(std::move(removed), held);
}

// Stable bottom-up merge sort: `compare` may answer anything (inconsistently, or change the
// array it came from) without harming the copy being sorted.
template <class Item, class Compare>
void mergeSort(std::vector<Item>& items, Compare&& compare) {
    std::vector<Item> buffer(items.size());
    for (std::size_t width = 1; width < items.size(); width *= 2) {
        for (std::size_t low = 0; low < items.size(); low += 2 * width) {
            const std::size_t middle = std::min(low + width, items.size());
            const std::size_t high = std::min(low + 2 * width, items.size());
            std::size_t left = low, right = middle, out = low;
            while (left < middle && right < high) {
                if (compare(items[left], items[right]) <= 0) buffer[out++] = items[left++];
                else buffer[out++] = items[right++];
            }
            while (left < middle) buffer[out++] = items[left++];
            while (right < high) buffer[out++] = items[right++];
        }
        items.swap(buffer);
    }
}

// Without a function: by the elements' texts, a string's own read where it is and any other
// element's made once, as a string value the heap counts. Equal texts of one string compare
// without a unit read; others by the units they compare.
void sortByText(Call& call, std::vector<Value>& values, APMPRuntime::Held& held, NSErrorPtr& failure) {
    // The keys, the order and its merge buffer, and the sorted list.
    const std::size_t bytes = values.size() * (2 * sizeof(Value) + 2 * sizeof(std::uint32_t));
    if (!held.resize(held.bytes() + bytes, failure)) return;
    std::vector<Value> keys;
    keys.reserve(values.size());
    for (const Value& value : values) {
        if (failure || value.isString()) {
            keys.push_back(value);
            continue;
        }
        APMPTextBuilder text(call.runtime);
        if (value.appendText(text, failure) && call.runtime.checkMemory(failure)) keys.push_back(text.make());
        else keys.push_back(value);
    }
    std::vector<std::uint32_t> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    mergeSort(order, [&](std::uint32_t a, std::uint32_t b) {
        if (failure) return 0;
        const Value& x = keys[a];
        const Value& y = keys[b];
        if (x.object() == y.object()) return 0;
        return APMPCompareText(x.text(), y.text(), call.runtime, failure);
    });
    std::vector<Value> sorted;
    sorted.reserve(values.size());
    for (std::uint32_t i : order) sorted.push_back(std::move(values[i]));
    values.swap(sorted);
}

Value sort(Call& call) {
    if (!call.countAtMost(1)) return Value::undefined();
    if (call.array.count() <= 1) return call.receiver();
    APMPFunctionValue* comparator = nullptr;
    if (call.has(0) && !(comparator = call.function(0))) return Value::undefined();
    const Value keep = call.argument(0);
    const Value receiver = call.receiver();
    // Each pass of the merge sort compares and moves every element.
    const double count = static_cast<double>(call.array.count());
    const double comparisons = count * std::ceil(std::log2(count));
    APMPRuntime::Held held(call.runtime);
    if (!call.runtime.chargeWork(static_cast<std::uint64_t>(comparisons) * APMPRuntime::kComparisonUnits +
                                     std::uint64_t{call.array.count()} * APMPRuntime::kElementUnits,
                                 call.error) ||
        !call.holdElements(held, 2 * call.array.count())) {
        return Value::undefined();
    }
    std::vector<Value> values;
    std::size_t undefinedCount = 0, holes = 0;
    for (const Value& element : call.array.elements()) {
        if (element.isHole()) ++holes;
        else if (element.isUndefined()) ++undefinedCount;
        else values.push_back(element);
    }
    NSErrorPtr failure;
    if (comparator) {
        mergeSort(values, [&](const Value& a, const Value& b) {
            if (failure) return 0;
            const Value result = call.call(*comparator, {a, b});
            if (!call.error) {
                const double order = result.doubleValueOrError(call.runtime, call.error);
                if (!call.error) return order < 0 ? -1 : order > 0 ? 1 : 0;
            }
            failure = call.error;
            call.error.reset();
            return 0;
        });
    } else {
        sortByText(call, values, held, failure);
    }
    values.insert(values.end(), undefinedCount, Value::undefined());
    values.insert(values.end(), holes, Value::hole());
    call.array.replaceElements(std::move(values));
    if (failure) {
        call.error = failure;
        return Value::undefined();
    }
    return receiver;
}

Value concat(Call& call) {
    std::size_t count = call.array.count();
    for (const Value& argument : call.arguments) count += argument.isArray() ? argument.as<APMPArrayValue>()->count() : 1;
    // Past the bound it fails as it always did, below; within it the copying is charged and
    // held first.
    APMPRuntime::Held held(call.runtime);
    if (count <= APMPArrayValue::kMaxLength && (!call.chargeElements(count) || !call.holdElements(held, count))) {
        return Value::undefined();
    }
    std::vector<Value> joined;
    joined.reserve(std::min(count, APMPArrayValue::kMaxLength));
    joined.assign(call.array.elements().begin(), call.array.elements().end());
    for (const Value& argument : call.arguments) {
        if (argument.isControl()) {
            call.error = APMPError(APMPErrorArgumentKind);
            return Value::undefined();
        }
        if (argument.isArray()) {
            const auto& elements = argument.as<APMPArrayValue>()->elements();
            if (joined.size() + elements.size() > APMPArrayValue::kMaxLength) {
                call.error = APMPError(APMPErrorInvalidArrayLength);
                return Value::undefined();
            }
            joined.insert(joined.end(), elements.begin(), elements.end());
        } else {
            joined.push_back(argument);
        }
    }
    return call.make(std::move(joined), held);
}

using Method = Value (*)(Call&);

const std::map<std::u16string, Method>& methods() {
    static const std::map<std::u16string, Method> table = {
        {u"concat", concat},
        {u"every", every},
        {u"some", some},
        {u"filter", filter},
        {u"forEach", forEach},
        {u"map", map},
        {u"hasOwnProperty", hasOwnProperty},
        {u"indexOf", indexOf},
        {u"lastIndexOf", lastIndexOf},
        {u"join", join},
        {u"toString", toString},
        {u"pop", pop},
        {u"shift", shift},
        {u"push", push},
        {u"unshift", unshift},
        {u"reverse", reverse},
        {u"reduce", reduce<false>},
        {u"reduceRight", reduce<true>},
        {u"slice", slice},
        {u"sort", sort},
        {u"splice", splice},
    };
    return table;
}

}  // namespace arrayMethods
}  // namespace

APMPRuntimeValue APMPArrayCommands::evaluateCommand(const std::u16string& name, APMPArrayValue& array,
                                                    std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                                    APMPRuntime& runtime, NSErrorPtr& error) {
    using namespace arrayMethods;
    const auto method = methods().find(name);
    if (method == methods().end()) {
        error = APMPError(APMPErrorUnknownMethod);
        return APMPRuntimeValue::undefined();
    }
    const APMPRuntimeValue receiver(&array);
    const APMPArgumentValues values = runtime.evaluateArguments(arguments, scope, error);
    if (error) return APMPRuntimeValue::undefined();
    Call call{{values, scope, runtime, error}, array};
    return method->second(call);
}
