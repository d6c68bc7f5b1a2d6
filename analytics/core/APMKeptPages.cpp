// The view of a kept file's pages: the survey that decides it, its own schema, and the SQL hooks
// that serve it. Cells are decoded as the recovery extension's page tables decode them
// (sqlite_dbdata, sqlite_dbptr), so that what the survey judges is what they would read.
#include "analytics/core/APMKeptPages.h"

#include "platform/dispatch/DispatchCancellation.h"
#include "platform/foundation/NSString.h"
#include "platform/sqlite/SQLiteVFS.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// What a page is to the view.
enum Class : std::uint8_t {
    // No tree reaches it, nor is it free: its rows are lost ones.
    Lost,
    // A tree of the kept schema reaches it.
    Tree,
    // The kept schema's own tree (but the first page).
    Schema,
    // On the free list, and no tree reaches it.
    Free,
};

// A chain page's owner when it is no chain's: a b-tree page, or a page of the free list.
constexpr std::int32_t kUnowned = -1;
constexpr std::int32_t kBtreePage = -2;
constexpr std::int32_t kFreePage = -3;

// The recovery's page tables read a little past a page's end as zeros.
constexpr std::size_t kPadding = 100;

std::uint32_t get2(const std::uint8_t* bytes) { return (std::uint32_t{bytes[0]} << 8) | bytes[1]; }
std::uint32_t get4(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
}
void put2(std::uint8_t* bytes, std::uint32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value >> 8);
    bytes[1] = static_cast<std::uint8_t>(value);
}
void put4(std::uint8_t* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// SQLite's varint, as the page tables read it.
int getVarint(const std::uint8_t* bytes, std::int64_t& value) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
        v = (v << 7) + (bytes[i] & 0x7f);
        if (!(bytes[i] & 0x80)) {
            value = static_cast<std::int64_t>(v);
            return i + 1;
        }
    }
    v = (v << 8) + bytes[8];
    value = static_cast<std::int64_t>(v);
    return 9;
}
int getVarint32(const std::uint8_t* bytes, std::int64_t& value) {
    const int length = getVarint(bytes, value);
    if (value < 0 || value > 0xffffffffLL) value = 0;
    return length;
}
std::string varint(std::uint64_t value) {
    if (value > 0x00ffffffffffffffULL) {
        std::string out(9, '\0');
        out[8] = static_cast<char>(value);
        value >>= 8;
        for (int i = 7; i >= 0; --i, value >>= 7) out[static_cast<std::size_t>(i)] = static_cast<char>((value & 0x7f) | 0x80);
        return out;
    }
    std::string out;
    do {
        out.insert(out.begin(), static_cast<char>((value & 0x7f) | (out.empty() ? 0 : 0x80)));
        value >>= 7;
    } while (value != 0);
    return out;
}

bool isInterior(int type) { return type == 0x02 || type == 0x05; }
bool hasCells(int type) { return type == 0x02 || type == 0x0a || type == 0x0d; }
bool isBtree(int type) { return type == 0x02 || type == 0x05 || type == 0x0a || type == 0x0d; }

// One cell of a page as sqlite_dbdata decodes it: false where it stops reading the page.
struct Cell {
    std::int64_t payload = 0;
    std::int64_t rowid = 0;
    // Where its payload starts on the page, how much of it is there, and the first overflow page.
    std::uint32_t at = 0;
    std::int64_t local = 0;
    std::uint32_t overflow = 0;
};
bool decodeCell(const std::uint8_t* page, int usable, int type, std::size_t header, std::uint32_t index, Cell& cell) {
    const int pointer = type == 0x02 ? 4 : 0;
    const bool rowid = type == 0x0d;
    std::size_t at = header + 8 + pointer + index * 2;
    if (at > static_cast<std::size_t>(usable)) return false;
    at = get2(page + at) + pointer;
    if (at > static_cast<std::size_t>(usable)) return false;
    at += getVarint32(page + at, cell.payload);
    if (rowid && at < static_cast<std::size_t>(usable)) at += getVarint(page + at, cell.rowid);
    const std::int64_t most = rowid ? usable - 35 : (usable - 12) * 64 / 255 - 23;
    if (cell.payload <= most) {
        cell.local = cell.payload;
    } else {
        const std::int64_t least = (usable - 12) * 32 / 255 - 23;
        const std::int64_t k = least + (cell.payload - least) % (usable - 4);
        cell.local = k <= most ? k : least;
    }
    if (cell.local + static_cast<std::int64_t>(at) > usable) return false;
    cell.at = static_cast<std::uint32_t>(at);
    cell.overflow = cell.payload > cell.local ? get4(page + at + cell.local) : 0;
    return true;
}

