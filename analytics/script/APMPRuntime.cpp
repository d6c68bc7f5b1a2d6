// The runtime: scopes, module creators, statement evaluation and the bounds of a run.
#include "analytics/script/APMPRuntime.h"

#include "analytics/script/APMPCommandEvaluator.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPNativeModules.h"
#include "analytics/script/APMPRuntimeEntityConverter.h"
#include "analytics/script/APMPStatementValue.h"
#include "analytics/script/APMPStringValue.h"
#include "platform/foundation/NSRegularExpression.h"

#include <algorithm>

namespace {
namespace runtimeBounds {

using Value = APMPRuntimeValue;

// The matcher's steps for a first try; each retry allows ten times more, up to the most one
// search may take.
constexpr std::uint32_t kFirstMatcherLimit = 1'000;
constexpr std::uint32_t kMostMatcherLimit = 1'000'000;
// Compiled patterns kept per runtime.
constexpr std::size_t kKeptPatterns = 32;

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

std::unique_ptr<APMPRuntime> APMPRuntime::make() { return std::unique_ptr<APMPRuntime>(new APMPRuntime()); }

APMPRuntime::APMPRuntime() {
    initScope_ = heap_.make<APMPScope>(APMPRef<APMPScope>());
    globalScope_ = initScope_->createChildScope();
    globalScope_->addValue(u"require", APMPRuntimeValue(heap_.make<APMPRequire>()));
    setModuleCreator("internal.platform",
                     [](APMPRuntime& runtime) { return APMPRuntimeValue(runtime.heap().make<APMPRuntimePlatform>()); });
    resetInstructionCount();
}

APMPRuntime::~APMPRuntime() = default;

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
    matcherSteps_ = 0;
    logLines_ = 0;
    // Counted references freed the last run's values already; its cycles go when allocation
    // makes a collection due, as during a run: a full walk of the heap (the loaded program
    // included) before every event would cost more than most events.
    collectIfDue();
    heap_.resetPeak();
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
    ++depth_;
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
    --depth_;
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

APMPRuntimeValue APMPRuntime::string(std::string_view utf8) { return string(APMPUTF16(utf8)); }

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

bool APMPRuntime::countLogLine(NSErrorPtr& error) {
    if (logLines_ < kMaxLogLines) {
        ++logLines_;
        return true;
    }
    error = APMPError(APMPErrorBudgetSpent);
    return false;
}

std::shared_ptr<NSRegularExpression> APMPRuntime::compiledPattern(const std::u16string& pattern, NSErrorPtr& error) {
    using namespace runtimeBounds;
    if (const auto kept = patterns_.find(pattern); kept != patterns_.end()) return kept->second;
    chargeWork(pattern.size());
    auto expression = NSRegularExpression::regularExpressionWithPattern(APMPUTF8(pattern), 0, &error);
    if (!expression) return nullptr;
    if (patterns_.size() >= kKeptPatterns) patterns_.clear();
    patterns_.emplace(pattern, expression);
    return expression;
}

std::optional<std::pair<std::size_t, std::size_t>> APMPRuntime::firstMatch(const std::u16string& pattern,
                                                                           const std::u16string& text,
                                                                           NSErrorPtr& error) {
    using namespace runtimeBounds;
    const auto expression = compiledPattern(pattern, error);
    if (!expression) return std::nullopt;
    chargeWork(text.size());
    // Lone surrogates become U+FFFD, one unit each: positions stay those of `text`.
    const std::string subject = APMPUTF8(text);
    // Each try is charged all the steps it was allowed; most searches finish in the first.
    for (std::uint32_t limit = kFirstMatcherLimit;; limit *= 10) {
        const std::uint64_t left = kRegularExpressionBudget - std::min(kRegularExpressionBudget, matcherSteps_);
        const auto allowed = static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, left));
        if (allowed == 0) break;
        bool finished = false;
        const NSRange range = expression->rangeOfFirstMatchInString(subject, NSRange{0, NSNotFound}, allowed, finished);
        matcherSteps_ += allowed;
        if (finished) {
            if (range.location == NSNotFound) return std::nullopt;
            return std::make_pair(range.location, range.length);
        }
        if (allowed < limit || limit >= kMostMatcherLimit) break;
    }
    error = APMPError(APMPErrorBudgetSpent);
    return std::nullopt;
}

APMPRuntime::Nesting::Nesting(APMPRuntime& runtime, const void* container) : runtime_(runtime) {
    auto& walking = runtime.walking_;
    repeated_ = std::find(walking.begin(), walking.end(), container) != walking.end();
    tooDeep_ = walking.size() >= kMaxNesting;
    walking.push_back(container);
}

APMPRuntime::Nesting::~Nesting() { runtime_.walking_.pop_back(); }
