// The files every optimisation level writes, pinned by hash: the search may get faster, never
// different. Set QUILLOX_WRITE_HASHES=1 to rewrite the stored hashes after an intended change.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "common/baseline.h"
#include "common/test_data.h"
#include "pngenc/png_image.h"
#include "pngopt/program.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
namespace fs = std::filesystem;

const fs::path kHashFile = jx::test::DataDir() / "quillox_output_hashes.txt";

// FNV-1a over the chunks that carry the image (IHDR, PLTE, tRNS and every IDAT with its
// length), so metadata-chunk policy does not move the pinned values.
uint64_t ImageHash(const std::vector<uint8_t>& png) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&](const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    };
    size_t pos = 8;
    while (pos + 12 <= png.size()) {
        const uint32_t length = uint32_t(png[pos]) << 24 | uint32_t(png[pos + 1]) << 16 | uint32_t(png[pos + 2]) << 8 | png[pos + 3];
        if (length > png.size() - pos - 12) break;
        const std::string name(reinterpret_cast<const char*>(&png[pos + 4]), 4);
        if (name == "IHDR" || name == "PLTE" || name == "tRNS" || name == "IDAT") mix(&png[pos], size_t(length) + 8);
        pos += size_t(length) + 12;
    }
    return h;
}

// Photograph-like content: smooth light, texture and sensor noise from a fixed seed.
void WriteSyntheticPhotos(const fs::path& dir) {
    std::mt19937 rng(20240611);
    std::normal_distribution<double> noise(0.0, 3.0);
    auto clamp = [](double v, double hi) { return v < 0 ? 0.0 : v > hi ? hi : v; };
    auto shade = [&](uint32_t x, uint32_t y, int c) {
        double base = 110 + 70 * std::sin(x * 0.045 + c) * std::cos(y * 0.06 - c * 0.5) + 30 * std::sin((x + y) * 0.21);
        return base + noise(rng);
    };
    {
        PngImage img(150, 100, kPngRgb, 8);
        for (uint32_t y = 0; y < img.Height(); ++y)
            for (uint32_t x = 0; x < img.Width(); ++x)
                for (unsigned c = 0; c < 3; ++c) img.SetSample(x, y, c, uint16_t(clamp(shade(x, y, int(c)), 255)));
        img.SaveFile(dir / "photo_rgb.png");
    }
    {
        // A cut-out with a soft edge and fully transparent surroundings.
        PngImage img(120, 90, kPngRgba, 8);
        for (uint32_t y = 0; y < img.Height(); ++y)
            for (uint32_t x = 0; x < img.Width(); ++x) {
                for (unsigned c = 0; c < 3; ++c) img.SetSample(x, y, c, uint16_t(clamp(shade(x, y, int(c) + 2), 255)));
                double r = std::hypot(double(x) - 60, double(y) - 45);
                img.SetSample(x, y, 3, uint16_t(clamp((40 - r) * 32, 255)));
            }
        img.SaveFile(dir / "photo_cutout.png");
    }
    {
        PngImage img(110, 80, kPngGrey, 16);
        for (uint32_t y = 0; y < img.Height(); ++y)
            for (uint32_t x = 0; x < img.Width(); ++x) img.SetSample(x, y, 0, uint16_t(clamp(shade(x, y, 1) * 256, 65535)));
        img.SaveFile(dir / "photo_grey16.png");
    }
    {
        // Posterised to a few dozen colours: the palette and grey candidates compete.
        PngImage img(128, 96, kPngRgb, 8);
        for (uint32_t y = 0; y < img.Height(); ++y)
            for (uint32_t x = 0; x < img.Width(); ++x)
                for (unsigned c = 0; c < 3; ++c)
                    img.SetSample(x, y, c, uint16_t(int(clamp(shade(x, y, int(c)), 255)) / 64 * 85));
        img.SaveFile(dir / "photo_poster.png");
    }
}

class QuilloxOutputs : public test::TempDir {};