// A value of a record: its serial type and bytes.
struct Field {
    std::int64_t type = 0;
    std::string bytes;
};
// The fields of a record, as many as read.
std::vector<Field> fieldsOf(const std::string& record) {
    std::vector<Field> fields;
    std::string padded = record + std::string(kPadding, '\0');
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(padded.data());
    std::int64_t header = 0;
    std::size_t at = static_cast<std::size_t>(getVarint32(bytes, header));
    if (header > static_cast<std::int64_t>(record.size())) return fields;
    std::size_t body = static_cast<std::size_t>(header);
    while (at < static_cast<std::size_t>(header)) {
        Field field;
        at += static_cast<std::size_t>(getVarint32(bytes + at, field.type));
        static const int kSizes[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
        const std::size_t size = field.type >= 12 ? static_cast<std::size_t>((field.type - 12) / 2)
                                                  : static_cast<std::size_t>(kSizes[field.type]);
        if (body + size > record.size()) break;
        field.bytes = record.substr(body, size);
        body += size;
        fields.push_back(std::move(field));
    }
    return fields;
}
// A text field in the file's encoding (1 UTF-8, 2 UTF-16le, 3 UTF-16be), as UTF-8; none for another type.
std::optional<std::string> textOf(const Field& field, std::uint32_t encoding) {
    if (field.type < 13 || field.type % 2 == 0) return std::nullopt;
    if (encoding != 2 && encoding != 3) return field.bytes;
    std::u16string units;
    for (std::size_t i = 0; i + 1 < field.bytes.size(); i += 2) {
        const auto a = static_cast<std::uint8_t>(field.bytes[i]);
        const auto b = static_cast<std::uint8_t>(field.bytes[i + 1]);
        units += static_cast<char16_t>(encoding == 2 ? (b << 8) | a : (a << 8) | b);
    }
    return NSString::fromUTF16(units);
}
std::optional<std::int64_t> integerOf(const Field& field) {
    if (field.type == 8) return 0;
    if (field.type == 9) return 1;
    if (field.type < 1 || field.type > 6) return std::nullopt;
    std::uint64_t value = static_cast<std::int8_t>(field.bytes[0]);
    for (std::size_t i = 1; i < field.bytes.size(); ++i) value = (value << 8) | static_cast<std::uint8_t>(field.bytes[i]);
    return static_cast<std::int64_t>(value);
}

// A record of the view's own schema: type, name, table, root, SQL, text in `encoding`.
std::string schemaRecord(const char* type, const std::string* name, std::int64_t root, const std::string* sql,
                         std::uint32_t encoding) {
    const auto encoded = [encoding](const std::string& text) {
        if (encoding != 2 && encoding != 3) return text;
        std::string out;
        for (const char16_t unit : NSString::toUTF16(text)) {
            const auto high = static_cast<char>(unit >> 8);
            const auto low = static_cast<char>(unit & 0xff);
            out += encoding == 2 ? std::string{low, high} : std::string{high, low};
        }
        return out;
    };
    std::string types;
    std::string body;
    const auto text = [&](const std::string* value) {
        if (!value) {
            types += '\0';
            return;
        }
        const std::string bytes = encoded(*value);
        types += varint(13 + 2 * bytes.size());
        body += bytes;
    };
    const std::string kind = type;
    text(&kind);
    text(name);
    text(name);
    types += '\x06';
    std::string rootBytes(8, '\0');
    for (int i = 0; i < 8; ++i) rootBytes[static_cast<std::size_t>(i)] = static_cast<char>(static_cast<std::uint64_t>(root) >> (56 - 8 * i));
    body += rootBytes;
    text(sql);
    // The header's size counts its own varint, one byte for any header here under 128 bytes.
    std::string header = varint(types.size() + 1) + types;
    if (header.size() != types.size() + 1) header = varint(types.size() + 2) + types;
    return header + body;
}

}  // namespace

// What the survey found, page by page (index 0 unused).
struct APMKeptPages::Survey {
    std::vector<std::uint8_t> type;
    std::vector<std::uint8_t> cls;
    // The first four bytes: an overflow or trunk page's next.
    std::vector<std::uint32_t> next;
    // Interior pages' children, in the order sqlite_dbptr gives them.
    std::vector<std::uint32_t> childStart;
    std::vector<std::uint32_t> children;
    // The cells shown of each page that has cells: those sqlite_dbdata reads before it stops.
    std::vector<std::uint16_t> shown;
    struct Chained {
        std::uint32_t page;
        std::uint16_t cell;
        std::uint32_t first;
        std::int64_t pages;
        bool broken;
    };
    std::vector<Chained> chained;
    std::vector<std::int32_t> owner;
    // Cells not shown for their chains, by page.
    std::map<std::uint32_t, std::vector<std::uint16_t>> hidden;
    // A lost page's parent in a lost subtree, and its top.
    std::vector<std::uint32_t> parent;
    std::vector<std::uint32_t> top;

    std::vector<std::uint32_t> childrenOf(std::uint32_t page) const {
        return {children.begin() + childStart[page], children.begin() + childStart[page + 1]};
    }
};

// The connection that reads the kept file's pages (its built-in sqlite_dbpage, so that a log
// beside it is read too). Its schema is parsed and never used: triggers and views are off.
class APMKeptPages::Connection {
public:
    ~Connection() {
        sqlite3_finalize(read_);
        sqlite3_close(db_);
    }
    int open(const std::string& uri) {
        int rc = sqlite3_open_v2(uri.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW,
                                 SQLiteFileIOVFSName());
        if (rc != SQLITE_OK) return fail(rc);
        for (const auto& [option, on] : {std::pair(SQLITE_DBCONFIG_ENABLE_TRIGGER, 0), std::pair(SQLITE_DBCONFIG_ENABLE_VIEW, 0),
                                         std::pair(SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0),
                                         // A schema that does not parse reads all the same.
                                         std::pair(SQLITE_DBCONFIG_WRITABLE_SCHEMA, 1)}) {
            (void)sqlite3_db_config(db_, option, on, nullptr);
        }
        if ((rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr)) != SQLITE_OK) return fail(rc);
        // With a schema that does not parse, the first statement fails and the next one reads.
        for (int attempt = 0; attempt < 2 && !read_; ++attempt) {
            rc = sqlite3_prepare_v2(db_, "SELECT data FROM sqlite_dbpage WHERE pgno = ?1", -1, &read_, nullptr);
        }
        return read_ ? SQLITE_OK : fail(rc);
    }
    // Page `number`, empty when the file has none of that size.
    int read(std::int64_t number, int size, std::vector<std::uint8_t>& bytes) {
        bytes.clear();
        sqlite3_bind_int64(read_, 1, number);
        int rc = sqlite3_step(read_);
        if (rc == SQLITE_ROW) {
            if (sqlite3_column_bytes(read_, 0) == size) {
                const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(read_, 0));
                bytes.assign(data, data + size);
            }
            rc = SQLITE_OK;
        } else if (rc == SQLITE_DONE) {
            rc = SQLITE_OK;
        }
        const int reset = sqlite3_reset(read_);
        return rc == SQLITE_OK ? SQLITE_OK : fail(reset == SQLITE_OK ? rc : reset);
    }
    const std::string& message() const { return message_; }

