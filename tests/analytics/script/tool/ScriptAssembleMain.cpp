// script-assemble OUT_DIR FILE.sx...: writes each case of the corpus files as a seed of the
// event-editing fuzz target: two bytes (little-endian) giving the length of an encoded
// measurement configuration that carries the case's program, that configuration, then the
// case's first event as an encoded event message (origin "app"; a fixed "screen_view" when the
// case has none). With --programs, each case's program alone, encoded, as OUT_DIR/<name>-<n>.program:
// what ostrel-measurement-service --program serves.
#include "analytics/proto/APMPBEvent.h"
#include "analytics/proto/APMPBEventParam.h"
#include "analytics/proto/APMPBFieldAccess.h"
#include "analytics/proto/APMPBMeasurementConfig.h"
#include "analytics/proto/APMPBProgram.h"
#include "demo/measurement/MeasurementService.h"
#include "tests/analytics/script/assembler/ScriptAssembler.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using ScriptAssembler::Node;

constexpr auto parameter = &MeasurementService::makeEventParameter;

std::shared_ptr<APMPBEvent> event(const Node* form) {
    auto message = APMPBEvent::make();
    Value::Array parameters{Value(parameter("_o", Value("app")))};
    std::string name = "screen_view";
    double seconds = 1700000000;
    if (form) {
        name = form->items.at(1).text;
        seconds = ScriptAssembler::plain(form->items.at(2)).doubleValue();
        if (form->items.size() > 3) {
            for (std::size_t i = 1; i < form->items[3].items.size(); ++i) {
                const Node& entry = form->items[3].items[i];
                const Value value = ScriptAssembler::plain(entry.items.at(1));
                if (value.isString() || value.isNumber()) parameters.emplace_back(parameter(entry.items.at(0).text, value));
            }
        }
    }
    APMPBMessageSetString(message, APMPBEvent::kName, name);
    APMPBMessageSetInt64(message, APMPBEvent::kTimestampMillis, static_cast<std::int64_t>(seconds * 1000));
    APMPBMessageSetArray(message, APMPBEvent::kParams, parameters);
    return message;
}

}  // namespace

int main(int argc, char** argv) {
    const bool programsOnly = argc > 1 && std::string(argv[1]) == "--programs";
    const int first = programsOnly ? 2 : 1;
    if (argc < first + 2) {
        std::fprintf(stderr, "usage: script-assemble [--programs] OUT_DIR FILE.sx...\n");
        return 2;
    }
    const std::filesystem::path out = argv[first];
    std::filesystem::create_directories(out);
    for (int i = first + 1; i < argc; ++i) {
        std::ifstream in(argv[i]);
        std::stringstream text;
        text << in.rdbuf();
        const std::string stem = std::filesystem::path(argv[i]).stem().string();
        try {
            int index = 0;
            for (const Node& form : ScriptAssembler::parse(text.str())) {
                std::vector<Node> instructions;
                std::vector<std::pair<std::string, std::vector<Node>>> activities;
                const Node* first = nullptr;
                for (const Node& part : form.items) {
                    const std::string head = part.head();
                    if (head == "program" || head == "run") {
                        instructions.insert(instructions.end(), part.items.begin() + 1, part.items.end());
                    } else if (head == "activity") {
                        activities.emplace_back(part.items.at(1).text,
                                                std::vector<Node>(part.items.begin() + 2, part.items.end()));
                    } else if (head == "event" && !first) {
                        first = &part;
                    }
                }
                const auto program = ScriptAssembler::program(instructions, activities);
                if (programsOnly) {
                    const auto programBytes = program->protoBuffer();
                    if (!programBytes) continue;
                    std::ofstream file(out / (stem + "-" + std::to_string(index++) + ".program"), std::ios::binary);
                    file.write(reinterpret_cast<const char*>(programBytes->data()),
                               static_cast<std::streamsize>(programBytes->size()));
                    continue;
                }
                const auto config = ScriptAssembler::configuration("1:1:ios:1", program, {});
                const auto configBytes = config->protoBuffer();
                const auto eventBytes = event(first)->protoBuffer();
                if (!configBytes || !eventBytes || configBytes->size() > 0xFFFF) continue;
                std::ofstream seed(out / (stem + "-" + std::to_string(index++) + ".pb"), std::ios::binary);
                const unsigned char length[2] = {static_cast<unsigned char>(configBytes->size() & 0xFF),
                                                 static_cast<unsigned char>(configBytes->size() >> 8)};
                seed.write(reinterpret_cast<const char*>(length), 2);
                seed.write(reinterpret_cast<const char*>(configBytes->data()), static_cast<std::streamsize>(configBytes->size()));
                seed.write(reinterpret_cast<const char*>(eventBytes->data()), static_cast<std::streamsize>(eventBytes->size()));
            }
        } catch (const ScriptAssembler::Error& error) {
            std::fprintf(stderr, "%s: %s\n", argv[i], error.what());
            return 1;
        }
    }
    return 0;
}
