#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_tools.h"
#include "fileio/file_bytes.h"
#include "fileio/png_probe.h"
#include "fileio/tool_bitmaps.h"

namespace fs = std::filesystem;
using namespace jx;
using jx::test::TempDir;
using jx::test::WriteScript;

namespace {

// A small picture with some structure, at 24 or 32 bits (alpha varying, never 0).
TBitmap Picture(TPixelFormat format, int w = 24, int h = 17) {
    TBitmap b;
    b.SetPixelFormat(format);
    b.SetSize(w, h);
    const int bpp = format == TPixelFormat::pf32bit ? 4 : 3;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            row[x * bpp] = static_cast<uint8_t>(x * 10);
            row[x * bpp + 1] = static_cast<uint8_t>(y * 15);
            row[x * bpp + 2] = static_cast<uint8_t>((x + y) % 4 * 60);
            if (bpp == 4) row[x * bpp + 3] = static_cast<uint8_t>(40 + x * 8);
        }
    }
    return b;
}

template <class T>
std::string Save(T& bitmap) {
    std::ostringstream out;
    bitmap.SaveToStream(out);
    return out.str();
}

template <class T>
void Load(T& bitmap, const std::string& bytes) {
    std::istringstream in(bytes);
    bitmap.LoadFromStream(in);
}

using jx::test::MessageOf;

class ToolBitmaps : public ::testing::Test {
protected:
    // Only the tools' own output may appear; nothing of ours is left behind.
    void TearDown() override { EXPECT_TRUE(fs::is_empty(session.path)); }
    TempDir session;
};

}  // namespace

TEST_F(ToolBitmaps, WebpRoundTripsThroughTheTools) {
    TWEBPBitmap webp(session.path.string());
    webp.Encoder = "cwebp";
    webp.Decoder = "dwebp";
    webp.Assign(Picture(TPixelFormat::pf24bit));
    const std::string file = Save(webp);
    ASSERT_GT(file.size(), 12u);
    EXPECT_EQ(file.substr(8, 4), "WEBP");
    EXPECT_EQ(webp.EncodedSize, static_cast<int32_t>(file.size()));
    EXPECT_EQ(webp.PixelFormat(), TPixelFormat::pf24bit);

    // With alpha, losslessly: the pixels come back exactly, at 32 bits.
    webp.Lossless = 1;
    TBitmap original = Picture(TPixelFormat::pf32bit);
    webp.Assign(original);
    Save(webp);
    ASSERT_EQ(webp.PixelFormat(), TPixelFormat::pf32bit);
    for (int y = 0; y < original.Height(); ++y)
        for (int x = 0; x < original.Width(); ++x) ASSERT_EQ(webp.Pixel(x, y), original.Pixel(x, y)) << x << "," << y;
}

TEST_F(ToolBitmaps, WebpErrors) {
    const std::string s = session.path.string();
    TWEBPBitmap webp(s);
    webp.Decoder = "";
    EXPECT_EQ(MessageOf<EWEBPError>([&] { Load(webp, "RIFF"); }), "Decoder is not specified");
    webp.Encoder = "";
    webp.Assign(Picture(TPixelFormat::pf24bit));
    EXPECT_EQ(MessageOf<EWEBPError>([&] { Save(webp); }), "Encoder is not specified");

    webp.Decoder = "dwebp";
    EXPECT_EQ(MessageOf<EWEBPError>([&] { Load(webp, "not a webp file"); }).rfind("Decode error: dwebp ended with exit code", 0),
              0u);
    webp.Decoder = "/nonexistent/dwebp";
    EXPECT_EQ(MessageOf<EWEBPError>([&] { Load(webp, "RIFF"); }), "Decode error: dwebp could not be started: No such file or directory");

    // A tool that writes a truncated file: its bytes are still handed on, but the reload fails.
    TempDir tools;
    WriteScript(tools / "badwebp", "printf 'RIFF' > \"$4\"");
    webp.Encoder = tools / "badwebp";
    std::ostringstream out;
    EXPECT_EQ(MessageOf<EWEBPError>([&] { webp.SaveToStream(out); }).rfind("Decode error: ", 0), 0u);
    EXPECT_EQ(out.str(), "RIFF");
    EXPECT_EQ(webp.EncodedSize, 4);
    WriteScript(tools / "silent", "exit 0");
    webp.Encoder = tools / "silent";
    EXPECT_EQ(MessageOf<EWEBPError>([&] { Save(webp); }), "Encode error: no WebP file was written");
    WriteScript(tools / "failing", "exit 2");
    webp.Encoder = tools / "failing";
    EXPECT_EQ(MessageOf<EWEBPError>([&] { Save(webp); }), "Encode error: failing ended with exit code 2");

    CancelFlag cancel;
    cancel.Request();
    webp.Cancel = &cancel;
    webp.Encoder = "cwebp";
    EXPECT_EQ(MessageOf<EWEBPError>([&] { Save(webp); }).rfind("Encode error", 0), 0u);
    EXPECT_EQ(webp.Width(), 24);  // a failed save leaves the pixels as they were
}

// A decoder that hangs, or dies, is reported by name and how it failed; nothing is left behind.
TEST_F(ToolBitmaps, HungOrKilledDecoderFailsTheLoadCleanly) {
    TempDir tools;
    WriteScript(tools / "dwebp", "exec sleep 30");
    TWEBPBitmap webp(session.path.string());
    webp.Decoder = tools / "dwebp";
    webp.DecodeTimeLimitMs = 300;
    EXPECT_EQ(MessageOf<EWEBPError>([&] { Load(webp, "RIFF"); }), "Decode error: dwebp did not finish in 300 ms");
    EXPECT_TRUE(webp.Empty());

    WriteScript(tools / "dwebp", "kill -9 $$");
    EXPECT_EQ(MessageOf<EWEBPError>([&] { Load(webp, "RIFF"); }), "Decode error: dwebp was killed by signal 9");

    CancelFlag cancel;
    cancel.Request();
    webp.Cancel = &cancel;
    EXPECT_EQ(MessageOf<EWEBPError>([&] { Load(webp, "RIFF"); }), "Decode error: dwebp was canceled");
}

