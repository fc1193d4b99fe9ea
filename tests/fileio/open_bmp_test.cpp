// The BMP reader: the suite's bitmap copies, every depth and compression, the alpha rules and
// the mask side file, and damaged headers.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <tuple>

#include "common/padded_rle_bitmap.h"
#include "common/test_data.h"
#include "fileio/errors.h"
#include "fileio/open_decoders.h"
#include "save_test_util.h"

namespace jx {
namespace {

namespace fs = std::filesystem;

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A bitmap file with a 40-byte header; `extra` (colour table or masks) lies between the header
// and `data`, which is stored as given.
std::vector<uint8_t> MakeBmp(int32_t w, int32_t h, uint16_t bpp, uint32_t compression,
                             const std::vector<uint8_t>& extra, const std::vector<uint8_t>& data,
                             uint32_t colorsUsed = 0) {
    std::vector<uint8_t> b(54, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 10, uint32_t(54 + extra.size()));
    Put32(b, 14, 40);
    Put32(b, 18, uint32_t(w));
    Put32(b, 22, uint32_t(h));
    Put16(b, 26, 1);
    Put16(b, 28, bpp);
    Put32(b, 30, compression);
    Put32(b, 46, colorsUsed);
    b.insert(b.end(), extra.begin(), extra.end());
    b.insert(b.end(), data.begin(), data.end());
    Put32(b, 2, uint32_t(b.size()));
    return b;
}

std::vector<uint8_t> Palette(std::initializer_list<std::array<uint8_t, 3>> rgb) {
    std::vector<uint8_t> t;
    for (const auto& c : rgb) t.insert(t.end(), {c[2], c[1], c[0], 0});
    return t;
}

uint32_t Rgb(const TPixelRec& p) { return uint32_t(p.R) << 16 | uint32_t(p.G) << 8 | p.B; }

// RGB of one row, top row first.
std::vector<uint32_t> Row(const TDecodedImage& d, int y) {
    std::vector<uint32_t> v;
    for (int x = 0; x < d.Pixels.Width(); ++x) v.push_back(Rgb(d.Pixels[y][x]));
    return v;
}
using V = std::vector<uint32_t>;

class OpenBmp : public test::ScratchDir {
protected:
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        test::WriteBytes(dir_ / name, bytes);
        return Path(name);
    }
};

TEST(OpenBmpSuite, CopiesOpenToThePixelsOfTheirPngs) {
    const fs::path bmpDir = test::DataDir() / "pngsuite" / "bmp";
    size_t compared = 0;
    for (const auto& e : fs::directory_iterator(bmpDir)) {
        const std::string name = e.path().stem().string();
        SCOPED_TRACE(name);
        const TDecodedImage bmp = DecodeBmpFile(e.path().string());
        const TDecodedImage png = DecodePngFile((test::PngSuiteDir() / (name + ".png")).string());
        ASSERT_TRUE(bmp.Pixels.SameShape(png.Pixels));
        // The copies of the 16-bit grey images were reduced to 8 bits by rounding, the PNG
        // decode keeps the high byte: they may differ by one level.
        const int tolerance = name.find("0g16") != std::string::npos ? 1 : 0;
        auto near = [&](uint8_t x, uint8_t y) { return std::abs(int(x) - int(y)) <= tolerance; };
        size_t bad = 0;
        for (int64_t i = 0; i < png.Pixels.Count(); ++i) {
            const TPixelRec& a = bmp.Pixels.Data()[i];
            const TPixelRec& b = png.Pixels.Data()[i];
            // Colour under a fully transparent pixel carries no meaning.
            if (a.A != b.A || (b.A != 0 && !(near(a.R, b.R) && near(a.G, b.G) && near(a.B, b.B)))) ++bad;
        }
        EXPECT_EQ(bad, 0u);
        ++compared;
    }
    EXPECT_GT(compared, 150u);
}

// The suite copies hold the usual depths; these are the cases they lack.
TEST_F(OpenBmp, IndexedAndDirectDepths) {
    const auto pal = Palette({{10, 20, 30}, {200, 100, 50}});
    // 8 bits with an index past the two-entry table: opaque black, no read past the table.
    auto eight = DecodeBmpBytes(MakeBmp(2, 1, 8, 0, pal, {1, 200, 0, 0}, 2));
    EXPECT_EQ(Row(eight, 0), (V{0xC86432, 0}));
    EXPECT_EQ(eight.Pixels[0][1].A, 255);
    // 16 bits without masks is 5-5-5; with bit fields 5-6-5.
    EXPECT_EQ(Row(DecodeBmpBytes(MakeBmp(2, 1, 16, 0, {}, {0xFF, 0x7F, 0x00, 0x7C})), 0), (V{0xFFFFFF, 0xFF0000}));
    std::vector<uint8_t> m565(12, 0);
    Put32(m565, 0, 0xF800);
    Put32(m565, 4, 0x07E0);
    Put32(m565, 8, 0x001F);
    EXPECT_EQ(Row(DecodeBmpBytes(MakeBmp(2, 1, 16, 3, m565, {0xE0, 0x07, 0x1F, 0x00})), 0), (V{0x00FF00, 0x0000FF}));
    // 24 bits, top-down (negative height).
    EXPECT_EQ(Row(DecodeBmpBytes(MakeBmp(1, -2, 24, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0})), 0), (V{0x030201}));
}

