// The simulator's "ad" command: an advertising library in the process tells the reporter it
// finds by name that an ad unit came on screen or left it.
#include "platform/foundation/ClassRegistry.h"
#include "platform/services/DAROAdExposureReporterInterop.h"
#include "simulator/SimAdUnits.h"
#include "simulator/SimCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Reporter : public NSObject, public DAROAdExposureReporterInterop {
public:
    void beginAdUnitExposure(const std::string& adUnitID) override { told.push_back("begin " + adUnitID); }
    void endAdUnitExposure(const std::string& adUnitID) override { told.push_back("end " + adUnitID); }
    std::vector<std::string> told;
};

TEST(SimAdUnitsTest, AdShowsOrHidesOneUnit) {
    auto shown = SimCommand::parse("ad show banner-1");
    ASSERT_EQ(shown.kind, SimCommand::Kind::AdUnit);
    EXPECT_EQ(shown.direction, "show");
    EXPECT_EQ(shown.text, "banner-1");
    EXPECT_EQ(SimCommand::parse("ad hide video").direction, "hide");
    for (const char* wrong : {"ad", "ad show", "ad banner-1", "ad open banner-1", "ad show a b"}) {
        EXPECT_EQ(SimCommand::parse(wrong).kind, SimCommand::Kind::Invalid) << wrong;
    }
}

TEST(SimAdUnitsTest, TheReporterRegisteredByNameIsTold) {
    EXPECT_NE(SimAdUnits::setVisible("banner-1", true), "");
    auto reporter = std::make_shared<Reporter>();
    ClassRegistry::registerClass(DAROAdExposureReporterInterop::kClassName, [reporter] { return reporter; });
    EXPECT_EQ(SimAdUnits::setVisible("banner-1", true), "");
    EXPECT_EQ(SimAdUnits::setVisible("banner-1", false), "");
    ClassRegistry::unregisterClass(DAROAdExposureReporterInterop::kClassName);
    EXPECT_EQ(reporter->told, (std::vector<std::string>{"begin banner-1", "end banner-1"}));
}

}  // namespace
