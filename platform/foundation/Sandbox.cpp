// The run's home folder: chosen once (explicitly, from $APP_HOME, or made fresh) and
// always holding the standard subfolders.
#include "platform/foundation/Sandbox.h"

#include "platform/foundation/Diagnostics.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

Mutex homeMutex;

// Never destroyed: threads still finishing work at exit may ask for the home.
std::string& currentHome() REQUIRES(homeMutex) {
    static auto* home = new std::string;
    return *home;
}

void createStandardFolders(const std::string& home) {
    const auto io = FileIO::current();
    for (const char* sub : {"Documents", "Library/Caches", "Library/Application Support",
                            "Library/Preferences", "tmp"}) {
        // A missing folder shows again, with its own error, at the first write into it.
        if (const int err = io->makeFolders(home + "/" + sub))
            Diagnostics::tellf("Could not create %s/%s: %s", home.c_str(), sub, std::strerror(err));
    }
}

std::string makeTemporaryFolder() {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string base = tmpdir && *tmpdir ? tmpdir : "/tmp";
    std::string pattern = base + "/apphome.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        // Without a home nothing can be stored; failing loudly beats writing somewhere unexpected.
        Diagnostics::tellf("Could not create a temporary home under %s: %s", base.c_str(), std::strerror(errno));
        std::abort();
    }
    return buffer.data();
}

}  // namespace

std::string Sandbox::home() {
    MutexLock lock(homeMutex);
    if (currentHome().empty()) {
        const char* env = std::getenv("APP_HOME");
        currentHome() = env && *env ? std::string(env) : makeTemporaryFolder();
        createStandardFolders(currentHome());
    }
    return currentHome();
}

std::string Sandbox::absolutePath(const std::string& path) {
    std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
    if (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    return absolute;
}

void Sandbox::setHome(const std::string& path) {
    const std::string absolute = absolutePath(path);
    createStandardFolders(absolute);
    MutexLock lock(homeMutex);
    currentHome() = absolute;
}

std::string Sandbox::makeTemporaryHome() {
    setHome(makeTemporaryFolder());
    return home();
}

std::string Sandbox::documents() { return home() + "/Documents"; }
std::string Sandbox::library() { return home() + "/Library"; }
std::string Sandbox::caches() { return home() + "/Library/Caches"; }
std::string Sandbox::applicationSupport() { return home() + "/Library/Application Support"; }
std::string Sandbox::preferences() { return home() + "/Library/Preferences"; }
std::string Sandbox::tmp() { return home() + "/tmp"; }
