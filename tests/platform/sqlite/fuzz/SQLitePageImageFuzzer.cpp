// libFuzzer target over the page reader: an input is a database file and its write-ahead log (its
// first four bytes, big-endian, give the file's length; what follows the file is the log). Nothing
// crashes or reads outside its buffers, every walk ends, and every value is one a record holds.
#include "platform/sqlite/SQLitePageImage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// The files of the input, in a folder of this process's own, removed as it ends.
class Files {
public:
    Files() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/page-image-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        folder_ = pattern;
    }
    ~Files() {
        std::remove(log().c_str());
        std::remove(database().c_str());
        rmdir(folder_.c_str());
    }
    std::string database() const { return folder_ + "/input.sqlite"; }
    std::string log() const { return database() + "-wal"; }

    void write(const std::uint8_t* data, std::size_t size) {
        std::size_t length = 0;
        if (size >= 4) length = (std::size_t{data[0]} << 24) | (std::size_t{data[1]} << 16) | (data[2] << 8) | data[3];
        data += size >= 4 ? 4 : size;
        size -= size >= 4 ? 4 : size;
        if (length > size) length = size;
        std::ofstream(database(), std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                            static_cast<std::streamsize>(length));
        if (length < size) {
            std::ofstream(log(), std::ios::binary | std::ios::trunc)
                .write(reinterpret_cast<const char*>(data + length), static_cast<std::streamsize>(size - length));
        } else {
            std::remove(log().c_str());
        }
    }

private:
    std::string folder_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Files files;
    files.write(data, size);
    int err = 0;
    auto image = SQLitePageImage::open(files.database(), err);
    if (!image) std::abort();  // the files are there and readable: only damaged bytes, which open
    const std::vector<SQLitePageImage::TableShape> shapes = {{"t", {"INTEGER", "TEXT", "BLOB"}}, {"u", {"REAL", ""}}};
    if (image->plan(shapes) != 0) std::abort();
    for (const auto& shape : shapes) {
        const int walked = image->forEachRow(shape.name, [](std::int64_t, const Value::Array& values) {
            for (const Value& value : values) {
                const auto type = value.type();
                if (type != Value::Type::Null && type != Value::Type::Integer && type != Value::Type::Double &&
                    type != Value::Type::String && type != Value::Type::Data)
                    std::abort();
            }
            return true;
        });
        if (walked != 0) std::abort();
    }
    return 0;
}
