// The launch of the application and the life-cycle forwards to the engine.
#include "app/AppDelegate.h"

#include "analytics/measurement/DUROrezurive.h"
#include "engine/OECore.h"
#include "config/OEConfigFactory.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSBundle.h"
#include "platform/services/RURAdi.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIColor.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"
#include "uikit/OECoreStrings.h"
#include "uikit/OESideMenuContainerViewController.h"

#include <cstdio>
#include <mutex>

namespace {

const char* const kNoPicturesDatabase = "No pictures database was found: the bundle holds no images*.sqlite file.";

// Stands in the centre when there is nothing else to show, saying why.
class MissingContentController : public UIViewController {
public:
    void viewDidLoad() override {
        UIViewController::viewDidLoad();
        auto v = view();
        v->setBackgroundColor(UIColor::whiteColor());
        auto label = UILabel::initWithFrame(CGRectInset(v->bounds(), 20, 20));
        label->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
        label->setNumberOfLines(0);
        label->setTextAlignment(NSTextAlignmentCenter);
        label->setText(kNoPicturesDatabase);
        v->addSubview(label);
    }
};

}  // namespace

const std::string& AppDelegate::registeredName() {
    static const std::string name = "AppDelegate";
    return name;
}

void AppDelegate::registerClass() {
    ClassRegistry::registerClass(registeredName(), [] { return std::make_shared<AppDelegate>(); });
}

void AppDelegate::registerClassWithAnalytics() {
    ClassRegistry::registerClass(registeredName(), [] {
        static std::once_flag loaded;
        std::call_once(loaded, [] { DUROrezurive::load(); });
        return std::make_shared<AppDelegate>();
    });
}

std::shared_ptr<OEConfig> AppDelegate::makeConfig() {
    auto factory = OEConfigFactory::defaultFactory();
    auto images = factory->makeImageConfigWith({OEImageCategory::gategoryWithIdentifer("subCat", OECoreString("By Janre")),
                                                OEImageCategory::gategoryWithIdentifer("subCat2", OECoreString("By Name"))});
    auto app = factory->makeAppConfig();
    auto color = factory->makeColorConfig();
    auto database = factory->makeDBConfig();
    auto locale = factory->makeLocaleConfig();
    auto media = factory->makeMediaConfig();
    auto text = factory->makeTextConfig();
    auto urlFormat = factory->makeURLFormatConfig();
    return OEConfig::initWithAppConfig(app, color, database, images, locale, media, text, urlFormat);
}

bool AppDelegate::applicationDidFinishLaunchingWithOptions(UIApplication&, const Value::Dictionary&) {
    RURAdi::configure();
    // A refused start has said why; there is nothing to show then.
    if (!OECore::setupWithConfig(makeConfig())) return false;
    window_ = UIWindow::initWithFrame(UIScreen::mainScreen()->bounds());
    OECore::instance()->showStartScreenInWindow(window_);
    if (!OECore::instance()->hasImages()) {
        Diagnostics::tellf("No pictures database was found: the bundle %s holds no images*.sqlite file.",
                           NSBundle::mainBundle()->bundlePath().c_str());
        auto container = std::dynamic_pointer_cast<OESideMenuContainerViewController>(OECore::instance()->viewController());
        if (container && !container->centerViewController())
            container->setCenterViewController(std::make_shared<MissingContentController>());
    }
    return true;
}

void AppDelegate::applicationWillResignActive(UIApplication& application) {
    OECore::instance()->applicationWillResignActive(application);
}

void AppDelegate::applicationDidEnterBackground(UIApplication& application) {
    OECore::instance()->applicationDidEnterBackground(application);
}

void AppDelegate::applicationWillEnterForeground(UIApplication& application) {
    OECore::instance()->applicationWillEnterForeground(application);
}

void AppDelegate::applicationDidBecomeActive(UIApplication& application) {
    OECore::instance()->applicationDidBecomeActive(application);
}

void AppDelegate::applicationWillTerminate(UIApplication& application) {
    OECore::instance()->applicationWillTerminate(application);
}

bool AppDelegate::applicationOpenURLOptions(UIApplication&, const std::string& url, const Value::Dictionary&) {
    Diagnostics::notef("Opened by the link %s.", url.c_str());
    return true;
}

void AppDelegate::remoteControlReceivedWithEvent(const std::shared_ptr<UIEvent>& event) {
    OECore::instance()->remoteControlReceivedWithEvent(event);
}
