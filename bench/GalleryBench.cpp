// The gallery's main road under load. The thumbnail screen of a 1,000-picture subcategory of
// the 50,000-picture catalogue, scrolled end to end a screen at a time with every thumbnail on
// the device and each shown thumbnail decoded as a display pass would, against stb_image alone
// reading and decoding the same files; both reported per screen of cells. And 1,000 sequential
// 50 KB GETs through HTTPrequest, against libcurl's own easy loop, both reported per request:
// from a minimal server on 127.0.0.1, so that the client is what is measured, and from the
// content server. The copy at a phone screen's size that a page turning away makes of a 6000 x 6000
// picture it holds whole, against stb_image_resize making the same. The check that a picture file
// saved to the photo album decodes, against the album's own copy of its bytes. Each pair also runs
// in turns in one benchmark, which prints their ratio. And the main thread's time for a turn of the
// pager from one 6000 x 6000 picture to another, on a phone and on a 2048 px wide screen. And a
// pad's page over a 6928 x 6928 picture too costly to decode whole, until it shows it reduced,
// against libjpeg's own decode of the file at that scale, and its reduced read at the largest size
// the bound allows against halving the screen's size.
#include "bench/support/BenchCatalogue.h"
#include "bench/support/CPUTime.h"
#include "bench/support/MinimalHTTPServer.h"
#include "content/HTTPrequest.h"
#include "content/List_DataSource.h"
#include "demo/server/ContentServer.h"
#include "gallery/GalleryContext.h"
#include "gallery/ImageScrollView.h"
#include "gallery/ImageViewController.h"
#include "gallery/UIThumbCollectionCell.h"
#include "gallery/UIThumbailViewController.h"
#include "platform/dispatch/NSRunLoop.h"
#include "platform/foundation/FileData.h"
#include "platform/foundation/NSString.h"
#include "platform/foundation/Sandbox.h"
#include "platform/ui/ReducedPictureCache.h"
#include "platform/ui/UIImage.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIWindow.h"
#include "tests/fixtures/LibjpegPicture.h"

#include "bench/support/Alternating.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <stb_image.h>
#include <stb_image_resize.h>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "Setting up the gallery benchmark failed: %s\n", what);
        std::exit(1);
    }
}

void reportPer(benchmark::State& state, const char* name, double perIteration) {
    state.counters[name] = benchmark::Counter(perIteration, benchmark::Counter::kIsIterationInvariantRate |
                                                                benchmark::Counter::kInvert);
}

// --- The thumbnail screen ----------------------------------------------------------------------

// The first subcategory's thumbnails, written into Caches "Data" as 80 x 60 JPEG files of their
// own, and its screen in a phone's window.
struct ThumbnailScreen {
    GalleryContext context;
    std::vector<std::string> files;
    std::shared_ptr<UIThumbailViewController> screen;
    std::shared_ptr<UIWindow> window;
    long screensPerScroll = 0;
};

