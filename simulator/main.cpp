// ostrel-sim: runs the application on a bundle and a home folder, prints its screen as text
// and carries out commands typed at the terminal or read from a script.
#include "platform/adsupport/ADClient.h"
#include "platform/adsupport/ASIdentifierManager.h"
#include "platform/adsupport/ATTrackingManager.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/NSBundle.h"
#include "platform/foundation/NSProcessInfo.h"
#include "platform/foundation/NSUserDefaults.h"
#include "platform/foundation/Sandbox.h"
#include "platform/net/URLTrustAnchors.h"
#include "simulator/SimCommand.h"
#include "simulator/SimLog.h"
#include "simulator/SimRenderer.h"
#include "simulator/SimSession.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
                 "usage: ostrel-sim --bundle DIR --home DIR [--device phone|pad] [--script FILE] [--delegate NAME]\n"
                 "                  [--default KEY=VALUE]... [--trust-anchor HOST=PEMFILE]... [--search-ad CAMPAIGN=KEYWORD]\n"
                 "                  [--launch-url URL] [--advertising-id UUID] [--verbose]\n"
                 "The application's diagnostics go to diagnostics.log in the home; --verbose shows them here too.\n"
                 "--default sets a user default for this run only (a string; nothing is stored), for instance\n"
                 "the host of a service the application talks to; --trust-anchor trusts the certificates in\n"
                 "PEMFILE for connections to HOST alone (a test server's own certificate). --search-ad links the\n"
                 "advertising framework's attribution client, which answers that a search ad of CAMPAIGN for\n"
                 "KEYWORD led to this installation. --launch-url starts the application with URL in its launch\n"
                 "options, as when a link opens an application that is not running. --advertising-id links the\n"
                 "advertising and tracking frameworks: the device's advertising identifier is UUID and the person\n"
                 "has allowed tracking.\n");
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
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--bundle") ok = value(o.bundle);
        else if (arg == "--home") ok = value(o.home);
        else if (arg == "--device") ok = value(o.device);
        else if (arg == "--script") ok = value(o.script);
        else if (arg == "--delegate") ok = value(o.delegate);
        else if (arg == "--launch-url") ok = value(o.launchURL);
        else if (arg == "--verbose") o.verbose = true;
        else if (arg == "--advertising-id") {
            std::string text;
            ok = value(text) && (o.advertisingID = NSUUID::initWithUUIDString(text)) != nullptr;
        }
        else if (arg == "--default" || arg == "--trust-anchor" || arg == "--search-ad") {
            std::string text;
            std::pair<std::string, std::string> pair;
            ok = value(text) && splitPair(text, pair);
            if (ok && arg == "--search-ad") o.searchAd = std::move(pair);
            else if (ok) (arg == "--default" ? o.defaults : o.anchors).push_back(std::move(pair));
        }
        else if (arg == "--help" || arg == "-h") {
            usage();
            std::fputs(SimCommand::helpText(), stderr);
            return 0;
        } else ok = false;
        if (!ok) {
            usage();
            return 64;
        }
    }
    if (o.device != "phone" && o.device != "pad") {
        std::fprintf(stderr, "--device takes phone or pad\n");
        return 64;
    }
    // A link has a scheme and no blank in it.
    if (const std::size_t colon = o.launchURL.find(':');
        !o.launchURL.empty() &&
        (colon == std::string::npos || colon == 0 || o.launchURL.find_first_of(" \t\n") != std::string::npos)) {
        std::fprintf(stderr, "--launch-url takes a URL with its scheme and no spaces, such as gallery://paintings.\n");
        return 64;
    }
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
            std::fprintf(stderr, "No application delegate named \"%s\" is registered.\n", delegateName.c_str());
        return 2;
    }
    if (!options.bundle.empty()) NSBundle::setMainBundlePath(options.bundle);
    if (!options.home.empty()) Sandbox::setHome(options.home);
    SimLog::start(options.verbose);
    // Without its bundle the application would start on an empty screen and say nothing.
    const std::string bundleFolder = NSBundle::mainBundle()->bundlePath();
    std::error_code noFolder;
    if (!std::filesystem::is_directory(bundleFolder, noFolder)) {
        std::fprintf(stderr, "The bundle folder %s does not exist; give the folder the application's resources are in "
                             "with --bundle DIR.\n",
                     bundleFolder.c_str());
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
            std::fprintf(stderr, "cannot read the script %s: %s\n", script.c_str(), std::strerror(errno));
            return 66;
        }
        if (S_ISDIR(info.st_mode)) {
            std::fprintf(stderr, "cannot read the script %s: it is a folder, not a file\n", script.c_str());
            ::close(input);
            return 66;
        }
    }
    const std::string inputName = fromScript ? script : "standard input";

    // Runs after the session is gone, whichever way main returns.
    struct ReleaseCaches {
        ~ReleaseCaches() { SimRenderer::releaseCaches(); }
    } releaseCaches;
    SimSession session(options.device == "pad");
    // A person's time passes while the simulator waits; a script's clock moves only by its lines.
    session.setClockFollowsRealTime(!fromScript);
    if (!session.launch(delegateName, options.launchURL)) {
        session.end();
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
        if (fromScript) std::cout << "> " << line << "\n";
        if (command.kind == SimCommand::Kind::Help) std::cout << SimCommand::helpText();
        const SimSession::Result result = session.execute(command);
        if (result.quit) break;
        if (!result.ok) {
            if (fromScript) {
                std::cerr << script << ":" << lineNumber << ": " << result.message << "\n";
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
            std::cout << "! " << result.message << "\n";
        } else if (!result.message.empty()) {
            std::cout << result.message << "\n";
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
        return 74;
    }
    if (status == 0 && refused > 0) {
        std::cerr << script << ": " << refused << (refused == 1 ? " line was" : " lines were") << " refused\n";
        return 1;
    }
    return status;
}
