// A SQLite database read by its file format: the header, the write-ahead log's committed frames,
// the free list, the b-trees from the schema's roots, and the records on the table leaves. Every
// figure taken from the file is checked before it is used, every walk takes a page at most once
// and an overflow page is one cell's, so that damaged bytes end a walk, or leave out a cell,
// rather than mislead either or make it cost more than the bytes read.
#include "platform/sqlite/SQLitePageImage.h"

#include "platform/foundation/FileIO.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>

namespace {

// Page types, the first byte of a b-tree page's header.
constexpr std::uint8_t kInteriorIndex = 2;
constexpr std::uint8_t kInteriorTable = 5;
constexpr std::uint8_t kLeafIndex = 10;
constexpr std::uint8_t kLeafTable = 13;

constexpr char kMagic[] = "SQLite format 3";  // with its terminating zero: 16 bytes
constexpr std::uint32_t kHeaderSize = 100;
// SQLite's own default page size, taken when neither the header nor a log tells another.
constexpr std::uint32_t kDefaultPageSize = 4096;
constexpr std::uint32_t kMinUsableSize = 480;
// The page holding the byte SQLite locks at 1 GiB never holds data.
constexpr std::uint64_t kLockByte = 0x40000000;

constexpr std::uint32_t kWalMagic = 0x377f0682;  // the low bit set: big-endian checksums
constexpr std::uint32_t kWalVersion = 3007000;
constexpr std::uint64_t kWalHeaderSize = 32;
constexpr std::uint64_t kWalFrameHeaderSize = 24;

// What the plan knows of each page. kInChain marks the pages of the overflow chain being read,
// so that a chain that comes back on itself ends.
enum PageState : std::uint8_t {
    kUnreached = 0,
    kFree,      // a free-list trunk or leaf
    kTree,      // taken by a tree of the schema
    kRejected,  // reached by a tree but not of it: left to the scan for table leaves no tree reaches
    kOrphan,    // a table leaf no tree reaches
    kUnused,    // the lock-byte page
};
constexpr std::uint8_t kInChain = 0x80;
// The owner of a page that no table of the plan's took: an index's, the schema's, another table's.
constexpr std::int32_t kNoTable = -1;

std::uint32_t get2(const std::uint8_t* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
std::uint32_t get4(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
std::uint32_t get4le(const std::uint8_t* p) {
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

// A varint of one to nine bytes: its length, or 0 when it runs past `end`.
int getVarint(const std::uint8_t* p, const std::uint8_t* end, std::uint64_t& value) {
    value = 0;
    for (int i = 0; i < 8; ++i) {
        if (p + i >= end) return 0;
        value = (value << 7) | (p[i] & 0x7f);
        if ((p[i] & 0x80) == 0) return i + 1;
    }
    if (p + 8 >= end) return 0;
    value = (value << 8) | p[8];
    return 9;
}

bool validPageSize(std::uint32_t size) { return size >= 512 && size <= 65536 && (size & (size - 1)) == 0; }
// The header's page size field, where 1 stands for 65536.
std::uint32_t headerPageSize(const std::uint8_t* header) {
    const std::uint32_t size = get2(header + 16);
    return size == 1 ? 65536 : size;
}

// The log's running checksum over `size` bytes (a multiple of 8), in the byte order its magic names.
void walChecksum(bool bigEndian, const std::uint8_t* data, std::size_t size, std::uint32_t& s0, std::uint32_t& s1) {
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        s0 += (bigEndian ? get4(data + i) : get4le(data + i)) + s1;
        s1 += (bigEndian ? get4(data + i + 4) : get4le(data + i + 4)) + s0;
    }
}

// `size` bytes from `offset`, zeros past the end of the file.
int readFully(FileIO& io, int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        std::size_t got = 0;
        if (const int err = io.readAt(fd, offset + done, buffer + done, size - done, got)) return err;
        if (got == 0) break;
        done += got;
    }
    std::fill(buffer + done, buffer + size, std::uint8_t{0});
    return 0;
}

// A b-tree page's header, checked: a known type and a cell pointer array within the usable area.
struct PageHeader {
    std::uint8_t type = 0;
    std::uint32_t cellCount = 0;
    std::uint32_t cellArray = 0;  // where the cell pointers begin
    std::uint32_t cellsFrom = 0;  // where they end: no cell starts before
    std::uint32_t rightChild = 0;
    std::uint32_t number = 0;  // the page's own

    bool leaf() const { return type == kLeafTable || type == kLeafIndex; }
    bool table() const { return type == kLeafTable || type == kInteriorTable; }
};

bool parseHeader(const std::uint8_t* page, std::uint32_t pageNumber, std::uint32_t usable, PageHeader& header) {
    const std::uint32_t at = pageNumber == 1 ? kHeaderSize : 0;
    header.number = pageNumber;
    header.type = page[at];
    if (header.type != kInteriorIndex && header.type != kInteriorTable && header.type != kLeafIndex &&
        header.type != kLeafTable)
        return false;
    header.cellCount = get2(page + at + 3);
    header.cellArray = at + (header.leaf() ? 8 : 12);
    header.cellsFrom = header.cellArray + 2 * header.cellCount;
    header.rightChild = header.leaf() ? 0 : get4(page + at + 8);
    return header.cellsFrom <= usable;
}

// Where the `index`-th cell begins, 0 when its pointer is outside the cell content area.
std::uint32_t cellAt(const std::uint8_t* page, const PageHeader& header, std::uint32_t usable, std::uint32_t index) {
    const std::uint32_t at = get2(page + header.cellArray + 2 * index);
    return at >= header.cellsFrom && at < usable ? at : 0;
}

// A table leaf's cell: its rowid, and its payload's size, local part and first overflow page,
// the split being the format's: up to U-35 bytes stay on the page, else between the minimum
// ((U-12)*32/255)-23 and U-35, the rest filling whole overflow pages of U-4 bytes.
struct LeafCell {
    std::int64_t rowid = 0;
    std::uint64_t payloadSize = 0;
    std::uint32_t payloadAt = 0;
    std::uint32_t localSize = 0;
    std::uint32_t firstOverflow = 0;
    // The cell's place, which owns the overflow chain it names.
    std::uint32_t leaf = 0;
    std::uint16_t index = 0;
};

bool parseLeafCell(const std::uint8_t* page, const PageHeader& header, std::uint32_t usable, std::uint32_t index,
                   LeafCell& cell) {
    const std::uint32_t at = cellAt(page, header, usable, index);
    if (at == 0) return false;
    const std::uint8_t* end = page + usable;
    std::uint64_t rowid = 0;
    const int sizeLength = getVarint(page + at, end, cell.payloadSize);
    if (sizeLength == 0) return false;
    const int rowidLength = getVarint(page + at + sizeLength, end, rowid);
    if (rowidLength == 0) return false;
    cell.rowid = static_cast<std::int64_t>(rowid);
    cell.payloadAt = at + static_cast<std::uint32_t>(sizeLength + rowidLength);
    const std::uint32_t maxLocal = usable - 35;
    bool overflows = false;
    if (cell.payloadSize <= maxLocal) {
        cell.localSize = static_cast<std::uint32_t>(cell.payloadSize);
    } else {
        const std::uint32_t minLocal = (usable - 12) * 32 / 255 - 23;
        const std::uint64_t surplus = minLocal + (cell.payloadSize - minLocal) % (usable - 4);
        cell.localSize = surplus <= maxLocal ? static_cast<std::uint32_t>(surplus) : minLocal;
        overflows = true;
    }
    const std::uint64_t cellEnd = std::uint64_t{cell.payloadAt} + cell.localSize + (overflows ? 4 : 0);
    if (cellEnd > usable) return false;
    cell.firstOverflow = overflows ? get4(page + cell.payloadAt + cell.localSize) : 0;
    cell.leaf = header.number;
    cell.index = static_cast<std::uint16_t>(index);
    return true;
}

// A record's serial types, read from its header of `headerSize` bytes (the first varint, of
// `lengthOfSize` bytes, being that size): false unless every type is a valid one, the header
// ends exactly with its last type, and the values' sizes add up to the rest of the payload exactly.
bool recordTypes(const std::uint8_t* payload, std::uint64_t headerSize, int lengthOfSize, std::uint64_t payloadSize,
                 std::vector<std::uint64_t>& types) {
    types.clear();
    const std::uint8_t* at = payload + lengthOfSize;
    const std::uint8_t* end = payload + headerSize;
    const std::uint64_t bodySize = payloadSize - headerSize;
    std::uint64_t sum = 0;
    while (at < end) {
        std::uint64_t type = 0;
        const int length = getVarint(at, end, type);
        if (length == 0 || type == 10 || type == 11) return false;
        static constexpr std::uint8_t kFixed[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0};
        const std::uint64_t size = type < 10 ? kFixed[type] : (type - 12) / 2;
        if (size > bodySize - sum) return false;
        sum += size;
        types.push_back(type);
        at += length;
    }
    return sum == bodySize;
}

// The size of the header of a record of `payloadSize` bytes whose first `localSize` are at
// `payload`, and the length of the varint that gives it; 0 when it is no header's size.
int recordHeaderSize(const std::uint8_t* payload, std::uint32_t localSize, std::uint64_t payloadSize,
                     std::uint64_t& headerSize) {
    // The local part always holds the longest varint (it is at least the minimum, 35 bytes).
    const int length = getVarint(payload, payload + localSize, headerSize);
    return length != 0 && headerSize >= static_cast<std::uint64_t>(length) && headerSize <= payloadSize ? length : 0;
}

// The values of a record whose types recordTypes read, from its body.
void recordValues(const std::uint8_t* body, const std::vector<std::uint64_t>& types, Value::Array& values) {
    values.clear();
    for (const std::uint64_t type : types) {
        if (type == 0) {
            values.emplace_back();
        } else if (type <= 6) {
            static constexpr int kBytes[] = {0, 1, 2, 3, 4, 6, 8};
            const int bytes = kBytes[type];
            std::uint64_t bits = body[0] & 0x80 ? ~std::uint64_t{0} : 0;
            for (int i = 0; i < bytes; ++i) bits = (bits << 8) | body[i];
            values.emplace_back(static_cast<long long>(bits));
            body += bytes;
        } else if (type == 7) {
            std::uint64_t bits = 0;
            for (int i = 0; i < 8; ++i) bits = (bits << 8) | body[i];
            double real;
            std::memcpy(&real, &bits, sizeof real);
            // SQLite reads a NaN as null.
            if (std::isnan(real)) values.emplace_back();
            else values.emplace_back(real);
            body += 8;
        } else if (type == 8 || type == 9) {
            values.emplace_back(static_cast<long long>(type - 8));
        } else {
            const std::size_t size = static_cast<std::size_t>((type - 12) / 2);
            if (type % 2 == 1) values.emplace_back(std::string(reinterpret_cast<const char*>(body), size));
            else values.emplace_back(NSData(body, body + size));
            body += size;
        }
    }
}

enum class StorageClass { Null, Integer, Real, Text, Blob };

StorageClass classOf(std::uint64_t type) {
    if (type == 0) return StorageClass::Null;
    if (type == 7) return StorageClass::Real;
    if (type < 12) return StorageClass::Integer;
    return type % 2 == 1 ? StorageClass::Text : StorageClass::Blob;
}

// A column's affinity by SQLite's rules on its declared type, in their order.
enum class Affinity { Integer, Text, Blob, Real, Numeric };

Affinity affinityOf(const std::string& declared) {
    std::string upper = declared;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const auto has = [&](const char* part) { return upper.find(part) != std::string::npos; };
    if (has("INT")) return Affinity::Integer;
    if (has("CHAR") || has("CLOB") || has("TEXT")) return Affinity::Text;
    if (has("BLOB") || upper.empty()) return Affinity::Blob;
    if (has("REAL") || has("FLOA") || has("DOUB")) return Affinity::Real;
    return Affinity::Numeric;
}

// Whether a column of `affinity` can hold a value of `kind` on disk: a text column turns every
// number into text.
bool holds(Affinity affinity, StorageClass kind) {
    return affinity != Affinity::Text || kind == StorageClass::Null || kind == StorageClass::Text ||
           kind == StorageClass::Blob;
}

// Whether `kind` is what the affinity makes of a value (a real column keeps whole numbers as
// integers on disk).
bool madeBy(Affinity affinity, StorageClass kind) {
    switch (affinity) {
        case Affinity::Integer: return kind == StorageClass::Integer;
        case Affinity::Text: return kind == StorageClass::Text;
        case Affinity::Blob: return kind == StorageClass::Blob;
        case Affinity::Real:
        case Affinity::Numeric: return kind == StorageClass::Integer || kind == StorageClass::Real;
    }
    return false;
}

// How well the records of one page fit a table: none fitting at all, or the number of values of
// the class its column's affinity makes, then of records with as many fields as it has columns.
struct Fit {
    bool fits = true;
    std::int64_t made = 0;
    std::int64_t whole = 0;
    bool operator==(const Fit& other) const { return made == other.made && whole == other.whole; }
    bool operator>(const Fit& other) const { return made != other.made ? made > other.made : whole > other.whole; }
};

void addRecord(Fit& fit, const std::vector<Affinity>& columns, const std::vector<std::uint64_t>& types) {
    if (!fit.fits) return;
    if (types.size() > columns.size()) {
        fit.fits = false;
        return;
    }
    for (std::size_t i = 0; i < types.size(); ++i) {
        const StorageClass kind = classOf(types[i]);
        if (!holds(columns[i], kind)) {
            fit.fits = false;
            return;
        }
        if (madeBy(columns[i], kind)) ++fit.made;
    }
    if (types.size() == columns.size()) ++fit.whole;
}

// The schema table's own shape: leaves of a schema that spans pages, cut off from page 1, are
// taken by it and so by no table.
const std::vector<Affinity>& schemaColumns() {
    static const std::vector<Affinity> columns = {Affinity::Text, Affinity::Text, Affinity::Text, Affinity::Integer,
                                                  Affinity::Text};
    return columns;
}

}  // namespace

class SQLitePageImage::Image {
public:
    // `readFailureIsDamage`: a read that fails with EIO (a bad sector) gives zeros, which read as
    // damaged bytes, so the rest of the file still reads.
    explicit Image(bool readFailureIsDamage) : readFailureIsDamage_(readFailureIsDamage) {}
    ~Image() {
        if (dbFd_ >= 0) (void)io_->close(dbFd_);
        if (walFd_ >= 0) (void)io_->close(walFd_);
    }

