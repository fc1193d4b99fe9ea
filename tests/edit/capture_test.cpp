#include <gtest/gtest.h>

#include <cstring>

#include "edit/capture.h"
#include "edit/errors.h"

namespace jx {
namespace {

std::vector<uint8_t> Fill(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    std::vector<uint8_t> v;
    for (int i = 0; i < w * h; ++i) v.insert(v.end(), {b, g, r, 255});
    return v;
}

void Set(std::vector<uint8_t>& v, int w, int x, int y, uint8_t b, uint8_t g, uint8_t r) {
    uint8_t* p = &v[size_t(y * w + x) * 4];
    p[0] = b, p[1] = g, p[2] = r;
}

const uint8_t* At(const TCaptureImage& im, int x, int y) { return &im.Bgra[size_t(y * im.Width + x) * 4]; }

// A window drawn over white and over black: where both grabs agree the pixel is opaque, where
// they differ by the backdrop it is transparent, in between translucent.
TEST(CaptureAlpha, WhiteAndBlackGrabsGiveColourAndAlpha) {
    const int w = 5, h = 4;
    std::vector<uint8_t> white = Fill(w, h, 255, 255, 255), black = Fill(w, h, 0, 0, 0);
    Set(white, w, 1, 1, 255, 255, 255), Set(black, w, 1, 1, 255, 255, 255);  // opaque white
    Set(white, w, 2, 1, 10, 20, 200), Set(black, w, 2, 1, 10, 20, 200);      // opaque colour
    // colour (B 50, G 100, R 200) at alpha 100: over black c*a/255, over white that plus 255-a
    const auto over = [](int c, int a, int back) { return uint8_t((c * a + back * (255 - a) + 127) / 255); };
    Set(white, w, 3, 2, over(50, 100, 255), over(100, 100, 255), over(200, 100, 255));
    Set(black, w, 3, 2, over(50, 100, 0), over(100, 100, 0), over(200, 100, 0));

    const TAlphaCapture a = ComposeAlphaCapture(white, black, w, h);
    ASSERT_EQ(a.Image.Width, w);
    EXPECT_TRUE(a.Image.HasAlpha);
    // Opaque pixels keep their colour exactly (255, not 254).
    EXPECT_EQ(std::memcmp(At(a.Image, 1, 1), "\xff\xff\xff\xff", 4), 0);
    EXPECT_EQ(std::memcmp(At(a.Image, 2, 1), "\x0a\x14\xc8\xff", 4), 0);
    const uint8_t* t = At(a.Image, 3, 2);
    EXPECT_NEAR(t[3], 100, 1);
    EXPECT_NEAR(t[0], 50, 2);
    EXPECT_NEAR(t[1], 100, 2);
    EXPECT_NEAR(t[2], 200, 2);
    EXPECT_EQ(At(a.Image, 0, 0)[3], 0);
    EXPECT_EQ(a.Box, (TCaptureRect{1, 1, 3, 2}));  // inclusive of the last visible pixel
}

TEST(CaptureAlpha, NothingVisibleGivesAnEmptyBoxAndMismatchedGrabsAreRefused) {
    const TAlphaCapture a = ComposeAlphaCapture(Fill(3, 3, 255, 255, 255), Fill(3, 3, 0, 0, 0), 3, 3);
    EXPECT_TRUE(a.Box.Empty());
    EXPECT_THROW(ComposeAlphaCapture(Fill(3, 3, 0, 0, 0), Fill(2, 3, 0, 0, 0), 3, 3), EditError);
}

TEST(CaptureRects, ClipAndCropStayInsideTheGrab) {
    const TCaptureRect screen{0, 0, 100, 50};
    EXPECT_EQ(ClipRect({-10, 40, 30, 30}, screen), (TCaptureRect{0, 40, 20, 10}));
    EXPECT_TRUE(ClipRect({100, 0, 10, 10}, screen).Empty());
    EXPECT_TRUE(ClipRect({5, 5, -3, 10}, screen).Empty());

    TCaptureImage im{4, 3, false, Fill(4, 3, 0, 0, 0)};
    Set(im.Bgra, 4, 3, 2, 7, 8, 9);
    const TCaptureImage c = CropCapture(im, {2, 1, 10, 10});  // reaches past the grab
    ASSERT_EQ(c.Width, 2);
    ASSERT_EQ(c.Height, 2);
    EXPECT_EQ(At(c, 1, 1)[2], 9);
}

TEST(CaptureCursor, BlendsSourceOverAtItsPlaceAndClipsAtTheEdges) {
    TCaptureImage im{4, 4, false, Fill(4, 4, 255, 255, 255)};
    // 2 x 1 cursor, premultiplied: opaque red, then black at half coverage
    TCursorImage cur{2, 1, 1, 0, {0, 0, 255, 255, 0, 0, 0, 128}};
    BlendCursor(im, cur, 1, 2);
    EXPECT_EQ(std::memcmp(At(im, 1, 2), "\x00\x00\xff\xff", 4), 0);
    EXPECT_EQ(At(im, 2, 2)[0], 127);
    EXPECT_EQ(At(im, 0, 2)[0], 255);  // beside it nothing changed
    BlendCursor(im, cur, -1, 3);       // half off the image: only the visible part
    EXPECT_EQ(At(im, 0, 3)[0], 127);

    // Over a transparent pixel of an alpha capture the cursor brings its own alpha.
    TCaptureImage clear{1, 1, true, {9, 9, 9, 0}};
    BlendCursor(clear, TCursorImage{1, 1, 0, 0, {0, 0, 64, 128}}, 0, 0);
    EXPECT_EQ(clear.Bgra[3], 128);
    EXPECT_EQ(clear.Bgra[2], 128);  // un-premultiplied

    const TCaptureRect area{10, 10, 20, 20};
    const TCursorImage big{16, 16, 0, 0, std::vector<uint8_t>(16 * 16 * 4)};
    EXPECT_TRUE(CursorInside(big, 14, 14, area));
    EXPECT_FALSE(CursorInside(big, 15, 14, area));  // its far edge would stick out
    EXPECT_FALSE(CursorInside(big, 9, 14, area));
}

TEST(CaptureBitmap, TwentyFourBitsWithoutAlphaThirtyTwoWith) {
    TCaptureImage im{3, 2, false, Fill(3, 2, 1, 2, 3)};
    const auto bits = [](const std::vector<uint8_t>& bmp) { return bmp[28] | bmp[29] << 8; };
    std::vector<uint8_t> bmp = EncodeCaptureBmp(im);
    ASSERT_GT(bmp.size(), 54u);
    EXPECT_EQ(bits(bmp), 24);
    im.HasAlpha = true;
    bmp = EncodeCaptureBmp(im);
    EXPECT_EQ(bits(bmp), 32);
    EXPECT_THROW(EncodeCaptureBmp(TCaptureImage{}), EditError);
}

}  // namespace
}  // namespace jx
