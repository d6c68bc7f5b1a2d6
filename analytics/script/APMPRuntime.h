// The interpreter of event-editing programs: the init and global scopes, the module creators
// behind "require", the dispatch of statements to their evaluators (the string and array
// methods' handed in when the runtime is made), and the bounds that keep any program from
// hanging or exhausting the worker queue: the instruction budget (counted by the runtime
// itself, out of the program's reach, with the work done on values and the regular
// expressions' work weighed into it as it is done), the evaluation depth, and the live memory,
// which counts what commands hold outside the heap while they work. Used on one queue at a
// time.
#pragma once

#include "analytics/script/APMPHeap.h"
#include "analytics/script/APMPRuntimeValue.h"
#include "analytics/script/APMPScope.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

class APMPBRuntimeEntity;
class APMPCommandEvaluator;
class MemoryRelief;
class NSRegularExpression;

// A statement's evaluated arguments. Nearly every statement has a few: those are held in place,
// so that evaluating one allocates nothing; a longer list goes to a vector.
class APMPArgumentValues {
public:
    static constexpr std::size_t kInPlace = 4;

    explicit APMPArgumentValues(std::size_t capacity) {
        if (capacity > kInPlace) spilled_.reserve(capacity);
    }
    APMPArgumentValues(APMPArgumentValues&& other) noexcept : spilled_(std::move(other.spilled_)) {
        if (!inPlace()) {
            size_ = spilled_.size();
            other.size_ = 0;
            return;
        }
        for (; size_ < other.size_; ++size_) new (&inPlace_[size_]) APMPRuntimeValue(std::move(other.inPlace_[size_]));
    }
    APMPArgumentValues(const APMPArgumentValues&) = delete;
    APMPArgumentValues& operator=(const APMPArgumentValues&) = delete;
    APMPArgumentValues& operator=(APMPArgumentValues&&) = delete;
    ~APMPArgumentValues() {
        if (!inPlace()) return;
        for (std::size_t i = 0; i < size_; ++i) inPlace_[i].~APMPRuntimeValue();
    }

