// The simulator's command language: a verb, then a target, words or numbers.
#include "simulator/SimCommand.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace {

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// A target or text may be quoted so that it can hold leading or trailing spaces or a word
// that would otherwise read as a direction or number.
std::string unquote(const std::string& s) {
    const std::string t = trim(s);
    if (t.size() >= 2 && ((t.front() == '"' && t.back() == '"') || (t.front() == '\'' && t.back() == '\'')))
        return t.substr(1, t.size() - 2);
    return t;
}

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

enum class NumberWord { None, NotFinite, Finite };

// Whether a word reads as a number, and whether that number is finite: "nan", "inf" and
// values beyond a double's range read as numbers but are refused by every command.
NumberWord readNumber(const std::string& s, double& out) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return NumberWord::None;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0') return NumberWord::None;
    if (!std::isfinite(v)) return NumberWord::NotFinite;
    out = v;
    return NumberWord::Finite;
}

std::string bound(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

bool isDirection(const std::string& w) { return w == "up" || w == "down" || w == "left" || w == "right"; }

std::string joinWords(const std::vector<std::string>& w, std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        if (!out.empty()) out += ' ';
        out += w[i];
    }
    return unquote(out);
}

SimCommand invalid(std::string message) {
    SimCommand c;
    c.kind = SimCommand::Kind::Invalid;
    c.error = std::move(message);
    return c;
}

using Kind = SimCommand::Kind;

// What follows a verb: the verb as typed (lower case), the rest of the line and its words.
struct Words {
    const std::string& verb;
    const std::string& rest;
    const std::vector<std::string>& args;
};

// Each verb's reading of what follows it into the command, whose kind is already set; the
// message that says what the verb takes when it does not read, "" when it does.
using VerbParser = std::string (*)(const Words& w, SimCommand& c);

std::string nothing(const Words& w, SimCommand&) {
    if (!w.rest.empty()) return w.verb + " takes nothing after it, not \"" + w.rest + "\"";
    return "";
}

std::string target(const Words& w, SimCommand& c) {
    if (w.rest.empty()) return w.verb + " needs a control number or a visible text";
    c.target = unquote(w.rest);
    return "";
}

std::string type(const Words& w, SimCommand& c) {
    // "type TEXT" types into the focused field; "type @N TEXT" taps field N first.
    std::string body = w.rest;
    if (!body.empty() && body[0] == '@') {
        const std::size_t end = body.find_first_of(" \t");
        c.target = body.substr(1, end == std::string::npos ? std::string::npos : end - 1);
        body = end == std::string::npos ? std::string() : body.substr(end + 1);
        if (c.target.empty()) return "type @N needs a control number: type @N TEXT";
    }
    if (trim(body).empty()) return "type needs the text to type: type TEXT, or type @N TEXT into field N";
    c.text = unquote(body);
    return "";
}

std::string clear(const Words& w, SimCommand& c) {
    c.target = unquote(w.rest);
    return "";
}

std::string set(const Words& w, SimCommand& c) {
    // set TARGET VALUE: the value is the last word, or the last quoted text.
    const std::string& rest = w.rest;
    std::string target, value;
    if (rest.size() >= 2 && (rest.back() == '"' || rest.back() == '\'')) {
        const std::size_t open = rest.rfind(rest.back(), rest.size() - 2);
        if (open != std::string::npos) {
            target = trim(rest.substr(0, open));
            value = rest.substr(open + 1, rest.size() - open - 2);
        }
    } else if (const std::size_t space = rest.find_last_of(" \t"); space != std::string::npos) {
        target = trim(rest.substr(0, space));
        value = rest.substr(space + 1);
    }
    if (target.empty() || value.empty())
        return "set needs a control and a value: set N VALUE (a slider's number, a segment's title or place, on or off)";
    c.target = unquote(target);
    c.text = value;
    return "";
}

