// Timing driver for the engine's per-pixel passes on a photo-sized synthetic image.
#include <chrono>
#include <cstdio>

#include "imaging/color_space.h"
#include "imaging/color_tree.h"
#include "imaging/engine_state.h"
#include "imaging/quantize.h"

namespace {

template <class F>
double Millis(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
    using namespace jx;
    const int w = 1920, h = 1080;
    TPixelImage img(w, h);
    uint32_t seed = 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            TPixelRec& p = img[y][x];
            p.R = static_cast<uint8_t>(x * 255 / w + (seed >> 29));
            p.G = static_cast<uint8_t>(y * 255 / h + ((seed >> 26) & 7));
            p.B = static_cast<uint8_t>((x + y) & 255);
            p.A = 255;
        }
    EngineState state;
    double load = Millis([&] { state.SetSourceImage(img); });
    for (int cs = 0; cs < kColorSpaceCount; ++cs) {
        const double ms = Millis([&] { ApplyColorSpace(state, cs); });
        std::printf("ApplyColorSpace %d: %.1f ms\n", cs, ms);
    }
    ApplyColorSpace(state, 0);
    const double unique = Millis([&] { BuildUniqueColors(state); });
    EngineObserver quiet;
    TQuantizerSettings s;
    s.ColorCount = "256";
    s.PaletteType = TPaletteType::Windows256;
    const double quant = Millis([&] { Quantize(state, s, quiet); });
    std::printf("load (LAB): %.1f ms\nBuildUniqueColors: %.1f ms (%d colours)\nQuantize Windows 256: %.1f ms\n", load,
                unique, state.UniqueColorCount, quant);
    return 0;
}
