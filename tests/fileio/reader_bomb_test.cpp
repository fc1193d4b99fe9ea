// Small files whose headers claim huge images: each reader refuses them from the header and the
// file's size, under a memory limit far below what the claimed image would take.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/memory_limit.h"
#include "common/test_data.h"
#include "fileio/errors.h"
#include "fileio/open_decoders.h"
#include "fileio/picture_preview.h"
#include "fileio/png_probe.h"
#include "fake_tools.h"
#include "save_test_util.h"

namespace jx {
namespace {

constexpr uint64_t kHeadroom = 96u << 20;

using test::Put16;
using test::Put32;

std::vector<uint8_t> BmpHeader(int32_t w, int32_t h, uint16_t bits, uint32_t compression, size_t dataBytes) {
    const uint32_t palette = bits <= 8 ? 4u << bits : 0;
    std::vector<uint8_t> b = {'B', 'M'};
    for (uint32_t v : {54 + palette + uint32_t(dataBytes), 0u, 54 + palette, 40u, uint32_t(w), uint32_t(h)}) Put32(b, v);
    Put16(b, 1);
    Put16(b, bits);
    Put32(b, compression);
    b.resize(b.size() + 20 + palette, 0);
    std::fill(b.end() - palette, b.end(), 0x40);
    return b;
}

// A PNG with a header of w x h grey pixels at the depth and a little image data of zeros.
std::vector<uint8_t> TinyPng(uint32_t w, uint32_t h, uint8_t depth) {
    return test::PngBytes(w, h, depth, 0, std::vector<uint8_t>(4096, 0));
}

class ReaderBombs : public test::ScratchDir {
protected:
    void SetUp() override {
        if (!test::kCanLimitMemory) GTEST_SKIP() << "no memory limit under the address sanitizer";
        ScratchDir::SetUp();
    }
    // 0: refused from the header, 1: decoded, 3: refused for another reason (running out of
    // memory among them), 254: any other failure.
    template <class Decode>
    int Outcome(Decode decode, const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = Path(name);
        test::WriteBytes(path, bytes);
        return test::RunWithMemoryLimit(kHeadroom, [&] {
            try {
                decode(path);
                return 1;
            } catch (const FileIoError& e) {
                const std::string m = e.what();
                for (const char* cause : {"truncated", "too large", "cut short", "cannot fill"})
                    if (m.find(cause) != std::string::npos) return 0;
                return 3;
            }
        });
    }
};

TEST_F(ReaderBombs, BitmapsThatCannotHoldTheirPixels) {
    // 16384 x 16384 at 24 bits is 805 MB of rows; the file holds 48 bytes of them.
    std::vector<uint8_t> plain = BmpHeader(16384, 16384, 24, 0, 48);
    plain.resize(plain.size() + 48, 0);
    EXPECT_EQ(Outcome(DecodeBmpFile, "plain.bmp", plain), 0);
    // Run-length data: a few runs cannot cover 268 million pixels.
    std::vector<uint8_t> rle = BmpHeader(16384, 16384, 8, 1, 8);
    rle.insert(rle.end(), {255, 1, 255, 1, 0, 0, 0, 1});
    EXPECT_EQ(Outcome(DecodeBmpFile, "rle.bmp", rle), 0);
    // A small run-length image whose runs do not reach every row still opens.
    std::vector<uint8_t> small = BmpHeader(300, 200, 8, 1, 6);
    small.insert(small.end(), {255, 1, 0, 0, 0, 1});
    EXPECT_EQ(Outcome(DecodeBmpFile, "small.bmp", small), 1);
}

TEST_F(ReaderBombs, PngHeadersPastTheirData) {
    // 450 MB of grey rows claimed by a file of about a hundred bytes.
    EXPECT_EQ(Outcome(DecodePngFile, "tiny.png", TinyPng(15000, 15000, 16)), 0);
    // Past the size limit whatever the data.
    EXPECT_EQ(Outcome(DecodePngFile, "huge.png", TinyPng(60000, 60000, 8)), 0);
    EXPECT_EQ(Outcome(DecodePngFile, "fits.png", TinyPng(64, 63, 8)), 1);
}

TEST_F(ReaderBombs, ToolOutputCheckRefusesPngHeadersPastTheirData) {
    auto outcome = [](const std::vector<uint8_t>& bytes) {
        return test::RunWithMemoryLimit(kHeadroom, [&] { return DecodePngRgba(bytes) ? 1 : 0; });
    };
    // 225 million pixels (900 MB as RGBA) within the pixel limit, on a hundred bytes of data.
    EXPECT_EQ(outcome(TinyPng(15000, 15000, 16)), 0);
    EXPECT_EQ(outcome(TinyPng(16000, 16000, 1)), 0);
    EXPECT_EQ(outcome(TinyPng(60000, 60000, 8)), 0);
    EXPECT_EQ(outcome(TinyPng(64, 63, 8)), 1);
    // Data that does inflate to a large image still decodes.
    std::vector<uint8_t> grey(2000 * 2000 * 4, 0);
    EXPECT_EQ(outcome(EncodePngRgba(2000, 2000, false, grey)), 1);
}

TEST_F(ReaderBombs, GifScreensAndFramesPastTheirData) {
    auto gif = [](uint16_t sw, uint16_t sh, uint16_t fw, uint16_t fh) {
        std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a'};
        Put16(b, sw);
        Put16(b, sh);
        b.insert(b.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x2C});
        Put32(b, 0);
        Put16(b, fw);
        Put16(b, fh);
        // One pixel of LZW data (clear, 0, end) and the trailer.
        b.insert(b.end(), {0, 2, 2, 0x44, 0x01, 0, 0x3B});
        return b;
    };
    EXPECT_EQ(Outcome(DecodeGifFile, "screen.gif", gif(30000, 30000, 1, 1)), 0);
    EXPECT_EQ(Outcome(DecodeGifFile, "frame.gif", gif(1, 1, 30000, 30000)), 0);
    EXPECT_EQ(Outcome(DecodeGifFile, "one.gif", gif(1, 1, 1, 1)), 1);
}

TEST_F(ReaderBombs, GifFrameFarLargerThanItsScreenIsReadRowByRow) {
    // 144 million pixels of frame on a 2 x 2 screen: only the screen is ever held.
    const std::string path = Path("big.gif");
    int error = 0;
    GifFileType* g = EGifOpenFileName(path.c_str(), false, &error);
    ASSERT_NE(g, nullptr);
    GifColorType colors[2] = {{0, 0, 0}, {255, 0, 0}};
    ColorMapObject* map = GifMakeMapObject(2, colors);
    ASSERT_EQ(EGifPutScreenDesc(g, 2, 2, 1, 0, map), GIF_OK);
    ASSERT_EQ(EGifPutImageDesc(g, 0, 0, 12000, 12000, false, nullptr), GIF_OK);
    std::vector<GifByteType> line(12000, 0);
    line[1] = 1;
    for (int y = 0; y < 12000; ++y) ASSERT_EQ(EGifPutLine(g, line.data(), 12000), GIF_OK);
    ASSERT_EQ(EGifCloseFile(g, &error), GIF_OK);
    GifFreeMapObject(map);
    const int result = test::RunWithMemoryLimit(kHeadroom, [&] {
        const TDecodedImage d = DecodeGifFile(path);
        return d.Pixels.Width() == 2 && d.Pixels.Height() == 2 && d.Pixels[1][1].R == 255 && d.Pixels[1][0].R == 0 ? 1 : 2;
    });
    EXPECT_EQ(result, 1);
}

TEST_F(ReaderBombs, ProgressiveJpegLargerThanItsData) {
    // Progressive 60000 x 60000 grey: libjpeg would hold every coefficient of it at once.
    std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0};
    b.resize(b.size() + 64, 1);
    b.insert(b.end(), {0xFF, 0xC2, 0, 11, 8});
    b.insert(b.end(), {0xEA, 0x60, 0xEA, 0x60});  // 60000 x 60000
    b.insert(b.end(), {1, 1, 0x11, 0, 0xFF, 0xC4, 0, 20, 0x00, 1});
    b.resize(b.size() + 15, 0);
    b.push_back(0);
    b.insert(b.end(), {0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 0, 0, 0, 0xFF, 0xD9});
    EXPECT_EQ(Outcome(DecodeJpegFile, "bomb.jpg", b), 0);
    // The open dialog's scaled preview holds the same coefficients.
    EXPECT_EQ(Outcome([](const std::string& f) { return LoadPreview(f); }, "preview.jpg", b), 0);
}

}  // namespace
}  // namespace jx