TEST_F(OpenBmp, ThirtyTwoBitAlphaAndRunLengths) {
    // Every fourth byte 0: opaque, no alpha; one non-zero byte keeps every alpha value.
    auto none = DecodeBmpBytes(MakeBmp(2, 1, 32, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0}));
    EXPECT_FALSE(none.HasAlpha);
    EXPECT_EQ(none.Pixels[0][0].A + none.Pixels[0][1].A, 510);
    auto some = DecodeBmpBytes(MakeBmp(2, 1, 32, 0, {}, {1, 2, 3, 0, 4, 5, 6, 9}));
    EXPECT_TRUE(some.HasAlpha);
    EXPECT_EQ(some.Pixels[0][0].A, 0);
    EXPECT_EQ(some.Pixels[0][1].A, 9);

    const auto pal = Palette({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}});
    // RLE8, 4x2: bottom row "3 x 1, then 2", end of line; top row absolute 2 1 0 (padded), end.
    auto r8 = DecodeBmpBytes(MakeBmp(4, 2, 8, 1, pal, {3, 1, 1, 2, 0, 0, 0, 3, 2, 1, 0, 0, 0, 1}, 3));
    EXPECT_EQ(Row(r8, 1), (V{0xFF0000, 0xFF0000, 0xFF0000, 0x00FF00}));
    EXPECT_EQ(Row(r8, 0), (V{0x00FF00, 0xFF0000, 0, 0}));
    // RLE4, 4x1: a run of 4 alternating 1 and 2.
    auto r4 = DecodeBmpBytes(MakeBmp(4, 1, 4, 2, pal, {4, 0x12, 0, 1}, 3));
    EXPECT_EQ(Row(r4, 0), (V{0xFF0000, 0x00FF00, 0xFF0000, 0x00FF00}));
    // Runs past the row are refused; deltas past the image stay inside it.
    EXPECT_THROW(DecodeBmpBytes(MakeBmp(2, 1, 8, 1, pal, {200, 1, 0, 2, 100, 100, 5, 2, 0, 1}, 3)), FileIoError);
    auto wild = DecodeBmpBytes(MakeBmp(2, 1, 8, 1, pal, {2, 1, 0, 2, 100, 100, 5, 2, 0, 1}, 3));
    EXPECT_EQ(Rgb(wild.Pixels[0][1]), 0xFF0000u);
}

