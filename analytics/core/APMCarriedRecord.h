// What the salvage knows of each kept file from one opening to the next: that its rows were
// carried, that an opening failed to read it, that a read of it failed (the next takes such a read
// for a damaged page), that it was given up on. One line a fact, in a file beside the store's,
// each appended and synced as it happens: a store found damaged later is set aside whole, and
// cannot take this with it, so that no kept row is carried twice. A torn last line is passed over.
#pragma once

#include <optional>
#include <string>
#include <vector>

class APMCarriedRecord {
public:
    enum class Fact { Carried, FailedToRead, ReadFailed, GaveUp };
    // The store's own table of the kept files it carried, written in the carry's transaction: a
    // kill between the commit and the line in the file leaves the store's word. Never carried itself.
    static constexpr const char* kStoreTable = "salvage_carried";

    // Reads the record at `path`; none there is an empty record.
    explicit APMCarriedRecord(std::string path);

    // A kept file by its name, its size and its first bytes, which a copy of the folder keeps
    // (a power cut's, a backup's): a file that takes the name later is another one. One whose
    // bytes cannot be read now goes by its name and size alone; nothing when it is not there.
    static std::optional<std::string> identityOf(const std::string& keptPath);

    bool has(Fact fact, const std::string& identity) const { return count(fact, identity) > 0; }
    int count(Fact fact, const std::string& identity) const;
    // Appends the fact and syncs it (the folder too, when the record is new); 0 or the errno.
    [[nodiscard]] int note(Fact fact, const std::string& identity);
    // Once nothing waits.
    void remove();

private:
    std::string path_;
    std::vector<std::pair<Fact, std::string>> facts_;
    bool tornEnd_ = false;
};
