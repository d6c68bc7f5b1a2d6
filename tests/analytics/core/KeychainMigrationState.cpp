// Each test has a keychain of its own (in its home), so the engine's memory of the items it
// has migrated goes with it; one migrated after a test's end, by work it left running, is
// reported.
#include "analytics/core/APMKeychainWrapper.h"
#include "tests/fixtures/ProcessState.h"

#include <string>

namespace {

const ProcessState::Registration migrations("measurement keychain migrations", [] {
    return ProcessStateSnapshot{.description = std::to_string(APMKeychainWrapper::migrationCount()) + " migrated",
                                .restore = [] { APMKeychainWrapper::forgetMigrations(); },
                                .changedByTests = true};
});

}  // namespace
