// The measurement service's own logic, reached over HTTPS by the platform's URL session:
// batch decoding and what it keeps, scripted answers, conditional configuration fetches, and
// the program the demo runs.
#include "demo/measurement/MeasurementService.h"

#include "analytics/proto/APMPBAppProperty.h"
#include "analytics/proto/APMPBClientProperty.h"
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBExperimentRequest.h"
#include "analytics/proto/APMPBExperimentResponse.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementBatch.h"
#include "analytics/proto/APMPBMeasurementBundle.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBProgram.h"
#include "analytics/proto/APMPBRuntimeEntity.h"
#include "analytics/proto/APMPBSetting.h"
#include "analytics/proto/APMPBSnapshot.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NSJSONSerialization.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/NSHTTPURLResponse.h"
#include "platform/net/NSMutableURLRequest.h"
#include "platform/net/NSURL.h"
#include "platform/net/NSURLError.h"
#include "platform/net/NSURLSession.h"
#include "platform/net/NSURLSessionConfiguration.h"
#include "platform/net/URLTrustAnchors.h"
#include "platform/services/NSDataVULGzip.h"
#include "tests/fixtures/InteractiveProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

struct Answer {
    long status = 0;  // 0: the transfer failed
    std::string body;
    std::shared_ptr<NSHTTPURLResponse> response;
    NSErrorPtr error;
    std::string header(std::string_view name) const {
        return response ? response->valueForHTTPHeaderField(name).value_or("") : "";
    }
};

class MeasurementServiceTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(URLTrustAnchors::addAnchorForHost("127.0.0.1", service_.certificatePEM())); }
    void TearDown() override { URLTrustAnchors::reset(); }

    Answer send(const std::string& method, const std::string& pathAndQuery, const std::string& body = "",
                const std::vector<std::pair<std::string, std::string>>& headers = {}) {
        return sendTo(service_.url(pathAndQuery), method, body, headers);
    }
    Answer sendTo(const std::string& url, const std::string& method, const std::string& body = "",
                  const std::vector<std::pair<std::string, std::string>>& headers = {}) {
        auto request = NSMutableURLRequest::requestWithURL(NSURL::URLWithString(url));
        request->setHTTPMethod(method);
        if (!body.empty()) request->setHTTPBody(NSData(body.begin(), body.end()));
        for (const auto& [name, value] : headers) request->setValue(value, name);
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Answer> answer;
        auto task = session_->dataTaskWithRequest(
            request, [&](const NSData& data, const std::shared_ptr<NSHTTPURLResponse>& response, const NSErrorPtr& error) {
                std::lock_guard lock(mutex);
                answer = Answer{response ? response->statusCode() : 0, std::string(data.begin(), data.end()), response,
                                error};
                done.notify_all();
            });
        task->resume();
        std::unique_lock lock(mutex);
        EXPECT_TRUE(done.wait_for(lock, std::chrono::seconds(20), [&] { return answer.has_value(); }));
        return answer.value_or(Answer{});
    }

    MeasurementService service_;
    std::shared_ptr<DispatchQueue> queue_ = DispatchQueue::create("test.measurement.service");
    std::shared_ptr<NSURLSession> session_ =
        NSURLSession::sessionWithConfiguration(NSURLSessionConfiguration::defaultSessionConfiguration(), queue_);
};

constexpr auto param = &MeasurementService::makeEventParameter;

std::shared_ptr<APMPBEvent> event(const std::string& name, std::int64_t millis, Value::Array params) {
    auto message = APMPBEvent::make();
    APMPBMessageSetString(message, APMPBEvent::kName, name);
    APMPBMessageSetInt64(message, APMPBEvent::kTimestampMillis, millis);
    APMPBMessageSetArray(message, APMPBEvent::kParams, params);
    return message;
}

