#include <gtest/gtest.h>

#include <cstring>

#include "dib_test_util.h"
#include "imaging/effects.h"
#include "imaging/errors.h"

namespace jx {
namespace {

using test::BytesWithin;
using test::MakeDib;
constexpr auto Fill = test::FillBytes;

void FillPattern(TDibBuffer& b, int seed) {
    for (int y = 0; y < b.AbsHeight(); ++y)
        for (int i = 0; i < b.RowStride() - b.RowGap(); ++i)
            b.Line(y)[i] = static_cast<uint8_t>((y * 37 + i * 11 + seed * 101) % 256);
}

TEST(DibEffects, SharpenLeavesFlatImagesUnchanged) {
    for (int bpp : {8, 16, 24, 32}) {
        for (int w : {1, 7}) {
            TDibBuffer b;
            MakeDib(b, w, w, bpp);
            Fill(b, 0x93);
            SharpenLess(b, 1);
            SharpenMore(b, 2);
            ASSERT_TRUE(BytesWithin(b, 0x93, 0x93)) << bpp << " bpp, width " << w;
        }
    }
}

TEST(DibEffects, SharpenReadsTheUntouchedImageWithClampedCorners) {
    TDibBuffer b;
    b.SetSize(3, -3, 8);
    Fill(b, 100);
    b.Line(1)[1] = 130;
    SharpenLess(b, 1);
    // centre: (10 * 130 - 4 * 100) / 6; a corner sees the centre once: (10 * 100 - 3 * 100 - 130) / 6
    EXPECT_EQ(b.Line(1)[1], 150);
    EXPECT_EQ(b.Line(0)[0], 95);
    EXPECT_EQ(b.Line(2)[2], 95);
    EXPECT_EQ(b.Line(0)[1], 100);
    // a strong edge clips at 0 and 255
    b.SetSize(2, 1, 8);
    b.Line(0)[0] = 0;
    b.Line(0)[1] = 255;
    SharpenMore(b, 1);
    EXPECT_EQ(b.Line(0)[0], 0);
    EXPECT_EQ(b.Line(0)[1], 255);
}

TEST(DibEffects, ConvolutionKeepsTheFourthByteAndSkipsPackedDepths) {
    TDibBuffer b;
    b.SetSize(3, 3, 32);
    FillPattern(b, 1);
    TDibBuffer before;
    b.CloneTo(before);
    SharpenMore(b, 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(b.Line(y)[4 * x + 3], before.Line(y)[4 * x + 3]);
    TDibBuffer packed;
    packed.SetSize(8, 2, 4);
    FillPattern(packed, 2);
    packed.CloneTo(before);
    SharpenMore(packed, 1);
    EXPECT_EQ(std::memcmp(packed.Line(1), before.Line(1), 4), 0);
}

TEST(DibEffects, BlendWeightsZeroAndFullCopyASource) {
    for (int bpp : {8, 16, 24, 32}) {
        for (int w : {1, 5, 9}) {
            TDibBuffer a, b, d;
            MakeDib(a, w, 2, bpp);
            MakeDib(b, w, -2, bpp);
            MakeDib(d, w, 2, bpp);
            FillPattern(a, 1);
            FillPattern(b, 2);
            const int n = a.RowStride() - a.RowGap();
            for (auto [alpha, want] : {std::pair{256, &a}, {0, &b}, {1000, &a}, {-3, &b}}) {
                BlendDIBs(d, a, b, alpha);
                for (int y = 0; y < 2; ++y)
                    ASSERT_EQ(std::memcmp(d.Line(y), want->Line(y), static_cast<size_t>(n)), 0)
                        << bpp << " bpp, alpha " << alpha;
            }
        }
    }
}

TEST(DibEffects, BlendRoundsTowardTheSecondSourceEvenInTheTail) {
    TDibBuffer a, b, d;
    for (int w : {1, 2, 3}) {  // 3, 6 and 9 bytes: whole groups and tails
        a.SetSize(w, 1, 24);
        b.SetSize(w, 1, 24);
        d.SetSize(w, 1, 24);
        Fill(a, 0);
        Fill(b, 255);
        BlendDIBs(d, a, b, 128);
        EXPECT_TRUE(BytesWithin(d, 127, 127)) << w;
        BlendDIBs(d, b, a, 128);
        EXPECT_TRUE(BytesWithin(d, 127, 127)) << w;
        BlendDIBs(d, b, a, 1);
        EXPECT_TRUE(BytesWithin(d, 0, 0)) << w;
    }
    TDibBuffer p, q, r;
    for (TDibBuffer* x : {&p, &q, &r}) x->SetSizeBitfields(nullptr, 1, 5, 6, 5, 16, 1);
    const uint16_t white = 0xFFFF, black = 0;
    std::memcpy(p.Line(0), &white, 2);
    std::memcpy(q.Line(0), &black, 2);
    BlendDIBs(r, p, q, 128);
    uint16_t mid;
    std::memcpy(&mid, r.Line(0), 2);
    EXPECT_EQ(mid, (15 << 11) | (31 << 5) | 15);
}

TEST(DibEffects, BlendMayWriteIntoASourceOrAnOverlappingView) {
    TDibBuffer a, b, expected;
    a.SetSize(6, 6, 32);
    b.SetSize(6, 6, 32);
    FillPattern(a, 3);
    FillPattern(b, 4);
    expected.SetSize(6, 6, 32);
    BlendDIBs(expected, a, b, 77);
    BlendDIBs(a, a, b, 77);
    for (int y = 0; y < 6; ++y) EXPECT_EQ(std::memcmp(a.Line(y), expected.Line(y), 24), 0);

    // the destination is the source shifted by one pixel
    TDibBuffer big, src, dst, other, want;
    big.SetSize(5, 5, 8);
    FillPattern(big, 5);
    src.MakeSubView(big, 0, 0, 4, 4);
    dst.MakeSubView(big, 1, 1, 4, 4);
    other.SetSize(4, 4, 8);
    Fill(other, 9);
    want.SetSize(4, 4, 8);
    TDibBuffer srcCopy;
    src.CloneTo(srcCopy);
    BlendDIBs(want, srcCopy, other, 200);
    BlendDIBs(dst, src, other, 200);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(std::memcmp(dst.Line(y), want.Line(y), 4), 0);
}

TEST(DibEffects, BlendRefusesDifferentGeometry) {
    TDibBuffer a, b, d;
    a.SetSize(4, 4, 24);
    b.SetSize(4, 5, 24);
    d.SetSize(4, 4, 24);
    EXPECT_THROW(BlendDIBs(d, a, b, 10), ImagingError);
    b.SetSize(4, 4, 32);
    EXPECT_THROW(BlendDIBs(d, a, b, 10), ImagingError);
    b.SetSize(5, 4, 24);
    EXPECT_THROW(BlendDIBs(d, a, b, 10), ImagingError);
    b.ReleaseHandles();
    EXPECT_THROW(BlendDIBs(d, a, b, 10), ImagingError);
    TDibBuffer e1, e2, e3;
    EXPECT_NO_THROW(BlendDIBs(e1, e2, e3, 10));
}

}  // namespace
}  // namespace jx