std::string scroll(const Words& w, SimCommand& c) {
    const std::vector<std::string>& args = w.args;
    std::size_t dir = args.size();
    for (std::size_t i = 0; i < args.size(); ++i)
        if (isDirection(args[i])) dir = i;
    if (dir == args.size()) return w.verb + " needs a direction: up, down, left or right";
    c.direction = args[dir];
    c.target = joinWords(args, 0, dir);
    // Without a distance a scroll moves a screenful, less a row (the session measures it).
    c.distance = 0;
    if (c.kind == Kind::Swipe && dir + 1 < args.size())
        return "swipe takes nothing after its direction: swipe [N] DIR (a swipe goes across most of the screen)";
    if (dir + 1 < args.size()) {
        if (dir + 2 != args.size() || readNumber(args[dir + 1], c.distance) != NumberWord::Finite ||
            !(c.distance > 0 && c.distance <= SimCommand::kMaxPoints))
            return w.verb + ": the distance after the direction must be a number of points above 0 and at most " +
                   bound(SimCommand::kMaxPoints);
    }
    return "";
}

std::string pan(const Words& w, SimCommand& c) {
    // pan [TARGET] DX DY [SPEED]: two numbers are DX DY; three are N DX DY (a control
    // number first), so a speed comes fourth after a number or third after a text.
    const std::vector<std::string>& args = w.args;
    std::size_t n = args.size();
    std::vector<double> numbers;
    while (n > 0 && numbers.size() < 4) {
        double v = 0;
        const NumberWord word = readNumber(args[n - 1], v);
        if (word == NumberWord::None) break;
        if (word == NumberWord::NotFinite) return "pan: " + args[n - 1] + " is not a finite number";
        numbers.insert(numbers.begin(), v);
        --n;
    }
    if (numbers.size() < 2) return "pan needs a distance: pan [TARGET] DX DY [SPEED]";
    // With a text target every number is a distance or the speed; without one, the first of
    // three or four numbers is the control.
    if ((n == 0 && numbers.size() >= 3) || numbers.size() == 4) {
        ++n;
        numbers.erase(numbers.begin());
    }
    c.dx = numbers[0];
    c.dy = numbers[1];
    c.speed = numbers.size() == 3 ? numbers[2] : 500;
    if (std::fabs(c.dx) > SimCommand::kMaxPoints || std::fabs(c.dy) > SimCommand::kMaxPoints)
        return "pan: DX and DY must be at most " + bound(SimCommand::kMaxPoints) + " points either way";
    if (c.speed < SimCommand::kMinSpeed || c.speed > SimCommand::kMaxSpeed)
        return "pan: the speed must be from " + bound(SimCommand::kMinSpeed) + " to " + bound(SimCommand::kMaxSpeed) +
               " points per second";
    c.target = joinWords(args, 0, n);
    return "";
}

// The words of a line, a quoted text one word with its quotes; false when a quote is not closed.
bool quotedWords(const std::string& s, std::vector<std::string>& out) {
    for (std::size_t at = 0; at < s.size();) {
        if (std::isspace(static_cast<unsigned char>(s[at]))) {
            ++at;
            continue;
        }
        std::size_t end = at;
        if (s[at] == '"' || s[at] == '\'') {
            end = s.find(s[at], at + 1);
            if (end == std::string::npos) return false;
            ++end;
        } else {
            while (end < s.size() && !std::isspace(static_cast<unsigned char>(s[end]))) ++end;
        }
        out.push_back(s.substr(at, end - at));
        at = end;
    }
    return true;
}

std::string move(const Words& w, SimCommand& c) {
    // move ROW to ROW, or move ROW ROW: a row by its number or a text it shows. The word "to"
    // divides the two and is never a row itself; a text holding it is quoted.
    const std::string usage = "move needs a row and the row whose place it takes: move N to M (or a text each, "
                              "quoted where it holds \"to\")";
    std::vector<std::string> parts;
    if (!quotedWords(w.rest, parts)) return "move: a quote is not closed; " + usage;
    std::vector<std::size_t> divisions;
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (parts[i] == "to") divisions.push_back(i);
    if (divisions.size() > 1) return "move: more than one \"to\"; " + usage;
    if (divisions.size() == 1) {
        c.target = joinWords(parts, 0, divisions.front());
        c.destination = joinWords(parts, divisions.front() + 1, parts.size());
    } else if (parts.size() == 2) {
        c.target = unquote(parts[0]);
        c.destination = unquote(parts[1]);
    }
    if (c.target.empty() || c.destination.empty()) return usage;
    return "";
}

