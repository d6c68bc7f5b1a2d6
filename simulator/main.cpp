// ostrel-sim: runs the application on a bundle and a home folder, prints its screen as text
// and carries out commands typed at the terminal or read from a script.
#include "platform/adsupport/ADClient.h"
#include "platform/adsupport/ASIdentifierManager.h"
#include "platform/adsupport/ATTrackingManager.h"
#include "platform/dispatch/MemoryRelief.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/URLTrustAnchors.h"
#include "platform/ui/UIApplication.h"
#include "simulator/SimCommand.h"
#include "simulator/SimHomeClaim.h"
#include "simulator/SimLog.h"
#include "simulator/SimRenderer.h"
#include "simulator/SimSession.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace {

// The class the application registers as its delegate.
const char* const kApplicationDelegate = "AppDelegate";

void usage() {
    std::fprintf(stderr,
                 "usage: ostrel-sim --bundle DIR --home DIR [--device phone|pad] [--script FILE] [--verbose]\n"
                 "                  [--default KEY=VALUE]... [--trust-anchor HOST=PEMFILE]... [--search-ad CAMPAIGN=KEYWORD]\n"
                 "                  [--launch-url URL] [--advertising-id UUID] [--delegate NAME]\n"
                 "The application keeps what it writes in the home (APP_HOME when --home is not given); one run\n"
                 "at a time uses a home. Its diagnostics go to diagnostics.log there; --verbose shows them here too.\n"
                 "--default sets a user default for this run only (a string; nothing is stored), for instance\n"
                 "the host of a service the application talks to; --trust-anchor trusts the certificates in\n"
                 "PEMFILE for connections to HOST alone (a test server's own certificate). --search-ad links the\n"
                 "advertising framework's attribution client, which answers that a search ad of CAMPAIGN for\n"
                 "KEYWORD led to this installation. --launch-url starts the application by the link URL, as when\n"
                 "a link opens an application that is not running. --advertising-id links the advertising and\n"
                 "tracking frameworks: the device's advertising identifier is UUID and the person has allowed\n"
                 "tracking. --delegate runs the application delegate registered as NAME in place of the\n"
                 "application's own (a build that carries another, such as the tests' sample application).\n");
}

// A refused command line: which option and why, and where the options are listed.
int refuse(const std::string& sentence) {
    std::fprintf(stderr, "%s\nostrel-sim --help lists the options.\n", sentence.c_str());
    return 64;
}

// "KEY=VALUE" split at the first '='; false when there is none or the key is empty.
bool splitPair(const std::string& text, std::pair<std::string, std::string>& out) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) return false;
    out = {text.substr(0, equals), text.substr(equals + 1)};
    return true;
}

// Lines of the script or of standard input, read as they come. While no whole line is there,
// the caller's wait runs (the application goes on meanwhile).
class LineReader {
public:
    using Wait = std::function<void(const std::function<bool()>& inputReady)>;

    explicit LineReader(int fd) : fd_(fd) {}

    // The next line without its end; false at the end of the input or when reading failed
    // (error() then says why).
    bool next(std::string& line, const Wait& wait) {
        for (;;) {
            const std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return true;
            }
            if (ended_ || error_ != 0) {
                if (buffer_.empty() || error_ != 0) return false;
                line = std::move(buffer_);
                buffer_.clear();
                return true;
            }
            const int fd = fd_;
            wait([fd] {
                pollfd ready{fd, POLLIN, 0};
                return ::poll(&ready, 1, 0) != 0;
            });
            char chunk[4096];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n > 0) buffer_.append(chunk, static_cast<std::size_t>(n));
            else if (n == 0) ended_ = true;
            else if (errno != EINTR && errno != EAGAIN) error_ = errno;
        }
    }

    int error() const { return error_; }

private:
    int fd_;
    std::string buffer_;
    bool ended_ = false;
    int error_ = 0;
};

}  // namespace

