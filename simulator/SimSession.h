// One run of the application under the simulator: launch with a device profile and the clock
// in manual mode, then commands in, screens out.
#pragma once

#include "simulator/SimCommand.h"
#include "simulator/SimScreen.h"

#include <memory>
#include <functional>
#include <string>
#include <vector>

class UIScreen;

class SimSession {
public:
    struct Result {
        bool ok = true;      // false: the command failed (message says why)
        bool quit = false;   // the session is over
        bool expectFailed = false;
        std::string message;
    };

    // Chooses the device (before launch) and freezes the clock.
    explicit SimSession(bool pad);
    // Terminates the application unless end() did.
    ~SimSession();

    // False when no delegate class of that name is registered. A `url` is handed over in the
    // launch options, as when a link starts the application.
    bool launch(const std::string& delegateClassName, const std::string& url = "");
    Result execute(const SimCommand& command);
    // Runs what is due now and lays out and displays the windows.
    void settle();
    SimScreen screen();
    // Runs the application's main run loop (its queue, its timers, the network's callbacks)
    // until `inputReady` holds, as while nobody types. With the clock following real time, the
    // clock moves on meanwhile by the real time that passed.
    void runUntilInput(const std::function<bool()>& inputReady);
    // A person at the terminal: time passes while the session waits (music plays on, the
    // slideshow turns). A script keeps the clock still between its lines (off, the default).
    void setClockFollowsRealTime(bool follows) { followsRealTime_ = follows; }
    // Moves the clock from timer to timer; before each step, replies on their way arrive and
    // are handled, so simulated time never outruns a loopback reply.
    void advance(double seconds);
    // The end of the process: the application shuts down in order (UIApplication::shutDown).
    void end();
    // What the application handed to the system (links it does not open itself) since the last
    // call: "the system opens URL", or "the system cannot open URL".
    std::vector<std::string> handedToTheSystem();

    // The clock time a touch command takes, so that short transitions finish.
    static double actionTime() { return 0.5; }

private:
    Result tap(const SimCommand& command, int taps, double hold);
    Result type(const SimCommand& command);
    Result set(const SimCommand& command);
    Result scroll(const SimCommand& command);
    Result swipeOrPan(const SimCommand& command);
    Result move(const SimCommand& command);
    Result back();
    Result display(const SimCommand& command);
    Result idle(double seconds);
    void pass(double seconds);
    void catchUpWithNetwork();

    // What the last screen numbered, so that controls keep their numbers.
    SimNumbering numbering_;
    bool launched_ = false;
    bool followsRealTime_ = false;
    std::size_t handedOver_ = 0;
    // The external screen while one is connected.
    std::shared_ptr<UIScreen> external_;
};
