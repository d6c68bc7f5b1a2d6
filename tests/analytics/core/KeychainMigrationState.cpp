// Each test has a keychain of its own (in its home), so the engine's memory of the items it
// has migrated goes with it.
#include "analytics/core/APMKeychainWrapper.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::Registration migrations("measurement keychain migrations", [] {
    return ProcessStateSnapshot{"", [] { APMKeychainWrapper::forgetMigrations(); }};
});

}  // namespace
