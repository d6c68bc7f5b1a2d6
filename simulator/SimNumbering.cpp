// Which number each control of a screen takes: its own from the screens before while it is the
// same control, else the lowest free.
#include "simulator/SimNumbering.h"

#include "simulator/SimSeen.h"

#include "platform/ui/UIView.h"
#include "platform/ui/UIViewController.h"

#include <map>
#include <utility>

namespace {

// Whether a part of a screen still shows: it has a control listed now, or it is a controller on
// display whose view can be seen (a screen's bars hidden a moment, nothing to touch there).
bool stillShows(const std::shared_ptr<NSObject>& part, const std::set<const NSObject*>& listed) {
    if (listed.count(part.get())) return true;
    auto vc = std::dynamic_pointer_cast<UIViewController>(part);
    if (!vc || !vc->isVisible() || !vc->isViewLoaded() || !vc->view()->window()) return false;
    for (auto v = vc->view(); v; v = v->superview())
        if (!simSeen(*v)) return false;
    return true;
}

// Whether every part of the screen an overlay lay over still shows.
bool allShow(const std::vector<std::weak_ptr<NSObject>>& beneath, const std::set<const NSObject*>& listed) {
    if (beneath.empty()) return false;
    for (const auto& weak : beneath) {
        const auto part = weak.lock();
        if (!part || !stillShows(part, listed)) return false;
    }
    return true;
}

// How many controls that were on screens that have gone are remembered, so that one coming back
// finds its number; the oldest are forgotten first.
constexpr std::size_t kRememberedControls = 4096;

}  // namespace

