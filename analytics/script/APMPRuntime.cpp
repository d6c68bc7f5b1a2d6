// The runtime: scopes, module creators, statement evaluation and the bounds of a run.
#include "analytics/script/APMPRuntime.h"

#include "analytics/script/APMPCommandEvaluator.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPNativeModules.h"
#include "analytics/script/APMPRuntimeEntityConverter.h"
#include "analytics/script/APMPStatementValue.h"
#include "analytics/script/APMPStringValue.h"
#include "platform/dispatch/MemoryRelief.h"
#include "platform/foundation/NSRegularExpression.h"

#include <algorithm>

namespace {
namespace runtimeBounds {

using Value = APMPRuntimeValue;

// Compiled patterns kept per runtime, and the units of them together: their compiled code is
// kept with them.
constexpr std::size_t kKeptPatterns = 32;
constexpr std::size_t kKeptPatternUnits = 16384;

// One evaluation nested in another while it lives; given back however the evaluation ends.
class Nested {
public:
    explicit Nested(std::uint32_t& depth) : depth_(depth) { ++depth_; }
    ~Nested() { --depth_; }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;

private:
    std::uint32_t& depth_;
};

// Each argument evaluated in order; the first error ends the list (its value still appended).
// Inlined where statements are run: it is the interpreter's innermost loop.
[[gnu::always_inline]] inline void evaluateInto(APMPRuntime& runtime, std::span<const Value> arguments,
                                                APMPScope& scope, APMPArgumentValues& values, NSErrorPtr& error) {
    for (const Value& argument : arguments) {
        values.push_back(runtime.evaluateStatement(argument, scope, error));
        if (error) break;
    }
}

}  // namespace runtimeBounds
}  // namespace

// MARK: Modules

void APMPDynamicProvider::setModuleCreator(const std::string& name, APMPModuleCreator creator) {
    if (creator) creators_[name] = std::move(creator);
    else creators_.erase(name);
}

APMPRuntimeValue APMPDynamicProvider::moduleForName(const std::string& name, APMPRuntime& runtime, NSErrorPtr& error) const {
    const auto creator = creators_.find(name);
    if (creator == creators_.end()) return APMPRuntimeValue::undefined();
    std::optional<APMPRuntimeValue> module = creator->second(runtime);
    if (!module) {
        error = APMPError(APMPErrorModuleCreatorFailed);
        return APMPRuntimeValue::undefined();
    }
    return *module;
}

// MARK: The runtime

std::unique_ptr<APMPRuntime> APMPRuntime::make(std::shared_ptr<const APMPCommandEvaluator> stringEvaluator,
                                               std::shared_ptr<const APMPCommandEvaluator> arrayEvaluator,
                                               std::shared_ptr<MemoryRelief> relief) {
    if (!relief) relief = MemoryRelief::make();
    return std::unique_ptr<APMPRuntime>(
        new APMPRuntime(std::move(stringEvaluator), std::move(arrayEvaluator), std::move(relief)));
}

APMPRuntime::APMPRuntime(std::shared_ptr<const APMPCommandEvaluator> stringEvaluator,
                         std::shared_ptr<const APMPCommandEvaluator> arrayEvaluator, std::shared_ptr<MemoryRelief> relief)
    : reliefAfterHeap_{std::move(relief)},
      stringEvaluator_(std::move(stringEvaluator)),
      arrayEvaluator_(std::move(arrayEvaluator)) {
    initScope_ = heap_.make<APMPScope>(APMPRef<APMPScope>());
    globalScope_ = initScope_->createChildScope();
    globalScope_->addValue(u"require", APMPRuntimeValue(heap_.make<APMPRequire>()));
    setModuleCreator("internal.platform",
                     [](APMPRuntime& runtime) { return APMPRuntimeValue(runtime.heap().make<APMPRuntimePlatform>()); });
    resetInstructionCount();
}

