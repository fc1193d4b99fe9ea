#pragma once
// Engine states with a given palette and image for the writer tests, and a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/engine_state.h"

namespace jx::test {

inline TPixelRec Px(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
    TPixelRec p;
    p.R = r;
    p.G = g;
    p.B = b;
    p.A = a;
    return p;
}

// palette: the colours; image: palette indices row by row (w x h). WorkingImage = SourceImage.
inline void MakePaletteImage(EngineState& s, const std::vector<TPixelRec>& palette, int32_t w, int32_t h,
                             const std::vector<int32_t>& indices, bool hasAlpha, bool trueColor = false) {
    s.HasAlpha = hasAlpha;
    TPixelImage img(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) img[y][x] = palette[size_t(indices[size_t(y * w + x)])];
    s.SetSourceImage(std::move(img));
    s.HasAlpha = hasAlpha;
    s.Palette = palette;
    for (TPixelRec& p : s.Palette) {
        if (p.A == 0) p = TPixelRec{};
        s.Convert(p);
    }
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            TPixelRec& p = s.WorkingImage[y][x];
            if (p.A == 0) p = TPixelRec{};
            s.Convert(p);
        }
    s.PaletteOrder.resize(palette.size());
    for (size_t i = 0; i < palette.size(); ++i) s.PaletteOrder[i] = int32_t(i);
    s.PaletteSize = trueColor ? -1 : int32_t(palette.size());
    s.ColorListLength = int32_t(palette.size());
    ColorTreeReset(s);
}

// n distinct opaque colours.
inline std::vector<TPixelRec> DistinctColors(int32_t n, uint8_t alpha = 255) {
    std::vector<TPixelRec> c;
    for (int32_t i = 0; i < n; ++i)
        c.push_back(Px(uint8_t(i * 37 % 256), uint8_t((i * 11 % 256) ^ ((i >> 8) * 85)), uint8_t((i & 0xFF) ^ 0x5A), alpha));
    return c;
}

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("jx_save_test_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::filesystem::path dir_;
};

inline std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace jx::test
