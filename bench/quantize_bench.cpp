// Timing driver for the adaptive palette and the remap pass:
//   quantize_bench IMAGE.png COLORS DITHER [OUT.png]
// DITHER is the index in the dithering list (0 = "None"). Prints palette_ms=, remap_ms=, colors=.
#include <png.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/adaptive_palette.h"
#include "imaging/color_space.h"
#include "imaging/color_tree.h"
#include "imaging/edge_map.h"
#include "imaging/engine_state.h"
#include "imaging/quantize.h"
#include "imaging/remap.h"
#include "read_png.h"

namespace {

using bench::ReadPng;
using bench::Rgba;

void WritePng(const char* path, const jx::TPixelImage& im) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = static_cast<png_uint_32>(im.Width());
    img.height = static_cast<png_uint_32>(im.Height());
    img.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> px;
    px.reserve(static_cast<size_t>(im.Count()) * 4);
    for (const jx::TPixelRec& p : im.Vector()) px.insert(px.end(), {p.R, p.G, p.B, p.A});
    if (!png_image_write_to_file(&img, path, 0, px.data(), 0, nullptr))
        throw std::runtime_error(std::string("cannot write ") + path);
}

double Ms(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) try {
    using namespace jx;
    if (argc < 4) {
        std::fprintf(stderr, "usage: quantize_bench IMAGE.png COLORS DITHER [OUT.png]\n");
        return 2;
    }
    const Rgba in = ReadPng(argv[1]);
    TPixelImage image(in.w, in.h);
    bool alpha = false;
    for (int64_t i = 0; i < image.Count(); ++i) {
        TPixelRec& p = image.Data()[i];
        p.R = in.px[static_cast<size_t>(i * 4)];
        p.G = in.px[static_cast<size_t>(i * 4 + 1)];
        p.B = in.px[static_cast<size_t>(i * 4 + 2)];
        p.A = in.px[static_cast<size_t>(i * 4 + 3)];
        alpha |= p.A != 255;
    }
    EngineState state;
    state.HasAlpha = alpha;
    state.SetSourceImage(std::move(image));
    ApplyColorSpace(state, 0);
    BuildUniqueColors(state);

    TQuantizerSettings settings;
    settings.ColorCount = argv[2];
    settings.DitherMode = static_cast<TDitherMode>(std::atoi(argv[3]));
    // The colour list as Quantize leaves it, built through the driver with a cheap palette type;
    // then the timed adaptive build and remap on that list.
    const int32_t n = ParseColorCount(settings.ColorCount);
    if (n < 1) throw std::runtime_error("COLORS must be a positive number");
    EngineObserver quiet;
    TQuantizerSettings listOnly = settings;
    listOnly.PaletteType = TPaletteType::Custom;
    std::vector<TPixelRec> list;
    int32_t listLength = 0;
    state.LoadCustomPalette = [&](EngineState& st) {
        list.assign(st.Palette.begin(), st.Palette.end());
        listLength = st.ColorListLength;
        st.PaletteSize = 1;
    };
    listOnly.DitherMode = TDitherMode::None;
    Quantize(state, listOnly, quiet);
    state.Palette = list;
    state.ColorListLength = listLength;
    state.PaletteSize = n;
    state.PaletteOrder.resize(std::max<size_t>(list.size(), static_cast<size_t>(n)));
    for (size_t i = 0; i < state.PaletteOrder.size(); ++i) state.PaletteOrder[i] = static_cast<int32_t>(i);

    auto t0 = std::chrono::steady_clock::now();
    BuildAdaptivePalette(state, settings);
    const double paletteMs = Ms(t0);
    t0 = std::chrono::steady_clock::now();
    ConvertImage(state, settings, quiet);
    const double remapMs = Ms(t0);
    std::printf("unique=%d\npalette_ms=%.1f\nremap_ms=%.1f\ncolors=%d\n", state.UniqueColorCount, paletteMs, remapMs,
                state.PaletteSize);
    if (argc > 4) WritePng(argv[4], state.WorkingImage);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "quantize_bench: %s\n", e.what());
    return 1;
}