TEST_F(OpenBmp, MaskSideFileGivesAlphaCountedFromTheBottom) {
    // 3x2 24-bit image x.bmp with maskx.dat: bottom mask row 0b100.., top row 0b010..
    std::vector<uint8_t> data(2 * 12, 0x80);
    const std::string image = Write("x.bmp", MakeBmp(3, 2, 24, 0, {}, data));
    EXPECT_EQ(MaskSideFileName(image), (dir_ / "maskx.dat").string());
    auto plain = DecodeBmpFile(image);
    EXPECT_FALSE(plain.HasAlpha);
    Write("maskx.dat", {0x80, 0, 0, 0, 0x40, 0, 0, 0});
    auto masked = DecodeBmpFile(image);
    EXPECT_TRUE(masked.HasAlpha);
    EXPECT_EQ(masked.Pixels[1][0].A, 0);
    EXPECT_EQ(masked.Pixels[1][1].A, 255);
    EXPECT_EQ(masked.Pixels[0][1].A, 0);
    EXPECT_EQ(masked.Pixels[0][0].A, 255);
    EXPECT_EQ(Rgb(masked.Pixels[0][0]), 0x808080u);
    // A short mask file: the rows it lacks are opaque.
    Write("maskx.dat", {0x80});
    auto shortMask = DecodeBmpFile(image);
    EXPECT_EQ(shortMask.Pixels[1][0].A, 0);
    EXPECT_EQ(shortMask.Pixels[0][0].A, 255);
    EXPECT_EQ(shortMask.Pixels[0][1].A, 255);
}

TEST_F(OpenBmp, DamagedFilesFailWithAMessage) {
    const auto good = MakeBmp(4, 4, 24, 0, {}, std::vector<uint8_t>(48, 7));
    EXPECT_THROW(DecodeBmpBytes(std::vector<uint8_t>(good.begin(), good.end() - 1)), FileIoError);
    EXPECT_THROW(DecodeBmpBytes(std::vector<uint8_t>{'B', 'M', 0}), FileIoError);
    const std::vector<std::function<void(std::vector<uint8_t>&)>> damage{
        [](auto& b) { b[0] = 'X'; },                                                    // signature
        [](auto& b) { Put32(b, 18, 0x7FFFFFFF), Put32(b, 22, 0x7FFFFFFF); },            // huge size
        [](auto& b) { Put16(b, 28, 7); },                                               // bit depth
        [](auto& b) { Put32(b, 30, 4); },                                               // embedded JPEG
        [](auto& b) { Put32(b, 10, 0xFFFFFFF0); },                                      // pixel offset
        [](auto& b) { Put32(b, 14, 7); },                                               // header size
    };
    for (size_t i = 0; i < damage.size(); ++i) {
        auto bad = good;
        damage[i](bad);
        EXPECT_THROW(DecodeBmpBytes(bad), FileIoError) << i;
    }
}

// The message of a refused bitmap, "" when it opens.
std::string Refusal(const std::vector<uint8_t>& bytes) {
    try {
        DecodeBmpBytes(bytes);
    } catch (const FileIoError& e) {
        return e.what();
    }
    return {};
}

