// The error domain and codes of the content layer, for the failures it hands back.
#pragma once

#include "platform/foundation/NSError.h"

#include <string>

inline constexpr const char* OEContentErrorDomain = "OEContentErrorDomain";

enum OEContentErrorCode : long {
    // The source has no open database.
    OEContentErrorNotOpen = 1,
    // SQLite refused to prepare, bind or run a statement.
    OEContentErrorStatement = 2,
    // Another connection held the database locked for longer than the busy time-out.
    OEContentErrorBusy = 3,
    // A constraint refused the change (a favourite added twice).
    OEContentErrorConstraint = 4,
    // The file named is not there, or its name is not a plain relative path.
    OEContentErrorNoSuchFile = 5,
    // An attached database could not be detached.
    OEContentErrorDetach = 6,
    // Pages of the file are damaged. It is left as it is; one whose pages a statement met is
    // refused from then on.
    OEContentErrorDamaged = 7,
};

// A content error with the sentence as its description.
inline NSErrorPtr contentError(OEContentErrorCode code, const std::string& description) {
    return NSError::errorWithDomain(OEContentErrorDomain, code, {{NSLocalizedDescriptionKey, Value(description)}});
}