std::string rotate(const Words& w, SimCommand& c) {
    c.direction = w.rest;
    if (!c.direction.empty() && c.direction != "left" && c.direction != "right" && c.direction != "portrait" &&
        c.direction != "landscape")
        return "rotate takes left, right, portrait or landscape";
    return "";
}

std::string open(const Words& w, SimCommand& c) {
    if (w.rest.empty() || w.rest.find_first_of(" \t") != std::string::npos)
        return "open needs one URL, e.g. open gallery://paintings?utm_source=mail";
    if (!SimCommand::isLink(w.rest))
        return "open: \"" + w.rest + "\" is not a link the application opens (a link starts with its scheme, e.g. "
               "gallery://paintings)";
    c.text = w.rest;
    return "";
}

std::string purchase(const Words& w, SimCommand& c) {
    const std::vector<std::string>& args = w.args;
    double price = 0;
    if ((args.size() != 1 && args.size() != 3) ||
        (args.size() == 3 && (readNumber(args[1], price) != NumberWord::Finite || price < 0 || args[2].size() != 3 ||
                              !std::all_of(args[2].begin(), args[2].end(),
                                           [](char ch) { return std::isalpha(static_cast<unsigned char>(ch)); }))))
        return "purchase needs a product and, if given, a price and a three-letter currency, "
               "e.g. purchase gold.coins 0.99 USD";
    c.text = args[0];
    c.price = args.size() == 3 ? args[1] : "0.99";
    c.currency = args.size() == 3 ? args[2] : "USD";
    return "";
}

std::string ad(const Words& w, SimCommand& c) {
    if (w.args.size() != 2 || (w.args[0] != "show" && w.args[0] != "hide"))
        return "ad takes show or hide and an ad unit, e.g. ad show banner-1";
    c.direction = w.args[0];
    c.text = w.args[1];
    return "";
}

std::string advance(const Words& w, SimCommand& c) {
    if (readNumber(w.rest, c.seconds) != NumberWord::Finite || c.seconds < 0 || c.seconds > SimCommand::kMaxSeconds)
        return w.verb + " needs a number of seconds from 0 to " + bound(SimCommand::kMaxSeconds);
    return "";
}

std::string shot(const Words& w, SimCommand& c) {
    if (w.rest.empty()) return "shot needs a file name, e.g. shot screen.png";
    c.path = unquote(w.rest);
    if (SimCommand::shotFormat(c.path).empty())
        return "shot: name the file .png or .jpg (.jpeg), the formats a shot is written in";
    return "";
}

std::string expect(const Words& w, SimCommand& c) {
    if (w.rest.empty()) return "expect needs the text to look for";
    c.text = unquote(w.rest);
    return "";
}

std::string await(const Words& w, SimCommand& c) {
    if (w.rest.empty()) return "await needs the text to wait for";
    c.text = unquote(w.rest);
    c.seconds = SimCommand::kAwaitSeconds;
    return "";
}

std::string display(const Words& w, SimCommand& c) {
    // display connect [WIDTHxHEIGHT] | display disconnect
    const std::vector<std::string>& args = w.args;
    if (args.empty() || (args[0] != "connect" && args[0] != "disconnect") ||
        (args[0] == "disconnect" && args.size() > 1) || args.size() > 2)
        return "display takes connect [WIDTHxHEIGHT] or disconnect";
    c.direction = args[0];
    c.dx = SimCommand::kDefaultDisplayWidth;
    c.dy = SimCommand::kDefaultDisplayHeight;
    if (args.size() == 2) {
        const std::size_t x = args[1].find('x');
        double width = 0, height = 0;
        const double most = SimCommand::kMaxDisplaySide;
        if (x == std::string::npos || readNumber(args[1].substr(0, x), width) != NumberWord::Finite ||
            readNumber(args[1].substr(x + 1), height) != NumberWord::Finite || !(width >= 1 && width <= most) ||
            !(height >= 1 && height <= most))
            return "display connect: the size is WIDTHxHEIGHT in points, each from 1 to " + bound(most);
        c.dx = width;
        c.dy = height;
    }
    return "";
}