std::string batchBody(const std::vector<std::pair<std::string, Value::Array>>& bundles) {
    Value::Array items;
    for (const auto& [appID, events] : bundles) {
        auto bundle = APMPBMeasurementBundle::make();
        APMPBMessageSetInt32(bundle, APMPBMeasurementBundle::kProtocolVersion, 1);
        APMPBMessageSetString(bundle, APMPBMeasurementBundle::kVuvAppId, appID);
        APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kEvents, events);
        items.push_back(Value(bundle));
    }
    auto batch = APMPBMeasurementBatch::make();
    APMPBMessageSetArray(batch, APMPBMeasurementBatch::kBundles, items);
    const NSData bytes = *batch->protoBuffer();
    return std::string(bytes.begin(), bytes.end());
}

TEST_F(MeasurementServiceTest, DecodesBatchesAndKeepsOnlyWhatItAccepted) {
    // An array parameter: items without names, each holding its own parameters.
    auto items = APMPBEventParam::make();
    APMPBMessageSetString(items, APMPBEventParam::kName, "items");
    auto item = APMPBEventParam::make();
    APMPBMessageSetArray(item, APMPBEventParam::kParamValue, Value::Array{Value(param("item_id", Value("sku-1")))});
    APMPBMessageSetArray(items, APMPBEventParam::kParamValue, Value::Array{Value(item)});
    const std::string body = batchBody({
        {"1:app", {Value(event("_f", 1000, {Value(param("_o", Value("auto"))), Value(param("_c", Value(1)))})),
                   Value(event("purchase", 2000, {Value(param("value", Value(2.5))), Value(items)}))}},
        {"1:app", {Value(event("_e", 3000, {Value(param("_et", Value(15)))}))}},
    });

    Answer answer = send("POST", "/a", body);
    EXPECT_EQ(answer.status, 204);
    ASSERT_EQ(service_.uploads().size(), 1u);
    const auto upload = service_.uploads()[0];
    EXPECT_TRUE(upload.accepted);
    EXPECT_EQ(upload.size, body.size());
    EXPECT_EQ(upload.batch.bundles, 2u);
    EXPECT_EQ(upload.batch.appID, "1:app");
    auto events = service_.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].name, "_f");
    EXPECT_EQ(events[0].timestampMillis, 1000);
    EXPECT_EQ(events[0].parameters.get("_o"), Value("auto"));
    EXPECT_TRUE(events[0].parameters.get("_c").objCType() == std::string("q"));
    EXPECT_EQ(events[1].parameters.get("value"), Value(2.5));
    EXPECT_EQ(events[1].parameters.get("items")[0]["item_id"], Value("sku-1"));
    EXPECT_EQ(events[2].name, "_e");
    EXPECT_EQ(MeasurementService::summaryLine(1, upload),
              "batch 1: app 1:app, 2 bundles, 3 events [_e, _f, purchase], " + std::to_string(body.size()) +
                  " bytes, answered 204");
    EXPECT_TRUE(service_.duplicates().empty());

    // Refused answers keep nothing: a busy service, a reset after the status line, a stall.
    MeasurementService::Reply busy;
    busy.fault.status = 503;
    service_.enqueueReply(MeasurementService::Route::Upload, busy);
    answer = send("POST", "/a", body);
    EXPECT_EQ(answer.status, 503);
    EXPECT_EQ(answer.header("Retry-After"), "60");
    MeasurementService::Reply reset;
    reset.fault = LoopbackServer::Fault::reset(0);
    service_.enqueueReply(MeasurementService::Route::Upload, reset);
    answer = send("POST", "/a", body);
    EXPECT_EQ(answer.status, 0);
    EXPECT_TRUE(answer.error);
    EXPECT_EQ(service_.events().size(), 3u);
    EXPECT_FALSE(service_.uploads()[1].accepted);
    EXPECT_FALSE(service_.uploads()[2].accepted);

    // A body that is no batch, and a gzipped one, are answered 400; a GET is refused.
    EXPECT_EQ(send("POST", "/a", "not a batch").status, 400);
    EXPECT_EQ(send("POST", "/a", std::string("\x1f\x8b\x08\x00", 4) + body).status, 400);
    EXPECT_EQ(send("GET", "/a").status, 405);

    // The same batch again: every event counts twice.
    EXPECT_EQ(send("POST", "/a", body).status, 204);
    EXPECT_EQ(service_.duplicates().size(), 3u);
    EXPECT_EQ(service_.eventCounts().at(events[1].key()), 2);
    service_.clearReceived();
    EXPECT_TRUE(service_.events().empty());
}

