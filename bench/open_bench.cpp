// The open road and the quantizer on one picture, phase by phase, as the main window runs them:
// open (decode, conversion to the working space with the edge map, unique colours, the true-colour
// pass), then a quantize at 256 colours with Floyd-Steinberg, then a re-quantize at 128.
//
//   open_bench IMAGE                 time IMAGE
//   open_bench --photo W H OUT.png   write a synthetic W x H photograph to OUT.png
//   open_bench                       a synthetic 1-megapixel photograph
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "fileio/open_image.h"
#include "imaging/quantize.h"
#include "pngenc/png_image.h"

namespace {

using Clock = std::chrono::steady_clock;

// Smooth shading, fine grain in every channel, a few hard edges and a textured band: many
// unique colours, as a photograph has.
void WritePhoto(const std::string& path, uint32_t w, uint32_t h) {
    jx::PngImage png(w, h, jx::kPngRgb, 8);
    uint32_t seed = 7;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const double u = double(x) / w, v = double(y) / h;
            int g[3];
            for (int& c : g) {
                seed = seed * 1664525u + 1013904223u;
                c = int(seed >> 28) - 8;
            }
            const int edge = (u > 0.3 && u < 0.7 && v > 0.2 && v < 0.5) ? 50 : 0;
            const double tex = v > 0.7 ? 20 * std::sin(u * 400) * std::cos(v * 300) : 0;
            const double r = 128 + 100 * std::sin(6 * u + 2 * v) + tex, gr = 110 + 90 * std::cos(5 * v - 3 * u * v),
                         b = 90 + 80 * std::sin(9 * u * v + 1) - tex;
            png.SetSample(x, y, 0, uint16_t(std::clamp(int(r) + g[0] - edge, 0, 255)));
            png.SetSample(x, y, 1, uint16_t(std::clamp(int(gr) + g[1], 0, 255)));
            png.SetSample(x, y, 2, uint16_t(std::clamp(int(b) + g[2] + edge, 0, 255)));
        }
    png.SaveFile(path);
}

// Marks the phases from the reports the open road and the quantizer make on their way.
class PhaseClock : public jx::OpenImageObserver {
public:
    Clock::time_point start = Clock::now(), decoded, replaced, counted, converted, listed, paletted, remapped, done;
    bool opening = true;

    void LeaveEditingModes() override { decoded = Clock::now(); }
    void SourceReplaced(int32_t, int32_t, bool) override { replaced = Clock::now(); }
    void ShowColorCount(const std::string&) override {
        if (opening && counted == Clock::time_point{}) counted = Clock::now();
    }
    void SaveUndoState(bool, bool, bool) override { converted = Clock::now(); }
    void InfoClear() override { listed = paletted = Clock::now(); }
    void InfoLine(const std::string& line) override {
        if (line.rfind("quantize: ", 0) == 0) paletted = Clock::now();
        if (line.rfind("convert img: ", 0) == 0) remapped = Clock::now();
    }
    void StatusText(int32_t panel, const std::string&) override {
        if (panel == 0) done = Clock::now();
    }
};

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

// Processor time of this process (user + system): steadier than the wall clock on a busy machine.
double CpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// Working image and palette, every byte: a change of speed must not change what users get.
unsigned long long OutputHash(const jx::EngineState& s) {
    uint64_t h = 14695981039346656037ull;
    auto mix = [&](const void* data, size_t n) {
        const auto* b = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < n; ++i) h = (h ^ b[i]) * 1099511628211ull;
    };
    mix(s.WorkingImage.Data(), static_cast<size_t>(s.WorkingImage.Count()) * sizeof(jx::TPixelRec));
    if (s.PaletteSize > 0) mix(s.Palette.data(), static_cast<size_t>(s.PaletteSize) * sizeof(jx::TPixelRec));
    return h;
}

double PeakRssMb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}

// A quantize at count colours with Floyd-Steinberg: colour list, palette, remap and total.
void TimedQuantize(jx::EngineState& state, jx::TQuantizerSettings& settings, const char* count, const char* label) {
    PhaseClock clock;
    clock.opening = false;
    settings.ColorCount = count;
    settings.DitherMode = jx::TDitherMode::FloydSteinberg;
    const double c0 = CpuMs();
    const auto t0 = Clock::now();
    jx::Quantize(state, settings, clock);
    const auto t1 = Clock::now();
    std::printf("%s (%s colours, Floyd-Steinberg): list_ms %.0f  palette_ms %.0f  remap_ms %.0f  total_ms %.0f  cpu_ms %.0f\n",
                label, count, Ms(t0, clock.listed), Ms(clock.listed, clock.paletted), Ms(clock.paletted, clock.remapped),
                Ms(t0, t1), CpuMs() - c0);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace jx;
    if (argc == 5 && std::string(argv[1]) == "--photo") {
        WritePhoto(argv[4], uint32_t(std::atoi(argv[2])), uint32_t(std::atoi(argv[3])));
        return 0;
    }
    std::string name;
    std::filesystem::path temp;
    if (argc == 2) {
        name = argv[1];
    } else {
        temp = std::filesystem::temp_directory_path() / "jx_open_bench.png";
        WritePhoto(temp.string(), 1024, 1024);
        name = temp.string();
    }

    EngineState state;
    TQuantizerSettings settings;
    PhaseClock clock;
    TOpenedFile current;
    TOpenTarget target{state, settings, clock, current};
    const double c0 = CpuMs();
    clock.start = Clock::now();
    try {
        if (!OpenImage(target, name)) {
            std::fprintf(stderr, "cannot open %s\n", name.c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        // A damaged picture is an input to report, not a crash of the bench.
        std::fprintf(stderr, "%s\n", e.what());
        if (!temp.empty()) std::filesystem::remove(temp);
        return 1;
    }
    const auto opened = Clock::now();
    const double openCpu = CpuMs() - c0;
    std::printf("%s: %dx%d, %d unique colours\n", name.c_str(), state.ImageWidth(), state.ImageHeight(),
                state.UniqueColorCount);
    std::printf("open: decode_ms %.0f  convert_ms %.0f  unique_ms %.0f  list_ms %.0f  remap_ms %.0f  total_ms %.0f  cpu_ms %.0f\n",
                Ms(clock.start, clock.decoded), Ms(clock.decoded, clock.replaced) + Ms(clock.counted, clock.converted),
                Ms(clock.replaced, clock.counted), Ms(clock.converted, clock.listed), Ms(clock.paletted, clock.remapped),
                Ms(clock.start, opened), openCpu);
    const auto q0 = Clock::now();
    TimedQuantize(state, settings, "256", "first quantize");
    std::printf("open + first quantized view: total_ms %.0f\n", Ms(clock.start, opened) + Ms(q0, Clock::now()));
    std::printf("  output hash %016llx\n", OutputHash(state));
    // JX_BENCH_REQUANTIZE=K repeats the re-quantize K times: on a busy machine the least of
    // them is the figure to compare.
    const char* repeat = std::getenv("JX_BENCH_REQUANTIZE");
    for (int i = 0, k = repeat ? std::max(1, std::atoi(repeat)) : 1; i < k; ++i)
        TimedQuantize(state, settings, "128", "re-quantize");
    std::printf("  output hash %016llx\n", OutputHash(state));
    std::printf("peak RSS: %.0f MB\n", PeakRssMb());
    if (!temp.empty()) std::filesystem::remove(temp);
    return 0;
}