std::string pause(const Words& w, SimCommand& c) {
    if (readNumber(w.rest, c.seconds) != NumberWord::Finite || c.seconds < 0 || c.seconds > SimCommand::kMaxRealSeconds)
        return "pause needs a number of seconds of real time from 0 to " + bound(SimCommand::kMaxRealSeconds);
    return "";
}

std::string idle(const Words& w, SimCommand& c) {
    c.seconds = SimCommand::kAwaitSeconds;
    if (!w.rest.empty() && (readNumber(w.rest, c.seconds) != NumberWord::Finite || c.seconds <= 0 ||
                            c.seconds > SimCommand::kMaxRealSeconds))
        return "idle takes a number of seconds of real time above 0 and at most " + bound(SimCommand::kMaxRealSeconds);
    return "";
}

std::string remote(const Words& w, SimCommand& c) {
    // The platform's numbers for the remote-control subtypes a person can send.
    static const std::pair<const char*, int> kRemote[] = {
        {"play", 100}, {"pause", 101}, {"toggle", 103}, {"next", 104}, {"previous", 105}};
    for (const auto& [name, subtype] : kRemote)
        if (w.rest == name) c.remoteSubtype = subtype;
    if (c.remoteSubtype == 0) return "remote takes play, pause, toggle, next or previous";
    c.text = w.rest;
    return "";
}

struct Verb {
    const char* name;
    Kind kind;
    VerbParser parse;
};

const Verb kVerbs[] = {
    {"show", Kind::Show, nothing},          {"screen", Kind::Show, nothing},
    {"print", Kind::Show, nothing},         {"tap", Kind::Tap, target},
    {"doubletap", Kind::DoubleTap, target}, {"longpress", Kind::LongPress, target},
    {"type", Kind::Type, type},             {"clear", Kind::Clear, clear},
    {"set", Kind::Set, set},                {"scroll", Kind::Scroll, scroll},
    {"swipe", Kind::Swipe, scroll},         {"pan", Kind::Pan, pan},
    {"move", Kind::Move, move},             {"back", Kind::Back, nothing},
    {"rotate", Kind::Rotate, rotate},       {"background", Kind::Background, nothing},
    {"foreground", Kind::Foreground, nothing}, {"open", Kind::OpenURL, open},
    {"purchase", Kind::Purchase, purchase}, {"ad", Kind::AdUnit, ad},
    {"advance", Kind::Advance, advance},
    {"wait", Kind::Advance, advance},       {"shot", Kind::Shot, shot},
    {"expect", Kind::Expect, expect},       {"await", Kind::Await, await},
    {"display", Kind::Display, display},    {"pause", Kind::Pause, pause},
    {"idle", Kind::Idle, idle},             {"remote", Kind::Remote, remote},
    {"quit", Kind::Quit, nothing},          {"exit", Kind::Quit, nothing},
    {"help", Kind::Help, nothing},          {"?", Kind::Help, nothing},
};

}  // namespace