    int open(const std::string& path) {
        io_ = FileIO::current();
        struct stat info {};
        if (const int err = file_detail::openRegular(*io_, path, dbFd_, info)) return err;
        const std::uint64_t fileSize = static_cast<std::uint64_t>(info.st_size);
        std::uint8_t fileHeader[kHeaderSize];
        if (const int err = readAt(dbFd_, 0, fileHeader, sizeof fileHeader)) return err;

        struct stat walInfo {};
        const int walErr = file_detail::openRegular(*io_, path + "-wal", walFd_, walInfo);
        if (walErr != 0 && walErr != ENOENT) return walErr;
        Log log;
        if (walFd_ >= 0) {
            if (const int err = readLog(static_cast<std::uint64_t>(walInfo.st_size), log)) return err;
        }

        // The page size: the log's when it holds committed frames (they are only readable at its
        // size, and its header is checksummed), else the file header's, else the log header's,
        // else SQLite's default, which the plan replaces by what the pages tell where it can.
        const std::uint32_t fileField = headerPageSize(fileHeader);
        if (log.committed) pageSize_ = log.pageSize;
        else if (validPageSize(fileField)) pageSize_ = fileField;
        else if (log.pageSize != 0) pageSize_ = log.pageSize;
        else pageSize_ = kDefaultPageSize;

        // The header as SQLite reads it: the log's copy of page 1 when it holds one.
        std::uint8_t header[kHeaderSize];
        std::memcpy(header, fileHeader, sizeof header);
        if (const auto frame = frames_.find(1); frame != frames_.end()) {
            if (const int err = readAt(walFd_, frame->second, header, sizeof header)) return err;
        }
        headerWhole_ = std::memcmp(header, kMagic, sizeof kMagic) == 0 && headerPageSize(header) == pageSize_ &&
                       header[21] == 64 && header[22] == 32 && header[23] == 32 &&
                       pageSize_ - header[20] >= kMinUsableSize;
        // A damaged header's reserved bytes are taken as none, as SQLite makes its files.
        usable_ = pageSize_ - (headerWhole_ ? header[20] : 0);

        // The page count as SQLite takes it: the header's where it is current (its
        // version-valid-for number equals its change counter) and within the size the last commit
        // (else the file) gives, else that size; never more pages than the file and the log hold
        // between them. Pages past the file's end that no frame holds read as zeros, so the
        // per-page state is dense over the file's pages only and the scan visits the log's beyond.
        const std::uint64_t filePages = fileSize / pageSize_;
        std::uint64_t claimed = log.committed ? log.databasePages : filePages;
        if (headerWhole_ && get4(header + 92) == get4(header + 24) && get4(header + 28) != 0)
            claimed = std::min<std::uint64_t>(claimed, get4(header + 28));
        const std::uint64_t held = std::max<std::uint64_t>(filePages, log.highestPage);
        pageCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>({claimed, held, 0xfffffffe}));
        filePages_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(filePages, pageCount_));
        for (const auto& [number, offset] : frames_)
            if (number > filePages_ && number <= pageCount_) logPagesBeyond_.push_back(number);
        std::sort(logPagesBeyond_.begin(), logPagesBeyond_.end());
        firstTrunk_ = headerWhole_ ? get4(header + 32) : 0;
        freePages_ = headerWhole_ ? get4(header + 36) : 0;
        return 0;
    }

    int plan(const std::vector<TableShape>& shapes) {
        tables_.clear();
        byName_.clear();
        counts_ = Counts{};
        for (const TableShape& shape : shapes) {
            Table table;
            table.name = shape.name;
            table.rootInALikeFile = shape.rootInALikeFile;
            for (const std::string& declared : shape.declaredTypes) table.columns.push_back(affinityOf(declared));
            byName_.emplace(shape.name, tables_.size());
            tables_.push_back(std::move(table));
        }
        shared_.clear();
        if (const int err = guessPageSize()) return err;
        state_.reset(filePages_, logPagesBeyond_);
        const std::uint64_t lockPage = kLockByte / pageSize_ + 1;
        if (lockPage <= pageCount_) state_[lockPage] = kUnused;
        planned_ = true;

        if (const int err = walkFreeList()) return err;

        Scratch scratch(pageSize_);
        std::vector<std::uint32_t> leaves;
        Tree schemaTree;
        if (const int err = walkTree(1, kNoTable, &leaves, &schemaColumns(), schemaTree)) return err;
        const bool schemaLost = schemaTree.lostPages || schemaTree.strays;
        // The schema's leaves that its tree no longer reaches still name their tables' roots.
        if (schemaLost) {
            if (const int err = findSchemaLeaves(scratch, leaves)) return err;
        }
        std::vector<SchemaEntry> schema;
        if (const int err = readSchema(leaves, scratch, schema)) return err;
        std::vector<bool> rooted(tables_.size(), false);
        for (const SchemaEntry& entry : schema) {
            const auto named = entry.isTable ? byName_.find(entry.name) : byName_.end();
            Tree other;
            int err = 0;
            if (named == byName_.end()) {
                // An index of a planned table: its entries tell that table's rows from another's.
                const auto of = entry.isTable ? byName_.end() : byName_.find(entry.table);
                err = walkTree(entry.root, kNoTable, of == byName_.end() ? nullptr : &tables_[of->second].indexPages,
                               nullptr, other);
            } else {
                Table& table = tables_[named->second];
                rooted[named->second] = true;
                err = walkTree(entry.root, static_cast<std::int32_t>(named->second), &table.pages, &table.columns,
                               table.tree);
            }
            if (err != 0) return err;
        }
        for (std::size_t t = 0; t < tables_.size(); ++t) {
            Table& table = tables_[t];
            const std::uint32_t root = table.rootInALikeFile;
            // A like file's root only where this file's schema is lost, and on a page no tree took.
            if (!rooted[t] && schemaLost && inRange(root) &&
                (state_[root] == kUnreached || state_[root] == kRejected)) {
                rooted[t] = true;
                if (const int err = walkTree(root, static_cast<std::int32_t>(t), &table.pages, &table.columns,
                                             table.tree))
                    return err;
            }
            // A table without a root has lost its tree.
            if (!rooted[t]) table.tree.lostPages = true;
        }
        // A leaf two tables of one shape reach stays with the one whose index holds its rows
        // where only one's does.
        for (const Shared& leaf : shared_) {
            int firstHas = 0, secondHas = 0;
            if (const int err = indexHolds(leaf.page, leaf.first, scratch, firstHas)) return err;
            if (const int err = indexHolds(leaf.page, leaf.second, scratch, secondHas)) return err;
            if (firstHas == secondHas) continue;
            auto& loser = tables_[static_cast<std::size_t>(firstHas > secondHas ? leaf.second : leaf.first)].pages;
            if (const auto at = std::find(loser.begin(), loser.end(), leaf.page); at != loser.end()) loser.erase(at);
        }
        for (Table& table : tables_) table.treeLeaves = table.pages.size();
        return scanForOrphans(scratch);
    }

    int forEachRow(const std::string& name, const std::function<bool(std::int64_t)>* wanted,
                   const std::function<bool(std::int64_t, const Value::Array&)>& row) {
        if (!planned_) return EINVAL;
        const auto named = byName_.find(name);
        if (named == byName_.end()) return 0;
        Scratch scratch(pageSize_);
        // A copy: the callback may plan again, which replaces the lists.
        const std::vector<std::uint32_t> pages = tables_[named->second].pages;
        const std::size_t treeLeaves = tables_[named->second].treeLeaves;
        for (std::size_t at = 0; at < pages.size(); ++at) {
            const std::uint32_t page = pages[at];
            if (const int err = readPage(page, scratch.page.data())) return err;
            PageHeader header;
            if (!parseHeader(scratch.page.data(), page, usable_, header) || header.type != kLeafTable) continue;
            for (std::uint32_t i = 0; i < header.cellCount; ++i) {
                std::int64_t rowid = 0;
                bool decoded = false;
                if (wanted) {
                    LeafCell cell;
                    if (parseLeafCell(scratch.page.data(), header, usable_, i, cell) && !(*wanted)(cell.rowid)) continue;
                }
                if (const int err = decodeCell(scratch.page.data(), header, i, scratch, rowid, decoded)) return err;
                if (!decoded) {
                    ++counts_.undecodableCells;
                    continue;
                }
                if (at >= treeLeaves) ++counts_.rowsFromUnreachedLeaves;
                if (!row(rowid, scratch.values)) return 0;
            }
        }
        return 0;
    }

    const Counts& counts() const { return counts_; }

    TreeFindings findings(const std::string& name) const {
        const auto named = byName_.find(name);
        if (!planned_ || named == byName_.end()) return {};
        const Table& table = tables_[named->second];
        return {table.tree.strays, table.pages.size() > table.treeLeaves};
    }