private:
    int fail(int rc) {
        const int code = db_ ? sqlite3_extended_errcode(db_) : rc;
        message_ = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        return code == SQLITE_OK ? rc : code;
    }
    sqlite3* db_ = nullptr;
    sqlite3_stmt* read_ = nullptr;
    std::string message_;
};

APMKeptPages::APMKeptPages(std::string keptPath, std::vector<Declared> tables, const DispatchCancellation* cancellation)
    : keptPath_(std::move(keptPath)), tables_(std::move(tables)), cancellation_(cancellation) {}

APMKeptPages::~APMKeptPages() = default;

void APMKeptPages::allow(std::int64_t perPage, std::int64_t beyond) {
    start_ = reads_;
    perPage_ = perPage;
    beyond_ = beyond;
    spent_ = false;
}

bool APMKeptPages::take() {
    // Cancelled: the read ends by the way any failed read ends it, and no budget is spent.
    if (cancellation_ && cancellation_->isCancelled()) {
        cancelled_ = true;
        failRead(SQLITE_INTERRUPT, "the read was cancelled");
        return false;
    }
    if (!spent_ && ++reads_ <= start_ + perPage_ * pages_ + beyond_) return true;
    spent_ = true;
    return false;
}

void APMKeptPages::failRead(int code, const std::string& message) {
    if (readFailure_ != SQLITE_OK) return;
    readFailure_ = code;
    readFailureMessage_ = message;
}

bool APMKeptPages::raw(std::int64_t number, std::vector<std::uint8_t>& bytes) {
    if (!take()) return false;
    if (const int rc = connection_->read(number, pageSize_, bytes); rc != SQLITE_OK) {
        failRead(rc, connection_->message());
        return false;
    }
    return true;
}