// A client that counts a batch delivered once the answer's status line said it was taken has it
// delivered whatever becomes of the rest of the answer; a late answer goes out, and keeps its
// batch, only once its delay has passed, never when the service stops first.
TEST_F(MeasurementServiceTest, AnUploadIsTakenOnceTheStatusLineOfASuccessGoesOut) {
    const std::string body = batchBody({{"1:app", {Value(event("_f", 1000, {}))}}});
    MeasurementService::Reply reset;
    reset.fault = LoopbackServer::Fault::reset(0);
    service_.enqueueReply(MeasurementService::Route::Upload, reset);
    EXPECT_EQ(send("POST", "/a", body).status, 0);
    MeasurementService::Reply late;
    late.fault = LoopbackServer::Fault::late(std::chrono::milliseconds(50));
    service_.enqueueReply(MeasurementService::Route::Upload, late);
    EXPECT_EQ(send("POST", "/a", body).status, 204);
    const auto uploads = service_.uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_TRUE(uploads[0].statusSent);
    EXPECT_TRUE(uploads[0].taken());
    EXPECT_FALSE(uploads[0].accepted) << "not received whole";
    EXPECT_TRUE(uploads[1].statusSent);
    EXPECT_TRUE(uploads[1].taken());
    EXPECT_TRUE(uploads[1].accepted);

    std::mutex linesMutex;
    std::vector<std::string> lines;
    auto holding = std::make_unique<MeasurementService>();
    holding->setSummaryObserver([&](const std::string& line) {
        std::lock_guard lock(linesMutex);
        lines.push_back(line);
    });
    MeasurementService::Reply held;
    held.fault = LoopbackServer::Fault::late(std::chrono::minutes(10));
    holding->enqueueReply(MeasurementService::Route::Upload, held);
    Answer answer;
    std::thread client([&] { answer = sendTo(holding->url("/a"), "POST", body); });
    ASSERT_TRUE(holding->waitForUploads(1));
    EXPECT_FALSE(holding->uploads()[0].statusSent);
    EXPECT_FALSE(holding->uploads()[0].taken());
    const auto stopping = std::chrono::steady_clock::now();
    holding.reset();
    client.join();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::minutes(1)) << "the stop waited out the delay";
    EXPECT_NE(answer.status, 204);
    std::lock_guard lock(linesMutex);
    ASSERT_EQ(lines.size(), 1u) << "the held answer was told as answered";
    EXPECT_NE(lines[0].find("(answer held back)"), std::string::npos) << lines[0];
}

TEST_F(MeasurementServiceTest, EventKeysIgnoreParameterOrderButNotValues) {
    const std::string forward = batchBody(
        {{"1:app", {Value(event("e", 5, {Value(param("a", Value(1))), Value(param("b", Value("x")))}))}}});
    const std::string reversed = batchBody(
        {{"1:app", {Value(event("e", 5, {Value(param("b", Value("x"))), Value(param("a", Value(1)))}))}}});
    const std::string changed = batchBody(
        {{"1:app", {Value(event("e", 5, {Value(param("a", Value(2))), Value(param("b", Value("x")))}))}}});
    const auto key = [](const std::string& body) { return MeasurementService::decodeBatch(body)->events.at(0).key(); };
    EXPECT_EQ(key(forward), key(reversed));
    EXPECT_NE(key(forward), key(changed));
    EXPECT_FALSE(MeasurementService::decodeBatch(forward.substr(0, forward.size() - 1)));
}

