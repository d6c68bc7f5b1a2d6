// Event-editing programs in the engine: the configuration loads the first program it carries
// (or drops the editor when it fails), the write pipeline stores the edited event and the
// events the program creates, and a failing or hostile program leaves the event as it came.
// End to end: a program served by the measurement service changes the events it receives.
#include "DeliveryTestSupport.h"
#include "EngineTestSupport.h"
#include "UploadTestSupport.h"

#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBProgram.h"
#include "analytics/proto/APMPBRuntimeEntity.h"
#include "analytics/script/APMPEventEditing.h"
#include "tests/analytics/audience/AudienceTestSupport.h"
#include "tests/analytics/script/assembler/ScriptAssembler.h"

#include <new>

namespace {

std::shared_ptr<APMPBProgram> program(const std::string& instructions, const std::string& activity = "rule") {
    return ScriptAssembler::program(ScriptAssembler::parse(instructions),
                                    {{activity, ScriptAssembler::parse("(\"8\")")}});
}

// "look" becomes "seen" with "twice" = 2 × "n"; "make" also creates "made" (origin from "_o");
// "boom" fails the callback; "spin" runs until the budget ends it; "blank" loses its name.
const char* const kEditingProgram = R"(
    ("52" "register" ("require" "internal.registerCallback"))
    ("52" "log" ("require" "internal.eventLogger"))
    ("50" "edit" ("7" "e")
       ("41" "name") ("3" "name" ("2" ("15" "e") "getEventName" ("7")))
       ("22" ("20" ("15" "name") "look")
          ("46" ("2" ("15" "e") "setEventName" ("7" "seen"))
                ("2" ("15" "e") "setParamValue" ("7" "twice" ("26" ("2" ("15" "e") "getParamValue" ("7" "n")) 2)))))
       ("22" ("20" ("15" "name") "boom") ("46" ("2" ("45") "nothing" ("7"))))
       ("22" ("20" ("15" "name") "blank") ("46" ("2" ("15" "e") "setEventName" ("7" ""))))
       ("22" ("20" ("15" "name") "spin") ("46" ("42" true ("44") false ("46"))))
       ("36" 0))
    ("50" "make" ("7" "e")
       ("22" ("20" ("2" ("15" "e") "getEventName" ("7")) "make")
          ("46" ("log" "made" ("2" ("15" "e") "getTimestamp" ("7"))
                       ("8" "from" ("2" ("15" "e") "getParamValue" ("7" "n")) "_o" "auto")))))
    ("50" "rule" ("7" "r")
       ("register" 0 ("15" "edit") ("8" "type" "edit"))
       ("register" 0 ("15" "make") ("8" "type" "create"))))";

class APMEventEditingPipelineTest : public EngineTest {
protected:
    // Applies a configuration as a fetch would; whether the engine took it.
    bool configure(const std::shared_ptr<APMPBProgram>& editing,
                   const std::vector<std::pair<std::string, std::string>>& settings = {}) {
        // A configuration without settings is not parsed at all.
        auto all = settings;
        all.emplace_back("measurement.test.present", "1");
        auto config = ScriptAssembler::configuration(kAppID, editing, all);
        bool applied = false;
        engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID(
            "test", [&] { applied = engine()->remoteConfigInstance()->updateMeasurementConfig(config); });
        return applied;
    }
    std::shared_ptr<APMPEventEditing> editor() { return engine()->remoteConfigInstance()->eventEditing(); }
    void logNumbered(const std::string& name, int n) {
        APMAnalytics::logEventWithName(name, {{"n", Value(n)}});
        settle();
    }
};

}  // namespace

