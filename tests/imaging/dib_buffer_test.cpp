#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <tuple>

#include "imaging/dib_buffer.h"
#include "imaging/errors.h"

namespace jx {
namespace {

TEST(DibBuffer, BadSizesAreRefusedBeforeTheOldMemoryGoes) {
    TDibBuffer b;
    b.SetSize(4, 4, 32);
    uint8_t* bits = b.Bits();
    for (auto [w, h, bpp] : {std::tuple{4, 4, 12}, {-1, 4, 32}, {100000, 100000, 32}, {0x7FFFFFFF, 1, 32}, {4, INT_MIN, 8}})
        EXPECT_THROW(b.SetSize(w, h, bpp), ImagingError) << w << " x " << h << " x " << bpp;
    for (auto [r, g, bl, bpp] : {std::tuple{5, 6, 5, 24}, {9, 6, 1, 16}, {6, 6, 6, 16}, {5, 6, 5, 32}})
        EXPECT_THROW(b.SetSizeBitfields(nullptr, 4, r, g, bl, bpp, 4), ImagingError) << r << g << bl << " " << bpp;
    EXPECT_EQ(b.Bits(), bits);
    EXPECT_EQ(b.Width(), 4);
    b.SetSize(0, 5, 8);
    EXPECT_TRUE(b.Empty());
}

TEST(DibBuffer, SubViewClipsAndCountsRowsFromTheTop) {
    for (int sign : {1, -1}) {
        TDibBuffer src;
        src.SetSize(20, sign * 10, 8);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x) src.Line(y)[x] = static_cast<uint8_t>(y * 20 + x);
        TDibBuffer v;
        ASSERT_TRUE(v.MakeSubView(src, -2, 3, 10, 4));
        EXPECT_EQ(v.Width(), 8);
        EXPECT_EQ(v.AbsHeight(), 4);
        EXPECT_EQ(v.TopDown(), sign < 0);
        EXPECT_EQ(v.RowStride(), src.RowStride());
        EXPECT_EQ(v.Line(0)[0], 3 * 20);
        EXPECT_EQ(v.Line(3)[7], 6 * 20 + 7);

        ASSERT_TRUE(v.MakeSubView(src, 15, 8, 10, 10));
        EXPECT_EQ(v.Width(), 5);
        EXPECT_EQ(v.AbsHeight(), 2);
        EXPECT_EQ(v.Line(1)[4], 9 * 20 + 19);
        EXPECT_EQ(v.RowGap(), src.RowStride() - 5);

        EXPECT_FALSE(v.MakeSubView(src, 20, 0, 5, 5));
        EXPECT_TRUE(v.Empty());
        EXPECT_FALSE(v.MakeSubView(src, -5, 0, 5, 5));
        EXPECT_FALSE(v.MakeSubView(src, 0, 0, 0, 5));
    }
}

TEST(DibBuffer, SubViewStartsOnWholeBytesOfPackedDepths) {
    TDibBuffer src, v;
    src.SetSize(32, 2, 1);
    EXPECT_THROW(v.MakeSubView(src, 3, 0, 8, 1), ImagingError);
    EXPECT_TRUE(v.MakeSubView(src, 8, 0, 8, 1));
    EXPECT_EQ(v.Line(0), src.Line(0) + 1);
    src.SetSize(32, 2, 4);
    EXPECT_THROW(v.MakeSubView(src, 5, 0, 8, 1), ImagingError);
    EXPECT_TRUE(v.MakeSubView(src, 6, 0, 8, 1));
    EXPECT_EQ(v.Line(0), src.Line(0) + 3);
    src.SetSize(10, 2, 24);
    EXPECT_TRUE(v.MakeSubView(src, 2, 1, 3, 1));
    EXPECT_EQ(v.Line(0), src.Line(1) + 6);
}

TEST(DibBuffer, SubViewSharesMemoryAndColourTableAndOutlivesItsSource) {
    auto src = std::make_unique<TDibBuffer>();
    src->SetSize(4, 4, 8);
    src->ColorTable()[5].red = 200;
    src->Line(2)[1] = 77;
    TDibBuffer v;
    ASSERT_TRUE(v.MakeSubView(*src, 1, 2, 2, 2));
    EXPECT_EQ(src->UseCount(), 2);
    EXPECT_FALSE(v.OwnsMemory());
    EXPECT_EQ(v.ColorTable()[5].red, 200);
    src.reset();
    EXPECT_EQ(v.Line(0)[0], 77);
    EXPECT_EQ(v.ColorTable()[5].red, 200);
    ASSERT_TRUE(v.MakeSubView(v, 1, 1, 1, 1));  // a view of itself
    EXPECT_EQ(v.Width(), 1);
}

TEST(DibBuffer, SixteenBitTablesRoundTripEveryPixel) {
    for (int green : {5, 6}) {
        TDibBuffer b;
        b.SetSizeBitfields(nullptr, 1, 5, green, 5, 16, 1);
        const uint8_t* wide = b.Table16To24();
        const TTable24To16& narrow = b.Table24To16();
        const int limit = 1 << (10 + green);
        for (int p = 0; p < limit; ++p) {
            const uint8_t* e = wide + 3 * p;
            EXPECT_EQ(narrow.blue[e[0]] + narrow.green[e[1]] + narrow.red[e[2]], p) << p;
        }
        EXPECT_EQ(wide[0], green == 6 ? 3 : 6);
    }
    uint8_t invert[256];
    for (int i = 0; i < 256; ++i) invert[i] = static_cast<uint8_t>(255 - i);
    TDibBuffer b;
    b.SetSize(1, 1, 16);
    EXPECT_EQ(b.Table16To24()[0], 6);
    EXPECT_EQ(b.Table16To24(invert)[0], 249);
    EXPECT_EQ(b.Table16To24()[0], 6);
    TDibBuffer wide;
    wide.SetSize(1, 1, 24);
    EXPECT_THROW(wide.Table16To24(), ImagingError);
}

TEST(DibBuffer, DrawToConvertsAndClips) {
    TDibBuffer src;
    src.SetSize(2, 2, 24);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 6; ++i) src.Line(y)[i] = static_cast<uint8_t>(10 * y + i + 1);
    TDibBuffer dst;
    dst.SetSize(3, -3, 32);
    src.DrawTo(dst, -1, 1);
    EXPECT_EQ(dst.Line(0)[3], 0);
    const uint8_t expected[4] = {4, 5, 6, 255};
    EXPECT_EQ(std::memcmp(dst.Line(1), expected, 4), 0);
    EXPECT_EQ(dst.Line(2)[0], 14);
    EXPECT_EQ(dst.Line(1)[4], 0);

    TDibBuffer s16, d24;
    s16.SetSizeBitfields(nullptr, 1, 5, 6, 5, 16, 1);
    const uint16_t p = (31 << 11) | (32 << 5) | 1;
    std::memcpy(s16.Line(0), &p, 2);
    d24.SetSize(1, 1, 24);
    s16.DrawTo(d24, 0, 0);
    EXPECT_EQ(d24.Line(0)[0], 8);
    EXPECT_EQ(d24.Line(0)[1], 130);
    EXPECT_EQ(d24.Line(0)[2], 255);

    TDibBuffer pal;
    pal.SetSize(1, 1, 4);
    pal.ColorTable()[3] = {250, 0, 0, 0};
    pal.ColorTable()[9] = {0, 0, 250, 0};
    d24.DrawTo(pal, 0, 0);
    EXPECT_EQ(pal.Line(0)[0] >> 4, 9);
}

}  // namespace
}  // namespace jx
