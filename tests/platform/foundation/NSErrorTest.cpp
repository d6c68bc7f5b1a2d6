// NSError: descriptions, POSIX errors and the out-argument convention.
#include "platform/foundation/NSError.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

enum : long { kTestFailure = 7 };

bool failingOperation(NSErrorPtr* error) {
    setError(error, NSError::errorWithDomain("TestDomain", kTestFailure));
    return false;
}

TEST(NSErrorValues, LocalizedDescriptionFromUserInfoOrDefault) {
    auto plain = NSError::errorWithDomain("TestDomain", 42);
    EXPECT_EQ(plain->localizedDescription(), "The operation couldn\u2019t be completed. (TestDomain error 42.)");
    auto described = NSError::errorWithDomain("TestDomain", 1, {{NSLocalizedDescriptionKey, "Disk is full"}});
    EXPECT_EQ(described->localizedDescription(), "Disk is full");
    EXPECT_EQ(described->description(),
              "Error Domain=TestDomain Code=1 \"Disk is full\" UserInfo={NSLocalizedDescription=Disk is full}");
}

TEST(NSErrorValues, PosixErrorsCarryPathAndText) {
    auto error = NSError::posix(ENOENT, "/nowhere/file");
    EXPECT_EQ(error->domain(), NSPOSIXErrorDomain);
    EXPECT_EQ(error->code(), ENOENT);
    EXPECT_EQ(error->userInfo().get(NSFilePathErrorKey).string(), "/nowhere/file");
    EXPECT_NE(error->localizedDescription().find("No such file or directory"), std::string::npos);
}

TEST(NSErrorValues, EqualityByContent) {
    auto a = NSError::errorWithDomain("D", 1, {{"k", 1}});
    auto b = NSError::errorWithDomain("D", 1, {{"k", 1.0}});
    EXPECT_TRUE(a->isEqual(b.get()));
    EXPECT_EQ(a->hash(), b->hash());
    EXPECT_FALSE(a->isEqual(NSError::errorWithDomain("D", 2, {{"k", 1}}).get()));
    EXPECT_FALSE(a->isEqual(NSError::errorWithDomain("E", 1, {{"k", 1}}).get()));
}

TEST(NSErrorValues, OutArgumentIsOptional) {
    NSErrorPtr error;
    EXPECT_FALSE(failingOperation(&error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), kTestFailure);
    EXPECT_FALSE(failingOperation(nullptr));
}

}  // namespace
