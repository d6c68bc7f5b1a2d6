// Helpers of the message tests: byte literals, hex dumps, a message of every field type, and protoc as a peer.
#pragma once

#include "analytics/proto/APMPBMessage.h"
#include "platform/foundation/Sandbox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>

namespace prototest {

inline NSData bytes(std::initializer_list<int> values) {
    NSData out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

inline std::string hex(const NSData& data) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i) out += ' ';
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
    }
    return out;
}

inline NSData append(NSData a, const NSData& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Key and length prefix of a length-delimited field.
inline NSData lengthDelimited(std::uint32_t tag, const NSData& body) {
    NSData out;
    auto varint = [&out](std::uint64_t v) {
        while (v >= 0x80) {
            out.push_back(static_cast<std::uint8_t>(v | 0x80));
            v >>= 7;
        }
        out.push_back(static_cast<std::uint8_t>(v));
    };
    varint((static_cast<std::uint64_t>(tag) << 3) | 2);
    varint(body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace prototest

// A message with one field of every value type, single and repeated, only for the tests.
class APMPBTestAllTypes final : public APMPBMessage<APMPBTestAllTypes> {
public:
    using APMPBMessage::APMPBMessage;
    enum Field : std::int32_t {
        kBool, kEnum, kInt32, kUInt32, kInt64, kUInt64, kFloat, kDouble, kString, kMessage,
        kRepeatedBool, kRepeatedEnum, kRepeatedInt32, kRepeatedUInt32, kRepeatedInt64, kRepeatedUInt64,
        kRepeatedFloat, kRepeatedDouble, kRepeatedString, kRepeatedBytes, kRepeatedMessage, kBytes
    };
    static const APMPBMessageSchema& schema() {
        static const APMPBMessageSchema table("TestAllTypes", {
            {kBool, 1, APMPBFieldTypeOptional | APMPBFieldTypeBool, "b"},
            {kEnum, 2, APMPBFieldTypeOptional | APMPBFieldTypeEnum, "e"},
            {kInt32, 3, APMPBFieldTypeOptional | APMPBFieldTypeInt32, "i32"},
            {kUInt32, 4, APMPBFieldTypeOptional | APMPBFieldTypeUInt32, "u32"},
            {kInt64, 5, APMPBFieldTypeOptional | APMPBFieldTypeInt64, "i64"},
            {kUInt64, 6, APMPBFieldTypeOptional | APMPBFieldTypeUInt64, "u64"},
            {kFloat, 7, APMPBFieldTypeOptional | APMPBFieldTypeFloat, "f"},
            {kDouble, 8, APMPBFieldTypeOptional | APMPBFieldTypeDouble, "d"},
            {kString, 9, APMPBFieldTypeOptional | APMPBFieldTypeString, "s"},
            {kMessage, 10, APMPBFieldTypeOptional | APMPBFieldTypeMessage, "m", &APMPBTestAllTypes::schema},
            {kRepeatedBool, 11, APMPBFieldTypeRepeated | APMPBFieldTypeBool, "rb"},
            {kRepeatedEnum, 12, APMPBFieldTypeRepeated | APMPBFieldTypeEnum, "re"},
            {kRepeatedInt32, 13, APMPBFieldTypeRepeated | APMPBFieldTypeInt32, "ri32"},
            {kRepeatedUInt32, 14, APMPBFieldTypeRepeated | APMPBFieldTypeUInt32, "ru32"},
            {kRepeatedInt64, 15, APMPBFieldTypeRepeated | APMPBFieldTypeInt64, "ri64"},
            {kRepeatedUInt64, 16, APMPBFieldTypeRepeated | APMPBFieldTypeUInt64, "ru64"},
            {kRepeatedFloat, 17, APMPBFieldTypeRepeated | APMPBFieldTypeFloat, "rf"},
            {kRepeatedDouble, 18, APMPBFieldTypeRepeated | APMPBFieldTypeDouble, "rd"},
            {kRepeatedString, 19, APMPBFieldTypeRepeated | APMPBFieldTypeString, "rs"},
            {kRepeatedBytes, 20, APMPBFieldTypeRepeated | APMPBFieldTypeBytes, "rby"},
            {kRepeatedMessage, 21, APMPBFieldTypeRepeated | APMPBFieldTypeMessage, "rm", &APMPBTestAllTypes::schema},
            {kBytes, 22, APMPBFieldTypeOptional | APMPBFieldTypeBytes, "by"},
        });
        return table;
    }
};

namespace prototest {

// protoc on tests/analytics/proto/apm.proto, run as a subprocess over files in the test home.
class Protoc {
public:
    static std::string proto() { return APM_PROTO_DIR; }

    // `protoc --decode=apm.<message>` of `input`; the text, or "<failed>" when protoc refuses.
    static std::string decode(const std::string& message, const NSData& input) {
        return run("--decode=apm." + message + " -I " + proto() + " apm.proto", input);
    }
    static std::string decodeRaw(const NSData& input) { return run("--decode_raw", input); }
    // `protoc --encode=apm.<message>` of text; the bytes. `packed` reads the schema with the
    // repeated scalars of packedSchema() packed, to produce packed input.
    static NSData encode(const std::string& message, const std::string& text, bool packed = false) {
        const std::string folder = packed ? packedSchemaFolder() : proto();
        const std::string out = run("--encode=apm." + message + " -I " + folder + " apm.proto",
                                    NSData(text.begin(), text.end()));
        return NSData(out.begin(), out.end());
    }

private:
    // apm.proto with experiment_ids, status and eval_timestamps packed, written into the test home.
    static std::string packedSchemaFolder() {
        const std::string folder = Sandbox::tmp() + "/packed-schema";
        std::ifstream in(proto() + "/apm.proto");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (const std::string field : {"repeated uint32 experiment_ids = 45", "repeated uint64 status = 1",
                                        "repeated int64 eval_timestamps = 2"}) {
            const std::size_t at = text.find(field + ";");
            EXPECT_NE(at, std::string::npos) << field;
            if (at != std::string::npos) text.insert(at + field.size(), " [packed = true]");
        }
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/apm.proto") << text;
        return folder;
    }

    static std::string run(const std::string& arguments, const NSData& input) {
        static std::atomic<int> counter{0};
        const std::string base = Sandbox::tmp() + "/protoc-" + std::to_string(counter++);
        {
            std::ofstream in(base + ".in", std::ios::binary);
            in.write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
        }
        const std::string command = std::string(APM_PROTOC) + " " + arguments + " < " + base + ".in > " + base +
                                    ".out 2> " + base + ".err";
        const int rc = std::system(command.c_str());
        std::ifstream out(base + ".out", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
        if (rc != 0) {
            std::ifstream err(base + ".err");
            ADD_FAILURE() << "protoc " << arguments << " failed: "
                          << std::string((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
            return "<failed>";
        }
        return text;
    }
};

}  // namespace prototest
