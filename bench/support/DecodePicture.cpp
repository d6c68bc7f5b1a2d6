// DecodePicture FILE: reads the picture in FILE and decodes it whole, as a picture page does, then
// says whether it decoded; for bench/peak-memory to take the peak one decode reaches.
#include "platform/ui/UIImage.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: DecodePicture FILE\n");
        return 2;
    }
    auto image = UIImage::imageWithContentsOfFile(argv[1]);
    const bool decodes = image && image->decodes();
    std::printf("%s\n", decodes ? "decodes" : "does not decode");
    return 0;
}