namespace {

struct Options {
    std::string bundle, home, script, delegate, launchURL, device = "phone";
    bool verbose = false;
    std::vector<std::pair<std::string, std::string>> defaults, anchors;
    std::optional<std::pair<std::string, std::string>> searchAd;
    std::shared_ptr<NSUUID> advertisingID;
};

// The command line into options; the exit status when the run ends with it (help, or words it
// does not take).
std::optional<int> readOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage();
            std::fputs(SimCommand::helpText(), stderr);
            return 0;
        }
        if (arg == "--verbose") {
            o.verbose = true;
            continue;
        }
        std::string* into = arg == "--bundle"       ? &o.bundle
                            : arg == "--home"       ? &o.home
                            : arg == "--device"     ? &o.device
                            : arg == "--script"     ? &o.script
                            : arg == "--delegate"   ? &o.delegate
                            : arg == "--launch-url" ? &o.launchURL
                                                    : nullptr;
        const bool pair = arg == "--default" || arg == "--trust-anchor" || arg == "--search-ad";
        if (!into && !pair && arg != "--advertising-id") return refuse("\"" + simPrintable(arg) + "\" is not an option of ostrel-sim.");
        if (i + 1 >= argc) return refuse(arg + " needs a value after it.");
        const std::string text = argv[++i];
        if (into) {
            *into = text;
        } else if (arg == "--advertising-id") {
            o.advertisingID = NSUUID::initWithUUIDString(text);
            if (!o.advertisingID)
                return refuse("--advertising-id takes a UUID such as E621E1F8-C36C-495A-93FC-0C247A3E6E5F, not \"" +
                              simPrintable(text) + "\".");
        } else {
            std::pair<std::string, std::string> split;
            if (!splitPair(text, split)) {
                const char* form = arg == "--default" ? "KEY=VALUE" : arg == "--search-ad" ? "CAMPAIGN=KEYWORD" : "HOST=PEMFILE";
                return refuse(arg + " takes " + form + ", not \"" + simPrintable(text) + "\".");
            }
            if (arg == "--search-ad") o.searchAd = std::move(split);
            else (arg == "--default" ? o.defaults : o.anchors).push_back(std::move(split));
        }
    }
    if (o.device != "phone" && o.device != "pad") return refuse("--device takes phone or pad, not \"" + simPrintable(o.device) + "\".");
    if (!o.launchURL.empty() && !SimCommand::isLink(o.launchURL))
        return refuse("--launch-url takes a URL with its scheme and no spaces, such as gallery://paintings, not \"" +
                      simPrintable(o.launchURL) + "\".");
    return std::nullopt;
}