TEST_F(QuilloxOutputs, EveryLevelWritesThePinnedFiles) {
    const fs::path in = dir_ / "in";
    fs::create_directories(in);
    for (const std::string& n : jx::test::PngSuiteNames(false))
        fs::copy_file(jx::test::PngSuiteDir() / (n + ".png"), in / (n + ".png"));
    WriteSyntheticPhotos(in);

    ThreadPool pool(4);
    std::map<std::string, uint64_t> now;
    for (int level = 1; level <= 4; ++level) {
        const fs::path out = dir_ / ("o" + std::to_string(level));
        std::ostringstream console;
        std::istringstream answers;
        ProgramContext context{console, answers, dir_.string()};
        context.pool = &pool;
        ASSERT_EQ(RunProgram({"/quiet", "/y", "/force", "/o" + std::to_string(level), "/dir", out.string(),
                              (in / "*.png").string()},
                             context),
                  0);
        for (const auto& e : fs::directory_iterator(out))
            now["o" + std::to_string(level) + " " + e.path().filename().string()] = ImageHash(jx::test::ReadBytes(e.path()));
    }

    if (std::getenv("QUILLOX_WRITE_HASHES")) {
        std::ofstream file(kHashFile, std::ios::trunc);
        for (const auto& [key, hash] : now) file << key << " " << std::hex << hash << "\n";
        GTEST_SKIP() << "hashes written to " << kHashFile;
    }
    std::map<std::string, uint64_t> pinned;
    std::ifstream file(kHashFile);
    ASSERT_TRUE(file) << "missing " << kHashFile;
    std::string level, name;
    uint64_t hash;
    while (file >> level >> name >> std::hex >> hash) pinned[level + " " + name] = hash;
    ASSERT_EQ(pinned.size(), now.size());
    for (const auto& [key, value] : pinned) {
        auto it = now.find(key);
        ASSERT_NE(it, now.end()) << key << " was not written";
        EXPECT_EQ(it->second, value) << key;
    }
}

// Whole files and reports on the suite (PNG and BMP), at every level and with the options that
// change how input is read, against the recorded table: a change of the reading side must not
// move a byte.
class QuilloxBaseline : public test::TempDir {
protected:
    // Copies the valid suite images (PNG and BMP) into a fresh folder, runs, hashes every file.
    void RunOnSuite(const std::string& label, std::vector<std::string> args, std::map<std::string, std::string>& got) {
        fs::remove_all(dir_ / "run");
        fs::create_directories(dir_ / "run");
        for (const std::string& name : jx::test::PngSuiteNames(false)) {
            fs::copy_file(jx::test::PngSuiteDir() / (name + ".png"), dir_ / "run" / (name + ".png"));
            const fs::path bmp = jx::test::DataDir() / "pngsuite" / "bmp" / (name + ".bmp");
            if (fs::exists(bmp)) fs::copy_file(bmp, dir_ / "run" / (name + ".bmp"));
        }
        std::ostringstream out;
        std::istringstream in;
        ProgramContext context{out, in, (dir_ / "run").string()};
        ThreadPool pool(3);
        context.pool = &pool;
        args.push_back("*.png");
        args.push_back("*.bmp");
        got[label + "/exit"] = std::to_string(RunProgram(args, context));
        if (std::find(args.begin(), args.end(), "/quiet") == args.end()) {
            // Names in the report carry the folder, which differs from run to run.
            std::string text = out.str();
            const std::string folder = (dir_ / "run").string();
            for (size_t at; (at = text.find(folder)) != std::string::npos;) text.erase(at, folder.size());
            got[label + "/report"] = jx::test::Hex(jx::test::Fnv1a(text.data(), text.size()));
        }
        for (const auto& e : fs::directory_iterator(dir_ / "run")) {
            const auto bytes = jx::test::ReadBytes(e.path());
            got[label + "/" + e.path().filename().string()] = jx::test::Hex(jx::test::Fnv1a(bytes.data(), bytes.size()));
        }
    }
};

TEST_F(QuilloxBaseline, SuiteOutputsAreUnchanged) {
    std::map<std::string, std::string> got;
    for (int level = 0; level <= 4; ++level)
        RunOnSuite("o" + std::to_string(level), {"/quiet", "/y", "/o" + std::to_string(level)}, got);
    RunOnSuite("g1", {"/quiet", "/y", "/g1"}, got);
    RunOnSuite("g0na", {"/quiet", "/y", "/g0", "/na"}, got);
    RunOnSuite("jx", {"/quiet", "/y", "/jx"}, got);
    RunOnSuite("report", {"/y"}, got);
    RunOnSuite("inf", {"/inf"}, got);
    jx::test::CheckBaseline("quillox_suite.txt", got);
}

}  // namespace
}  // namespace jx::quillox