private:
    // A PageState per page, and the cell whose overflow chain took it: dense over the file's
    // pages and by page number for the log's beyond them, so that its size follows the bytes
    // rather than a page count they claim. Any other page is zeros, holds nothing and keeps no
    // state: it reads as unreached whatever was written to it.
    class PageStates {
    public:
        struct Entry {
            std::uint32_t owner = 0;  // the leaf of the cell whose chain took the page, 0 for none
            std::uint16_t ownerIndex = 0;
            std::uint8_t state = kUnreached;
            std::int32_t table = kNoTable;  // the table of tables_ whose tree took the page (kTree)
        };
        void reset(std::uint32_t filePages, const std::vector<std::uint32_t>& logPagesBeyond) {
            dense_.assign(std::size_t{filePages} + 1, Entry{});
            logPagesBeyond_ = &logPagesBeyond;
            beyond_.assign(logPagesBeyond.size(), Entry{});
        }
        Entry& entry(std::uint32_t page) {
            if (page < dense_.size()) return dense_[page];
            const auto at = std::lower_bound(logPagesBeyond_->begin(), logPagesBeyond_->end(), page);
            if (at != logPagesBeyond_->end() && *at == page)
                return beyond_[static_cast<std::size_t>(at - logPagesBeyond_->begin())];
            zeros_ = Entry{};
            return zeros_;
        }
        std::uint8_t& operator[](std::uint32_t page) { return entry(page).state; }

    private:
        std::vector<Entry> dense_;
        const std::vector<std::uint32_t>* logPagesBeyond_ = nullptr;
        std::vector<Entry> beyond_;  // by the index of the page in *logPagesBeyond_
        Entry zeros_;
    };
    // What a walk of a tree met.
    struct Tree {
        bool lostPages = false;  // a page that does not read as one of the tree, or no root at all
        bool strays = false;     // a pointer to a page that is not the tree's own
    };
    struct Table {
        std::string name;
        std::vector<Affinity> columns;
        std::uint32_t rootInALikeFile = 0;
        std::vector<std::uint32_t> pages;  // tree leaves in key order, then leaves given by shape
        std::size_t treeLeaves = 0;        // how many of `pages` its tree reached
        Tree tree;
        std::vector<std::uint32_t> indexPages;  // the pages of its indexes' trees
        // Read from indexPages once asked: each entry's first value and rowid.
        std::optional<std::set<std::pair<std::string, std::int64_t>>> indexed;
    };
    struct Log {
        std::uint32_t pageSize = 0;  // 0: no valid log header
        bool committed = false;
        std::uint32_t databasePages = 0;
        std::uint32_t highestPage = 0;
    };
    struct SchemaEntry {
        bool isTable = false;
        std::string name;
        std::uint32_t root = 0;
        std::string table;  // the table an index is of
    };
    // The buffers of one walk over rows.
    struct Scratch {
        explicit Scratch(std::uint32_t pageSize) : page(pageSize), overflow(pageSize) {}
        std::vector<std::uint8_t> page;
        std::vector<std::uint8_t> overflow;
        std::vector<std::uint8_t> payload;
        std::vector<std::uint32_t> chain;
        std::vector<std::uint64_t> types;
        Value::Array values;
    };

    // The log's frames, checked in turn from its start: each must carry the header's salts and
    // continue the checksum chain, and those up to the last commit frame are laid over the file.
    int readLog(std::uint64_t size, Log& log) {
        std::uint8_t header[kWalHeaderSize];
        if (size < kWalHeaderSize) return 0;
        if (const int err = readAt(walFd_, 0, header, sizeof header)) return err;
        const std::uint32_t magic = get4(header);
        const std::uint32_t pageSize = get4(header + 8);
        if ((magic & ~1u) != kWalMagic || get4(header + 4) != kWalVersion || !validPageSize(pageSize)) return 0;
        const bool bigEndian = (magic & 1) != 0;
        std::uint32_t s0 = 0, s1 = 0;
        walChecksum(bigEndian, header, 24, s0, s1);
        if (s0 != get4(header + 24) || s1 != get4(header + 28)) return 0;
        log.pageSize = pageSize;

        std::vector<std::uint8_t> frame(kWalFrameHeaderSize + pageSize);
        std::vector<std::pair<std::uint32_t, std::uint64_t>> pending;
        for (std::uint64_t at = kWalHeaderSize; at + frame.size() <= size; at += frame.size()) {
            if (const int err = readAt(walFd_, at, frame.data(), frame.size())) return err;
            const std::uint32_t page = get4(frame.data());
            if (page == 0 || std::memcmp(frame.data() + 8, header + 16, 8) != 0) break;
            walChecksum(bigEndian, frame.data(), 8, s0, s1);
            walChecksum(bigEndian, frame.data() + kWalFrameHeaderSize, pageSize, s0, s1);
            if (s0 != get4(frame.data() + 16) || s1 != get4(frame.data() + 20)) break;
            pending.emplace_back(page, at + kWalFrameHeaderSize);
            if (const std::uint32_t pages = get4(frame.data() + 4); pages != 0) {
                for (const auto& [number, offset] : pending) {
                    frames_[number] = offset;
                    log.highestPage = std::max(log.highestPage, number);
                }
                pending.clear();
                log.committed = true;
                log.databasePages = pages;
            }
        }
        return 0;
    }

    // `size` bytes of `fd` from `offset`, zeros past its end (and for a failing read, where such
    // reads are damage).
    int readAt(int fd, std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
        const int err = readFully(*io_, fd, offset, buffer, size);
        if (err != EIO || !readFailureIsDamage_) return err;
        std::fill(buffer, buffer + size, std::uint8_t{0});
        return 0;
    }

    int readPage(std::uint32_t page, std::uint8_t* buffer, std::size_t size = 0) {
        if (size == 0) size = pageSize_;
        if (!frames_.empty()) {
            if (const auto frame = frames_.find(page); frame != frames_.end())
                return readAt(walFd_, frame->second, buffer, size);
        }
        return readAt(dbFd_, std::uint64_t{page - 1} * pageSize_, buffer, size);
    }

    bool inRange(std::uint32_t page) const { return page >= 2 && page <= pageCount_; }

    // Whether the file or a committed frame holds `page`, one of the count: every other is zeros
    // and holds nothing.
    bool held(std::uint32_t page) const {
        return page <= filePages_ || std::binary_search(logPagesBeyond_.begin(), logPagesBeyond_.end(), page);
    }
    // The page after `page` that the file or a committed frame holds, within the count; 0 past
    // the last.
    std::uint32_t nextHeld(std::uint32_t page) const {
        if (page < filePages_) return page + 1;
        const auto next = std::upper_bound(logPagesBeyond_.begin(), logPagesBeyond_.end(), page);
        return next == logPagesBeyond_.end() ? 0 : *next;
    }

    // The free list's trunks and leaves, marked free. A trunk is taken only when its leaf count
    // and every leaf number it holds are sound and no page of it was seen before; the list ends
    // at the first that is not.
    int walkFreeList() {
        if (!headerWhole_) {
            counts_.freeListWhole = false;
            return 0;
        }
        std::vector<std::uint8_t> buffer(pageSize_);
        std::uint64_t found = 0;
        bool whole = true;
        for (std::uint32_t trunk = firstTrunk_; trunk != 0;) {
            if (!inRange(trunk) || state_[trunk] != kUnreached) {
                whole = false;
                break;
            }
            if (const int err = readPage(trunk, buffer.data())) return err;
            const std::uint32_t count = get4(buffer.data() + 4);
            bool sound = count <= usable_ / 4 - 2;
            std::uint32_t marked = 0;
            for (; sound && marked < count; ++marked) {
                const std::uint32_t leaf = get4(buffer.data() + 8 + 4 * marked);
                sound = leaf != trunk && inRange(leaf) && state_[leaf] == kUnreached;
                if (sound) state_[leaf] = kFree;
            }
            if (!sound) {
                // Not a trunk after all (its pointer or its own bytes are damaged): none of it is taken.
                for (std::uint32_t i = 0; i + 1 < marked; ++i) state_[get4(buffer.data() + 8 + 4 * i)] = kUnreached;
                whole = false;
                break;
            }
            state_[trunk] = kFree;
            found += 1 + count;
            trunk = get4(buffer.data());
        }
        counts_.freeListWhole = whole && found == freePages_;
        return 0;
    }

    // The tree from `root` for the table `owner` of tables_ (kNoTable: an index's, the schema's,
    // a table not planned), each page taken once: its table leaves go to `leaves` in key order (an
    // index tree's pages, when no `columns` are given). A page that does not read as one of the
    // tree (of the other kind, a header or interior cells that do not read) is rejected and lost to
    // the tree; a leaf whose rowids, or an interior page whose keys, fall outside the range its
    // parent gives it, or a leaf with a record that does not fit `columns` (when given: the
    // table's shape), is rejected as a stray pointer's. Rejected pages
    // are left to the scan for leaves no tree reaches, and may be taken by a later walk. A leaf
    // another table took goes to the one whose shape its records fit better.
    int walkTree(std::uint32_t root, std::int32_t owner, std::vector<std::uint32_t>* leaves,
                 const std::vector<Affinity>* columns, Tree& tree) {
        struct Visit {
            std::uint32_t page;
            bool table;          // which kind of tree, once the root told
            bool known;
            bool bounded;        // whether `low` bounds the keys
            std::int64_t low;    // keys are above it
            std::int64_t high;   // and at most this
        };
        if (root < 1 || root > pageCount_) {
            tree.lostPages = true;
            return 0;
        }
        std::vector<std::uint64_t> types;
        // A table's root is a table page.
        std::vector<Visit> stack{{root, true, owner != kNoTable, false, 0, std::numeric_limits<std::int64_t>::max()}};
        std::vector<std::uint8_t> buffer(pageSize_);
        const auto within = [](std::int64_t key, bool bounded, std::int64_t low, std::int64_t high) {
            return (!bounded || key > low) && key <= high;
        };
        // How the records of a table leaf fit `shape` (nullptr: any), and its rowids the visit's range.
        const auto leafFit = [&](const std::uint8_t* page, const PageHeader& header, const Visit* visit,
                                 const std::vector<Affinity>* shape) {
            Fit fit;
            for (std::uint32_t i = 0; fit.fits && i < header.cellCount; ++i) {
                LeafCell cell;
                // A cell that does not read is counted when the rows are read.
                if (!parseLeafCell(page, header, usable_, i, cell)) continue;
                if (visit && !within(cell.rowid, visit->bounded, visit->low, visit->high)) fit.fits = false;
                else if (shape) addRecordOf(page, cell, *shape, types, fit);
            }
            return fit;
        };
        while (!stack.empty()) {
            const Visit visit = stack.back();
            stack.pop_back();
            if (visit.page < 1 || visit.page > pageCount_ || state_[visit.page] == kUnused) {
                tree.lostPages = true;
                continue;
            }
            const std::uint8_t state = state_[visit.page];
            if (state == kFree) {
                // A freed page may still hold old rows that read as the tree's.
                tree.strays = true;
                continue;
            }
            if (state == kTree) {
                // Taken already: by this tree (a page reached twice), an unplanned one's, or another table's.
                const std::int32_t other = state_.entry(visit.page).table;
                if (owner == kNoTable || other == kNoTable || other == owner) {
                    tree.strays = true;
                    continue;
                }
                if (const int err = readPage(visit.page, buffer.data())) return err;
                PageHeader header;
                Table& theirs = tables_[static_cast<std::size_t>(other)];
                const Fit mine = parseHeader(buffer.data(), visit.page, usable_, header) && header.type == kLeafTable
                                     ? leafFit(buffer.data(), header, &visit, columns)
                                     : Fit{false, 0, 0};
                const Fit theirFit = mine.fits ? leafFit(buffer.data(), header, nullptr, &theirs.columns) : Fit{};
                if (!mine.fits || (theirFit.fits && !(mine > theirFit))) {
                    tree.strays = true;
                    // Alike: which of the two strays cannot be told, so both have it, rather than
                    // one losing its rows.
                    if (mine.fits && mine == theirFit) {
                        theirs.tree.strays = true;
                        if (leaves) leaves->push_back(visit.page);
                        shared_.push_back({visit.page, other, owner});
                    }
                    continue;
                }
                if (const auto at = std::find(theirs.pages.begin(), theirs.pages.end(), visit.page);
                    at != theirs.pages.end())
                    theirs.pages.erase(at);
                theirs.tree.strays = true;
                state_.entry(visit.page).table = owner;
                if (leaves) leaves->push_back(visit.page);
                continue;
            }
            if (const int err = readPage(visit.page, buffer.data())) return err;
            const std::uint8_t* page = buffer.data();
            PageHeader header;
            if (!parseHeader(page, visit.page, usable_, header) || (visit.known && header.table() != visit.table)) {
                state_[visit.page] = kRejected;
                tree.lostPages = true;
                continue;
            }
            if (header.type == kLeafTable) {
                if (!leafFit(page, header, &visit, columns).fits) {
                    state_[visit.page] = kRejected;
                    tree.strays = true;
                    continue;
                }
                state_[visit.page] = kTree;
                state_.entry(visit.page).table = owner;
                if (leaves) leaves->push_back(visit.page);
                continue;
            }
            if (header.type == kLeafIndex) {
                state_[visit.page] = kTree;
                state_.entry(visit.page).table = owner;
                if (leaves && !columns) leaves->push_back(visit.page);
                continue;
            }
            // An interior page: its children, the left-most popped first.
            std::vector<Visit> children;
            bool sound = true;
            // Keys that read but fall outside the range the parent gives: a pointer to another
            // tree's page, which SQLite follows without any error.
            bool foreign = false;
            std::int64_t low = visit.low;
            bool bounded = visit.bounded;
            for (std::uint32_t i = 0; sound && i < header.cellCount; ++i) {
                const std::uint32_t at = cellAt(page, header, usable_, i);
                sound = at != 0 && at + 4 <= usable_;
                if (!sound) break;
                const std::uint32_t child = get4(page + at);
                if (!header.table()) {
                    children.push_back({child, false, true, false, 0, 0});
                    continue;
                }
                std::uint64_t key = 0;
                sound = getVarint(page + at + 4, page + usable_, key) != 0;
                foreign = sound && !within(static_cast<std::int64_t>(key), bounded, low, visit.high);
                sound = sound && !foreign;
                if (!sound) break;
                children.push_back({child, true, true, bounded, low, static_cast<std::int64_t>(key)});
                low = static_cast<std::int64_t>(key);
                bounded = true;
            }
            if (!sound) {
                state_[visit.page] = kRejected;
                (foreign ? tree.strays : tree.lostPages) = true;
                continue;
            }
            children.push_back({header.rightChild, header.table(), true, bounded, low, visit.high});
            state_[visit.page] = kTree;
            state_.entry(visit.page).table = owner;
            // An index's interior cells hold entries too.
            if (leaves && !columns && !header.table()) leaves->push_back(visit.page);
            stack.insert(stack.end(), children.rbegin(), children.rend());
        }
        return 0;
    }

    // Adds the record of a leaf cell to `fit` for `columns`, judged by its header where that is on
    // the page and reads (a cell that does not decode is counted when the rows are read).
    static void addRecordOf(const std::uint8_t* page, const LeafCell& cell, const std::vector<Affinity>& columns,
                            std::vector<std::uint64_t>& types, Fit& fit) {
        const std::uint8_t* payload = page + cell.payloadAt;
        std::uint64_t headerSize = 0;
        const int lengthOfSize = recordHeaderSize(payload, cell.localSize, cell.payloadSize, headerSize);
        if (lengthOfSize == 0 || headerSize > cell.localSize ||
            !recordTypes(payload, headerSize, lengthOfSize, cell.payloadSize, types))
            return;
        addRecord(fit, columns, types);
    }

    // Whether the indexes of table `t` hold every row of the table leaf `page` that decodes (its
    // first value with its rowid): 1 when they do, 0 when not or when it has none that read.
    // Reads into `scratch`.
    int indexHolds(std::uint32_t page, std::int32_t t, Scratch& scratch, int& holds) {
        holds = 0;
        Table& table = tables_[static_cast<std::size_t>(t)];
        if (table.indexPages.empty()) return 0;
        if (!table.indexed) {
            table.indexed.emplace();
            for (const std::uint32_t leaf : table.indexPages) {
                if (const int err = readPage(leaf, scratch.page.data())) return err;
                PageHeader header;
                if (!parseHeader(scratch.page.data(), leaf, usable_, header) || header.table()) continue;
                // An index cell: its child on an interior page, its payload's size, then the
                // payload, here only whole on the page.
                const std::uint32_t maxLocal = (usable_ - 12) * 64 / 255 - 23;
                for (std::uint32_t i = 0; i < header.cellCount; ++i) {
                    std::uint32_t at = cellAt(scratch.page.data(), header, usable_, i);
                    if (at != 0 && !header.leaf()) at = at + 4 < usable_ ? at + 4 : 0;
                    std::uint64_t size = 0;
                    const int length = at == 0 ? 0 : getVarint(scratch.page.data() + at, scratch.page.data() + usable_, size);
                    if (length == 0 || size > maxLocal || at + length + size > usable_) continue;
                    const std::uint8_t* payload = scratch.page.data() + at + length;
                    std::uint64_t headerSize = 0;
                    const int lengthOfSize = recordHeaderSize(payload, static_cast<std::uint32_t>(size), size, headerSize);
                    if (lengthOfSize == 0 || !recordTypes(payload, headerSize, lengthOfSize, size, scratch.types) ||
                        scratch.types.size() < 2)
                        continue;
                    recordValues(payload + headerSize, scratch.types, scratch.values);
                    const Value& rowid = scratch.values.back();
                    if (rowid.type() != Value::Type::Integer) continue;
                    table.indexed->emplace(keyOf(scratch.values.front()), rowid.longLongValue());
                }
            }
        }
        if (const int err = readPage(page, scratch.page.data())) return err;
        PageHeader header;
        if (!parseHeader(scratch.page.data(), page, usable_, header) || header.type != kLeafTable) return 0;
        bool all = true, any = false;
        for (std::uint32_t i = 0; all && i < header.cellCount; ++i) {
            std::int64_t rowid = 0;
            bool decoded = false;
            if (const int err = decodeCell(scratch.page.data(), header, i, scratch, rowid, decoded)) return err;
            if (!decoded || scratch.values.empty()) continue;
            any = true;
            all = table.indexed->count({keyOf(scratch.values.front()), rowid}) > 0;
        }
        holds = all && any ? 1 : 0;
        return 0;
    }

    // A value as an index key compares it: its kind and its bytes.
    static std::string keyOf(const Value& value) {
        switch (value.type()) {
            case Value::Type::String: return "t" + value.string();
            case Value::Type::Data: return "b" + std::string(value.data().begin(), value.data().end());
            case Value::Type::Integer: return "i" + std::to_string(value.longLongValue());
            case Value::Type::Double: return "r" + std::to_string(value.doubleValue());
            default: return "n";
        }
    }

    // Where neither the header nor a log tells the page size, the largest at which the file's first
    // pages read as b-tree pages about as often as at any: at the true size each page start is
    // one, at twice it half of them are met, and below it no more are found.
    int guessPageSize() {
        if (headerWhole_ || !frames_.empty()) return 0;
        struct stat info {};
        if (const int err = io_->statusOf(dbFd_, info)) return err;
        const auto fileSize = static_cast<std::uint64_t>(info.st_size);
        const std::uint64_t span = std::min<std::uint64_t>(fileSize, 2u << 20);
        std::vector<std::uint8_t> buffer(65536);
        std::vector<std::pair<std::uint32_t, std::uint64_t>> found;
        std::uint64_t most = 0;
        for (std::uint32_t size = 512; size <= 65536; size *= 2) {
            std::uint64_t count = 0;
            for (std::uint64_t at = size; at + size <= span; at += size) {
                if (const int err = readAt(dbFd_, at, buffer.data(), size)) return err;
                if (looksLikeTreePage(buffer.data(), size)) ++count;
            }
            found.emplace_back(size, count);
            most = std::max(most, count);
        }
        if (most == 0) return 0;
        for (const auto& [size, count] : found) {
            if (count * 4 >= most * 3) pageSize_ = size;
        }
        usable_ = pageSize_;
        pageCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(fileSize / pageSize_, 0xfffffffe));
        // No committed frame: the file holds every page.
        filePages_ = pageCount_;
        return 0;
    }

    // Whether `page` (not page 1) of `size` bytes is a b-tree page: cells, each where the cell
    // content area is.
    static bool looksLikeTreePage(const std::uint8_t* page, std::uint32_t size) {
        PageHeader header;
        if (!parseHeader(page, 2, size, header) || header.cellCount == 0 || page[7] > 60) return false;
        const std::uint32_t content = get2(page + 5) == 0 ? 65536 : get2(page + 5);
        if (content < header.cellsFrom || content > size) return false;
        for (std::uint32_t i = 0; i < header.cellCount; ++i) {
            const std::uint32_t at = get2(page + header.cellArray + 2 * i);
            if (at < content || at >= size) return false;
        }
        return true;
    }

    // The table leaves no tree reached whose every record is a schema row (a type the schema
    // names, a name, a table, a root page, a statement): where page 1's tree is lost, the rest of
    // it. Added to `leaves` and taken.
    int findSchemaLeaves(Scratch& scratch, std::vector<std::uint32_t>& leaves) {
        return forEachUnreachedLeaf(scratch, [&](std::uint32_t page, const PageHeader& header) {
            bool schemaRows = header.cellCount > 0;
            for (std::uint32_t i = 0; schemaRows && i < header.cellCount; ++i) {
                std::int64_t rowid = 0;
                bool decoded = false;
                if (const int err = decodeCell(scratch.page.data(), header, i, scratch, rowid, decoded)) return err;
                const Value::Array& values = scratch.values;
                schemaRows = decoded && values.size() == 5 && values[0].isString() && values[1].isString() &&
                             values[2].isString() && values[3].type() == Value::Type::Integer &&
                             (values[4].isString() || values[4].isNull());
                if (!schemaRows) break;
                const std::string& type = values[0].string();
                schemaRows = type == "table" || type == "index" || type == "view" || type == "trigger";
            }
            if (!schemaRows) return 0;
            state_[page] = kTree;
            state_.entry(page).table = kNoTable;
            leaves.push_back(page);
            return 0;
        });
    }

    // The roots the schema names (page 1's tree, as far as it reads): its tables' and indexes'.
    int readSchema(const std::vector<std::uint32_t>& leaves, Scratch& scratch, std::vector<SchemaEntry>& schema) {
        for (const std::uint32_t page : leaves) {
            if (const int err = readPage(page, scratch.page.data())) return err;
            PageHeader header;
            if (!parseHeader(scratch.page.data(), page, usable_, header)) continue;
            for (std::uint32_t i = 0; i < header.cellCount; ++i) {
                std::int64_t rowid = 0;
                bool decoded = false;
                if (const int err = decodeCell(scratch.page.data(), header, i, scratch, rowid, decoded)) return err;
                const Value::Array& values = scratch.values;
                if (!decoded || values.size() < 4 || !values[0].isString() || !values[1].isString() ||
                    values[3].type() != Value::Type::Integer)
                    continue;
                const long long root = values[3].longLongValue();
                if (root < 2 || root > pageCount_) continue;
                schema.push_back({values[0].string() == "table", values[1].string(), static_cast<std::uint32_t>(root),
                                  values[2].isString() ? values[2].string() : std::string()});
            }
        }
        return 0;
    }

    // Every table leaf no tree reached and no free list holds, given to the table its records fit
    // best; where tables tie, to the one of them whose tree lost pages, else to none.
    int scanForOrphans(Scratch& scratch) {
        return forEachUnreachedLeaf(scratch, [&](std::uint32_t page, const PageHeader& header) {
            state_[page] = kOrphan;
            std::vector<Fit> fits(tables_.size());
            Fit schemaFit;
            std::int64_t rows = 0;
            for (std::uint32_t i = 0; i < header.cellCount; ++i) {
                std::int64_t rowid = 0;
                bool decoded = false;
                if (const int err = decodeCell(scratch.page.data(), header, i, scratch, rowid, decoded)) return err;
                if (!decoded) continue;
                ++rows;
                for (std::size_t t = 0; t < tables_.size(); ++t) addRecord(fits[t], tables_[t].columns, scratch.types);
                addRecord(schemaFit, schemaColumns(), scratch.types);
            }
            if (rows == 0) return 0;
            std::size_t best = tables_.size();
            for (std::size_t t = 0; t < tables_.size(); ++t) {
                if (fits[t].fits && (best == tables_.size() || fits[t] > fits[best])) best = t;
            }
            const bool schemaWins = schemaFit.fits && (best == tables_.size() || !(fits[best] > schemaFit));
            if (best == tables_.size() || schemaWins) {
                counts_.unassignedOrphanRows += rows;
                return 0;
            }
            // Of tables alike, the one whose own tree lost pages: the others' trees are whole.
            std::vector<std::size_t> alike;
            std::vector<std::size_t> lost;
            for (std::size_t t = 0; t < tables_.size(); ++t) {
                if (!fits[t].fits || !(fits[t] == fits[best])) continue;
                alike.push_back(t);
                if (tables_[t].tree.lostPages || tables_[t].tree.strays) lost.push_back(t);
            }
            if (alike.size() == 1 || lost.size() == 1) {
                tables_[alike.size() == 1 ? best : lost[0]].pages.push_back(page);
                return 0;
            }
            // Else the one whose index holds its rows, where only one's does.
            std::vector<std::size_t> holding;
            for (const std::size_t t : alike) {
                int has = 0;
                if (const int err = indexHolds(page, static_cast<std::int32_t>(t), scratch, has)) return err;
                if (has > 0) holding.push_back(t);
            }
            if (holding.size() == 1) {
                tables_[holding[0]].pages.push_back(page);
                return 0;
            }
            counts_.unassignedOrphanRows += rows;
            std::vector<std::string> names;
            for (const std::size_t t : alike) names.push_back(tables_[t].name);
            std::sort(names.begin(), names.end());
            const auto same = std::find_if(counts_.unplaced.begin(), counts_.unplaced.end(),
                                           [&](const Counts::Unplaced& unplaced) { return unplaced.tables == names; });
            if (same != counts_.unplaced.end()) same->rows += rows;
            else counts_.unplaced.push_back({std::move(names), rows});
            return 0;
        });
    }

    // Each table leaf no tree reached and no free list holds, with its header, to `visit`, which
    // answers 0 or an errno that ends the scan. Only the pages the file or its log hold: the rest
    // are zeros.
    template <typename Visit>
    int forEachUnreachedLeaf(Scratch& scratch, Visit&& visit) {
        for (std::uint32_t page = nextHeld(1); page != 0; page = nextHeld(page)) {
            if (state_[page] != kUnreached && state_[page] != kRejected) continue;
            // The type byte first: most such pages are overflow pages.
            if (const int err = readPage(page, scratch.page.data(), 1)) return err;
            if (scratch.page[0] != kLeafTable) continue;
            if (const int err = readPage(page, scratch.page.data())) return err;
            PageHeader header;
            if (!parseHeader(scratch.page.data(), page, usable_, header)) continue;
            if (const int err = visit(page, header)) return err;
        }
        return 0;
    }

    // The record of a table leaf's `index`-th cell into `scratch.values` (its serial types in
    // `scratch.types`), its payload gathered from its overflow chain where it goes on. `decoded`
    // false when the cell does not decode. 0, or the errno of a read that failed.
    int decodeCell(const std::uint8_t* page, const PageHeader& header, std::uint32_t index, Scratch& scratch,
                   std::int64_t& rowid, bool& decoded) {
        decoded = false;
        LeafCell cell;
        if (!parseLeafCell(page, header, usable_, index, cell)) return 0;
        rowid = cell.rowid;
        const std::uint8_t* payload = page + cell.payloadAt;
        std::uint64_t headerSize = 0;
        const int lengthOfSize = recordHeaderSize(payload, cell.localSize, cell.payloadSize, headerSize);
        if (lengthOfSize == 0) return 0;
        // A header on the page is checked before any overflow page is read.
        const bool headerLocal = headerSize <= cell.localSize;
        if (headerLocal && !recordTypes(payload, headerSize, lengthOfSize, cell.payloadSize, scratch.types)) return 0;
        if (cell.payloadSize > cell.localSize) {
            bool whole = false;
            if (const int err = gatherOverflow(cell, payload, scratch, whole)) return err;
            if (!whole) return 0;
            payload = scratch.payload.data();
            if (!headerLocal && !recordTypes(payload, headerSize, lengthOfSize, cell.payloadSize, scratch.types))
                return 0;
        }
        recordValues(payload + headerSize, scratch.types, scratch.values);
        decoded = true;
        return 0;
    }

    // A payload's local part followed by its overflow chain into `scratch.payload`: `whole` false
    // when the chain leaves the pages held, meets a page of a tree or of the free list, comes
    // back on itself, or meets a page another cell's chain took (SQLite never shares one) before
    // the payload is complete. A chain's pages stay the cell's, even when it does not read whole,
    // so that cells naming one long chain walk it once between them.
    int gatherOverflow(const LeafCell& cell, const std::uint8_t* local, Scratch& scratch, bool& whole) {
        whole = false;
        const std::uint64_t perPage = usable_ - 4;
        const std::uint64_t rest = cell.payloadSize - cell.localSize;
        if ((rest + perPage - 1) / perPage > std::uint64_t{filePages_} + logPagesBeyond_.size()) return 0;
        scratch.payload.assign(local, local + cell.localSize);
        scratch.chain.clear();
        int err = 0;
        bool sound = true;
        std::uint32_t next = cell.firstOverflow;
        for (std::uint64_t left = rest; left > 0;) {
            // A page neither the file nor the log holds has no payload on it.
            if (!inRange(next) || !held(next)) {
                sound = false;
                break;
            }
            PageStates::Entry& entry = state_.entry(next);
            const bool taken = entry.owner != 0 && (entry.owner != cell.leaf || entry.ownerIndex != cell.index);
            if (taken || (entry.state & kInChain) != 0 || (entry.state != kUnreached && entry.state != kRejected)) {
                sound = false;
                break;
            }
            entry.state |= kInChain;
            entry.owner = cell.leaf;
            entry.ownerIndex = cell.index;
            scratch.chain.push_back(next);
            if ((err = readPage(next, scratch.overflow.data())) != 0) break;
            const std::uint64_t take = std::min(left, perPage);
            scratch.payload.insert(scratch.payload.end(), scratch.overflow.begin() + 4,
                                   scratch.overflow.begin() + 4 + static_cast<std::ptrdiff_t>(take));
            left -= take;
            next = get4(scratch.overflow.data());
        }
        for (const std::uint32_t page : scratch.chain) state_[page] &= static_cast<std::uint8_t>(~kInChain);
        whole = sound && err == 0;
        return err;
    }

    std::shared_ptr<FileIO> io_;
    const bool readFailureIsDamage_;
    int dbFd_ = -1;
    int walFd_ = -1;
    std::uint32_t pageSize_ = kDefaultPageSize;
    std::uint32_t usable_ = kDefaultPageSize;
    std::uint32_t pageCount_ = 0;
    std::uint32_t filePages_ = 0;  // those of the count the file holds
    std::vector<std::uint32_t> logPagesBeyond_;  // those of the count past them the log holds, in order
    bool headerWhole_ = false;
    std::uint32_t firstTrunk_ = 0;
    std::uint32_t freePages_ = 0;
    // The committed frames of the log: page number to the offset of its latest content there.
    std::unordered_map<std::uint32_t, std::uint64_t> frames_;

    bool planned_ = false;
    PageStates state_;
    // Leaves two tables' trees of one shape both reach: the page and the two tables.
    struct Shared {
        std::uint32_t page;
        std::int32_t first;
        std::int32_t second;
    };
    std::vector<Shared> shared_;
    std::vector<Table> tables_;
    std::unordered_map<std::string, std::size_t> byName_;
    Counts counts_;
};