APMPRuntime::~APMPRuntime() {
    // What the heap holds goes with it, besides what the last run left free.
    reliefAfterHeap_.due = heap_.peakBytes() >= kReliefBytes;
}

APMPRuntime::ReliefAfterHeap::~ReliefAfterHeap() {
    if (due) relief->request();
}

void APMPRuntime::setModuleCreator(const std::string& name, APMPModuleCreator creator) {
    provider_.setModuleCreator(name, std::move(creator));
}

APMPRuntimeValue APMPRuntime::executeStatements(const std::vector<std::shared_ptr<APMPBRuntimeEntity>>& entities,
                                     NSErrorPtr& error) {
    APMPRuntimeValue last;
    for (const auto& entity : entities) {
        const APMPRuntimeValue statement = APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(entity, *this, error);
        if (error) return APMPRuntimeValue::undefined();
        last = evaluateStatement(statement, *globalScope_, error);
        if (error) return APMPRuntimeValue::undefined();
    }
    return last;
}

APMPRef<APMPScope> APMPRuntime::getRunScope() { return globalScope_->createChildScope(); }

void APMPRuntime::resetInstructionCount() {
    instructions_ = 0;
    work_ = 0;
    logLines_ = 0;
    // The last run's plain objects went with its event.
    heap_.releaseBytes(heldForRun_);
    releasedAtStart_ = heldForRun_;
    heldForRun_ = 0;
    relieved_ = false;
    // Counted references freed the last run's values already; its cycles go when allocation
    // makes a collection due, as during a run: a full walk of the heap (the loaded program
    // included) before every event would cost more than most events.
    collectIfDue();
    heap_.resetPeak();
    runStartBytes_ = heap_.liveBytes();
}

bool APMPRuntime::endRun() {
    if (relieved_) return false;
    // A run that held a megabyte more than it began with is worth a walk of the heap: its
    // cycles go with the rest of what it made.
    if (heap_.peakBytes() >= runStartBytes_ + kReliefBytes) heap_.collect();
    // What it left free: the most it held beyond what it holds now (what it built and keeps,
    // such as a value in the global scope, stays), and what the last run's event held.
    if (heap_.peakBytes() - heap_.liveBytes() + releasedAtStart_ < kReliefBytes) return false;
    relieved_ = true;
    return reliefAfterHeap_.relief->request();
}

APMPRuntimeValue APMPRuntime::budgetSpent(NSErrorPtr& error) {
    error = APMPError(APMPErrorBudgetSpent);
    return APMPRuntimeValue::undefined();
}

APMPRuntimeValue APMPRuntime::runStatement(const APMPRuntimeValue& value, APMPScope& scope, NSErrorPtr& error) {
    using namespace runtimeBounds;
    collectIfDue();
    if (heap_.overLimit() || depth_ >= kMaxEvaluationDepth) return budgetSpent(error);
    // Held while it runs: the array it came from may let go of it.
    const APMPRuntimeValue statement = value;
    const auto& command = *statement.as<APMPStatementValue>();
    const Nested nested(depth_);
    APMPRuntimeValue result;
    // Most statements evaluate their arguments first: done here, without the evaluator between.
    if (const APMPCommandRoutine run = command.routineAfterArguments()) {
        const std::span<const APMPRuntimeValue> arguments = command.arguments();
        if (command.hasLiteralArgumentsOnly()) {
            // Each literal counts as its evaluation and is its own value: the routine reads
            // them where the statement holds them.
            if (kInstructionBudget - instructions_ < arguments.size()) {
                instructions_ = kInstructionBudget;
                budgetSpent(error);
            } else {
                instructions_ += static_cast<std::uint32_t>(arguments.size());
                result = run(arguments, scope, *this, error);
            }
        } else {
            APMPArgumentValues values(arguments.size());
            evaluateInto(*this, arguments, scope, values, error);
            if (!error) result = run(values, scope, *this, error);
        }
    } else {
        result = APMPCommandRegistrar::evaluateStatement(command, scope, *this, error);
    }
    if (error) return APMPRuntimeValue::undefined();
    return result;
}