// All before the launch: the application reads them as it starts. The exit status when a
// certificate to trust cannot be read.
std::optional<int> prepareLaunch(const Options& o) {
    if (!o.defaults.empty()) {
        Value::Dictionary registered;
        for (const auto& [key, text] : o.defaults) registered.set(key, Value(text));
        NSUserDefaults::standardUserDefaults()->registerDefaults(registered);
    }
    if (o.searchAd) {
        auto client = std::make_shared<ADClient>();
        client->setAnswers({ADClient::attributedAnswer(o.searchAd->first, o.searchAd->second)});
        ClassRegistry::registerClass("ADClient", [client] { return client; });
    }
    if (o.advertisingID) {
        ASIdentifierManager::sharedManager()->setAdvertisingIdentifier(o.advertisingID);
        ATTrackingManager::setTrackingAuthorizationStatus(ATTrackingManagerAuthorizationStatusAuthorized);
        ClassRegistry::registerClass("ASIdentifierManager", [] { return ASIdentifierManager::sharedManager(); });
        ClassRegistry::registerClass("ATTrackingManager", [] { return ATTrackingManager::classObject(); });
    }
    for (const auto& [host, path] : o.anchors) {
        NSErrorPtr error;
        if (!URLTrustAnchors::addAnchorFileForHost(host, path, &error)) {
            std::fprintf(stderr, "No certificate to trust for %s could be read from %s: %s\n", host.c_str(),
                         path.c_str(), error ? error->localizedDescription().c_str() : "unknown error");
            return 66;
        }
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    // As the application's own main: a large picture's work gives its memory back once it is freed.
    MemoryRelief::mapLargeBlocksApart();
    NSProcessInfo::setArguments(argc, argv);
    Options options;
    if (const auto status = readOptions(argc, argv, options)) return *status;
    const std::string& script = options.script;
    const std::string& delegate = options.delegate;
    const std::string delegateName = delegate.empty() ? kApplicationDelegate : delegate;
    if (!ClassRegistry::isRegistered(delegateName)) {
        if (delegate.empty())
            std::fprintf(stderr, "No application delegate is registered in this build: the application is not part "
                                 "of it yet. Run a registered one with --delegate NAME.\n");
        else
            std::fprintf(stderr, "No application delegate named \"%s\" is registered.\n",
                         simPrintable(delegateName).c_str());
        return 2;
    }
    if (!options.bundle.empty()) NSBundle::setMainBundlePath(options.bundle);
    // The home is this run's before anything opens a file in it, and it stays so until the
    // process ends; a home another run holds, or one that cannot be made, ends the run here.
    std::string home = options.home;
    const char* environment = std::getenv("APP_HOME");
    if (home.empty() && environment && *environment) home = environment;
    if (home.empty()) home = Sandbox::home();
    NSErrorPtr homeError;
    const auto homeClaim = SimHomeClaim::claim(home, &homeError);
    if (!homeClaim) {
        std::fprintf(stderr, "%s\n", homeError ? homeError->localizedDescription().c_str() : "The home cannot be used.");
        return homeError && homeError->code() == SimHomeClaim::InUse ? 75 : 73;
    }
    Sandbox::setHome(home);
    SimLog::start(options.verbose);
    if (!homeClaim->movedAside().empty())
        Diagnostics::notef("The link where the home's lock belongs was moved to %s; the lock is kept here.",
                           homeClaim->movedAside().c_str());
    // Without its bundle the application would start on an empty screen and say nothing.
    const std::string bundleFolder = NSBundle::mainBundle()->bundlePath();
    std::error_code noFolder;
    if (!std::filesystem::is_directory(bundleFolder, noFolder)) {
        std::fprintf(stderr, "The bundle folder %s does not exist; give the folder the application's resources are in "
                             "with --bundle DIR.\n",
                     simPrintable(bundleFolder).c_str());
        return 66;
    }

    if (const auto status = prepareLaunch(options)) return *status;

    // Before anything runs: a script that cannot be read is an error, not an empty run.
    const bool fromScript = !script.empty();
    int input = STDIN_FILENO;
    if (fromScript) {
        input = ::open(script.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (input < 0 || fstat(input, &info) != 0) {
            std::fprintf(stderr, "cannot read the script %s: %s\n", simPrintable(script).c_str(), std::strerror(errno));
            return 66;
        }
        if (S_ISDIR(info.st_mode)) {
            std::fprintf(stderr, "cannot read the script %s: it is a folder, not a file\n", simPrintable(script).c_str());
            ::close(input);
            return 66;
        }
    }
    const std::string inputName = fromScript ? simPrintable(script) : "standard input";

    // Runs after the session is gone, whichever way main returns.
    struct ReleaseCaches {
        ~ReleaseCaches() { SimRenderer::releaseCaches(); }
    } releaseCaches;
    SimSession session(options.device == "pad");
    // A person's time passes while the simulator waits; a script's clock moves only by its lines.
    session.setClockFollowsRealTime(!fromScript);
    if (!session.launch(delegateName, options.launchURL)) {
        session.end();
        UIApplication::sharedApplication()->endIfStillRunning(2);
        return 2;
    }

    if (!fromScript) std::cout << session.screen().text() << "> " << std::flush;
    LineReader reader(input);
    std::string line;
    int lineNumber = 0;
    int refused = 0;
    int status = 0;
    // While no line is there yet, the application runs.
    while (reader.next(line, [&](const std::function<bool()>& ready) { session.runUntilInput(ready); })) {
        ++lineNumber;
        const SimCommand command = SimCommand::parse(line);
        if (command.kind == SimCommand::Kind::Empty) {
            if (!fromScript) std::cout << "> " << std::flush;
            continue;
        }
        // A line is echoed, and a message printed, on one line as written, whatever it holds.
        if (fromScript) std::cout << "> " << simPrintable(line, false) << "\n";
        if (command.kind == SimCommand::Kind::Help) std::cout << SimCommand::helpText();
        const SimSession::Result result = session.execute(command);
        if (result.quit) break;
        const std::string said = simPrintable(result.message, false);
        if (!result.ok) {
            if (fromScript) {
                std::cerr << inputName << ":" << lineNumber << ": " << said << "\n";
                // A line that does not read as a command is skipped and the run goes on; one that
                // failed on the screen leaves the rest of the script meaningless.
                if (command.kind == SimCommand::Kind::Invalid) {
                    ++refused;
                    continue;
                }
                std::cerr << "The screen was:\n" << session.screen().text();
                status = 1;
                break;
            }
            std::cout << "! " << said << "\n";
        } else if (!said.empty()) {
            std::cout << said << "\n";
        }
        for (const auto& handed : session.handedToTheSystem()) std::cout << handed << "\n";
        if (!fromScript || command.kind == SimCommand::Kind::Show) std::cout << session.screen().text();
        if (!fromScript) std::cout << "> " << std::flush;
    }
    std::cout << std::flush;
    // No more input is taken; the application ends in order before main returns.
    session.end();
    if (fromScript) ::close(input);
    if (reader.error() != 0) {
        std::cerr << "cannot read " << inputName << ": " << std::strerror(reader.error()) << "\n";
        status = 74;
    } else if (status == 0 && refused > 0) {
        std::cerr << inputName << ": " << refused << (refused == 1 ? " line was" : " lines were") << " refused\n";
        status = 1;
    }
    UIApplication::sharedApplication()->endIfStillRunning(status);
    return status;
}