TEST_F(APMEventEditingPipelineTest, EditedAndCreatedEventsAreStoredInPlaceOfTheLoggedOne) {
    start();
    LogCapture capture;
    ASSERT_TRUE(configure(program(kEditingProgram)));
    ASSERT_TRUE(editor());
    EXPECT_EQ(capture.matching("[I-ACS029027]").size(), 1u);

    logNumbered("look", 21);
    logNumbered("make", 4);
    logNumbered("other", 1);
    EXPECT_TRUE(rawEventValues("look", "n").empty());
    EXPECT_EQ(rawEventNumbers("seen"), (std::vector<long long>{21}));
    EXPECT_EQ(rawEventValues("seen", "twice"), (std::vector<Value>{Value(42.0)}));
    EXPECT_EQ(rawEventNumbers("make"), (std::vector<long long>{4}));
    EXPECT_EQ(rawEventNumbers("other"), (std::vector<long long>{1}));
    // The created event follows the one it came from, under the origin it names.
    EXPECT_EQ(rawEventValues("made", "from"), (std::vector<Value>{Value(4.0)}));
    EXPECT_EQ(rawEventValues("made", "_o"), (std::vector<Value>{Value("auto")}));
    const auto names = rawEventNames();
    const auto make = std::find(names.begin(), names.end(), "make");
    ASSERT_NE(make, names.end());
    ASSERT_NE(make + 1, names.end());
    EXPECT_EQ(*(make + 1), "made");
}

TEST_F(APMEventEditingPipelineTest, AFailingOrEndlessProgramStoresTheEventUnedited) {
    start();
    ASSERT_TRUE(configure(program(kEditingProgram)));
    LogCapture capture;
    logNumbered("boom", 1);
    logNumbered("spin", 2);
    EXPECT_EQ(rawEventNumbers("boom"), (std::vector<long long>{1}));
    EXPECT_EQ(rawEventNumbers("spin"), (std::vector<long long>{2}));
    EXPECT_EQ(capture.matching("[I-ACS023223]").size(), 2u);
    // An edit that leaves no valid event stores the event as it came, without a failure.
    logNumbered("blank", 4);
    EXPECT_EQ(rawEventNumbers("blank"), (std::vector<long long>{4}));
    EXPECT_EQ(capture.matching("[I-ACS023223]").size(), 2u);
    // Each event has its own budget: the next one is edited as before.
    logNumbered("look", 3);
    EXPECT_EQ(rawEventNumbers("seen"), (std::vector<long long>{3}));
}

