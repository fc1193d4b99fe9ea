#include <gtest/gtest.h>

#include <random>
#include <set>

#include "engine_test_util.h"
#include "imaging/adaptive_palette.h"
#include "imaging/color_tree.h"
#include "imaging/quantize.h"
#include "imaging/sort.h"

namespace jx {
namespace {

using test::Rgba;

// The colour list of an image as Quantize builds it, ready for a palette build of n colours.
void PrepareList(EngineState& state, int w, int h, const std::vector<TPixelRec>& px, int32_t n) {
    test::LoadImage(state, w, h, px);
    BuildUniqueColors(state);
    state.ColorListLength = state.UniqueColorCount;
    state.PaletteSize = n;
    state.PaletteOrder.resize(std::max<size_t>(state.Palette.size(), size_t(n)));
    for (size_t i = 0; i < state.PaletteOrder.size(); ++i) state.PaletteOrder[i] = int32_t(i);
}

std::vector<TPixelRec> RandomImage(uint32_t seed, int count, bool alpha, int spread) {
    std::mt19937 rng(seed);
    std::vector<TPixelRec> px;
    int base[3] = {int(rng() % 256), int(rng() % 256), int(rng() % 256)};
    for (int i = 0; i < count; ++i) {
        if (rng() % 50 == 0)
            for (int& b : base) b = int(rng() % 256);
        auto ch = [&](int b) { return uint8_t(std::clamp(b + int(rng() % (2 * spread + 1)) - spread, 0, 255)); };
        px.push_back(Rgba(ch(base[0]), ch(base[1]), ch(base[2]), alpha ? uint8_t(rng() % 4 == 0 ? 0 : rng() % 256) : 255));
    }
    return px;
}

std::vector<TPixelRec> Result(const EngineState& s) {
    return {s.Palette.begin(), s.Palette.begin() + s.PaletteSize};
}

TEST(AdaptivePalette, IndexedSearchGivesThePlainResult) {
    for (uint32_t seed = 1; seed <= 24; ++seed) {
        TQuantizerSettings set;
        set.DoNotMix = seed % 3 == 0;
        set.Priority = int32_t(seed % 7) - 3;
        set.RareReserve = (seed % 4) * 25;
        set.RareThreshold = int32_t(seed % 9);
        const bool alpha = seed % 5 == 0;
        const int32_t n = std::array<int32_t, 6>{2, 7, 16, 64, 200, 1100}[seed % 6];
        const auto px = RandomImage(seed, 2500, alpha, seed % 2 ? 6 : 40);
        EngineState fast, plain;
        fast.HasAlpha = plain.HasAlpha = alpha;
        fast.LumaShift = plain.LumaShift = uint8_t(seed % 6);
        PrepareList(fast, 50, 50, px, n);
        PrepareList(plain, 50, 50, px, n);
        BuildAdaptivePalette(fast, set, true);
        BuildAdaptivePalette(plain, set, false);
        ASSERT_EQ(fast.PaletteSize, plain.PaletteSize) << seed;
        ASSERT_EQ(fast.ColorListLength, plain.ColorListLength) << seed;
        EXPECT_EQ(fast.MergeThreshold, plain.MergeThreshold);
        EXPECT_EQ(Result(fast), Result(plain)) << "seed " << seed;
    }
}

TEST(AdaptivePalette, ExactlyNEntriesAndDeterministic) {
    const auto px = RandomImage(99, 4096, false, 30);
    TQuantizerSettings set;
    EngineState a, b;
    PrepareList(a, 64, 64, px, 32);
    PrepareList(b, 64, 64, px, 32);
    BuildAdaptivePalette(a, set);
    BuildAdaptivePalette(b, set);
    EXPECT_EQ(a.PaletteSize, 32);
    EXPECT_EQ(Result(a), Result(b));
    for (int i = 0; i < 32; ++i) EXPECT_EQ(a.PaletteOrder[size_t(i)], i);
    std::set<uint32_t> keys;
    for (const auto& p : Result(a)) keys.insert(PixelKey(p));
    EXPECT_GT(keys.size(), 16u);
}

// Near-identical greys would merge under the pre-merge threshold: a list that fits is left whole,
// and the pre-merge never takes a longer list below N.
TEST(AdaptivePalette, PreMergeKeepsListsThatFitAndStopsAtN) {
    for (auto [side, n, priority] : {std::tuple{10, 256, 0}, {20, 10, 3}}) {
        std::vector<TPixelRec> px;
        for (int i = 0; i < side * side; ++i) px.push_back(Rgba(uint8_t(100 + i % side), uint8_t(100 + i / side), 100));
        EngineState s;
        PrepareList(s, side, side, px, n);
        TQuantizerSettings set;
        set.Priority = priority;
        BuildAdaptivePalette(s, set);
        EXPECT_EQ(s.PaletteSize, std::min(n, side * side));
        if (n > side * side) EXPECT_EQ(s.ColorListLength, side * side);
        else EXPECT_GE(s.ColorListLength, n);
    }
}

TEST(AdaptivePalette, IsolatedSaturatedColourKeptInReserve) {
    // A smooth field of muted colours and a few pixels of pure red, far from everything.
    std::vector<TPixelRec> px;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) px.push_back(Rgba(uint8_t(64 + x), uint8_t(64 + y), 100));
    for (int i = 0; i < 3; ++i) px[size_t(500 + i * 7)] = Rgba(255, 0, 0);
    auto build = [&](int32_t reserve) {
        EngineState s;
        PrepareList(s, 64, 64, px, 16);
        TQuantizerSettings set;
        set.RareReserve = reserve;
        set.RareThreshold = 8;
        BuildAdaptivePalette(s, set);
        EXPECT_EQ(s.PaletteSize, 16);
        return s;
    };
    const EngineState with = build(50);
    // The reserve sits at the end of the palette.
    EXPECT_EQ(PixelKey(with.Palette[15]), PixelKey(Rgba(255, 0, 0)));
    const EngineState without = build(0);
    for (const auto& p : Result(without)) EXPECT_NE(PixelKey(p), PixelKey(Rgba(255, 0, 0)));
}

TEST(AdaptivePalette, DoNotMixKeepsImageColours) {
    const auto px = RandomImage(5, 2500, true, 20);
    EngineState s;
    s.HasAlpha = true;
    PrepareList(s, 50, 50, px, 24);
    std::set<uint32_t> image;
    for (int i = 0; i < s.ColorListLength; ++i) image.insert(PixelKey(s.Palette[size_t(i)]));
    TQuantizerSettings set;
    set.DoNotMix = true;
    BuildAdaptivePalette(s, set);
    EXPECT_EQ(s.PaletteSize, 24);
    for (const auto& p : Result(s)) EXPECT_TRUE(image.count(PixelKey(p))) << PixelKey(p);
}

TEST(AdaptivePalette, TransparentEntriesAreCleared) {
    // Mixing nearly transparent colours gives A = 0 with colour left over.
    std::vector<TPixelRec> px;
    for (int i = 0; i < 900; ++i) px.push_back(Rgba(uint8_t(i % 30 * 8), uint8_t(i / 30 * 8), 90, uint8_t(i % 2)));
    EngineState s;
    s.HasAlpha = true;
    PrepareList(s, 30, 30, px, 4);
    BuildAdaptivePalette(s, TQuantizerSettings{});
    for (const auto& p : Result(s))
        if (p.A == 0) {
            TPixelRec c;
            ClearPixel(s, c);
            EXPECT_EQ(p, c);
        }
}

}  // namespace
}  // namespace jx