TEST_F(MeasurementServiceTest, ServesConfigurationsConditionally) {
    auto config = APMPBMeasurementConfig::make();
    APMPBMessageSetInt64(config, APMPBMeasurementConfig::kVersion, 2);
    APMPBMessageSetString(config, APMPBMeasurementConfig::kVuvAppId, "1:app");
    const std::time_t modified = 1700000000;
    service_.setConfiguration("1:app", config, modified);
    const std::string etag = service_.etag("1:app");
    const std::string date = MeasurementService::httpDate(modified);
    EXPECT_EQ(date, "Tue, 14 Nov 2023 22:13:20 GMT");
    EXPECT_EQ(service_.lastModified("1:app"), date);

    const std::string path = "/config/app/1:app?app_instance_id=abc%20d&platform=ios&vuv_version=90000";
    Answer answer = send("GET", path);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.header("ETag"), etag);
    EXPECT_EQ(answer.header("Last-Modified"), date);
    auto served = APMPBMeasurementConfig::initWithBuffer(NSData(answer.body.begin(), answer.body.end()));
    ASSERT_NE(served, nullptr);
    EXPECT_EQ(APMPBMessageGetInt64(served, APMPBMeasurementConfig::kVersion), 2);
    ASSERT_EQ(service_.configFetches().size(), 1u);
    EXPECT_EQ(service_.configFetches()[0].appID, "1:app");
    EXPECT_EQ(service_.configFetches()[0].query.get("app_instance_id"), Value("abc d"));
    EXPECT_EQ(service_.configFetches()[0].query.get("vuv_version"), Value("90000"));

    answer = send("GET", path, "", {{"If-None-Match", etag}});
    EXPECT_EQ(answer.status, 304);
    EXPECT_TRUE(answer.body.empty());
    EXPECT_EQ(answer.header("ETag"), etag);
    EXPECT_EQ(send("GET", path, "", {{"If-Modified-Since", date}}).status, 304);
    EXPECT_EQ(send("GET", path, "", {{"If-Modified-Since", MeasurementService::httpDate(modified - 1)}}).status, 200);
    // A new version gets a new tag even with the same bytes.
    service_.setConfiguration("1:app", config, modified);
    EXPECT_NE(service_.etag("1:app"), etag);
    EXPECT_EQ(send("GET", path, "", {{"If-None-Match", etag}}).status, 200);
    EXPECT_EQ(service_.configFetches().back().ifNoneMatch, etag);

    EXPECT_EQ(send("GET", "/config/app/1:other?platform=ios").status, 404);
    service_.removeConfiguration("1:app");
    EXPECT_EQ(send("GET", path).status, 404);

    // A scripted 304 or 429 comes without validators.
    MeasurementService::Reply notModified;
    notModified.fault.status = 304;
    MeasurementService::Reply tooMany;
    tooMany.fault.status = 429;
    tooMany.retryAfter = 30;
    service_.enqueueReply(MeasurementService::Route::ConfigFetch, notModified);
    service_.enqueueReply(MeasurementService::Route::ConfigFetch, tooMany);
    answer = send("GET", path);
    EXPECT_EQ(answer.status, 304);
    EXPECT_EQ(answer.header("ETag"), "");
    answer = send("GET", path);
    EXPECT_EQ(answer.status, 429);
    EXPECT_EQ(answer.header("Retry-After"), "30");
    EXPECT_EQ(answer.header("Last-Modified"), "");

    // The admin endpoint queues the same replies for a person running the demo.
    EXPECT_EQ(send("POST", "/admin/reply?route=config&status=500&count=2").status, 200);
    EXPECT_EQ(send("GET", path).status, 500);
    EXPECT_EQ(send("GET", path).status, 500);
    EXPECT_EQ(send("GET", path).status, 404);
    EXPECT_EQ(send("POST", "/admin/reply?route=nowhere&status=500").status, 400);
}