TEST_F(OpenBmp, PixelDataThatIsCutShortStartsInTheHeadersOrCannotFillTheImageIsRefused) {
    const auto pal = Palette({{0, 0, 0}, {255, 0, 0}});
    // 300 x 300 RLE8, every row a run of 300 (255 + 45) and an end of line, then the end.
    std::vector<uint8_t> rows;
    for (int y = 0; y < 300; ++y) rows.insert(rows.end(), {255, 1, 45, 1, 0, 0});
    rows.insert(rows.end(), {0, 1});
    const auto whole = MakeBmp(300, 300, 8, 1, pal, rows, 2);
    ASSERT_EQ(Refusal(whole), "");
    EXPECT_EQ(Rgb(DecodeBmpBytes(whole).Pixels[0][299]), 0xFF0000u);
    // Cut in half: no end code, rows missing.
    EXPECT_EQ(Refusal(std::vector<uint8_t>(whole.begin(), whole.begin() + long(whole.size() / 2))),
              "BMP: the pixel data is cut short");
    // Cut inside an absolute run.
    auto literal = MakeBmp(4, 1, 8, 1, pal, {0, 4, 1, 1}, 2);
    EXPECT_EQ(Refusal(literal), "BMP: the pixel data is cut short");
    // Uncompressed rows cut short.
    const auto rgb = MakeBmp(4, 4, 24, 0, {}, std::vector<uint8_t>(48, 7));
    EXPECT_EQ(Refusal(std::vector<uint8_t>(rgb.begin(), rgb.end() - 1)), "BMP: the pixel data is cut short");
    // A pixel-data offset of 0, or one inside the info header or the bit-field masks.
    for (uint32_t offset : {0u, 14u, 30u}) {
        auto bad = rgb;
        Put32(bad, 10, offset);
        EXPECT_EQ(Refusal(bad), "BMP: the pixel data starts inside its headers") << offset;
    }
    std::vector<uint8_t> masks(12, 0);
    Put32(masks, 0, 0xF800);
    Put32(masks, 4, 0x07E0);
    Put32(masks, 8, 0x001F);
    auto fields = MakeBmp(2, 1, 16, 3, masks, {0, 0, 0, 0});
    Put32(fields, 10, 54 + 4);
    EXPECT_EQ(Refusal(fields), "BMP: the pixel data starts inside its headers");
    // A damaged width or height: the runs cover a sliver of the image they would open as; far
    // past them, the header claims more than the data could expand to.
    auto wide = whole;
    Put32(wide, 18, 6000);
    EXPECT_EQ(Refusal(wide), "BMP: the run-length data cannot fill a 6000x300 image (its width or height is damaged)");
    auto tall = whole;
    Put32(tall, 22, 6000);
    EXPECT_EQ(Refusal(tall), "BMP: the run-length data cannot fill a 300x6000 image (its width or height is damaged)");
    Put32(tall, 22, 30000);
    EXPECT_NE(Refusal(tall).find("too large for 1802 bytes"), std::string::npos) << Refusal(tall);
}

TEST_F(OpenBmp, SparseRunLengthImagesOpenWithinTheirExpansionBound) {
    // 8192 x 512 of end-of-line codes alone: a blank image of four million pixels in 1 KB.
    std::vector<uint8_t> eol;
    for (int y = 0; y < 512; ++y) eol.insert(eol.end(), {0, 0});
    eol.insert(eol.end(), {0, 1});
    const auto pal = Palette({{9, 9, 9}, {255, 0, 0}});
    const TDecodedImage blank = DecodeBmpBytes(MakeBmp(8192, 512, 8, 1, pal, eol, 2));
    ASSERT_EQ(blank.Pixels.Width(), 8192);
    EXPECT_EQ(Rgb(blank.Pixels[511][8191]), 0x090909u);
    // Twice as wide, it passes what this reader expands a byte into, and says so rather than
    // calling a sound file cut short.
    EXPECT_EQ(Refusal(MakeBmp(16384, 512, 8, 1, pal, eol, 2)),
              "BMP: a 16384x512 image is too large for 1026 bytes of run-length data (at most 4096 pixels a byte)");
    // Deltas that jump over most of the image, then a run of three on the top row.
    const TDecodedImage jump = DecodeBmpBytes(MakeBmp(384, 256, 8, 1, pal, {0, 2, 200, 200, 0, 2, 50, 55, 3, 1, 0, 1}, 2));
    EXPECT_EQ(Row(jump, 0)[249], 0x090909u);
    EXPECT_EQ(Row(jump, 0)[250], 0xFF0000u);
    EXPECT_EQ(Row(jump, 0)[252], 0xFF0000u);
    EXPECT_EQ(Row(jump, 0)[253], 0x090909u);
    EXPECT_EQ(Row(jump, 1)[250], 0x090909u);
    EXPECT_TRUE(jump.Warnings.empty());
    // Rows that end at different places: sparse, not damaged.
    const TDecodedImage ragged =
        DecodeBmpBytes(MakeBmp(8, 4, 8, 1, pal, {2, 1, 0, 0, 3, 1, 0, 0, 2, 1, 0, 0, 5, 1, 0, 1}, 2));
    EXPECT_TRUE(ragged.Warnings.empty());
    EXPECT_EQ(Row(ragged, 0), (V{0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000, 0x090909, 0x090909, 0x090909}));
}