ThumbnailScreen& thumbnailScreen() {
    static ThumbnailScreen made = [] {
        makeBenchCatalogue();
        ThumbnailScreen s;
        s.context.app = benchContext();
        s.context.resources = ResourceLoader::make(s.context.app.fileSystem);
        auto source = List_DataSource::initWithLoader(benchLoader());
        auto subCat = source->subCatList(source->catList()->front())->front();
        const auto rows = source->list(subCat);
        require(rows && rows->size() == static_cast<std::size_t>(kBenchPictures / kBenchSubCats), "the subcategory");
        const std::string folder = s.context.app.fileSystem->cachesFolder() + "/Data";
        std::filesystem::create_directories(folder);
        int n = 0;
        for (const auto& row : *rows) {
            std::vector<std::uint8_t> rgba(80 * 60 * 4);
            for (std::size_t i = 0; i < rgba.size(); i += 4) {
                const std::size_t x = (i / 4) % 80, y = (i / 4) / 80;
                rgba[i] = static_cast<std::uint8_t>(x * 3 + n);
                rgba[i + 1] = static_cast<std::uint8_t>(y * 4 + n * 7);
                rgba[i + 2] = static_cast<std::uint8_t>((x ^ y) + n * 13);
                rgba[i + 3] = 255;
            }
            ++n;
            const std::string path =
                folder + "/" + UIThumbailViewController::thumbnailPath(row.get("imagePath").stringValue());
            require(writeDataToFile(UIImageJPEGRepresentation(UIImage::imageWithPixels(rgba, 80, 60, 1), 0.8), path, false),
                    "a thumbnail");
            s.files.push_back(path);
        }
        s.screen = UIThumbailViewController::initWithDataSource(source, subCat, true, s.context);
        s.window = UIWindow::initWithFrame({{0, 0}, {375, 667}});
        s.window->setRootViewController(UINavigationController::initWithRootViewController(s.screen));
        s.window->makeKeyAndVisible();
        NSRunLoop::mainRunLoop()->runUntilIdle();
        s.window->layoutIfNeeded();
        const auto& grid = s.screen->gridView();
        require(grid->numberOfItemsInSection(0) == static_cast<long>(rows->size()), "the grid");
        const CGFloat page = grid->bounds().size.height;
        s.screensPerScroll = static_cast<long>(std::ceil((grid->contentSize().height - page) / page)) + 1;
        return s;
    }();
    return made;
}

// One scroll end to end, a screen at a time; the cells shown.
long scrollOnce(ThumbnailScreen& s) {
    const auto& grid = s.screen->gridView();
    const CGFloat page = grid->bounds().size.height;
    const CGFloat end = grid->contentSize().height - page;
    long cells = 0;
    for (long screen = 0; screen < s.screensPerScroll; ++screen) {
        grid->setContentOffset({0, std::min(end, screen * page)});
        for (const auto& cell : grid->visibleCells()) {
            auto image = std::static_pointer_cast<UIThumbCollectionCell>(cell)->imageView()->image();
            require(image != nullptr, "a thumbnail found on the device");
            benchmark::DoNotOptimize(image->rgbaPixels().data());
            ++cells;
        }
    }
    return cells;
}

void BM_ThumbnailScreenScroll(benchmark::State& state) {
    auto& s = thumbnailScreen();
    long cells = 0;
    for (auto _ : state) cells = scrollOnce(s);
    require(cells > 0, "cells on the screen");
    state.counters["screens"] = static_cast<double>(s.screensPerScroll);
    state.counters["cells_per_screen"] = static_cast<double>(cells) / static_cast<double>(s.screensPerScroll);
    reportPer(state, "per_screen", static_cast<double>(s.screensPerScroll));
}
BENCHMARK(BM_ThumbnailScreenScroll)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: every thumbnail of the subcategory read and decoded once by stb_image.
void decodeAllWithStb(const ThumbnailScreen& s) {
    for (const auto& path : s.files) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        int w = 0, h = 0, channels = 0;
        unsigned char* pixels = stbi_load_from_memory(reinterpret_cast<const unsigned char*>(bytes.data()),
                                                      static_cast<int>(bytes.size()), &w, &h, &channels, 4);
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
    }
}