std::unique_ptr<SQLitePageImage> SQLitePageImage::open(const std::string& path, int& err, bool readFailureIsDamage) {
    try {
        auto image = std::make_unique<Image>(readFailureIsDamage);
        if ((err = image->open(path)) != 0) return nullptr;
        return std::unique_ptr<SQLitePageImage>(new SQLitePageImage(std::move(image)));
    } catch (const std::bad_alloc&) {
        err = ENOMEM;
        return nullptr;
    }
}

SQLitePageImage::SQLitePageImage(std::unique_ptr<Image> image) : image_(std::move(image)) {}
SQLitePageImage::~SQLitePageImage() = default;

int SQLitePageImage::plan(const std::vector<TableShape>& tables) {
    try {
        return image_->plan(tables);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

int SQLitePageImage::forEachRow(const std::string& table,
                                const std::function<bool(std::int64_t, const Value::Array&)>& row) {
    try {
        return image_->forEachRow(table, nullptr, row);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

int SQLitePageImage::forEachRow(const std::string& table, const std::function<bool(std::int64_t rowid)>& wanted,
                                const std::function<bool(std::int64_t, const Value::Array&)>& row) {
    try {
        return image_->forEachRow(table, &wanted, row);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
}

const SQLitePageImage::Counts& SQLitePageImage::counts() const { return image_->counts(); }

SQLitePageImage::TreeFindings SQLitePageImage::findings(const std::string& table) const {
    return image_->findings(table);
}