// A 600 x 400 RLE8 image as an encoder writes it: every row runs of 255, 255 and 90 pixels and an
// end of line, then the end of the bitmap.
std::vector<uint8_t> WholeRle8() {
    std::vector<uint8_t> rows;
    for (int y = 0; y < 400; ++y) rows.insert(rows.end(), {255, uint8_t(1 + y % 2), 255, 2, 90, 1, 0, 0});
    rows.insert(rows.end(), {0, 1});
    return MakeBmp(600, 400, 8, 1, Palette({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}}), rows, 3);
}

TEST_F(OpenBmp, RunLengthDataThatDoesNotFitItsHeaderIsRefusedOrReported) {
    const auto whole = WholeRle8();
    const TDecodedImage good = DecodeBmpBytes(whole);
    EXPECT_TRUE(good.Warnings.empty());
    EXPECT_EQ(Rgb(good.Pixels[399][0]), 0xFF0000u);  // the first stored row is the bottom one

    // The width halved: the runs cross the row ends. A negative height: top-down run-length data.
    auto narrow = whole;
    Put32(narrow, 18, 300);
    EXPECT_EQ(Refusal(narrow), "BMP: a run of 255 pixels at column 255 crosses the end of a 300-pixel row");
    auto topDown = whole;
    Put32(topDown, 22, uint32_t(-400));
    EXPECT_EQ(Refusal(topDown), "BMP: run-length data cannot be stored top-down (the height is negative)");
    // An absolute block across the row end, in RLE8 and RLE4.
    const auto pal = Palette({{0, 0, 0}, {255, 0, 0}});
    EXPECT_EQ(Refusal(MakeBmp(4, 1, 8, 1, pal, {2, 1, 0, 3, 1, 1, 1, 0, 0, 1}, 2)),
              "BMP: an absolute block of 3 pixels at column 2 crosses the end of a 4-pixel row");
    EXPECT_EQ(Refusal(MakeBmp(4, 1, 4, 2, pal, {0, 9, 0x11, 0x11, 0x11, 0x11, 0x10, 0, 0, 1}, 2)),
              "BMP: an absolute block of 9 pixels at column 0 crosses the end of a 4-pixel row");

    // A width or height flipped one bit up, or doubled: the image opens, with a word on its shape.
    const std::vector<std::tuple<size_t, uint32_t, std::string>> doubtful{
        {18, 2648, "every row of the run-length data ends at column 600 of 2648 (the width may be damaged)"},
        {18, 1200, "every row of the run-length data ends at column 600 of 1200 (the width may be damaged)"},
        {22, 1424, "the run-length data reaches only 400 of 1424 rows (the height may be damaged)"},
        {22, 800, "the run-length data reaches only 400 of 800 rows (the height may be damaged)"},
    };
    for (const auto& [at, value, warning] : doubtful) {
        auto bad = whole;
        Put32(bad, at, value);
        const TDecodedImage d = DecodeBmpBytes(bad);
        EXPECT_EQ(d.Warnings, std::vector<std::string>{warning}) << value;
    }
    // Three rows of 400 left blank at the top are not half of them.
    std::vector<uint8_t> shortRows(whole.begin() + 54 + 12, whole.end() - 2 - 3 * 8);
    shortRows.insert(shortRows.end(), {0, 1});
    EXPECT_TRUE(DecodeBmpBytes(MakeBmp(600, 400, 8, 1, Palette({{0, 0, 0}, {255, 0, 0}, {0, 255, 0}}), shortRows, 3))
                    .Warnings.empty());

    // The file road carries the words to the opener.
    auto tall = whole;
    Put32(tall, 22, 800);
    EXPECT_EQ(DecodeBmpFile(Write("tall.bmp", tall)).Warnings.size(), 1u);
}