int APMKeptPages::prepare(sqlite3* input) {
    const auto number = [input](const char* sql) {
        sqlite3_stmt* statement = nullptr;
        std::int64_t value = 0;
        if (sqlite3_prepare_v2(input, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
            value = sqlite3_column_int64(statement, 0);
        }
        sqlite3_finalize(statement);
        return value;
    };
    pageSize_ = static_cast<int>(number("PRAGMA main.page_size"));
    pages_ = number("PRAGMA main.page_count");
    int reserve = -1;
    if (sqlite3_file_control(input, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserve) != SQLITE_OK) reserve = 0;
    usable_ = pageSize_ - reserve;
    if (pageSize_ < 512 || usable_ < 480 || pages_ < 1) return SQLITE_CORRUPT;
    connection_ = std::make_unique<Connection>();
    if (const int rc = connection_->open(SQLiteKeptFileURI(keptPath_, pageSize_, reserve)); rc != SQLITE_OK) {
        failRead(rc, connection_->message());
        return rc;
    }
    if (const int rc = survey(); rc != SQLITE_OK) return rc;
    // Trees that would cost more than half of what a read may spend are not walked at all.
    if (2 * treeReads_ > perPage_ * pages_ + beyond_) {
        treesTooCostly_ = spent_ = true;
        return SQLITE_ABORT;
    }
    schemaPages();
    return SQLITE_OK;
}

int APMKeptPages::survey() {
    survey_ = std::make_unique<Survey>();
    Survey& s = *survey_;
    const auto n = static_cast<std::size_t>(pages_);
    s.type.assign(n + 1, 0);
    s.cls.assign(n + 1, Lost);
    s.next.assign(n + 1, 0);
    s.childStart.assign(n + 2, 0);
    s.shown.assign(n + 1, 0);
    const auto failure = [this] { return spent_ ? SQLITE_ABORT : readFailure_; };

    // 1. Every page once: its type, children, the cells shown and the chains they name.
    std::vector<std::uint8_t> page;
    std::vector<std::uint8_t> firstPage;
    for (std::size_t number = 1; number <= n; ++number) {
        s.childStart[number] = static_cast<std::uint32_t>(s.children.size());
        if (!raw(static_cast<std::int64_t>(number), page)) return failure();
        if (page.empty()) continue;
        if (number == 1) firstPage_ = page;
        // As the page tables have it: its usable bytes, then zeros.
        page.resize(static_cast<std::size_t>(usable_));
        page.resize(static_cast<std::size_t>(usable_) + kPadding, 0);
        if (number == 1) firstPage = page;
        const std::size_t header = number == 1 ? 100 : 0;
        const int type = page[header];
        s.next[number] = get4(page.data());
        if (!isBtree(type)) continue;
        s.type[number] = static_cast<std::uint8_t>(type);
        const std::uint32_t cells = get2(page.data() + header + 3);
        if (isInterior(type)) {
            const auto keep = [&](std::uint32_t child) {
                if (child >= 1 && child <= n) s.children.push_back(child);
            };
            keep(get4(page.data() + header + 8));
            for (std::uint32_t i = 0; i < cells; ++i) {
                const std::size_t at = header + 12 + 2 * i;
                if (at > static_cast<std::size_t>(usable_)) break;
                const std::size_t cell = get2(page.data() + at);
                if (cell <= static_cast<std::size_t>(usable_)) keep(get4(page.data() + cell));
            }
        }
        if (!hasCells(type)) continue;
        std::uint32_t shown = 0;
        for (Cell cell; shown < cells && decodeCell(page.data(), usable_, type, header, shown, cell); ++shown) {
            if (cell.payload <= cell.local) continue;
            const std::int64_t pages = (cell.payload - cell.local + usable_ - 5) / (usable_ - 4);
            s.chained.push_back({static_cast<std::uint32_t>(number), static_cast<std::uint16_t>(shown), cell.overflow, pages,
                                 false});
        }
        s.shown[number] = static_cast<std::uint16_t>(shown);
    }
    s.childStart[n + 1] = static_cast<std::uint32_t>(s.children.size());
    if (firstPage.empty()) {
        firstPage_.assign(static_cast<std::size_t>(pageSize_), 0);
        firstPage.assign(static_cast<std::size_t>(usable_) + kPadding, 0);
    }

    // 2. The free list, as the recovery would read it: trunks from the header on, each with at
    //    most 16,385 leaves.
    std::set<std::uint32_t> trunks;
    for (std::uint32_t trunk = get4(firstPage.data() + 32); trunk > 0 && trunks.insert(trunk).second;) {
        if (trunk > n) break;
        s.cls[trunk] = Free;
        if (!raw(trunk, page)) return failure();
        if (page.empty()) break;
        const std::int64_t count = std::min<std::int64_t>(16385, get4(page.data() + 4));
        for (std::int64_t i = 0; i < count && (3 + i) * 4 <= usable_; ++i) {
            const std::uint32_t leaf = get4(page.data() + 8 + 4 * i);
            if (leaf >= 2 && leaf <= n) s.cls[leaf] = Free;
        }
        trunk = get4(page.data());
    }

    // 3. The kept schema's tree below the first page.
    std::vector<std::uint32_t> stack = s.childrenOf(1);
    std::vector<std::uint8_t> seen(n + 1, 0);
    seen[1] = 1;
    while (!stack.empty()) {
        const std::uint32_t p = stack.back();
        stack.pop_back();
        if (seen[p]) continue;
        seen[p] = 1;
        s.cls[p] = Schema;
        for (const std::uint32_t child : s.childrenOf(p)) stack.push_back(child);
    }

    // 4. Each chain walked once, every page it takes marked as its: one that runs into a b-tree
    //    page, a free page or another chain's, ends early, runs on or leaves the file is broken,
    //    and so is the chain whose page it ran into. Cells of free pages are no one's.
    s.owner.assign(n + 1, kUnowned);
    s.owner[1] = kBtreePage;
    for (std::size_t p = 2; p <= n; ++p) {
        if (s.cls[p] == Free) s.owner[p] = kFreePage;
        else if (s.type[p] != 0) s.owner[p] = kBtreePage;
    }
    const auto hide = [&s] {
        s.hidden.clear();
        for (const Survey::Chained& chain : s.chained) {
            if (chain.broken) s.hidden[chain.page].push_back(chain.cell);
        }
    };
    const auto isHidden = [&s](std::uint32_t page, std::uint32_t cell) {
        const auto found = s.hidden.find(page);
        return found != s.hidden.end() && std::find(found->second.begin(), found->second.end(), cell) != found->second.end();
    };
    std::vector<std::uint8_t> walked(s.chained.size(), 0);
    const auto walk = [&](std::size_t index) {
        walked[index] = 1;
        Survey::Chained& chain = s.chained[index];
        if (chain.pages > static_cast<std::int64_t>(n)) {
            chain.broken = true;
            return;
        }
        std::uint32_t p = chain.first;
        for (std::int64_t k = 0; k < chain.pages; ++k) {
            if (p < 2 || p > n || s.owner[p] == kBtreePage || s.owner[p] == kFreePage) {
                chain.broken = true;
                return;
            }
            if (s.owner[p] >= 0) {
                chain.broken = true;
                s.chained[static_cast<std::size_t>(s.owner[p])].broken = true;
                return;
            }
            s.owner[p] = static_cast<std::int32_t>(index);
            const std::uint32_t next = s.next[p];
            if ((k + 1 == chain.pages) != (next == 0)) {
                chain.broken = true;
                return;
            }
            p = next;
        }
    };
    for (std::size_t i = 0; i < s.chained.size(); ++i) {
        if (s.cls[s.chained[i].page] != Free) walk(i);
    }
    hide();

    // 5. The kept schema's records: its roots, by what they are the roots of.
    const std::uint32_t encoding = get4(firstPage.data() + 56);
    // A record whole: the cell's part and its chain's, checked above.
    const auto payloadOf = [&](const std::vector<std::uint8_t>& bytes, const Cell& cell, std::string& record) {
        record.assign(reinterpret_cast<const char*>(bytes.data()) + cell.at, static_cast<std::size_t>(cell.local));
        std::vector<std::uint8_t> overflow;
        for (std::uint32_t p = cell.overflow; static_cast<std::int64_t>(record.size()) < cell.payload; p = get4(overflow.data())) {
            if (!raw(p, overflow)) return false;
            if (overflow.empty()) break;
            const auto take = std::min<std::int64_t>(usable_ - 4, cell.payload - static_cast<std::int64_t>(record.size()));
            record.append(reinterpret_cast<const char*>(overflow.data()) + 4, static_cast<std::size_t>(take));
        }
        return static_cast<std::int64_t>(record.size()) == cell.payload;
    };
    std::set<std::string> storeNames;
    for (const Declared& table : tables_) storeNames.insert(table.name);
    for (std::size_t number = 1; number <= n; ++number) {
        if ((number != 1 && s.cls[number] != Schema) || s.type[number] != 0x0d) continue;
        if (number == 1) page = firstPage;
        else if (!raw(static_cast<std::int64_t>(number), page)) return failure();
        if (page.empty()) continue;
        page.resize(static_cast<std::size_t>(usable_));
        page.resize(static_cast<std::size_t>(usable_) + kPadding, 0);
        const std::size_t header = number == 1 ? 100 : 0;
        for (std::uint32_t i = 0; i < s.shown[number]; ++i) {
            Cell cell;
            if (!decodeCell(page.data(), usable_, 0x0d, header, i, cell) || isHidden(static_cast<std::uint32_t>(number), i)) {
                continue;
            }
            std::string record;
            if (!payloadOf(page, cell, record)) {
                if (spent_ || readFailure_ != SQLITE_OK) return failure();
                continue;
            }
            const auto fields = fieldsOf(record);
            if (fields.size() < 4) continue;
            const auto type = textOf(fields[0], encoding);
            const auto name = textOf(fields[1], encoding);
            const auto table = textOf(fields[2], encoding);
            const auto root = integerOf(fields[3]);
            if (!type || !root) continue;
            if (*type == "table") schemaRead_ = true;
            if (*root < 2 || *root > pages_ || s.cls[static_cast<std::size_t>(*root)] == Schema) continue;
            keptRoots_[*root] = *type == "table";
            if (*type == "table" && name && storeNames.count(*name)) storeRoots_[*name] = *root;
            if (*type == "index" && name && table) keptIndexes_[*table].push_back({*name, *root});
        }
    }

    // 6. The pages the kept roots' trees reach; a free one among them is theirs, and the chains of
    //    its cells are walked now.
    std::fill(seen.begin(), seen.end(), 0);
    for (const auto& [root, isTable] : keptRoots_) stack.push_back(static_cast<std::uint32_t>(root));
    while (!stack.empty()) {
        const std::uint32_t p = stack.back();
        stack.pop_back();
        if (p == 1 || seen[p] || s.cls[p] == Schema) continue;
        seen[p] = 1;
        if (s.cls[p] == Free) s.owner[p] = s.type[p] != 0 ? kBtreePage : kUnowned;
        s.cls[p] = Tree;
        for (const std::uint32_t child : s.childrenOf(p)) stack.push_back(child);
    }
    for (std::size_t i = 0; i < s.chained.size(); ++i) {
        if (!walked[i] && s.cls[s.chained[i].page] == Tree) walk(i);
    }
    hide();

    // 7. Lost subtrees: each lost page's parent (the lowest-numbered lost interior page naming it,
    //    as the recovery's map has it), and the top above it: none where the parents go round.
    s.parent.assign(n + 1, 0);
    for (std::size_t q = 2; q <= n; ++q) {
        if (s.cls[q] != Lost || !isInterior(s.type[q])) continue;
        for (const std::uint32_t child : s.childrenOf(static_cast<std::uint32_t>(q))) {
            if (child >= 2 && child != q && s.cls[child] == Lost && s.parent[child] == 0) {
                s.parent[child] = static_cast<std::uint32_t>(q);
            }
        }
    }
    s.top.assign(n + 1, 0);
    std::vector<std::uint8_t> state(n + 1, 0);  // 1 on the path being walked, 2 done
    std::vector<std::uint32_t> path;
    for (std::size_t start = 2; start <= n; ++start) {
        if (s.cls[start] != Lost || state[start]) continue;
        path.clear();
        std::uint32_t top = 0;
        for (std::uint32_t p = static_cast<std::uint32_t>(start);;) {
            if (state[p] == 2) {
                top = s.top[p];
                break;
            }
            if (state[p] == 1) break;
            state[p] = 1;
            path.push_back(p);
            if (s.parent[p] == 0) {
                top = p;
                break;
            }
            p = s.parent[p];
        }
        for (const std::uint32_t q : path) {
            state[q] = 2;
            s.top[q] = top;
        }
    }
    count();
    return SQLITE_OK;
}

void APMKeptPages::count() {
    const Survey& s = *survey_;
    // The overflow pages the chains shown on each page take.
    std::vector<std::int64_t> chainPages(static_cast<std::size_t>(pages_) + 1, 0);
    for (const Survey::Chained& chain : s.chained) {
        if (!chain.broken) chainPages[chain.page] += chain.pages;
    }
    // The store table whose tree reaches each page (the first by name), and what the recovery's
    // walks of the store tables' trees read: each page twice (its children, its cells), and the
    // chains of its cells. Trees that reach the same pages read them once each.
    std::vector<std::int32_t> storeOf(static_cast<std::size_t>(pages_) + 1, -1);
    std::vector<std::string> names;
    for (const auto& [name, root] : storeRoots_) {
        for (const std::int64_t p : reach(root)) {
            treeReads_ += 2 + chainPages[static_cast<std::size_t>(p)];
            if (storeOf[static_cast<std::size_t>(p)] < 0) storeOf[static_cast<std::size_t>(p)] = static_cast<std::int32_t>(names.size());
        }
        names.push_back(name);
    }
    for (const Survey::Chained& chain : s.chained) {
        if (!chain.broken || s.type[chain.page] != 0x0d) continue;
        if (s.cls[chain.page] == Tree && storeOf[chain.page] >= 0) ++unreadableByTable_[names[static_cast<std::size_t>(storeOf[chain.page])]];
        else if (s.cls[chain.page] == Lost) ++unreadableLost_;
    }
    for (std::size_t p = 2; p < s.type.size(); ++p) {
        if (s.cls[p] != Lost || s.type[p] != 0x0d) continue;
        const auto hidden = s.hidden.find(static_cast<std::uint32_t>(p));
        lostRows_ += s.shown[p] - static_cast<std::int64_t>(hidden == s.hidden.end() ? 0 : hidden->second.size());
    }
}

bool APMKeptPages::blank(std::int64_t number) const {
    const Survey& s = *survey_;
    const auto p = static_cast<std::size_t>(number);
    return s.cls[p] == Schema || s.cls[p] == Free || (s.cls[p] == Lost && isInterior(s.type[p]));
}

std::vector<std::int64_t> APMKeptPages::reach(std::int64_t root, const std::set<std::int64_t>& excluded) const {
    std::vector<std::int64_t> pages;
    if (!survey_) return pages;
    const Survey& s = *survey_;
    std::vector<std::uint8_t> seen(static_cast<std::size_t>(pages_) + 1, 0);
    std::vector<std::int64_t> stack{root};
    while (!stack.empty()) {
        const std::int64_t p = stack.back();
        stack.pop_back();
        if (p < 1 || p > pages_ || seen[static_cast<std::size_t>(p)] || (p != root && excluded.count(p))) continue;
        seen[static_cast<std::size_t>(p)] = 1;
        pages.push_back(p);
        if (p == 1 || blank(p)) continue;
        for (const std::uint32_t child : s.childrenOf(static_cast<std::uint32_t>(p))) stack.push_back(child);
    }
    return pages;
}

std::vector<std::int64_t> APMKeptPages::childrenOf(std::int64_t number) const {
    if (!survey_ || number < 2 || number > pages_ || blank(number)) return {};
    const auto children = survey_->childrenOf(static_cast<std::uint32_t>(number));
    return {children.begin(), children.end()};
}

bool APMKeptPages::complete(std::int64_t number) const {
    if (!survey_ || number < 2 || number > pages_) return true;
    return !survey_->hidden.count(static_cast<std::uint32_t>(number));
}

int APMKeptPages::typeOf(std::int64_t number) const {
    if (!survey_ || number < 1) return 0;
    if (number == 1) return firstPage_[100];
    if (number > pages_) {
        const auto index = static_cast<std::size_t>(number - pages_ - 1);
        return index < schemaPages_.size() ? schemaPages_[index][0] : 0;
    }
    return blank(number) ? 0 : survey_->type[static_cast<std::size_t>(number)];
}

std::int64_t APMKeptPages::topOf(std::int64_t page) const {
    if (!survey_ || page < 2 || page > pages_ || survey_->cls[static_cast<std::size_t>(page)] != Lost) return page;
    const std::uint32_t top = survey_->top[static_cast<std::size_t>(page)];
    return top != 0 ? top : page;
}

bool APMKeptPages::page(std::int64_t number, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (!surveyed_) return true;
    // The view's own schema costs no read of the file.
    if (number == 1 || number > pages_) {
        const auto index = static_cast<std::size_t>(number - pages_ - 1);
        if (number == 1) bytes = firstPage_;
        else if (index < schemaPages_.size()) bytes = schemaPages_[index];
        return true;
    }
    if (number < 1) return true;
    if (blank(number)) {
        if (!take()) return false;
        bytes.assign(static_cast<std::size_t>(pageSize_), 0);
        return true;
    }
    if (!raw(number, bytes)) return false;
    const Survey& s = *survey_;
    const auto p = static_cast<std::size_t>(number);
    const int type = s.type[p];
    if (bytes.empty() || (type != 0x0d && type != 0x0a)) return true;
    const std::uint32_t cells = get2(bytes.data() + 3);
    const auto hidden = s.hidden.find(static_cast<std::uint32_t>(p));
    if (s.shown[p] == cells && hidden == s.hidden.end()) return true;
    // The cells shown, in their order, the rest of the pointer array cleared.
    bytes.resize(static_cast<std::size_t>(pageSize_) + kPadding, 0);
    std::vector<std::uint8_t> pointers;
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < s.shown[p]; ++i) {
        if (hidden != s.hidden.end() && std::find(hidden->second.begin(), hidden->second.end(), i) != hidden->second.end()) {
            continue;
        }
        pointers.push_back(bytes[8 + 2 * i]);
        pointers.push_back(bytes[9 + 2 * i]);
        ++kept;
    }
    std::copy(pointers.begin(), pointers.end(), bytes.begin() + 8);
    put2(bytes.data() + 3, kept);
    bytes.resize(static_cast<std::size_t>(pageSize_));
    return true;
}

