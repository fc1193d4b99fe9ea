#include <cmath>
#include <filesystem>

#include "fileio/errors.h"
#include "fileio/file_bytes.h"
#include "fileio/lossy_preview.h"
#include "fileio/open_decoders.h"
#include "fileio/png_probe.h"
#include "fileio/tool_commands.h"
#include "save_test_util.h"

namespace jx {
namespace {

bool HaveTools() {
    return std::filesystem::exists("/usr/bin/cjpeg") && std::filesystem::exists("/usr/bin/cwebp") &&
           std::filesystem::exists("/usr/bin/dwebp");
}

TEST(LossyPreviewTest, MatteBlendDividesBy255AndChromaFollowsQuality) {
    // 200 * 128/255 + 255 * 127/255 = 227.39 and 255 * 1/255 = 1; a divisor of 256 gives 228 and 2.
    EXPECT_EQ(MatteBlend(200, 128, 255), 227);
    EXPECT_EQ(MatteBlend(0, 254, 255), 1);
    EXPECT_EQ(MatteBlend(200, 0, 17), 17);
    TLossySettings s;
    FollowJpegQuality(s, 60);
    EXPECT_EQ(s.JpegQuality, 60);
    EXPECT_EQ(s.ChromaQuality, 30);
    // Every table offered can be written out.
    for (uint8_t t = 0; t < 6; ++t) {
        if (QuantTableAvailable(t) && NeedsQuantTableFile(t)) {
            EXPECT_NO_THROW(QuantTableFileText(t)) << int(t);
        }
    }
}

class LossyRenderTest : public test::ScratchDir {
protected:
    void SetUp() override {
        test::ScratchDir::SetUp();
        if (!HaveTools()) GTEST_SKIP() << "cjpeg/cwebp/dwebp missing";
        TPixelImage img(64, 48);
        for (int32_t y = 0; y < 48; ++y)
            for (int32_t x = 0; x < 64; ++x) {
                TPixelRec& p = img[y][x];
                p.R = uint8_t(x * 4);
                p.G = uint8_t(y * 5);
                p.B = uint8_t(128 + (x + y) % 32);
                p.A = 255;
            }
        state_.SetSourceImage(std::move(img));
        job_.SessionFolder = dir_.string();
        // The window places the tools in the session folder; so does this test.
        for (const char* tool : {"cjpeg", "cwebp", "dwebp"})
            std::filesystem::create_symlink(std::string("/usr/bin/") + tool, dir_ / tool);
    }

    // Mean absolute difference of R, G, B between the decoded file and the source.
    double MeanError(const TDecodedImage& d) const {
        double sum = 0;
        for (int32_t y = 0; y < 48; ++y)
            for (int32_t x = 0; x < 64; ++x) {
                const TPixelRec& a = d.Pixels[y][x];
                const TPixelRec& b = state_.SourceImage[y][x];
                sum += std::abs(a.R - b.R) + std::abs(a.G - b.G) + std::abs(a.B - b.B);
            }
        return sum / (64.0 * 48 * 3);
    }

    EngineState state_;
    TLossyJob job_;
};

// Render, then Save: the destination holds the test file, which decodes close to the source
// (closer at a higher quality) and exactly to what the preview showed.
TEST_F(LossyRenderTest, JpegAndWebpSaveReadBackWithinTheQualitysError) {
    for (bool webp : {false, true}) {
        SCOPED_TRACE(webp ? "webp" : "jpeg");
        job_.Webp = webp;
        job_.TestFile = LossyTestFile(job_.SessionFolder, webp);
        double errors[2];
        int i = 0;
        for (int q : {20, 95}) {
            TLossySettings s;
            FollowJpegQuality(s, q);
            s.WebpQuality = q;
            const int32_t size = RenderLossy(state_, s, job_);
            EXPECT_EQ(size, int32_t(std::filesystem::file_size(job_.TestFile)));
            const std::string dest = Path(webp ? "out.webp" : "out.jpg");
            SaveLossyTestFile(job_.TestFile, dest);
            const TDecodedImage d = webp ? DecodeWebpFile(dest) : DecodeJpegFile(dest);
            ASSERT_EQ(d.Pixels.Width(), 64);
            errors[i++] = MeanError(d);
            for (int32_t y = 0; y < 48; y += 7)
                for (int32_t x = 0; x < 64; x += 5) {
                    EXPECT_EQ(d.Pixels[y][x].R, state_.WorkingImage[y][x].R);
                    EXPECT_EQ(state_.WorkingImage[y][x].A, 255);
                }
        }
        EXPECT_LT(errors[1], 2.5);
        EXPECT_LT(errors[0], 12.0);
        EXPECT_LT(errors[1], errors[0]);
    }
}

TEST_F(LossyRenderTest, GreyImagesEncodeAsGreyAndTranslucentOnesOverTheMatte) {
    job_.TestFile = LossyTestFile(job_.SessionFolder, false);
    state_.IsGrey = true;
    RenderLossy(state_, TLossySettings{}, job_);
    // One component in the frame header.
    const std::vector<uint8_t> f = ReadFileBytes(job_.TestFile);
    bool oneComponent = false;
    for (size_t i = 2; i + 9 < f.size(); ++i)
        if (f[i] == 0xFF && (f[i + 1] == 0xC0 || f[i + 1] == 0xC2)) {
            oneComponent = f[i + 9] == 1;
            break;
        }
    EXPECT_TRUE(oneComponent);

    state_.IsGrey = false;
    state_.HasAlpha = true;
    for (int32_t y = 0; y < 48; ++y)
        for (int32_t x = 0; x < 64; ++x) {
            TPixelRec& p = state_.SourceImage[y][x];
            p.R = p.G = p.B = 0;
            p.A = 0;
        }
    state_.BackgroundColor = 0x0000FF;  // red matte
    TLossySettings s;
    s.JpegQuality = 95;
    RenderLossy(state_, s, job_);
    EXPECT_NEAR(state_.WorkingImage[10][10].R, 255, 4);
    EXPECT_NEAR(state_.WorkingImage[10][10].G, 0, 4);
}

TEST_F(LossyRenderTest, FailuresLeaveNoTestFileAndSaveRefusesWithoutOne) {
    job_.TestFile = LossyTestFile(job_.SessionFolder, false);
    RenderLossy(state_, TLossySettings{}, job_);
    ASSERT_TRUE(std::filesystem::exists(job_.TestFile));
    job_.SessionFolder = Path("missing-folder");  // the encoder is looked up there
    EXPECT_ANY_THROW(RenderLossy(state_, TLossySettings{}, job_));
    EXPECT_FALSE(std::filesystem::exists(job_.TestFile));
    test::WriteText(Path("keep.jpg"), "old");
    EXPECT_THROW(SaveLossyTestFile(job_.TestFile, Path("keep.jpg")), FileIoError);
    EXPECT_EQ(test::FileBytes(Path("keep.jpg")).size(), 3u);
}

}  // namespace
}  // namespace jx
