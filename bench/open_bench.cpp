// Open plus quantize of a 1-megapixel photograph-like PNG at 256 colours: the open (decode and
// source image), unique-colour count, quantize and convert times.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "fileio/open_image.h"
#include "imaging/color_space.h"
#include "imaging/color_tree.h"
#include "imaging/quantize.h"
#include "imaging/remap.h"
#include "pngopt/pngenc/png_image.h"

namespace {

template <class F>
double Millis(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Smooth shading with fine grain, as a photograph has: many unique colours, few sharp edges.
std::string WritePhoto(const std::filesystem::path& path, uint32_t w, uint32_t h) {
    jx::PngImage png(w, h, jx::kPngRgb, 8);
    uint32_t seed = 7;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const double u = double(x) / w, v = double(y) / h;
            const int grain = int(seed >> 29) - 4;
            const double r = 128 + 100 * std::sin(6 * u + 2 * v), g = 110 + 90 * std::cos(5 * v - 3 * u * v),
                         b = 90 + 80 * std::sin(9 * u * v + 1);
            png.SetSample(x, y, 0, uint16_t(std::clamp(int(r) + grain, 0, 255)));
            png.SetSample(x, y, 1, uint16_t(std::clamp(int(g) + grain, 0, 255)));
            png.SetSample(x, y, 2, uint16_t(std::clamp(int(b) - grain, 0, 255)));
        }
    png.SaveFile(path);
    return path.string();
}

}  // namespace

int main() {
    using namespace jx;
    const auto file = std::filesystem::temp_directory_path() / "jx_open_bench.png";
    const std::string name = WritePhoto(file, 1024, 1024);

    EngineState state;
    TQuantizerSettings settings;
    settings.ColorCount = "256";
    EngineObserver quiet;

    TDecodedImage d;
    const double decode = Millis([&] { d = DecodePngFile(name); });
    double open = decode + Millis([&] {
        state.HasAlpha = d.HasAlpha;
        state.SetSourceImage(std::move(d.Pixels));
        ApplyColorSpace(state, settings.ColorSpace);
    });
    const double unique = Millis([&] { BuildUniqueColors(state); });
    const double quantize = Millis([&] { Quantize(state, settings, quiet); });
    const double convert = Millis([&] { ConvertImage(state, settings, quiet); });

    // The whole road once more, as the open button runs it.
    OpenImageObserver host;
    TOpenedFile current;
    TOpenTarget target{state, settings, host, current};
    settings.ColorCount = "256";
    const double whole = Millis([&] { OpenImage(target, name); });

    std::printf("decode: %.1f ms\nopen (decode, source image, colour space): %.1f ms\nunique colors: %.1f ms (%d)\nquantize: %.1f ms\nconvert img: %.1f ms\n"
                "OpenImage (decode to quantized preview, true colour): %.1f ms\n",
                decode, open, unique, state.UniqueColorCount, quantize, convert, whole);
    std::filesystem::remove(file);
    return 0;
}
