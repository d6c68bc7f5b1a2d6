// One line of simulator input (typed or from a script) parsed into a command.
#pragma once

#include <string>

struct SimCommand {
    enum class Kind {
        Empty,       // blank line or comment
        Invalid,     // see `error`
        Show,        // print the screen
        Tap,         // tap a numbered control or a visible text
        DoubleTap,
        LongPress,
        Type,        // type text into the focused field (or the numbered one first)
        Clear,       // empty the focused field (or the one named first), as its clear button does
        Set,         // a slider to a value, segments to one of theirs, a switch on or off
        Scroll,      // scroll a scroll view by a distance (a screenful less a row unless given) in a direction
        Swipe,       // a quick pan across a view (page turns)
        Pan,         // a pan by (dx, dy) at a speed in points per second
        Move,        // drag a row by its reorder control onto another row's place
        Back,        // a tap on the back button of the screen in front
        Rotate,      // to landscape / portrait
        Background,
        Foreground,
        OpenURL,     // the system opens a URL in the application (a link tapped elsewhere)
        Purchase,    // the store completes a purchase and hands it to the application's payment queue
        AdUnit,      // an advertising library's ad unit comes on screen or leaves it
        Advance,     // move the manual clock
        Shot,        // render the screen to a PNG or JPEG file
        Expect,      // fail unless the screen shows a text
        Await,       // wait in real time (what comes over the network) until the screen shows a text
        Display,     // connect or disconnect an external screen
        Pause,       // nobody types for some real time; the application runs on (the clock stands still)
        Idle,        // the application runs on until it has nothing left to do (no transfer, no queued work)
        Remote,      // a remote-control event (headset, lock screen): play, pause, toggle, next, previous
        Quit,
        Help,
    };

    Kind kind = Kind::Empty;
    // A control number ("3") or a visible text; empty when the command has no target.
    std::string target;
    // Where `move` takes its row: another row's number or text.
    std::string destination;
    // Typed or expected text; the value `set` gives.
    std::string text;
    // Scroll and swipe direction: "up", "down", "left" or "right"; rotate: "left", "right",
    // "portrait" or "landscape"; display: "connect" or "disconnect"; ad: "show" or "hide".
    std::string direction;
    double dx = 0;
    double dy = 0;
    double distance = 0;
    double speed = 0;
    double seconds = 0;
    std::string path;
    // A purchase: the product (in `text`), its price as decimal text and its currency code.
    std::string price;
    std::string currency;
    std::string error;
    // A remote-control event's subtype, as the platform numbers it.
    int remoteSubtype = 0;

    // Bounds on the numbers a command takes, so that no command runs away with time or memory:
    // distances and offsets in points, speeds in points per second, clock time in seconds.
    static constexpr double kMaxPoints = 100000;
    static constexpr double kMinSpeed = 1;
    static constexpr double kMaxSpeed = 100000;
    static constexpr double kMaxSeconds = 366.0 * 24 * 60 * 60;
    static constexpr double kMaxControlNumber = 99999;
    // An external screen's size in points: 1920 x 1080 unless given, at most this either way.
    static constexpr double kDefaultDisplayWidth = 1920;
    static constexpr double kDefaultDisplayHeight = 1080;
    static constexpr double kMaxDisplaySide = 8192;
    // The real time `await` and `idle` wait at most (unless `idle` is given its own).
    static constexpr double kAwaitSeconds = 15;
    // The real time `pause` and `idle` may be given at most.
    static constexpr double kMaxRealSeconds = 600;

    static SimCommand parse(const std::string& line);
    // "png" or "jpeg" as a shot's file name asks (by its extension), "" for neither.
    static std::string shotFormat(const std::string& path);
    // A link an application can be opened by: a scheme, a colon and no blank.
    static bool isLink(const std::string& text);
    // The command list printed by `help`.
    static const char* helpText();
};
