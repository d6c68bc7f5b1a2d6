// Carrying the user's favourites over from an old database file left in Documents by an earlier
// release into the current database of the same kind (pictures, texts).
#pragma once

#include "platform/foundation/NSError.h"

#include <string>

class FileSystem;
class SQLiteEngine;

namespace FavoritesImport {

// Copies the favourites of Documents/<fileName> into the database of `sql` (whose file is
// Documents/<currentDatabase>), whose favourites table has the one column `column`, in one transaction,
// keeping what is there; then detaches the file and deletes it. The path is bound, never written
// into a statement. A file that was copied but will not be deleted is logged and has its
// favourites emptied, so that a later import does not bring back favourites removed in the
// meantime; that still answers true (a file without favourites has nothing to lose). Both files
// are read whole first: when either has damaged pages, neither is changed, and neither is marked
// damaged (what the screens read of them may read well).
// False, keeping the file, on any failure, with an error of OEContentErrorDomain:
// OEContentErrorNoSuchFile (absent, the current database itself, or not a plain name),
// OEContentErrorStatement (it could not be attached or read), OEContentErrorBusy,
// OEContentErrorDetach, OEContentErrorDamaged (the sentence names each damaged file). The engine
// does not log a refused attach or the damage found either: the caller tells the error, in one line.
[[nodiscard]] bool importFromDocuments(SQLiteEngine& sql, const FileSystem& fileSystem, const std::string& fileName,
                                       const std::string& currentDatabase, const std::string& column,
                                       NSErrorPtr* error);

}  // namespace FavoritesImport