APMPRuntimeValue APMPRuntime::executeStatementList(std::span<const APMPRuntimeValue> statements, APMPScope& scope, NSErrorPtr& error) {
    APMPRuntimeValue result;
    for (const APMPRuntimeValue& statement : statements) {
        result = evaluateStatement(statement, scope, error);
        if (error) return APMPRuntimeValue::undefined();
        if (result.isControl()) return result;
    }
    return result;
}

APMPArgumentValues APMPRuntime::evaluateArguments(std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                                  NSErrorPtr& error) {
    using namespace runtimeBounds;
    APMPArgumentValues values(arguments.size());
    evaluateInto(*this, arguments, scope, values, error);
    return values;
}

// MARK: Bounds

APMPRuntimeValue APMPRuntime::string(std::u16string text, NSErrorPtr& error) {
    if (text.size() > APMPStringValue::kMaxLength) {
        error = APMPError(APMPErrorArgumentKind);
        return APMPRuntimeValue::undefined();
    }
    chargeWork(text.size());
    return APMPRuntimeValue(heap_.make<APMPStringValue>(std::move(text)));
}

APMPRuntimeValue APMPRuntime::string(std::u16string text) { return APMPRuntimeValue(heap_.make<APMPStringValue>(std::move(text))); }

APMPRuntimeValue APMPRuntime::string(std::string_view utf8, NSErrorPtr& error) {
    // At most a unit for each byte.
    Held converted(*this);
    if (!chargeConversion(utf8, error) || !converted.resize(2 * utf8.size(), error)) {
        return APMPRuntimeValue::undefined();
    }
    std::u16string text = APMPUTF16(utf8);
    NSErrorPtr none;
    static_cast<void>(converted.resize(0, none));
    return string(std::move(text), error);
}

bool APMPRuntime::settleWork() {
    const std::uint64_t evaluations = work_ / kUnitsPerEvaluation;
    work_ %= kUnitsPerEvaluation;
    if (evaluations > kInstructionBudget - instructions_) {
        instructions_ = kInstructionBudget;
        return false;
    }
    instructions_ += static_cast<std::uint32_t>(evaluations);
    return true;
}

bool APMPRuntime::chargeConversion(std::u16string_view text, NSErrorPtr& error) {
    const bool ascii = std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x80; });
    return chargeWork(std::uint64_t{text.size()} * (ascii ? kASCIIUnits : kConvertedUnits), error);
}

bool APMPRuntime::chargeConversion(std::string_view utf8, NSErrorPtr& error) {
    const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
    return chargeWork(std::uint64_t{utf8.size()} * (ascii ? kASCIIUnits : kConvertedUnits), error);
}

std::uint64_t APMPRuntime::remainingUnits() const {
    const std::uint64_t units = std::uint64_t{kInstructionBudget - std::min(instructions_, kInstructionBudget)} * kUnitsPerEvaluation;
    return units > work_ ? units - work_ : 0;
}

void APMPRuntime::collectIfDue() {
    // Over the limit, garbage is collected first: only what is reachable counts against a run.
    if (heap_.collectionDue() || heap_.overLimit()) heap_.collect();
}

bool APMPRuntime::checkMemory(NSErrorPtr& error) {
    collectIfDue();
    if (!heap_.overLimit()) return true;
    error = APMPError(APMPErrorBudgetSpent);
    return false;
}

bool APMPRuntime::reserveMemory(std::size_t bytes, NSErrorPtr& error) {
    const auto fits = [&] {
        return bytes <= APMPHeap::kLiveBytesLimit && heap_.liveBytes() <= APMPHeap::kLiveBytesLimit - bytes;
    };
    if (fits()) return true;
    // Only what is reachable counts against a run.
    heap_.collect();
    if (fits()) return true;
    error = APMPError(APMPErrorBudgetSpent);
    return false;
}

