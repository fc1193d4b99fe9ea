// Picture quality of the adaptive palette against the pre-merge bound: for each bound and colour
// count one palette build, then the remap without dithering and with Floyd-Steinberg, each with
// its PSNR over R, G, B against the source.
//
//   palette_sweep IMAGE.png BOUNDS COUNTS [OUTDIR]
//       BOUNDS and COUNTS are comma-separated ("65536,262144,0" and "16,64,256"); bound 0 is
//       none. One line per run: bound, colours, dither, PSNR, palette ms, remap ms. With OUTDIR,
//       each run without dithering also writes its palette as swatches (heaviest first) and its
//       picture to OUTDIR/b<bound>_n<count>_palette.png and _image.png.
//   palette_sweep --psnr SOURCE.png OTHER.png
//       the PSNR of OTHER (say a peer's output) against SOURCE, measured the same way.
#include <png.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/adaptive_palette.h"
#include "imaging/color_space.h"
#include "imaging/color_tree.h"
#include "imaging/quantize.h"
#include "imaging/remap.h"
#include "read_png.h"

namespace {

using bench::ReadPng;
using bench::Rgba;

void WritePng(const std::string& path, int w, int h, const std::vector<uint8_t>& rgba) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = static_cast<png_uint_32>(w);
    img.height = static_cast<png_uint_32>(h);
    img.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&img, path.c_str(), 0, rgba.data(), 0, nullptr))
        throw std::runtime_error("cannot write " + path);
}

double Psnr(double sumSq, double samples) {
    return sumSq == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * samples / sumSq);
}

double Psnr(const Rgba& a, const Rgba& b) {
    if (a.w != b.w || a.h != b.h) throw std::runtime_error("the two pictures differ in size");
    double sum = 0;
    for (size_t i = 0; i < a.px.size(); i += 4)
        for (size_t c = 0; c < 3; ++c) {
            const double d = double(a.px[i + c]) - double(b.px[i + c]);
            sum += d * d;
        }
    return Psnr(sum, double(a.px.size() / 4 * 3));
}

double Psnr(const jx::EngineState& s) {
    double sum = 0;
    const jx::TPixelRec* src = s.SourceImage.Data();
    const jx::TPixelRec* out = s.WorkingImage.Data();
    for (int64_t i = 0; i < s.SourceImage.Count(); ++i) {
        const double dr = double(src[i].R) - out[i].R, dg = double(src[i].G) - out[i].G, db = double(src[i].B) - out[i].B;
        sum += dr * dr + dg * dg + db * db;
    }
    return Psnr(sum, double(s.SourceImage.Count()) * 3);
}

std::vector<int32_t> List(const char* text) {
    std::vector<int32_t> v;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) v.push_back(std::atoi(item.c_str()));
    return v;
}

double Ms(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// The palette in rows of 8 swatches of 48 x 48, heaviest (by the remap's use counts) first.
void WritePalette(const std::string& path, const jx::EngineState& s) {
    std::vector<int32_t> order(static_cast<size_t>(s.PaletteSize));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        return s.Palette[size_t(a)].Weight > s.Palette[size_t(b)].Weight;
    });
    const int side = 48, cols = 8, rows = (s.PaletteSize + cols - 1) / cols;
    std::vector<uint8_t> px(size_t(side * cols) * size_t(side * rows) * 4, 255);
    for (size_t k = 0; k < order.size(); ++k) {
        const jx::TPixelRec& p = s.Palette[size_t(order[k])];
        const int x0 = int(k % cols) * side, y0 = int(k / cols) * side;
        for (int y = y0 + 2; y < y0 + side - 2; ++y)
            for (int x = x0 + 2; x < x0 + side - 2; ++x) {
                uint8_t* q = &px[(size_t(y) * size_t(side * cols) + size_t(x)) * 4];
                q[0] = p.R, q[1] = p.G, q[2] = p.B, q[3] = 255;
            }
    }
    WritePng(path, side * cols, side * rows, px);
}

