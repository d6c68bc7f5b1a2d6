// The attribution client stand-in: scripted answers, delivered on another queue.
#include "platform/adsupport/ADClient.h"

#include "platform/dispatch/DispatchQueue.h"

namespace {

ADClient::Answer detailsAnswer(Value::Dictionary details) {
    return {Value::Dictionary{{ADClient::kVersionKey, Value(std::move(details))}}, nullptr};
}

}  // namespace

ADClient::Answer ADClient::attributedAnswer(const std::string& campaign, const std::string& keyword,
                                            const std::string& campaignID) {
    return detailsAnswer({{kAttributionKey, Value(true)},
                          {kCampaignNameKey, Value(campaign)},
                          {kCampaignIDKey, Value(campaignID)},
                          {kKeywordKey, Value(keyword)}});
}

ADClient::Answer ADClient::notAttributedAnswer() { return detailsAnswer({{kAttributionKey, Value(false)}}); }

ADClient::Answer ADClient::placeholderAnswer() { return attributedAnswer("CampaignName", "Keyword", "1234567890"); }

void ADClient::requestAttributionDetailsWithBlock(AttributionHandler completionHandler) {
    Answer answer;
    {
        MutexLock lock(mutex_);
        ++requests_;
        if (answers_.empty()) {
            answer = notAttributedAnswer();
        } else {
            answer = answers_.front();
            if (answers_.size() > 1) answers_.erase(answers_.begin());
        }
    }
    if (!completionHandler) return;
    DispatchQueue::globalQueue()->async([completionHandler = std::move(completionHandler), answer = std::move(answer)] {
        completionHandler(answer.attributionDetails, answer.error);
    });
}

void ADClient::setAnswers(std::vector<Answer> answers) {
    MutexLock lock(mutex_);
    answers_ = std::move(answers);
}

std::size_t ADClient::requestCount() const {
    MutexLock lock(mutex_);
    return requests_;
}