std::vector<int> SimNumbering::give(std::vector<Control> controls, const std::set<const NSObject*>& waiting) {
    using Key = std::pair<const NSObject*, std::string>;
    const std::size_t count = controls.size();
    std::vector<int> numbers(count, 0);
    // Controls alike on one screen (two rows showing the same) are told apart by their place
    // among their likes.
    std::map<Key, int> same, similar;
    std::set<const NSObject*> listed = waiting;
    for (auto& id : controls) {
        id.key += "#" + std::to_string(same[{id.screen.get(), id.key}]++);
        id.loose += "#" + std::to_string(similar[{id.screen.get(), id.loose}]++);
        listed.insert(id.part.get());
    }
    std::vector<Entry> previous = std::move(entries);
    entries.clear();
    // The entries of screens still there, by what their controls are.
    std::vector<std::shared_ptr<NSObject>> screens(previous.size()), parts(previous.size());
    std::map<Key, std::vector<std::size_t>> byKey, byLoose;
    std::map<std::pair<const NSObject*, const void*>, std::vector<std::size_t>> byObject;
    for (std::size_t e = 0; e < previous.size(); ++e) {
        screens[e] = previous[e].screen.lock();
        parts[e] = previous[e].part.lock();
        // An overlay's number kept after it went is no control to find again.
        if (!screens[e] || previous[e].state == State::Overlaid) continue;
        byKey[{screens[e].get(), previous[e].key}].push_back(e);
        byLoose[{screens[e].get(), previous[e].loose}].push_back(e);
        if (auto object = previous[e].object.lock(); object && previous[e].state != State::Dormant)
            byObject[{screens[e].get(), object.get()}].push_back(e);
    }
    std::vector<bool> taken(previous.size(), false);
    std::set<int> blocked;
    // Takes for each control not yet numbered the first entry of its screen that is alike
    // (wholly, or by its first name only) and held (on the last screen or kept since), or else
    // gone with its screen and free to be taken back.
    auto match = [&](bool held, bool loosely) {
        for (std::size_t i = 0; i < count; ++i) {
            if (numbers[i]) continue;
            const Control& id = controls[i];
            const auto& index = loosely ? byLoose : byKey;
            const auto found = index.find({id.screen.get(), loosely ? id.loose : id.key});
            if (found == index.end()) continue;
            for (const std::size_t e : found->second) {
                if (taken[e] || (previous[e].state != State::Dormant) != held) continue;
                if (!held && blocked.count(previous[e].number)) continue;
                numbers[i] = previous[e].number;
                taken[e] = true;
                blocked.insert(numbers[i]);
                break;
            }
        }
    };
    // The same control as on the last screen, or kept for it since it left; then one whose
    // name stayed while the rest it shows changed (a row's count).
    match(true, false);
    match(true, true);
    // The same control whose title or count changed (play that became pause, Edit that became
    // Done, a like count that came): the one a person touched there. Not another put in its
    // place (Trash where Download was), nor a row's button in a cell that now shows another row.
    for (std::size_t i = 0; i < count; ++i) {
        if (numbers[i] || !controls[i].object) continue;
        const auto found = byObject.find({controls[i].screen.get(), controls[i].object.get()});
        if (found == byObject.end()) continue;
        for (const std::size_t e : found->second) {
            if (taken[e] || previous[e].around != controls[i].around) continue;
            numbers[i] = previous[e].number;
            taken[e] = true;
            blocked.insert(numbers[i]);
            break;
        }
    }
    // A number kept for a control that left is given to no other while the part of the screen
    // it was on shows, or an overlay's while the screen it lay over shows, though the overlay
    // itself has gone: the old one could still be meant.
    std::vector<bool> kept(previous.size(), false), overlaid(previous.size(), false);
    for (std::size_t e = 0; e < previous.size(); ++e) {
        if (taken[e] || previous[e].state == State::Dormant) continue;
        kept[e] = previous[e].state != State::Overlaid && screens[e] && parts[e] && stillShows(parts[e], listed);
        overlaid[e] = !kept[e] && allShow(previous[e].beneath, listed);
        if (kept[e]) blocked.insert(previous[e].number);
    }
    // A control back on a screen that had gone takes its number again where that is free, or
    // held only for an overlay that came while it was away: the number was its own first.
    match(false, false);
    match(false, true);
    for (std::size_t e = 0; e < previous.size(); ++e) {
        if (overlaid[e] && blocked.count(previous[e].number)) overlaid[e] = false;
        if (overlaid[e]) blocked.insert(previous[e].number);
    }
    // New controls take the lowest numbers free, in reading order.
    int next = 1;
    for (std::size_t i = 0; i < count; ++i) {
        if (numbers[i]) continue;
        while (blocked.count(next)) ++next;
        numbers[i] = next;
        blocked.insert(next);
    }
    std::set<Key> shown;
    for (std::size_t i = 0; i < count; ++i) {
        const Control& id = controls[i];
        entries.push_back({id.screen, id.part, id.key, id.loose, id.around, id.object,
                           {id.beneath.begin(), id.beneath.end()}, numbers[i], State::Shown});
        shown.insert({id.screen.get(), id.key});
    }
    // The kept ones, then those of parts that went, the latest first, so that the oldest are
    // forgotten first; one shown again under another number is remembered by that alone. An
    // overlay's number is kept whatever shows, for as long as the screen under it.
    std::vector<int> order(previous.size(), -1);
    for (std::size_t e = 0; e < previous.size(); ++e) {
        if (overlaid[e]) {
            order[e] = 0;
            continue;
        }
        if (taken[e] || !screens[e] || previous[e].state == State::Overlaid ||
            shown.count({screens[e].get(), previous[e].key}))
            continue;
        order[e] = kept[e] ? 0 : previous[e].state != State::Dormant ? 1 : 2;
    }
    for (int round = 0; round < 3; ++round)
        for (std::size_t e = 0; e < previous.size(); ++e) {
            if (order[e] != round) continue;
            previous[e].state = overlaid[e] ? State::Overlaid : round == 0 ? State::Reserved : State::Dormant;
            entries.push_back(std::move(previous[e]));
        }
    if (entries.size() > count + kRememberedControls) entries.resize(count + kRememberedControls);
    return numbers;
}
