#include <gif_lib.h>
#include <unistd.h>

#include "fileio/save_image.h"
#include "save_test_util.h"

namespace jx {
namespace {
using test::Px;

struct Rgba {
    uint8_t r = 0, g = 0, b = 0, a = 0;
    bool operator==(const Rgba&) const = default;
};

// Draws every frame in order onto a transparent canvas, as a viewer that leaves frames in place.
std::vector<Rgba> DecodeGif(const std::string& path, int& w, int& h, int& frameCount) {
    int err = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &err);
    EXPECT_NE(gif, nullptr);
    EXPECT_EQ(DGifSlurp(gif), GIF_OK);
    w = gif->SWidth;
    h = gif->SHeight;
    frameCount = gif->ImageCount;
    std::vector<Rgba> canvas(size_t(w) * size_t(h));
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& im = gif->SavedImages[i];
        GraphicsControlBlock gcb{};
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, i, &gcb);
        const ColorMapObject* map = im.ImageDesc.ColorMap;
        EXPECT_NE(map, nullptr);
        EXPECT_GE(map->ColorCount, 2);
        EXPECT_EQ(map->ColorCount & (map->ColorCount - 1), 0);
        EXPECT_LT(gcb.TransparentColor, map->ColorCount);
        for (int y = 0; y < im.ImageDesc.Height; ++y)
            for (int x = 0; x < im.ImageDesc.Width; ++x) {
                const int idx = im.RasterBits[y * im.ImageDesc.Width + x];
                EXPECT_LT(idx, map->ColorCount);
                if (idx == gcb.TransparentColor) continue;
                const GifColorType c = map->Colors[idx];
                canvas[size_t(im.ImageDesc.Top + y) * size_t(w) + size_t(im.ImageDesc.Left + x)] = {c.Red, c.Green, c.Blue, 255};
            }
    }
    DGifCloseFile(gif, &err);
    return canvas;
}

class SaveGifTest : public test::ScratchDir {
protected:
    // Saves and compares with the working image, alpha thresholded at 128.
    int RoundTrip(bool hasAlpha) {
        TSaveRequest req;
        req.fileName = Path("out");
        req.filterIndex = sfGif;
        const TSaveResult r = SaveImage(s, req);
        EXPECT_EQ(r.path, Path("out.gif"));
        EXPECT_EQ(r.status.rfind("Write (gif): ", 0), 0u);
        int w = 0, h = 0, frames = 0;
        const auto canvas = DecodeGif(r.path, w, h, frames);
        EXPECT_EQ(w, s.ImageWidth());
        EXPECT_EQ(h, s.ImageHeight());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const TPixelRec& p = s.WorkingImage[y][x];
                const Rgba want = hasAlpha && p.A < 128 ? Rgba{} : Rgba{p.R, p.G, p.B, 255};
                const Rgba got = canvas[size_t(y * w + x)];
                if (want.a == 0)
                    EXPECT_EQ(got.a, 0) << x << "," << y;
                else
                    EXPECT_EQ(got, want) << x << "," << y;
            }
        return frames;
    }
    EngineState s;
};

std::vector<int32_t> Ramp(int32_t n, int32_t count) {
    std::vector<int32_t> v(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) v[size_t(i)] = i % n;
    return v;
}

TEST_F(SaveGifTest, FrameCountFollowsTheColours) {
    test::MakePaletteImage(s, test::DistinctColors(300), 30, 20, Ramp(300, 600), false);
    EXPECT_EQ(RoundTrip(false), 2);
    test::MakePaletteImage(s, test::DistinctColors(1000), 40, 25, Ramp(1000, 1000), false, true);
    EXPECT_EQ(RoundTrip(false), 4);
    // A single colour, opaque or fully transparent, still gives a valid colour map.
    test::MakePaletteImage(s, {Px(0, 0, 0, 0)}, 5, 4, std::vector<int32_t>(20, 0), true);
    EXPECT_EQ(RoundTrip(true), 1);
    test::MakePaletteImage(s, {Px(9, 9, 9)}, 5, 4, std::vector<int32_t>(20, 0), false);
    EXPECT_EQ(RoundTrip(false), 1);
    // Translucent colours are thresholded at 128.
    std::vector<TPixelRec> c = test::DistinctColors(200);
    c[5].A = 127, c[6].A = 128, c[7].A = 0, c[8].A = 30;
    test::MakePaletteImage(s, c, 20, 10, Ramp(200, 200), true);
    EXPECT_LE(RoundTrip(true), 2);
}

TEST_F(SaveGifTest, FramesAreCroppedAndEmptyFramesSkipped) {
    // 256 colours without alpha: the whole range fits the first frame; no empty second one.
    test::MakePaletteImage(s, test::DistinctColors(256), 16, 16, Ramp(256, 256), false);
    EXPECT_EQ(RoundTrip(false), 1);

    // 300 colours, most of them in a band of rows: the second frame covers only the pixels whose
    // colour sorts past the first 256.
    std::vector<int32_t> idx(size_t(40 * 40), 0);
    for (int i = 0; i < 300; ++i) idx[size_t(10 * 40 + i)] = i;
    test::MakePaletteImage(s, test::DistinctColors(300), 40, 40, idx, false);
    const auto frames = BuildGifFrames(s);
    ASSERT_EQ(frames.size(), 2u);
    int x0 = 40, y0 = 40, x1 = -1, y1 = -1;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            int at = 0;
            while (!SameRgba(s.Palette[size_t(at)], s.WorkingImage[y][x])) ++at;
            if (at < 256) continue;
            x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        }
    EXPECT_EQ(frames[1].left, x0);
    EXPECT_EQ(frames[1].top, y0);
    EXPECT_EQ(frames[1].width, x1 - x0 + 1);
    EXPECT_EQ(frames[1].height, y1 - y0 + 1);
    EXPECT_EQ(frames[1].colors.size(), 64u * 3);  // transparent + 44 used, padded to 64
    EXPECT_EQ(RoundTrip(false), 2);
}

TEST_F(SaveGifTest, SizeLimitIsCheckedFirstAndAMissingFolderFails) {
    test::MakePaletteImage(s, {Px(1, 1, 1)}, 65536, 1, std::vector<int32_t>(65536, 0), false);
    TSaveRequest req;
    req.fileName = Path("wide.gif");
    req.filterIndex = sfGif;
    try {
        SaveImage(s, req);
        ADD_FAILURE();
    } catch (const FileIoError& e) {
        EXPECT_NE(std::string(e.what()).find("65535"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(Path("wide.gif")));

    req.fileName = Path("missing/x.gif");  // folder does not exist
    test::MakePaletteImage(s, {Px(1, 1, 1)}, 2, 2, std::vector<int32_t>(4, 0), false);
    EXPECT_THROW(SaveImage(s, req), FileIoError);
    // Into a missing folder as PNG too, told once: the file's name and the cause, no echo.
    req.fileName = Path("missing/x.png");
    req.filterIndex = sfPng;
    try {
        SaveImage(s, req);
        ADD_FAILURE();
    } catch (const FileIoError& e) {
        const std::string m = e.what();
        EXPECT_EQ(m, "Cannot write \"" + Path("missing/x.png") + "\" as PNG: the folder does not exist.") << m;
    }
}

}  // namespace
}  // namespace jx
