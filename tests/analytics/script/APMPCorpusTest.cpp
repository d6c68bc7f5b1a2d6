// The corpus of small programs in tests/analytics/script/corpus: each form of each .sx file is
// one case, assembled into program messages and run as written there.
//   (eval "name" (run ENTITY...) EXPECT...)  runs the entities as a program's instructions;
//     EXPECT: (gives "described value"), (fails pixie|editing|cocoa CODE), (counter N), (logged "line"...)
//   (edit "name" (program ENTITY...) (activity "f" ENTITY...)... [(settings ("key" "text")...)]
//         [(app-version "1.0")] (loads) | (load-fails DOMAIN CODE)
//         (event "name" TIMESTAMP (params ("p" PLAIN)...)) EXPECT... ...)
//     EXPECT after an event: (returns true|false), (fails DOMAIN CODE), (output "name" TIMESTAMP (params ...)),
//     (unchanged), (created ("name" TIMESTAMP (params ...))...), (counter N), (logged "line"...)
// Values are described as n:1, s:text, true, null, undefined, [n:1, hole], {a=n:1}, f:name;
// log lines as "LEVEL FLAGS message | context..." with FLAGS s (silent) and m (monitored) or -.
#include "analytics/proto/APMPBProgram.h"
#include "analytics/script/APMPArrayValue.h"
#include "analytics/script/APMPControlValue.h"
#include "analytics/script/APMPErrors.h"
#include "analytics/script/APMPEventEditing.h"
#include "analytics/script/APMPFunctionValue.h"
#include "analytics/script/APMPLogger.h"
#include "analytics/script/APMPMapValue.h"
#include "analytics/script/APMPNativeModules.h"
#include "analytics/script/APMPStatementValue.h"
#include "analytics/script/APMScriptModules.h"
#include "tests/analytics/script/assembler/ScriptAssembler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using ScriptAssembler::Node;
namespace fs = std::filesystem;

struct Case {
    std::string file;
    std::string name;
    Node form;
    std::string loadError;
};

void PrintTo(const Case& test, std::ostream* out) { *out << test.file << ".sx: " << test.name; }

std::vector<Case> loadCases() {
    std::vector<Case> cases;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(APMP_CORPUS_DIR)) {
        if (entry.path().extension() == ".sx") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        const std::string file = path.stem().string();
        try {
            for (Node& form : ScriptAssembler::parse(text.str())) {
                const std::string name = form.items.size() > 1 ? form.items[1].text : "";
                cases.push_back({file, name, std::move(form), ""});
            }
        } catch (const ScriptAssembler::Error& error) {
            cases.push_back({file, "unreadable", Node{}, error.what()});
        }
    }
    return cases;
}

std::string describe(const APMPRuntimeValue& value, APMPRuntime& runtime, int depth = 0) {
    if (depth > 6) return "...";
    using Kind = APMPRuntimeValue::Kind;
    switch (value.kind()) {
        case Kind::Undefined: return "undefined";
        case Kind::Null: return "null";
        case Kind::Hole: return "hole";
        case Kind::Boolean: return value.booleanFlag() ? "true" : "false";
        case Kind::Number: return "n:" + APMPStringFromNumber(value.number());
        case Kind::String: return "s:" + APMPUTF8(value.text());
        case Kind::Break: return "break";
        case Kind::Continue: return "continue";
        case Kind::Return: return "return(" + describe(value.as<APMPControlValue>()->data(), runtime, depth + 1) + ")";
        case Kind::Function: return "f:" + APMPUTF8(value.as<APMPFunctionValue>()->functionName());
        case Kind::Statement: return "stmt:" + APMPUTF8(value.as<APMPStatementValue>()->functionName());
        case Kind::Array: {
            std::string out = "[";
            for (const auto& element : value.as<APMPArrayValue>()->elements()) {
                if (out.size() > 1) out += ", ";
                out += describe(element, runtime, depth + 1);
            }
            return out + "]";
        }
        case Kind::Map: {
            std::string out = "{";
            for (const auto& entry : value.as<APMPMapValue>()->properties().entries()) {
                if (out.size() > 1) out += ", ";
                out += APMPUTF8(entry.name) + "=" + describe(entry.value, runtime, depth + 1);
            }
            return out + "}";
        }
    }
    return "?";
}