void WriteImage(const std::string& path, const jx::TPixelImage& im) {
    std::vector<uint8_t> px;
    px.reserve(static_cast<size_t>(im.Count()) * 4);
    for (const jx::TPixelRec& p : im.Vector()) px.insert(px.end(), {p.R, p.G, p.B, p.A});
    WritePng(path, im.Width(), im.Height(), px);
}

}  // namespace

int main(int argc, char** argv) try {
    using namespace jx;
    if (argc == 4 && std::string(argv[1]) == "--psnr") {
        std::printf("%.2f\n", Psnr(ReadPng(argv[2]), ReadPng(argv[3])));
        return 0;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: palette_sweep IMAGE.png BOUNDS COUNTS [OUTDIR] | --psnr SOURCE.png OTHER.png\n");
        return 2;
    }
    const Rgba in = ReadPng(argv[1]);
    TPixelImage image(in.w, in.h);
    for (int64_t i = 0; i < image.Count(); ++i) {
        TPixelRec& p = image.Data()[i];
        p.R = in.px[static_cast<size_t>(i * 4)];
        p.G = in.px[static_cast<size_t>(i * 4 + 1)];
        p.B = in.px[static_cast<size_t>(i * 4 + 2)];
        p.A = 255;
    }
    EngineState state;
    state.SetSourceImage(std::move(image));
    ApplyColorSpace(state, 0);
    BuildUniqueColors(state);

    // The colour list as Quantize leaves it, taken through the driver with a cheap palette type
    // and put back before every build.
    EngineObserver quiet;
    TQuantizerSettings settings;
    settings.PaletteType = TPaletteType::Custom;
    settings.DitherMode = TDitherMode::None;
    std::vector<TPixelRec> list;
    std::vector<int64_t> weights;
    int32_t listLength = 0;
    state.LoadCustomPalette = [&](EngineState& st) {
        list.assign(st.Palette.begin(), st.Palette.end());
        weights = st.ColorListWeights;
        listLength = st.ColorListLength;
        st.PaletteSize = 1;
    };
    settings.ColorCount = "2";
    Quantize(state, settings, quiet);
    std::printf("%s: %dx%d, %d unique colours\n", argv[1], in.w, in.h, state.UniqueColorCount);
    std::printf("%-8s %6s %-16s %7s %10s %9s\n", "bound", "colours", "dither", "psnr", "palette_ms", "remap_ms");

    settings.PaletteType = TPaletteType::Adaptive;
    for (const int32_t bound : List(argv[2]))
        for (const int32_t n : List(argv[3])) {
            state.Palette = list;
            state.ColorListWeights = weights;
            state.ColorListLength = listLength;
            state.ColorListIsUnique = false;
            state.PaletteSize = n;
            state.PaletteOrder.resize(std::max<size_t>(list.size(), static_cast<size_t>(n)));
            std::iota(state.PaletteOrder.begin(), state.PaletteOrder.end(), 0);
            auto t0 = std::chrono::steady_clock::now();
            BuildAdaptivePalette(state, settings, true, bound);
            const double paletteMs = Ms(t0);
            const std::vector<TPixelRec> palette(state.Palette.begin(), state.Palette.begin() + state.PaletteSize);
            for (const TDitherMode dither : {TDitherMode::None, TDitherMode::FloydSteinberg}) {
                std::copy(palette.begin(), palette.end(), state.Palette.begin());
                settings.DitherMode = dither;
                t0 = std::chrono::steady_clock::now();
                ConvertImage(state, settings, quiet);
                const double remapMs = Ms(t0);
                std::printf("%-8s %6d %-16s %7.2f %10.0f %9.0f\n", bound > 0 ? std::to_string(bound).c_str() : "none",
                            state.PaletteSize, dither == TDitherMode::None ? "none" : "floyd-steinberg", Psnr(state),
                            paletteMs, remapMs);
                std::fflush(stdout);
                if (argc > 4 && dither == TDitherMode::None) {
                    const std::string stem = std::string(argv[4]) + "/b" + std::to_string(bound) + "_n" + std::to_string(n);
                    WritePalette(stem + "_palette.png", state);
                    WriteImage(stem + "_image.png", state.WorkingImage);
                }
            }
        }
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "palette_sweep: %s\n", e.what());
    return 1;
}
