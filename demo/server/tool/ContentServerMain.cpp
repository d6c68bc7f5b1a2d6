// ostrel-content-server: serves a folder written by `ostrel-demo --server` on 127.0.0.1 (over
// HTTP, or HTTPS for the articles' documents) until it is interrupted or terminated. Its first
// line on standard output is "listening on 127.0.0.1:PORT"; every request follows as a line.
#include "demo/loopback/LoopbackStopSignals.h"
#include "demo/server/ContentServer.h"
#include "platform/foundation/ThreadAnnotations.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr,
                 "Usage: ostrel-content-server [--port N] [--fixtures FILE] [--https CERTIFICATE]\n"
                 "                             [--fault 'path=/P&FAULT']... FOLDER\n"
                 "Serves FOLDER on 127.0.0.1 (port 0, the default, picks a free one) with the likes,\n"
                 "famous posts, remote messages and applications count of FOLDER/fixtures.json.\n"
                 "--https serves it over HTTPS, as the host of the articles' documents, and writes the\n"
                 "certificate for clients to trust for 127.0.0.1 to the file CERTIFICATE.\n"
                 "A FAULT joins any of status=CODE, page=html|suspended, chunked, delay=MS (before the\n"
                 "answer), slow=MS (before each piece) with piece=BYTES, stall[=BYTES], reset[=BYTES]\n"
                 "(half the body without), range-from=BYTE, endless=BYTES, redirect[=TO] (to the path\n"
                 "itself without TO, a loop) with &. While running,\n"
                 "POST /__fault?path=...&FAULT sets one, DELETE /__fault removes them, POST\n"
                 "/__release lets stalled bodies go on, GET /__log lists the requests.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    ContentServer::Options options;
    std::vector<std::pair<std::string, LoopbackServer::Fault>> faults;
    std::string certificate;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--port" && hasValue) {
            char* end = nullptr;
            const long port = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) return usage();
            options.port = static_cast<int>(port);
        } else if (arg == "--fixtures" && hasValue) {
            options.fixtures = argv[++i];
        } else if (arg == "--https" && hasValue) {
            options.scheme = LoopbackServer::Scheme::Https;
            certificate = argv[++i];
        } else if (arg == "--fault" && hasValue) {
            const auto parameters = LoopbackServer::parametersOf(argv[++i]);
            const auto path = parameters.find("path");
            std::string error;
            const auto fault = LoopbackServer::Fault::fromParameters(parameters, &error);
            if (path == parameters.end() || path->second.empty() || path->second[0] != '/') {
                std::fprintf(stderr, "A fault needs a path starting with \"/\": %s\n", argv[i]);
                return 2;
            }
            if (!fault) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 2;
            }
            faults.emplace_back(path->second, *fault);
        } else if (arg[0] != '-' && options.folder.empty()) {
            options.folder = arg;
        } else {
            return usage();
        }
    }
    if (options.folder.empty()) return usage();
    if (!certificate.empty()) {
        std::ofstream file(certificate, std::ios::trunc);
        file << LoopbackServer::certificatePEM();
        if (!file.flush()) {
            std::fprintf(stderr, "ostrel-content-server: The certificate could not be written to %s.\n",
                         certificate.c_str());
            return 1;
        }
    }

    LoopbackStopSignals stopSignals;

    Mutex output;
    options.log = [&output](const std::string& line) {
        MutexLock lock(output);
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
    };
    std::string error;
    auto server = ContentServer::start(options, &error);
    if (!server) {
        std::fprintf(stderr, "ostrel-content-server: %s\n", error.c_str());
        return 1;
    }
    for (const auto& [path, fault] : faults) server->setFault(path, fault);
    {
        MutexLock lock(output);
        std::fprintf(stdout, "listening on 127.0.0.1:%d\n", server->port());
        for (const auto& [path, fault] : faults) std::fprintf(stdout, "fault %s: %s\n", path.c_str(), fault.description().c_str());
        std::fflush(stdout);
    }
    stopSignals.wait();
    server.reset();
    return 0;
}