// Plain objects with their kinds: s:, i:, d:, b:, [..], {..}.
std::string describePlain(const Value& value) {
    switch (value.type()) {
        case Value::Type::Null: return "null";
        case Value::Type::Bool: return value.boolValue() ? "b:true" : "b:false";
        case Value::Type::Integer: case Value::Type::Unsigned: return "i:" + std::to_string(value.longLongValue());
        case Value::Type::Double: return "d:" + APMPStringFromNumber(value.doubleValue());
        case Value::Type::String: return "s:" + value.string();
        case Value::Type::Array: {
            std::string out = "[";
            for (const Value& item : value.array()) out += (out.size() > 1 ? ", " : "") + describePlain(item);
            return out + "]";
        }
        case Value::Type::Dictionary: {
            std::string out = "{";
            for (const auto& [key, item] : value.dictionary()) out += (out.size() > 1 ? ", " : "") + key + "=" + describePlain(item);
            return out + "}";
        }
        default: return value.description();
    }
}

std::string describeEvent(const APMPEvent& event) {
    return event.name() + " @" + APMPStringFromNumber(event.timestamp()) + " " + describePlain(Value(event.parameters()));
}

// (params ("p" PLAIN)...) as a dictionary.
Value::Dictionary params(const Node& node) {
    Value::Dictionary out;
    for (std::size_t i = 1; i < node.items.size(); ++i) {
        out.set(node.items[i].items.at(0).text, ScriptAssembler::plain(node.items[i].items.at(1)));
    }
    return out;
}

// ("name" TIMESTAMP (params ...)) or (event "name" TIMESTAMP (params ...)), from `first`.
std::shared_ptr<APMPEvent> event(const Node& node, std::size_t first) {
    const Value time = ScriptAssembler::plain(node.items.at(first + 1));
    const Value::Dictionary parameters = node.items.size() > first + 2 ? params(node.items[first + 2]) : Value::Dictionary{};
    return APMPEvent::initWithName(node.items.at(first).text, time.doubleValue(), parameters);
}

const char* domain(const std::string& name) {
    if (name == "pixie") return kAPMPErrorDomain;
    if (name == "editing") return kAPMPEditingErrorDomain;
    return NSCocoaErrorDomain;
}

class Settings final : public APMScriptContext {
public:
    std::map<std::string, std::string> values;
    std::optional<std::string> version;
    std::optional<std::string> remoteConfigValueForKey(const std::string& key) override {
        const auto found = values.find(key);
        return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
    std::optional<std::string> appVersion() override { return version; }
};

class Recorder final : public APMPLoggerDelegate {
public:
    std::vector<std::string> lines;
    void logWithLevel(std::int64_t level, const std::string& message, const std::vector<std::string>& context,
                      bool silent, bool monitored) override {
        std::string line = std::to_string(level) + " " + (silent ? "s" : "-") + (monitored ? "m" : "-") + " " + message;
        for (const auto& item : context) line += " | " + item;
        lines.push_back(line);
    }
};

class CaseRun {
public:
    explicit CaseRun(const Case& test) : test_(test) {
        editing_ = APMPEventEditing::make();
        APMRegisterScriptModules(*editing_, settings_, recorder_);
        // A module whose object has no value form, and a creator that makes nothing.
        editing_->setModuleCreator("test.date", [](APMPRuntime& runtime) {
            return APMPRuntimeValue(runtime.heap().make<APMPObjectProvider>(u"test.date", [] { return Value(NSDate()); }));
        });
        editing_->setModuleCreator("test.nothing", [](APMPRuntime&) { return std::optional<APMPRuntimeValue>(); });
    }

    void eval() {
        std::vector<std::shared_ptr<APMPBRuntimeEntity>> entities;
        for (const Node& form : test_.form.items) {
            if (form.head() != "run") continue;
            for (std::size_t i = 1; i < form.items.size(); ++i) entities.push_back(ScriptAssembler::entity(form.items[i]));
        }
        NSErrorPtr error;
        const APMPRuntimeValue value = editing_->runtime().executeStatements(entities, error);
        step_ = {value, error, describe(value, editing_->runtime())};
        for (const Node& form : test_.form.items) expect(form);
    }

    void edit() {
        std::vector<Node> instructions;
        std::vector<std::pair<std::string, std::vector<Node>>> activities;
        for (const Node& form : test_.form.items) {
            const std::string head = form.head();
            if (head == "program") instructions.insert(instructions.end(), form.items.begin() + 1, form.items.end());
            if (head == "activity") activities.emplace_back(form.items.at(1).text, std::vector<Node>(form.items.begin() + 2, form.items.end()));
            if (head == "settings") {
                for (std::size_t i = 1; i < form.items.size(); ++i) settings_->values[form.items[i].items.at(0).text] = form.items[i].items.at(1).text;
            }
            if (head == "app-version") settings_->version = form.items.at(1).text;
        }
        const auto program = ScriptAssembler::program(instructions, activities);
        for (const Node& form : test_.form.items) {
            const std::string head = form.head();
            if (head == "loads" || head == "load-fails") {
                NSErrorPtr error;
                const bool loaded = editing_->loadProgram(program, &error);
                step_ = {APMPRuntimeValue(), error, ""};
                if (head == "loads") EXPECT_TRUE(loaded) << where(form) << (error ? error->description() : "");
                else EXPECT_FALSE(loaded) << where(form);
                if (head == "load-fails") expectError(form);
            } else if (head == "event") {
                NSErrorPtr error;
                const bool handled = editing_->handleEvent(event(form, 1), &error);
                step_ = {APMPRuntimeValue::boolean(handled), error, ""};
                input_ = editing_->eventContext().inputEvent();
            } else {
                expect(form);
            }
        }
    }

private:
    struct Step {
        APMPRuntimeValue value;
        NSErrorPtr error;
        std::string described;
    };

