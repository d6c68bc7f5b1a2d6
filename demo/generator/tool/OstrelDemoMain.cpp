// ostrel-demo: writes the demo bundle (and the content server's folder) into the folders given
// on the command line, or points a written bundle at a content server.
#include "demo/generator/DemoGenerator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    DemoGenerator::Options options;
    std::string output, server, serverHost;
    int articlesStyle = -1;
    bool usage = false;
    for (int i = 1; i < argc && !usage; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--source") == 0 && hasValue) {
            options.sourceBundle = argv[++i];
        } else if (std::strcmp(argv[i], "--synthetic") == 0 && hasValue) {
            options.syntheticPictures = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--no-pictures") == 0) {
            options.writePictures = false;
        } else if (std::strcmp(argv[i], "--server") == 0 && hasValue) {
            server = argv[++i];
        } else if (std::strcmp(argv[i], "--server-host") == 0 && hasValue) {
            serverHost = argv[++i];
        } else if (std::strcmp(argv[i], "--articles-style") == 0 && hasValue) {
            articlesStyle = std::atoi(argv[++i]);
        } else if (argv[i][0] != '-' && output.empty()) {
            output = argv[i];
        } else {
            usage = true;
        }
    }
    const bool settings = !serverHost.empty() || articlesStyle >= 0;
    if (output.empty() || usage || (settings && !server.empty())) {
        std::fprintf(stderr,
                     "Usage: ostrel-demo [--source <bundle folder>] [--synthetic <rows>] [--no-pictures]\n"
                     "                   [--server <server folder>] <output folder>\n"
                     "       ostrel-demo [--server-host <http://127.0.0.1:PORT>] [--articles-style 1|2] <bundle folder>\n"
                     "Writes the demo bundle: Info.plist, string tables, content databases, icons and pictures;\n"
                     "with --server, also the folder ostrel-content-server serves. --server-host sets the server\n"
                     "host, --articles-style the reading section (1 articles, 2 famous paintings), in the\n"
                     "Info.plist of a bundle written before, and nothing else.\n");
        return 2;
    }
    std::string error;
    const bool written = settings ? (serverHost.empty() || DemoGenerator::setServerHost(output, serverHost, &error)) &&
                                        (articlesStyle < 0 || DemoGenerator::setArticlesStyle(output, articlesStyle, &error))
                                  : DemoGenerator::writeBundle(output, options, &error) &&
                                        (server.empty() || DemoGenerator::writeServerFolder(server, options, &error));
    if (!written) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}