void BM_ThumbnailDecodeStbOnly(benchmark::State& state) {
    auto& s = thumbnailScreen();
    for (auto _ : state) decodeAllWithStb(s);
    state.counters["screens"] = static_cast<double>(s.screensPerScroll);
    reportPer(state, "per_screen", static_cast<double>(s.screensPerScroll));
}
BENCHMARK(BM_ThumbnailDecodeStbOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

// The two in turns, per screen of cells.
void BM_ThumbnailScrollAgainstStb(benchmark::State& state) {
    auto& s = thumbnailScreen();
    long cells = 0;
    bench::alternate(
        state, "thumbnail screen scroll / stb_image decoding the same files", "screen",
        static_cast<double>(s.screensPerScroll), [&] { cells = scrollOnce(s); }, [&] { decodeAllWithStb(s); });
    require(cells > 0, "cells on the screen");
}
BENCHMARK(BM_ThumbnailScrollAgainstStb)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- The screen copy of a page turning away ----------------------------------------------------

// A 6000 x 6000 picture in memory, as a page holds one whole, and the longer side of a phone's
// screen in pixels, which a page turning away fits it to.
const std::shared_ptr<UIImage>& wholePicture() {
    static const auto picture = [] {
        std::vector<std::uint8_t> rgba(std::size_t{6000} * 6000 * 4);
        for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<std::uint8_t>(i * 31 + i / 24000);
        return UIImage::imageWithPixels(std::move(rgba), 6000, 6000, 1);
    }();
    return picture;
}
constexpr int kScreenSide = 1334;

// The screen-sized copy a page turning away makes of its picture, against stb_image_resize making
// one of the same size from the same pixels.
void BM_ScreenCopyAgainstStbResize(benchmark::State& state) {
    const auto& picture = wholePicture();
    bench::alternate(
        state, "screen copy of a 6000 x 6000 picture / stb_image_resize of the same", "copy", 1,
        [&] {
            auto copy = UIImage::reducedImageWithImage(picture, kScreenSide);
            require(copy && copy->pixelWidth() == kScreenSide, "a screen copy");
        },
        [&] {
            std::vector<std::uint8_t> out(std::size_t{kScreenSide} * kScreenSide * 4);
            require(stbir_resize_uint8(picture->rgbaPixels().data(), 6000, 6000, 0, out.data(), kScreenSide, kScreenSide,
                                       0, 4) == 1,
                    "stb_image_resize");
            benchmark::DoNotOptimize(out.data());
        });
}
BENCHMARK(BM_ScreenCopyAgainstStbResize)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- The check of a file saved to the photo album ------------------------------------------------

// A high-resolution picture file as the menu downloads one, 3000 x 2250 JPEG of fine detail.
const std::string& highResolutionFile() {
    static const std::string path = [] {
        makeBenchCatalogue();
        constexpr int kWidth = 3000, kHeight = 2250;
        std::vector<std::uint8_t> rgba(std::size_t{kWidth} * kHeight * 4);
        // Gradients under noise, which a photograph's JPEG is about as long as.
        std::uint32_t noise = 2463534242u;
        for (std::size_t i = 0; i < rgba.size(); i += 4) {
            const std::size_t x = (i / 4) % kWidth, y = (i / 4) / kWidth;
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            rgba[i] = static_cast<std::uint8_t>(x / 12 + (noise & 31));
            rgba[i + 1] = static_cast<std::uint8_t>(y / 9 + ((noise >> 8) & 31));
            rgba[i + 2] = static_cast<std::uint8_t>((x + y) / 21 + ((noise >> 16) & 31));
            rgba[i + 3] = 255;
        }
        const std::string file = Sandbox::tmp() + "/hd-picture.jpg";
        require(writeDataToFile(UIImageJPEGRepresentation(UIImage::imageWithPixels(std::move(rgba), kWidth, kHeight, 1), 0.9),
                                file, true),
                "the high-resolution file");
        return file;
    }();
    return path;
}

// The album saver's check that a file's body decodes (as small as a download is checked), against
// what the album does with the file anyway: its bytes read and written whole as a new picture.
void BM_AlbumCheckAgainstAlbumCopy(benchmark::State& state) {
    const std::string& file = highResolutionFile();
    const std::string copy = Sandbox::tmp() + "/IMG_0001.JPG";
    bench::alternate(
        state, "album check of a 3000 x 2250 JPEG / the album's copy of its bytes", "save", 1,
        [&] {
            // A downloaded file is new: nothing decoded from it is kept yet.
            ui_detail::ReducedPictureCache::shared().clear();
            auto checked = UIImage::reducedImageWithContentsOfFile(file, 64);
            require(checked && checked->decodes(), "the check");
        },
        [&] {
            auto bytes = readDataFromFile(file);
            require(bytes && file_detail::writeDataToNewFile(*bytes, copy), "the copy");
            require(std::filesystem::remove(copy), "the copy's removal");
        });
    state.counters["file_kb"] = static_cast<double>(std::filesystem::file_size(file)) / 1024;
}
BENCHMARK(BM_AlbumCheckAgainstAlbumCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- A turn of the pager away from a large picture -------------------------------------------

// Two 6000 x 6000 pictures of their own in Documents "Data" (smooth colour fields, as a JPEG file),
// and the picture service that reads them whole for the pages.
const GalleryContext& turnContext() {
    static const GalleryContext made = [] {
        makeBenchCatalogue();
        GalleryContext context;
        context.app = benchContext();
        context.resources = ResourceLoader::make(context.app.fileSystem);
        std::vector<std::uint8_t> rgba(std::size_t{6000} * 6000 * 4);
        for (std::size_t y = 0; y < 6000; ++y)
            for (std::size_t x = 0; x < 6000; ++x) {
                std::uint8_t* p = rgba.data() + (y * 6000 + x) * 4;
                p[0] = static_cast<std::uint8_t>(x / 24);
                p[1] = static_cast<std::uint8_t>(y / 24);
                p[2] = static_cast<std::uint8_t>((x + y) / 48);
                p[3] = 255;
            }
        const NSData jpeg = UIImageJPEGRepresentation(UIImage::imageWithPixels(std::move(rgba), 6000, 6000, 1), 0.9);
        for (const char* name : {"Data/turn-0.jpg", "Data/turn-1.jpg"}) {
            const auto path = context.app.fileSystem->safeDocumentsPathForFile(name, true);
            require(path && writeDataToFile(jpeg, *path, false), "a 6000 x 6000 picture in Documents");
        }
        return context;
    }();
    return made;
}

// A page of the pager over picture `n` (0 or 1), the screen's size, beginning to appear as the
// pager's next page does (animated, while the page before is still on screen).
std::shared_ptr<ImageViewController> turnPage(int n, CGSize screen) {
    auto page = ImageViewController::initWithImageData(
        Value::Dictionary{{"imagePath", Value(std::string("turn-") + std::to_string(n) + ".jpg")}}, turnContext());
    page->view()->setFrame({{0, 0}, screen});
    page->beginAppearanceTransition(true, true);
    return page;
}
bool showsWhole(const ImageViewController& page) { return page.image() && page.image()->pixelWidth() == 6000; }

// The main thread's time (its CPU time: it waits for the workers without using any) for one turn
// from a page showing its 6000 x 6000 picture whole to the next over another: the next page appears
// and takes the full-size picture, the one before lets go of it (showing a copy at the screen's
// size) and leaves; until the next page shows its picture whole and the one before its copy. On a
// phone (375 x 667 points) and on a 2048 px wide screen (1024 x 1366 points), both at 2x.
void BM_PageTurnMainThread(benchmark::State& state) {
    const bool pad = state.range(0) == 1;
    UIDevice::applyProfile(pad ? UIUserInterfaceIdiom::Pad : UIUserInterfaceIdiom::Phone);
    UIImage::setScreenScale(2);
    const CGSize screen = pad ? CGSize{1024, 1366} : CGSize{375, 667};
    auto loop = NSRunLoop::mainRunLoop();
    int n = 0;
    auto shown = turnPage(n, screen);
    shown->endAppearanceTransition();
    // A person turns once the picture has faded in.
    const auto fadedIn = [&] { return showsWhole(*shown) && shown->scrollView()->alpha() >= 1; };
    require(loop->runUntil(fadedIn, 120), "the first page's picture");
    double longest = 0, total = 0;
    for (auto _ : state) {
        const double began = bench::threadCPUSeconds();
        n = 1 - n;
        auto next = turnPage(n, screen);
        shown->beginAppearanceTransition(false, true);
        require(loop->runUntil([&] { return showsWhole(*next) && shown->image() && shown->image()->pixelWidth() < 6000; },
                               120),
                "the next page's picture and the copy of the one before");
        shown->endAppearanceTransition();
        next->endAppearanceTransition();
        shown = std::move(next);
        loop->runUntilIdle();
        const double spent = bench::threadCPUSeconds() - began;
        state.SetIterationTime(spent);
        longest = std::max(longest, spent);
        total += spent;
        require(loop->runUntil(fadedIn, 120), "the picture faded in");
    }
    state.counters["main_ms_per_turn"] = total * 1e3 / static_cast<double>(state.iterations());
    state.counters["longest_turn_main_ms"] = longest * 1e3;
    state.SetLabel(pad ? "1024 x 1366 points at 2x (2048 px)" : "phone, 375 x 667 points at 2x");
    shown->beginAppearanceTransition(false, false);
    shown->endAppearanceTransition();
    shown.reset();
    loop->runUntilIdle();
}
BENCHMARK(BM_PageTurnMainThread)->Arg(0)->Arg(1)->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);

// --- A pad's page over a picture too costly to decode whole --------------------------------------

// A 6928 x 6928 photograph-like JPEG as a camera's finest setting writes it but at quality 95
// (about 60 MB) in Documents "Data": its coefficients take 288 MB until its last scan, and its
// scans are longer than the room the decode bound leaves beside them for the one scan it would be
// rewritten to, so its header refuses it whole and a page shows it reduced.
const GalleryContext& costlyContext() {
    static const GalleryContext made = [] {
        makeBenchCatalogue();
        GalleryContext context;
        context.app = benchContext();
        context.resources = ResourceLoader::make(context.app.fileSystem);
        std::uint32_t grain = 0x9E3779B9u;
        const NSData jpeg = libjpegEncoded(
            6928, 6928, 3, JCS_RGB,
            [](jpeg_compress_struct& info) {
                finestCameraSetting(info);
                jpeg_set_quality(&info, 95, TRUE);
            },
            // The gradients and grain of the tests' photograph-like pictures.
            [&](int y, std::vector<std::uint8_t>& row) {
                for (int x = 0; x < 6928; ++x) {
                    const int base[3] = {40 + 160 * x / 6928, 60 + 140 * y / 6928, 200 - 120 * x / 6928};
                    for (int c = 0; c < 3; ++c) {
                        grain ^= grain << 13;
                        grain ^= grain >> 17;
                        grain ^= grain << 5;
                        row[static_cast<std::size_t>(x) * 3 + c] =
                            static_cast<std::uint8_t>(base[c] + static_cast<int>(grain % 63) - 31);
                    }
                }
            });
        const auto path = context.app.fileSystem->safeDocumentsPathForFile("Data/costly.jpg", true);
        require(path && writeDataToFile(jpeg, *path, false), "a 6928 x 6928 picture in Documents");
        NSErrorPtr refused;
        require(!UIImage::imageWithContentsOfFile(*path, &refused) && refused &&
                    refused->code() == UIImageErrorTooCostlyWhole,
                "a picture too costly to decode whole");
        return context;
    }();
    return made;
}

// The peak resident memory, from a new start (Linux's clear_refs "5"), in kB.
void resetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}
long peakMemoryKB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

