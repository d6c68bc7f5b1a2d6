#include "tests/analytics/script/assembler/ScriptAssembler.h"

#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBOgtActivities.h"
#include "analytics/proto/APMPBOgtActivity.h"
#include "analytics/proto/APMPBProgram.h"
#include "analytics/proto/APMPBRuntimeEntity.h"
#include "demo/measurement/MeasurementService.h"
#include "platform/foundation/NSString.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace ScriptAssembler {
namespace {

[[noreturn]] void fail(int line, const std::string& message) {
    throw Error("line " + std::to_string(line) + ": " + message);
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::vector<Node> all() {
        std::vector<Node> nodes;
        for (skip(); at_ < text_.size(); skip()) nodes.push_back(node());
        return nodes;
    }

private:
    void skip() {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == ';') {
                while (at_ < text_.size() && text_[at_] != '\n') ++at_;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                if (c == '\n') ++line_;
                ++at_;
            } else {
                return;
            }
        }
    }

    Node node() {
        Node out;
        out.line = line_;
        const char c = text_[at_];
        if (c == '(') {
            out.type = Node::Type::List;
            ++at_;
            for (skip(); at_ < text_.size() && text_[at_] != ')'; skip()) out.items.push_back(node());
            if (at_ >= text_.size()) fail(out.line, "unclosed list");
            ++at_;
        } else if (c == ')') {
            fail(line_, "unexpected )");
        } else if (c == '"') {
            out.type = Node::Type::String;
            out.text = string();
        } else {
            out.type = Node::Type::Atom;
            while (at_ < text_.size() && std::string_view(" \t\r\n();\"").find(text_[at_]) == std::string_view::npos) out.text += text_[at_++];
        }
        return out;
    }

    // "..." with \" \\ \n \t and \u{hex}.
    std::string string() {
        std::string out;
        ++at_;
        while (at_ < text_.size() && text_[at_] != '"') {
            char c = text_[at_++];
            if (c == '\n') ++line_;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) break;
            c = text_[at_++];
            switch (c) {
                case 'n': out += '\n'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    if (at_ >= text_.size() || text_[at_] != '{') fail(line_, "\\u without {");
                    const std::size_t close = text_.find('}', at_);
                    if (close == std::string_view::npos) fail(line_, "\\u{ without }");
                    const unsigned long code = std::strtoul(std::string(text_.substr(at_ + 1, close - at_ - 1)).c_str(), nullptr, 16);
                    NSString::appendUTF8(out, static_cast<char32_t>(code));
                    at_ = close + 1;
                    break;
                }
                default: out += c; break;
            }
        }
        if (at_ >= text_.size()) fail(line_, "unclosed string");
        ++at_;
        return out;
    }

    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;
};

bool number(const std::string& text, double& out) {
    if (text == "NaN") return out = std::numeric_limits<double>::quiet_NaN(), true;
    if (text == "Infinity") return out = std::numeric_limits<double>::infinity(), true;
    if (text == "-Infinity") return out = -std::numeric_limits<double>::infinity(), true;
    if (text.empty()) return false;
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

std::shared_ptr<APMPBRuntimeEntity> raw(const Node& node) {
    auto message = APMPBRuntimeEntity::make();
    for (std::size_t i = 1; i < node.items.size(); ++i) {
        const Node& field = node.items[i];
        const std::string key = field.head();
        if (field.items.size() < 2 && key != "args") fail(field.line, "raw field without a value");
        const Node* value = field.items.size() > 1 ? &field.items[1] : nullptr;
        double x = 0;
        if (key == "type" && number(value->text, x)) {
            APMPBMessageSetInt32(message, APMPBRuntimeEntity::kType, static_cast<std::int32_t>(x));
        } else if (key == "name") {
            APMPBMessageSetString(message, APMPBRuntimeEntity::kFunctionName, value->text);
        } else if (key == "string") {
            APMPBMessageSetString(message, APMPBRuntimeEntity::kStringValue, value->text);
        } else if (key == "bool") {
            APMPBMessageSetBool(message, APMPBRuntimeEntity::kBooleanValue, value->isAtom("true"));
        } else if (key == "number" && number(value->text, x)) {
            APMPBMessageSetDouble(message, APMPBRuntimeEntity::kNumberValue, x);
        } else if (key == "args") {
            Value::Array arguments;
            for (std::size_t j = 1; j < field.items.size(); ++j) arguments.emplace_back(entity(field.items[j]));
            APMPBMessageSetArray(message, APMPBRuntimeEntity::kValue, arguments);
        } else {
            fail(field.line, "unknown raw field " + key);
        }
    }
    return message;
}

}  // namespace

