// Encoder timings: one encode per heuristic at the jx defaults, and the fingerprint-only run,
// for a 1-megapixel RGBA graphic and a 1-megapixel photograph.
// Usage: pngenc_bench [photo.png]   (without a file, a synthetic photograph is generated)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "pngenc/png_image.h"

namespace {

using Clock = std::chrono::steady_clock;

// Flat panels, gradients, antialiased shapes with soft alpha edges.
jx::PngImage MakeGraphic(uint32_t w, uint32_t h) {
    jx::PngImage img(w, h, jx::kPngRgba, 8);
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = img.Row(y);
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = row + size_t(x) * 4;
            bool panel = (x / 128 + y / 96) % 3 == 0;
            p[0] = panel ? 40 : uint8_t(x * 255 / w);
            p[1] = panel ? 90 : uint8_t(y * 255 / h);
            p[2] = panel ? 200 : uint8_t((x + y) % 256);
            double dx = double(x % 256) - 128, dy = double(y % 256) - 128;
            double r = std::sqrt(dx * dx + dy * dy);
            p[3] = uint8_t(std::clamp(255.0 - (r - 90) * 16, 0.0, 255.0));
        }
    }
    return img;
}

// Low-frequency content over several octaves plus sensor noise, as in a camera picture.
jx::PngImage MakePhoto(uint32_t w, uint32_t h) {
    jx::PngImage img(w, h, jx::kPngRgb, 8);
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 2.5);
    auto field = [](double x, double y, int c) {
        double v = 0;
        for (int o = 1; o <= 5; ++o) {
            double f = 0.004 * (1 << o);
            v += std::sin(x * f * (1.0 + 0.3 * c) + o) * std::cos(y * f * (1.2 - 0.2 * c) + 2 * o) / o;
        }
        return 128 + 70 * v;
    };
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = img.Row(y);
        for (uint32_t x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                double v = field(x, y, c) + noise(rng);
                row[size_t(x) * 3 + c] = uint8_t(std::clamp(std::lrint(v), 0L, 255L));
            }
        }
    }
    return img;
}

template <class F>
double MedianMs(F&& f, int runs = 3) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        auto a = Clock::now();
        f();
        t.push_back(std::chrono::duration<double, std::milli>(Clock::now() - a).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void Run(const char* label, jx::PngImage img) {
    std::printf("\n%s: %ux%u, colour type %u, %zu raw bytes\n", label, img.Width(), img.Height(),
                unsigned(img.ColorType()), img.Pixels().size());
    std::printf("%-22s %10s %14s %12s\n", "heuristic", "encode ms", "choose-only ms", "file bytes");
    for (int k = -1; k <= 9; ++k) {
        img.UseJxDefaults();
        std::string name;
        if (k < 0) {
            name = "2 (jx scoring)";
        } else {
            img.JxHeuristic = 0;
            img.Heuristic = uint8_t(k);
            name = std::to_string(k);
        }
        size_t bytes = 0;
        double enc = MedianMs([&] { bytes = img.Encode().size(); });
        double choose = MedianMs([&] { img.ChooseFilters(); });
        std::printf("%-22s %10.1f %14.1f %12zu\n", name.c_str(), enc, choose, bytes);
    }
    img.UseJxDefaults();
    img.FilterSet = jx::FilterBit(jx::kFilterNone);
    double plain = MedianMs([&] { img.Encode(); });
    std::printf("%-22s %10.1f   (deflate with no filter choice)\n", "filter None only", plain);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        Run("RGBA graphic", MakeGraphic(1024, 1024));
        if (argc > 1) Run(argv[1], jx::PngImage::DecodeFile(argv[1]));
        else Run("photograph (synthetic)", MakePhoto(1024, 1024));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