// libjpeg's own decode of the file at the scale the page shows it (n/8), read from the disk as
// djpeg reads it and into RGBA rows: the least that showing it at that size takes. Its side.
int libjpegScaledDecode(const std::string& path, unsigned eighths) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    require(file != nullptr, "the picture file");
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.scale_num = eighths;
    info.scale_denom = 8;
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    const std::size_t stride = static_cast<std::size_t>(info.output_width) * 4;
    std::vector<std::uint8_t> pixels(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    const int side = static_cast<int>(info.output_width);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    benchmark::DoNotOptimize(pixels.data());
    return side;
}

// A page on a pad's screen (768 x 1024 points at 2x, 2048 px) over that picture, from its
// appearance until its picture is in place (the picture is read on the holder's queue and decoded
// apart from it), against libjpeg's own decode of the same file at the scale the page shows it
// (2/8: 1732 px). Beside the ratio of their wall times: each side's process CPU time, the page's
// peak resident memory and the side it is shown at.
void BM_PadPageOfPictureTooCostlyToDecodeWhole(benchmark::State& state) {
    const GalleryContext& context = costlyContext();
    const auto path = context.app.fileSystem->safeDocumentsPathForFile("Data/costly.jpg", false);
    require(path.has_value(), "the picture's path");
    UIDevice::applyProfile(UIUserInterfaceIdiom::Pad);
    UIImage::setScreenScale(2);
    auto loop = NSRunLoop::mainRunLoop();
    double pageCPU = 0, libjpegCPU = 0;
    long peak = 0;
    int side = 0, libjpegSide = 0;
    bench::alternate(
        state, "pad page of a 6928 x 6928 picture too costly to decode whole / libjpeg's own 2/8 decode of the file",
        "page", 1,
        [&](bench::SideTimer& timer) {
            resetPeakMemory();
            const double began = bench::processCPUSeconds();
            auto page = ImageViewController::initWithImageData(Value::Dictionary{{"imagePath", Value("costly.jpg")}}, context);
            page->view()->setFrame({{0, 0}, {768, 1024}});
            page->beginAppearanceTransition(true, false);
            page->endAppearanceTransition();
            require(loop->runUntil([&] { return page->image() && page->image()->size().width == 6928; }, 600),
                    "the page's picture");
            pageCPU += bench::processCPUSeconds() - began;
            timer.pause();
            peak = std::max(peak, peakMemoryKB());
            side = page->image()->pixelWidth();
            page->beginAppearanceTransition(false, false);
            page->endAppearanceTransition();
            page.reset();
            loop->runUntilIdle();
            timer.resume();
        },
        [&] {
            const double began = bench::processCPUSeconds();
            libjpegSide = libjpegScaledDecode(*path, 2);
            libjpegCPU += bench::processCPUSeconds() - began;
        });
    require(side == libjpegSide, "the page shown at libjpeg's 2/8 scale");
    const auto rounds = static_cast<double>(state.iterations());
    state.counters["page_cpu_s"] = pageCPU / rounds;
    state.counters["libjpeg_cpu_s"] = libjpegCPU / rounds;
    state.counters["x_libjpeg_cpu"] = libjpegCPU > 0 ? pageCPU / libjpegCPU : 0;
    state.counters["peak_rss_kb"] = static_cast<double>(peak);
    state.counters["shown_px"] = side;
}
BENCHMARK(BM_PadPageOfPictureTooCostlyToDecodeWhole)->Iterations(4)->Unit(benchmark::kSecond)->UseRealTime();

