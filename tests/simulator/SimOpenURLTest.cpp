// The simulator's "open" command: the system opens a URL in the running application, which its
// delegate (and an installed delegate proxy's interceptors) are handed.
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIImage.h"
#include "simulator/SimCommand.h"
#include "simulator/SimRenderer.h"
#include "simulator/SimSession.h"

#include <gtest/gtest.h>

namespace {

class Opener : public NSObject, public UIApplicationDelegate {
public:
    explicit Opener(bool opens) : opens_(opens) {}
    bool respondsToApplicationOpenURLOptions() const override { return opens_; }
    bool applicationOpenURLOptions(UIApplication&, const std::string& url, const Value::Dictionary&) override {
        urls.push_back(url);
        return true;
    }
    std::vector<std::string> urls;

private:
    bool opens_;
};

class SimOpenURLTest : public testing::Test {
protected:
    void TearDown() override {
        NSRunLoop::mainRunLoop()->runUntilIdle();
        UIApplication::sharedApplication()->reset();
        SimRenderer::releaseCaches();
        // The session chose the manual clock and the phone's picture scale.
        Clock::setReal();
        UIImage::setScreenScale(1);
    }
};

TEST_F(SimOpenURLTest, OpenHandsTheURLToTheApplicationAsTheSystemWould) {
    const auto command = SimCommand::parse("open gallery://paintings?utm_source=mail&utm_medium=email");
    ASSERT_EQ(command.kind, SimCommand::Kind::OpenURL);
    EXPECT_EQ(command.text, "gallery://paintings?utm_source=mail&utm_medium=email");
    EXPECT_EQ(SimCommand::parse("open").kind, SimCommand::Kind::Invalid);
    EXPECT_EQ(SimCommand::parse("open two words").kind, SimCommand::Kind::Invalid);
    // A word without a scheme is no link: it is refused, and says why.
    for (const char* notALink : {"open notaurl", "open :nothing", "open 9gag://x", "open pa_th:x"}) {
        const auto refused = SimCommand::parse(notALink);
        EXPECT_EQ(refused.kind, SimCommand::Kind::Invalid) << notALink;
        EXPECT_NE(refused.error.find("is not a link the application opens"), std::string::npos) << refused.error;
    }
    EXPECT_EQ(SimCommand::parse("open notaurl").error,
              "open: \"notaurl\" is not a link the application opens (a link starts with its scheme, e.g. "
              "gallery://paintings)");
    EXPECT_EQ(SimCommand::parse("open mailto:ada@example.com").kind, SimCommand::Kind::OpenURL);

    SimSession session{false};
    auto delegate = std::make_shared<Opener>(true);
    auto interceptor = std::make_shared<Opener>(true);
    auto application = UIApplication::sharedApplication();
    application->setDelegate(delegate);
    application->installDelegateProxy();
    application->addDelegateInterceptor(interceptor);
    const auto result = session.execute(command);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.message, "");
    EXPECT_EQ(delegate->urls, std::vector<std::string>{command.text});
    EXPECT_EQ(interceptor->urls, std::vector<std::string>{command.text});

    // An application that cannot open URLs says so; the command still ran.
    application->setDelegate(std::make_shared<Opener>(false));
    const auto refused = session.execute(SimCommand::parse("open gallery://x"));
    EXPECT_TRUE(refused.ok);
    EXPECT_EQ(refused.message, "the application did not open gallery://x");
    EXPECT_EQ(interceptor->urls.size(), 2u);
}

}  // namespace
