// The numbers the screens gave their controls, kept with what each control is: the screen it is
// on (a navigation stack's screen, a presented one, an alert), its role there (a bar's back,
// left or right button, a toolbar's, a row, a button...), its name or a row's texts, and what
// encloses it. A control keeps its number while it is on the screen; the number of one that
// left stays its own while the part of the screen it was on shows (it could still be meant),
// and once that part has gone the number is free again, though the control takes it back when
// it returns with it free. A control of an overlay (an alert, a sheet, a view laid on the window,
// a screen presented over another) keeps its number from every newcomer while the screen it lay
// over shows as it was (each part of it), so that an overlay that follows another takes fresh
// numbers.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

class NSObject;

class SimNumbering {
public:
    // One control of a new screen, as the numbering knows it.
    struct Control {
        std::shared_ptr<NSObject> screen;
        // The controller whose views hold it (a side menu's list, a screen's bars), else its screen.
        std::shared_ptr<NSObject> part;
        std::string key;    // role, name (else what it shows), what encloses it
        std::string loose;  // the same with the first text only (a row whose count changed)
        std::string around;  // the key of the control it is inside, if any
        // What it stands for (a bar's item), else its view; none for rows and cells, whose views
        // show one row and then another.
        std::shared_ptr<const void> object;
        // For a control of an overlay, the parts of the screen it lies over; none otherwise.
        std::vector<std::shared_ptr<NSObject>> beneath;
    };

    // On the last screen; kept while its part shows; kept for an overlay that has gone, only
    // against newcomers, while the screen it lay over shows; gone with its part.
    enum class State { Shown, Reserved, Overlaid, Dormant };
    struct Entry {
        std::weak_ptr<NSObject> screen;
        std::weak_ptr<NSObject> part;
        std::string key;    // as the control's, with its place among likes
        std::string loose;
        std::string around;
        std::weak_ptr<const void> object;
        std::vector<std::weak_ptr<NSObject>> beneath;
        int number = 0;
        State state = State::Shown;
    };

    // The numbers of a new screen's controls, given in reading order, and what is kept of them
    // for the next screen. `waiting`: parts that show with no control listed (an alert behind
    // the one in front, whose buttons take no touch until it is in front again).
    std::vector<int> give(std::vector<Control> controls, const std::set<const NSObject*>& waiting = {});

    std::vector<Entry> entries;
    // The alert the last screen listed in front: a shot draws it in front while it is up, so
    // that an alert that came since shows first in the next listing, in the shot after it.
    std::weak_ptr<NSObject> alertInFront;
};