// That picture read reduced for a pad's page, which its header refuses whole: at the largest size up
// to the screen's 2048 px that the bound allows (the largest of the decoder's own scales below it,
// worked out from the header), against the steps of halving the screen's size until a size is not
// refused (2048 refused from its header, 1024 decoded). Both decode every coefficient once.
void BM_ReducedPageReadAgainstHalving(benchmark::State& state) {
    const ResourceLoader& resources = *costlyContext().resources;
    int largest = 0, halved = 0;
    bench::alternate(
        state, "largest size within the bound of a 6928 x 6928 picture / halving from 2048 px", "read", 1,
        [&] {
            auto picture = resources.loadLargestImageFrom("Data/costly.jpg", 2048);
            require(picture && picture->decodes(), "the largest size within the bound");
            largest = picture->pixelWidth();
        },
        [&] {
            std::shared_ptr<UIImage> picture;
            for (int side = 2048; !picture && side >= 128; side /= 2) picture = resources.loadImageFrom("Data/costly.jpg", side);
            require(picture && picture->decodes(), "a halved size");
            halved = picture->pixelWidth();
        });
    state.counters["largest_px"] = largest;
    state.counters["halved_px"] = halved;
}
BENCHMARK(BM_ReducedPageReadAgainstHalving)->Iterations(4)->Unit(benchmark::kSecond)->UseRealTime();