// An exception inside an edit (here from a module's creator) fails it as any error does: the
// event is stored as it came, and the worker queue goes on with the next.
TEST_F(APMEventEditingPipelineTest, AnEditThatThrowsStoresTheEventUnedited) {
    start();
    ASSERT_TRUE(configure(program(R"(
        ("52" "register" ("require" "internal.registerCallback"))
        ("50" "edit" ("7" "e") ("2" ("15" "e") "setEventName" ("7" "seen")) ("require" "test.throwing") ("36" 0))
        ("50" "rule" ("7" "r") ("register" 0 ("15" "edit") ("8" "type" "edit"))))")));
    const auto editing = editor();
    ASSERT_TRUE(editing);
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID("test", [&] {
        editing->setModuleCreator("test.throwing",
                                  [](APMPRuntime&) -> std::optional<APMPRuntimeValue> { throw std::bad_alloc(); });
    });
    LogCapture capture;
    logNumbered("thrown", 7);
    logNumbered("again", 8);
    EXPECT_EQ(rawEventNumbers("thrown"), (std::vector<long long>{7}));
    EXPECT_EQ(rawEventNumbers("again"), (std::vector<long long>{8}));
    EXPECT_TRUE(rawEventValues("seen", "n").empty());
    EXPECT_EQ(capture.matching("[I-ACS023223]").size(), 2u);
}

TEST_F(APMEventEditingPipelineTest, TheSwitchOffLetsEventsPassUnedited) {
    start();
    ASSERT_TRUE(configure(program(kEditingProgram), {{"measurement.ees_feature_enabled", "0"}}));
    ASSERT_TRUE(editor());
    logNumbered("look", 5);
    EXPECT_EQ(rawEventNumbers("look"), (std::vector<long long>{5}));
    EXPECT_TRUE(rawEventValues("seen", "n").empty());
}

TEST_F(APMEventEditingPipelineTest, AProgramThatFailsToLoadLeavesNoEditor) {
    start();
    ASSERT_TRUE(configure(program(kEditingProgram)));
    ASSERT_TRUE(editor());
    {
        LogCapture capture;
        // The activity names a function that registers a callback without a type.
        ASSERT_TRUE(configure(program(R"(
            ("52" "register" ("require" "internal.registerCallback"))
            ("50" "rule" ("7" "r") ("register" 0 ("51" "" ("7")) ("8"))))"),
                              {{"measurement.upload.max_events_per_day", "70"}}));
        EXPECT_FALSE(editor());
        EXPECT_EQ(capture.matching("[I-ACS029026]").size(), 1u);
        EXPECT_TRUE(capture.matching("[I-ACS029027]").empty());
        // The settings parsed before the program stay.
        EXPECT_EQ(engine()->remoteConfigInstance()->maxEventsPerDay(), 70);
    }
    logNumbered("look", 6);
    EXPECT_EQ(rawEventNumbers("look"), (std::vector<long long>{6}));

    // A configuration without programs keeps the editor as it is (here: none); the next
    // program that loads brings one back.
    ASSERT_TRUE(configure(nullptr));
    EXPECT_FALSE(editor());
    ASSERT_TRUE(configure(program(kEditingProgram)));
    auto loaded = editor();
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(configure(nullptr));
    EXPECT_EQ(editor(), loaded);
}

TEST_F(APMEventEditingPipelineTest, ProgramsReadTheSettingsOfTheirConfigurationAndTheAppVersion) {
    start();
    // The program's instructions read the settings while it loads: those of its own
    // configuration, already in force. Each event is renamed after a setting and the version.
    ASSERT_TRUE(configure(program(R"(
        ("52" "settings" ("require" "internal.remoteConfig"))
        ("52" "prefix" ("2" ("15" "settings") "getValue" ("7" "measurement.test.prefix" "none")))
        ("52" "register" ("require" "internal.registerCallback"))
        ("52" "meta" ("require" "internal.appMetadata"))
        ("50" "edit" ("7" "e")
           ("2" ("15" "e") "setParamValue" ("7" "version" ("16" ("meta") "app_version")))
           ("2" ("15" "e") "setEventName" ("7" ("0" ("15" "prefix") ("2" ("15" "e") "getEventName" ("7")))))
           ("36" 0))
        ("50" "rule" ("7" "r") ("register" 0 ("15" "edit") ("8" "type" "edit"))))"),
                          {{"measurement.test.prefix", "pre_"}}));
    logNumbered("look", 7);
    EXPECT_EQ(rawEventNumbers("pre_look"), (std::vector<long long>{7}));
    // A numeric-looking text leaves a program as a number.
    EXPECT_EQ(rawEventValues("pre_look", "version"), (std::vector<Value>{Value(2.1)}));
}

namespace {

class APMEventEditingDeliveryTest : public DeliveryTest {};

}  // namespace

TEST_F(APMEventEditingDeliveryTest, AProgramFromTheServiceChangesTheEventsItReceives) {
    service.setConfiguration(kAppID, ScriptAssembler::configuration(kAppID, program(kEditingProgram),
                                                                    {{"measurement.test.present", "1"}}));
    start();
    // The first upload fetches the configuration, which brings the program.
    uploadWhileDue();
    ASSERT_FALSE(service.configFetches().empty());
    service.clearReceived();

    APMAnalytics::logEventWithName("look", {{"n", Value(8)}});
    APMAnalytics::logEventWithName("make", {{"n", Value(9)}});
    APMAnalytics::logEventWithName("boom", {{"n", Value(10)}});
    settle();
    uploadWhileDue();
    std::map<std::string, Value::Dictionary> received;
    for (const auto& event : service.events()) received[event.name] = event.parameters;
    EXPECT_FALSE(received.contains("look"));
    ASSERT_TRUE(received.contains("seen"));
    EXPECT_EQ(received["seen"].get("twice"), Value(16.0));
    ASSERT_TRUE(received.contains("made"));
    EXPECT_EQ(received["made"].get("from"), Value(9.0));
    ASSERT_TRUE(received.contains("boom"));
    EXPECT_EQ(received["boom"].get("n"), Value(10));
}

// A served program that creates events at times that are not after 1970: none of them is
// created (one line each), and the events before and after them are delivered.
TEST_F(APMEventEditingDeliveryTest, EventsAProgramCreatesAtNoTimeAfter1970AreNotCreatedAndUploadsGoOn) {
    auto created = program(R"(
        ("52" "register" ("require" "internal.registerCallback"))
        ("52" "log" ("require" "internal.eventLogger"))
        ("50" "make" ("7" "e")
           ("22" ("20" ("2" ("15" "e") "getEventName" ("7")) "make")
              ("46" ("log" "made" ("2" ("15" "e") "getTimestamp" ("7")) ("8" "n" 1))
                    ("log" "made" NaN ("8" "n" 2))
                    ("log" "made" -0.0 ("8" "n" 3))
                    ("log" "made" -5 ("8" "n" 4))
                    ("log" "made" 0 ("8" "n" 5)))))
        ("50" "rule" ("7" "r") ("register" 0 ("15" "make") ("8" "type" "create"))))");
    service.setConfiguration(kAppID,
                             ScriptAssembler::configuration(kAppID, created, {{"measurement.test.present", "1"}}));
    start();
    uploadWhileDue();
    ASSERT_FALSE(service.configFetches().empty());
    service.clearReceived();

    LogCapture capture;
    APMAnalytics::logEventWithName("make", {{"n", Value(9)}});
    APMAnalytics::logEventWithName("after", {{"n", Value(10)}});
    settle();
    uploadWhileDue();
    EXPECT_EQ(deliveredNumbers("make"), (std::map<long long, int>{{9, 1}}));
    EXPECT_EQ(deliveredNumbers("made"), (std::map<long long, int>{{1, 1}}));
    EXPECT_EQ(deliveredNumbers("after"), (std::map<long long, int>{{10, 1}}));
    const auto refused = capture.matching("[I-ACS016008] Event not created. Timestamp out of range.");
    EXPECT_EQ(refused.size(), 4u);
    for (const auto& line : refused) EXPECT_NE(line.find("made"), std::string::npos) << line;
    EXPECT_TRUE(capture.matching("[I-ACS023115]").empty());
}

TEST_F(APMEventEditingDeliveryTest, AProgramTooDeepToDecodeIsRefusedAloneAndTheRestOfItsConfigurationLoads) {
    // A statement nested far below the decoder's bound, as the first program; a sound one after it.
    auto entity = APMPBRuntimeEntity::make();
    APMPBMessageSetInt32(entity, APMPBRuntimeEntity::kType, 2);
    for (int level = 0; level < 200; ++level) {
        auto outer = APMPBRuntimeEntity::make();
        APMPBMessageSetInt32(outer, APMPBRuntimeEntity::kType, 4);
        APMPBMessageSetString(outer, APMPBRuntimeEntity::kFunctionName, "7");
        APMPBMessageSetArray(outer, APMPBRuntimeEntity::kValue, Value::Array{Value(entity)});
        entity = outer;
    }
    auto deep = APMPBProgram::make();
    APMPBMessageSetArray(deep, APMPBProgram::kInstructions, Value::Array{Value(entity)});
    auto config = ScriptAssembler::configuration(kAppID, deep, {{"measurement.upload.max_events_per_day", "70"}});
    APMPBMessageSetArray(config, APMPBMeasurementConfig::kDynamicEventEditing,
                         Value::Array{Value(deep), Value(program(kEditingProgram))});
    APMPBMessageSetArray(config, APMPBMeasurementConfig::kAudiences,
                         Value::Array{Value(audience_test::audience(7, {audience_test::eventFilter(1, "look")}))});
    service.setConfiguration(kAppID, config);

    LogCapture capture;
    start();
    uploadWhileDue();
    ASSERT_FALSE(service.configFetches().empty());
    // Settings and audiences are in force; only the program is refused, with its code.
    EXPECT_EQ(engine()->remoteConfigInstance()->maxEventsPerDay(), 70);
    EXPECT_EQ(rows("SELECT DISTINCT audience_id FROM event_filters"), (std::vector<std::vector<std::string>>{{"7"}}));
    EXPECT_EQ(engine()->remoteConfigInstance()->eventEditing(), nullptr);
    const auto refused = capture.matching("[I-ACS029026]");
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_NE(refused[0].find("does not decode"), std::string::npos) << refused[0];
    EXPECT_TRUE(capture.matching("[I-ACS023135]").empty());
    // The stored configuration keeps both programs as they came.
    std::shared_ptr<APMPBMeasurementConfig> stored;
    engine()->scheduler()->dispatchSyncOnWorkerQueueBlockID(
        "test", [&] { stored = engine()->remoteConfigInstance()->measurementConfigFromDatabase(); });
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(APMPBMessageGetEncodedArray(stored, APMPBMeasurementConfig::kDynamicEventEditing)->size(), 2u);
}
