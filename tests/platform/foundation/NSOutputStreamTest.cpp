// File output streams: appending keeps what is there, a new stream empties the file, and open
// and write failures become the stream's error.
#include "platform/foundation/NSOutputStream.h"

#include "platform/foundation/FileError.h"
#include "platform/foundation/Sandbox.h"
#include "tests/fixtures/FaultyFileIO.h"
#include "tests/fixtures/Fifo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {
std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
long writeText(NSOutputStream& stream, const std::string& text) {
    return stream.write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}
}  // namespace

TEST(NSOutputStreamTest, AppendingKeepsTheFileAndANewStreamEmptiesIt) {
    const std::string path = Sandbox::home() + "/stream.bin";
    auto first = NSOutputStream::outputStreamToFileAtPath(path, true);
    EXPECT_EQ(first->streamStatus(), NSStreamStatusNotOpen);
    EXPECT_EQ(writeText(*first, "early"), -1);  // not open yet
    first->open();
    EXPECT_EQ(writeText(*first, "abc"), 3);
    first->close();
    EXPECT_EQ(first->streamStatus(), NSStreamStatusClosed);

    auto appending = NSOutputStream::outputStreamToFileAtPath(path, true);
    appending->open();
    EXPECT_EQ(writeText(*appending, "def"), 3);
    appending->close();
    EXPECT_EQ(bytesOf(path), "abcdef");

    auto fresh = NSOutputStream::outputStreamToFileAtPath(path, false);
    fresh->open();
    EXPECT_EQ(writeText(*fresh, "x"), 1);
    fresh.reset();  // closes
    EXPECT_EQ(bytesOf(path), "x");
}

TEST(NSOutputStreamTest, FailuresAreKeptAsTheStreamsError) {
    auto nowhere = NSOutputStream::outputStreamToFileAtPath(Sandbox::home() + "/no/such/folder/file", true);
    nowhere->open();
    EXPECT_EQ(nowhere->streamStatus(), NSStreamStatusError);
    ASSERT_TRUE(nowhere->streamError());
    EXPECT_EQ(nowhere->streamError()->code(), NSFileNoSuchFileError);

    auto faulty = std::make_shared<FaultyFileIO>();
    ScopedFileIO installed(faulty);
    faulty->noSpace("*/full.bin");
    auto full = NSOutputStream::outputStreamToFileAtPath(Sandbox::home() + "/full.bin", false);
    full->open();
    EXPECT_EQ(writeText(*full, "0123456789"), -1);
    EXPECT_EQ(full->streamStatus(), NSStreamStatusError);
    ASSERT_TRUE(full->streamError());
    EXPECT_EQ(full->streamError()->code(), NSFileWriteOutOfSpaceError);
    EXPECT_EQ(writeText(*full, "more"), -1);
}

// A FIFO where the file belongs (nobody reading it) fails the open at once instead of holding it.
TEST(NSOutputStreamTest, AFifoWithoutAReaderFailsTheOpenAtOnce) {
    const std::string path = Sandbox::home() + "/pipe.bin";
    ASSERT_TRUE(Fifo::make(path));
    auto stream = NSOutputStream::outputStreamToFileAtPath(path, false);
    ASSERT_TRUE(Fifo::endsPromptly(path, [&] { stream->open(); }));
    EXPECT_EQ(stream->streamStatus(), NSStreamStatusError);
    ASSERT_TRUE(stream->streamError());
    EXPECT_EQ(stream->streamError()->code(), NSFileWriteUnknownError);
}