// --- The HTTP layer ----------------------------------------------------------------------------

constexpr std::size_t kBodySize = 50 * 1024;
constexpr int kGets = 1000;

std::string body50k() {
    std::string body(kBodySize, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 131) ^ (i >> 7));
    return body;
}

struct Served {
    std::string folder;
    std::unique_ptr<ContentServer> server;
    std::string url;
    std::unique_ptr<MinimalHTTPServer> minimal;
    std::string minimalUrl;
    std::shared_ptr<FileSystem> fileSystem = std::make_shared<FileSystem>();

    ~Served() {
        server.reset();
        minimal.reset();
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
};

Served& served() {
    static Served s;
    if (s.server) return s;
    {
        std::string folder = (std::filesystem::temp_directory_path() / "ostrel-gallery-bench-XXXXXX").string();
        require(mkdtemp(folder.data()) != nullptr, "the served folder");
        s.folder = folder;
        std::filesystem::create_directories(folder + "/pic/gallery");
        std::ofstream(folder + "/pic/gallery/picture50k.jpg", std::ios::binary) << body50k();
        std::string error;
        s.server = ContentServer::start({folder, "", 0, {}}, &error);
        require(s.server != nullptr, error.c_str());
        s.url = s.server->host() + "/pic/gallery/picture50k.jpg";
        s.minimal = std::make_unique<MinimalHTTPServer>(body50k());
        s.minimalUrl = s.minimal->url("/pic/gallery/picture50k.jpg");
    }
    return s;
}

// Arg 0: the minimal server; 1: the content server.
const std::string& servedUrl(const benchmark::State& state) {
    return state.range(0) == 0 ? served().minimalUrl : served().url;
}

class Received : public HTTPrequestDelegate {
public:
    void httpRequestDataLoaded(const std::shared_ptr<HTTPrequest>&, const NSData& data) override {
        size = data.size();
        done = true;
    }
    void httpRequestError(const std::shared_ptr<HTTPrequest>&, const NSErrorPtr&) override { done = true; }
    bool done = false;
    std::size_t size = 0;
};

// One GET through HTTPrequest, the main run loop pumped until it is answered.
void getThroughHTTPrequest(Served& s, const std::string& url, const std::shared_ptr<Received>& received) {
    received->done = false;
    received->size = 0;
    auto request = HTTPrequest::make(s.fileSystem);
    request->setDelegate(received);
    request->sendRequest(url);
    require(NSRunLoop::mainRunLoop()->runUntil([&] { return received->done; }, 30), "an answer within 30 s");
    require(received->size == kBodySize, "a whole body");
}

void BM_HTTPrequestSequentialGets(benchmark::State& state) {
    auto& s = served();
    const std::string& url = servedUrl(state);
    auto received = std::make_shared<Received>();
    for (auto _ : state) getThroughHTTPrequest(s, url, received);
    s.server->clearRequests();
}
// One iteration is one GET: the time shown is per request, on the wall clock.
BENCHMARK(BM_HTTPrequestSequentialGets)->Arg(0)->Arg(1)->Iterations(kGets)->Unit(benchmark::kMicrosecond)->UseRealTime();

std::size_t countBytes(char*, std::size_t size, std::size_t count, void* total) {
    *static_cast<std::size_t*>(total) += size * count;
    return size * count;
}

// The floor: one easy handle, its connection kept, asked again and again.
struct CurlLoop {
    CURL* curl = curl_easy_init();
    std::size_t total = 0;
    explicit CurlLoop(const std::string& url) {
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, countBytes);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &total);
    }
    ~CurlLoop() { curl_easy_cleanup(curl); }
    void get() {
        total = 0;
        require(curl_easy_perform(curl) == CURLE_OK && total == kBodySize, "a whole body over curl");
    }
};

void BM_CurlEasyLoop(benchmark::State& state) {
    auto& s = served();
    {
        CurlLoop loop(servedUrl(state));
        for (auto _ : state) loop.get();
    }
    s.server->clearRequests();
}
BENCHMARK(BM_CurlEasyLoop)->Arg(0)->Arg(1)->Iterations(kGets)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The two in turns, one GET each per round.
void BM_HTTPrequestAgainstCurl(benchmark::State& state) {
    auto& s = served();
    const std::string& url = servedUrl(state);
    auto received = std::make_shared<Received>();
    {
        CurlLoop loop(url);
        bench::alternate(
            state,
            state.range(0) == 0 ? "HTTPrequest GET / curl easy loop, minimal server"
                                : "HTTPrequest GET / curl easy loop, content server",
            "request", 1, [&] { getThroughHTTPrequest(s, url, received); }, [&] { loop.get(); });
    }
    s.server->clearRequests();
}
BENCHMARK(BM_HTTPrequestAgainstCurl)->Arg(0)->Arg(1)->Iterations(kGets)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

ALTERNATING_BENCHMARK_MAIN();
