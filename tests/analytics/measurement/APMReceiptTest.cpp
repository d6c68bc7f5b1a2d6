// The receipt scan: the original application version found by its byte pattern, and receipts
// without one, or with one cut short, read as having none.
#include "analytics/measurement/APMReceipt.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The attribute as a receipt carries it: SEQUENCE, type 19, version 1, and an OCTET STRING
// holding a UTF8String of `text`.
NSData attribute(const std::string& text) {
    NSData bytes = {0x30, static_cast<std::uint8_t>(text.size() + 9), 0x02, 0x01, 0x13, 0x02, 0x01, 0x01, 0x04,
                    static_cast<std::uint8_t>(text.size() + 2), 0x0C, static_cast<std::uint8_t>(text.size())};
    for (const char c : text) bytes.push_back(static_cast<std::uint8_t>(c));
    return bytes;
}

NSData concat(NSData a, const NSData& b) {
    for (const std::uint8_t byte : b) a.push_back(byte);
    return a;
}

TEST(APMReceiptTest, TheOriginalVersionIsFoundBehindItsAttributeAnywhereInTheReceipt) {
    const NSData before = {0x30, 0x82, 0x01, 0x00, 0x02, 0x01, 0x11, 0x04, 0x03, 'a', 'b', 'c'};
    EXPECT_EQ(APMReceiptOriginalVersion(concat(before, concat(attribute("1.2.3"), {0x30, 0x00, 0x00}))), "1.2.3");
    // The first match counts.
    EXPECT_EQ(APMReceiptOriginalVersion(concat(attribute("7"), concat(attribute("8.0"), {0x00}))), "7");
}

TEST(APMReceiptTest, AReceiptWithoutTheAttributeOrWithItCutShortHasNoVersion) {
    EXPECT_EQ(APMReceiptOriginalVersion({}), std::nullopt);
    EXPECT_EQ(APMReceiptOriginalVersion({0x30, 0x03, 0x02, 0x01, 0x11, 0x04, 0x01, 0x00}), std::nullopt);
    NSData cut = attribute("1.2.3");
    cut.resize(cut.size() - 2);
    EXPECT_EQ(APMReceiptOriginalVersion(cut), std::nullopt);
    // An attribute of another type (18) is not the original version.
    NSData other = concat(attribute("1.0"), {0x00});
    other[4] = 0x12;
    EXPECT_EQ(APMReceiptOriginalVersion(other), std::nullopt);
    // A text length in the long form that uses up the attribute's bytes leaves no text at all.
    const NSData damaged = {0x30, 0x0C, 0x02, 0x01, 0x13, 0x02, 0x01, 0x01, 0x04, 0x03, 0x0C, 0x81, 0x00, 0x00};
    EXPECT_EQ(APMReceiptOriginalVersion(damaged), std::nullopt);
    const NSData wider = {0x30, 0x0D, 0x02, 0x01, 0x13, 0x02, 0x01, 0x01, 0x04, 0x04, 0x0C, 0x82, 0x00, 0x00, 0x00};
    EXPECT_EQ(APMReceiptOriginalVersion(wider), std::nullopt);
    // The same long form with a text behind it is read.
    const NSData longForm = {0x30, 0x0D, 0x02, 0x01, 0x13, 0x02, 0x01, 0x01, 0x04, 0x04, 0x0C, 0x81, 0x01, '9', 0x00};
    EXPECT_EQ(APMReceiptOriginalVersion(longForm), "9");
}

TEST(APMReceiptTest, APatternMatchesOnlyWithinTheBytesAndCapturesTheLengthItEndsOn) {
    const std::vector<std::uint8_t> pattern = {0x04, APMReceiptAnyByte};
    const NSData bytes = {0x00, 0x04, 0x02, 'h', 'i', 0x04};
    EXPECT_EQ(APMReceiptDataMatchingPattern(pattern, bytes, 1), (NSData{'h', 'i'}));
    EXPECT_EQ(APMReceiptDataMatchingPattern(pattern, bytes, 0), std::nullopt);
    EXPECT_EQ(APMReceiptDataMatchingPattern(pattern, bytes, -1), std::nullopt);
    EXPECT_EQ(APMReceiptDataMatchingPattern(pattern, bytes, 5), std::nullopt);
    // A length reaching past the end.
    EXPECT_EQ(APMReceiptDataMatchingPattern(pattern, NSData{0x04, 0x09, 'x', 0x00}, 0), std::nullopt);
}

}  // namespace
