// The advertising framework's attribution client: what the store knows of the search ad that
// led to this installation. Applications reach the class by name ("ADClient") and only where it
// is linked; the host (a test, the simulator) registers one and scripts its answers.
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/NSObject.h"
#include "platform/foundation/ThreadAnnotations.h"
#include "platform/foundation/Value.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class ADClient : public NSObject {
public:
    // The keys of the details dictionary, which the answer holds under a version key.
    static constexpr const char* kAttributionKey = "iad-attribution";
    static constexpr const char* kCampaignNameKey = "iad-campaign-name";
    static constexpr const char* kCampaignIDKey = "iad-campaign-id";
    static constexpr const char* kKeywordKey = "iad-keyword";
    static constexpr const char* kVersionKey = "Version3.1";

    using AttributionHandler =
        std::function<void(const std::optional<Value::Dictionary>& attributionDetails, const NSErrorPtr& error)>;

    // One answer: the details (none for an empty answer) or an error.
    struct Answer {
        std::optional<Value::Dictionary> attributionDetails;
        NSErrorPtr error;
    };
    // The details of an installation after a tap on an ad of `campaign` searched for `keyword`.
    static Answer attributedAnswer(const std::string& campaign, const std::string& keyword,
                                   const std::string& campaignID = "542370539");
    // The details of an installation that no ad led to.
    static Answer notAttributedAnswer();
    // What the framework answers where it cannot know yet (a development build, a simulator).
    static Answer placeholderAnswer();

    // Answers once per call on a global queue, never inside the call: the scripted answers in
    // turn, the last one again once the others are used up, and "not attributed" without a
    // script.
    void requestAttributionDetailsWithBlock(AttributionHandler completionHandler);

    // Replaces the answers not given yet.
    void setAnswers(std::vector<Answer> answers);
    std::size_t requestCount() const;

private:
    mutable Mutex mutex_;
    std::vector<Answer> answers_ GUARDED_BY(mutex_);
    std::size_t requests_ GUARDED_BY(mutex_) = 0;
};