TEST_F(MeasurementServiceTest, ExperimentsRequestsAreKeptAndAnsweredGzipped) {
    auto app = APMPBAppProperty::make();
    APMPBMessageSetString(app, APMPBAppProperty::kPlatform, "ios");
    APMPBMessageSetString(app, APMPBAppProperty::kBundleId, "com.example.gallery");
    auto client = APMPBClientProperty::make();
    APMPBMessageSetString(client, APMPBClientProperty::kSdkName, "zev_uzeviroreda");
    APMPBMessageSetString(client, APMPBClientProperty::kDiversionId, "abcde-zev_uzeviroreda");
    auto request = APMPBExperimentRequest::make();
    APMPBMessageSetMessage(request, APMPBExperimentRequest::kAppProperty, app);
    APMPBMessageSetArray(request, APMPBExperimentRequest::kClientProperties, Value::Array{Value(client)});
    const NSData bytes = *request->protoBuffer();
    const std::string body(bytes.begin(), bytes.end());

    auto snapshot = APMPBSnapshot::make();
    APMPBMessageSetString(snapshot, APMPBSnapshot::kSdkName, "zev_uzeviroreda");
    auto reply = APMPBExperimentResponse::make();
    APMPBMessageSetArray(reply, APMPBExperimentResponse::kSnapshots, Value::Array{Value(snapshot)});
    service_.setExperimentResponse(reply);
    Answer answer = send("POST", "/sdk-exp", body);
    ASSERT_EQ(answer.status, 200);
    const NSData inflated =
        NSDataVULGzip::vul_dataByInflatingGzippedData(NSData(answer.body.begin(), answer.body.end()));
    auto decoded = APMPBExperimentResponse::initWithBuffer(inflated);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(APMPBMessageGetArray<APMPBSnapshot>(decoded, APMPBExperimentResponse::kSnapshots)->size(), 1u);

    // Scripted answers, also from the admin endpoint; a request that does not decode is refused.
    EXPECT_EQ(send("POST", "/admin/reply?route=experiments&status=429").status, 200);
    EXPECT_EQ(send("POST", "/sdk-exp", body).status, 429);
    EXPECT_EQ(send("POST", "/sdk-exp", "\xff\xff\xff").status, 400);
    EXPECT_EQ(send("GET", "/sdk-exp").status, 405);
    const auto fetches = service_.experimentFetches();
    ASSERT_EQ(fetches.size(), 3u);
    EXPECT_TRUE(fetches[0].decoded);
    EXPECT_EQ(fetches[0].platform, "ios");
    EXPECT_EQ(fetches[0].bundleID, "com.example.gallery");
    ASSERT_EQ(fetches[0].clients.size(), 1u);
    EXPECT_EQ(fetches[0].clients[0].diversionID, "abcde-zev_uzeviroreda");
    EXPECT_EQ(fetches[1].status, 429);
    EXPECT_FALSE(fetches[2].decoded);
    EXPECT_NE(send("GET", "/admin/summary").body.find("3 experiments fetches"), std::string::npos);
}