// A 33 x 32 24-bit image as writers store it: bottom row first, each row padded to 100 bytes.
std::vector<uint8_t> Whole24() {
    std::vector<uint8_t> rows(100 * 32, 0);
    for (size_t y = 0; y < 32; ++y)
        for (size_t x = 0; x < 33; ++x) {
            uint8_t* p = &rows[100 * y + 3 * x];
            p[0] = uint8_t(x * 7), p[1] = uint8_t(y * 8), p[2] = uint8_t(x * y);
        }
    return MakeBmp(33, 32, 24, 0, {}, rows);
}

// The RGB the reader gives for the stored row `y` (from the bottom) of a 24-bit image `w` wide.
std::vector<uint32_t> StoredRow24(const std::vector<uint8_t>& file, int32_t w, int32_t y) {
    const size_t stride = (size_t(w) * 3 + 3) / 4 * 4;
    std::vector<uint32_t> v;
    for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = &file[54 + stride * size_t(y) + 3 * size_t(x)];
        v.push_back(uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
    }
    return v;
}

TEST_F(OpenBmp, RowsPastTheHeadersSizeOpenWithAWordAndTheSamePixels) {
    const auto whole = Whole24();
    EXPECT_TRUE(DecodeBmpBytes(whole).Warnings.empty());
    // A width that lost a bit shears the picture; a cut height drops rows. Both read as before.
    auto narrow = whole;
    Put32(narrow, 18, 32);
    const TDecodedImage sheared = DecodeBmpBytes(narrow);
    EXPECT_EQ(sheared.Warnings, std::vector<std::string>{"the pixel data holds 128 bytes (1 row) more than a 32x32 image "
                                                         "needs (the width or height may be damaged)"});
    for (int y = 0; y < 32; ++y) ASSERT_EQ(Row(sheared, 31 - y), StoredRow24(narrow, 32, y)) << y;
    auto low = whole;
    Put32(low, 22, 4);
    const TDecodedImage cut = DecodeBmpBytes(low);
    EXPECT_EQ(cut.Warnings, std::vector<std::string>{"the pixel data holds 2800 bytes (28 rows) more than a 33x4 "
                                                     "image needs (the width or height may be damaged)"});
    for (int y = 0; y < 4; ++y) EXPECT_EQ(Row(cut, 3 - y), StoredRow24(whole, 33, y)) << y;
    // Top-down rows past the height lie at the end alike.
    Put32(low, 22, uint32_t(-4));
    EXPECT_EQ(DecodeBmpBytes(low).Warnings.size(), 1u);
    EXPECT_EQ(Row(DecodeBmpBytes(low), 0), StoredRow24(whole, 33, 0));

    // A few bytes of padding after the last row; data after the size the file header gives.
    auto padded = whole;
    padded.insert(padded.end(), {0, 0, 0, 0});
    Put32(padded, 2, uint32_t(padded.size()));
    EXPECT_TRUE(DecodeBmpBytes(padded).Warnings.empty());
    auto trailer = whole;
    trailer.insert(trailer.end(), 400, 0xEE);
    EXPECT_TRUE(DecodeBmpBytes(trailer).Warnings.empty());
    Put32(trailer, 2, 0);  // the size unknown: the trailer counts
    EXPECT_EQ(DecodeBmpBytes(trailer).Warnings.size(), 1u);
    // A narrow 1-bit image: a whole row is 4 bytes, and 4 bytes of padding are not a row.
    const auto pal = Palette({{0, 0, 0}, {255, 255, 255}});
    auto mono = MakeBmp(8, 16, 1, 0, pal, std::vector<uint8_t>(16 * 4, 0x5A));
    mono.insert(mono.end(), {0, 0, 0, 0});
    Put32(mono, 2, uint32_t(mono.size()));
    EXPECT_TRUE(DecodeBmpBytes(mono).Warnings.empty());
    Put32(mono, 22, 8);
    EXPECT_NE(DecodeBmpBytes(mono).Warnings.at(0).find("36 bytes (9 rows) more than a 8x8 image"), std::string::npos);
}

