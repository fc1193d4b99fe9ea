#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "engine_test_util.h"
#include "imaging/edge_map.h"
#include "imaging/sort.h"

namespace jx {
namespace {

using test::Rgba;

std::vector<TPixelRec> RandomList(int n, uint32_t seed, int weights) {
    std::mt19937 rng(seed);
    std::vector<TPixelRec> v;
    for (int i = 0; i < n; ++i) {
        TPixelRec p = Rgba(uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng()));
        p.c1 = uint8_t(rng() % 16);
        p.Weight = int32_t(rng() % uint32_t(weights)) - weights / 4;
        v.push_back(p);
    }
    return v;
}

int64_t Key(const TPixelRec& p, int type) {
    switch (type >= 6 ? 3 + type % 2 : type % 3) {
        case 0: return p.Weight;
        case 1: return MortonCode3(p);
        case 2: return p.c1;
        case 3: return MortonCode4(p);
        default: return p.c1 * 256 + p.A;
    }
}

TEST(SortPixelsTest, EveryTypeOrdersByItsKey) {
    const int dir[10] = {1, 1, 1, -1, -1, -1, 1, 1, -1, -1};
    for (int type = 0; type < 10; ++type) {
        auto v = RandomList(3000, uint32_t(type), 20);
        SortPixels(v.data(), int32_t(v.size()), type);
        for (size_t i = 1; i < v.size(); ++i) ASSERT_GE(dir[type] * (Key(v[i - 1], type) - Key(v[i], type)), 0) << type;
    }
    EXPECT_THROW(SortPixels(nullptr, 0, 10), ImagingError);
}

TEST(SortPixelsTest, PaletteOrderTravelsAndSortsAreRepeatable) {
    EngineState s;
    s.Palette = RandomList(500, 9, 6);
    s.PaletteOrder.resize(500);
    std::iota(s.PaletteOrder.begin(), s.PaletteOrder.end(), 0);
    const auto original = s.Palette;
    SortPalette(s, 500, SortByColor);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(s.Palette[size_t(i)], original[size_t(s.PaletteOrder[size_t(i)])]);
    const auto once = s.Palette;
    SortPalette(s, 500, SortByColor);
    EXPECT_EQ(s.Palette, once);
    SortPalette(s, 500, SortByWeight);
    SortPalette(s, 500, SortByColor);
    EXPECT_EQ(s.Palette, once);
}

TEST(SortPixelsTest, MillionsOfEqualAndSortedKeys) {
    std::vector<TPixelRec> v(3'000'000);
    for (size_t i = 0; i < v.size(); ++i) v[i].Weight = i < 1'500'000 ? 1 : int32_t(i);
    SortPixels(v.data(), int32_t(v.size()), SortByWeight);
    EXPECT_EQ(v.front().Weight, 2'999'999);
    EXPECT_EQ(v.back().Weight, 1);
}

class EdgeMapTest : public ::testing::Test {
protected:
    // An image whose c1 values are given directly.
    void LoadC1(int w, int h, const std::vector<int>& c1, uint8_t alpha = 255) {
        TPixelImage img(w, h);
        for (int i = 0; i < w * h; ++i) {
            img.Data()[i].A = alpha;
            img.Data()[i].c1 = uint8_t(c1[size_t(i)]);
        }
        state.SourceImage = img;
        BuildEdgeMap(state);
    }
    int At(int x, int y) { return state.EdgeMap[y][x]; }
    EngineState state;
};

TEST_F(EdgeMapTest, SinglePixelAndMirrors) {
    std::vector<int> c1(25, 0);
    c1[12] = 10;
    LoadC1(5, 5, c1);
    EXPECT_EQ(At(2, 2), 255);
    EXPECT_EQ(At(1, 2), 50);
    EXPECT_EQ(At(2, 3), 50);
    EXPECT_EQ(At(1, 1), 20);
    EXPECT_EQ(At(0, 0), 0);
    // Column 1 stands in for column -1: a bright column 1 counts twice for column 0.
    std::vector<int> col(9, 0);
    col[1] = col[4] = col[7] = 10;
    LoadC1(3, 3, col);
    EXPECT_EQ(At(0, 1), 180);  // |2 * (-2 - 5 - 2) * 10|
    EXPECT_EQ(At(2, 0), 180);
    EXPECT_EQ(At(1, 1), 180);  // 28 * 10 - 2 * 5 * 10
}

TEST_F(EdgeMapTest, UniformTransparentAndThinImages) {
    LoadC1(4, 3, std::vector<int>(12, 77));
    for (uint8_t v : state.EdgeMap.Vector()) EXPECT_EQ(v, 0);
    LoadC1(3, 3, {0, 0, 0, 0, 200, 0, 0, 0, 0}, 0);
    for (uint8_t v : state.EdgeMap.Vector()) EXPECT_EQ(v, 0);
    // One pixel wide or high: the pixel stands in for its missing neighbours.
    LoadC1(1, 4, {9, 9, 9, 9});
    for (uint8_t v : state.EdgeMap.Vector()) EXPECT_EQ(v, 0);
    LoadC1(4, 1, {0, 10, 0, 0});
    EXPECT_EQ(state.EdgeMap.Width(), 4);
    EXPECT_EQ(At(1, 0), 180);  // the row stands in above and below: 28 * 10 - 2 * 5 * 10
    EXPECT_EQ(At(0, 0), 180);  // column 1 on both sides: |2 * (-2 - 5 - 2) * 10|
    LoadC1(1, 1, {200});
    EXPECT_EQ(At(0, 0), 0);
}

}  // namespace
}  // namespace jx
