// The attribution client stand-in: scripted answers in turn (the last one kept), "not
// attributed" without a script, and every answer delivered on another thread.
#include "platform/adsupport/ADClient.h"
#include "platform/foundation/Clock.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace {

// Each answer in the place of the request it answers: they come on the global queues, in any order.
struct Received {
    std::mutex mutex;
    std::size_t count = 0;
    std::vector<std::optional<Value::Dictionary>> details = std::vector<std::optional<Value::Dictionary>>(4);
    std::vector<NSErrorPtr> errors = std::vector<NSErrorPtr>(4);
    std::vector<std::thread::id> threads;
};

void ask(ADClient& client, const std::shared_ptr<Received>& received, std::size_t request) {
    client.requestAttributionDetailsWithBlock([received, request](const std::optional<Value::Dictionary>& details,
                                                                  const NSErrorPtr& error) {
        std::lock_guard lock(received->mutex);
        ++received->count;
        received->details.at(request) = details;
        received->errors.at(request) = error;
        received->threads.push_back(std::this_thread::get_id());
    });
}

Value::Dictionary inner(const std::optional<Value::Dictionary>& details) {
    if (!details || details->empty()) return {};
    const Value& first = details->begin()->second;
    return first.isDictionary() ? first.dictionary() : Value::Dictionary{};
}

}  // namespace

class ADClientTest : public testing::Test {
protected:
    void SetUp() override { Clock::setManual(1000); }
    void TearDown() override { Clock::setReal(); }
};

TEST_F(ADClientTest, ScriptedAnswersComeInTurnOnAnotherThread) {
    ADClient client;
    auto received = std::make_shared<Received>();
    ask(client, received, 0);
    Clock::advance(0);
    client.setAnswers({{std::nullopt, NSError::errorWithDomain("ADClientErrorDomain", 1)},
                       ADClient::attributedAnswer("Spring Gallery", "paintings")});
    for (std::size_t i = 1; i < 4; ++i) ask(client, received, i);
    Clock::advance(0);
    EXPECT_EQ(client.requestCount(), 4u);
    std::lock_guard lock(received->mutex);
    ASSERT_EQ(received->count, 4u);
    // Without a script: not attributed.
    EXPECT_EQ(inner(received->details[0]).get(ADClient::kAttributionKey), Value(false));
    EXPECT_FALSE(received->errors[0]);
    EXPECT_FALSE(received->details[1]);
    ASSERT_TRUE(received->errors[1]);
    EXPECT_EQ(received->errors[1]->code(), 1);
    for (std::size_t i : {2u, 3u}) {
        const auto details = inner(received->details[i]);
        EXPECT_EQ(details.get(ADClient::kAttributionKey), Value(true));
        EXPECT_EQ(details.get(ADClient::kCampaignNameKey), Value("Spring Gallery"));
        EXPECT_EQ(details.get(ADClient::kKeywordKey), Value("paintings"));
    }
    for (const auto& thread : received->threads) EXPECT_NE(thread, std::this_thread::get_id());
}

TEST_F(ADClientTest, ThePlaceholderAnswerCarriesTheFrameworksSampleCampaign) {
    const auto details = inner(ADClient::placeholderAnswer().attributionDetails);
    EXPECT_EQ(details.get(ADClient::kCampaignIDKey), Value("1234567890"));
    EXPECT_EQ(details.get(ADClient::kCampaignNameKey), Value("CampaignName"));
}
