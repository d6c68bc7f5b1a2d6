// Checks that an object living on one sequence (a serial queue, or one thread) is only used
// there. Binds to the caller's sequence on first use; a call from elsewhere is a programming
// error that the OSTREL_CHECK_SEQUENCE macro turns into an abort with a clear message.
#pragma once

#include <atomic>
#include <cstdint>

class SequenceChecker {
public:
    // `owner` names the object in the abort message ("APMDatabase", "UIView"...).
    explicit SequenceChecker(const char* owner) : owner_(owner) {}
    SequenceChecker(const SequenceChecker&) = delete;
    SequenceChecker& operator=(const SequenceChecker&) = delete;

    // True when the caller runs on the bound sequence, or when nothing is bound yet (the
    // caller's sequence is bound then).
    bool calledOnValidSequence() const;
    // Aborts, naming the owner and both sequences, unless calledOnValidSequence().
    void check(const char* function) const;
    // Forgets the bound sequence: the next call binds again (an object handed to another queue).
    void detach() { bound_.store(0, std::memory_order_release); }

    // The caller's sequence: the innermost serial queue it runs work of (the main queue and
    // work outside any queue on the main thread are the same sequence), else its thread.
    static std::uintptr_t currentSequence();
    // The caller's sequence in words, for messages.
    static const char* describeCurrentSequence(char* buffer, unsigned size);

private:
    const char* owner_;
    mutable std::atomic<std::uintptr_t> bound_{0};
};

// Sequence checks cost a thread-local lookup per call: on in debug builds and wherever the build
// defines OSTREL_SEQUENCE_CHECKS (its SEQUENCE_CHECKS option, on unless a release turns it off).
#if !defined(NDEBUG) || defined(OSTREL_SEQUENCE_CHECKS)
#define OSTREL_CHECK_SEQUENCE(checker) (checker).check(__func__)
#else
#define OSTREL_CHECK_SEQUENCE(checker) ((void)0)
#endif
