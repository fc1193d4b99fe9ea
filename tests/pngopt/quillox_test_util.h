#pragma once
// Small builders shared by the quillox tests.
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "pngopt/image.h"
#include "pngopt/options.h"
#include "pngopt/program.h"

namespace jx::quillox::test {

struct Rgba8 {
    uint8_t r, g, b, a;
};

// An 8-bit working image from a pixel function, analysed.
inline WorkImage MakeImage(uint32_t w, uint32_t h, const std::function<Rgba8(uint32_t, uint32_t)>& pixel) {
    WorkImage image;
    image.kind = InputKind::Bmp;
    image.width = w;
    image.height = h;
    image.sampleDepth = 8;
    image.rgba.resize(uint64_t(w) * h * 4);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            Rgba8 c = pixel(x, y);
            uint16_t* p = image.Pixel(x, y);
            p[0] = uint16_t(c.r << 8), p[1] = uint16_t(c.g << 8), p[2] = uint16_t(c.b << 8), p[3] = uint16_t(c.a << 8);
        }
    Analyze(image);
    return image;
}

inline Options Opts(std::vector<std::string> args) {
    ParseEnvironment env;
    env.exists = [](const std::string&) { return false; };
    return ParseOptions(args, env);
}

// A fresh folder per test, removed afterwards.
class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("quillox_t_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    int Run(std::vector<std::string> args) {
        out_.str("");
        err_.str("");
        std::istringstream in;
        ProgramContext context{out_, in, dir_.string(), DefaultPngEncoder(), nullptr, err_};
        return RunProgram(args, context);
    }
    std::filesystem::path dir_;
    std::ostringstream out_, err_;
};

}  // namespace jx::quillox::test