void APMKeptPages::schemaPages() {
    const std::uint32_t stored = get4(firstPage_.data() + 56);
    const std::uint32_t encoding = stored >= 1 && stored <= 3 ? stored : 1;
    std::vector<std::string> records;
    std::set<std::int64_t> storeRootPages;
    for (const Declared& table : tables_) {
        const auto root = storeRoots_.find(table.name);
        if (root == storeRoots_.end()) continue;
        records.push_back(schemaRecord("table", &table.name, root->second, &table.createSQL, encoding));
        storeRootPages.insert(root->second);
    }
    for (const auto& [root, isTable] : keptRoots_) {
        if (!storeRootPages.count(root)) records.push_back(schemaRecord("index", nullptr, root, nullptr, encoding));
    }

    // A table b-tree of the records, rowids from 1, its root the first page; every other page after
    // the file's last, where no pass over the file's pages goes.
    const std::int64_t usable = usable_;
    const auto newPage = [this] {
        schemaPages_.emplace_back(static_cast<std::size_t>(pageSize_), 0);
        return pages_ + static_cast<std::int64_t>(schemaPages_.size());
    };
    const auto pageAt = [this](std::int64_t number) -> std::vector<std::uint8_t>& {
        return number == 1 ? firstPage_ : schemaPages_[static_cast<std::size_t>(number - pages_ - 1)];
    };
    std::vector<std::string> cells;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string& record = records[i];
        const auto size = static_cast<std::int64_t>(record.size());
        std::int64_t local = size;
        if (size > usable - 35) {
            const std::int64_t least = (usable - 12) * 32 / 255 - 23;
            const std::int64_t k = least + (size - least) % (usable - 4);
            local = k <= usable - 35 ? k : least;
        }
        std::string cell = varint(static_cast<std::uint64_t>(size)) + varint(i + 1) + record.substr(0, static_cast<std::size_t>(local));
        // The rest in a chain of pages, the cell's last four bytes naming the first.
        std::uint8_t* link = nullptr;
        if (local < size) {
            cell += std::string(4, '\0');
        }
        for (std::int64_t at = local; at < size; at += usable - 4) {
            const std::int64_t number = newPage();
            if (link) put4(link, static_cast<std::uint32_t>(number));
            else put4(reinterpret_cast<std::uint8_t*>(cell.data()) + cell.size() - 4, static_cast<std::uint32_t>(number));
            std::vector<std::uint8_t>& overflow = pageAt(number);
            const std::string part = record.substr(static_cast<std::size_t>(at), static_cast<std::size_t>(usable - 4));
            std::copy(part.begin(), part.end(), overflow.begin() + 4);
            link = overflow.data();
        }
        cells.push_back(std::move(cell));
    }
    // Lays `cells` (with their keys) out on page `number` as a page of `type`.
    const auto layOut = [&](std::int64_t number, int type, const std::vector<std::string>& pageCells, std::uint32_t right) {
        std::vector<std::uint8_t>& bytes = pageAt(number);
        const std::size_t header = number == 1 ? 100 : 0;
        bytes[header] = static_cast<std::uint8_t>(type);
        put2(&bytes[header + 3], static_cast<std::uint32_t>(pageCells.size()));
        if (type == 0x05) put4(&bytes[header + 8], right);
        std::size_t end = static_cast<std::size_t>(usable);
        const std::size_t pointers = header + (type == 0x05 ? 12 : 8);
        for (std::size_t i = 0; i < pageCells.size(); ++i) {
            end -= pageCells[i].size();
            std::copy(pageCells[i].begin(), pageCells[i].end(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
            put2(&bytes[pointers + 2 * i], static_cast<std::uint32_t>(end));
        }
        put2(&bytes[header + 5], static_cast<std::uint32_t>(end));
    };
    const auto fits = [usable](std::size_t header, const std::vector<std::string>& pageCells) {
        std::size_t used = header;
        for (const std::string& cell : pageCells) used += cell.size() + 2;
        return used <= static_cast<std::size_t>(usable);
    };
    // Level by level, pages of the cells pending until the first page takes them: leaves of the
    // records, then interior pages of a cell (child, highest key) per page below.
    int type = 0x0d;
    std::vector<std::string> pending = cells;
    std::vector<std::int64_t> keys;
    for (std::size_t i = 0; i < cells.size(); ++i) keys.push_back(static_cast<std::int64_t>(i + 1));
    while (!fits(type == 0x0d ? 108 : 112, pending)) {
        std::vector<std::pair<std::int64_t, std::int64_t>> made;
        std::vector<std::string> onPage;
        std::int64_t last = 0;
        const auto flush = [&] {
            const std::int64_t number = newPage();
            if (type == 0x0d) {
                layOut(number, type, onPage, 0);
            } else {
                // The page's last cell's child becomes its right child.
                const std::string lastCell = onPage.back();
                onPage.pop_back();
                layOut(number, type, onPage, get4(reinterpret_cast<const std::uint8_t*>(lastCell.data())));
            }
            made.emplace_back(number, last);
            onPage.clear();
        };
        for (std::size_t i = 0; i < pending.size(); ++i) {
            std::vector<std::string> trial = onPage;
            trial.push_back(pending[i]);
            if (!onPage.empty() && !fits(type == 0x0d ? 8 : 12, trial)) flush();
            onPage.push_back(pending[i]);
            last = keys[i];
        }
        flush();
        // The level above: a cell per page made, its child and highest key.
        pending.clear();
        keys.clear();
        for (const auto& [child, highest] : made) {
            std::string cell(4, '\0');
            put4(reinterpret_cast<std::uint8_t*>(cell.data()), static_cast<std::uint32_t>(child));
            pending.push_back(cell + varint(static_cast<std::uint64_t>(highest)));
            keys.push_back(highest);
        }
        type = 0x05;
    }
    std::uint32_t right = 0;
    if (type == 0x05) {
        right = get4(reinterpret_cast<const std::uint8_t*>(pending.back().data()));
        pending.pop_back();
    }
    std::fill(firstPage_.begin() + 100, firstPage_.end(), 0);
    layOut(1, type, pending, right);

    // Its header: the file's own, but for what SQLite's page tables and the recovery read of it.
    static const char kMagic[] = "SQLite format 3";
    std::copy(kMagic, kMagic + sizeof kMagic, firstPage_.begin());
    firstPage_[16] = static_cast<std::uint8_t>((pageSize_ >> 8) & 0xff);
    firstPage_[17] = static_cast<std::uint8_t>(pageSize_ >> 16);
    firstPage_[18] = firstPage_[19] = 1;
    firstPage_[20] = static_cast<std::uint8_t>(pageSize_ - usable_);
    firstPage_[21] = 64;
    firstPage_[22] = firstPage_[23] = 32;
    put4(&firstPage_[28], static_cast<std::uint32_t>(pages_ + static_cast<std::int64_t>(schemaPages_.size())));
    // No free list: its pages read as pages of nothing.
    put4(&firstPage_[32], 0);
    put4(&firstPage_[36], 0);
    put4(&firstPage_[56], encoding);
    std::copy(firstPage_.begin() + 24, firstPage_.begin() + 28, firstPage_.begin() + 92);
}

// The recovery's page table: "SELECT data FROM sqlite_dbpage(?) WHERE pgno = ?" and nothing else.
struct APMKeptPages::PageTable {
    sqlite3_vtab base;
    APMKeptPages* pages;
    sqlite3* db;

    struct Cursor {
        sqlite3_vtab_cursor base;
        std::int64_t number = 0;
        std::vector<std::uint8_t> bytes;
        bool done = true;
    };

    static int connect(sqlite3* db, void* pages, int, const char* const*, sqlite3_vtab** table, char**) {
        const int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(pgno INTEGER PRIMARY KEY, data BLOB, schema HIDDEN)");
        if (rc != SQLITE_OK) return rc;
        auto* made = new PageTable{};
        made->pages = static_cast<APMKeptPages*>(pages);
        made->db = db;
        *table = &made->base;
        return SQLITE_OK;
    }
    static int disconnect(sqlite3_vtab* table) {
        delete reinterpret_cast<PageTable*>(table);
        return SQLITE_OK;
    }
    // A page by its number; the schema named is the one the table was opened for.
    static int bestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
        int number = -1;
        for (int i = 0; i < info->nConstraint; ++i) {
            const auto& constraint = info->aConstraint[i];
            if (constraint.op != SQLITE_INDEX_CONSTRAINT_EQ) continue;
            if (constraint.iColumn == 0 && constraint.usable) number = i;
            if (constraint.iColumn == 2) {
                if (!constraint.usable) return SQLITE_CONSTRAINT;
                info->aConstraintUsage[i].omit = 1;
            }
        }
        if (number < 0) return SQLITE_CONSTRAINT;
        info->aConstraintUsage[number].argvIndex = 1;
        info->aConstraintUsage[number].omit = 1;
        info->estimatedCost = 1;
        info->estimatedRows = 1;
        info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
        return SQLITE_OK;
    }
    static int open(sqlite3_vtab*, sqlite3_vtab_cursor** cursor) {
        *cursor = &(new Cursor{})->base;
        return SQLITE_OK;
    }
    static int close(sqlite3_vtab_cursor* cursor) {
        delete reinterpret_cast<Cursor*>(cursor);
        return SQLITE_OK;
    }
    static int filter(sqlite3_vtab_cursor* base, int, const char*, int count, sqlite3_value** values) {
        auto* cursor = reinterpret_cast<Cursor*>(base);
        auto* table = reinterpret_cast<PageTable*>(base->pVtab);
        cursor->number = count > 0 ? sqlite3_value_int64(values[0]) : 0;
        int rc = SQLITE_OK;
        if (!table->pages->page(cursor->number, cursor->bytes, table->db, rc)) {
            sqlite3_free(table->base.zErrMsg);
            table->base.zErrMsg = sqlite3_mprintf("%s", table->pages->spent() ? kSpent : table->pages->readFailureMessage().c_str());
            return rc;
        }
        cursor->done = cursor->bytes.empty();
        return SQLITE_OK;
    }
    static int next(sqlite3_vtab_cursor* cursor) {
        reinterpret_cast<Cursor*>(cursor)->done = true;
        return SQLITE_OK;
    }
    static int eof(sqlite3_vtab_cursor* cursor) { return reinterpret_cast<Cursor*>(cursor)->done; }
    static int column(sqlite3_vtab_cursor* base, sqlite3_context* context, int column) {
        const auto* cursor = reinterpret_cast<Cursor*>(base);
        if (column == 0) sqlite3_result_int64(context, cursor->number);
        else if (column == 1) sqlite3_result_blob(context, cursor->bytes.data(), static_cast<int>(cursor->bytes.size()), SQLITE_TRANSIENT);
        else sqlite3_result_text(context, "main", -1, SQLITE_STATIC);
        return SQLITE_OK;
    }
    static int rowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* rowid) {
        *rowid = reinterpret_cast<Cursor*>(cursor)->number;
        return SQLITE_OK;
    }

    static constexpr const char* kSpent = "the kept file's reads are spent";
    static constexpr sqlite3_module kModule = {
        0,       nullptr, connect, bestIndex, disconnect, disconnect, open,    close,   filter,  next,    eof,     column,
        rowid,   nullptr, nullptr, nullptr,   nullptr,    nullptr,    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
};

