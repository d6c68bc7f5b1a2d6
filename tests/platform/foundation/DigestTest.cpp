// MD5 and SHA-256 against the reference vectors.
#include "platform/foundation/Digest.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(DigestMD5, ReferenceVectors) {
    const std::pair<std::string, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [input, expected] : vectors) {
        EXPECT_EQ(Digest::hexString(Digest::MD5(input)), expected) << input;
        EXPECT_EQ(Digest::MD5(NSData(input.begin(), input.end())), Digest::MD5(input));
    }
}

TEST(DigestMD5, BinaryInputWithZeros) {
    const NSData data{0x00, 0xff, 0x00};
    EXPECT_EQ(Digest::MD5(data).size(), 16u);
    EXPECT_NE(Digest::MD5(data), Digest::MD5(NSData{0x00, 0xff}));
    EXPECT_EQ(Digest::hexString(NSData{0x0a, 0xb0}), "0ab0");
}

// Given in pieces of any size, as a file is read.
TEST(DigestSHA256, ReferenceVectorsInPieces) {
    const std::string input = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, input.size()}) {
        Digest::SHA256 digest;
        for (std::size_t at = 0; at < input.size(); at += piece) {
            digest.update(reinterpret_cast<const std::uint8_t*>(input.data()) + at, std::min(piece, input.size() - at));
        }
        EXPECT_EQ(Digest::hexString(digest.finish()), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    }
    EXPECT_EQ(Digest::hexString(Digest::SHA256().finish()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
