// Lets the shared monitor finish its queued work (sample migration, loads, writes) before the
// test process removes its home and exits.
#include "analytics/core/APMMonitor.h"
#include "platform/dispatch/DispatchQueue.h"

#include <gtest/gtest.h>

namespace {

class MonitorQueueEnvironment : public testing::Environment {
public:
    void TearDown() override { APMMeasurementMonitor()->monitorQueue()->sync([] {}); }
};

const testing::Environment* const registered = testing::AddGlobalTestEnvironment(new MonitorQueueEnvironment);

}  // namespace