// The ad-conversion service's stand-in: a link for the advertising id asking, else the one for
// every device, else none; a request that does not name the device and the application is refused.
TEST_F(MeasurementServiceTest, DeferredDeepLinksAreAnsweredForTheAdvertisingIDThatAsks) {
    const std::string device = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
    auto query = [](const std::string& rdid, const std::string& idType = "idfa") {
        return "/adserv/conversion/app/deeplink?sdk_version=120000&rdid=" + rdid + "&id_type=" + idType +
               "&bundleid=com.example.gallery&retry=0";
    };
    auto json = [](const Answer& answer) {
        const Value object = NSJSONSerialization::JSONObjectWithData(NSData(answer.body.begin(), answer.body.end()));
        return object.isDictionary() ? object.dictionary() : Value::Dictionary{};
    };
    Answer answer = send("GET", query(device));
    EXPECT_EQ(answer.status, 204);
    EXPECT_EQ(answer.body, "");

    service_.setDeferredDeepLink("", {"gallery://paintings?utm_source=ads", std::nullopt, std::nullopt});
    service_.setDeferredDeepLink(device, {"gallery://paintings?utm_campaign=spring", "click-7", "braid-3"});
    answer = send("GET", query(device));
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.response->valueForHTTPHeaderField("Content-Type"), "application/json");
    Value::Dictionary link = json(answer);
    EXPECT_EQ(link.get("deeplink"), Value("gallery://paintings?utm_campaign=spring"));
    EXPECT_EQ(link.get("gclid"), Value("click-7"));
    EXPECT_EQ(link.get("gbraid"), Value("braid-3"));
    link = json(send("GET", query("0C1D2E3F-0000-4000-8000-000000000001")));
    EXPECT_EQ(link.get("deeplink"), Value("gallery://paintings?utm_source=ads"));
    EXPECT_FALSE(link.contains("gclid"));

    EXPECT_EQ(send("GET", query("")).status, 400);
    EXPECT_EQ(send("GET", query(device, "idfv")).status, 400);
    EXPECT_EQ(send("GET", "/adserv/conversion/app/deeplink?rdid=" + device).status, 400);
    EXPECT_EQ(send("POST", query(device)).status, 405);
    EXPECT_EQ(send("POST", "/admin/reply?route=deeplink&status=503").status, 200);
    answer = send("GET", query(device));
    EXPECT_EQ(answer.status, 503);
    EXPECT_EQ(answer.header("Retry-After"), "60");

    const auto fetches = service_.deepLinkFetches();
    ASSERT_EQ(fetches.size(), 7u);
    EXPECT_EQ(fetches[0].status, 204);
    EXPECT_EQ(fetches[0].deepLink, "");
    EXPECT_EQ(fetches[1].resettableDeviceID, device);
    EXPECT_EQ(fetches[1].query.get("bundleid"), Value("com.example.gallery"));
    EXPECT_EQ(fetches[1].query.get("retry"), Value("0"));
    EXPECT_EQ(fetches[1].deepLink, "gallery://paintings?utm_campaign=spring");
    EXPECT_EQ(fetches[6].status, 503);
    EXPECT_EQ(fetches[6].deepLink, "");
    EXPECT_EQ(MeasurementService::summaryLine(2, fetches[1]),
              "deferred deep link 2: rdid " + device + ", answered 200 with gallery://paintings?utm_campaign=spring");
    EXPECT_NE(send("GET", "/admin/summary").body.find("7 deferred deep-link requests"), std::string::npos);
}

// A bundle that carries the advertising id has its events and its summary say so; its events
// know the bundle by its app instance and index.
TEST_F(MeasurementServiceTest, TheAdvertisingIDOfABundleIsKeptWithItsEvents) {
    const std::string device = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
    const std::string plain = batchBody({{"1:app", {Value(event("_e", 1, {}))}}});
    auto bundle = APMPBMeasurementBundle::make();
    APMPBMessageSetString(bundle, APMPBMeasurementBundle::kVuvAppId, "1:app");
    APMPBMessageSetString(bundle, APMPBMeasurementBundle::kResettableDeviceId, device);
    APMPBMessageSetString(bundle, APMPBMeasurementBundle::kAppInstanceId, "instance");
    APMPBMessageSetInt32(bundle, APMPBMeasurementBundle::kBundleIndex, 7);
    APMPBMessageSetArray(bundle, APMPBMeasurementBundle::kEvents, Value::Array{Value(event("_e", 1, {}))});
    auto batch = APMPBMeasurementBatch::make();
    APMPBMessageSetArray(batch, APMPBMeasurementBatch::kBundles, Value::Array{Value(bundle)});
    const NSData bytes = *batch->protoBuffer();
    ASSERT_EQ(send("POST", "/a", std::string(bytes.begin(), bytes.end())).status, 204);
    ASSERT_EQ(send("POST", "/a", plain).status, 204);
    const auto uploads = service_.uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].batch.resettableDeviceID, device);
    EXPECT_EQ(uploads[0].batch.events.at(0).resettableDeviceID, device);
    EXPECT_EQ(uploads[0].batch.events.at(0).appInstanceID, "instance");
    EXPECT_EQ(uploads[0].batch.events.at(0).bundleIndex, 7);
    EXPECT_EQ(uploads[1].batch.resettableDeviceID, "");
    EXPECT_EQ(uploads[1].batch.events.at(0).appInstanceID, "");
    EXPECT_NE(MeasurementService::summaryLine(1, uploads[0]).find("app 1:app (rdid " + device + "), 1 bundles"),
              std::string::npos);
    EXPECT_NE(MeasurementService::summaryLine(2, uploads[1]).find("app 1:app, 1 bundles"), std::string::npos);
}

