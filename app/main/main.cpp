// The application's entry point: hands the delegate's class to the platform's application
// main function, which launches it and runs the main run loop. The bundle and home folders
// come from APP_BUNDLE and APP_HOME. SIGINT and SIGTERM end it in order: the run loop stops,
// the application shuts down, and main returns.
#include "app/AppDelegate.h"
#include "platform/dispatch/MemoryRelief.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/ui/UIApplication.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

int main(int argc, char** argv) {
    // A large picture's work gives its memory back once it is freed, whichever thread did it.
    MemoryRelief::mapLargeBlocksApart();
    // Blocked before any thread starts, so every thread inherits the mask and only the
    // waiter below takes these signals.
    sigset_t endings;
    sigemptyset(&endings);
    sigaddset(&endings, SIGINT);
    sigaddset(&endings, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &endings, nullptr);
    auto mainLoop = NSRunLoop::mainRunLoop();
    std::thread waiter([&endings, mainLoop] {
        int received = 0;
        sigwait(&endings, &received);
        // From a turn of the loop, so that a signal during the launch still ends the run.
        mainLoop->post([mainLoop] { mainLoop->stop(); });
    });

    AppDelegate::registerClassWithAnalytics();
    const int status = UIApplicationMain(argc, argv, AppDelegate::registeredName());
    // A launch that failed returns without a signal: the waiter is woken to end too.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return status;
}
