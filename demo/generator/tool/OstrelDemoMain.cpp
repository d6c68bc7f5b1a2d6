// ostrel-demo: writes the demo bundle into the folder given on the command line.
#include "demo/generator/DemoGenerator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    DemoGenerator::Options options;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--source") == 0 && i + 1 < argc) {
            options.sourceBundle = argv[++i];
        } else if (std::strcmp(argv[i], "--synthetic") == 0 && i + 1 < argc) {
            options.syntheticPictures = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--no-pictures") == 0) {
            options.writePictures = false;
        } else if (argv[i][0] != '-' && output.empty()) {
            output = argv[i];
        } else {
            output.clear();
            break;
        }
    }
    if (output.empty()) {
        std::fprintf(stderr,
                     "Usage: ostrel-demo [--source <bundle folder>] [--synthetic <rows>] [--no-pictures] <output folder>\n"
                     "Writes the demo bundle: Info.plist, string tables, content databases, icons and pictures.\n");
        return 2;
    }
    std::string error;
    if (!DemoGenerator::writeBundle(output, options, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}