// A version 5 header whose embedded profile follows the pixels: the profile is not more rows.
TEST_F(OpenBmp, AProfileAfterThePixelsIsNotTakenForRows) {
    const auto v3 = Whole24();
    std::vector<uint8_t> header(124, 0);
    std::copy(v3.begin() + 14, v3.begin() + 54, header.begin());
    Put32(header, 0, 124);
    Put32(header, 56, 0x4D424544);  // an embedded profile
    Put32(header, 112, uint32_t(124 + 3200));
    Put32(header, 116, 600);
    std::vector<uint8_t> data(v3.begin() + 54, v3.end());
    data.insert(data.end(), 600, 0x77);
    std::vector<uint8_t> v5 = MakeBmp(33, 32, 24, 0, {}, {});
    v5.resize(14);
    v5.insert(v5.end(), header.begin(), header.end());
    v5.insert(v5.end(), data.begin(), data.end());
    Put32(v5, 2, uint32_t(v5.size()));
    Put32(v5, 10, 14 + 124);
    const TDecodedImage whole = DecodeBmpBytes(v5);
    EXPECT_TRUE(whole.Warnings.empty());
    EXPECT_EQ(Row(whole, 0), StoredRow24(v3, 33, 31));
    Put32(v5, 22, 16);
    EXPECT_NE(DecodeBmpBytes(v5).Warnings.at(0).find("1600 bytes (16 rows) more than a 33x16 image"), std::string::npos);
}

TEST_F(OpenBmp, RunLengthCodesPastTheLastRowOrDeltasOutOfTheImageOpenWithAWord) {
    const auto whole = WholeRle8();
    const TDecodedImage all = DecodeBmpBytes(whole);
    auto low = whole;
    Put32(low, 22, 400 ^ 256);
    const TDecodedImage cut = DecodeBmpBytes(low);
    EXPECT_EQ(cut.Warnings, std::vector<std::string>{"the run-length data goes on for 256 rows past the last of 144 "
                                                     "rows (the height may be damaged)"});
    for (int y = 0; y < 144; ++y) ASSERT_EQ(Row(cut, 143 - y), Row(all, 399 - y)) << y;
    // An end of line after the last row and the end code are how a stream ends, not more rows.
    const auto pal = Palette({{0, 0, 0}, {255, 0, 0}});
    EXPECT_TRUE(DecodeBmpBytes(MakeBmp(4, 2, 8, 1, pal, {4, 1, 0, 0, 4, 1, 0, 0, 0, 0, 0, 1}, 2)).Warnings.empty());
    EXPECT_EQ(DecodeBmpBytes(MakeBmp(4, 1, 8, 1, pal, {4, 1, 0, 0, 4, 1, 0, 0, 0, 1}, 2)).Warnings.size(), 1u);

    // 8 x 4: a delta from the second row jumps to column 4 of the third.
    const std::vector<uint8_t> codes{8, 1, 0, 0, 0, 2, 4, 1, 4, 1, 0, 0, 8, 1, 0, 0, 0, 1};
    const TDecodedImage sparse = DecodeBmpBytes(MakeBmp(8, 4, 8, 1, pal, codes, 2));
    EXPECT_TRUE(sparse.Warnings.empty());
    EXPECT_EQ(Row(sparse, 1), (V{0, 0, 0, 0, 0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000}));
    const TDecodedImage twoRows = DecodeBmpBytes(MakeBmp(8, 2, 8, 1, pal, codes, 2));
    EXPECT_EQ(twoRows.Warnings, (std::vector<std::string>{
                                    "a delta at column 0 of row 1 jumps to column 4 of row 2, outside the 8x2 image "
                                    "(the width or height may be damaged)",
                                    "the run-length data goes on for 2 rows past the last of 2 rows (the height may "
                                    "be damaged)"}));
    EXPECT_EQ(Row(twoRows, 0), V(8, 0));
    EXPECT_EQ(Row(twoRows, 1), V(8, 0xFF0000));
    // Past the row's stored end, and onto the row above the image.
    EXPECT_EQ(DecodeBmpBytes(MakeBmp(8, 1, 8, 1, pal, {0, 2, 9, 0, 0, 0, 0, 1}, 2)).Warnings.size(), 1u);
    EXPECT_EQ(DecodeBmpBytes(MakeBmp(8, 1, 8, 1, pal, {4, 1, 0, 2, 0, 1, 0, 1}, 2)).Warnings.size(), 1u);
    EXPECT_TRUE(DecodeBmpBytes(MakeBmp(8, 1, 8, 1, pal, {0, 2, 8, 0, 0, 0, 0, 1}, 2)).Warnings.empty());
}