TEST_F(MeasurementServiceTest, ConditionRules) {
    const std::time_t modified = 1700000000;
    const std::string date = MeasurementService::httpDate(modified);
    EXPECT_TRUE(MeasurementService::isNotModified("\"a\", W/\"b\"", "", "\"b\"", modified));
    EXPECT_TRUE(MeasurementService::isNotModified("*", "", "\"b\"", modified));
    EXPECT_FALSE(MeasurementService::isNotModified("\"a\"", "", "\"b\"", modified));
    // A tag that does not match decides even when the date would.
    EXPECT_FALSE(MeasurementService::isNotModified("\"a\"", date, "\"b\"", modified));
    EXPECT_TRUE(MeasurementService::isNotModified("", date, "\"b\"", modified));
    EXPECT_FALSE(MeasurementService::isNotModified("", MeasurementService::httpDate(modified - 1), "\"b\"", modified));
    EXPECT_FALSE(MeasurementService::isNotModified("", "yesterday", "\"b\"", modified));
    EXPECT_FALSE(MeasurementService::isNotModified("", "", "\"b\"", modified));

    EXPECT_EQ(MeasurementService::parseHTTPDate(date), modified);
    EXPECT_EQ(MeasurementService::parseHTTPDate("Tue, 14 Nov 2023 22:13:20 UTC"), std::nullopt);
    EXPECT_EQ(MeasurementService::parseHTTPDate("Tue, 14 Nox 2023 22:13:20 GMT"), std::nullopt);
    EXPECT_EQ(MeasurementService::parseHTTPDate("Tue, 14 Nov 2023 22:13:20 GMT trailing"), std::nullopt);
}

TEST_F(MeasurementServiceTest, OnlyAClientThatTrustsTheTestCertificateGetsThrough) {
    URLTrustAnchors::reset();
    Answer answer = send("POST", "/a", batchBody({}));
    EXPECT_EQ(answer.status, 0);
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(answer.error->code(), NSURLErrorServerCertificateUntrusted);
    EXPECT_TRUE(service_.uploads().empty());
}

