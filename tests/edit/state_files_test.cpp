#include <gtest/gtest.h>

#include "edit/errors.h"
#include "edit/state_files.h"
#include "edit_test_util.h"

namespace jx {
namespace {

TEST(StateFiles, ImageKeepsEveryChannelAndRowOrder) {
    TPixelImage img = test::Pixels(5, 3, 9);
    img[0][0].A = 0;
    img[2][4].A = 17;
    const TBytes b = EncodeStateImage(img);
    ASSERT_EQ(b.size(), 54u + 5 * 3 * 4);
    // Bottom row first, B G R A.
    EXPECT_EQ(b[54], img[2][0].B);
    EXPECT_EQ(b[54 + 3], img[2][0].A);
    const TPixelImage back = DecodeStateImage(b);
    ASSERT_EQ(back.Width(), 5);
    ASSERT_EQ(back.Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_TRUE(SameRgba(back[y][x], img[y][x])) << x << "," << y;
}

TEST(StateFiles, PaletteReadsBackInOrderWithDuplicates) {
    std::vector<TPixelRec> pal(4);
    pal[0].R = 200, pal[0].A = 255;
    pal[1].G = 5, pal[1].A = 10;
    pal[2] = pal[0];  // a duplicate the palette loader would drop
    pal[3].B = 1, pal[3].A = 255;
    const TBytes b = EncodeStatePalette(pal, 3);
    EXPECT_EQ(std::string(b.begin(), b.end()), "JASC-PAL\r\n0100\r\n3\r\n200 0 0 255\r\n0 5 0 10\r\n200 0 0 255\r\n");
    const auto back = DecodeStatePalette(b);
    ASSERT_EQ(back.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(SameRgba(back[i], pal[i])) << i;
}

TEST(StateFiles, WorkingImageKeepsEveryPixelAtEachIndexWidth) {
    // 6 colours: a byte an index; 300: two bytes; more than 65536: the pixels themselves.
    const struct {
        int32_t w, h;
        uint32_t colours;
        size_t bytesPerPixel;
    } cases[] = {{7, 5, 6, 1}, {30, 20, 300, 2}, {300, 250, 70000, 4}};
    for (const auto& c : cases) {
        TPixelImage img(c.w, c.h);
        for (int64_t i = 0; i < img.Count(); ++i) {
            const uint32_t k = static_cast<uint32_t>(i * 7919) % c.colours;
            TPixelRec& p = img.Data()[i];
            p.R = uint8_t(k), p.G = uint8_t(k >> 8), p.B = uint8_t(k >> 16), p.A = uint8_t(255 - (k & 3));
        }
        const TBytes b = EncodeStateWorking(img);
        const size_t table = c.bytesPerPixel == 4 ? 0 : c.colours * 4;
        EXPECT_EQ(b.size(), 16 + table + size_t(img.Count()) * c.bytesPerPixel) << c.colours;
        const TPixelImage back = DecodeStateWorking(b);
        ASSERT_TRUE(back.SameShape(img)) << c.colours;
        EXPECT_EQ(test::Rgba(back), test::Rgba(img)) << c.colours;

        TBytes cut = b;
        cut.pop_back();
        EXPECT_THROW(DecodeStateWorking(cut), EditError) << c.colours;
    }
    // An index past the colour table.
    TBytes b = EncodeStateWorking(test::Pixels(4, 2, 1, 3));
    b.back() = 3;
    EXPECT_THROW(DecodeStateWorking(b), EditError);
    EXPECT_THROW(DecodeStateWorking(EncodeStateImage(test::Pixels(2, 2, 1))), EditError);
}

TEST(StateFiles, ParamsAreEightLittleEndianBytes) {
    const TBytes b = EncodeStateParams({-1, 300});
    EXPECT_EQ(b, (TBytes{0xFF, 0xFF, 0xFF, 0xFF, 0x2C, 0x01, 0, 0}));
    const TStateParams p = DecodeStateParams(b);
    EXPECT_EQ(p.PaletteSize, -1);
    EXPECT_EQ(p.ColorListLength, 300);
}

TEST(StateFiles, DamagedFilesAreRefused) {
    TBytes img = EncodeStateImage(test::Pixels(2, 2, 1));
    img.pop_back();
    EXPECT_THROW(DecodeStateImage(img), EditError);
    EXPECT_THROW(DecodeStateImage(TBytes(10, 0)), EditError);
    EXPECT_THROW(DecodeStateMask(TBytes(5), 2, 3), EditError);
    auto pal = [](const std::string& t) { return DecodeStatePalette(TBytes(t.begin(), t.end())); };
    EXPECT_THROW(pal("JASC-PAL\r\n0100\r\n2\r\n1 2 3 4\r\n"), EditError);  // short
    EXPECT_THROW(pal("JASC-PAL\r\n0100\r\n1\r\n1 2 300 4\r\n"), EditError);
    EXPECT_THROW(pal("JASC-PAL\r\n0100\r\n1\r\n1 2 3\r\n"), EditError);  // states always carry alpha
    EXPECT_THROW(pal("RIFF"), EditError);
    EXPECT_THROW(DecodeStateParams(TBytes(7)), EditError);
}

}  // namespace
}  // namespace jx
