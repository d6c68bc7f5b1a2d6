// The files a damaged store leaves beside its own file, by name, and what becomes of each:
//
//   name                          what it holds                      what the next opening does
//   ----------------------------  ---------------------------------  ----------------------------------
//   <file>.uncarried[-N]          a damaged file set aside, its      carries its rows into the store,
//                                 rows not yet carried               then names it <file>.carried[-N]
//   <file>.damaged[-N]            an earlier version's copy,         the same, once
//                                 carried or not
//   <file>.carried[-N]            a copy whose rows the store has,   keeps the newest, for whoever looks
//                                 no larger than kCarriedCopyBytes   into the damage; removes the older
//                                 with its log (a larger one is      ones after a carry
//                                 removed once carried)
//   <file>.unread[-N]             a kept file no opening could       nothing: it stays for a person
//                                 read, or too costly to read
//                                 (APMSalvage gives up on it)
//   any of those + "-wal",        its log, shared memory, journal    goes with it
//     "-shm", "-journal"
//   <file>.carrying               the rows read out of a kept file   removes it
//                                 on their way into the store
//   <file>.salvage-record         which kept files an opening began  reads it; removes it once nothing
//                                 to read, which were carried,      waits (APMCarriedRecord)
//                                 which were given up on
//   <file>, with a companion      a setting aside cut short          finishes it
//     gone ahead to <file>.uncarried-N
//   anything at one of these      (a person's folder, a link)        moves it aside to "<name>.moved",
//     names that is no file                                          "<name>.moved-2", ..., never
//                                                                    following it
//
// A new copy always takes the number after the highest of its kind, so that the newest is known, and
// an uncarried one also after every one the record still names, so that no name stands for two files.
#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <string>
#include <vector>

class APMKeptFiles {
public:
    // The largest carried copy kept for a person: one of a large store would take as much room
    // again as the store itself, for good.
    static constexpr std::uint64_t kCarriedCopyBytes = 4u << 20;

    // For the store's file at `path`.
    explicit APMKeptFiles(std::string path);

    // Before the store opens its file: what is no file at a kept name goes aside, and a setting
    // aside cut short is finished (only a file found damaged is ever moved: the moving is finished,
    // never undone; a companion alone at any other name proves nothing).
    void resume() const;
    // The kept files whose rows may still wait to be carried, oldest first: an earlier version's
    // copies, then the uncarried ones, by number.
    std::vector<std::string> waiting() const;

    // Sets the store's file aside under the next uncarried name, companions first and the file
    // last, and syncs the folder; a moving that fails is undone. 0 or the errno; `aside` its name.
    [[nodiscard]] int setAside(std::string& aside) const;
    // A carried kept file takes the next carried name (the folder synced), or goes when it is
    // larger than kCarriedCopyBytes, and the older carried copies go where they can. 0 or the
    // errno of the naming or removal.
    [[nodiscard]] int nameCarried(const std::string& kept) const;
    // A kept file given up on takes the next unread name; 0 or the errno; `to` its name.
    [[nodiscard]] int nameUnread(const std::string& kept, std::string& to) const;
    // Every kept file, the working copy and the record, for a wipe of the store's data.
    void removeAll() const;

    // The working copy the rows of a kept file go through.
    std::string carryingPath() const { return path_ + ".carrying"; }
    std::string recordPath() const { return path_ + ".salvage-record"; }
    // Removes the file at `path` with its log, shared memory and journal; 0 or the first errno.
    static int removeWithCompanions(const std::string& path);
    // The line (34026) that the files stay as they are for the next opening, and why.
    static void sayWaiting(const NSErrorPtr& why);
    // Whatever stands at `place` that is no regular file goes to the first free "<place>.moved"
    // name, with a line (34024) saying where; 0, or the errno of a move that failed.
    static int moveAsideWhatIsNoFile(const std::string& place);

private:
    std::string path_;
};
