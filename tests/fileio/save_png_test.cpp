#include <unistd.h>

#include <fstream>

#include "fileio/png_probe.h"
#include "fileio/save_image.h"
#include "fileio/tool_bitmaps.h"
#include "save_test_util.h"

namespace jx {
namespace {
using test::Px;

class SavePngTest : public test::ScratchDir {
protected:
    void SetUp() override {
        test::ScratchDir::SetUp();
        std::filesystem::create_directory(dir_ / "session");
        std::vector<int32_t> idx(size_t(9 * 7));
        for (size_t i = 0; i < idx.size(); ++i) idx[i] = int32_t(i * 5 % 6);
        test::MakePaletteImage(s, {Px(255, 0, 0), Px(0, 128, 0, 128), Px(1, 2, 3, 0), Px(9, 9, 9), Px(200, 1, 77),
                                   Px(0, 0, 255, 254)},
                               9, 7, idx, true);
        req.png.sessionFolder = (dir_ / "session").string();
        req.png.options.level = PngLevelFast;
    }
    EngineState s;
    TSaveRequest req;
};

TEST_F(SavePngTest, PngThroughTheChainKeepsEveryPixel) {
    req.fileName = Path("a.bmp");
    req.filterIndex = sfPng;
    const TSaveResult r = SaveImage(s, req);
    EXPECT_EQ(r.path, Path("a.png"));
    EXPECT_EQ(r.status.rfind("Write (png): ", 0), 0u) << r.status;
    const auto png = DecodePngFileRgba(r.path);
    ASSERT_TRUE(png.has_value());
    std::vector<TPixelRec> got;
    for (size_t i = 0; i < png->rgba.size(); i += 4)
        got.push_back(Px(png->rgba[i], png->rgba[i + 1], png->rgba[i + 2], png->rgba[i + 3]));
    test::ExpectWorkingImage(s, got);
}

TEST_F(SavePngTest, LosslessWebpKeepsEveryPixel) {
    if (access("/usr/bin/cwebp", X_OK) != 0 || access("/usr/bin/dwebp", X_OK) != 0) GTEST_SKIP() << "no cwebp/dwebp";
    // Start-up puts the tools into the session folder.
    std::filesystem::create_symlink("/usr/bin/cwebp", dir_ / "session" / "cwebp");
    std::filesystem::create_symlink("/usr/bin/dwebp", dir_ / "session" / "dwebp");
    req.fileName = Path("w");
    req.filterIndex = sfWebp;
    const TSaveResult r = SaveImage(s, req);
    EXPECT_EQ(r.path, Path("w.webp"));
    EXPECT_EQ(r.status, "Write (webp): " + std::to_string(std::filesystem::file_size(r.path)) + " bytes");
    TWEBPBitmap back(req.png.sessionFolder);
    std::ifstream in(r.path, std::ios::binary);
    back.LoadFromStream(in);
    test::ExpectWorkingImage(s, test::BitmapPixels(back));
}

TEST_F(SavePngTest, WebpSizeLimitComesBeforeAnyTool) {
    test::MakePaletteImage(s, {Px(1, 1, 1)}, 16384, 1, std::vector<int32_t>(16384, 0), false);
    req.fileName = Path("big.webp");
    req.filterIndex = sfWebp;
    EXPECT_THROW(SaveImage(s, req), FileIoError);
    EXPECT_TRUE(std::filesystem::is_empty(dir_ / "session"));
    EXPECT_FALSE(std::filesystem::exists(Path("big.webp")));
}

}  // namespace
}  // namespace jx