    void push_back(APMPRuntimeValue value) {
        if (inPlace() && size_ == kInPlace) spill();
        if (inPlace()) new (&inPlace_[size_]) APMPRuntimeValue(std::move(value));
        else spilled_.push_back(std::move(value));
        ++size_;
    }
    const APMPRuntimeValue* data() const { return inPlace() ? inPlace_ : spilled_.data(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const APMPRuntimeValue* begin() const { return data(); }
    const APMPRuntimeValue* end() const { return data() + size_; }
    const APMPRuntimeValue& operator[](std::size_t index) const { return data()[index]; }

private:
    bool inPlace() const { return spilled_.capacity() == 0; }
    // More than the capacity given: everything moves to the vector.
    void spill() {
        spilled_.reserve(2 * kInPlace);
        for (std::size_t i = 0; i < size_; ++i) {
            spilled_.push_back(std::move(inPlace_[i]));
            inPlace_[i].~APMPRuntimeValue();
        }
    }

    // Only the first size_ are made.
    union {
        APMPRuntimeValue inPlace_[kInPlace];
    };
    std::vector<APMPRuntimeValue> spilled_;
    std::size_t size_ = 0;
};

// Makes a module's object; nothing (not undefined) is a failure.
using APMPModuleCreator = std::function<std::optional<APMPRuntimeValue>(APMPRuntime& runtime)>;

// Module creators by name.
class APMPDynamicProvider {
public:
    // An empty creator removes the name.
    void setModuleCreator(const std::string& name, APMPModuleCreator creator);
    // Undefined without error when no creator has the name; error 15 when the creator makes nothing.
    APMPRuntimeValue moduleForName(const std::string& name, APMPRuntime& runtime, NSErrorPtr& error) const;

private:
    std::map<std::string, APMPModuleCreator> creators_;
};

class APMPRuntime {
public:
    // Evaluations per load (the program and all its activities) and per handled event.
    static constexpr std::uint32_t kInstructionBudget = 1'000'000;
    // Nested evaluations at once; deeper recursion ends with error 18 instead of the stack.
    static constexpr std::uint32_t kMaxEvaluationDepth = 400;
    // Work on values counts against the same budget, weighed by what it costs next to an
    // evaluation, so that a run spending the budget on it takes about as long as one of plain
    // evaluations: this many units weigh one evaluation. A UTF-16 unit built, copied or
    // compared is one unit; an element copied, moved or visited, and a unit searched, weigh
    // kElementUnits; a value (or scope) made for each element of something, or a number turned
    // into text, kValueUnits; two elements compared while sorting, kComparisonUnits; a unit
    // turned to or from UTF-8, kConvertedUnits (kASCIIUnits for a text all ASCII), and through
    // a case mapping kMappedUnits (kCaseUnits for ASCII text); a long name's unit looked up,
    // kNameUnits; a pattern compiled, kCompileUnits and kPatternUnits for each of its units;
    // a unit of the matcher's work (NSRegularExpression::kMatcherStepWork a step),
    // kMatcherUnits.
    static constexpr std::size_t kUnitsPerEvaluation = 128;
    static constexpr std::size_t kElementUnits = 32;
    static constexpr std::size_t kValueUnits = 768;
    static constexpr std::size_t kComparisonUnits = 128;
    static constexpr std::size_t kConvertedUnits = 112;
    static constexpr std::size_t kASCIIUnits = 8;
    static constexpr std::size_t kMappedUnits = 160;
    static constexpr std::size_t kCaseUnits = 8;
    static constexpr std::size_t kNameUnits = 4;
    static constexpr std::size_t kCompileUnits = 131072;
    static constexpr std::size_t kPatternUnits = 1024;
    static constexpr std::size_t kMatcherUnits = 4;
    // Log lines per run.
    static constexpr std::uint32_t kMaxLogLines = 1000;
    // A run that held this much more than it began with has its cycles collected as it ends,
    // and one that leaves this much free has it handed back to the system.
    static constexpr std::size_t kReliefBytes = std::size_t{1} << 20;

    // The version the configuration request reports.
    static std::int64_t runtimeVersion() { return 0; }

    // With the evaluators of the methods called on strings and on arrays, which it keeps, and
    // the relief it asks to hand freed memory back (without one, a relief of its own).
    static std::unique_ptr<APMPRuntime> make(std::shared_ptr<const APMPCommandEvaluator> stringEvaluator,
                                             std::shared_ptr<const APMPCommandEvaluator> arrayEvaluator,
                                             std::shared_ptr<MemoryRelief> relief = nullptr);
    ~APMPRuntime();
    APMPRuntime(const APMPRuntime&) = delete;
    APMPRuntime& operator=(const APMPRuntime&) = delete;

    void setModuleCreator(const std::string& name, APMPModuleCreator creator);
    // Converts and evaluates each entity in the global scope; stops at the first error (giving
    // undefined), otherwise gives the last value, control values included.
    APMPRuntimeValue executeStatements(const std::vector<std::shared_ptr<APMPBRuntimeEntity>>& entities,
                                       NSErrorPtr& error);
    // A new child of the global scope.
    APMPRef<APMPScope> getRunScope();
    std::uint32_t getInstructionCount() const { return instructions_; }
    // A new budget: instructions, regular-expression work and log lines. The last run's values
    // that nothing reaches any more were freed already; those in cycles went as it ended when it
    // was a heavy run (endRun), else go with the next collection, which allocation makes due.
    void resetInstructionCount();
    // Ends a run. One that held kReliefBytes more than it began with frees the cycles it left
    // at once (a lighter one leaves them to the next collection); one that leaves that much
    // free asks for it to be handed back to the system, where it otherwise stays with the arena
    // of whichever worker thread the run happened to use: on a queue behind the work queued
    // there (MemoryRelief), elsewhere at once: true when it was handed back at once.
    bool endRun();

    // The evaluators of the methods of strings and of arrays, handed in when the runtime was made.
    const APMPCommandEvaluator& stringEvaluator() const { return *stringEvaluator_; }
    const APMPCommandEvaluator& arrayEvaluator() const { return *arrayEvaluator_; }

    // Evaluates one value: a statement runs through its evaluator, anything else is itself.
    // Counts one instruction first.
    APMPRuntimeValue evaluateStatement(const APMPRuntimeValue& value, APMPScope& scope, NSErrorPtr& error) {
        if (instructions_ >= kInstructionBudget) return budgetSpent(error);
        ++instructions_;
        if (!value.isStatement()) return value;
        return runStatement(value, scope, error);
    }
    // Evaluates each in order; an error gives undefined, a control value ends the list and is
    // given; otherwise the last value (undefined for none). Opens no scope.
    APMPRuntimeValue executeStatementList(std::span<const APMPRuntimeValue> statements, APMPScope& scope,
                                          NSErrorPtr& error);
    // Each evaluated in order; the first error ends the list (its value still appended).
    APMPArgumentValues evaluateArguments(std::span<const APMPRuntimeValue> arguments, APMPScope& scope,
                                         NSErrorPtr& error);

    APMPHeap& heap() { return heap_; }
    APMPScope& globalScope() { return *globalScope_; }
    const APMPDynamicProvider& provider() const { return provider_; }

    // Values made for programs, bounded: a string past APMPStringValue::kMaxLength fails with
    // error 10 (and gives the empty string's value); its units are charged as built.
    APMPRuntimeValue string(std::u16string text, NSErrorPtr& error);
    // A string whose text was bounded and charged as it was built.
    APMPRuntimeValue string(std::u16string text);
    // From UTF-8: the conversion charged, and held before it is made (error 18 past either).
    APMPRuntimeValue string(std::string_view utf8, NSErrorPtr& error);
    // Counts `units` of work done against the budget, fractions of an evaluation carried to the
    // next charge; a run it takes to the budget's end stops at its next evaluation.
    void chargeWork(std::uint64_t units) {
        work_ += units;
        if (work_ >= kUnitsPerEvaluation) static_cast<void>(settleWork());
    }
    // Charges looking a name of `units` up: a long name is hashed, and compared where it is
    // found, besides being read.
    void chargeName(std::size_t units) {
        chargeWork(units <= APMPPropertyMap::kShortName ? units : std::uint64_t{units} * kNameUnits);
    }
    // Charges turning `text` to or from UTF-8 before it is done (error 18 past the budget).
    [[nodiscard]] bool chargeConversion(std::u16string_view text, NSErrorPtr& error);
    [[nodiscard]] bool chargeConversion(std::string_view utf8, NSErrorPtr& error);
    // Counts `units` of work before it is done: false (with error 18, the budget spent) when it
    // would take the run past the budget, and the work is not to be done.
    [[nodiscard]] bool chargeWork(std::uint64_t units, NSErrorPtr& error) {
        work_ += units;
        if (work_ < kUnitsPerEvaluation || settleWork()) return true;
        budgetSpent(error);
        return false;
    }
    // False (with error 18) once the run holds more memory than it may.
    bool checkMemory(NSErrorPtr& error);
    // Whether `bytes` more may be held: garbage is collected first where that makes room;
    // false (with error 18) when the run would hold more than it may.
    [[nodiscard]] bool reserveMemory(std::size_t bytes, NSErrorPtr& error);
    // Memory the run's plain objects take (event parameters written, events created, which
    // live past the values they came from): counted, once reserved, until the next reset.
    [[nodiscard]] bool holdForRun(std::size_t bytes, NSErrorPtr& error);

    // Memory a command holds outside the heap while it works (a text it builds, a copy, a
    // table), counted with the heap's from before it is taken until it goes.
    class Held {
    public:
        explicit Held(APMPRuntime& runtime) : runtime_(runtime) {}
        ~Held() { runtime_.heap_.releaseBytes(bytes_); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        // `bytes` held in all from now on; false (with error 18, the hold unchanged) when more
        // would take the run past its live limit.
        [[nodiscard]] bool resize(std::size_t bytes, NSErrorPtr& error);
        std::size_t bytes() const { return bytes_; }

    private:
        APMPRuntime& runtime_;
        std::size_t bytes_ = 0;
    };
    // One more log line of this run; false (with error 18) past the run's allowance.
    bool countLogLine(NSErrorPtr& error);

    // The first match of a pattern (compiled without options) in `text`: its location and
    // length in UTF-16 units, or none. A pattern that does not compile gives the platform's
    // error; compiling and searching are charged as they go, and a search that would pass the
    // budget (or the live limit) gives error 18.
    std::optional<std::pair<std::size_t, std::size_t>> firstMatch(std::u16string_view pattern,
                                                                  std::u16string_view text, NSErrorPtr& error);

    // Marks a container as being walked (joined, converted) while it lives: a walk that meets
    // it again inside itself sees a cycle, and one nested past kMaxNesting is too deep.
    class Nesting {
    public:
        static constexpr std::size_t kMaxNesting = 64;
        Nesting(APMPRuntime& runtime, const void* container);
        ~Nesting();
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;
        bool repeated() const { return repeated_; }
        bool tooDeep() const { return tooDeep_; }

    private:
        APMPRuntime& runtime_;
        bool repeated_ = false;
        bool tooDeep_ = false;
    };

    // For tests and the fuzz target: the most memory held at once since the last reset.
    std::size_t peakBytes() const { return heap_.peakBytes(); }

private:
    APMPRuntime(std::shared_ptr<const APMPCommandEvaluator> stringEvaluator,
                std::shared_ptr<const APMPCommandEvaluator> arrayEvaluator, std::shared_ptr<MemoryRelief> relief);

    // Turns the whole evaluations of the work charged into instructions; false when they would
    // pass the budget (which is then spent).
    bool settleWork();
    // Units of work the budget still pays for.
    std::uint64_t remainingUnits() const;
    static APMPRuntimeValue budgetSpent(NSErrorPtr& error);
    // A statement's evaluation, counted already.
    APMPRuntimeValue runStatement(const APMPRuntimeValue& value, APMPScope& scope, NSErrorPtr& error);
    // Collects the heap's cycles when allocation made it due, or before the limit is judged.
    void collectIfDue();
    std::shared_ptr<NSRegularExpression> compiledPattern(std::u16string_view pattern, NSErrorPtr& error);

    // Declared before the heap, so that it goes after it: asks for what the heap freed as it
    // went to be handed back to the system, when that was much.
    struct ReliefAfterHeap {
        std::shared_ptr<MemoryRelief> relief;
        bool due = false;
        ~ReliefAfterHeap();
    } reliefAfterHeap_;
    // Goes after every scope and value below has let go of it.
    APMPHeap heap_;
    APMPRef<APMPScope> initScope_;
    APMPRef<APMPScope> globalScope_;
    APMPDynamicProvider provider_;
    std::shared_ptr<const APMPCommandEvaluator> stringEvaluator_;
    std::shared_ptr<const APMPCommandEvaluator> arrayEvaluator_;
    std::uint32_t instructions_ = 0;
    // Work charged that does not make a whole evaluation yet.
    std::uint64_t work_ = 0;
    std::uint32_t depth_ = 0;
    std::uint32_t logLines_ = 0;
    // Held for the run's plain objects until the next reset.
    std::size_t heldForRun_ = 0;
    // Held when the run began, and let go of as it began (the last run's plain objects).
    std::size_t runStartBytes_ = 0;
    std::size_t releasedAtStart_ = 0;
    // What the run left free was asked to go back to the system.
    bool relieved_ = false;
    std::vector<const void*> walking_;
    std::map<std::u16string, std::shared_ptr<NSRegularExpression>, std::less<>> patterns_;
    // Units of the patterns kept.
    std::size_t keptPatternUnits_ = 0;
};
