// File stamps: a file replaced or written anew is told from the one stamped, and a stamp taken
// within the clock's tick of the file's last write is not trusted to tell it from a later one.
#include "platform/foundation/FileStamp.h"

#include "platform/foundation/FileData.h"
#include "platform/foundation/Sandbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using file_detail::FileStamp;

namespace {

NSData stampedBytes(const std::string& s) { return NSData(s.begin(), s.end()); }

struct stat statusAt(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info;
}

}  // namespace

TEST(FileStampTest, AFileReplacedOrWrittenInPlaceIsToldFromTheOneStamped) {
    const std::string path = Sandbox::tmp() + "/stamped";
    EXPECT_FALSE(FileStamp::ofFile(path));
    ASSERT_TRUE(writeDataToFile(stampedBytes("first"), path, false));
    const auto first = FileStamp::ofFile(path);
    ASSERT_TRUE(first);
    EXPECT_EQ(FileStamp::ofFile(path), first);

    // Another length in place.
    ASSERT_TRUE(writeDataToFile(stampedBytes("longer"), path, false));
    const auto longer = FileStamp::ofFile(path);
    EXPECT_NE(longer, first);
    // The same length in another file put in its place.
    ASSERT_TRUE(writeDataToFile(stampedBytes("second"), path, true));
    EXPECT_NE(FileStamp::ofFile(path), longer);
}

TEST(FileStampTest, AFileWrittenOnceAReadHasBegunIsNotTrustedWhateverTheClocksGrain) {
    const std::string path = Sandbox::tmp() + "/fresh";
    // The kernel stamps the write from the clock a read's start is taken on, never earlier: a file
    // written in the same tick as the read began has no stamp to keep.
    const timespec began = FileStamp::now();
    ASSERT_TRUE(writeDataToFile(stampedBytes("fresh"), path, false));
    const struct stat written = statusAt(path);
    EXPECT_FALSE(FileStamp::settled(written, began));
    EXPECT_FALSE(FileStamp::of(written).modifiedBefore(began));

    // Modified a nanosecond before the read began, it is trusted; at that very instant, not.
    const timespec before = began.tv_nsec > 0 ? timespec{began.tv_sec, began.tv_nsec - 1}
                                              : timespec{began.tv_sec - 1, 999'999'999};
    const timespec times[2] = {began, before};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    const auto settled = FileStamp::settled(statusAt(path), began);
    ASSERT_TRUE(settled);
    EXPECT_EQ(settled, FileStamp::ofFile(path));
    EXPECT_FALSE(FileStamp::settled(statusAt(path), before));
}