bool APMPRuntime::holdForRun(std::size_t bytes, NSErrorPtr& error) {
    if (!reserveMemory(bytes, error)) return false;
    heap_.holdBytes(bytes);
    heldForRun_ += bytes;
    return true;
}

bool APMPRuntime::Held::resize(std::size_t bytes, NSErrorPtr& error) {
    if (bytes > bytes_) {
        if (!runtime_.reserveMemory(bytes - bytes_, error)) return false;
        runtime_.heap_.holdBytes(bytes - bytes_);
    } else {
        runtime_.heap_.releaseBytes(bytes_ - bytes);
    }
    bytes_ = bytes;
    return true;
}

bool APMPRuntime::countLogLine(NSErrorPtr& error) {
    if (logLines_ < kMaxLogLines) {
        ++logLines_;
        return true;
    }
    error = APMPError(APMPErrorBudgetSpent);
    return false;
}

std::shared_ptr<NSRegularExpression> APMPRuntime::compiledPattern(std::u16string_view pattern, NSErrorPtr& error) {
    using namespace runtimeBounds;
    if (const auto kept = patterns_.find(pattern); kept != patterns_.end()) return kept->second;
    // Compiling takes time by the pattern's length besides its own, once for matching and once
    // for counting.
    if (!chargeWork(kCompileUnits + std::uint64_t{pattern.size()} * kPatternUnits, error)) return nullptr;
    auto expression = NSRegularExpression::regularExpressionWithPattern(APMPUTF8(pattern), 0, &error);
    if (!expression) return nullptr;
    if (patterns_.size() >= kKeptPatterns || keptPatternUnits_ + pattern.size() > kKeptPatternUnits) {
        patterns_.clear();
        keptPatternUnits_ = 0;
    }
    if (pattern.size() <= kKeptPatternUnits) {
        patterns_.emplace(std::u16string(pattern), expression);
        keptPatternUnits_ += pattern.size();
    }
    return expression;
}

std::optional<std::pair<std::size_t, std::size_t>> APMPRuntime::firstMatch(std::u16string_view pattern,
                                                                           std::u16string_view text,
                                                                           NSErrorPtr& error) {
    const auto expression = compiledPattern(pattern, error);
    if (!expression) return std::nullopt;
    // The text in UTF-8, at most three bytes a unit, held while it is searched, and read
    // through once more by the matcher before it searches. Lone surrogates become U+FFFD, one
    // unit each: positions stay those of `text`.
    Held subjectHeld(*this);
    if (!chargeConversion(text, error) || !chargeWork(std::uint64_t{text.size()} * kElementUnits, error) ||
        !subjectHeld.resize(3 * text.size(), error)) {
        return std::nullopt;
    }
    const std::string subject = APMPUTF8(text);
    // The matcher's work over the whole search is what the budget has left, its memory what
    // the live limit leaves.
    const std::size_t live = heap_.liveBytes();
    const std::size_t room = live < APMPHeap::kLiveBytesLimit ? APMPHeap::kLiveBytesLimit - live : 0;
    std::uint64_t work = 0;
    bool finished = false;
    const NSRange range = expression->rangeOfFirstMatchInString(subject, NSRange{0, NSNotFound},
                                                                remainingUnits() / kMatcherUnits, room, work, finished);
    if (!chargeWork(work * kMatcherUnits, error)) return std::nullopt;
    if (!finished) {
        budgetSpent(error);
        return std::nullopt;
    }
    if (range.location == NSNotFound) return std::nullopt;
    return std::make_pair(range.location, range.length);
}

APMPRuntime::Nesting::Nesting(APMPRuntime& runtime, const void* container) : runtime_(runtime) {
    auto& walking = runtime.walking_;
    repeated_ = std::find(walking.begin(), walking.end(), container) != walking.end();
    tooDeep_ = walking.size() >= kMaxNesting;
    walking.push_back(container);
}

APMPRuntime::Nesting::~Nesting() { runtime_.walking_.pop_back(); }