// The program: its first line names the port, a configuration is served for each app id with
// the settings and the event-editing program given, each batch received and each deferred deep
// link asked for is a line, and it stops cleanly when terminated. A program file that does not
// decode is refused before it starts.
TEST_F(MeasurementServiceTest, TheProgramServesItsAppIDsPrintsARequestALineAndStopsOnTerm) {
    const std::string certificate = Sandbox::home() + "/service.pem";
    auto entity = APMPBRuntimeEntity::make();
    APMPBMessageSetInt32(entity, APMPBRuntimeEntity::kType, 1);
    APMPBMessageSetString(entity, APMPBRuntimeEntity::kStringValue, "served");
    auto served = APMPBProgram::make();
    APMPBMessageSetArray(served, APMPBProgram::kInstructions, Value::Array{Value(entity)});
    const std::string programFile = Sandbox::home() + "/served.program";
    const auto programBytes = served->protoBuffer();
    ASSERT_TRUE(programBytes);
    std::ofstream(programFile, std::ios::binary)
        .write(reinterpret_cast<const char*>(programBytes->data()), static_cast<std::streamsize>(programBytes->size()));
    const std::string damaged = Sandbox::home() + "/damaged.program";
    std::ofstream(damaged, std::ios::binary) << "\xff\xff\xff";
    InteractiveProcess refused({OSTREL_MEASUREMENT_SERVICE, "--app-id", "1:app", "--program", damaged});
    ASSERT_TRUE(refused.started());
    EXPECT_EQ(refused.finish(), 2);
    EXPECT_NE(refused.output().find("damaged.program is not an encoded event-editing program"), std::string::npos)
        << refused.output();

    InteractiveProcess program({OSTREL_MEASUREMENT_SERVICE, "--certificate", certificate, "--app-id", "1:app",
                                "--setting", "measurement.upload_interval=1", "--deferred-deep-link",
                                "gallery://paintings?utm_source=ads", "--program", programFile});
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForOutput("\n"));
    int port = 0;
    ASSERT_EQ(std::sscanf(program.output().c_str(), "port %d", &port), 1) << program.output();
    // Its own certificate, written for the client to trust.
    ASSERT_TRUE(URLTrustAnchors::addAnchorFileForHost("127.0.0.1", certificate));
    const std::string base = "https://127.0.0.1:" + std::to_string(port);

    Answer answer = sendTo(base + "/config/app/1:app?platform=ios", "GET");
    ASSERT_EQ(answer.status, 200) << (answer.error ? answer.error->description() : "");
    auto config = APMPBMeasurementConfig::initWithBuffer(NSData(answer.body.begin(), answer.body.end()));
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(APMPBMessageGetString(config, APMPBMeasurementConfig::kVuvAppId), "1:app");
    const auto settings = APMPBMessageGetArray<APMPBSetting>(config, APMPBMeasurementConfig::kSettings);
    ASSERT_TRUE(settings && settings->size() == 1u);
    EXPECT_EQ(APMPBMessageGetString((*settings)[0].objectAs<APMPBSetting>(), APMPBSetting::kName),
              "measurement.upload_interval");
    const auto programs = APMPBMessageGetArray<APMPBProgram>(config, APMPBMeasurementConfig::kDynamicEventEditing);
    ASSERT_TRUE(programs && programs->size() == 1u);
    EXPECT_EQ((*programs)[0].objectAs<APMPBProgram>()->protoBuffer(), programBytes);
    EXPECT_EQ(sendTo(base + "/config/app/2:other", "GET").status, 404);

    // A refusal scripted over the control path, then the same batch accepted.
    EXPECT_EQ(sendTo(base + "/admin/reply?route=upload&status=503", "POST").status, 200);
    const std::string body = batchBody({{"1:app", {Value(event("_e", 5, {}))}}});
    EXPECT_EQ(sendTo(base + "/a", "POST", body).status, 503);
    EXPECT_EQ(sendTo(base + "/a", "POST", body).status, 204);
    EXPECT_TRUE(program.waitForOutput("answered 204\n"));
    // Every device that asks gets the deferred deep link.
    answer = sendTo(base + "/adserv/conversion/app/deeplink?sdk_version=1&rdid=A&id_type=idfa&bundleid=b&retry=0", "GET");
    EXPECT_EQ(answer.status, 200);
    EXPECT_NE(answer.body.find("utm_source=ads"), std::string::npos) << answer.body;
    EXPECT_TRUE(program.waitForOutput("with gallery://paintings?utm_source=ads\n"));
    EXPECT_TRUE(program.signal(SIGTERM));
    EXPECT_EQ(program.finish(), 0);
    const std::string size = std::to_string(body.size());
    EXPECT_EQ(program.output(), "port " + std::to_string(port) + "\n" +
                                    "batch 1: app 1:app, 1 bundles, 1 events [_e], " + size +
                                    " bytes, answered 503 (not kept)\n" +
                                    "batch 2: app 1:app, 1 bundles, 1 events [_e], " + size + " bytes, answered 204\n" +
                                    "deferred deep link 1: rdid A, answered 200 with gallery://paintings?utm_source=ads\n");
}

}  // namespace