SimCommand SimCommand::parse(const std::string& rawLine) {
    const std::string line = trim(rawLine);
    SimCommand c;
    if (line.empty() || line[0] == '#') return c;

    const std::size_t space = line.find_first_of(" \t");
    std::string verb = line.substr(0, space);
    for (char& ch : verb) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const std::string rest = space == std::string::npos ? std::string() : trim(line.substr(space + 1));
    const std::vector<std::string> args = words(rest);

    const auto found = std::find_if(std::begin(kVerbs), std::end(kVerbs),
                                    [&](const Verb& known) { return verb == known.name; });
    if (found == std::end(kVerbs)) return invalid("unknown command \"" + verb + "\" (help lists the commands)");
    c.kind = found->kind;
    if (std::string message = found->parse(Words{verb, rest, args}, c); !message.empty()) return invalid(message);
    // A control number no screen reaches is a typing slip, refused before it meets a screen.
    for (const std::string* control : {&c.target, &c.destination}) {
        if (control->empty() || !std::all_of(control->begin(), control->end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
            continue;
        unsigned long n = 0;
        const char* end = control->data() + control->size();
        const auto [at, error] = std::from_chars(control->data(), end, n);
        if (error != std::errc() || at != end || n > kMaxControlNumber)
            return invalid(verb + ": " + *control + " is no control number (a screen numbers at most " +
                           bound(kMaxControlNumber) + ")");
    }
    return c;
}

std::string SimCommand::shotFormat(const std::string& path) {
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string extension = path.substr(dot + 1);
    for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (extension == "png") return "png";
    if (extension == "jpg" || extension == "jpeg") return "jpeg";
    return "";
}

bool SimCommand::isLink(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
    const auto schemeCharacter = [](char ch) {
        return std::isalnum(static_cast<unsigned char>(ch)) || ch == '+' || ch == '-' || ch == '.';
    };
    return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(colon), schemeCharacter) &&
           text.find_first_of(" \t\r\n") == std::string::npos;
}

const char* SimCommand::helpText() {
    return "Commands:\n"
           "  show                      print the screen again\n"
           "  tap N | tap TEXT          tap control N or the control showing TEXT; either may be followed\n"
           "                            by the state the screen shows after it: tap repeat (all); or\n"
           "                            the control's line as the screen prints it, its number before it\n"
           "                            or not: tap button \"repeat\" (off), tap [2] slider 0 (0 to 1)\n"
           "  doubletap N|TEXT          two quick taps\n"
           "  longpress N|TEXT          press and hold\n"
           "  type TEXT | type @N TEXT  type into the focused field, search bar or text (or field N);\n"
           "                            a byte that is no UTF-8 is typed as U+FFFD, as by a keyboard\n"
           "  clear [N|TEXT]            empty the focused field (or field N first), to type anew\n"
           "  set N|TEXT VALUE          move a slider to VALUE, choose a segment by its title or place\n"
           "                            (1 = first), turn a switch on or off\n"
           "  scroll [N] DIR [POINTS]   scroll a scroll view or table (DIR: up down left right) by\n"
           "                            POINTS, else a screenful less a row, as a flick does; without\n"
           "                            N, the largest on the screen that can move that way\n"
           "  swipe [N] DIR             swipe across a view (pages turn)\n"
           "  pan [N|TEXT] DX DY [SPEED]  drag from control N (else mid-screen) by DX, DY points at\n"
           "                            SPEED points per second (500 unless given)\n"
           "  move N to M               drag row N by its reorder control to row M's place (while a\n"
           "                            list is being edited)\n"
           "  back                      tap the back button of the screen in front, else a Back it\n"
           "                            lists (a modal screen closes with its own button)\n"
           "  rotate [left|right|portrait|landscape]\n"
           "  background                send the application to the background: the screen shows none\n"
           "                            of it, and nothing of it can be touched\n"
           "  foreground                bring it back, its screen as it was\n"
           "  open URL                  the system opens URL in the application, as a link tapped\n"
           "                            in another application does\n"
           "  purchase PRODUCT [PRICE CURRENCY]  the store completes a purchase of PRODUCT (0.99 USD\n"
           "                            unless given) and hands it to the application, as the system\n"
           "                            does once a person has paid\n"
           "  ad show|hide UNIT         an advertising library's ad unit UNIT comes on screen or leaves\n"
           "                            it (the library tells the analytics library's reporter)\n"
           "  advance SECONDS           move the clock forward (replies on their way arrive first)\n"
           "  shot FILE.png|FILE.jpg    save a picture of the screen (PNG or JPEG, as the name says)\n"
           "  expect TEXT               fail unless TEXT is on the screen\n"
           "  await TEXT                wait (up to 15 s of real time) for TEXT, as for a download\n"
           "  pause SECONDS             let the application run SECONDS of real time, nobody typing\n"
           "  idle [SECONDS]            let it run until no transfer is in flight and no work is queued\n"
           "                            (fails after SECONDS of real time, 15 by default)\n"
           "  display connect [WxH]     connect an external screen (1920x1080 points unless given)\n"
           "  display disconnect        disconnect it\n"
           "  remote play|pause|toggle|next|previous  press a remote control (a headset's button,\n"
           "                            the lock screen's player), as the system delivers it\n"
           "  quit\n"
           "While it waits for a line the application runs on and its clock follows real time; in a\n"
           "script the clock moves only with advance.\n";
}
