// The front of the event-editing runtime: loads one program (its instructions, then each
// activity as a rule given to the function it names, which registers edit and create
// callbacks), then passes events through the callbacks. Runs on the measurement worker queue.
#pragma once

#include "analytics/script/APMPEditingCallbackHandler.h"
#include "analytics/script/APMPEventContext.h"
#include "analytics/script/APMPRuntime.h"
#include "platform/dispatch/SequenceChecker.h"

#include <memory>
#include <string>

class APMPBOgtActivity;
class APMPBProgram;
class APMPMapValue;
class MemoryRelief;

class APMPEventEditing {
public:
    // On a new runtime with the process's evaluators of string and array methods, and the
    // relief it asks to hand freed memory back (APMPRuntime::make).
    static std::unique_ptr<APMPEventEditing> make(std::shared_ptr<MemoryRelief> relief = nullptr);
    // Registers "internal.registerCallback" and "internal.eventLogger" on the runtime.
    static std::unique_ptr<APMPEventEditing> initWithRuntime(std::unique_ptr<APMPRuntime> runtime);
    ~APMPEventEditing();
    APMPEventEditing(const APMPEventEditing&) = delete;
    APMPEventEditing& operator=(const APMPEventEditing&) = delete;

    void setModuleCreator(const std::string& name, APMPModuleCreator creator);

    // Runs the instructions (a control value at the end is editing error 5), then loads each
    // activity; the first error ends the load.
    [[nodiscard]] bool loadProgram(const std::shared_ptr<APMPBProgram>& program, NSErrorPtr* error = nullptr);
    // Each entity of the activity's data must give a map (else editing error 6), registered as
    // a rule under the activity's name.
    [[nodiscard]] bool loadActivityData(const std::shared_ptr<APMPBOgtActivity>& activity, NSErrorPtr& error);
    // Calls the function the name holds (else editing error 7) with the rule, in a run scope.
    [[nodiscard]] bool registerRuleWithName(const std::string& name, const APMPRuntimeValue& rule, NSErrorPtr& error);

    // With a fresh budget and run scope: the edit callbacks by priority (a result of 2 or -1, or
    // none, discards that callback's changes; an error restores the event as it was before the
    // failing callback and stops), then the create callbacks. Whether the event changed or
    // events were created; false with an error on failure.
    [[nodiscard]] bool handleEvent(const std::shared_ptr<APMPEvent>& event, NSErrorPtr* error = nullptr);
    bool hasEdits() const;
    bool hasCreatedEvents() const { return !eventContext_->eventsToLog().empty(); }
    const APMPEventContext& eventContext() const { return *eventContext_; }

    APMPRuntime& runtime() { return *runtime_; }
    const APMPEditingCallbackHandler& callbackHandler() const { return *callbackHandler_; }

private:
    explicit APMPEventEditing(std::unique_ptr<APMPRuntime> runtime);
    bool triggerCallbacks(APMPScope& scope, NSErrorPtr& error);
    // The runtime's end of a run, after loading and after each event.
    void endRun();

    std::unique_ptr<APMPRuntime> runtime_;
    std::shared_ptr<APMPEventContext> eventContext_;
    // After the runtime: its callbacks go before the heap they live on.
    std::shared_ptr<APMPEditingCallbackHandler> callbackHandler_;
    SequenceChecker sequenceChecker_{"APMPEventEditing"};
};
