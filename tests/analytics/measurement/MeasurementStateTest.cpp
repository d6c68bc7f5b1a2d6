// The engine's shared instance is checked state: a test that leaves the engine running is told
// so, and the engine is stopped.
#include "EngineTestSupport.h"
#include "tests/fixtures/ProcessState.h"

namespace {

using MeasurementState = EngineTest;

}  // namespace

TEST_F(MeasurementState, AnEngineLeftRunningReadsAsALeakAndIsStopped) {
    const ProcessState::Piece* state = nullptr;
    for (const auto& registered : ProcessState::pieces())
        if (registered.name == "APMMeasurement::sharedInstance()") state = &registered;
    ASSERT_NE(state, nullptr);
    const auto before = state->capture();
    start();
    ASSERT_TRUE(APMMeasurement::hasSharedInstance());
    EXPECT_NE(state->capture().description, before.description);
    settle();
    before.restore();
    EXPECT_FALSE(APMMeasurement::hasSharedInstance());
    EXPECT_EQ(state->capture().description, before.description);
}