std::string Node::head() const {
    return isList() && !items.empty() && items[0].type == Type::Atom ? items[0].text : std::string();
}

std::vector<Node> parse(std::string_view text) { return Parser(text).all(); }

std::shared_ptr<APMPBRuntimeEntity> entity(const Node& node) {
    auto message = APMPBRuntimeEntity::make();
    double x = 0;
    switch (node.type) {
        case Node::Type::String:
            APMPBMessageSetInt32(message, APMPBRuntimeEntity::kType, 1);
            APMPBMessageSetString(message, APMPBRuntimeEntity::kStringValue, node.text);
            return message;
        case Node::Type::Atom:
            if (node.text == "true" || node.text == "false") {
                APMPBMessageSetInt32(message, APMPBRuntimeEntity::kType, 3);
                APMPBMessageSetBool(message, APMPBRuntimeEntity::kBooleanValue, node.text == "true");
                return message;
            }
            if (!number(node.text, x)) fail(node.line, "not an entity: " + node.text);
            APMPBMessageSetInt32(message, APMPBRuntimeEntity::kType, 2);
            APMPBMessageSetDouble(message, APMPBRuntimeEntity::kNumberValue, x);
            return message;
        case Node::Type::List:
            break;
    }
    if (node.head() == "#raw") return raw(node);
    if (node.items.empty() || node.items[0].type != Node::Type::String) fail(node.line, "a statement needs a name");
    APMPBMessageSetInt32(message, APMPBRuntimeEntity::kType, 4);
    APMPBMessageSetString(message, APMPBRuntimeEntity::kFunctionName, node.items[0].text);
    Value::Array arguments;
    for (std::size_t i = 1; i < node.items.size(); ++i) arguments.emplace_back(entity(node.items[i]));
    APMPBMessageSetArray(message, APMPBRuntimeEntity::kValue, arguments);
    return message;
}

std::shared_ptr<APMPBProgram> program(const std::vector<Node>& instructions,
                                      const std::vector<std::pair<std::string, std::vector<Node>>>& activities) {
    auto message = APMPBProgram::make();
    Value::Array entities;
    for (const Node& node : instructions) entities.emplace_back(entity(node));
    APMPBMessageSetArray(message, APMPBProgram::kInstructions, entities);
    if (!activities.empty()) {
        Value::Array list;
        for (const auto& [name, data] : activities) {
            auto activity = APMPBOgtActivity::make();
            APMPBMessageSetString(activity, APMPBOgtActivity::kName, name);
            Value::Array items;
            for (const Node& node : data) items.emplace_back(entity(node));
            APMPBMessageSetArray(activity, APMPBOgtActivity::kData, items);
            list.emplace_back(activity);
        }
        auto holder = APMPBOgtActivities::make();
        APMPBMessageSetArray(holder, APMPBOgtActivities::kActivities, list);
        APMPBMessageSetMessage(message, APMPBProgram::kActivities, holder);
    }
    return message;
}

std::shared_ptr<APMPBMeasurementConfig> configuration(const std::string& appID,
                                                      const std::shared_ptr<APMPBProgram>& program,
                                                      const std::vector<std::pair<std::string, std::string>>& settings) {
    auto config = MeasurementService::makeConfiguration(appID, settings, 1);
    if (program) APMPBMessageSetArray(config, APMPBMeasurementConfig::kDynamicEventEditing, Value::Array{Value(program)});
    return config;
}

Value plain(const Node& node) {
    if (node.type == Node::Type::String) return Value(node.text);
    if (node.type == Node::Type::Atom) {
        if (node.text == "true" || node.text == "false") return Value(node.text == "true");
        if (node.text == "null") return Value();
        double x = 0;
        if (!number(node.text, x)) fail(node.line, "not a plain value: " + node.text);
        if (node.text.find_first_of(".eEIN") != std::string::npos) return Value(x);
        return Value(static_cast<long long>(x));
    }
    const std::string head = node.head();
    if (head == "array") {
        Value::Array items;
        for (std::size_t i = 1; i < node.items.size(); ++i) items.push_back(plain(node.items[i]));
        return Value(std::move(items));
    }
    if (head == "dict") {
        Value::Dictionary entries;
        for (std::size_t i = 1; i < node.items.size(); ++i) {
            const Node& entry = node.items[i];
            if (!entry.isList() || entry.items.size() != 2) fail(entry.line, "a dict entry is (\"name\" value)");
            entries.set(entry.items[0].text, plain(entry.items[1]));
        }
        return Value(std::move(entries));
    }
    fail(node.line, "not a plain value");
}

}  // namespace ScriptAssembler