    std::string where(const Node& form) const {
        return test_.file + ".sx line " + std::to_string(form.line) + " (" + test_.name + ")";
    }

    void expectError(const Node& form) {
        ASSERT_TRUE(step_.error) << where(form) << ": no error";
        EXPECT_EQ(step_.error->domain(), domain(form.items.at(1).text)) << where(form);
        EXPECT_EQ(step_.error->code(), std::stol(form.items.at(2).text)) << where(form);
    }

    void expect(const Node& form) {
        const std::string head = form.head();
        const auto& context = editing_->eventContext();
        if (head == "gives") {
            EXPECT_FALSE(step_.error) << where(form) << ": " << step_.error->description();
            EXPECT_EQ(step_.described, form.items.at(1).text) << where(form);
        } else if (head == "fails") {
            expectError(form);
        } else if (head == "counter") {
            EXPECT_EQ(editing_->runtime().getInstructionCount(), std::stoul(form.items.at(1).text)) << where(form);
        } else if (head == "logged") {
            std::vector<std::string> expected;
            for (std::size_t i = 1; i < form.items.size(); ++i) expected.push_back(form.items[i].text);
            EXPECT_EQ(recorder_->lines, expected) << where(form);
            recorder_->lines.clear();
        } else if (head == "returns") {
            EXPECT_FALSE(step_.error) << where(form) << ": " << step_.error->description();
            EXPECT_EQ(step_.value.booleanFlag(), form.items.at(1).isAtom("true")) << where(form);
            EXPECT_EQ(step_.value.booleanFlag(), editing_->hasEdits() || editing_->hasCreatedEvents()) << where(form);
        } else if (head == "output") {
            EXPECT_EQ(describeEvent(*context.outputEvent()), describeEvent(*event(form, 1))) << where(form);
        } else if (head == "unchanged") {
            EXPECT_EQ(describeEvent(*context.outputEvent()), describeEvent(*input_)) << where(form);
            EXPECT_FALSE(editing_->hasEdits()) << where(form);
        } else if (head == "created") {
            std::vector<std::string> made, expected;
            for (const auto& created : context.eventsToLog()) made.push_back(describeEvent(*created));
            for (std::size_t i = 1; i < form.items.size(); ++i) expected.push_back(describeEvent(*event(form.items[i], 0)));
            EXPECT_EQ(made, expected) << where(form);
        } else if (head != "run" && head != "program" && head != "activity" && head != "settings" &&
                   head != "app-version" && head != "eval" && head != "edit" && !head.empty()) {
            ADD_FAILURE() << where(form) << ": unknown form " << head;
        }
    }

    const Case& test_;
    std::shared_ptr<Settings> settings_ = std::make_shared<Settings>();
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
    std::unique_ptr<APMPEventEditing> editing_;
    Step step_;
    std::shared_ptr<APMPEvent> input_;
};

class APMPCorpusTest : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(APMPCorpusTest, RunsAsWritten) {
    const Case& test = GetParam();
    ASSERT_TRUE(test.loadError.empty()) << test.file << ".sx: " << test.loadError;
    try {
        CaseRun run(test);
        const std::string kind = test.form.head();
        if (kind == "eval") run.eval();
        else if (kind == "edit") run.edit();
        else FAIL() << test.file << ".sx line " << test.form.line << ": a case is (eval ...) or (edit ...)";
    } catch (const ScriptAssembler::Error& error) {
        FAIL() << test.file << ".sx (" << test.name << "): " << error.what();
    } catch (const std::exception& error) {
        FAIL() << test.file << ".sx (" << test.name << "): malformed case: " << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, APMPCorpusTest, ::testing::ValuesIn(loadCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (char c : info.param.file + "_" + std::to_string(info.index) + "_" + info.param.name) {
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

TEST(APMPCorpus, HoldsAtLeastOneHundredAndFiftyPrograms) { EXPECT_GE(loadCases().size(), 150u); }
