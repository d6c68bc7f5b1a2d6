// What the salvage knows of each kept file from one opening to the next, in a file beside the
// store's: that an opening began reading it (counted before the read, so that a read that kills
// or hangs the process counts too), that such a reading ended through no fault of the file, that
// its rows were carried, that it was given up on. One line a fact, each appended and synced as it
// happens; a store found damaged later is set aside whole and cannot take this with it, so that no
// kept row is carried twice. A torn last line is passed over, and so are the words of an earlier
// version that no longer count ("failed-to-read", "read-failed").
//
// A file is known two ways. Before it is read, by its key: its name and size, which the kept
// files never give a later file while the record names them (APMKeptFiles::setAside). Once read,
// by its identity: the digests of its bytes and of its log's, which no other file shares unless it
// holds the same bytes, and so the same rows. Only the identity names a file carried: a file is
// never taken for carried without having been read whole.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

class APMCarriedRecord {
public:
    enum class Fact { Reading, Spared, Carried, GaveUp };
    // The store's own table of the identities it carried, written in the carry's transaction: a
    // kill between the commit and the line in the file leaves the store's word, which a store set
    // aside hands to the record first (noteCarried). Never carried itself.
    static constexpr const char* kStoreTable = "salvage_carried";

    // A kept file read whole.
    struct Identity {
        // "<file's SHA-256>", with "+<log's SHA-256>" when a log or journal stands beside it.
        std::string text;
        // As an earlier version recorded a file it carried: "<size>:<hash of the first 64 KB> <name>".
        std::string earlier;
    };

    // Reads the record at `path`; none there is an empty record.
    explicit APMCarriedRecord(std::string path);

    // The key of the kept file at `keptPath`: "<size> <name>"; nothing when it is not there.
    static std::optional<std::string> keyOf(const std::string& keptPath);
    // Reads the kept file and its log or journal whole into `identity`; 0 or the errno of the
    // first open or read that failed.
    [[nodiscard]] static int identityOf(const std::string& keptPath, Identity& identity);
    // Whether `identity` is among the identities `carried` names: the same bytes; or the same
    // file without the log that a move or a removal cut short took from it (an older state of
    // the same rows); or the file an earlier version recorded by its first bytes.
    static bool isCarried(const Identity& identity, const std::set<std::string>& carried);

    // The openings that began reading the file of `key` and neither ended through no fault of
    // the file nor carried it.
    int attempts(const std::string& key) const;
    bool gaveUp(const std::string& key) const;
    // Every identity the record holds carried.
    std::set<std::string> carried() const;
    // The names of the kept files the lines hold.
    std::set<std::string> names() const;

    // Appends the fact of the file of `key` (and for Carried its identity) and syncs it, the
    // folder too when the record is new; 0 or the errno.
    [[nodiscard]] int note(Fact fact, const std::string& key, const std::string& identity = {});
    // Notes every identity of `identities` the record does not hold yet as carried; 0 or the
    // first errno.
    [[nodiscard]] int noteCarried(const std::vector<std::string>& identities);
    // Once nothing waits.
    void remove();

private:
    struct Line {
        Fact fact;
        std::string key;
        std::string identity;
    };
    [[nodiscard]] int append(const std::string& text);

    std::string path_;
    std::vector<Line> lines_;
    bool tornEnd_ = false;
};