int APMKeptPages::serveRecovery(sqlite3* input) {
    return sqlite3_create_module(input, "sqlite_dbpage", &PageTable::kModule, this);
}

bool APMKeptPages::page(std::int64_t number, std::vector<std::uint8_t>& bytes, sqlite3* input, int& failure) {
    failure = SQLITE_OK;
    if (!surveyed_ && surveyFailure_ == SQLITE_OK) {
        surveyFailure_ = prepare(input);
        if (surveyFailure_ == SQLITE_OK) surveyed_ = true;
    }
    if (surveyFailure_ != SQLITE_OK) {
        // A survey the budget cut leaves every read spent.
        if (surveyFailure_ == SQLITE_ABORT) spent_ = true;
        failure = surveyFailure_;
        return false;
    }
    if (page(number, bytes)) return true;
    failure = spent_ ? SQLITE_ABORT : readFailure_;
    return false;
}

int APMKeptPages::serveSQL(sqlite3* db) {
    const auto getpage = [](sqlite3_context* context, int, sqlite3_value** values) {
        auto* pages = static_cast<APMKeptPages*>(sqlite3_user_data(context));
        const std::int64_t number = sqlite3_value_int64(values[0]);
        if (number == 0) {
            sqlite3_result_int64(context, pages->pageCount());
            return;
        }
        std::vector<std::uint8_t> bytes;
        if (!pages->page(number, bytes)) {
            sqlite3_result_error(context, pages->spent() ? PageTable::kSpent : pages->readFailureMessage().c_str(), -1);
            sqlite3_result_error_code(context, pages->spent() ? SQLITE_ABORT : pages->readFailure());
            return;
        }
        if (bytes.empty()) return;
        sqlite3_result_blob(context, bytes.data(), pages->usableSize(), SQLITE_TRANSIENT);
    };
    const auto top = [](sqlite3_context* context, int, sqlite3_value** values) {
        const auto* pages = static_cast<const APMKeptPages*>(sqlite3_user_data(context));
        sqlite3_result_int64(context, pages->topOf(sqlite3_value_int64(values[0])));
    };
    const int flags = SQLITE_UTF8 | SQLITE_DIRECTONLY;
    int rc = sqlite3_create_function(db, "getpage", 1, flags, this, getpage, nullptr, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_create_function(db, "keptTop", 1, flags | SQLITE_DETERMINISTIC, this, top, nullptr, nullptr);
    return rc;
}