// Converters code each row over its stored width (32-bit padded) and read the padding pixels as
// dropped; a width whose row is not a whole number of words must not be taken for a damaged one.
TEST_F(OpenBmp, RunLengthRowsCodedOverTheirStoredWidthOpenWithoutAWord) {
    const std::vector<std::pair<bool, std::vector<int32_t>>> cases{{false, {449, 450, 451, 452, 453}},
                                                                   {true, {449, 450, 451, 452, 453, 454, 455}}};
    for (const auto& [four, widths] : cases)
        for (int32_t w : widths) {
            SCOPED_TRACE((four ? "RLE4 " : "RLE8 ") + std::to_string(w));
            const test::TPaddedRleBitmap made = test::PaddedRleBitmap(w, 6, four);
            const TDecodedImage d = DecodeBmpBytes(made.File);
            ASSERT_EQ(d.Pixels.Width(), w);
            ASSERT_EQ(d.Pixels.Height(), 6);
            EXPECT_TRUE(d.Warnings.empty()) << d.Warnings.front();
            size_t wrong = 0;
            for (size_t i = 0; i < made.Index.size(); ++i)
                wrong += Rgb(d.Pixels.Data()[i]) != test::TPaddedRleBitmap::Rgb(made.Index[i]);
            EXPECT_EQ(wrong, 0u);
        }

    // One pixel past the stored width is past the row, however the row is padded.
    const auto pal = Palette({{0, 0, 0}, {255, 0, 0}});
    EXPECT_EQ(Refusal(MakeBmp(451, 1, 8, 1, pal, {255, 1, 198, 1, 0, 0, 0, 1}, 2)),
              "BMP: a run of 198 pixels at column 255 crosses the end of a 451-pixel row");
    EXPECT_EQ(Refusal(MakeBmp(449, 1, 4, 2, pal, {255, 0x11, 202, 0x11, 0, 0, 0, 1}, 2)),
              "BMP: a run of 202 pixels at column 255 crosses the end of a 449-pixel row");
    EXPECT_EQ(Refusal(MakeBmp(449, 1, 4, 2, pal, {255, 0x11, 201, 0x11, 0, 0, 0, 1}, 2)), "");
    // A width flipped one bit down still crosses its rows; one column more still ends every row short.
    auto halved = test::PaddedRleBitmap(451, 6, false).File;
    Put32(halved, 18, 451 ^ 256);
    EXPECT_NE(Refusal(halved).find("crosses the end of a 195-pixel row"), std::string::npos) << Refusal(halved);
    auto wider = WholeRle8();
    Put32(wider, 18, 601);
    EXPECT_EQ(DecodeBmpBytes(wider).Warnings,
              std::vector<std::string>{"every row of the run-length data ends at column 600 of 601 (the width may be damaged)"});
}

}  // namespace
}  // namespace jx