// Without a session folder the exchange files live in a private folder of their own, never in the
// shared temporary folder itself, and that folder goes afterwards.
TEST_F(ToolBitmaps, ExchangeFilesStayOutOfTheSharedTemporaryFolder) {
    TempDir shared, tools;
    const std::string seen = tools / "seen";
    WriteScript(tools / "dwebp", "dirname \"$1\" > '" + seen + "'; stat -c %a \"$(dirname \"$1\")\" >> '" + seen + "'");
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string saved = oldTmp ? oldTmp : "";
    ::setenv("TMPDIR", shared.path.c_str(), 1);
    TWEBPBitmap webp;
    webp.Decoder = tools / "dwebp";
    MessageOf<EWEBPError>([&] { Load(webp, "RIFF"); });
    if (oldTmp) ::setenv("TMPDIR", saved.c_str(), 1); else ::unsetenv("TMPDIR");

    std::ifstream in(seen);
    std::string folder, mode;
    std::getline(in, folder);
    std::getline(in, mode);
    EXPECT_EQ(fs::path(folder).parent_path(), shared.path);
    EXPECT_EQ(mode, "700");
    EXPECT_TRUE(fs::is_empty(shared.path));
}

// A link planted at a scratch name is replaced by the new file, never written through.
TEST_F(ToolBitmaps, ScratchWritesNeverFollowAPlantedLink) {
    TempDir elsewhere;
    const std::string victim = elsewhere / "victim";
    std::ofstream(victim) << "precious";
    const std::string scratch = session / "0.png";
    fs::create_symlink(victim, scratch);
    WriteFileBytes(scratch, std::vector<uint8_t>{1, 2, 3});
    EXPECT_FALSE(fs::is_symlink(scratch));
    EXPECT_EQ(fs::file_size(scratch), 3u);
    EXPECT_EQ((fs::status(scratch).permissions() & fs::perms::all), fs::perms::owner_read | fs::perms::owner_write);
    std::ifstream in(victim);
    std::string kept;
    in >> kept;
    EXPECT_EQ(kept, "precious");
    fs::remove(scratch);
}

TEST_F(ToolBitmaps, JpegSettingsAllGiveDecodableFiles) {
    struct Case {
        const char* what;
        std::function<void(TJPEGBitmap&)> set;
    };
    const std::vector<Case> cases{
        {"defaults", [](TJPEGBitmap&) {}},
        {"rgb", [](TJPEGBitmap& j) { j.RGB = 1, j.ChromaQuality = 50; }},
        {"grayscale", [](TJPEGBitmap& j) { j.Grayscale = 1; }},
        {"arithmetic baseline", [](TJPEGBitmap& j) { j.Arithmetic = 1, j.Progressive = 0, j.Trellis = 0; }},
        {"standard tables, 4:2:2, smoothing", [](TJPEGBitmap& j) { j.QuantTable = 0, j.Subsampling = 1, j.Smooth = 20; }},
        {"flat tables, chroma quality", [](TJPEGBitmap& j) { j.QuantTable = 1, j.ChromaQuality = 30, j.Quality = 95; }},
    };
    for (const auto& c : cases) {
        TJPEGBitmap jpeg(session.path.string());
        jpeg.Encoder = "cjpeg";
        c.set(jpeg);
        jpeg.Assign(Picture(TPixelFormat::pf32bit));
        std::string file = Save(jpeg);
        EXPECT_EQ(jpeg.EncodedSize, static_cast<int32_t>(file.size())) << c.what;
        EXPECT_EQ(jpeg.PixelFormat(), TPixelFormat::pf24bit) << c.what;
        TJPEGBitmap again;
        Load(again, file);
        EXPECT_EQ(again.Width(), 24) << c.what;
    }
}

TEST_F(ToolBitmaps, JpegDecodesTheLibraryWayAndReportsErrors) {
    TJPEGBitmap jpeg(session.path.string());
    jpeg.Encoder = "cjpeg";
    jpeg.Quality = 100;
    jpeg.Subsampling = 0;
    TBitmap grey;
    grey.SetPixelFormat(TPixelFormat::pf24bit);
    grey.SetSize(16, 16);
    std::fill(grey.Bits(), grey.Bits() + grey.Stride() * 16, 128);
    jpeg.Assign(grey);
    std::string file = Save(jpeg);
    // A flat grey survives the lossy trip within a step or two.
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) EXPECT_NEAR(jpeg.Pixel(x, y).G, 128, 2);

    for (const std::string& bad : {std::string("not a jpeg"), file.substr(0, 2), std::string()})
        EXPECT_THROW(Load(jpeg, bad), EJPEGError);
    EXPECT_EQ(jpeg.Width(), 16);  // a failed load leaves the picture alone

    jpeg.Encoder = "";
    EXPECT_EQ(MessageOf<EJPEGError>([&] { Save(jpeg); }), "Encoder is not specified");
    jpeg.Encoder = "/nonexistent/cjpeg";
    EXPECT_EQ(MessageOf<EJPEGError>([&] { Save(jpeg); }).rfind("Encode error: cjpeg could not be started", 0), 0u);
}
