#pragma once
// Engine states with a given palette and image for the writer tests, and a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/test_data.h"
#include "fileio/bitmap.h"
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

// Every pixel of `got` (row by row) is the working image's; colour under full transparency aside.
inline void ExpectWorkingImage(const EngineState& s, const std::vector<TPixelRec>& got) {
    ASSERT_EQ(got.size(), size_t(s.ImageWidth()) * size_t(s.ImageHeight()));
    for (int y = 0; y < s.ImageHeight(); ++y)
        for (int x = 0; x < s.ImageWidth(); ++x) {
            const TPixelRec& want = s.WorkingImage[y][x];
            const TPixelRec& g = got[size_t(y * s.ImageWidth() + x)];
            EXPECT_TRUE(SameRgba(want, g) || (want.A == 0 && g.A == 0)) << x << "," << y;
        }
}

inline std::vector<TPixelRec> BitmapPixels(const TBitmap& b) {
    std::vector<TPixelRec> px;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) {
            const auto c = b.Pixel(x, y);
            px.push_back(Px(c.R, c.G, c.B, c.A));
        }
    return px;
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

// An icon's bitmap frame: header with doubled height, colour table, pixels, mask (none at 32 bits), then
// `trailer` extra bytes.
inline std::vector<uint8_t> DibFrame(int w, int h, int bits, uint8_t seed, int trailer = 0) {
    std::vector<uint8_t> v;
    Put32(v, 40);
    Put32(v, uint32_t(w));
    Put32(v, uint32_t(2 * h));
    Put16(v, 1);
    Put16(v, uint32_t(bits));
    for (int i = 0; i < 6; ++i) Put32(v, 0);
    const int colors = bits <= 8 ? 1 << bits : 0;
    for (int i = 0; i < colors * 4; ++i) v.push_back(uint8_t(i * 7 + seed));
    const size_t stride = (size_t(w) * size_t(bits) + 31) / 32 * 4;
    for (size_t i = 0; i < stride * size_t(h); ++i) v.push_back(uint8_t(i * 13 + seed));
    // The mask's first row (the bottom one) is all set; the others leave their first pixel clear.
    const size_t maskStride = (size_t(w) + 31) / 32 * 4;
    if (bits != 32)
        for (size_t i = 0; i < maskStride * size_t(h); ++i) v.push_back(i < maskStride ? 0xFF : uint8_t(i & 0x7F));
    for (int i = 0; i < trailer; ++i) v.push_back(0xEE);
    return v;
}

// One frame of an icon file: its directory entry's size and bit count, and the frame's bytes.
struct TFrameLayout {
    uint8_t w, h, bits;
    std::vector<uint8_t> data;
};

inline std::vector<uint8_t> IconFile(uint16_t type, const std::vector<TFrameLayout>& frames) {
    std::vector<uint8_t> v;
    Put16(v, 0);
    Put16(v, type);
    Put16(v, uint32_t(frames.size()));
    uint32_t offset = uint32_t(6 + 16 * frames.size());
    for (const auto& f : frames) {
        v.push_back(f.w);
        v.push_back(f.h);
        v.push_back(0);
        v.push_back(0);
        Put16(v, 1);
        Put16(v, f.bits);
        Put32(v, uint32_t(f.data.size()));
        Put32(v, offset);
        offset += uint32_t(f.data.size());
    }
    for (const auto& f : frames) v.insert(v.end(), f.data.begin(), f.data.end());
    return v;
}

}  // namespace jx::test
