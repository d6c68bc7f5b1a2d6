// libFuzzer target over the reading of a kept file: an input is a database file and its
// write-ahead log (its first four bytes, big-endian, give the file's length; what follows the file
// is the log), read into a working copy for a store of three tables, two of one shape. Nothing
// crashes or reads outside its buffers, every read ends within the target's time, and a damaged
// file is never a failure to read it.
#include "analytics/core/APMKeptFileReader.h"

#include <sqlite3.h>

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
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kept-file-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        folder_ = pattern;
    }
    ~Files() {
        for (const std::string& file : {log(), database(), working(), working() + "-journal"}) std::remove(file.c_str());
        rmdir(folder_.c_str());
    }
    std::string database() const { return folder_ + "/input.sqlite"; }
    std::string working() const { return folder_ + "/working.sqlite"; }
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
    static const APMKeptFileReader::StoreTables tables = [] {
        sqlite3* db = nullptr;
        if (sqlite3_open(":memory:", &db) != SQLITE_OK ||
            sqlite3_exec(db,
                         "CREATE TABLE t (n INTEGER NOT NULL, s TEXT, b BLOB); CREATE TABLE u (k TEXT NOT NULL PRIMARY "
                         "KEY); CREATE TABLE v (k TEXT NOT NULL PRIMARY KEY)",
                         nullptr, nullptr, nullptr) != SQLITE_OK) {
            std::abort();
        }
        auto read = APMKeptFileReader::storeTablesOf(db);
        sqlite3_close(db);
        return read;
    }();
    files.write(data, size);
    APMKeptFileReader::Outcome outcome;
    bool readFailed = false;
    const auto failure = APMKeptFileReader::read(files.database(), files.working(), tables, outcome, readFailed, nullptr);
    if (failure == APMKeptFileReader::Failure::KeptFile && readFailed) std::abort();
    return 0;
}
