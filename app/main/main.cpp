// The application's entry point: hands the delegate's class to the platform's application
// main function, which launches it and runs the main run loop. The bundle and home folders
// come from APP_BUNDLE and APP_HOME.
#include "app/AppDelegate.h"
#include "platform/ui/UIApplication.h"

int main(int argc, char** argv) {
    AppDelegate::registerClassWithAnalytics();
    return UIApplicationMain(argc, argv, AppDelegate::registeredName());
}
