// Decodes every file of the folders given as a picture, whole and reduced, and reads each pixel,
// for valgrind's memcheck to watch (the ui_image_memcheck test): a decoder that branches on
// memory it never wrote, or leaves such memory in the pixels, shows there whatever it makes of
// the picture. Prints what each file gave.
#include "platform/ui/UIImage.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER...\n", argv[0]);
        return 2;
    }
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> paths;
        for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
            if (entry.is_regular_file()) paths.push_back(entry.path());
        std::sort(paths.begin(), paths.end());
        for (const auto& path : paths) {
            std::ifstream in(path, std::ios::binary);
            const NSData bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            ++files;
            for (const int maxSide : {0, 32}) {
                auto image = maxSide ? UIImage::reducedImageWithData(bytes, maxSide) : UIImage::imageWithData(bytes);
                const char* how = maxSide ? " reduced" : "";
                if (!image) {
                    std::printf("%s%s: not a picture\n", path.filename().c_str(), how);
                    continue;
                }
                const bool decodes = image->decodes();
                // Printing the sum makes memcheck look at every byte of the pixels.
                unsigned long sum = 0;
                for (const std::uint8_t byte : image->rgbaPixels()) sum += byte;
                std::printf("%s%s: %d x %d, %s, pixel sum %lu\n", path.filename().c_str(), how, image->pixelWidth(),
                            image->pixelHeight(), decodes ? "decodes" : "does not decode", sum);
            }
        }
    }
    if (files == 0) {
        std::fprintf(stderr, "No files in the folders given.\n");
        return 1;
    }
    return 0;
}
