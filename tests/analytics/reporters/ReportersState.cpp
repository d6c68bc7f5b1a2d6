// The process's look-up of the search-ads client, dropped after every test: the next one starts
// as a new process would.
#include "analytics/reporters/APMSearchAdReporter.h"
#include "tests/fixtures/ProcessState.h"

namespace {

const ProcessState::Registration reporters("search-ads client", [] {
    return ProcessStateSnapshot{"", [] { APMSearchAdReporter::resetAdClientInstance(); }};
});

}  // namespace
