// HostilePictures OUT_DIR: writes the three kinds of tiny picture whose header claims a huge
// size, for bench/peak-memory to put in place of the demo's pictures:
//   claims-6928.png              an 8 × 8 PNG (under 100 bytes) whose IHDR claims 6928 × 6928
//   claims-6928-progressive.jpg  a 64 × 64 progressive JPEG (about 700 bytes) claiming 6928 × 6928
//   claims-6900.jpg              a 64 × 64 baseline JPEG (under 1 kB) whose frame claims 6900 × 6900
// The PNG's IHDR checksum is made again for the size it claims, so only the size gives it away.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using Bytes = std::vector<unsigned char>;

// A w × h picture of 4-byte pixels: red on the left half, blue on the right.
Bytes halves(int w, int h) {
    Bytes px(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &px[(static_cast<std::size_t>(y) * w + x) * 4];
            p[0] = x < w / 2 ? 255 : 0;
            p[2] = x < w / 2 ? 0 : 255;
            p[3] = 255;
        }
    return px;
}

void collect(void* context, void* data, int size) {
    auto* out = static_cast<Bytes*>(context);
    out->insert(out->end(), static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
}

Bytes progressiveJPEG(int w, int h) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* bytes = nullptr;
    unsigned long length = 0;
    jpeg_mem_dest(&info, &bytes, &length);
    info.image_width = static_cast<JDIMENSION>(w);
    info.image_height = static_cast<JDIMENSION>(h);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    const Bytes rgba = halves(w, h);
    Bytes row(static_cast<std::size_t>(w) * 3);
    while (info.next_scanline < info.image_height) {
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                row[static_cast<std::size_t>(x) * 3 + c] = rgba[(static_cast<std::size_t>(info.next_scanline) * w + x) * 4 + c];
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes out(bytes, bytes + length);
    std::free(bytes);
    return out;
}

void put(Bytes& data, std::size_t at, unsigned long value, int count) {
    for (int i = 0; i < count; ++i) data[at + i] = static_cast<unsigned char>(value >> (8 * (count - 1 - i)));
}

// `data` with the size of its PNG IHDR or JPEG frame header replaced; empty when it has none.
Bytes claiming(Bytes data, unsigned long width, unsigned long height) {
    if (data.size() > 33 && data[0] == 0x89) {
        put(data, 16, width, 4);
        put(data, 20, height, 4);
        // The chunk's checksum covers its type and its 13 bytes of data.
        put(data, 29, crc32(0, &data[12], 17), 4);
        return data;
    }
    for (std::size_t at = 2; at + 9 < data.size() && data[at] == 0xFF;) {
        if (data[at + 1] == 0xC0 || data[at + 1] == 0xC2) {
            put(data, at + 5, height, 2);
            put(data, at + 7, width, 2);
            return data;
        }
        at += 2 + (static_cast<std::size_t>(data[at + 2]) << 8 | data[at + 3]);
    }
    return {};
}

bool write(const std::string& path, const Bytes& data) {
    if (data.empty()) {
        std::fprintf(stderr, "HostilePictures: no size field found for %s\n", path.c_str());
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file && std::fwrite(data.data(), 1, data.size(), file) == data.size();
    if (!file || std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "HostilePictures: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: HostilePictures OUT_DIR\n");
        return 2;
    }
    const std::string folder = argv[1];
    Bytes png;
    const Bytes small = halves(8, 8);
    stbi_write_png_to_func(collect, &png, 8, 8, 4, small.data(), 8 * 4);
    Bytes jpeg;
    const Bytes scan = halves(64, 64);
    stbi_write_jpg_to_func(collect, &jpeg, 64, 64, 4, scan.data(), 95);
    const bool written = write(folder + "/claims-6928.png", claiming(png, 6928, 6928)) &&
                         write(folder + "/claims-6928-progressive.jpg", claiming(progressiveJPEG(64, 64), 6928, 6928)) &&
                         write(folder + "/claims-6900.jpg", claiming(jpeg, 6900, 6900));
    return written ? 0 : 1;
}
